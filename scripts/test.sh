#!/usr/bin/env bash
# Builds QuibDemo in both presets and runs every test: natively (with
# AddressSanitizer and UndefinedBehaviorSanitizer), the fuzzers for a short
# time, and the Windows build under Wine inside one Xvfb server.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/setup.sh

# The Windows tests need a display: the whole run gets one private Xvfb server.
if [ -z "${QUIB_IN_XVFB:-}" ]; then
    QUIB_IN_XVFB=1 QUIB_FORCE_XVFB=1 exec scripts/with-xvfb.sh "$0" "$@"
fi

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

# --- formatting -------------------------------------------------------------
format_check() {
    git ls-files -- '*.c' '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
}
run_step "clang-format" format_check

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
# A fixed locale, so that Wine's system code page is 1252 on every machine.
unset LC_ALL
export LANG=en_US.UTF-8

cleanup() { wineserver -k >/dev/null 2>&1 || true; }
trap cleanup EXIT

cmake --preset win32 >/dev/null
# Prefix and persistent wineserver first, detached from ctest's pipes.
scripts/wine-prefix.sh "$WINEPREFIX"
# Test discovery runs the test programs under Wine at build time.
run_step "win32 build" cmake --build --preset win32
run_step "win32 tests" ctest --preset win32 -j2

echo
printf '%s\n' "${summary[@]}"
exit $status
