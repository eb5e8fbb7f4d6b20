#!/usr/bin/env bash
# The 10,000-file burst of bench_engine (measure d) of this tree against the
# same measure built from a reference commit, the git tag bench-ref-names:
# the engine as it was before looks used the names a notification carries.
# The reference's source is taken with `git archive` into its own build
# folder (BENCH_REF_DIR, build-bench-ref/ by default) and built once per
# commit. The two programs then run alternately, 5 pairs (BENCH_REF_PAIRS), the first side
# alternating; each run makes three bursts in which the engine checks each
# file for writers (as it does) and three in which it takes every file as
# complete. A run's figure is the median of its checked bursts' times from
# the first creation to the last move; the pairs' ratios and their median
# are printed with the target, no slower than the reference (at most 1.0x),
# and each side's verdict on every file moved exactly once.
#
# Usage: bench/bench_reference.sh [BENCH_DIR]
#   BENCH_DIR      the build holding this tree's bench/bench_engine
#                  (build-bench by default).
#   BENCH_REF_TAG  the reference (bench-ref-names by default).
# Without git or without the tag (a source tarball) it says so and skips.
# Exits 0 unless the benchmark itself could not run.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
bench_dir=${1:-build-bench}
current=$bench_dir/bench/bench_engine
tag=${BENCH_REF_TAG:-bench-ref-names}
ref_dir=${BENCH_REF_DIR:-$root/build-bench-ref}
pairs=${BENCH_REF_PAIRS:-5}

skip() {
    echo "bench_reference: skipped: $1"
    exit 0
}
command -v git >/dev/null || skip "git is not installed"
# A source tarball unpacked inside another checkout is no checkout of its own.
[ "$(git -C "$root" rev-parse --show-toplevel 2>/dev/null)" = "$root" ] ||
    skip "not a git checkout"
commit=$(git -C "$root" rev-parse -q --verify "refs/tags/$tag^{commit}") ||
    skip "no tag $tag in this checkout"
[ -x "$current" ] || { echo "bench_reference: no $current (build it first)" >&2; exit 1; }

# The reference's source and build, kept for the next run of the same commit.
if [ "$(cat "$ref_dir/commit" 2>/dev/null)" != "$commit" ]; then
    rm -rf "$ref_dir"
    mkdir -p "$ref_dir/src"
    git -C "$root" archive "$commit" | tar -x -C "$ref_dir/src"
fi
echo "== reference: $tag ($commit), built in $ref_dir/build"
cmake -S "$ref_dir/src" -B "$ref_dir/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DTAVREN_BUILD_TESTS=OFF >/dev/null
cmake --build "$ref_dir/build" -j "${JOBS:-2}" --target bench_engine >/dev/null
echo "$commit" >"$ref_dir/commit"
reference=$ref_dir/build/bench/bench_engine

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tavren-bench-ref-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
trap 'exit 130' INT TERM

# One run of measure d: prints the median of its checked bursts' last move
# in seconds and its exactly-once verdict.
run() {
    local out=$scratch/$2.out
    "$1" --only=d >"$out"
    local last verdict
    last=$(sed -n 's/^ *checked: .*last move at \([0-9.]*\) s.*/\1/p' "$out" |
        sort -g | awk '{ v[NR] = $1 } END { if (NR) print v[int((NR + 1) / 2)] }')
    verdict=$(sed -n 's/.*every file moved exactly once: \([A-Z]*\).*/\1/p' "$out")
    if [ -z "$last" ] || [ -z "$verdict" ]; then
        echo "bench_reference: no burst figures from $1; its output:" >&2
        cat "$out" >&2
        exit 1
    fi
    echo "$last $verdict"
}

echo "Burst of 10,000 files moved away: this tree against $tag, $pairs pairs,"
echo "the first side alternating; each figure the median of a run's three checked bursts"
ratios=()
exact_current=PASS exact_reference=PASS
for ((i = 0; i < pairs; i++)); do
    if ((i % 2 == 0)); then
        ref=$(run "$reference" "ref-$i")
        cur=$(run "$current" "cur-$i")
    else
        cur=$(run "$current" "cur-$i")
        ref=$(run "$reference" "ref-$i")
    fi
    read -r ref_s ref_v <<<"$ref"
    read -r cur_s cur_v <<<"$cur"
    [ "$cur_v" = PASS ] || exact_current=FAIL
    [ "$ref_v" = PASS ] || exact_reference=FAIL
    ratio=$(awk -v c="$cur_s" -v r="$ref_s" 'BEGIN { printf "%.3f", c / r }')
    ratios+=("$ratio")
    echo "   pair $((i + 1)): first creation to last move $cur_s s / $ref_s s: ${ratio}x;" \
        "exactly once: $cur_v / $ref_v"
done
median=$(printf '%s\n' "${ratios[@]}" | sort -g |
    awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }')
verdict=$(awk -v m="$median" 'BEGIN { print (m <= 1.0) ? "PASS" : "FAIL" }')
echo "   pairs: ${ratios[*]}; median ${median}x"
echo "   target: every file moved exactly once: this tree $exact_current, reference $exact_reference"
echo "   target: no slower than the reference (at most 1.0x): ${median}x $verdict"
