#!/usr/bin/env bash
# Builds the benchmarks of the text analysis (Release, no sanitizers) in
# build/bench and prints the figures:
#   - the whole path from a decoded buffer to the filled list, on 1 million
#     lines with 1,000 and with 30,000 speakers and on 100,000 lines with 100;
#   - the cost per line over growing numbers of lines (with a fitted O(N));
#   - the literal extraction (list walk, unread rest copied per call) next to
#     the fast one, size by size, up to the largest size at which the literal
#     one still finishes within a minute (each doubling of the lines costs it
#     four to ten times as much).
# Usage: bench/run.sh [--quick]   (--quick skips the literal comparison)
set -euo pipefail
# shellcheck source=scripts/common.sh
. "$(dirname "$0")/../scripts/common.sh"

build=build/bench
quib_say_first_build "$build"
if ! quib_quiet cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUIB_BENCH=ON \
    -DQUIB_TESTS=OFF -DQUIB_SANITIZE=OFF ||
    ! quib_quiet cmake --build "$build" -j2 --target text_bench; then
    echo "bench: the build of the benchmarks failed" >&2
    exit 1
fi
bench=$build/bin/text_bench

# The machine is shared: medians of several runs for the three buffers.
echo "== The three buffers, whole path on one core (median of 7 runs)"
"$bench" --benchmark_filter='^Fill/' --benchmark_min_time=0.5 --benchmark_repetitions=7 \
    --benchmark_report_aggregates_only=true --benchmark_counters_tabular=true 2>&1 |
    grep -v -e '_mean ' -e '_stddev ' -e '_cv '

echo
echo "== Growth with the number of lines"
"$bench" --benchmark_filter='^FillSeries[0-9]+/' --benchmark_min_time=0.5 \
    --benchmark_counters_tabular=true 2>&1 | grep -v 'Library was built as DEBUG'

if [ "${1:-}" = "--quick" ]; then
    exit 0
fi

echo
echo "== Literal against fast, per size (CPU time; ratio = literal / fast)"
# CSV columns: name, iterations, real_time, cpu_time, time_unit, ...
cpu_ms() { awk -F, -v re="$1" '$1 ~ re && !done { print $4; done = 1 }'; }
for speakers in 100 1000 30000; do
    for lines in 15625 31250 62500 125000 250000; do
        lit=$("$bench" --benchmark_filter="^Literal/$lines/$speakers/" --benchmark_format=csv \
            2>/dev/null | cpu_ms '^"Literal/')
        fast=$("$bench" --benchmark_filter="^FillSeries$speakers/$lines/" --benchmark_format=csv \
            --benchmark_min_time=0.5 2>/dev/null | cpu_ms '^"FillSeries')
        if [ -z "$lit" ] || [ -z "$fast" ]; then
            break
        fi
        awk -v l="$lines" -v s="$speakers" -v a="$lit" -v b="$fast" 'BEGIN {
            printf "lines %7d  speakers %5d  literal %9.1f ms  fast %7.2f ms  ratio %7.0f\n",
                l, s, a, b, a / b }'
        # Quadratic, and worse once the text outgrows the caches: doubling the
        # lines has cost it four to ten times as much.
        if awk -v a="$lit" 'BEGIN { exit !(a * 10 > 60000) }'; then
            break
        fi
    done
done
