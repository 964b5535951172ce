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

# A job of the background's end, and what it wrote.
wait_logged() {
    local status=0
    wait "$1" || status=$?
    cat "$2" 2>/dev/null
    return "$status"
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

# --- Windows: the prefix, made beside the native steps ---------------------------
win=$(quib_windows_preset)
wine_tests=1
[ "${QUIB_WINE:-}" != 0 ] || wine_tests=
# The tests' own prefix (the one build/$win/wine-run.sh uses); its Wine
# services end with this run, and no other prefix's do.
export WINEPREFIX="$root/build/$win/wineprefix"
background=()
cleanup() {
    [ "${#background[@]}" -eq 0 ] || kill "${background[@]}" 2>/dev/null || true
    wineserver -k >/dev/null 2>&1 || true
}
trap cleanup EXIT

# A new prefix takes one core for 20 s (30 s where 32-bit code runs only
# emulated, 3 minutes with QEMU 7.2, for the 32-bit half of a 64-bit prefix):
# it is made in the background from here on, while the native build and the
# Windows builds run. No build runs a Windows program; ctest waits for the
# prefix (and makes it when run by hand).
if [ -n "$wine_tests" ]; then
    if [ "$win" = win64 ]; then
        echo "Here 32-bit x86 programs run only under QEMU's emulator: the Windows tests run" \
            "on the 64-bit build, and the 32-bit program once, in a smoke test."
    fi
    run_step "$win configure" quib_quiet cmake --preset "$win" -DQUIB_WINE_TESTS=ON
    prefix_start=$SECONDS
    (
        "build/$win/wine-run.sh" || exit
        echo "wine prefix: ready after $((SECONDS - prefix_start)) s"
    ) &
    prefix_job=$!
    background+=("$prefix_job")
fi

# --- native ---------------------------------------------------------------
run_step "native configure" quib_quiet cmake --preset native
run_step "native build" build_preset native
run_step "native tests" ctest --preset native -j2

# --- the 32-bit program where its tests do not run under Wine --------------------
smoke_job=
if [ -z "$wine_tests" ] || [ "$win" != win32 ]; then
    run_step "win32 configure" quib_quiet cmake --preset win32 -DQUIB_WINE_TESTS=OFF
    if [ -n "$wine_tests" ]; then
        # Where 32-bit code runs only emulated: what ships and what the package
        # and the smoke use; the 32-bit test programs, which run nowhere here,
        # are left out (they are built where 32-bit code runs natively).
        quib_say_first_build build/win32
        run_step "win32 build" cmake --build --preset win32 --target quib_shipped \
            vellquib_tracer hello_plugin
    else
        run_step "win32 build" build_preset win32
    fi
    # The tests that need no Wine: the release package is made and unpacked.
    run_step "win32 tests without Wine" ctest --preset win32
    if [ -n "$wine_tests" ]; then
        # The smoke of the 32-bit program (tests/e2e/smoke.sh): started in the
        # 64-bit prefix once it is ready (wine-run.sh waits for it), emulated,
        # driven by the 64-bit quibctl; it runs beside the builds that follow.
        run_step "$win quibctl" cmake --build --preset "$win" --target quibctl
        smoke_log="$root/build/$win/smoke.log"
        (
            cd "build/$win/tests/e2e" && "$root/build/$win/wine-run.sh" &&
                timeout 900 sh "$root/tests/e2e/smoke.sh" "$root/build/$win/wine-run.sh" \
                    "$root/build/win32/bin" "$root/build/$win/bin/quibctl.exe" >"$smoke_log" 2>&1
        ) &
        smoke_job=$!
        background+=("$smoke_job")
    fi
fi

# --- fuzzers ----------------------------------------------------------------
# Each target runs on one core for a fixed time. With the Windows tests, which
# mostly wait on Wine (a fifth of a core on average), they run beside those
# tests at the lowest priority, so that neither takes the other's time; they
# are built first, like everything else, with both cores.
fuzz_seconds=${QUIB_FUZZ_SECONDS:-20}
if [ -n "$wine_tests" ]; then
    run_step "fuzzers build" fuzz/run.sh build
else
    run_step "fuzzers" fuzz/run.sh "$fuzz_seconds"
fi

# --- Windows under Wine -------------------------------------------------------
if [ -z "$wine_tests" ]; then
    echo "=== Windows tests under Wine: skipped (QUIB_WINE=0)"
    summary+=("Windows tests under Wine: skipped (QUIB_WINE=0)")
else
    run_step "$win build" build_preset "$win"
    run_step "wine prefix (made in the background)" wait "$prefix_job"
    if [ -n "$smoke_job" ]; then
        run_step "win32 smoke (run in the background)" wait_logged "$smoke_job" "$smoke_log"
    fi
    fuzz_log="$root/build/fuzz/run.log"
    nice -n 19 fuzz/run.sh "$fuzz_seconds" >"$fuzz_log" 2>&1 &
    fuzz_job=$!
    background+=("$fuzz_job")
    run_step "$win tests" ctest --preset "$win" -j2
    run_step "fuzzers (run beside the $win tests)" wait_logged "$fuzz_job" "$fuzz_log"
fi

echo
printf '%s\n' "${summary[@]}"
echo "all: $SECONDS s"
exit $status
