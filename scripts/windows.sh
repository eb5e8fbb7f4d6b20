#!/usr/bin/env bash
# Cross-builds the Windows program (tavren3.exe --headless) and its tests
# with mingw-w64, and packs the program as a zip and a per-user installer
# into the build folder. With --test, also runs the tests under Wine.
#
#   scripts/windows.sh [--test]
#
# Environment: WIN_BUILD_DIR (default build-win), JOBS (default 2),
# WINEPREFIX (default <build dir>/wine, made on first use).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

run_tests=0
case "${1:-}" in
    --test) run_tests=1 ;;
    "") ;;
    *) echo "usage: $0 [--test]" >&2; exit 2 ;;
esac

build=$(realpath -m "${WIN_BUILD_DIR:-build-win}")
jobs=${JOBS:-2}

# The cross compiler and Wine come from Debian. `wine64` holds the loader,
# `wine` the commands (wine, wineboot, wineserver); `locales` has localedef.
# `nsis` builds the installer.
packages=(g++-mingw-w64-x86-64-posix cmake ninja-build googletest nsis)
[ "$run_tests" = 1 ] && packages+=(wine64 wine locales xvfb)
scripts/install-deps.sh "${packages[@]}"

# Wine is the emulator that ctest puts in front of each test; keep it quiet
# and from touching the desktop: no Gecko or Mono installers, no menu entries.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="

cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DTAVREN_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$jobs"

[ "$run_tests" = 1 ] || exit 0

export WINEPREFIX=${WINEPREFIX:-$build/wine}
# Japanese file names need a Unix locale with UTF-8 that Wine maps to code
# page 932. It is generated into the build folder, so nothing changes
# system-wide.
export LOCPATH=$build/locale
if [ ! -d "$LOCPATH/ja_JP.UTF-8" ]; then
    mkdir -p "$LOCPATH"
    localedef -i ja_JP -f UTF-8 "$LOCPATH/ja_JP.UTF-8" 2>/dev/null ||
        [ -d "$LOCPATH/ja_JP.UTF-8" ]  # warnings only
fi
# (Set for the Wine commands only: this shell has no use for it.)
wine_locale=(env LC_ALL=ja_JP.UTF-8)

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "windows.sh: creating the Wine prefix $WINEPREFIX"
    "${wine_locale[@]}" wineboot -i </dev/null >/dev/null 2>&1
fi

# Each program started under Wine would otherwise wait for the Wine server
# and the desktop to start and, at its end, to shut down again: seconds per
# test. A persistent server and one idle program keep both alive. (A wine
# command piped into another right after `wineserver -p` would hang.)
# A server left on this prefix by an earlier run (interrupted, or started by
# hand) would keep running forever; start from a fresh one.
wineserver -k 2>/dev/null || true
wineserver -w
# The tray program's window, the dialogs and the message boxes need an X
# display: a virtual one of their own, so nothing shows on the user's.
rm -f "$build/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$build/display" >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 50); do [ -s "$build/display" ] && break; sleep 0.2; done
[ -s "$build/display" ] || { echo "windows.sh: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$build/display")"
wineserver -p </dev/null >/dev/null 2>&1
stop_wine() {
    wineserver -k 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
}
trap stop_wine EXIT
"${wine_locale[@]}" wine "$build/tests/windows/tavren_test_hold.exe" </dev/null >/dev/null 2>&1 &
# Wine's first program starts its services (wineboot, explorer, rpcss, ...)
# and they inherit its standard handles: if a test were that program, CTest
# would wait on its output pipe until the services end, i.e. time out. One
# program run to its end here has every later start find Wine settled.
"${wine_locale[@]}" wine cmd /c exit </dev/null >/dev/null 2>&1 || true

# A test run under Wine now and then ends before printing anything, when
# Wine itself fails to start it; such a test is run once more, and CTest's
# log shows that it was. A test that fails twice fails the run.
ctest_wine=(ctest -j "$jobs" --output-on-failure --timeout 120 --repeat until-pass:2)
cd "$build"
"${wine_locale[@]}" "${ctest_wine[@]}"
# The Windows tests again on a system whose ANSI code page is 1252, as on
# an English Windows: nothing may depend on the system's code page.
echo "windows.sh: the Windows tests again with code page 1252"
env LC_ALL=C.UTF-8 "${ctest_wine[@]}" -L windows
