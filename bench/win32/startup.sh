#!/usr/bin/env bash
# Start-up figures of QuibDemo.exe under Wine: time from process start to the
# window shown and the working set then, each beside two yardsticks built the
# same way (bench/win32/bare_window.cpp): a bare window with the same
# eighteen standard controls and common controls 6, and an empty bare window;
# and the size of QuibDemo.exe. Prints markdown table rows.
#   bench/win32/startup.sh [runs]     (default 15)
# QUIB_BENCH_BUILD_DIR: the build folder (default build/win32, or build/win64
# where 32-bit code runs only emulated; QUIB_WINDOWS chooses, see
# scripts/wine-env.sh).
set -euo pipefail
# shellcheck source=scripts/common.sh
. "$(dirname "$0")/../../scripts/common.sh"
if [ -z "${QUIB_IN_XVFB:-}" ]; then
    quib_prepare "$@"
    build=$quib_root/build/$(quib_windows_preset)
    if [ -n "${QUIB_BENCH_BUILD_DIR:-}" ]; then
        build=$(quib_user_path "$QUIB_BENCH_BUILD_DIR")
    fi
    quib_build "$build" quibctl bare_window bare_controls
    QUIB_IN_XVFB=1 QUIB_FORCE_XVFB=1 QUIB_BENCH_BUILD_DIR=$build \
        exec scripts/with-xvfb.sh "$quib_self" "$@"
fi
build=$QUIB_BENCH_BUILD_DIR
# A prefix of its own, whose Wine services live and end with this Xvfb server.
export WINEPREFIX="$build/wineprefix-bench"
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
"$build/wine-run.sh"
echo "startup: the $(quib_windows_preset) build in $build" >&2
"$build/wine-run.sh" "$build/bin/quibctl.exe" startup "${1:-15}"
