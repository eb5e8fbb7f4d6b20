#!/usr/bin/env bash
# Files as people drop them: a file still being written waits for its
# writer; looks after a quiet spell come at once, not after the 3-second
# debounce; a name taken again while a look runs is acted on too.
#
# Usage: scenario_writers.sh PATH_TO_TAVREN3
# shellcheck source=scenario.bash
source "$(dirname "$0")/scenario.bash"

# A 20 kB file written in 1 kB steps over 4 s, into a folder whose program
# (waited for) must start once, after the close, and whose move to another
# file system must carry the whole file. A file written at once beside it
# is acted on within a second.
writer() {
    begin
    mkdir -p "$d/in" "$d/in2"
    local dest=$d/out
    if [[ $(stat -c %d /dev/shm 2>/dev/null) != "$(stat -c %d "$d")" ]]; then
        dest=$(mktemp -d /dev/shm/tavren3.XXXXXX)
        echo "$dest" >"$d/shm"
        trap 'rm -rf "$(cat "$d/shm")"' EXIT
    fi
    mkdir -p "$dest"
    program prog
    program prog2
    {
        slot 1 0 1 0 0 2 0 1 0 "big" "$d/in" "" "$d/prog" "$dest" ""
        slot 1 0 1 0 0 0 0 1 0 "whole" "$d/in2" "" "$d/prog2" "" ""
    } >"$d/data/tavdat/dirinfo.dat"
    watch

    (
        exec 3>"$d/in/big.dat"
        for _ in {1..20}; do
            head -c 1024 /dev/zero >&3
            sleep 0.2
        done
        now_ms >"$d/closing"
        exec 3>&-
    ) &
    own $!
    sleep 1
    head -c 20480 /dev/zero >"$d/in2/whole.dat"
    local t0
    t0=$(now_ms)
    wait_for 5 test -s "$d/prog2.log" || fail "the complete file was not acted on"
    if leases; then
        (($(head -n1 "$d/prog2.log") - t0 <= 1000)) ||
            fail "the complete file was acted on after $(($(head -n1 "$d/prog2.log") - t0)) ms"
    else
        echo "$cname: no file leases here: not timing the complete file"
    fi

    wait_for 15 test -s "$d/prog.log" || fail "the written file was never acted on"
    [[ -s $d/closing ]] || fail "the program started while the file was still open"
    local closing start
    closing=$(cat "$d/closing")
    start=$(head -n1 "$d/prog.log")
    ((start >= closing)) || fail "the program started $((closing - start)) ms before the close"
    ((start - closing <= 2000)) || fail "the program started $((start - closing)) ms after the close"
    wait_for 5 test -e "$dest/big.dat" || fail "big.dat was not moved"
    sleep 1
    (($(runs prog) == 1)) || fail "the program started $(runs prog) times for one file"
    [[ $(stat -c %s "$dest/big.dat") == 20480 ]] ||
        fail "the moved file has $(stat -c %s "$dest/big.dat") bytes, not 20480"
}

# Files 3.5 s apart into a folder whose entry runs a program and moves
# them away: each is acted on within 1.5 s of its creation (the move's own
# notification and the look it gets must not hold back the next file).
debounce() {
    begin
    mkdir -p "$d/in" "$d/out"
    leases || skip "no file leases here, so new files wait a second"
    program prog
    slot 1 0 1 1 0 2 0 0 0 "in" "$d/in" "" "$d/prog" "$d/out" "" >"$d/data/tavdat/dirinfo.dat"
    watch
    local i t0 next
    next=$(now_ms)
    for i in 1 2 3; do
        while (($(now_ms) < next)); do sleep 0.05; done
        t0=$(now_ms)
        next=$((t0 + 3500))
        echo "$i" >"$d/in/f$i.txt"
        wait_for 5 eval '(($(runs prog) >= i))' || fail "f$i.txt was not acted on"
        local t
        t=$(sed -n "${i}p" "$d/prog.log")
        ((t - t0 <= 1500)) || fail "f$i.txt was acted on $((t - t0)) ms after its creation"
    done
}

# The look that moves a.csv and b.csv runs the program for each; the
# program's second run writes a new file under the name just moved away.
# That new file is acted on by a later look and moved under a time-stamped
# name; nothing stays behind.
reuse() {
    begin
    mkdir -p "$d/in" "$d/out" "$d/new"
    program prog "[ -e '$d/made' ] && exit 0
for n in a b; do
    if [ -e '$d/out/'\$n.csv ]; then echo new >'$d/in/'\$n.csv; touch '$d/made'; exit 0; fi
done"
    slot 1 1 1 0 0 2 0 1 0 "in" "$d/in" "*.csv" "$d/prog" "$d/out" "" >"$d/data/tavdat/dirinfo.dat"
    watch
    echo a >"$d/new/a.csv"
    echo b >"$d/new/b.csv"
    # The first notification gets a look at once; the two files come within
    # the following 3 s, so one look meets both.
    touch "$d/in/start.txt"
    sleep 0.3
    mv "$d/new/a.csv" "$d/new/b.csv" "$d/in/"
    done_() { [[ $(files "$d/out") == 3 && $(files "$d/in") == 1 ]]; }
    wait_for 15 done_ || fail "in: $(ls "$d/in" | tr '\n' ' ') out: $(ls "$d/out" | tr '\n' ' ')"
    [[ -e $d/made ]] || fail "the program never met a moved file"
    ls "$d/out" | grep -Eqx '[ab]_[0-9]{12}\.csv' || fail "no time-stamped name in out: $(ls "$d/out")"
    sleep 0.5
    (($(runs prog) == 3)) || fail "the program ran $(runs prog) times for three files"
}

run_cases writer debounce reuse; exit
