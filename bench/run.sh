#!/usr/bin/env bash
# Builds the benchmarks of the text analysis (Release, no sanitizers) in
# build/bench and prints the figures:
#   - the whole path from a decoded buffer to the filled list, on 1 million
#     lines with 1,000 and with 30,000 speakers and on 100,000 lines with 100;
#   - the cost per line over growing numbers of lines (with a fitted O(N));
#   - the literal extraction (list walk, unread rest copied per call) next to
#     the fast one, size by size, until the literal one takes longer than a
#     minute (or would: each doubling of the lines costs it about four times
#     as much).
# Usage: bench/run.sh [--quick]   (--quick skips the literal comparison)
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/bench
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUIB_BENCH=ON -DQUIB_TESTS=OFF \
    -DQUIB_SANITIZE=OFF >/dev/null
cmake --build "$build" -j2 --target text_bench >/dev/null
bench=$build/bin/text_bench

echo "== Fast path (one core)"
"$bench" --benchmark_filter='^Fill(Series[0-9]+)?/' --benchmark_min_time=0.5 \
    --benchmark_counters_tabular=true

if [ "${1:-}" = "--quick" ]; then
    exit 0
fi

echo
echo "== Literal against fast, per size"
for speakers in 100 1000 30000; do
    for lines in 15625 31250 62500 125000 250000; do
        out=$("$bench" --benchmark_filter="^(Literal|Fill)/$lines/$speakers\$" \
            --benchmark_format=csv 2>/dev/null || true)
        # The literal family is only registered for these sizes; Fill at the
        # same size comes from a one-off run of the same binary.
        lit=$(echo "$out" | awk -F, '/^"Literal\//{print $3; exit}')
        fast=$("$bench" --benchmark_filter="^FillSeries$speakers/$lines/" \
            --benchmark_format=csv 2>/dev/null | awk -F, '/^"FillSeries/{print $3; exit}')
        if [ -z "$lit" ]; then
            break
        fi
        if [ -n "$fast" ]; then
            awk -v l="$lines" -v s="$speakers" -v a="$lit" -v b="$fast" 'BEGIN {
                printf "lines %8d speakers %6d  literal %10.1f ms  fast %8.3f ms  ratio %8.0f\n",
                    l, s, a, b, a / b }'
        else
            awk -v l="$lines" -v s="$speakers" -v a="$lit" 'BEGIN {
                printf "lines %8d speakers %6d  literal %10.1f ms\n", l, s, a }'
        fi
        # Quadratic: the next size would take about four times as long.
        if awk -v a="$lit" 'BEGIN { exit !(a * 4 > 60000) }'; then
            break
        fi
    done
done
