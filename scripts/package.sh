#!/usr/bin/env bash
# Makes the Debian package of the control tool: installs what is missing,
# configures a Release build tree of its own (build-pkg/), builds only what
# the package ships (target tavro_package_contents, not the tests and
# benchmarks) and runs CPack. The last line printed is the path of the .deb.
#
# The programs are built with Debian's hardening flags (dpkg-buildflags).
# The settings file compiled into the program is the machine-wide default
# of the top CMakeLists.txt: a value left in build-pkg's cache is dropped.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/install-deps.sh

build="$root/build-pkg"

# Debian's flags without its -g and -O2: the Release build type sets the
# optimisation, and the package ships no debug information.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
deb_flags() {
    local flag out=()
    for flag in $(dpkg-buildflags --get "$1"); do
        [[ $flag == -g || $flag == -O2 ]] || out+=("$flag")
    done
    echo "${out[*]}"
}
cxxflags="$(deb_flags CPPFLAGS) $(deb_flags CXXFLAGS)"
ldflags=$(deb_flags LDFLAGS)

echo "== configuring $build" >&2
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -UTAVRO_SETTINGS_FILE -DTAVRO_SANITIZE= -DTAVRO_CORE_ONLY=OFF \
      -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
      -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null

echo "== building the package's programs and files" >&2
cmake --build "$build" -j "$(nproc)" --target tavro_package_contents >&2

echo "== making the package" >&2
rm -f "$build"/tavro-control-tool_*.deb
log="$build/cpack.log"
if ! (cd "$build" && cpack -G DEB) >"$log" 2>&1; then
    cat "$log" >&2
    echo "cpack failed (log: $log)" >&2
    exit 1
fi
deb=$(sed -nE 's/^CPack: - package: (.*\.deb) generated\.$/\1/p' "$log" | tail -n 1)
if [[ -z $deb || ! -f $deb ]]; then
    cat "$log" >&2
    echo "cpack made no .deb (log: $log)" >&2
    exit 1
fi
echo "$deb"
