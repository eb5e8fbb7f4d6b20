#!/usr/bin/env bash
# Takes the pictures in docs/screenshots/windows/ from the current code:
# cross-builds Tavren3.exe and the program that drives it
# (tests/windows/screenshot_driver.cpp), then runs both under Wine on a
# virtual X display (Xvfb), in a Wine desktop with a taskbar and its
# notification area, with Japanese fonts. The driver opens each window
# through the program's own messages and captures it; the captures become
# PNGs here.
#
#   scripts/screenshots-windows.sh              build, run, write the pictures
#   scripts/screenshots-windows.sh --no-build   use the programs as they are
#   scripts/screenshots-windows.sh --out DIR    write the pictures to DIR
#   scripts/screenshots-windows.sh --keep       keep the work folder (logs, captures)
#
# Environment: WIN_BUILD_DIR (default build-win). The Wine prefix is
# <build dir>/wine-shots, apart from the tests' prefix: the fonts, the font
# substitutes and the desktop with a taskbar are set up in it alone.
# Missing Debian packages are installed with apt-get (as root or through sudo).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${WIN_BUILD_DIR:-build-win}")
out=$root/docs/screenshots/windows
do_build=1 keep=0
while [[ $# -gt 0 ]]; do
    case $1 in
    --no-build) do_build=0 ;;
    --keep) keep=1 ;;
    --out) out=$(realpath -m "$2"); shift ;;
    -h | --help) sed -n '2,/^set -euo/{/^set -euo/d;s/^# \{0,1\}//;p}' "$0"; exit 0 ;;
    *) echo "screenshots-windows: unknown argument: $1" >&2; exit 2 ;;
    esac
    shift
done

log() { echo "screenshots-windows: $*" >&2; }
die() { log "$*"; keep=1; exit 1; }

# fonts-wine holds Wine's own fonts, among them the one of the caption buttons.
"$root/scripts/install-deps.sh" g++-mingw-w64-x86-64-posix cmake ninja-build googletest \
    wine64 wine locales xvfb imagemagick optipng fontconfig \
    fonts-wine fonts-ipafont-gothic fonts-ipafont-mincho python3

if [[ $do_build -eq 1 ]]; then
    [[ -f "$build/CMakeCache.txt" ]] ||
        cmake -S "$root" -B "$build" -G Ninja \
            -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
            -DCMAKE_BUILD_TYPE=Release -DTAVREN_BUILD_BENCH=OFF >/dev/null
    cmake --build "$build" -j "${JOBS:-2}" --target tavren3 tavren_screenshots >&2
fi
program=$build/Tavren3.exe
driver=$build/tests/windows/tavren_screenshots.exe
[[ -f "$program" ]] || die "no program at $program (build it, or leave out --no-build)"
[[ -f "$driver" ]] || die "no driver at $driver (build it, or leave out --no-build)"

export WINEPREFIX=$build/wine-shots
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
# Wine maps a Japanese UTF-8 locale to code page 932; the locale is made in
# the build folder, as the tests make it.
export LOCPATH=$build/locale
if [[ ! -d "$LOCPATH/ja_JP.UTF-8" ]]; then
    mkdir -p "$LOCPATH"
    localedef -i ja_JP -f UTF-8 "$LOCPATH/ja_JP.UTF-8" 2>/dev/null ||
        [[ -d "$LOCPATH/ja_JP.UTF-8" ]]
fi
wine_ja=(env LC_ALL=ja_JP.UTF-8)

work=""
xvfb=""
cleanup() {
    wineserver -k 2>/dev/null || true
    [[ -n "$xvfb" ]] && { kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; }
    if [[ -n "$work" ]]; then
        if [[ $keep -eq 1 ]]; then log "work folder kept: $work"; else rm -rf "$work"; fi
    fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM
work=$(mktemp -d "${TMPDIR:-/tmp}/tavren3-winshots.XXXXXX")

# -displayfd picks a free display number and writes it when the server is ready.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -dpi 96 3>"$work/display" \
    >"$work/xvfb.log" 2>&1 &
xvfb=$!
for _ in $(seq 100); do [[ -s "$work/display" ]] && break; sleep 0.1; done
[[ -s "$work/display" ]] || die "Xvfb did not start (see $work/xvfb.log)"
DISPLAY=":$(head -n1 "$work/display")"
export DISPLAY

# A server left on this prefix by an interrupted run would keep running.
wineserver -k 2>/dev/null || true
wineserver -w
if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
    log "creating the Wine prefix $WINEPREFIX"
    "${wine_ja[@]}" wineboot -i </dev/null >"$work/wineboot.log" 2>&1 ||
        die "wineboot failed (see $work/wineboot.log)"
fi

# The IPA fonts in the prefix's font folder, standing in for the fonts of a
# Japanese Windows; every program of the prefix in one Wine desktop named
# "shell", which has a taskbar with a notification area.
fonts=$WINEPREFIX/drive_c/windows/Fonts
mkdir -p "$fonts"
for family in IPAGothic IPAPGothic IPAMincho IPAPMincho; do
    file=$(fc-match -f '%{file}' "$family:lang=ja")
    [[ $(fc-match -f '%{family}' "$family:lang=ja") == *"$family"* && -f "$file" ]] ||
        die "font $family is not installed (Debian's fonts-ipafont-gothic, fonts-ipafont-mincho)"
    ln -sf "$(realpath "$file")" "$fonts/"
done
# The caption buttons' symbols come from Wine's Marlett, which this Wine
# does not find in its own data folder.
marlett=$(dpkg -L fonts-wine | grep -m1 '/marlett\.ttf$') || die "Wine's Marlett font is missing (fonts-wine)"
ln -sf "$marlett" "$fonts/"
python3 - "$work/setup.reg" <<'EOF'
import sys
subst = {
    "MS UI Gothic": "IPAPGothic", "MS Shell Dlg": "IPAPGothic", "MS Shell Dlg 2": "IPAPGothic",
    "ＭＳ Ｐゴシック": "IPAPGothic", "MS PGothic": "IPAPGothic",
    "ＭＳ ゴシック": "IPAGothic", "MS Gothic": "IPAGothic",
    "ＭＳ 明朝": "IPAMincho", "MS Mincho": "IPAMincho",
    "ＭＳ Ｐ明朝": "IPAPMincho", "MS PMincho": "IPAPMincho",
    "Tahoma": "IPAPGothic",
}
lines = ["Windows Registry Editor Version 5.00", "",
         r"[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes]"]
lines += [f'"{k}"="{v}"' for k, v in subst.items()]
lines += ["", r"[HKEY_CURRENT_USER\Software\Wine\Explorer]", '"Desktop"="shell"',
          "", r"[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]", '"shell"="1024x768"', ""]
with open(sys.argv[1], "w", encoding="utf-16", newline="\r\n") as f:
    f.write("\n".join(lines))
EOF
"${wine_ja[@]}" wine regedit /S "$(winepath -w "$work/setup.reg")" </dev/null >"$work/regedit.log" 2>&1 ||
    die "the prefix's settings were not taken (see $work/regedit.log)"
wineserver -w  # the new fonts and settings count from the next start

# Three watch entries, two running and one stopped, with their folders on
# drive C, so that the list and each page of the editor have something to show.
drive_c=$WINEPREFIX/drive_c
rm -rf "$drive_c/データ" "$drive_c/tavren-shots"
mkdir -p "$drive_c/データ/スキャン" "$drive_c/データ/請求書" "$drive_c/データ/処理済み" \
    "$drive_c/データ/受信" "$drive_c/tavren-shots/data/tavdat"
python3 - "$drive_c/tavren-shots/data/tavdat/dirinfo.dat" "$drive_c/データ" <<'EOF'
import struct, sys

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
import os, wave
with wave.open(os.path.join(sys.argv[2], "到着.wav"), "wb") as w:
    w.setnchannels(1); w.setsampwidth(2); w.setframerate(8000); w.writeframes(b"\0\0" * 800)

with open(sys.argv[1], "wb") as f:
    # Every new file is printed, with a message and a beep first.
    f.write(slot(1, 0, 1, 1, 1, 0, 0, 1, 0, "スキャン画像の印刷", r"C:\データ\スキャン", "",
                 r"C:\Windows\system32\notepad.exe", "", ""))
    # New CSV files are opened, announced with a sound, then moved away.
    f.write(slot(0, 1, 1, 1, 2, 2, 1, 0, 1, "請求書の受け取り", r"C:\データ\請求書", "*.csv",
                 "", r"C:\データ\処理済み", r"C:\データ\到着.wav"))
    # Each new file is told in a box, nothing more.
    f.write(slot(1, 0, 1, 2, 0, 0, 0, 0, 0, "受信の通知", r"C:\データ\受信", "", "", "", ""))
EOF

log "display $DISPLAY, prefix $WINEPREFIX"
# The driver ends on its own when a window does not show; the outer limit
# only guards against Wine itself hanging.
status=0
timeout 600 "${wine_ja[@]}" wine "$driver" "$(winepath -w "$program")" 'C:\tavren-shots\data' \
    "$(winepath -w "$work/shots")" 'C:\データ\受信\見積書.pdf' </dev/null \
    >"$work/driver.log" 2>&1 || status=$?
cat "$work/driver.log" >&2
if [[ $status -ne 0 ]]; then
    import -silent -window root "$work/screen-at-failure.png" 2>/dev/null || true
    [[ $status -eq 124 ]] && log "Wine did not finish within 10 minutes"
    die "no pictures written; the screen at that moment: $work/screen-at-failure.png"
fi

mkdir -p "$out"
for bmp in "$work"/shots/*.bmp; do
    png=$out/$(basename "$bmp" .bmp).png
    convert "$bmp" -strip "$png"
    optipng -quiet -o5 "$png"
    log "saved $png"
done
