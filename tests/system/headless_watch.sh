#!/usr/bin/env bash
# The headless watcher at work, driven from outside: a dropped file is
# announced on standard output and moved; SIGHUP reloads the settings; a
# program line full of shell syntax runs nothing but the named program;
# SIGTERM ends the program at once even while a worker waits for a program.
#
# Usage: headless_watch.sh PATH_TO_TAVREN3
set -euo pipefail
export LC_ALL=C

bin=${1:?usage: headless_watch.sh PATH_TO_TAVREN3}
work=$(mktemp -d)
pid=
cleanup() {
    if [[ -n $pid ]]; then kill -KILL "$pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    sed 's/^/  out | /' "$work/stdout" >&2 || true
    sed 's/^/  err | /' "$work/stderr" >&2 || true
    exit 1
}
# shellcheck source=slots.bash
source "$(dirname "$0")/slots.bash"

wait_for() {  # SECONDS COMMAND...: polls until the command succeeds
    local deadline=$((SECONDS + $1)); shift
    until "$@"; do
        ((SECONDS < deadline)) || return 1
        sleep 0.05
    done
}

mkdir -p "$work/data/tavdat" "$work/in" "$work/out" "$work/second"
# The program that a worker waits for: records that it ran, then stays.
cat >"$work/slow" <<'SCRIPT'
#!/bin/sh
touch "$(dirname "$0")/slow-ran"
exec sleep 60
SCRIPT
chmod +x "$work/slow"

# Slot 0: move dropped files to out, message mode 1, no sound.
{
    slot 1 0 1 1 0 2 0 0 0 "in" "$work/in" "" "" "$work/out" ""
} >"$work/data/tavdat/dirinfo.dat"

cd "$work"
"$bin" --headless --data-dir "$work/data" >"$work/stdout" 2>"$work/stderr" &
pid=$!
wait_for 10 test -e "$work/data/tavdat/0.dir" || fail "no snapshot after start"

echo hello >"$work/in/report.txt"
wait_for 10 test -e "$work/out/report.txt" || fail "report.txt was not moved"
grep -qx "Tavren3: report.txtを実行します。" "$work/stdout" || fail "no message line for report.txt"

# Reload: slot 0 now watches "second" and runs a program line full of shell
# syntax, waiting for it. Only the named program may run.
# (Relative names: the watcher runs in $work.)
injection="$work/slow \$(touch PWNED) ; touch PWNED2 \`touch PWNED3\`"
((${#injection} < 128)) || fail "test setup: program line too long"
{
    slot 1 0 1 0 0 0 0 1 0 "second" "$work/second" "" "$injection" "" ""
} >"$work/data/tavdat/dirinfo.dat"
kill -HUP "$pid"
started() { (($(grep -c "監視を開始しました" "$work/stderr") >= 2)); }
wait_for 10 started || fail "no restart after SIGHUP"
echo x >"$work/second/trigger"
wait_for 10 test -e "$work/slow-ran" || fail "the program did not start after the reload"
for f in PWNED PWNED2 PWNED3; do
    [[ ! -e $work/$f ]] || fail "a shell ran part of the program line ($f exists)"
done

# The worker now waits for a program that runs a minute: SIGTERM still
# ends the watcher at once, with status 0.
start=$SECONDS
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
pid=
((status == 0)) || fail "exit status $status after SIGTERM"
((SECONDS - start <= 3)) || fail "SIGTERM took $((SECONDS - start)) s"
pkill -f "$work/slow" 2>/dev/null || true
echo "headless watch: ok"
