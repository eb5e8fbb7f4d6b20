#!/usr/bin/env bash
# The tray program from outside: no display means a clear refusal, and a
# second start leaves the first one running alone.
set -u
bin=$1
tmp=$(mktemp -d)
trap 'kill $first 2>/dev/null; rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$bin" --data-dir "$tmp/d" 2>&1)
rc=$?
[ $rc -eq 2 ] || fail "no display: status $rc, want 2"
grep -q -- --headless <<<"$out" || fail "no display: message does not suggest --headless: $out"

# The instance socket lives in the runtime folder: a private one keeps
# this test apart from a tray program the user may be running.
export QT_QPA_PLATFORM=offscreen TMPDIR="$tmp/run" XDG_RUNTIME_DIR="$tmp/run"
mkdir -m 700 "$tmp/run"
"$bin" --data-dir "$tmp/d" >"$tmp/first.log" 2>&1 &
first=$!
# Wait until the first instance listens (its socket appears), deadline 10 s.
for _ in $(seq 100); do
    [ -S "$tmp/run/$(basename "$bin")-$(id -u)" ] && break
    sleep 0.1
done
kill -0 $first 2>/dev/null || fail "first instance ended: $(cat "$tmp/first.log")"

timeout 10 "$bin" --data-dir "$tmp/d" >"$tmp/second.log" 2>&1
rc=$?
[ $rc -eq 0 ] || fail "second instance: status $rc, want 0: $(cat "$tmp/second.log")"
kill -0 $first 2>/dev/null || fail "first instance did not survive the second start"
kill -TERM $first
wait $first 2>/dev/null
echo "tray startup: ok"
