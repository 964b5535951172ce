#!/usr/bin/env bash
# Builds QuibDemo in both presets and runs every test: natively (with
# AddressSanitizer and UndefinedBehaviorSanitizer), the fuzzers for a short
# time, and the Windows build under Wine inside one Xvfb server (where Wine
# runs only emulated, the Windows build without the tests that need Wine).
#
# Settings: QUIB_FUZZ_SECONDS, the seconds each fuzz target runs (default 20);
# QUIB_WINE=1 or 0 runs the Windows tests under Wine always or never.
set -euo pipefail
# shellcheck source=scripts/common.sh
. "$(dirname "$0")/common.sh"
root=$quib_root

# The Windows tests need a display: the whole run gets one private Xvfb server.
if [ -z "${QUIB_IN_XVFB:-}" ]; then
    quib_prepare "$@"
    QUIB_IN_XVFB=1 QUIB_FORCE_XVFB=1 exec scripts/with-xvfb.sh "$quib_self" "$@"
fi

status=0
summary=()

run_step() {
    local name=$1 start=$SECONDS
    shift
    echo "=== $name"
    if "$@"; then
        summary+=("$name: ok ($((SECONDS - start)) s)")
    else
        summary+=("$name: FAILED ($((SECONDS - start)) s)")
        status=1
    fi
}

# --- formatting -------------------------------------------------------------
# The sources of the tree, found without git (a source archive has none),
# build folders and hidden folders left out.
format_check() {
    local files=()
    mapfile -d '' files < <(find . \( -path ./build -o -path './.*' -o -name CMakeFiles \) -prune \
        -o -type f \( -name '*.c' -o -name '*.cpp' -o -name '*.h' \) -print0 | sort -z)
    if [ "${#files[@]}" -eq 0 ]; then
        echo "no source files found" >&2
        return 1
    fi
    echo "${#files[@]} files"
    clang-format --dry-run --Werror "${files[@]}"
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
# The tests' own prefix (the one build/win32/wine-run.sh uses); its Wine
# services end with this run, and no other prefix's do.
export WINEPREFIX="$root/build/win32/wineprefix"

cleanup() { wineserver -k >/dev/null 2>&1 || true; }
trap cleanup EXIT

if quib_wine_wanted; then
    cmake --preset win32 -DQUIB_WINE_TESTS=ON >/dev/null
    # Prefix and persistent wineserver first, detached from ctest's pipes.
    run_step "wine prefix" scripts/wine-prefix.sh "$WINEPREFIX"
    # Test discovery runs the test programs under Wine at build time.
    run_step "win32 build" cmake --build --preset win32
    run_step "win32 tests" ctest --preset win32 -j2
else
    # Every Windows program is built, the test programs too, and the tests
    # that need no Wine run.
    cmake --preset win32 -DQUIB_WINE_TESTS=OFF >/dev/null
    run_step "win32 build" cmake --build --preset win32
    run_step "win32 tests without Wine" ctest --preset win32
    echo "=== win32 tests under Wine: skipped"
    echo "Here 32-bit x86 programs run only under QEMU's emulator, about a minute of" \
        "processor time per program start; QUIB_WINE=1 runs the Windows tests all the same."
    summary+=("win32 tests under Wine: skipped (emulated; QUIB_WINE=1 runs them)")
fi

echo
printf '%s\n' "${summary[@]}"
echo "all: $SECONDS s"
exit $status
