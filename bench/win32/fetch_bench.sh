#!/usr/bin/env bash
# The whole fetch of a text buffer under Wine: builds the window's fetch
# benchmark (Release, 32-bit Windows) in build/bench-win32 and runs it in a
# private Xvfb server. It prints markdown table rows:
#   - the fetch of a generated 1 MiB and 16 MiB buffer (1,000 speakers), from
#     the click on "&Get Vell Text" to the filled avatar list, with the time in
#     the edit control and in the list box, next to a bare edit control taking
#     the same text in the same run, before and after each fetch (ratio whole
#     / bare, and the program's own share: everything but the edit control
#     taking the text); the median of three rounds;
#   - the CPU time the process uses during a 5-second wait for a text.
# Usage: bench/win32/fetch_bench.sh [--small]   (--small skips the 16 MiB run)
set -euo pipefail
cd "$(dirname "$0")/../.."

# Wine's services start inside the run's own Xvfb server and end with it.
if [ -z "${QUIB_IN_XVFB:-}" ]; then
    QUIB_IN_XVFB=1 QUIB_FORCE_XVFB=1 exec scripts/with-xvfb.sh bench/win32/fetch_bench.sh "$@"
fi

build=$PWD/build/bench-win32
cmake --preset win32 -B "$build" -DQUIB_BENCH=ON -DQUIB_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target fetch_bench >/dev/null

# shellcheck source=scripts/wine-env.sh
. scripts/wine-env.sh
export WINEPREFIX="$build/wineprefix"
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
scripts/wine-prefix.sh "$WINEPREFIX"
"$build/wine-run.sh" "$build/bin/fetch_bench.exe" "$@"
