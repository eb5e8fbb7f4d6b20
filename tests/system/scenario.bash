# Shared helpers of the scenario scripts (sourced, not run). A script
# defines one function per case and hands them to run_cases, which runs
# them side by side, each in a subshell with a folder ($d) and a watcher of
# its own. Inside a case:
#   begin                 makes $d/data/tavdat ($d is the case's folder)
#   watch [RUNNER...]     starts the watcher on $d/data, output in
#                         $d/stdout and $d/stderr, and waits for its start line
#   fail TEXT             ends the case, showing what the watcher printed
#   skip TEXT             ends the case as skipped
set -euo pipefail
export LC_ALL=C  # ${#var} counts bytes, as the fixed-width fields do

# shellcheck source=slots.bash
source "$(dirname "${BASH_SOURCE[0]}")/slots.bash"

bin=${1:?usage: $0 PATH_TO_TAVREN3}
[[ $bin == /* ]] || bin=$PWD/$bin
root=$(mktemp -d)
chmod 755 "$root"  # a watcher run as another user must reach its case folder

# Every process a case starts in the background is listed in $d/pids, every
# mount in $d/mounts, so that whatever way the script ends they go.
cleanup() {
    local f p
    for f in "$root"/*/pids; do
        [[ -e $f ]] || continue
        while read -r p; do kill -KILL "$p" 2>/dev/null || true; done <"$f"
    done
    for f in "$root"/*/mounts; do
        [[ -e $f ]] || continue
        while read -r p; do umount -l "$p" 2>/dev/null || true; done <"$f"
    done
    chmod -R u+rwX "$root" 2>/dev/null || true
    rm -rf "$root"
}
trap cleanup EXIT

begin() {
    d=$root/$cname
    mkdir -p "$d/data/tavdat"
    : >"$d/stdout"
    : >"$d/stderr"
    wpid=
}
own() { echo "$1" >>"$d/pids"; }  # PID: ended with the script

fail() {
    echo "FAIL: $cname: $*"
    sed 's/^/  out | /' "$d/stdout" | head -40
    sed 's/^/  err | /' "$d/stderr" | head -40
    exit 1
}
skip() {
    echo "$cname: skipped: $*"
    exit 0
}

wait_for() {  # SECONDS COMMAND...: polls until the command succeeds
    local deadline=$((SECONDS + $1)); shift
    until "$@"; do
        ((SECONDS < deadline)) || return 1
        sleep 0.05
    done
}

count() {  # PATTERN FILE: lines matching (0 when the file is missing)
    local n
    n=$(grep -c -- "$1" "$2" 2>/dev/null) || true
    echo "${n:-0}"
}
lines() { if [[ -e $1 ]]; then wc -l <"$1"; else echo 0; fi; }  # FILE
files() { find "$1" -mindepth 1 -maxdepth 1 | wc -l; }           # FOLDER: entries in it
now_ms() { local t=${EPOCHREALTIME/./}; echo $((t / 1000)); }

# Whether file leases work in $d: the watcher tells a file still being
# written by them; without them it waits for a second of quiet instead.
leases() {
    touch "$d/lease"
    python3 -c 'import fcntl, sys
f = open(sys.argv[1])
fcntl.fcntl(f, fcntl.F_SETLEASE, fcntl.F_RDLCK)' "$d/lease" 2>/dev/null
}

starts() { count '件の監視を開始しました' "$d/stderr"; }
watch() {  # [RUNNER...]
    local before
    before=$(starts)
    "$@" "$bin" --headless --data-dir "$d/data" >>"$d/stdout" 2>>"$d/stderr" &
    wpid=$!
    own "$wpid"
    wait_for 10 eval '(($(starts) > before))' || fail "no start line"
}
stop_watcher() {  # SIGNAL: ends the watcher, checking a clean end for TERM
    kill -"$1" "$wpid"
    local rc=0
    { wait "$wpid"; } 2>/dev/null || rc=$?
    [[ $1 != TERM || $rc == 0 ]] || fail "exit status $rc after SIGTERM"
    wpid=
}
reload() {  # sends SIGHUP and waits for the new start line
    local before
    before=$(starts)
    kill -HUP "$wpid"
    wait_for 10 eval '(($(starts) > before))' || fail "no start line after SIGHUP"
}

# A program for the watcher to run, written as $d/NAME: appends the time
# (ms) of each start to $d/NAME.log, then runs the rest of its script.
program() {  # NAME [SHELL-LINES]
    printf '#!/bin/sh\ndate +%%s%%3N >>"%s.log"\n%s\n' "$d/$1" "${2:-}" >"$d/$1"
    chmod +x "$d/$1"
}
runs() { lines "$d/$1.log"; }  # NAME: how often the program started

# A bindfs (FUSE) mount of $d/backing on MOUNT-POINT, standing in for a NAS
# share: what is written into the backing folder is not notified.
mount_share() {  # MOUNT-POINT
    command -v bindfs >/dev/null || skip "no bindfs (scripts/install-deps.sh installs it)"
    [[ -e /dev/fuse ]] || skip "no /dev/fuse"
    mkdir -p "$d/backing" "$1"
    local why
    why=$(bindfs "$d/backing" "$1" 2>&1) || skip "bindfs cannot mount here: $why"
    echo "$1" >>"$d/mounts"
}

# Runs the named case functions side by side; prints each one's report and
# "SCRIPT: ok" when none failed. Called as "run_cases ...; exit" on the last
# line, so that nothing of the script is read after the cases ran.
run_cases() {
    local c i failed=0 pids=()
    for c in "$@"; do
        (
            cname=$c
            set -E
            trap 'echo "FAIL: $cname: line $LINENO: $BASH_COMMAND"' ERR
            "$c"
        ) >"$root/$c.log" 2>&1 &
        pids+=($!)
    done
    for i in "${!pids[@]}"; do
        c=${*:i+1:1}
        if wait "${pids[i]}"; then
            grep -q "^$c: skipped: " "$root/$c.log" || echo "$c: ok" >>"$root/$c.log"
        else
            failed=1
            grep -q "^FAIL: " "$root/$c.log" || echo "FAIL: $c: ended early" >>"$root/$c.log"
        fi
        cat "$root/$c.log"
    done
    ((failed == 0)) || exit 1
    echo "$(basename "$0" .sh): ok"
}
