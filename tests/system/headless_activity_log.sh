#!/usr/bin/env bash
# The activity log: every file of a look with its program's start and end
# and its move (one that fails first, then is retried), each line on
# standard error too; rotation at a small size while the command line
# appends at the same time, without a torn line.
#
# Usage: headless_activity_log.sh PATH_TO_TAVREN3
# shellcheck source=scenario.bash
source "$(dirname "$0")/scenario.bash"

t3() { "$bin" --data-dir "$d/data" "$@" >"$d/out" 2>"$d/err" </dev/null; }
has() { grep -qP -- "$1" "$2"; }  # PERL-REGEX FILE

five_files() {  # five files in one look, their destination missing at first
    begin
    program prog 'exit 3'
    mkdir -p "$d/in" "$d/src" "$d/dest"
    # A stopped entry before it: lines carry the number the list shows.
    t3 add --title idle --folder "$d/src" && t3 stop 1 || fail "add a stopped entry"
    t3 add --title mv --folder "$d/in" --move-to "$d/dest" --wait --program "$d/prog" ||
        fail "add"
    rmdir "$d/dest"
    watch
    local i log=$d/data/tavren3.log
    for i in 1 2 3 4 5; do printf x >"$d/src/f$i.txt"; done
    mv "$d"/src/*.txt "$d/in/"
    failed() { grep -P '\tnot-moved\t' "$log" | cut -f5 | sort -u | wc -l; }
    wait_for 30 eval '(($(failed) == 5))' || fail "not every move failed first"
    mkdir "$d/dest"
    wait_for 30 eval '(($(count "	moved	" "$log") == 5))' || fail "not moved: $(cat "$log")"
    local at='^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d\t2\tmv\t'
    for i in 1 2 3 4 5; do
        for line in "new\tf$i.txt\t$" "started\tf$i.txt\t\d+$" "ended\tf$i.txt\texit 3, \d+\.\d{3} s$" \
            "not-moved\tf$i.txt\t移動先のフォルダがありません$" "retry\tf$i.txt\t\d+$" \
            "moved\tf$i.txt\t$d/dest/f$i.txt$"; do
            has "$at$line" "$log" || fail "no line $line in: $(cat "$log")"
        done
        has "\tmoved\tf$i.txt\t" "$d/stderr" || fail "f$i.txt moved, not on standard error"
    done
    (($(count "	new	" "$log") == 5)) || fail "a file found new more than once"
}

rotation() {  # the watcher and the command line append at once
    begin
    mkdir -p "$d/in"
    t3 add --title busy --folder "$d/in" || fail "add"
    export TAVREN3_LOG_LIMIT=4000
    watch
    local i
    for i in $(seq 1 30); do
        t3 add --title "c$i" --folder "$d/in" || fail "add c$i"
        t3 remove 2 || fail "remove c$i"
        printf x >"$d/in/r$i.txt"
    done
    wait_for 20 has "\tnew\tr30.txt\t" "$d/data/tavren3.log"* || fail "r30.txt not logged"
    [[ -e $d/data/tavren3.log.3 && ! -e $d/data/tavren3.log.6 ]] || fail "not rotated: $(ls "$d/data")"
    local f
    for f in "$d"/data/tavren3.log*; do
        [[ $f == *.lock ]] && continue
        # Over by a line at most: another process's, appended as it rotated.
        (($(stat -c %s "$f") <= 4300)) || fail "$f is larger than its limit"
        ! grep -vP '^\d{4}-[^\t]*\t(-|\d+)\t[^\t]*\t[a-z-]+\t[^\t]*\t[^\t]*$' "$f" ||
            fail "a torn line in $f"
    done
    # Rotated away are the oldest; the command's lines are all still there
    # unless rotated out of the five kept.
    (($(cat "$d"/data/tavren3.log* | count '	command	' /dev/stdin) >= 10)) ||
        fail "the command line's changes are not logged"
}

command() {  # the log command's filters, over the rotated files in order
    begin
    local -A line=(
        [a]=$'2026-01-01T10:00:00.000+09:00\t1\ta\tnew\tx.txt\t'
        [b]=$'2026-01-02T10:00:00.000+09:00\t2\tb\tmoved\ty.csv\t/d/y.csv'
        [c]=$'2026-01-03T12:30:00.000+09:00\t-\t\treloaded\t\t'
        [d]=$'2026-01-03T12:31:00.000+09:00\t1\ta\tnew\tz.csv\t')
    printf '%s\n' "${line[a]}" >"$d/data/tavren3.log.2"
    printf '%s\n' "${line[b]}" >"$d/data/tavren3.log.1"
    printf '%s\ntorn\n%s\n' "${line[c]}" "${line[d]}" >"$d/data/tavren3.log"
    local row options want expected k
    while IFS='|' read -r options want; do
        expected=
        for k in $want; do expected+=${line[$k]}$'\n'; done
        # shellcheck disable=SC2086
        t3 log $options || fail "log $options: $(cat "$d/err")"
        [[ $(cat "$d/out"; echo .) == "$expected." ]] || fail "log $options: $(cat "$d/out")"
    done <<'TABLE'
|a b c d
--entry 1|a d
--since 2026-01-02|b c d
--since 2026-01-03T12:31|d
--file *.csv|b d
--file x.txt --entry 1|a
--entry 2 --since 2026-01-03|
TABLE
    t3 log --since 2026-1-2 && fail "a malformed --since was taken"
    "$bin" --data-dir "$d/data" log --follow --entry 2 >"$d/follow" 2>&1 &
    own $!
    wait_for 10 grep -q y.csv "$d/follow" || fail "--follow printed nothing"
    printf '%s\n%s\n' "${line[d]}" "${line[b]/y.csv/w.csv}" >>"$d/data/tavren3.log"
    wait_for 10 grep -q w.csv "$d/follow" || fail "--follow missed a new line"
    (($(lines "$d/follow") == 2)) || fail "--follow: $(cat "$d/follow")"
}

run_cases five_files rotation command
exit
