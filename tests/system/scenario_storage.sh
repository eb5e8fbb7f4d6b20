#!/usr/bin/env bash
# The data folder and the watched folders misbehaving: a snapshot that
# cannot be written, a folder that cannot be listed for a while, a settings
# file that is a FIFO, a snapshot file far too large after a crash.
#
# Usage: scenario_storage.sh PATH_TO_TAVREN3
# shellcheck source=scenario.bash
source "$(dirname "$0")/scenario.bash"

# tavdat on a tiny tmpfs (or, without root, write-protected) that is full
# while files arrive: each is acted on once, the file from before the start
# never, and the failure is told once; once there is room, the snapshot is
# written again.
full_snapshot() {
    begin
    local t=$d/data/tavdat why
    if ((EUID == 0)) && mount -t tmpfs -o size=64k tmpfs "$t" 2>/dev/null; then
        # A full disk may still take a few records into the journal's last
        # block; a read-only one takes nothing.
        echo "$t" >>"$d/mounts"
        jam() { mount -o remount,ro "$t"; }
        unjam() { mount -o remount,rw "$t"; }
        why="Read-only file system"
    elif ((EUID != 0)); then
        jam() { chmod a-w "$t"; }
        unjam() { chmod u+w "$t"; }
        why="Permission denied"
    else
        skip "cannot mount a tmpfs"
    fi
    mkdir -p "$d/in"
    echo old >"$d/in/old.txt"
    program prog
    slot 1 0 1 0 0 0 0 1 0 "in" "$d/in" "" "$d/prog" "" "" >"$t/dirinfo.dat"
    watch
    [[ $(stat -c %s "$t/0.dir") == 144 ]] || fail "no snapshot after start"
    jam
    local i
    for i in 1 2 3; do
        echo "$i" >"$d/in/new$i.txt"
        wait_for 8 eval '(($(runs prog) >= i))' || fail "new$i.txt was not acted on"
    done
    sleep 1
    (($(runs prog) == 3)) || fail "the program ran $(runs prog) times for three new files"
    local told
    told=$(count "スナップショット .*/0\.dir を保存できません: $why" "$d/stderr")
    ((told == 1)) || fail "the failed snapshot write was told $told times"
    unjam
    echo 4 >"$d/in/new4.txt"
    wait_for 8 eval '(($(runs prog) >= 4))' || fail "new4.txt was not acted on"
    wait_for 5 eval '[[ $(stat -c %s "$t/0.dir") == 720 ]]' ||
        fail "the snapshot was not written once there was room ($(stat -c %s "$t/0.dir") bytes)"
    grep -q new4.txt "$t/0.dir" || fail "the snapshot lacks new4.txt"
    sleep 0.5
    (($(runs prog) == 4)) || fail "the program ran $(runs prog) times for four new files"
}

# A folder that cannot be listed for 2.5 s (chmod 000, the watcher running
# as nobody when we are root; else chmod 300): its files from before are not reported
# deleted nor acted on again; a file added meanwhile is acted on once.
unreadable() {
    begin
    local runner=()
    if ((EUID == 0)); then
        command -v setpriv >/dev/null || skip "no setpriv to run the watcher as nobody"
        runner=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
        "${runner[@]}" test -x "$bin" 2>/dev/null || skip "nobody cannot run $bin"
    fi
    mkdir -p "$d/in"
    echo a >"$d/in/a.txt"
    echo b >"$d/in/b.txt"
    echo c >"$d/in/c.txt"
    program prog
    slot 1 0 1 1 0 0 0 1 0 "in" "$d/in" "" "$d/prog" "" "" >"$d/data/tavdat/dirinfo.dat"
    ((EUID != 0)) || chown -R nobody:nogroup "$d"
    watch "${runner[@]}"
    if ((EUID == 0)); then
        chmod 000 "$d/in"
        echo new >"$d/in/new.txt"
        chown nobody:nogroup "$d/in/new.txt"
    else
        chmod 300 "$d/in"  # so that we can still add a file
        echo new >"$d/in/new.txt"
    fi
    sleep 2.5
    chmod 755 "$d/in"
    wait_for 12 test -s "$d/prog.log" || fail "new.txt was not acted on"
    sleep 1.5
    (($(runs prog) == 1)) || fail "the program ran $(runs prog) times for one new file"
    (($(lines "$d/stdout") == 1)) || fail "$(lines "$d/stdout") notices for one new file"
}

# dirinfo.dat is a FIFO: the watcher does not hang on it, says what is
# wrong, and ends on SIGTERM.
fifo_settings() {
    begin
    mkfifo "$d/data/tavdat/dirinfo.dat"
    "$bin" --headless --data-dir "$d/data" >"$d/stdout" 2>"$d/stderr" &
    wpid=$!
    own "$wpid"
    up() { (($(starts) > 0)) || ! kill -0 "$wpid" 2>/dev/null; }
    wait_for 5 up || fail "neither started nor ended within 5 s"
    grep 'dirinfo\.dat' "$d/stderr" | grep -q '通常のファイルではありません' ||
        fail "no line naming dirinfo.dat as not a regular file"
    if kill -0 "$wpid" 2>/dev/null; then
        grep -q ' 0 件の監視を開始しました' "$d/stderr" || fail "watching without settings"
        stop_watcher TERM
    fi
}

# After a crash, 0.dir is 50 MB of random bytes: the watcher starts, runs
# the program no more often than the folder has files, and stays small.
huge_snapshot() {
    begin
    mkdir -p "$d/in"
    echo 1 >"$d/in/x1.txt"
    echo 2 >"$d/in/x2.txt"
    echo 3 >"$d/in/x3.txt"
    program prog
    slot 1 0 1 0 0 0 0 1 0 "in" "$d/in" "" "$d/prog" "" "" >"$d/data/tavdat/dirinfo.dat"
    watch
    stop_watcher KILL
    head -c 50M /dev/urandom >"$d/data/tavdat/0.dir"
    watch
    local i rss max=0
    for i in {1..15}; do
        rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$wpid/status" 2>/dev/null) ||
            fail "the watcher ended"
        ((rss > max)) && max=$rss
        sleep 0.2
    done
    # AddressSanitizer keeps freed memory aside: the figure would say nothing.
    grep -qa __asan_init "$bin" || ((max < 100 * 1024)) || fail "$((max / 1024)) MB resident"
    (($(runs prog) <= 3)) || fail "the program ran $(runs prog) times for three files"
}

run_cases full_snapshot unreadable fifo_settings huge_snapshot; exit
