#!/usr/bin/env bash
# A tray program that cannot create its data folder says why in a box, not
# only on standard error, which nobody reads when the program was started
# from a menu or at login; it ends with status 1 once the box is answered.
#
# Usage: startup_failure_box.sh PATH_TO_TAVREN3
bin=${1:?usage: $0 PATH_TO_TAVREN3}
name="startup failure box"
# shellcheck source=desktop.bash
source "$(dirname "$0")/desktop.bash"
start_display
echo "a file, not a folder" >"$tmp/file"

"$bin" --data-dir "$tmp/file/data" 2>"$tmp/app.log" &
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
grep -qF "tavren3: データフォルダ $tmp/file/data/tavdat を作成できません" "$tmp/app.log" ||
    fail "standard error does not name the folder"

# The box closes on the key press: the release then finds no window.
xdotool key --window "$(box)" Return 2>/dev/null
wait_for 5 sh -c "! kill -0 $app" || fail "OK did not end the program"
wait "$app"
status=$?
[[ $status -eq 1 ]] || fail "ended with status $status, not 1"
echo "startup failure box: ok"
