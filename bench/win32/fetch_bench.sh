#!/usr/bin/env bash
# The whole fetch of a text buffer under Wine: builds the window's fetch
# benchmark (Release, 32-bit Windows; 64-bit where 32-bit code runs only
# emulated, see QUIB_WINDOWS in scripts/wine-env.sh) in build/bench-win32 or
# build/bench-win64 and runs it in a private Xvfb server. It prints markdown
# table rows:
#   - the fetch of a generated 1 MiB and 16 MiB buffer (1,000 speakers), from
#     the click on "&Get Vell Text" to the filled avatar list, with the time in
#     the edit control and in the list box, next to a bare edit control taking
#     the same text in the same run, before and after each fetch (ratio whole
#     / bare, and the program's own share: everything but the edit control
#     taking the text); the median of five rounds (1 MiB) or four (16 MiB),
#     the own share of the first fetch apart, and every round on stderr;
#   - the CPU time the process uses during a 5-second wait for a text.
# Usage: bench/win32/fetch_bench.sh [--small]   (--small skips the 16 MiB run)
set -euo pipefail
# shellcheck source=scripts/common.sh
. "$(dirname "$0")/../../scripts/common.sh"

# Wine's services start inside the run's own Xvfb server and end with it.
if [ -z "${QUIB_IN_XVFB:-}" ]; then
    QUIB_IN_XVFB=1 QUIB_FORCE_XVFB=1 exec scripts/with-xvfb.sh "$quib_self" "$@"
fi

preset=$(quib_windows_preset)
build=$PWD/build/bench-$preset
quib_say_first_build "$build"
if ! quib_quiet cmake --preset "$preset" -B "$build" -DQUIB_BENCH=ON -DQUIB_TESTS=OFF ||
    ! quib_quiet cmake --build "$build" -j2 --target fetch_bench; then
    echo "fetch_bench: the build failed" >&2
    exit 1
fi
echo "fetch_bench: the $preset build in $build" >&2

export WINEPREFIX="$build/wineprefix"
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
"$build/wine-run.sh" "$build/bin/fetch_bench.exe" "$@"
