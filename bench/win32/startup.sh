#!/usr/bin/env bash
# Start-up figures of QuibDemo.exe under Wine: time from process start to the
# window shown and the working set then, each beside a bare Win32 window built
# the same way, and the size of QuibDemo.exe. Prints markdown table rows.
#   bench/win32/startup.sh [runs]     (default 15)
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
build=$root/${QUIB_BENCH_BUILD_DIR:-build/win32}
if [ -z "${QUIB_IN_XVFB:-}" ]; then
    bash scripts/setup.sh
    cmake --preset win32 -B "$build" >/dev/null
    cmake --build "$build" --target quibctl >/dev/null
    QUIB_IN_XVFB=1 QUIB_FORCE_XVFB=1 exec scripts/with-xvfb.sh "$0" "$@"
fi
# A prefix of its own, whose Wine services live and end with this Xvfb server.
export WINEPREFIX="$build/wineprefix-bench" WINEDEBUG=-all
unset LC_ALL
export LANG=en_US.UTF-8
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
scripts/wine-prefix.sh "$WINEPREFIX"
wine "$build/bin/quibctl.exe" startup "${1:-15}"
