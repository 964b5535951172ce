#!/usr/bin/env bash
# Builds the fuzz targets of the text path (clang, libFuzzer, AddressSanitizer
# and UndefinedBehaviorSanitizer) in build/fuzz and runs each one for the given
# number of seconds. Any crash, sanitizer report, difference between the fast
# and the literal text analysis, or input that runs longer than 10 seconds
# fails the run; the input that caused it is kept in build/fuzz/artifacts.
#
#   fuzz/run.sh 20      the short run of the test command
#   fuzz/run.sh 600     a longer run (ten minutes per target)
#   fuzz/run.sh build   the build alone (the test command builds first, and
#                       runs the fuzzers later beside the Windows tests)
#
# The corpora in build/fuzz/corpus grow from run to run.
set -euo pipefail
# shellcheck source=scripts/common.sh
. "$(dirname "$0")/../scripts/common.sh"

seconds=${1:-20}
if ! [[ $seconds =~ ^(build|[1-9][0-9]*)$ ]]; then
    echo "usage: fuzz/run.sh [SECONDS | build]" >&2
    exit 2
fi
build=build/fuzz
targets=(text_callback text_limits tokenizer avatar_list)

quib_say_first_build "$build"
if ! quib_quiet cmake -S fuzz -B "$build" -G Ninja -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo ||
    ! quib_quiet cmake --build "$build" -j2; then
    echo "fuzz: the build of the fuzz targets failed" >&2
    exit 1
fi
[ "$seconds" != build ] || exit 0

# Short host buffers for the text callback: the literal analysis it is checked
# against copies the unread rest for every line. The 16-bit limits have their
# own target, which builds long lines and names from a few bytes.
seeds=$build/seeds/text_callback
mkdir -p "$seeds"
printf 'Bob: hi\r\nESP from bob: x\r\n<system>: y\r\n\r\nEve: z\r\n\r\n' >"$seeds/short"
printf 'ESP to Zo\xC3\xAB: x\r\nzo\xC3\x8B: y\r\n\xFF\xFE: z\r\n\r\n####\0tail' >"$seeds/framed"
rm -f "$seeds"/line-3276? "$seeds"/name-3276?

# ASan's quarantine of freed memory kept small: a use after free is still
# caught while the block waits there, and the fuzzers' short-lived large
# strings reuse memory that is already mapped instead of faulting in new pages.
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=16}

# The pieces of the text path, for the raw host buffers.
dict=$build/text.dict
printf '%s\n' '"\x0d\x0a"' '": "' '"ESP to"' '"ESP from"' '"<system>"' '"\x00"' >"$dict"

status=0
for t in "${targets[@]}"; do
    corpus=$build/corpus/$t
    mkdir -p "$corpus" "$build/artifacts"
    extra=()
    if [ "$t" = text_callback ]; then
        extra=(-max_len=4096 -dict="$dict" "$seeds")
    fi
    log=$build/$t.log
    printf '%-14s ' "$t"
    if "$build/${t}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$build/artifacts/$t-" \
        "$corpus" "${extra[@]}" >"$log" 2>&1; then
        runs=$(awk '/stat::number_of_executed_units/ {print $2}' "$log")
        cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1)
        echo "ok: $runs inputs in ${seconds} s ($((runs / seconds)) a second), $cov"
    else
        echo "FAILED (log: $log)"
        tail -n 40 "$log"
        status=1
    fi
done
exit $status
