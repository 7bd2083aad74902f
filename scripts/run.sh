#!/usr/bin/env bash
# Tries the program against the board simulator, on a fresh Debian 12
# machine too: installs what is missing, builds a tree of its own (build-run)
# whose program keeps its settings in build-run/options.ini (never the
# machine-wide settings file), starts the simulator on a link of its own,
# maps COM1 to that link with connect-on-start on, and starts the program.
# The simulator prints every command it receives and is stopped when the
# program exits.
#
# Without a display the program runs under Xvfb for a moment instead and a
# screenshot of its window is saved as build-run/screenshot.png.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/install-deps.sh

build="$root/build-run"
settings="$build/options.ini"
link="$build/board"
window_name='^Tavro Control Tool 0\.53( .*)?$'

echo "== building in $build"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DTAVRO_SETTINGS_FILE="$settings" >/dev/null
cmake --build "$build" -j "$(nproc)" --target tavro-control-tool tavro-board-sim tavro-screenshot

# Sets COM1 to the simulator's link and connect-on-start on, keeping every
# other value that the options dialog saved in an earlier run.
update_settings() {
    local file=$1 link=$2 tmp
    tmp=$(mktemp "$file.XXXXXX")
    awk -v link="$link" '
        /^[ \t]*\[/ {
            group = $0; gsub(/[ \t]/, "", group); print
            if (group == "[Options]") { print "Connection=1"; print "ConnectOnStart=1"; options = 1 }
            if (group == "[Ports]") { print "COM1=" link; ports = 1 }
            next
        }
        group == "[Options]" && /^[ \t]*(Connection|ConnectOnStart)[ \t]*=/ { next }
        group == "[Ports]" && /^[ \t]*COM1[ \t]*=/ { next }
        { print }
        END {
            if (!options) { print "[Options]"; print "Connection=1"; print "ConnectOnStart=1" }
            if (!ports) { print "[Ports]"; print "COM1=" link }
        }' "$( [[ -f $file ]] && echo "$file" || echo /dev/null )" >"$tmp"
    mv "$tmp" "$file"
}

echo "== starting the board simulator on $link"
"$build/tools/boardsim/tavro-board-sim" --link "$link" &
sim_pid=$!
stop_simulator() {
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
}
trap stop_simulator EXIT
for _ in $(seq 100); do
    [[ -L $link ]] && break
    sleep 0.05
done
if [[ ! -L $link ]]; then
    echo "The board simulator did not start." >&2
    exit 1
fi

update_settings "$settings" "$link"
echo "== settings: $settings (COM1 = $link, connect on start)"

# Runs the program on the Xvfb display, saves a screenshot of its window and
# ends it with Escape as an operator would.
headless_run() {
    local program=$1 shot=$2 out=$3 name=$4 pid wid
    "$program" &
    pid=$!
    wid=$(timeout 30 xdotool search --sync --onlyvisible --name "$name" | head -n 1) || true
    if [[ -z $wid ]]; then
        echo "The window did not appear." >&2
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
        return 1
    fi
    sleep 1
    "$shot" "$out" "$wid"
    xdotool windowfocus --sync "$wid" key Escape || true
    for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}

if [[ -n ${DISPLAY:-} || -n ${WAYLAND_DISPLAY:-} ]]; then
    echo "== starting the program: hold \"Ra +\" and watch the simulator's trace; Exit ends both"
    "$build/app/tavro-control-tool" || true
else
    echo "== no display here (neither DISPLAY nor WAYLAND_DISPLAY is set):"
    echo "   running the program under Xvfb for a moment and saving a screenshot."
    echo "   Run this command in a desktop session to use the program."
    # xvfb-run is a POSIX shell script: hand the function over as text.
    QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" \
        bash -c "$(declare -f headless_run); headless_run \"\$@\"" _ "$build/app/tavro-control-tool" \
        "$build/app/tavro-screenshot" "$build/screenshot.png" "$window_name"
    echo "== screenshot: $build/screenshot.png"
fi
