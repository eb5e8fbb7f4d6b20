#!/usr/bin/env bash
# Message boxes of several entries open at once each show: every new box
# opens a step away from those still open, not on top of them, and inside
# the screen, with a window manager (openbox) placing them.
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
for f in a b c; do
    slot 1 0 1 2 0 0 0 0 0 "$f" "$tmp/$f" "" "" "" ""
done >"$tmp/data/tavdat/dirinfo.dat"
"$bin" --data-dir "$tmp/data" >"$tmp/app.log" 2>&1 &
app=$!
pids+=($app)
wait_for 10 test -e "$tmp/data/tavren3.session" || fail "watching did not start"

corners() {  # the top left corner of each of the program's boxes
    local id
    for id in $(xdotool search --onlyvisible --pid "$app" 2>/dev/null); do
        xwininfo -id "$id" | awk '/Absolute upper-left X:/ {x=$NF} /Absolute upper-left Y:/ {y=$NF}
            /Width:/ {w=$NF} /Height:/ {h=$NF}
            END {if (h >= 40 && x >= 0 && y >= 0 && x + w <= 1024 && y + h <= 768) print x, y}'
    done | sort -u
}
three_apart() { (($(corners | wc -l) == 3)); }
for f in a b c; do echo x >"$tmp/$f/new.txt"; done
wait_for 10 three_apart || fail "three boxes do not stand apart on the screen: $(corners | tr '\n' ';')"
echo "desktop boxes: ok"
