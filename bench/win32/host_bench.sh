#!/usr/bin/env bash
# Plug-ins against vellhost.exe, the simulated host client, across processes:
# the time of one request joined beside the stand-in's own world, the load
# of many plug-ins at once, the host killed during that load, and QuibDemo's
# start-up joined beside alone. Prints markdown table rows, with the machine's
# load (uptime) before each part.
#   bench/win32/host_bench.sh [plug-ins] [lines/s] [seconds] [latency calls]
#                              (defaults 8 20 60 5000)
# QUIB_BENCH_BUILD_DIR: the build folder (default build/win32, or build/win64
# where 32-bit code runs only emulated). QUIB_HOST_BENCH_SKIP: a list of the
# parts to leave out (latency, load, fault, startup).
set -euo pipefail
# shellcheck source=scripts/common.sh
. "$(dirname "$0")/../../scripts/common.sh"

# Wine's services start inside the run's own Xvfb server and end with it.
if [ -z "${QUIB_IN_XVFB:-}" ]; then
    quib_prepare "$@"
    QUIB_IN_XVFB=1 QUIB_FORCE_XVFB=1 exec scripts/with-xvfb.sh "$quib_self" "$@"
fi

build=$quib_root/build/$(quib_windows_preset)
if [ -n "${QUIB_BENCH_BUILD_DIR:-}" ]; then
    build=$(quib_user_path "$QUIB_BENCH_BUILD_DIR")
fi
quib_build "$build" host_load vellhost vellquib QuibDemo quibctl bare_window bare_controls
bin=$build/bin
export WINEPREFIX="$build/wineprefix-hostbench"
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
wine() { "$build/wine-run.sh" "$@"; }
wine

plugins=${1:-8}
rate=${2:-20}
seconds=${3:-60}
calls=${4:-5000}
skip=${QUIB_HOST_BENCH_SKIP:-}

export VELLQUIB_BUSY_PERCENT=0 VELLQUIB_CHATTER_MS=0 VELLQUIB_DELIVERY_MS=0

start_host() {
    wine "$bin/vellhost.exe" &
    wine "$bin/quibctl.exe" wait-host 60000
}
stop_host() {
    wineserver -k >/dev/null 2>&1 || true
    wait 2>/dev/null || true
    wine
}
load() { echo "<!-- load: $(uptime | sed 's/.*load average: //') -->"; }

if [[ $skip != *latency* ]]; then
    start_host
    load
    wine "$bin/host_load.exe" latency "$calls" | tr -d '\r'
    stop_host
fi
if [[ $skip != *load* ]]; then
    start_host
    load
    wine "$bin/host_load.exe" drive "$plugins" "$rate" "$seconds" | tr -d '\r'
    stop_host
fi
if [[ $skip != *fault* ]]; then
    start_host
    load
    kill_after=$((seconds / 3 > 0 ? seconds / 3 : 1))
    wine "$bin/host_load.exe" drive "$plugins" "$rate" "$((seconds / 2 > 2 ? seconds / 2 : 2))" "$kill_after" | tr -d '\r'
    stop_host
    start_host
    load
    wine "$bin/host_load.exe" drive "$plugins" "$rate" "$((seconds / 2 > 2 ? seconds / 2 : 2))" "$kill_after" hang | tr -d '\r'
    stop_host
fi
if [[ $skip != *startup* ]]; then
    # quibctl startup starts QuibDemo.exe and its yardsticks in rounds; in
    # turn with QuibDemo joining the running host and alone (VELLQUIB_HOST=
    # none), three times each. Compared is QuibDemo's start-up relative to
    # the bare window with the same controls started in the same rounds,
    # which takes out most of the machine's changing load.
    start_host
    load
    joined_ms=() alone_ms=() joined_ratio=() alone_ratio=()
    for turn in 1 2 3; do
        for kind in required none; do
            out=$(VELLQUIB_HOST=$kind wine "$bin/quibctl.exe" startup 7 | tr -d '\r')
            ms=$(echo "$out" | sed -n 's/^| Start-up to window shown, QuibDemo.exe (median of [0-9]*) | \([0-9.]*\) ms |$/\1/p')
            ratio=$(echo "$out" | sed -n "s/^| Start-up ratio QuibDemo \/ bare window with the same controls (median of the rounds') | \([0-9.]*\) |$/\1/p")
            if [ $kind = required ]; then
                joined_ms+=("$ms") joined_ratio+=("$ratio")
            else
                alone_ms+=("$ms") alone_ratio+=("$ratio")
            fi
        done
    done
    stop_host
    median() { printf '%s\n' "$@" | sort -g | sed -n 2p; }
    jm=$(median "${joined_ms[@]}") am=$(median "${alone_ms[@]}")
    jr=$(median "${joined_ratio[@]}") ar=$(median "${alone_ratio[@]}")
    echo "| QuibDemo start-up to window shown, joined / alone (medians of 3 x 7) | $jm ms / $am ms |"
    echo "| ... relative to the bare window with the same controls, joined / alone | $jr / $ar (joined / alone $(awk -v a="$jr" -v b="$ar" 'BEGIN { if (b > 0) printf "%.2f", a / b }')) |"
fi
