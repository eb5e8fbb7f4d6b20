#!/usr/bin/env bash
# The bounded soak: minutes of random file traffic through the watch engine
# across 40 entries, thousands of stop/start cycles with busy workers, and
# the settings and snapshot writers killed over and over. Each part checks
# that nothing was lost, duplicated or leaked; the figures are printed at
# the end. Not part of `make test`.
#
# Usage: scripts/soak.sh [BUILD_DIR]
#   SOAK_SECONDS  total time to aim for (default 180): half for the traffic,
#                 a fifth for the stop/start cycles, the rest for the kills
#   SOAK_SEED     repeats the traffic of an earlier run (it prints its seed)
#   BUILD_DIR     the build folder when none is given (default: build)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-${BUILD_DIR:-build}}
[[ $build = /* ]] || build=$root/$build
seconds=${SOAK_SECONDS:-180}
if ! [[ $seconds =~ ^[0-9]+$ ]] || ((seconds < 20)); then
    echo "soak: SOAK_SECONDS must be a number of seconds, at least 20" >&2
    exit 2
fi

if [[ ! -f $build/CMakeCache.txt ]]; then
    cmake -S "$root" -B "$build" -G Ninja >/dev/null
fi
cmake --build "$build" --target reliability_tests -j "${JOBS:-2}"

export TAVREN_SOAK_SECONDS=$seconds
if [[ -n ${SOAK_SEED:-} ]]; then export TAVREN_SOAK_SEED=$SOAK_SEED; fi

log=$(mktemp)
trap 'rm -f "$log"' EXIT
echo "soak: about $seconds s"
status=0
"$build/tests/reliability_tests" --gtest_filter='Soak*:CrashSafety.*' 2>&1 | tee "$log" ||
    status=$?

echo
echo "== soak figures"
grep -E '^\[(figures|soak)\]' "$log" || true
if ((status != 0)); then
    echo "soak: FAILED (status $status)" >&2
else
    echo "soak: passed"
fi
exit "$status"
