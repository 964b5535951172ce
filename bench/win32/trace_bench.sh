#!/usr/bin/env bash
# What the tracing vellquib.dll adds to a call: trace_bench.exe against the
# stand-in alone, through the tracer without output, and through the tracer
# writing its call log and recording. Prints nanoseconds per call.
#   bench/win32/trace_bench.sh [calls]     (default 20000)
#   bench/win32/trace_bench.sh --checks [calls]
#     instead: the stand-in alone with its rule checks off and on
#     (VELLQUIB_CHECK), both in one process, timed in turn round by round
#     in the thread's processor time, and their difference per export; twice,
#     with the two files' roles swapped, and the mean of both.
# QUIB_BENCH_BUILD_DIR: the build folder (default build/win32, or build/win64
# where 32-bit code runs only emulated).
set -euo pipefail
# shellcheck source=scripts/common.sh
. "$(dirname "$0")/../../scripts/common.sh"
quib_prepare "$@"
checks=
if [ "${1:-}" = --checks ]; then
    checks=1
    shift
fi
build=$quib_root/build/$(quib_windows_preset)
if [ -n "${QUIB_BENCH_BUILD_DIR:-}" ]; then
    build=$(quib_user_path "$QUIB_BENCH_BUILD_DIR")
fi
quib_build "$build" trace_bench vellquib vellquib_tracer
bin=$build/bin
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
host=$("$build/wine-run.sh" winepath -w "$bin/vellquib.dll" | tr -d '\r')
tracer=$("$build/wine-run.sh" winepath -w "$bin/tracer/vellquib.dll" | tr -d '\r')
export VELLQUIB_BUSY_PERCENT=0 VELLQUIB_CHATTER_MS=0
calls=${1:-20000}
if [ -n "$checks" ]; then
    # A copy of the stand-in, so that both are loaded side by side in one
    # process, one with its checks off and one with them on.
    mkdir "$out/checked"
    cp "$bin/vellquib.dll" "$out/checked/vellquib.dll"
    copy=$("$build/wine-run.sh" winepath -w "$out/checked/vellquib.dll" | tr -d '\r')
    # Both ways round, so that whatever favours the first library loaded or
    # one of the two files cancels out: the mean of the two.
    {
        "$build/wine-run.sh" "$bin/trace_bench.exe" --checks "$host" "$copy" "$calls"
        "$build/wine-run.sh" "$bin/trace_bench.exe" --checks "$copy" "$host" "$calls"
    } | tr -d '\r' | tee "$out/checks"
    echo "== both ways round"
    awk '{ off[$1] += $4; on[$1] += $7; if (!($1 in seen)) { seen[$1] = 1; order[++n] = $1 } }
         END { for (i = 1; i <= n; ++i) { e = order[i]
                   printf "%-16s checks off %6.0f ns   on %6.0f ns   %+.1f %%\n", e, off[e] / 2,
                          on[e] / 2, (on[e] - off[e]) * 100 / off[e] } }' "$out/checks"
    exit 0
fi
echo "== the stand-in alone"
"$build/wine-run.sh" "$bin/trace_bench.exe" "$host" "$calls" | tr -d '\r'
echo "== through the tracer, no log, no recording"
VELLQUIB_TRACE_HOST=$host "$build/wine-run.sh" "$bin/trace_bench.exe" "$tracer" "$calls" | tr -d '\r'
echo "== through the tracer, with call log and recording"
VELLQUIB_TRACE_HOST=$host VELLQUIB_TRACE_LOG=$("$build/wine-run.sh" winepath -w "$out/log" | tr -d '\r') \
    VELLQUIB_TRACE_RECORD=$("$build/wine-run.sh" winepath -w "$out/rec" | tr -d '\r') \
    "$build/wine-run.sh" "$bin/trace_bench.exe" "$tracer" "$calls" | tr -d '\r'
echo "== the stand-in alone, with its own call log"
VELLQUIB_LOG=$("$build/wine-run.sh" winepath -w "$out/standin-log" | tr -d '\r') \
    "$build/wine-run.sh" "$bin/trace_bench.exe" "$host" "$calls" | tr -d '\r'
