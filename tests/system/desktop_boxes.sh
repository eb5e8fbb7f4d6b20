#!/usr/bin/env bash
# Boxes of several entries open at once each show: each a step from the others.
#
# Usage: desktop_boxes.sh PATH_TO_TAVREN3
export LC_ALL=C  # the settings helpers count bytes
bin=${1:?usage: $0 PATH_TO_TAVREN3}
name="desktop boxes" tools="openbox xwininfo xprop"
# shellcheck source=desktop.bash
source "$(dirname "$0")/desktop.bash"
# shellcheck source=slots.bash
source "$(dirname "$0")/slots.bash"

start_display openbox
mkdir -p "$tmp/a" "$tmp/b" "$tmp/c" "$tmp/data/tavdat"
for f in a b c; do slot 1 0 1 2 0 0 0 0 0 "$f" "$tmp/$f" "" "" "" ""; done \
    >"$tmp/data/tavdat/dirinfo.dat"
"$bin" --data-dir "$tmp/data" >"$tmp/app.log" 2>&1 &
pids+=($!)
wait_for 10 test -e "$tmp/data/tavren3.session" || fail "watching did not start"
for f in a b c; do echo x >"$tmp/$f/new.txt"; done
corners() {  # the top left corners of the program's boxes, on the screen
    for id in $(xdotool search --onlyvisible --pid "${pids[-1]}"); do xwininfo -id "$id"; done |
        awk '/Absolute upper-left X:/ {x=$NF} /Absolute upper-left Y:/ {y=$NF} /Width:/ {w=$NF}
             /Height:/ {h=$NF; if (h >= 40 && x >= 0 && y >= 0 && x + w <= 1024 && y + h <= 768)
                 print x, y}' |
        sort -u
}
apart() { (($(corners | wc -l) == 3)); }
wait_for 10 apart || fail "three boxes do not stand apart: $(corners | tr '\n' ';')"
echo "desktop boxes: ok"
