#!/usr/bin/env bash
# The watch entries from the command line, as a user on a server makes
# them: added to a fresh data folder, refused with the editor's messages
# and nothing changed, watched, changed while the watcher runs (which is
# told to reload), and exported and imported again byte for byte.
#
# Usage: headless_entries.sh PATH_TO_TAVREN3
set -euo pipefail
export LC_ALL=C

bin=${1:?usage: headless_entries.sh PATH_TO_TAVREN3}
[[ $bin == /* ]] || bin=$PWD/$bin
work=$(mktemp -d)
pid=
cleanup() {
    if [[ -n $pid ]]; then kill -KILL "$pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    for f in out err wout werr; do sed "s/^/  $f | /" "$work/$f" >&2 2>/dev/null || true; done
    exit 1
}
wait_for() {  # SECONDS COMMAND...: polls until the command succeeds
    local deadline=$((SECONDS + $1)); shift
    until "$@"; do
        ((SECONDS < deadline)) || return 1
        sleep 0.05
    done
}
t3() { "$bin" --data-dir "$work/data" "$@" >"$work/out" 2>"$work/err" </dev/null; }
settings=$work/data/tavdat/dirinfo.dat

# A reading command creates no data folder.
t3 list && fail "list of a missing data folder"
grep -q "no such data folder: $work/data" "$work/err" || fail "no word of the missing data folder"
[[ ! -e $work/data ]] || fail "list created the data folder"
mkdir "$work/data"
t3 list || fail "list of a fresh data folder"
grep -q "no watch entries" "$work/out" || fail "an empty list says so"

# A folder that is missing is created only when the user says so.
t3 add --title "受信 CSV" --folder "$work/in" --pattern '*.csv' --message --move-to "$work/done" \
    && fail "a missing folder was taken without --create-folders"
grep -q "the destination folder does not exist" "$work/err" || fail "no question for the destination"
[[ ! -e $settings || ! -s $settings ]] || fail "a refused add wrote the settings"
t3 add --title "受信 CSV" --folder "$work/in" --pattern '*.csv' --message --move-to "$work/done" \
    --create-folders || fail "add with --create-folders"
[[ -d $work/in && -d $work/done ]] || fail "the folders were not created"
((($(stat -c %s "$settings")) == 632)) || fail "one entry is one slot"
cp "$settings" "$work/one.dat"

# Refusals: the editor's message, a non-zero status, the file unchanged.
refused() {  # MESSAGE ARGS...
    local message=$1; shift
    t3 "$@" && fail "accepted: $*"
    grep -q "$message" "$work/err" || fail "no message '$message' for: $*"
    cmp -s "$settings" "$work/one.dat" || fail "the settings changed after: $*"
}
refused "the text is too long" add --title "$(printf 'あ%.0s' {1..29})" --folder "$work/in"
refused "cannot be stored" add --title "x" --folder "$work/in/😀"
refused "no title given" change 1 --title ""
refused "no file name pattern given" change 1 --pattern ""
refused "the folder to watch starts or ends with a blank" change 1 --folder "$work/in "
refused "no entry number 2" stop 2

# The watcher acts on the entry made above.
"$bin" --headless --data-dir "$work/data" >"$work/wout" 2>"$work/werr" &
pid=$!
started() { (($(grep -c "監視を開始しました" "$work/werr") >= $1)); }
wait_for 10 started 1 || fail "the watcher did not start"
echo a >"$work/in/a.csv"
wait_for 10 test -e "$work/done/a.csv" || fail "a.csv was not moved"
grep -qx "Tavren3: a.csvを実行します。" "$work/wout" || fail "no message for a.csv"

# Changed while it runs: the watcher is told, reloads, and takes *.txt now.
t3 change 1 --pattern '*.txt' || fail "change while watching"
grep -q "Told the running Tavren3 (process $pid)" "$work/out" || fail "the watcher was not told"
wait_for 10 started 2 || fail "no reload after the change"
echo b >"$work/in/b.csv"
echo c >"$work/in/c.txt"
wait_for 10 test -e "$work/done/c.txt" || fail "c.txt was not moved after the reload"
[[ -e $work/in/b.csv ]] || fail "b.csv was moved though the pattern changed"

# While a tray program has the settings open, the command line keeps off.
echo "$pid" >"$work/data/tavren3.settings-open"
t3 stop 1 && fail "stop while the settings are open"
grep -q "has the watch settings open" "$work/err" || fail "no word of the open settings"
rm "$work/data/tavren3.settings-open"

# Export and import: the same bytes, and a faulty text changes nothing.
(cd "$work" && t3 add --title "  blanks  " --folder in --program 'sh -c "exit 0"' --wait \
    --sound beep) || fail "second add"
t3 stop 2 || fail "stop"
cp "$settings" "$work/two.dat"
t3 export "$work/entries.txt" || fail "export to a file"
grep -q '^title = "  blanks  "$' "$work/entries.txt" || fail "blanks at a title's ends not kept"
(($(grep -c "^folder = $work/in$" "$work/entries.txt") == 2)) || fail "a relative folder not stored whole"
t3 import "$work/entries.txt" || fail "import"
cmp "$settings" "$work/two.dat" || fail "export then import changed the settings file"
t3 export || fail "export to standard output"
cmp -s "$work/out" "$work/entries.txt" || fail "export to standard output differs"
sed 's|^folder = .*/in$|folder = '"$work"'/gone/deeper|' "$work/entries.txt" >"$work/bad.txt"
t3 import --create-folders "$work/bad.txt" && fail "import of a folder that cannot be created"
grep -q "record 1 (line 7), folder" "$work/err" || fail "the faulty record is not named"
cmp -s "$settings" "$work/two.dat" || fail "a refused import changed the settings"

kill -TERM "$pid"
wait "$pid" || fail "the watcher's exit status"
pid=

# Commands at once take turns: no change is lost.
for i in 1 2 3 4 5 6; do
    "$bin" --data-dir "$work/data" add --title "p$i" --folder "$work/in" >/dev/null 2>&1 </dev/null &
done
wait
t3 list || fail "list after adds at once"
(($(grep -c "  p[1-6]  " "$work/out") == 6)) || fail "adds at once lost an entry"

# One language a run, the one its help uses, under the name it was started
# as; an option without its value is told so.
name=$(basename "$bin")
while IFS='|' read -r lang expect args; do
    read -ra words <<<"$args"
    env -u LC_ALL LANG="$lang" "$bin" --data-dir "$work/data" "${words[@]}" >"$work/out" \
        2>"$work/err" </dev/null && fail "accepted under $lang: $args"
    grep -qxF "$expect" "$work/err" || fail "no '$expect' under $lang for: $args"
    [[ $lang != C ]] || ! grep -q '[^ -~]' "$work/err" || fail "not all English for: $args"
done <<END
C|$name add: no title given.|add --folder $work/in
ja_JP.UTF-8|$name add: 何も変更していません (--title)|add --folder $work/in
C|$name: missing value for --data-dir|--data-dir
ja_JP.UTF-8|$name list: --data-dir の値がありません|list --data-dir
C|$name: unknown argument: --frobnicate|--frobnicate
END
# The store's own messages follow the run's language too.
mkdir "$work/bad" && touch "$work/bad/tavdat"
env -u LC_ALL LANG=C "$bin" --data-dir "$work/bad" list 2>"$work/err" && fail "read a file as data"
grep -q "^$name list: cannot read the settings file " "$work/err" || fail "store message not English"

env -u LC_ALL LANG=ja_JP.UTF-8 "$bin" add --help | grep -q "^使い方: .* add OPTION" \
    || fail "no Japanese help under a Japanese locale"
"$bin" --help >"$work/help"
grep -q "^  import FILE" "$work/help" || fail "the help does not list the commands"

# The tray program, started without any entry, reloads on the command
# line's word too (offscreen, with a runtime folder of its own).
if grep -q "notification area" "$work/help"; then
    mkdir -m 700 "$work/run"
    QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/run" TMPDIR="$work/run" \
        "$bin" --data-dir "$work/tray" >"$work/wout" 2>"$work/werr" &
    pid=$!
    wait_for 10 test -S "$work/run/$(basename "$bin")-$(id -u)" || fail "the tray did not start"
    mkdir "$work/tray-in" "$work/tray-done"
    "$bin" --data-dir "$work/tray" add --title tray --folder "$work/tray-in" \
        --move-to "$work/tray-done" >"$work/out" 2>"$work/err" || fail "add beside the tray"
    grep -q "Told the running Tavren3 (process $pid)" "$work/out" || fail "the tray was not told"
    kill -0 "$pid" || fail "the tray ended on the reload request"
    # A file written before the reloaded entry's first look belongs to its
    # starting state and is never new: each try writes a name of its own.
    try=0
    moved() {
        try=$((try + 1))
        echo d >"$work/tray-in/d$try.txt"
        wait_for 2 test -e "$work/tray-done/d$try.txt"
    }
    wait_for 30 moved || fail "the tray did not watch the added entry"
    kill -TERM "$pid"
    wait "$pid" 2>/dev/null || true
    pid=
fi
echo "entries from the command line: ok"
