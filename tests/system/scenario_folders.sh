#!/usr/bin/env bash
# Watched folders as people keep them: on a share whose changes are not
# notified, on a drive that is unplugged and plugged in again, deleted and
# made again, renamed away and back, reached through a link that is
# re-pointed. Whatever way the folder comes back, what is new is acted on
# once, what was there before is not acted on again and nothing is
# reported deleted; a folder that stays but loses its files still reports
# them.
#
# Usage: scenario_folders.sh PATH_TO_TAVREN3
# shellcheck source=scenario.bash
source "$(dirname "$0")/scenario.bash"

# One entry on FOLDER that moves each file it acts on to $d/out and tells,
# on standard output, the first file of each look by its name and a
# deletion by its full path (names change: deletions are reported).
entry() {  # FOLDER
    mkdir -p "$d/out"
    slot 1 0 1 2 0 2 0 0 0 "$cname" "$1" "" "" "$d/out" "" >"$d/data/tavdat/dirinfo.dat"
}

said() { grep -q -- "$1" "$d/stderr"; }  # TEXT: on standard error
line_of() { grep -n -- "$1" "$d/stderr" | tail -1 | cut -d: -f1; }  # TEXT: its last line

# Waits for the watcher to say that it stopped watching; whether it did is
# checked last (resumed), after what it did with the files.
paused() { wait_for 8 said '監視を中断しました' || true; }

# Waits for the first action after T0 (ms) and prints how long it took.
first_action() {  # T0 WHAT
    local deadline=$((SECONDS + 12))
    until (($(files "$d/out") > 0)); do
        ((SECONDS < deadline)) || fail "nothing acted on within 12 s of the $2"
        sleep 0.02
    done
    took=$(($(now_ms) - $1))
    echo "$cname: $2 to first action: $took ms"
}

# Once the looks that could follow are over (a poll, a held-back
# notification): NEW was acted on and announced once, the OLD files are
# still in FOLDER, nothing else was acted on and nothing reported deleted.
acted_once() {  # FOLDER NEW OLD...
    local folder=$1 new=$2 f
    shift 2
    sleep 3.5
    [[ -e $d/out/$new ]] || fail "$new was not acted on; acted on: $(ls "$d/out" | tr '\n' ' ')"
    (($(count "^Tavren3: $new\$" "$d/stdout") == 1)) ||
        fail "$new was announced $(count "^Tavren3: $new\$" "$d/stdout") times"
    for f in "$@"; do
        [[ -e $folder/$f ]] || fail "$f, there before, was acted on again (or lost)"
    done
    (($(files "$d/out") == 1)) || fail "acted on: $(ls "$d/out" | tr '\n' ' ')"
    ! grep -qF "Tavren3: $folder/" "$d/stdout" || fail "a deletion was reported"
    (($(lines "$d/stdout") == 1)) || fail "$(lines "$d/stdout") notices for one new file"
}

# The watcher said it stopped watching, and then that it resumed.
resumed() {
    said '監視を中断しました' || fail "no line saying the folder is no longer watched"
    said '監視を再開しました' || fail "no line saying the folder is watched again"
    (($(line_of '監視を再開しました') > $(line_of '監視を中断しました'))) ||
        fail "the last line about the folder says it is not watched"
}

unmount() {  # MOUNT-POINT: a listing of the watcher may hold it for a moment
    local at=$1
    wait_for 5 eval 'fusermount -u "$at" 2>/dev/null || umount "$at" 2>/dev/null' ||
        fail "cannot unmount $at"
}

# Files written into the share's backing folder, which nothing notifies,
# are acted on by polling within the interval (2 s) and a second; the start
# line says the entry is polled and why.
share() {
    begin
    mount_share "$d/share"
    echo old >"$d/backing/old.txt"
    entry "$d/share"
    watch
    sleep 0.5
    echo new >"$d/backing/new.txt"
    first_action "$(now_ms)" arrival
    ((took <= 3000)) || fail "acted on $took ms after the file's arrival, more than the interval + 1 s"
    acted_once "$d/share" new.txt old.txt
    said "一定間隔で調べて監視します: share ($d/share): fuse " ||
        fail "the start does not say that the share is polled"
}

# The share goes away while watched and comes back with a file written
# meanwhile: that one is acted on once, the others not again.
share_drops() {
    begin
    mount_share "$d/share"
    echo a >"$d/backing/a.txt"
    echo b >"$d/backing/b.txt"
    entry "$d/share"
    watch
    unmount "$d/share"
    paused
    echo new >"$d/backing/new.txt"
    bindfs "$d/backing" "$d/share" || fail "cannot mount the share again"
    first_action "$(now_ms)" "share's return"
    acted_once "$d/share" new.txt a.txt b.txt
    resumed
}

# A tmpfs on the watched folder stands in for a drive: unplugged, then
# plugged in again holding the old file (same time) and a new one. The new
# drive is filled before it is mounted, as a drive comes with its files.
drive() {
    begin
    ((EUID == 0)) || skip "mounting a tmpfs needs root"
    mkdir -p "$d/in" "$d/keep" "$d/stage"
    mount -t tmpfs tmpfs "$d/in" 2>/dev/null || skip "cannot mount a tmpfs"
    echo "$d/in" >>"$d/mounts"
    echo old >"$d/in/old.txt"
    cp -p "$d/in/old.txt" "$d/keep/"
    entry "$d/in"
    watch
    unmount "$d/in"
    paused
    mount -t tmpfs tmpfs "$d/stage" || fail "cannot mount the second drive"
    echo "$d/stage" >>"$d/mounts"
    cp -p "$d/keep/old.txt" "$d/stage/"
    echo new >"$d/stage/new.txt"
    mount --bind "$d/stage" "$d/in" || fail "cannot plug the drive in again"
    echo "$d/in" >>"$d/mounts"
    first_action "$(now_ms)" "drive's return"
    acted_once "$d/in" new.txt old.txt
    resumed
}

# The folder deleted and made again with a new file.
recreated() {
    begin
    mkdir -p "$d/in"
    echo a >"$d/in/a.txt"
    echo b >"$d/in/b.txt"
    entry "$d/in"
    watch
    rm -rf "$d/in"
    paused
    mkdir "$d/in"
    echo new >"$d/in/new.txt"
    first_action "$(now_ms)" "folder's return"
    acted_once "$d/in" new.txt
    resumed
}

# The folder renamed away, a file added, renamed back.
renamed() {
    begin
    mkdir -p "$d/in"
    echo a >"$d/in/a.txt"
    echo b >"$d/in/b.txt"
    entry "$d/in"
    watch
    mv "$d/in" "$d/away"
    paused
    echo new >"$d/away/new.txt"
    mv "$d/away" "$d/in"
    first_action "$(now_ms)" "folder's return"
    acted_once "$d/in" new.txt a.txt b.txt
    resumed
}

# The watched folder is a symbolic link, re-pointed to another folder that
# holds a copy of the old file (same time) and a new one.
relinked() {
    begin
    mkdir -p "$d/one" "$d/two"
    echo old >"$d/one/old.txt"
    ln -s "$d/one" "$d/link"
    entry "$d/link"
    watch
    cp -p "$d/one/old.txt" "$d/two/"
    echo new >"$d/two/new.txt"
    ln -sfn "$d/two" "$d/link"
    first_action "$(now_ms)" "link's change"
    acted_once "$d/link" new.txt old.txt
}

# The folder stays but its files are deleted: that is reported. A look
# announces the first file it finds gone, so the two deletions give one
# notice, or two when a look falls between them; each names its file.
emptied() {
    begin
    mkdir -p "$d/in"
    echo a >"$d/in/a.txt"
    echo b >"$d/in/b.txt"
    entry "$d/in"
    watch
    rm "$d/in/a.txt" "$d/in/b.txt"
    local t0
    t0=$(now_ms)
    wait_for 8 test -s "$d/stdout" || fail "the deletions were not reported"
    echo "$cname: deletion to notice: $(($(now_ms) - t0)) ms"
    sleep 3.5
    local n f
    n=$(lines "$d/stdout")
    ((n >= 1 && n <= 2)) || fail "$n notices for two deletions"
    for f in a b; do
        (($(count "^Tavren3: $d/in/$f\.txt\$" "$d/stdout") <= 1)) || fail "$f.txt was reported deleted twice"
    done
    (($(count "^Tavren3: $d/in/[ab]\.txt\$" "$d/stdout") == n)) || fail "a notice does not name a deleted file"
    ! said '監視を中断しました' || fail "a folder that stayed was said to be gone"
    (($(files "$d/out") == 0)) || fail "acted on: $(ls "$d/out" | tr '\n' ' ')"
}

run_cases share share_drops drive recreated renamed relinked emptied; exit
