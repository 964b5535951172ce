#!/usr/bin/env bash
# Builds QuibDemo for 32-bit Windows and runs it under Wine, with the stand-in
# host library vellquib.dll beside it. Where 32-bit code runs only emulated,
# it builds and runs the same sources for 64-bit Windows instead.
#
#   scripts/run.sh [--alone] [screenshot.png]
#
# By default it first starts vellhost.exe, the simulated host client, and
# QuibDemo joins it, as a plug-in joins its host; more plug-ins can join the
# same world while both run (vellquib/README.md). With --alone QuibDemo runs
# against the world inside the stand-in library, without vellhost.exe.
#
# With a display ($DISPLAY set) the windows open there and the command ends
# when QuibDemo does (vellhost.exe stays until it is closed). Without one the
# programs run on a private Xvfb server: QuibDemo sends a line, fetches the
# text and picks an avatar, the two windows are placed side by side, a PNG
# screenshot of them is saved (build/screenshot.png by default, or the path
# given, taken from the folder the command was started in), its path is
# printed, and QuibDemo is closed as a user would close it; the command fails
# unless it ends with exit code 0. (--alone: QuibDemo's window only, and the
# line, fetch and pick only with QUIB_RUN_FETCH=1.)
#
# Settings:
#   QUIB_RUN_HEADLESS=1   the screenshot run even when a display is set
#   QUIB_RUN_FETCH=1      (screenshot run) first clicks "&Get Vell Text",
#                         waits for the text, picks the first avatar listed,
#                         chooses "ESP" and types a line to it, unsent, so
#                         that the screenshot shows a fetched conversation
#   QUIB_RUN_BUILD_DIR    the build folder (default build/win32 or build/win64
#                         in the tree)
#   QUIB_WINDOWS          win32 or win64: the build to run (scripts/wine-env.sh)
#   QUIB_WINE=0           build only; start nothing under Wine
set -euo pipefail
# shellcheck source=scripts/common.sh
. "$(dirname "$0")/common.sh"

if [ "${1:-}" = --alone ]; then
    export QUIB_RUN_ALONE=1
    shift
fi

if [ -z "${QUIB_RUN_IN_XVFB:-}" ]; then
    quib_prepare "$@"

    build=$quib_root/build/$(quib_windows_preset)
    if [ -n "${QUIB_RUN_BUILD_DIR:-}" ]; then
        build=$(quib_user_path "$QUIB_RUN_BUILD_DIR")
    fi
    shot=$quib_root/build/screenshot.png
    if [ $# -gt 0 ]; then
        shot=$(quib_user_path "$1")
    fi

    echo "run: building QuibDemo.exe, vellquib.dll, vellhost.exe and quibctl.exe in $build" >&2
    quib_build "$build" QuibDemo vellquib vellhost quibctl
    if [ "${QUIB_WINE:-}" = 0 ]; then
        echo "run: built; not started, as QUIB_WINE=0 asks" >&2
        exit 0
    fi

    if [ -n "${DISPLAY:-}" ] && [ -z "${QUIB_RUN_HEADLESS:-}" ]; then
        # The demo's own prefix: the tests' run never ends its Wine services.
        export WINEPREFIX="$build/wineprefix-demo"
        if [ -n "${QUIB_RUN_ALONE:-}" ]; then
            VELLQUIB_HOST=none exec "$build/wine-run.sh" "$build/bin/QuibDemo.exe"
        fi
        "$build/wine-run.sh" "$build/bin/vellhost.exe" &
        "$build/wine-run.sh" "$build/bin/quibctl.exe" wait-host 60000
        VELLQUIB_HOST=required exec "$build/wine-run.sh" "$build/bin/QuibDemo.exe"
    fi

    QUIB_RUN_IN_XVFB=1 QUIB_FORCE_XVFB=1 QUIB_RUN_BUILD_DIR=$build \
        exec scripts/with-xvfb.sh "$quib_self" "$shot"
fi

build=$QUIB_RUN_BUILD_DIR
shot=$1
bin=$build/bin
# The build's own Wine loader (the 64-bit one for a 64-bit build).
wine() { "$build/wine-run.sh" "$@"; }

# Headless: a prefix of its own. There is no window manager on the private
# Xvfb server, so Wine draws the window's frame and title bar itself
# (scripts/wine-prefix.sh).
export WINEPREFIX="$build/wineprefix-screenshot"
# Wine's services of this prefix end with this run's Xvfb server.
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
wine

mkdir -p "$(dirname "$shot")"

# How long quibctl waits for the window at each step, in ms; a program start
# under an old emulator (QEMU 7.2) takes about a minute of its own.
wait_ms=30000
if quib_wine_emulated && [ "$(quib_windows_preset)" = win32 ]; then
    wait_ms=600000
fi

if [ -n "${QUIB_RUN_ALONE:-}" ]; then
    export VELLQUIB_HOST=none
else
    # The host client first; QuibDemo joins it (or fails to start).
    wine "$bin/vellhost.exe" &
    if ! wine "$bin/quibctl.exe" wait-host "$wait_ms"; then
        echo "run: vellhost.exe did not appear" >&2
        exit 1
    fi
    export VELLQUIB_HOST=required QUIB_RUN_FETCH=1
fi
wine "$bin/QuibDemo.exe" &
program=$!

# quibctl finds the window, waits until it is shown and idle, and closes it.
if ! wine "$bin/quibctl.exe" wait-shown "$wait_ms"; then
    echo "run: the window did not appear" >&2
    kill "$program" 2>/dev/null || true
    exit 1
fi
if [ -n "${QUIB_RUN_FETCH:-}" ]; then
    if [ -z "${QUIB_RUN_ALONE:-}" ]; then
        wine "$bin/quibctl.exe" speak "Hello, host! QuibDemo here." || echo "run: the line was not sent" >&2
    fi
    if wine "$bin/quibctl.exe" fetch "$wait_ms"; then
        wine "$bin/quibctl.exe" compose "Did you see the new gallery?" || true
    else
        echo "run: no text arrived" >&2
    fi
fi
sleep 1
# The X server knows the window by its caption, which quibctl reads from it.
caption=$(wine "$bin/quibctl.exe" caption | tr -d '\r\n' || true)
id=$(xwininfo -name "$caption" 2>/dev/null | sed -n 's/^xwininfo: Window id: \(0x[0-9a-f]*\).*/\1/p')
area=
if [ -z "${QUIB_RUN_ALONE:-}" ]; then
    area=$(wine "$bin/quibctl.exe" place | tr -d '\r\n' || true)
    sleep 1
fi
if [ -n "$area" ]; then
    import -window root -crop "$area" "$shot"
elif [ -n "$id" ]; then
    import -window "$id" "$shot"
else
    import -window root "$shot"
fi
echo "$shot"

wine "$bin/quibctl.exe" close "$wait_ms" || true
status=0
wait "$program" || status=$?
if [ "$status" -ne 0 ]; then
    echo "run: QuibDemo.exe ended with exit code $status" >&2
    exit "$status"
fi
