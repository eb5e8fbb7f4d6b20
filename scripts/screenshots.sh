#!/usr/bin/env bash
# Takes the pictures in docs/screenshots/ from the current code: builds the
# program, runs it on a virtual X display (Xvfb) with a window manager
# (openbox), a notification-area host (trayer) and Japanese fonts, then
# drives it with xdotool and captures with ImageMagick.
#
#   scripts/screenshots.sh               build, run, write docs/screenshots/*.png
#   scripts/screenshots.sh --no-build    use the program as it is
#   scripts/screenshots.sh --check       only the display, window manager,
#                                        tray host and fonts; one picture of
#                                        the empty desktop, in a temp folder
#   scripts/screenshots.sh --out DIR     write the pictures to DIR
#   scripts/screenshots.sh --keep        keep the work folder (logs, data)
#
# Missing Debian packages are installed with apt-get (as root or through
# sudo). The program runs with its own home, data, config, cache and temp
# folders and without the session bus, so a Tavren3 already running on the
# real desktop is neither reached nor disturbed. BUILD_DIR (default build)
# names the build folder; TAVREN3_BIN runs another binary instead.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-build}
[[ $BUILD_DIR == /* ]] || BUILD_DIR=$ROOT/$BUILD_DIR
BIN=${TAVREN3_BIN:-$BUILD_DIR/tavren3}
OUT=$ROOT/docs/screenshots
SCREEN=${SCREEN:-1024x768x24}   # the entry editor is about 620 pixels high
TIMEOUT=${TIMEOUT:-15}   # seconds to wait for any one window

do_build=1 check_only=0 keep=0
while [[ $# -gt 0 ]]; do
    case $1 in
    --no-build) do_build=0 ;;
    --check) check_only=1 ;;
    --keep) keep=1 ;;
    --out) OUT=$(realpath -m "$2"); shift ;;
    -h | --help) sed -n '2,/^set -euo/{/^set -euo/d;s/^# \{0,1\}//;p}' "$0"; exit 0 ;;
    *) echo "screenshots: unknown argument: $1" >&2; exit 2 ;;
    esac
    shift
done

log() { echo "screenshots: $*" >&2; }
die() { log "$*"; keep=1; exit 1; }

# --- packages ---------------------------------------------------------------

ensure_packages() {
    "$ROOT/scripts/install-deps.sh" \
        xvfb openbox trayer x11-utils x11-xserver-utils xdotool \
        imagemagick optipng fontconfig fonts-ipafont-gothic qt6-qpa-plugins python3
}

# --- the virtual desktop ----------------------------------------------------

WORK=""
DEMO=""
pids=()

cleanup() {
    local i
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null || true
    done
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        wait "${pids[i]}" 2>/dev/null || true
    done
    [[ -n "$DEMO" ]] && rm -rf "$DEMO"
    if [[ -n "$WORK" ]]; then
        if [[ $keep -eq 1 ]]; then log "work folder kept: $WORK"; else rm -rf "$WORK"; fi
    fi
}

# Runs "$@" until it succeeds or TIMEOUT seconds have passed.
wait_for() {
    local deadline=$((SECONDS + TIMEOUT))
    until "$@" 2>/dev/null; do
        [[ $SECONDS -lt $deadline ]] || return 1
        sleep 0.1
    done
}

start_desktop() {
    # -displayfd picks a free display number and writes it when the server is ready.
    Xvfb -displayfd 3 -screen 0 "$SCREEN" -nolisten tcp -dpi 96 3>"$WORK/display" \
        >"$WORK/xvfb.log" 2>&1 &
    pids+=($!)
    wait_for test -s "$WORK/display" || die "Xvfb did not start (see $WORK/xvfb.log)"
    DISPLAY=":$(head -n1 "$WORK/display")"
    export DISPLAY
    log "display $DISPLAY"
    openbox --sm-disable >"$WORK/openbox.log" 2>&1 &
    pids+=($!)
    wait_for wm_running || die "openbox did not start (see $WORK/openbox.log)"
    xsetroot -solid '#3a6d8c'

    # A panel across the bottom of the screen, icons on the right.
    trayer --edge bottom --align right --widthtype percent --width 100 --height 28 \
        --SetDockType true --SetPartialStrut true --expand false \
        --transparent true --alpha 0 --tint 0x2b2f33 >"$WORK/trayer.log" 2>&1 &
    pids+=($!)
    wait_for xdotool search --onlyvisible --class '^trayer$' >/dev/null \
        || die "trayer did not start (see $WORK/trayer.log)"
    TRAYER=$(xdotool search --onlyvisible --class '^trayer$' | head -n1)

    fc-list :lang=ja family | grep -q . || die "no Japanese font is installed"
}

# --- windows and pictures ---------------------------------------------------

wm_running() { xprop -root -notype _NET_SUPPORTING_WM_CHECK | grep -q 'window id'; }

# "x y w h" of a window, in root coordinates.
geometry() {
    xwininfo -id "$1" | awk '
        /Absolute upper-left X:/ {x=$NF} /Absolute upper-left Y:/ {y=$NF}
        /Width:/ {w=$NF} /Height:/ {h=$NF}
        END {print x, y, w, h}'
}

# "x y w h" of a window with the frame the window manager put around it.
framed_geometry() {
    local x y w h l r t b
    read -r x y w h < <(geometry "$1")
    read -r l r t b < <(xprop -id "$1" -notype _NET_FRAME_EXTENTS 2>/dev/null |
        sed -n 's/.*= *//p' | tr -d ',') || true
    echo $((x - ${l:-0})) $((y - ${t:-0})) $((w + ${l:-0} + ${r:-0})) $((h + ${t:-0} + ${b:-0}))
}

# Visible windows of the program, one id a line.
app_windows() {
    xdotool search --onlyvisible --pid "$APP_PID" 2>/dev/null || true
    xdotool search --onlyvisible --classname '^tavren3$' 2>/dev/null || true
}

# Captures the screen once paint has settled: two captures 0.2 s apart agree.
capture_root() {
    local out=$1 prev="$WORK/prev.png" deadline=$((SECONDS + TIMEOUT))
    import -silent -window root "$out"
    while :; do
        sleep 0.2
        mv "$out" "$prev"
        import -silent -window root "$out"
        compare -metric AE "$prev" "$out" null: 2>/dev/null && return 0
        [[ $SECONDS -lt $deadline ]] || return 0
    done
}

# shot NAME "x y w h"...: one picture of the union of the rectangles, with a
# margin, saved as $OUT/NAME.png.
shot() {
    local name=$1; shift
    local x0=100000 y0=100000 x1=0 y1=0 x y w h sw sh
    for rect in "$@"; do
        read -r x y w h <<<"$rect"
        ((x < x0)) && x0=$x; ((y < y0)) && y0=$y
        ((x + w > x1)) && x1=$((x + w)); ((y + h > y1)) && y1=$((y + h))
    done
    read -r sw sh < <(xwininfo -root | awk '/Width:/ {w=$NF} /Height:/ {h=$NF} END {print w, h}')
    local m=${MARGIN:-12}
    x0=$((x0 - m < 0 ? 0 : x0 - m)); y0=$((y0 - m < 0 ? 0 : y0 - m))
    x1=$((x1 + m > sw ? sw : x1 + m)); y1=$((y1 + m > sh ? sh : y1 + m))
    capture_root "$WORK/screen.png"
    mkdir -p "$OUT"
    convert "$WORK/screen.png" -crop "$((x1 - x0))x$((y1 - y0))+$x0+$y0" +repage \
        -strip "$OUT/$name.png"
    command -v optipng >/dev/null && optipng -quiet -o5 "$OUT/$name.png"
    log "saved $OUT/$name.png"
}

# Waits for a window of the program that was not in the list "$1" and prints
# its id; with a second argument, only windows at least that many pixels high.
new_window() {
    local before=$1 min_h=${2:-1} deadline=$((SECONDS + TIMEOUT)) id h
    while [[ $SECONDS -lt $deadline ]]; do
        for id in $(app_windows | sort -u); do
            grep -qx "$id" <<<"$before" && continue
            read -r _ _ _ h < <(geometry "$id")
            ((h >= min_h)) && { echo "$id"; return 0; }
        done
        sleep 0.1
    done
    return 1
}

# The program's icon inside the tray host: a visible window of the program
# that lies within trayer's window.
find_icon() {
    local tx ty tw th id x y w h
    read -r tx ty tw th < <(geometry "$TRAYER")
    for id in $(app_windows | sort -u); do
        read -r x y w h < <(geometry "$id")
        if ((x >= tx && y >= ty && x + w <= tx + tw && y + h <= ty + th && w > 0)); then
            echo "$id"
            return 0
        fi
    done
    return 1
}

# The icon's column of the panel: the icon's width, the panel's height.
icon_slice() {
    local ix iw ty th
    read -r ix _ iw _ < <(geometry "$ICON")
    read -r _ ty _ th < <(geometry "$TRAYER")
    echo "$ix" "$ty" "$iw" "$th"
}

# Right-clicks the icon and prints the id of the menu that opens.
open_menu() {
    local before x y w h
    before=$(app_windows | sort -u)
    read -r x y w h < <(geometry "$ICON")
    xdotool mousemove --sync $((x + w / 2)) $((y + h / 2)) click 3
    new_window "$before" 40
}

close_with() {
    local id=$1 key=$2
    xdotool key "$key"
    wait_for sh -c "! xwininfo -id $id 2>/dev/null | grep -q 'IsViewable'" \
        || die "window $id did not close on $key"
}

# --- the pictures -----------------------------------------------------------

shot_tooltip() {
    local before x y w h tip
    before=$(app_windows | sort -u)
    read -r x y w h < <(geometry "$ICON")
    xdotool mousemove --sync $((x + w / 2 - 1)) $((y + h / 2)) sleep 0.1 \
        mousemove --sync $((x + w / 2)) $((y + h / 2))
    if tip=$(new_window "$before"); then
        shot tooltip "$(icon_slice)" "$(geometry "$tip")"
    else
        log "no tooltip appeared; tooltip.png not taken"
    fi
    xdotool mousemove --sync 10 10
}

shot_menu_and_about() {
    local menu about
    menu=$(open_menu) || die "the icon's menu did not open"
    shot tray-menu "$(icon_slice)" "$(geometry "$menu")"

    # バージョン情報(&A)...
    local before
    before=$(app_windows | sort -u)
    xdotool key a
    about=$(new_window "$before" 60) || die "the version box did not open"
    shot about "$(framed_geometry "$about")"
    close_with "$about" Escape
}

# Clicks the point of a dialog given in the dialog's own units: the dialogs
# are laid out in dialog units, so a control sits at the same fraction of the
# client area whatever the font. click_in WINDOW X Y WIDTH HEIGHT, with X and
# Y the control's centre and WIDTH and HEIGHT the dialog's size.
click_in() {
    local x y w h
    read -r x y w h < <(geometry "$1")
    xdotool mousemove --sync $((x + w * $2 / $4)) $((y + h * $3 / $5)) click 1
}

# Captures the editor as it is now into NAME.png. With a second argument,
# the picture taken just before, it dies when hardly anything has changed
# since (a text cursor may blink): the click meant to switch the page
# missed its tab.
shot_editor() {
    local name=$1 previous=${2:-} changed
    # No margin: the list dialog behind is wider than the editor.
    MARGIN=0 shot "$name" "$(framed_geometry "$EDITOR_WIN")"
    [[ -n "$previous" ]] || return 0
    # AE counts differing pixels, printed on stderr, large counts as 1.2e+06.
    changed=$(compare -metric AE "$OUT/$previous.png" "$OUT/$name.png" null: 2>&1 |
        awk '$1 ~ /^[0-9.e+]+$/ {printf "%d", $1}' || true)
    if [[ -n "$changed" ]] && ((changed < 500)); then
        die "$name.png shows the same page as $previous.png: its tab was not hit"
    fi
}

# 監視設定(&U)...: the watch folder list, then the entry editor on its
# second entry with each of its three pages.
shot_watch_settings() {
    local list before
    open_menu >/dev/null || die "the icon's menu did not open"
    before=$(app_windows | sort -u)
    xdotool key u
    list=$(new_window "$before" 100) || die "the watch folder list did not open"
    shot watch-list "$(framed_geometry "$list")"

    # The list has the focus with its first line selected: Down selects the
    # second, then 変更登録 (centre 248, 80 of the list's 291 x 209 units)
    # opens it in the editor.
    xdotool key Down
    before=$(app_windows | sort -u)
    click_in "$list" 248 80 291 209
    EDITOR_WIN=$(new_window "$before" 100) || die "the entry editor did not open"
    shot_editor editor-target

    # The tab control starts at 12, 145 of the editor's 275 x 289 units. The
    # tabs are as wide as their texts; at these points the second and the
    # third tab lie whatever the font, and a miss is caught above.
    click_in "$EDITOR_WIN" 107 151 275 289
    shot_editor editor-notice editor-target
    click_in "$EDITOR_WIN" 166 151 275 289
    shot_editor editor-after editor-notice

    # The folder chooser of 参　照 (centre 239, 44), in Japanese throughout.
    before=$(app_windows | sort -u)
    click_in "$EDITOR_WIN" 239 44 275 289
    local chooser
    chooser=$(new_window "$before" 100) || die "the folder chooser did not open"
    shot folder-chooser "$(framed_geometry "$chooser")"
    close_with "$chooser" Escape

    # ｷｬﾝｾﾙ (centre 237, 270): Escape would go to the page's focused control.
    click_in "$EDITOR_WIN" 237 270 275 289
    wait_for sh -c "! xwininfo -id $EDITOR_WIN 2>/dev/null | grep -q 'IsViewable'" \
        || die "the editor did not close on ｷｬﾝｾﾙ"

    # A change (起動/停止, centre 248, 120), then ｷｬﾝｾﾙ: the question whether
    # it may be lost, with its はい and いいえ; はい closes the list.
    click_in "$list" 248 120 291 209
    before=$(app_windows | sort -u)
    xdotool windowactivate --sync "$list" key Escape
    local question
    question=$(new_window "$before" 40) || die "no question about the unsaved change"
    shot question "$(framed_geometry "$question")"
    xdotool windowactivate --sync "$question" key Return
    wait_for sh -c "! xwininfo -id $list 2>/dev/null | grep -q 'IsViewable'" \
        || die "the list did not close after はい"
}

# A new file in the entry that shows a box for each: the box.
shot_message_box() {
    local before box
    before=$(app_windows | sort -u)
    echo "見積り" >"$DEMO/受信/見積書.pdf"
    box=$(new_window "$before" 40) || die "no message box for a new file"
    shot message-box "$(framed_geometry "$box")"
    close_with "$box" Return
}

# 履歴(&L)...: the activity log, with the lines the runs above wrote.
shot_history() {
    local before history
    open_menu >/dev/null || die "the icon's menu did not open"
    before=$(app_windows | sort -u)
    xdotool key l
    history=$(new_window "$before" 60) || die "the history window did not open"
    shot history "$(framed_geometry "$history")"
    close_with "$history" Escape
}

quit_program() {
    open_menu >/dev/null || die "the icon's menu did not open"
    xdotool key x   # 終了(&X)
    local deadline=$((SECONDS + TIMEOUT))
    while kill -0 "$APP_PID" 2>/dev/null; do
        [[ $SECONDS -lt $deadline ]] || die "the program did not end after 終了"
        sleep 0.1
    done
    local status=0
    wait "$APP_PID" || status=$?
    log "program ended with status $status"
}

# --- the sample data --------------------------------------------------------

# Three watch entries, two running and one stopped, with real folders, so that
# the list and each page of the editor have something to show.
write_sample_settings() {
    local demo=$1 data=$2
    mkdir -p "$demo/スキャン" "$demo/請求書" "$demo/処理済み" "$demo/受信" "$data/tavdat"
    python3 - "$demo" "$data/tavdat/dirinfo.dat" <<'EOF'
import struct, sys

demo, out = sys.argv[1], sys.argv[2]
WIDTHS = (58, 128, 44, 128, 128, 128)  # title, folder, pattern, program, moveTo, waveFile

def slot(running, file_mode, timing, message, sound, after, open_file, wait, overwrite, *texts):
    data = struct.pack("<9h", running, file_mode, timing, message, sound, after, open_file, wait, overwrite)
    for text, width in zip(texts, WIDTHS):
        raw = text.encode("cp932")
        assert len(raw) < width, text
        data += raw + b"\0" * (width - len(raw))
    assert len(data) == 632
    return data

# A real sound: the editor refuses a WAV file that is not there.
import wave
with wave.open(f"{demo}/到着.wav", "wb") as w:
    w.setnchannels(1); w.setsampwidth(2); w.setframerate(8000); w.writeframes(b"\0\0" * 800)

with open(out, "wb") as f:
    # Every new file is printed, with a message and a beep first.
    f.write(slot(1, 0, 1, 1, 1, 0, 0, 1, 0, "スキャン画像の印刷", f"{demo}/スキャン", "",
                 "/usr/bin/lpr", "", ""))
    # New CSV files are opened, announced with a sound, then moved away.
    f.write(slot(0, 1, 1, 1, 2, 2, 1, 0, 1, "請求書の受け取り", f"{demo}/請求書", "*.csv",
                 "", f"{demo}/処理済み", f"{demo}/到着.wav"))
    # Each new file is told in a message box, nothing more.
    f.write(slot(1, 0, 1, 2, 0, 0, 0, 0, 0, "受信の通知", f"{demo}/受信", "", "", "", ""))
EOF
}

# --- main -------------------------------------------------------------------

ensure_packages
trap cleanup EXIT
trap 'exit 130' INT TERM
WORK=$(mktemp -d "${TMPDIR:-/tmp}/tavren3-shots.XXXXXX")
start_desktop

if [[ $check_only -eq 1 ]]; then
    keep=1
    capture_root "$WORK/desktop.png"
    log "fonts: $(fc-list :lang=ja family | sort -u | paste -sd ';')"
    log "desktop, window manager and tray host are working; pictures in $WORK"
    exit 0
fi

if [[ $do_build -eq 1 && -z "${TAVREN3_BIN:-}" ]]; then
    "$ROOT/scripts/install-deps.sh"
    [[ -f "$BUILD_DIR/CMakeCache.txt" ]] || cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja >&2
    cmake --build "$BUILD_DIR" --target tavren3 >&2
fi
[[ -x "$BIN" ]] || die "no program at $BIN"

# The sample folders live at a fixed place so that the pictures do not change
# from run to run.
DEMO=${TMPDIR:-/tmp}/tavren3-demo
rm -rf "$DEMO"
write_sample_settings "$DEMO" "$WORK/data"
mkdir -p "$WORK/home" "$WORK/config" "$WORK/cache" "$WORK/tmp" "$WORK/runtime"
chmod 700 "$WORK/runtime"

locale_name=C.UTF-8
locale -a 2>/dev/null | grep -qix 'ja_JP.utf8' && locale_name=ja_JP.UTF-8

env -u DBUS_SESSION_BUS_ADDRESS -u WAYLAND_DISPLAY -u SESSION_MANAGER \
    HOME="$WORK/home" XDG_CONFIG_HOME="$WORK/config" XDG_DATA_HOME="$WORK/home/.local/share" \
    XDG_CACHE_HOME="$WORK/cache" XDG_RUNTIME_DIR="$WORK/runtime" TMPDIR="$WORK/tmp" \
    LANG="$locale_name" LC_ALL="$locale_name" QT_QPA_PLATFORM=xcb \
    "$BIN" --data-dir "$WORK/data" >"$WORK/tavren3.log" 2>&1 &
APP_PID=$!
pids+=("$APP_PID")

if ! wait_for find_icon >/dev/null; then
    import -silent -window root "$WORK/no-icon.png" || true
    keep=1
    log "the program's icon did not appear in the tray; its output:"
    cat "$WORK/tavren3.log" >&2
    die "screen at that moment: $WORK/no-icon.png"
fi
ICON=$(find_icon)
xdotool mousemove --sync 10 10

shot_tooltip
shot_menu_and_about
shot_watch_settings
shot_message_box
shot_history
quit_program
