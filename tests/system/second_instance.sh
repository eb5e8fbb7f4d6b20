#!/usr/bin/env bash
# Two watchers of one data folder would both act on every file. A second
# one refuses to start, naming the folder and the first one's pid, while the
# first goes on alone; the lock ends with its holder, also a killed one.
#
# Usage: second_instance.sh PATH_TO_TAVREN3
# shellcheck source=scenario.bash
source "$(dirname "$0")/scenario.bash"

second_watcher() {
    begin
    mkdir -p "$d/in" "$d/out"
    program count
    slot 1 0 1 1 0 2 0 1 0 "in" "$d/in" "" "$d/count" "$d/out" "" >"$d/data/tavdat/dirinfo.dat"
    watch
    local first=$wpid status=0 t0=$SECONDS
    timeout 10 "$bin" --headless --data-dir "$d/data" >"$d/second.out" 2>"$d/second.err" ||
        status=$?
    ((status == 1)) || fail "the second watcher ended with status $status, not 1"
    ((SECONDS - t0 <= 3)) || fail "the second watcher took $((SECONDS - t0)) s to give up"
    grep -qF "データフォルダ $d/data は別の Tavren3 (プロセス $first) が使用中です。" \
        "$d/second.err" || fail "the second watcher did not name the folder and its holder"

    echo hello >"$d/in/report.txt"
    wait_for 10 test -e "$d/out/report.txt" || fail "report.txt was not moved"
    sleep 1  # time for a second mover, were there one
    [[ $(ls -A "$d/out") == report.txt ]] || fail "moved more than once: $(ls -A "$d/out")"
    (($(runs count) == 1)) || fail "the program ran $(runs count) times"
    stop_watcher TERM

    # Free again once the holder has ended, also when it was killed.
    watch
    stop_watcher KILL
    watch
    stop_watcher TERM
}

run_cases second_watcher
exit
