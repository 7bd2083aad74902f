#!/usr/bin/env bash
# Checks the Debian package. First the file itself: it builds
# (scripts/package.sh), its control fields, exactly the expected files with
# the right owners and modes, the changelog's version, the settings path
# compiled into the program and the INDI driver, the simulator's and the
# driver's manual pages against their options, the INDI driver list, the
# desktop entry and the AppStream metadata, and lintian (no error, and no
# warning that the package's own overrides do not accept). Then on this
# machine: it installs with apt-get, the settings folder is there for the
# dialout group, the installed program shows its window under Xvfb, a removal
# keeps the settings, and a purge leaves nothing behind.
#
# The closing line is "package: N passed, N failed"; the exit code is 1 when
# a check failed.
#
# The user's own install is never destroyed: the machine part installs and
# purges the package tavro-control-tool, which removes the settings folder
# /var/lib/tavro-control-tool with the settings in it. When the package is on
# this machine already (installed, or removed with its settings kept), or
# that folder or one of the package's files exists without it, the machine
# part is refused with a message that says how to go on, and counts as one
# failed check. Under CI (CI=true) it goes ahead: a CI machine holds no
# user's settings, and the run leaves the package purged.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

package=tavro-control-tool
settings_dir=/var/lib/tavro-control-tool

# What the package ships, and nothing else.
expected_files=(
    /usr/bin/tavro-control-tool
    /usr/bin/tavro-board-sim
    /usr/bin/indi_tavro_telescope
    /usr/share/indi/indi_tavro.xml
    /usr/share/applications/org.tavro.ControlTool.desktop
    /usr/share/metainfo/org.tavro.ControlTool.metainfo.xml
    /usr/share/tavro-control-tool/sky-objects.tsv
    /usr/share/icons/hicolor/16x16/apps/org.tavro.ControlTool.png
    /usr/share/icons/hicolor/32x32/apps/org.tavro.ControlTool.png
    /usr/share/icons/hicolor/48x48/apps/org.tavro.ControlTool.png
    /usr/share/icons/hicolor/64x64/apps/org.tavro.ControlTool.png
    /usr/share/icons/hicolor/scalable/apps/org.tavro.ControlTool.svg
    /usr/share/man/man1/tavro-control-tool.1.gz
    /usr/share/man/man1/tavro-board-sim.1.gz
    /usr/share/man/man1/indi_tavro_telescope.1.gz
    /usr/share/doc/tavro-control-tool/copyright
    /usr/share/doc/tavro-control-tool/changelog.Debian.gz
    /usr/share/lintian/overrides/tavro-control-tool
)
executables=(/usr/bin/tavro-control-tool /usr/bin/tavro-board-sim /usr/bin/indi_tavro_telescope)

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "ok   - $1"; }
fail() { failed=$((failed + 1)); echo "FAIL - $1" >&2; }
finish() {
    echo "package: $passed passed, $failed failed"
    exit $((failed > 0))
}
# in_list WORD LIST...: whether WORD is one of LIST.
in_list() {
    local word=$1 item
    shift
    for item in "$@"; do
        [[ $item == "$word" ]] && return 0
    done
    return 1
}

sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then sudo_cmd=(sudo); fi
apt_get() {
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=120 "$@"
}
package_status() {
    dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || echo not-known
}

work=$(mktemp -d /tmp/tavro-package-check.XXXXXX)
installed_here=0
cleanup() {
    # A check that stopped half-way leaves no package of its own behind.
    if ((installed_here)) && [[ $(package_status) != not-installed && $(package_status) != not-known ]]; then
        apt_get purge -y -qq "$package" >/dev/null 2>&1 || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# ---- the package file ----

echo "== building the package"
if ! deb=$(scripts/package.sh | tail -n 1) || [[ ! -f $deb ]]; then
    fail "the package builds (scripts/package.sh failed)"
    finish
fi
pass "the package builds: $deb"

field() { dpkg-deb -f "$deb" "$1"; }
project_version=$(sed -nE 's/^project\(tavro_control_tool VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)
version=$(field Version)
depends=$(field Depends)
problems=()
[[ $(field Package) == "$package" ]] || problems+=("Package is '$(field Package)'")
[[ -n $project_version && $version =~ ^${project_version//./\\.}-[0-9]+$ ]] ||
    problems+=("Version '$version' is not the project's $project_version with a package revision")
[[ $(field Architecture) == "$(dpkg --print-architecture)" ]] ||
    problems+=("Architecture is '$(field Architecture)'")
# Computed from the binaries, plus the platform plugins no binary names.
for dependency in libc6 libqt6widgets6 libqt6serialport6 libsdl2-2.0-0 libindidriver1 qt6-qpa-plugins; do
    [[ ", $depends," == *", $dependency "* || ", $depends," == *", $dependency,"* ]] ||
        problems+=("Depends lacks $dependency")
done
# The INDI driver needs indiserver, the window does not: recommended.
[[ ", $(field Recommends)," == *", indi-bin,"* ]] || problems+=("Recommends lacks indi-bin")
if ((${#problems[@]})); then fail "control fields: ${problems[*]}"; else pass "control fields: $package $version, Depends: $depends"; fi

# Every entry as "mode owner path"; folders end in a slash.
dpkg-deb -c "$deb" | awk '{ path = $6; sub(/^\./, "", path); print $1, $2, path }' >"$work/contents"
entries=()
problems=()
while read -r mode owner path; do
    entries+=("$path")
    if [[ $path == */ ]]; then
        # Only the folders that lead to a shipped file: the settings folder
        # is made by postinst, not shipped.
        leads=0
        for file in "${expected_files[@]}"; do
            if [[ $file == "$path"* ]]; then leads=1; break; fi
        done
        ((leads)) || problems+=("unexpected folder $path")
        [[ $mode == drwxr-xr-x ]] || problems+=("$path has mode $mode")
    else
        in_list "$path" "${expected_files[@]}" || problems+=("unexpected file $path")
        want=-rw-r--r--
        if in_list "$path" "${executables[@]}"; then want=-rwxr-xr-x; fi
        [[ $mode == "$want" ]] || problems+=("$path has mode $mode, not $want")
    fi
    [[ $owner == root/root ]] || problems+=("$path is owned by $owner")
done <"$work/contents"
for path in "${expected_files[@]}"; do
    in_list "$path" "${entries[@]}" || problems+=("missing $path")
done
if ((${#problems[@]})); then
    fail "contents: $(printf '%s; ' "${problems[@]}")"
else
    pass "contents: the ${#expected_files[@]} files, owned by root, with their modes"
fi

files="$work/files"
dpkg-deb -x "$deb" "$files"

changelog_version=$(gzip -dc "$files/usr/share/doc/$package/changelog.Debian.gz" |
                    sed -nE "1s/^$package \(([^)]*)\).*/\1/p")
if [[ $changelog_version == "$version" ]]; then
    pass "the changelog's latest entry is version $version"
else
    fail "the changelog's latest entry is version '$changelog_version', the package's $version"
fi

if grep -aq "$settings_dir/options.ini" "$files/usr/bin/tavro-control-tool" &&
   grep -aq "$settings_dir/options.ini" "$files/usr/bin/indi_tavro_telescope"; then
    pass "the program and the INDI driver read their settings from $settings_dir/options.ini"
else
    fail "the packaged program or INDI driver does not use $settings_dir/options.ini"
fi

# Every option that --help lists has its paragraph in the manual page (a
# tag at the left of the page's text), and no other.
help_options=$("$files/usr/bin/tavro-board-sim" --help | grep -oE -- '^ +--[a-z][a-z-]*' |
               tr -d ' ' | sort -u)
man_options=$(MANWIDTH=200 man -l "$files/usr/share/man/man1/tavro-board-sim.1.gz" 2>/dev/null |
              col -b | grep -oE -- '^ {7}--[a-z][a-z-]*' | tr -d ' ' | sort -u)
if [[ -n $help_options && $help_options == "$man_options" ]]; then
    pass "tavro-board-sim(1) has the options of --help: $(echo $help_options)"
else
    fail "tavro-board-sim(1) options differ from --help: $(diff <(echo "$help_options") <(echo "$man_options") | grep '^[<>]' | tr '\n' ' ')"
fi

# The INDI driver takes the options of INDI's driver framework (it prints
# them for an option it does not know): its manual page has each of them,
# and no other.
# (It ends with status 1 after printing them.)
help_options=$({ "$files/usr/bin/indi_tavro_telescope" --help 2>&1 || true; } |
               grep -oE -- '^ +-[a-z]+' | tr -d ' ' | sort -u || true)
man_options=$(MANWIDTH=200 man -l "$files/usr/share/man/man1/indi_tavro_telescope.1.gz" 2>/dev/null |
              col -b | sed -n '/^OPTIONS/,/^[A-Z]/p' | grep -oE -- '^ {7}-[a-z]+' | tr -d ' ' | sort -u || true)
if [[ -n $help_options && $help_options == "$man_options" ]]; then
    pass "indi_tavro_telescope(1) has the driver's options: $(echo $help_options)"
else
    fail "indi_tavro_telescope(1) options differ from the driver's: $(diff <(echo "$help_options") <(echo "$man_options") | grep '^[<>]' | tr '\n' ' ')"
fi

# KStars/Ekos list the driver from its driver list: device "Tavro Mount"
# among the telescopes, the packaged program, the package's version.
driver_list="$files/usr/share/indi/indi_tavro.xml"
problems=()
grep -q '<devGroup group="Telescopes">' "$driver_list" || problems+=("no Telescopes group")
grep -q '<device label="Tavro Mount"' "$driver_list" || problems+=("no device Tavro Mount")
list_exec=$(sed -nE 's|.*<driver name="Tavro Mount">([^<]+)</driver>.*|\1|p' "$driver_list")
[[ -n $list_exec && -x $files/usr/bin/$list_exec ]] || problems+=("driver '$list_exec' is not a packaged program")
grep -q "<version>$project_version</version>" "$driver_list" || problems+=("version is not $project_version")
if ((${#problems[@]})); then fail "INDI driver list: ${problems[*]}"; else pass "INDI driver list names Tavro Mount, $list_exec, version $project_version"; fi

desktop="$files/usr/share/applications/org.tavro.ControlTool.desktop"
problems=()
out=$(desktop-file-validate "$desktop" 2>&1) || problems+=("desktop-file-validate: $out")
if [[ -n $out ]]; then echo "$out"; fi
icon=$(sed -n 's/^Icon=//p' "$desktop")
[[ $icon == "$(basename "$desktop" .desktop)" ]] || problems+=("Icon=$icon is not the entry's id")
for size in 16x16 32x32 48x48 64x64; do
    [[ -f $files/usr/share/icons/hicolor/$size/apps/$icon.png ]] || problems+=("no $size icon named $icon")
done
exec_program=$(sed -nE 's/^Exec=([^ ]+).*/\1/p' "$desktop")
[[ -x $files/usr/bin/$exec_program ]] || problems+=("Exec=$exec_program is not a packaged program")
if ((${#problems[@]})); then fail "desktop entry: ${problems[*]}"; else pass "desktop entry valid, icon $icon at every size"; fi

metainfo="$files/usr/share/metainfo/org.tavro.ControlTool.metainfo.xml"
if out=$(appstreamcli validate --no-net "$metainfo" 2>&1) &&
   grep -q "<launchable type=\"desktop-id\">$(basename "$desktop")</launchable>" "$metainfo"; then
    pass "AppStream metadata valid, launching $(basename "$desktop")"
else
    fail "AppStream metadata: $out"
fi

echo "== lintian"
if out=$(lintian --fail-on error,warning "$deb" 2>&1); then
    echo "$out" | grep -v 'running with root privileges' || true
    pass "lintian: no error, no warning beyond the package's overrides"
else
    echo "$out" >&2
    fail "lintian reports errors or warnings"
fi

# ---- on this machine ----

status=$(package_status)
present=()
if [[ -e $settings_dir ]]; then present+=("$settings_dir"); fi
for path in "${expected_files[@]}"; do
    if [[ -e $path ]]; then present+=("$path"); fi
done
if [[ $status != not-installed && $status != not-known ]] || ((${#present[@]})); then
    found="package $package: $status; present: ${present[0]:-none}"
    if ((${#present[@]} > 1)); then found+=" and $((${#present[@]} - 1)) more of its paths"; fi
    if [[ ${CI:-} == true ]]; then
        echo "== CI: purging what is on this machine ($found)"
        if [[ $status != not-installed && $status != not-known ]]; then
            apt_get purge -y -qq "$package" >/dev/null
        fi
        "${sudo_cmd[@]}" rm -rf "$settings_dir"
    else
        fail "install check refused: this machine has the package or its files already ($found). The check would replace them and purge the package, removing the settings in $settings_dir. Keep a copy of what you need, purge the package ('sudo apt-get purge $package') or remove its files that are left, and run this check again."
        finish
    fi
fi

# apt reads the file as its own user: a copy in a folder it may read.
chmod 755 "$work"
cp "$deb" "$work/"
local_deb="$work/$(basename "$deb")"
chmod 644 "$local_deb"

# The package's folders that the machine does not have yet, to be gone again.
new_dirs=()
for path in "${entries[@]}"; do
    if [[ $path == */ && ! -d $path ]]; then new_dirs+=("${path%/}"); fi
done

echo "== installing"
installed_here=1
if apt_get install -y -qq "$local_deb" >"$work/install.log" 2>&1 &&
   [[ $(dpkg-query -W -f='${Status} ${Version}' "$package") == "install ok installed $version" ]]; then
    pass "apt-get install: $package $version installed"
else
    cat "$work/install.log" >&2
    fail "apt-get install of $local_deb"
    finish
fi

missing=()
for path in "${expected_files[@]}"; do
    [[ -f $path ]] || missing+=("$path")
done
settings_state=$(stat -c '%U:%G %a' "$settings_dir" 2>/dev/null || echo missing)
if [[ $settings_state == "root:dialout 2775" ]] && ((${#missing[@]} == 0)); then
    pass "installed files in place; settings folder $settings_dir is root:dialout 2775"
else
    fail "after installing: settings folder is '$settings_state' (want root:dialout 2775); missing: ${missing[*]:-none}"
fi

# The window's title is the dialog's caption.
caption=$(sed -nE 's/.*kControlDlgCaption = "([^"]*)".*/\1/p' ui/window/control_dlg_template.h)
window_name="^$(sed 's/[][\.*^$]/\\&/g' <<<"$caption")\$"
show_window() {
    local pid wid
    /usr/bin/tavro-control-tool --planetarium off >"$1" 2>&1 &
    pid=$!
    wid=$(timeout 30 xdotool search --sync --onlyvisible --name "$2" | head -n 1) || true
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    [[ -n $wid ]]
}
echo "== starting the installed program under Xvfb"
if QT_QPA_PLATFORM=xcb timeout 120 xvfb-run -a -s "-screen 0 1024x768x24" \
       bash -c "$(declare -f show_window); show_window \"\$@\"" _ "$work/program.log" "$window_name"; then
    pass "/usr/bin/tavro-control-tool shows its window '$caption'"
else
    cat "$work/program.log" >&2 || true
    fail "/usr/bin/tavro-control-tool showed no window named '$caption' within 30 s"
fi

# A removal keeps the settings; only a purge takes them.
printf '[Options]\nConnection=3\n' | "${sudo_cmd[@]}" tee "$settings_dir/options.ini" >/dev/null
apt_get remove -y -qq "$package" >"$work/remove.log" 2>&1 || cat "$work/remove.log" >&2
left=()
for path in "${expected_files[@]}"; do
    [[ -e $path ]] && left+=("$path")
done
status=$(package_status)
if [[ $status == config-files && -f $settings_dir/options.ini ]] && ((${#left[@]} == 0)); then
    pass "apt-get remove: the package's files gone, the settings kept"
else
    fail "apt-get remove: package '$status', left behind: ${left[*]:-nothing}, settings $(ls -A "$settings_dir" 2>&1 | tr '\n' ' ')"
fi

apt_get purge -y -qq "$package" >"$work/purge.log" 2>&1 || cat "$work/purge.log" >&2
left=()
for path in "${expected_files[@]}" "${new_dirs[@]}" "$settings_dir"; do
    [[ -e $path ]] && left+=("$path")
done
status=$(package_status)
if [[ $status == not-installed || $status == not-known ]] && ((${#left[@]} == 0)); then
    pass "apt-get purge: nothing left behind (files, new folders, $settings_dir)"
else
    fail "apt-get purge: package '$status', left behind: ${left[*]:-nothing}"
fi

finish
