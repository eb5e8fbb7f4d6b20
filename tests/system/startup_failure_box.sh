#!/usr/bin/env bash
# A tray program that cannot create its data folder says why in a box, not
# only on standard error, which nobody reads when the program was started
# from a menu or at login; it ends with status 1 once the box is answered.
#
# Usage: startup_failure_box.sh PATH_TO_TAVREN3
set -uo pipefail
bin=${1:?usage: $0 PATH_TO_TAVREN3}
for tool in Xvfb xdotool; do
    command -v "$tool" >/dev/null || { echo "startup failure box: skipped: $tool is missing"; exit 0; }
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
fail() { echo "FAIL: startup failure box: $*"; sed 's/^/  err | /' "$tmp/err" 2>/dev/null; exit 1; }
wait_for() {  # SECONDS COMMAND...
    local deadline=$((SECONDS + $1)); shift
    until "$@" 2>/dev/null; do
        ((SECONDS < deadline)) || return 1
        sleep 0.1
    done
}

Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$tmp/display" >/dev/null 2>&1 &
pids+=($!)
wait_for 10 test -s "$tmp/display" || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$tmp/display")" QT_QPA_PLATFORM=xcb
export HOME=$tmp/home XDG_CONFIG_HOME=$tmp/home/.config XDG_CACHE_HOME=$tmp/home/.cache \
    XDG_RUNTIME_DIR=$tmp/run
unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY
mkdir -p "$HOME"
mkdir -m 700 "$tmp/run"
echo "a file, not a folder" >"$tmp/file"

"$bin" --data-dir "$tmp/file/data" 2>"$tmp/err" &
app=$!
pids+=($app)
box() {
    local id
    for id in $(xdotool search --onlyvisible --pid "$app"); do
        [[ $(xdotool getwindowname "$id") == Tavren3 ]] && { echo "$id"; return; }
    done
}
has_box() { [[ -n $(box) ]]; }
wait_for 10 has_box || fail "no box named Tavren3 appeared"
grep -qF "tavren3: データフォルダ $tmp/file/data/tavdat を作成できません" "$tmp/err" ||
    fail "standard error does not name the folder"

# The box closes on the key press: the release then finds no window.
xdotool key --window "$(box)" Return 2>/dev/null
wait_for 5 sh -c "! kill -0 $app" || fail "OK did not end the program"
wait "$app"
status=$?
[[ $status -eq 1 ]] || fail "ended with status $status, not 1"
echo "startup failure box: ok"
