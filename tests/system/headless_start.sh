#!/usr/bin/env bash
# Starts the headless watcher on a hand-made settings file, checks the
# snapshots it takes of the running entries byte for byte, and that SIGTERM
# ends it with status 0. Also checks --version and an unknown argument.
#
# Usage: headless_start.sh PATH_TO_TAVREN3
set -euo pipefail
export LC_ALL=C  # ${#var} counts bytes, as the fixed-width fields do

bin=${1:?usage: headless_start.sh PATH_TO_TAVREN3}
work=$(mktemp -d)
pid=
cleanup() {
    if [[ -n $pid ]]; then kill -KILL "$pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    if [[ -s $work/stderr ]]; then sed 's/^/  | /' "$work/stderr" >&2; fi
    exit 1
}

# shellcheck source=slots.bash
source "$(dirname "$0")/slots.bash"

same_bytes() {  # EXPECTED ACTUAL
    cmp -s "$1" "$2" && return 0
    echo "expected:" >&2; od -Ax -tx1z "$1" >&2
    echo "actual:" >&2; od -Ax -tx1z "$2" >&2
    return 1
}

# --- command line -----------------------------------------------------------

version=$("$bin" --version) || fail "--version exited with status $?"
[[ $version == "フォルダ監視 Tavren Version 3.02.4.25" ]] || fail "--version printed '$version'"

rc=0
"$bin" --no-such-option >/dev/null 2>"$work/stderr" || rc=$?
[[ $rc == 2 ]] || fail "an unknown argument gave status $rc, not 2"
: >"$work/stderr"

# A first start without entries says how to add one.
mkdir -p "$work/empty"
timeout -s INT 3 "$bin" --headless --data-dir "$work/empty" 2>"$work/stderr" >/dev/null || true
grep -q "項目は「$(basename "$bin") add」で追加できます" "$work/stderr" ||
    fail "no hint on how to add an entry"
: >"$work/stderr"

# --- watched folders --------------------------------------------------------

data=$work/data
mkdir -p "$data/tavdat" "$work/reports/old" "$work/stopped" "$work/logs"

head -c 1234 /dev/zero >"$work/reports/report.txt"
touch -d '2026-12-06 15:04:09' "$work/reports/report.txt"
echo "not a target" >"$work/stopped/ignored.txt"
head -c 42 /dev/zero >"$work/logs/app.log"
touch -d '2025-01-02 03:04:05' "$work/logs/app.log"
echo "not matching *.log" >"$work/logs/notes.txt"

# Running, stopped, running with fileMode 1: the running ones become slots 0
# and 1. No messages, sounds or actions, so nothing else happens.
{
    slot 1 0 1 0 0 0 0 0 0 "reports" "$work/reports" "" "" "" ""
    slot 0 0 1 0 0 0 0 0 0 "stopped" "$work/stopped" "" "" "" ""
    slot 1 1 1 0 0 0 0 0 0 "logs" "$work/logs" "*.log" "" "" ""
} >"$data/tavdat/dirinfo.dat"
[[ $(stat -c %s "$data/tavdat/dirinfo.dat") == 1896 ]] || fail "settings file built wrong"

# Left over from an earlier run with more entries: not ours to touch.
printf 'stale snapshot' >"$data/tavdat/2.dir"
cp "$data/tavdat/2.dir" "$work/stale.dir"

record 1234 20261206 150409 report.txt >"$work/expect0.dir"
record 42 20250102 30405 app.log >"$work/expect1.dir"

# --- start, snapshots, stop -------------------------------------------------

"$bin" --headless --data-dir "$data" >"$work/stdout" 2>"$work/stderr" &
pid=$!

deadline=$((SECONDS + 15))
until [[ -f $data/tavdat/0.dir && -f $data/tavdat/1.dir ]]; do
    kill -0 "$pid" 2>/dev/null || fail "tavren3 ended before writing its snapshots"
    ((SECONDS < deadline)) || fail "no snapshots after 15 s"
    sleep 0.05
done

# Snapshot files are replaced by rename, so one that exists is complete.
same_bytes "$work/expect0.dir" "$data/tavdat/0.dir" || fail "snapshot of slot 0 differs"
same_bytes "$work/expect1.dir" "$data/tavdat/1.dir" || fail "snapshot of slot 1 differs"
same_bytes "$work/stale.dir" "$data/tavdat/2.dir" || fail "snapshot of an unused slot changed"

kill -TERM "$pid"
deadline=$((SECONDS + 5))
while kill -0 "$pid" 2>/dev/null; do
    ((SECONDS < deadline)) || fail "still running 5 s after SIGTERM"
    sleep 0.05
done
rc=0
wait "$pid" || rc=$?
pid=
[[ $rc == 0 ]] || fail "exit status $rc after SIGTERM"

echo "ok"
