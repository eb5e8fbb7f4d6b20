#!/usr/bin/env bash
# The real watcher moves files to another file system (the watched folder in
# the temporary folder, the destination on /dev/shm) while
# strace fails one system call of the move: rename, renameat2, write (the
# copy), fsync, unlink/unlinkat (the source's removal) and linkat (naming
# the copy), each at its first, second and last call. A traced move counts
# the calls of the thread that moves; strace then attaches to that thread
# alone, whose counts start at the attach, and fails call N of one of them.
# After each: the file is in the destination alone and whole, nothing of the
# mover is left there, a failed move was told (standard error and the
# activity log, with its cause) and succeeded when retried, and the file was
# acted on once. A table of the cases ends the output.
#
# Usage: strace_move.sh PATH_TO_TAVREN3_HEADLESS
# shellcheck source=../system/scenario.bash
source "$(dirname "$0")/../system/scenario.bash"

skipped() { echo "$(basename "$0" .sh): skipped: $*"; exit 0; }
command -v strace >/dev/null || skipped "no strace (scripts/install-deps.sh installs it)"
[[ -d /dev/shm && -w /dev/shm ]] || skipped "no /dev/shm to move to"

traced=rename,renameat2,write,fsync,unlink,unlinkat,linkat
size=600000  # three writes of the mover's 256 KiB chunks: first, second and last differ
shm=$(mktemp -d /dev/shm/tavren3-strace.XXXXXX)
table=$root/table
trap 'cleanup; rm -rf "$shm"' EXIT

t3() { "$bin" --data-dir "$d/data" "$@" >"$d/out" 2>"$d/err" </dev/null; }
logged() { count "	$1	f$2	" "$d/data/tavren3.log"; }  # EVENT K: lines of fK

drop() {  # K: fK, random bytes written beside the watched folder, renamed in
    head -c "$size" /dev/urandom >"$d/orig/f$1"
    cp "$d/orig/f$1" "$d/stage/f$1"
    [[ -z $replace ]] || printf old >"$dest/f$1"
    mv "$d/stage/f$1" "$d/in/f$1"
}
moved() { local k=$1; wait_for 30 eval '(($(logged moved "$k") > 0))'; }  # K

# strace in the background (-p TID, or -f -p PID), its output in TRACE;
# returns once it has attached.
attach() {  # TRACE STRACE-OPTIONS...
    local trace=$1
    shift
    strace -o "$trace" -e trace="$traced" "$@" 2>"$trace.err" &
    spid=$!
    own "$spid"
    wait_for 10 grep -qs ' attached' "$trace.err" && return
    grep -qs 'Operation not permitted' "$trace.err" &&
        skip "strace may not attach to a running program here: $(cat "$trace.err")"
    fail "strace did not attach: $(cat "$trace.err")"
}
detach() { kill -INT "$spid"; wait "$spid" 2>/dev/null || true; }

# Waits until the moving thread is back where it waits for changes.
settled() { wait_for 10 eval '[[ $(cut -d" " -f1 "/proc/$wpid/task/$tid/syscall") == "$idle" ]]'; }

# The calls of a one-thread trace, one a line: "name(args) = result".
calls() { grep -E '^[a-z0-9_]+\(' "$1" || true; }  # TRACE

# "BEFORE INSIDE" for SYSCALL in CALLS: its calls before the move of fK
# (which starts with the rename that finds the destination on another file
# system) and those from there to the source's removal.
window() {  # CALLS K SYSCALL
    awk -v src="\"$d/in/f$2\"" -v s="$3" '
        {
            name = substr($0, 1, index($0, "(") - 1)
            args = substr($0, index($0, "(") + 1)
            sub(/^AT_FDCWD, /, "", args)
            mine = index(args, src ",") == 1 || index(args, src ")") == 1
        }
        !start && (name == "rename" || name == "renameat2") && mine { start = NR }
        start && !end && (name == "unlink" || name == "unlinkat") && mine { end = NR }
        name == s { if (!start) before++; else if (!end || NR <= end) inside++ }
        END { print before + 0, inside + 0 }' <<<"$1"
}

# Fails call POS of SYSCALL in the move of a new file with ERROR and checks
# what became of the file, in $outcome; status 2 when the failed call was
# not the one meant (the thread made other calls first).
inject() {  # SYSCALL POS ERROR QUIET
    local s=$1 pos=$2 error=$3 quiet=$4 k=$((++n))
    local before=${offset[$s]}
    settled || fail "the worker did not settle before f$k"
    attach "$d/trace.$k" -p "$tid" -e inject="$s:error=$error:when=$((before + pos))"
    drop "$k"
    if ! moved "$k"; then
        detach
        outcome="violation: not moved"
        return 0
    fi
    detach
    local got
    got=$(window "$(calls "$d/trace.$k")" "$k" "$s")
    [[ ${got% *} == "$before" && $(count '(INJECTED)' "$d/trace.$k") == 1 ]] || return 2

    local v=() reason told
    [[ ! -e $d/in/f$k ]] || v+=("left in the watched folder")
    cmp -s "$d/orig/f$k" "$dest/f$k" || v+=("not whole in the destination")
    local stray
    stray=$(find "$dest" -mindepth 1 ! -name 'f[0-9]*' -printf '%f ' | head -c 200)
    stray+=$(find "$dest" -mindepth 1 -name "f${k}_*" -printf '%f ' | head -c 200)
    [[ -z $stray ]] || v+=("in the destination: $stray")
    (($(logged new "$k") == 1)) || v+=("found new $(logged new "$k") times")
    if (($(logged not-moved "$k") == 0)); then
        [[ $quiet == quiet ]] || v+=("the failure went unseen")
        told="moved at once"
    else
        reason=$(python3 -c 'import errno, os, sys; print(os.strerror(getattr(errno, sys.argv[1])))' "$error")
        count "	not-moved	f$k	$reason\$" "$d/data/tavren3.log" | grep -qv '^0$' ||
            v+=("not-moved without its cause ($reason)")
        grep -F "$d/in/f$k を" "$d/stderr" | grep -q '移動できません' || v+=("not told")
        (($(logged retry "$k") > 0)) || v+=("not retried")
        told="told, moved on retry"
    fi
    if ((${#v[@]})); then
        local IFS=';'
        outcome="violation: ${v[*]}"
    else
        outcome="ok ($told)"
    fi
}

# One watcher and one entry (ADD-OPTION: --rename or --replace) through a
# table of SYSCALL:ERROR[:quiet] (quiet: the move may succeed as it is, the
# error being one the mover works around).
moves() {  # ADD-OPTION SYSCALL:ERROR[:quiet]...
    begin
    replace=
    [[ $1 == --replace ]] && replace=1
    dest=$shm/$cname
    mkdir -p "$d/in" "$d/stage" "$d/orig" "$dest"
    [[ $(stat -c %d "$d/in") != $(stat -c %d "$dest") ]] ||
        skip "the temporary folder and /dev/shm are one file system: no move across"
    t3 add --title mv --folder "$d/in" --move-to "$dest" "$1" || fail "add: $(cat "$d/err")"
    shift
    watch
    n=0

    # A first move traced from the whole process shows the thread that
    # moves and where it waits for changes (the same call at two looks a
    # moment apart); a second one traced from that thread alone counts its
    # calls as each case will.
    attach "$d/trace.find" -f -p "$wpid"
    drop $((n += 1))
    moved "$n" || fail "f$n not moved"
    detach
    tid=$(grep -E "^[0-9]+ +(rename|renameat2)\((AT_FDCWD, )?\"$d/in/f$n\"" \
        "$d/trace.find" | head -1 | cut -d' ' -f1)
    [[ -n $tid ]] || fail "no move of f$n in the trace: $(head -c 2000 "$d/trace.find")"
    wait_for 10 eval 'idle=$(cut -d" " -f1 "/proc/$wpid/task/$tid/syscall"); sleep 0.1
        [[ $idle != running && $idle == "$(cut -d" " -f1 "/proc/$wpid/task/$tid/syscall")" ]]' ||
        fail "the worker does not settle"
    attach "$d/trace.count" -p "$tid"
    drop $((n += 1))
    moved "$n" || fail "f$n not moved"
    detach
    local mine s spec error quiet got pos
    mine=$(calls "$d/trace.count")
    declare -gA offset=() inside=()
    for spec in "$@"; do
        s=${spec%%:*}
        got=$(window "$mine" "$n" "$s")
        offset[$s]=${got% *}
        inside[$s]=${got#* }
    done

    for spec in "$@"; do
        IFS=: read -r s error quiet <<<"$spec"
        if ((inside[$s] == 0)); then
            printf '%s\t%s\t-\t%s\tnot called in the move\n' "$cname" "$s" "$error" >>"$table"
            continue
        fi
        for pos in $(printf '%s\n' 1 2 "${inside[$s]}" | awk -v m="${inside[$s]}" '$1 <= m' | sort -un); do
            inject "$s" "$pos" "$error" "$quiet" || inject "$s" "$pos" "$error" "$quiet" ||
                outcome="violation: the injection missed the move twice"
            printf '%s\t%s\t%s/%s\t%s\t%s\n' "$cname" "$s" "$pos" "${inside[$s]}" "$error" \
                "$outcome" >>"$table"
            [[ $outcome == ok* ]] || echo "FAIL: $cname: $s call $pos/${inside[$s]} $error: $outcome"
        done
    done
    ! grep -q "^$cname	.*	violation" "$table" || exit 1
}

# Each entry looks at most every 3 seconds, so the cases go four ways: names
# and copies, each without and with replacing.
plain() {  # a free name in the destination
    moves --rename rename:EIO renameat2:EIO renameat2:EINVAL:quiet unlink:EACCES \
        unlinkat:EACCES linkat:EIO
}
plain_copy() { moves --rename write:ENOSPC fsync:EIO; }
replacing() {  # a file of the same name in the destination, replaced
    moves --replace rename:EIO renameat2:EIO unlink:EPERM unlinkat:EPERM linkat:ENOSPC
}
replacing_copy() { moves --replace write:EIO fsync:EIO; }

status=0
(run_cases plain plain_copy replacing replacing_copy) || status=$?
if [[ -s $table ]]; then
    printf '\n%-15s %-10s %-5s %-7s %s\n' case syscall call error outcome
    sort -s -k1,1 "$table" | awk -F'\t' '{ printf "%-15s %-10s %-5s %-7s %s\n", $1, $2, $3, $4, $5 }'
    # A row of the table `make faults` prints.
    if [[ -n ${TAVREN3_FAULT_TABLE:-} ]]; then
        awk -F'\t' '$3 != "-" { runs++; split($3, c, "/"); if (c[2] > calls[$1 $2]) calls[$1 $2] = c[2]
                              kinds[$2] = 1; if ($5 !~ /^ok/) bad++ }
            END { for (k in calls) n += calls[k]; for (k in kinds) list = list (list ? " " : "") k
                  printf "| real program under strace: move to another file system | %d | %d | %d | %s | %d |\n",
                         n, runs, runs, list, bad }' "$table" >>"$TAVREN3_FAULT_TABLE"
    fi
fi
exit "$status"
