#!/usr/bin/env bash
# Builds QuibDemo in both presets and runs every test: natively (with
# AddressSanitizer and UndefinedBehaviorSanitizer), the fuzzers for a short
# time, and the Windows build under Wine inside one Xvfb server.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/setup.sh

status=0
summary=()

run_step() {
    local name=$1
    shift
    echo "=== $name"
    if "$@"; then
        summary+=("$name: ok")
    else
        summary+=("$name: FAILED")
        status=1
    fi
}

# --- native ---------------------------------------------------------------
cmake --preset native >/dev/null
run_step "native build" cmake --build --preset native
run_step "native tests" ctest --preset native -j2

# --- fuzzers ----------------------------------------------------------------
if [ -x fuzz/run.sh ]; then
    run_step "fuzzers" fuzz/run.sh "${QUIB_FUZZ_SECONDS:-20}"
fi

# --- win32 under Wine -----------------------------------------------------
export WINEPREFIX="$root/build/win32/wineprefix"
export WINEDEBUG=-all
export LC_ALL=C.UTF-8 LANG=en_US.UTF-8

# One X server for the whole run (the window tests need a display).
xvfb_log=$(mktemp)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$xvfb_log.fd" >"$xvfb_log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do [ -s "$xvfb_log.fd" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$xvfb_log.fd")"
cleanup() {
    wineserver -k >/dev/null 2>&1 || true
    kill "$xvfb_pid" >/dev/null 2>&1 || true
    rm -f "$xvfb_log" "$xvfb_log.fd"
}
trap cleanup EXIT

cmake --preset win32 >/dev/null
# Prefix and persistent wineserver first, detached from ctest's pipes.
scripts/wine-prefix.sh "$WINEPREFIX"
run_step "win32 build" cmake --build --preset win32
run_step "win32 tests" ctest --preset win32 -j2

echo
printf '%s\n' "${summary[@]}"
exit $status
