#!/usr/bin/env bash
# The watcher at the process's limits: a reader of its output that quits,
# and too few descriptors for every entry.
#
# Usage: scenario_limits.sh PATH_TO_TAVREN3
# shellcheck source=scenario.bash
source "$(dirname "$0")/scenario.bash"

entries() {  # COUNT MESSAGEMODE: entry K moves the files of $d/inK to $d/outK
    for ((k = 0; k < $1; k++)); do
        mkdir -p "$d/in$k" "$d/out$k"
        slot 1 0 1 "$2" 0 2 0 0 0 "e$k" "$d/in$k" "" "" "$d/out$k" ""
    done >"$d/data/tavdat/dirinfo.dat"
}

# Output into a pipe whose reader quits after the first byte: the later
# files are acted on all the same, and the failure is told once.
closed_output() {
    begin
    entries 1 2
    mkfifo "$d/pipe"
    head -c 1 <"$d/pipe" >/dev/null &
    local reader=$! f
    "$bin" --headless --data-dir "$d/data" >"$d/pipe" 2>>"$d/stderr" &
    wpid=$!
    own "$wpid"
    wait_for 10 eval '(($(starts) > 0))' || fail "no start line"
    echo a >"$d/in0/a"
    wait "$reader"
    for f in a b c; do
        [[ $f == a ]] || echo "$f" >"$d/in0/$f"
        wait_for 10 test -e "$d/out0/$f" || fail "$f was not moved"
    done
    (($(count '標準出力に書けません: ' "$d/stderr") == 1)) || fail "the failure not told once"
    stop_watcher TERM
}

# A soft limit of 64 is raised to the hard one: all 200 entries act. With
# a hard limit of 40, only those that fit are watched and counted, the rest
# told once, and each watched one acts without a line per entry.
descriptor_limit() {
    begin
    entries 200 0
    watch bash -c 'ulimit -Sn 64 && exec "$0" "$@"'
    grep -q ' 200 件の監視を開始しました' "$d/stderr" || fail "not 200 entries with a soft limit"
    echo x >"$d/in199/x"
    wait_for 10 test -e "$d/out199/x" || fail "entry 200 did not act"
    stop_watcher TERM
    local k n
    : >"$d/stderr"
    watch bash -c 'ulimit -n 40 && exec "$0" "$@"'
    n=$(sed -n 's/^tavren3: \([0-9]*\) 件の監視を開始しました.*/\1/p' "$d/stderr" | tail -1)
    ((n > 0 && n < 200)) || fail "$n entries watched with 40 descriptors"
    for ((k = 0; k < n; k++)); do echo y >"$d/in$k/y"; done
    wait_for 10 eval '(($(find "$d" -path "$d/out*/y" | wc -l) == n))' || fail "not all $n acted"
    (($(count "上限 (40) が足りないため、$((200 - n)) 件を監視できません" "$d/stderr") == 1)) ||
        fail "the entries left out were not told once"
    # The activity log's lines aside, which name every file.
    (($(count '^tavren3: ' "$d/stderr") <= 3)) || fail "$(lines "$d/stderr") lines after the start"
    stop_watcher TERM
}

run_cases closed_output descriptor_limit; exit
