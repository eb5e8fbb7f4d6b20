#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs each for a bounded time from its seed
# corpus. Exits non-zero when a target finds a crash or a broken property;
# the input that did it is kept under the build folder's artifacts/.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
#
# SECONDS per target: the argument, else $FUZZ_SECONDS, else 30. TARGETs
# are names such as `wildcard` (default: all). $FUZZ_BUILD_DIR sets the
# build folder (default build-fuzz); the corpus grown there is reused by
# the next run.
set -euo pipefail

cd "$(dirname "$0")/.."

all_targets=(settings_file snapshot wildcard command_line cp932)
seconds=${FUZZ_SECONDS:-30}
if [[ $# -gt 0 && $1 =~ ^[0-9]+$ ]]; then
    seconds=$1
    shift
fi
targets=("$@")
[[ ${#targets[@]} -gt 0 ]] || targets=("${all_targets[@]}")
build=${FUZZ_BUILD_DIR:-build-fuzz}
jobs=${FUZZ_JOBS:-2}

# --- packages: clang and its runtime libraries (libFuzzer, sanitizers) ---
scripts/install-deps.sh clang cmake ninja-build
# libFuzzer ships in libclang-rt-N-dev for clang N (in libclang-common-N-dev
# on releases before 14's split).
clang_major=$(clang -dumpversion | cut -d. -f1)
scripts/install-deps.sh "libclang-rt-${clang_major}-dev" ||
    scripts/install-deps.sh "libclang-common-${clang_major}-dev"

# --- build ---
CC=clang CXX=clang++ cmake -S fuzz -B "$build" -G Ninja >/dev/null
cmake --build "$build" -j "$jobs" --target "${targets[@]/#/fuzz_}"

# --- run ---
mkdir -p "$build/artifacts" "$build/logs"
failed=()
printf '%-14s %10s %12s %8s  %s\n' target seconds runs exec/s result
for t in "${targets[@]}"; do
    corpus="$build/corpus/$t"
    mkdir -p "$corpus"
    dirs=("$corpus" "tests/fuzz-corpus/$t")
    [[ -d tests/data/fuzz/$t ]] && dirs+=("tests/data/fuzz/$t")
    extra=()
    # The matcher and its reference take time in the product of the two
    # lengths; stored patterns and file names are far shorter than this.
    [[ $t == wildcard ]] && extra+=(-max_len=600)
    log="$build/logs/$t.log"

    rc=0
    "$build/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$build/artifacts/$t-" \
        "${extra[@]}" "${dirs[@]}" >"$log" 2>&1 || rc=$?

    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    if [[ $rc -eq 0 ]]; then
        result=ok
    else
        result="FAILED (exit $rc, log $log)"
        failed+=("$t")
    fi
    printf '%-14s %10s %12s %8s  %s\n' "$t" "$seconds" "${runs:-?}" "${rate:-?}" "$result"
done

if [[ ${#failed[@]} -gt 0 ]]; then
    for t in "${failed[@]}"; do
        echo "== $t"
        grep -E 'property failed|ERROR|runtime error|^pattern|^name|Test unit written' \
            "$build/logs/$t.log" | head -n 20 || true
    done
    exit 1
fi
