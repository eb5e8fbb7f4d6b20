#!/usr/bin/env bash
# The tray program on a desktop with a notification area, as a user meets
# it: a virtual X display (Xvfb) with a window manager (openbox) and a panel
# (trayer) that starts 3 s after the program, as panels often do at login.
# The icon must appear once the panel is there; its menu must open while a
# worker's message box and while the watch settings are open; help that no
# browser opens must be told in a box naming the page; a second start and
# 監視設定 must bring the open dialog forward, minimized or not; 終了 from
# that menu must end the program within 2 s; so must SIGTERM and SIGINT,
# open settings closing without a question; SIGHUP must still reload it.
#
# Usage: desktop_tray.sh PATH_TO_TAVREN3
export LC_ALL=C  # the settings helpers count bytes
bin=${1:?usage: $0 PATH_TO_TAVREN3}
name="desktop tray" tools="openbox trayer xwininfo xprop"
# shellcheck source=desktop.bash
source "$(dirname "$0")/desktop.bash"
# shellcheck source=slots.bash
source "$(dirname "$0")/slots.bash"
now_ms() { local t=${EPOCHREALTIME/./}; echo $((t / 1000)); }

start_display openbox
mkdir -p "$tmp/in" "$tmp/data/tavdat"
# One entry that shows a message box for each new file.
slot 1 0 1 2 0 0 0 0 0 "in" "$tmp/in" "" "" "" "" >"$tmp/data/tavdat/dirinfo.dat"

# A desktop without a browser: xdg-open ends with status 3.
mkdir "$tmp/bin"
printf '#!/bin/sh\nprintf %%s "$1" >"%s/opened"\nexit 3\n' "$tmp" >"$tmp/bin/xdg-open"
chmod +x "$tmp/bin/xdg-open"

PATH=$tmp/bin:$PATH "$bin" --data-dir "$tmp/data" >"$tmp/app.log" 2>&1 &
app=$!
pids+=($app)

# --- windows -----------------------------------------------------------------

geometry() {  # WINDOW: "x y w h" in root coordinates
    xwininfo -id "$1" | awk '/Absolute upper-left X:/ {x=$NF} /Absolute upper-left Y:/ {y=$NF}
        /Width:/ {w=$NF} /Height:/ {h=$NF} END {print x, y, w, h}'
}
windows() { xdotool search --onlyvisible --pid "$app" 2>/dev/null | sort -u; }
# Waits for a window of the program, at least MIN_H high, not in BEFORE.
new_window() {  # BEFORE MIN_H
    local deadline=$((SECONDS + 10 * slowdown)) id h
    while ((SECONDS < deadline)); do
        for id in $(windows); do
            grep -qx "$id" <<<"$1" && continue
            read -r _ _ _ h < <(geometry "$id")
            ((h >= $2)) && { echo "$id"; return 0; }
        done
        sleep 0.1
    done
    return 1
}
# The program's icon: its window inside the panel's.
find_icon() {
    local tx ty tw th id x y w h
    read -r tx ty tw th < <(geometry "$panel")
    for id in $(windows); do
        read -r x y w h < <(geometry "$id")
        ((x >= tx && y >= ty && x + w <= tx + tw && y + h <= ty + th && w > 0)) &&
            { echo "$id"; return 0; }
    done
    return 1
}
open_menu() {  # prints the menu's window
    local before x y w h
    before=$(windows)
    read -r x y w h < <(geometry "$icon")
    xdotool mousemove --sync $((x + w / 2)) $((y + h / 2)) click 3
    new_window "$before" 40
}
viewable() { xwininfo -id "$1" 2>/dev/null | grep -q IsViewable; }

# --- the icon comes with the panel --------------------------------------------

wait_for 10 grep -q '通知領域がまだありません' "$tmp/app.log" ||
    fail "no word that the notification area is missing"
sleep 3
trayer --edge bottom --align right --widthtype request --height 28 --SetDockType true \
    >/dev/null 2>&1 &
pids+=($!)
wait_for 10 xdotool search --onlyvisible --class '^trayer$' >/dev/null || fail "trayer did not start"
panel=$(xdotool search --onlyvisible --class '^trayer$' | head -n1)
t0=$(now_ms)
wait_for 10 find_icon >/dev/null || fail "the icon did not appear when the panel came"
icon=$(find_icon)
echo "desktop tray: icon in the panel $(($(now_ms) - t0)) ms after it started"

# --- the menu while a message box is open -----------------------------------

before=$(windows)
echo x >"$tmp/in/a.txt"
box=$(new_window "$before" 40) || fail "no message box for a new file"
menu=$(open_menu) || fail "the menu did not open while a message box was open"
xdotool key Escape
wait_for 5 sh -c "! xwininfo -id $menu 2>/dev/null | grep -q IsViewable" || fail "menu stayed open"
viewable "$box" || fail "the message box went away with the menu"

# Help that no browser opens.
open_menu >/dev/null || fail "the menu did not open"
before=$(windows)
xdotool key h   # トピックスの検索(&H)
help=$(new_window "$before" 40) || fail "no box when the help page could not be opened"
grep -qF "ヘルプ ページを開けませんでした。ブラウザーで次のファイルを開いてください。 $(cat "$tmp/opened")" \
    "$tmp/app.log" || fail "the page that could not be opened is not named"
xdotool windowactivate --sync "$help" key Return

# --- the menu while the settings are open, and a second start -------------------

open_menu >/dev/null || fail "the menu did not open"
before=$(windows)
xdotool key u   # 監視設定(&U)...
list=$(new_window "$before" 100) || fail "the watch settings did not open"
# A window of their own, which a taskbar lists and restores.
xprop -id "$list" WM_TRANSIENT_FOR | grep -q 'not found' ||
    fail "the settings are transient for another window"
second_start() {
    timeout $((10 * slowdown)) "$bin" --data-dir "$tmp/data" >"$tmp/second.log" 2>&1 ||
        fail "second start: status $?: $(cat "$tmp/second.log")"
}
# A second start, and 監視設定 again, bring WINDOW (the settings, or what
# is open over them) forward: restored if minimized, raised, active, and
# (the window manager's restoring done) where the settings were.
list_at=$(geometry "$list")
ahead() { [[ $(xdotool getactivewindow) == "$1" && $(geometry "$list") == "$list_at" ]]; }
forward() { wait_for 5 ahead "$1" || fail "$2 did not bring the open settings forward"; }
xdotool windowactivate --sync "$box" 2>/dev/null   # something else in front
second_start
forward "$list" "a second start"
xdotool windowminimize --sync "$list"
second_start
forward "$list" "a second start (minimized)"
xdotool windowminimize --sync "$list"
open_menu >/dev/null || fail "the menu did not open while the settings were minimized"
xdotool key u   # 監視設定(&U)...
forward "$list" "監視設定 (minimized)"
# The command line keeps off the settings while they are open: closing
# them writes the whole file.
cp "$tmp/data/tavdat/dirinfo.dat" "$tmp/before.dat"
LC_ALL=C "$bin" --data-dir "$tmp/data" stop 1 >"$tmp/cli.log" 2>&1 &&
    fail "the command line changed the settings while they were open"
grep -q "has the watch settings open" "$tmp/cli.log" || fail "no refusal: $(cat "$tmp/cli.log")"
cmp -s "$tmp/data/tavdat/dirinfo.dat" "$tmp/before.dat" || fail "the settings file changed"

# 終了 while the settings hold unsaved changes: いいえ to losing them keeps
# the dialog, and the program, as they were.
read -r x y w h < <(geometry "$list")
xdotool mousemove --sync $((x + w * 248 / 291)) $((y + h * 120 / 209)) click 1  # 起動/停止
open_menu >/dev/null || fail "the menu did not open while the settings were open"
before=$(windows)
xdotool key x   # 終了(&X)
question=$(new_window "$before" 40) || fail "no question about the unsaved changes"
xdotool windowminimize --sync "$list"
second_start
forward "$question" "a second start (minimized, with a question)"
xdotool windowactivate --sync "$question" key Escape   # いいえ
sleep 1
kill -0 "$app" || fail "the program ended although いいえ kept the settings"
viewable "$list" || fail "the settings closed although いいえ kept them"

# Closing them (ｷｬﾝｾﾙ, はい) starts watching again: a new file gets its box
# once the box of the first, which holds its entry, is answered.
before=$(windows)
xdotool windowactivate --sync "$list" key Escape
question=$(new_window "$before" 40) || fail "no question on ｷｬﾝｾﾙ"
xdotool windowactivate --sync "$question" key Return   # はい
wait_for 5 sh -c "! xwininfo -id $list 2>/dev/null | grep -q IsViewable" || fail "settings stayed"
xdotool windowactivate --sync "$box" key Return   # OK
before=$(windows)
echo x >"$tmp/in/b.txt"
new_window "$before" 40 >/dev/null || fail "watching did not start again after the settings"

# 終了 with a message box open.
open_menu >/dev/null || fail "the menu did not open"
t0=$(now_ms)
xdotool key x   # 終了(&X)
wait_for 2 sh -c "! kill -0 $app" || fail "the program did not end within $((2 * slowdown)) s of 終了"
wait "$app"
rc=$?
((rc == 0)) || fail "exit status $rc after 終了"
echo "desktop tray: ended $(($(now_ms) - t0)) ms after 終了, status 0"

# --- ended from outside -----------------------------------------------------------
# SIGTERM (kill, systemctl, a logout), SIGINT, and the X server's end (Qt then
# ends the program with status 1): a clean end, so the next start does not
# take it for a crash (no session file left); open settings close unsaved,
# without a question. The command line's reload (SIGHUP) is taken on the way.
session=$tmp/data/tavren3.session
for case in "TERM 0 box" "INT 0 reload" "TERM 0 settings" "X 1 -"; do
    read -r sig status with <<<"$case"
    "$bin" --data-dir "$tmp/data" >"$tmp/app.log" 2>&1 &
    app=$!
    pids+=($app)
    wait_for 10 test -e "$session" || fail "$case: watching did not start"
    before=$(windows)
    case $with in
    box)
        # b.txt, whose box 終了 closed above, is still owed: announced again.
        new_window "" 40 >/dev/null || fail "$case: b.txt was not announced again" ;;
    reload)
        # And again after SIGTERM cut its box short.
        new_window "" 40 >/dev/null || fail "$case: b.txt was not announced again"
        before=$(windows)
        mkdir "$tmp/in2"
        "$bin" --data-dir "$tmp/data" add --title in2 --folder "$tmp/in2" --message \
            >"$tmp/cli.log" 2>&1 || fail "$case: add: $(cat "$tmp/cli.log")"
        wait_for 10 test -e "$tmp/data/tavdat/1.dir" || fail "$case: no reload after the add"
        echo x >"$tmp/in2/d.txt"
        new_window "$before" 40 >/dev/null || fail "$case: the added entry was not watched" ;;
    settings)
        wait_for 10 find_icon >/dev/null || fail "$case: no icon"
        icon=$(find_icon)
        open_menu >/dev/null || fail "$case: the menu did not open"
        before=$(windows)
        xdotool key u   # 監視設定(&U)...
        list=$(new_window "$before" 100) || fail "$case: the watch settings did not open"
        read -r x y w h < <(geometry "$list")
        xdotool mousemove --sync $((x + w * 248 / 291)) $((y + h * 120 / 209)) click 1 ;;
    esac
    cp "$tmp/data/tavdat/dirinfo.dat" "$tmp/before.dat"
    if [[ $sig == X ]]; then kill "${pids[0]}"; else kill -"$sig" "$app"; fi  # pids[0]: Xvfb
    wait_for 2 sh -c "! kill -0 $app" || fail "$case: still running $((2 * slowdown)) s later"
    wait "$app"
    rc=$?
    ((rc == status)) || fail "$case: exit status $rc"
    [[ ! -e $session ]] || fail "$case: the session file, the mark of a crash, was left"
    cmp -s "$tmp/data/tavdat/dirinfo.dat" "$tmp/before.dat" || fail "$case: the settings changed"
done
echo "desktop tray: SIGTERM, SIGINT and the X server's end ended it cleanly"
echo "desktop tray: ok"
