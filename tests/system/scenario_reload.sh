#!/usr/bin/env bash
# Reloads, crashes and restarts while files arrive: every file is acted on
# exactly once across a reload or a crash; a clean stop forgets what came
# while nothing watched.
#
# Usage: scenario_reload.sh PATH_TO_TAVREN3
# shellcheck source=scenario.bash
source "$(dirname "$0")/scenario.bash"

# Settings of the cases below: run a quick program (waited for), then move
# the file to out.
mover() {
    begin
    mkdir -p "$d/in" "$d/out"
    program prog
    slot 1 0 1 2 0 2 0 1 0 "in" "$d/in" "" "$d/prog" "$d/out" "" >"$d/data/tavdat/dirinfo.dat"
}
all_moved() { [[ $(files "$d/out") == "$1" && $(files "$d/in") == 0 ]]; }  # COUNT
check_moved() {  # COUNT: every file moved, and acted on once
    wait_for 20 all_moved "$1" ||
        fail "$(files "$d/out") of $1 files moved; left in in: $(ls "$d/in" | head -5 | tr '\n' ' ')"
    ls "$d/out" | grep -Eqv '^f[0-9]+\.txt$' && fail "a file was moved twice: $(ls "$d/out" | grep -Ev '^f[0-9]+\.txt$')"
    sleep 0.5
    (($(runs prog) == $1)) || fail "the program ran $(runs prog) times for $1 files"
    local notices
    notices=$(lines "$d/stdout")
    ((notices >= 1 && notices <= $1)) || fail "$notices notices for $1 files"
}

# SIGHUP every 0.5 to 1 s while 60 files arrive over 10 s.
hup_burst() {
    mover
    watch
    (
        for i in {1..60}; do
            echo "$i" >"$d/in/f$i.txt"
            sleep 0.15
        done
        touch "$d/fed"
    ) &
    own $!
    local n=0
    until [[ -e $d/fed ]]; do
        kill -HUP "$wpid"
        sleep "0.$((5 + n++ % 5))"
    done
    kill -0 "$wpid" 2>/dev/null || fail "the watcher ended"
    (($(starts) >= 5)) || fail "only $(starts) starts after the SIGHUPs"
    check_moved 60
}

# A SIGHUP while the program of a look runs (3 s, waited for): it is not
# started a second time for the same file.
hup_during_program() {
    begin
    mkdir -p "$d/in"
    # A converter that rewrites its file in place, on an entry that reacts
    # to updates: the reload must not take the rewrite for a new change.
    program slow "sleep 3; echo converted >>'$d/in/a.txt'; touch '$d/slow-done'"
    slot 1 0 0 0 0 0 0 1 0 "in" "$d/in" "" "$d/slow" "" "" >"$d/data/tavdat/dirinfo.dat"
    watch
    echo x >"$d/in/a.txt"
    wait_for 5 test -s "$d/slow.log" || fail "the program did not start"
    reload
    wait_for 10 test -e "$d/slow-done" || fail "the program did not end"
    sleep 1.5
    (($(runs slow) == 1)) || fail "the program started $(runs slow) times for one file"
}

# kill -9 while files arrive: those that came before the crash without a
# look yet and those that came while nothing ran are acted on after the
# restart; the one already moved is not acted on again.
crash() {
    mover
    watch
    echo 1 >"$d/in/f1.txt"
    wait_for 5 test -e "$d/out/f1.txt" || fail "f1.txt was not moved"
    # Within 3 s of the last notification: held back for a later look.
    local i
    for i in 2 3 4 5; do echo "$i" >"$d/in/f$i.txt"; done
    stop_watcher KILL
    for i in 6 7 8 9 10; do echo "$i" >"$d/in/f$i.txt"; done
    watch
    check_moved 10
}

# After SIGTERM, files that came while nothing ran are taken as they are:
# only a file dropped after the restart is acted on.
clean_stop() {
    mover
    watch
    echo 1 >"$d/in/f1.txt"
    wait_for 5 test -e "$d/out/f1.txt" || fail "f1.txt was not moved"
    stop_watcher TERM
    echo 2 >"$d/in/g2.txt"
    echo 3 >"$d/in/g3.txt"
    watch
    echo 4 >"$d/in/f4.txt"
    wait_for 10 test -e "$d/out/f4.txt" || fail "f4.txt was not moved"
    sleep 0.5
    [[ -e $d/in/g2.txt && -e $d/in/g3.txt ]] || fail "files from before the restart were acted on"
    (($(runs prog) == 2)) || fail "the program ran $(runs prog) times for two files"
}

run_cases hup_burst hup_during_program crash clean_stop; exit
