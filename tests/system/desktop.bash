# Shared helpers of the desktop tests (sourced, not run): a virtual X
# display for the tray program, with its own home, folders and runtime
# folder and without the session bus, so that a desktop the tests may run
# in is left alone. The sourcing script sets `name` (for its messages) and
# `bin`, and may list more tools it needs in `tools`.
#   start_display [openbox]  Xvfb, and openbox as window manager if asked
#   fail TEXT                ends the test, showing $tmp/app.log
#   wait_for SECONDS CMD...  polls until CMD succeeds
# A sanitizer build starts and ends several times slower (the leak check
# runs at exit): its tests set TAVREN_TEST_SLOWDOWN, which every wait
# is multiplied by.
set -uo pipefail
slowdown=${TAVREN_TEST_SLOWDOWN:-1}

for tool in Xvfb xdotool ${tools:-}; do
    command -v "$tool" >/dev/null || { echo "$name: skipped: $tool is missing"; exit 0; }
done

tmp=$(mktemp -d)
pids=()
cleanup() {
    local p
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
    rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $name: $*"
    sed 's/^/  err | /' "$tmp/app.log" 2>/dev/null | head -20
    exit 1
}
wait_for() {  # SECONDS COMMAND...
    local deadline=$((SECONDS + $1 * slowdown)); shift
    until "$@" 2>/dev/null; do
        ((SECONDS < deadline)) || return 1
        sleep 0.1
    done
}

start_display() {  # [openbox]
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$tmp/display" >/dev/null 2>&1 &
    pids+=($!)
    wait_for 10 test -s "$tmp/display" || fail "Xvfb did not start"
    export DISPLAY=":$(head -n1 "$tmp/display")" QT_QPA_PLATFORM=xcb
    export HOME=$tmp/home XDG_CONFIG_HOME=$tmp/home/.config \
        XDG_DATA_HOME=$tmp/home/.local/share XDG_CACHE_HOME=$tmp/home/.cache \
        XDG_RUNTIME_DIR=$tmp/run
    unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY
    mkdir -p "$HOME"
    mkdir -m 700 "$tmp/run"
    [[ ${1:-} == openbox ]] || return 0
    openbox --sm-disable >/dev/null 2>&1 &
    pids+=($!)
    wait_for 10 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' ||
        fail "openbox did not start"
}
