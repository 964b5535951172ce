#!/usr/bin/env bash
# Builds QuibDemo and runs every test: natively (with AddressSanitizer and
# UndefinedBehaviorSanitizer), the fuzzers for a short time, and the Windows
# build under Wine inside one Xvfb server. Where 32-bit code runs only
# emulated, the 32-bit program is built and packaged, and the Windows tests run
# on the same sources built for 64-bit Windows.
#
# Settings: QUIB_FUZZ_SECONDS, the seconds each fuzz target runs (default 20);
# QUIB_WINDOWS=win32 or win64, the Windows build whose tests run under Wine;
# QUIB_WINE=0 runs no Windows test under Wine.
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

# A preset's build, which says so first when its folder was never built.
build_preset() {
    quib_say_first_build "build/$1"
    cmake --build --preset "$1"
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
run_step "native configure" quib_quiet cmake --preset native
run_step "native build" build_preset native
run_step "native tests" ctest --preset native -j2

# --- fuzzers ----------------------------------------------------------------
if [ -x fuzz/run.sh ]; then
    run_step "fuzzers" fuzz/run.sh "${QUIB_FUZZ_SECONDS:-20}"
fi

# --- Windows under Wine -------------------------------------------------------
win=$(quib_windows_preset)
# The tests' own prefix (the one build/$win/wine-run.sh uses); its Wine
# services end with this run, and no other prefix's do.
export WINEPREFIX="$root/build/$win/wineprefix"

cleanup() { wineserver -k >/dev/null 2>&1 || true; }
trap cleanup EXIT

if [ "${QUIB_WINE:-}" = 0 ] || [ "$win" != win32 ]; then
    # The 32-bit program and its test programs are built, and the tests that
    # need no Wine run: the release package is made and unpacked.
    run_step "win32 configure" quib_quiet cmake --preset win32 -DQUIB_WINE_TESTS=OFF
    run_step "win32 build" build_preset win32
    run_step "win32 tests without Wine" ctest --preset win32
fi
if [ "${QUIB_WINE:-}" = 0 ]; then
    echo "=== Windows tests under Wine: skipped (QUIB_WINE=0)"
    summary+=("Windows tests under Wine: skipped (QUIB_WINE=0)")
else
    if [ "$win" = win64 ]; then
        echo "Here 32-bit x86 programs run only under QEMU's emulator, about a minute of" \
            "processor time per program start: the Windows tests run on the 64-bit build."
    fi
    smoke=()
    if [ "$win" = win64 ]; then
        # The smoke of the 32-bit program runs in this build's tests, in the
        # 64-bit prefix.
        smoke=(-DQUIB_WIN32_BUILD_DIR="$root/build/win32")
    fi
    run_step "$win configure" quib_quiet cmake --preset "$win" -DQUIB_WINE_TESTS=ON "${smoke[@]}"
    # The prefix and its persistent wineserver are made while the build runs
    # (which runs no Windows program), detached from ctest's pipes.
    prefix_start=$SECONDS
    (
        "build/$win/wine-run.sh" || exit
        echo "wine prefix: ready after $((SECONDS - prefix_start)) s"
    ) &
    prefix_job=$!
    run_step "$win build" build_preset "$win"
    run_step "wine prefix (beside the build)" wait "$prefix_job"
    run_step "$win tests" ctest --preset "$win" -j2
fi

echo
printf '%s\n' "${summary[@]}"
echo "all: $SECONDS s"
exit $status
