#!/usr/bin/env bash
# Two watchers of one data folder would both act on every file. A second
# one refuses to start, naming the folder and the first one's pid, while the
# first goes on alone; the lock ends with its holder, also a killed one.
#
# Usage: second_instance.sh PATH_TO_TAVREN3
set -euo pipefail
export LC_ALL=C

bin=${1:?usage: second_instance.sh PATH_TO_TAVREN3}
work=$(mktemp -d)
pid=
cleanup() {
    if [[ -n $pid ]]; then kill -KILL "$pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    for f in "$work"/std*; do sed "s/^/  $(basename "$f") | /" "$f" >&2 || true; done
    exit 1
}
# shellcheck source=slots.bash
source "$(dirname "$0")/slots.bash"

wait_for() {  # SECONDS COMMAND...: polls until the command succeeds
    local deadline=$((SECONDS + $1)); shift
    until "$@"; do
        ((SECONDS < deadline)) || return 1
        sleep 0.05
    done
}

start() {  # NAME: starts a watcher on the data folder, output in $work/stdNAME.{out,err}
    "$bin" --headless --data-dir "$work/data" >"$work/std$1.out" 2>"$work/std$1.err" &
    pid=$!
    wait_for 10 grep -qs "監視を開始しました" "$work/std$1.err" || fail "watcher $1 did not start"
}

mkdir -p "$work/data/tavdat" "$work/in" "$work/out"
# The program each dropped file runs, waited for before the move: counts its runs.
cat >"$work/count" <<'SCRIPT'
#!/bin/sh
echo run >>"$(dirname "$0")/runs"
SCRIPT
chmod +x "$work/count"
{
    slot 1 0 1 1 0 2 0 1 0 "in" "$work/in" "" "$work/count" "$work/out" ""
} >"$work/data/tavdat/dirinfo.dat"

start first
first=$pid

begin=$SECONDS
status=0
timeout 10 "$bin" --headless --data-dir "$work/data" >"$work/stdsecond.out" \
    2>"$work/stdsecond.err" || status=$?
((status == 1)) || fail "the second watcher ended with status $status, not 1"
((SECONDS - begin <= 3)) || fail "the second watcher took $((SECONDS - begin)) s to give up"
grep -qF "データフォルダ $work/data は別の Tavren3 (プロセス $first) が使用中です。" \
    "$work/stdsecond.err" || fail "the second watcher did not name the folder and its holder"

echo hello >"$work/in/report.txt"
wait_for 10 test -e "$work/out/report.txt" || fail "report.txt was not moved"
sleep 1  # time for a second mover, were there one
[[ $(ls -A "$work/out") == report.txt ]] || fail "moved more than once: $(ls -A "$work/out")"
[[ $(wc -l <"$work/runs") == 1 ]] || fail "the program ran $(wc -l <"$work/runs") times"

kill -TERM "$first"
status=0
wait "$first" || status=$?
((status == 0)) || fail "exit status $status after SIGTERM"
pid=

# Free again once the holder has ended, also when it was killed.
start third
kill -KILL "$pid"
wait "$pid" 2>/dev/null || true
start fourth
kill -TERM "$pid"
wait "$pid" || fail "the last watcher ended with status $?"
pid=
echo "second instance: ok"
