#!/usr/bin/env bash
# Builds QuibDemo for 32-bit Windows and runs it under Wine, with the stand-in
# host library vellquib.dll beside it.
#
# With a display ($DISPLAY set) the window opens there and the command ends
# when the program does. Without one the program runs on a private Xvfb
# server: a PNG screenshot of the window is saved (build/screenshot.png by
# default, or the path given as the first argument), its path is printed, and
# the program is closed as a user would close it; the command fails unless the
# program ends with exit code 0.
#
# QUIB_RUN_FETCH=1 (headless only) first clicks "&Get Vell Text", waits for the
# text, picks the first avatar listed and writes it an "ESP" line, so that the
# screenshot shows a fetched conversation.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

# The build folder of the win32 preset (another one may be given).
build=$root/${QUIB_RUN_BUILD_DIR:-build/win32}

if [ -z "${QUIB_RUN_IN_XVFB:-}" ]; then
    bash scripts/setup.sh
    cmake --preset win32 -B "$build" >/dev/null
    cmake --build "$build" --target QuibDemo vellquib quibctl >/dev/null
fi

bin="$build/bin"
export WINEDEBUG=-all
unset LC_ALL
export LANG=${LANG:-en_US.UTF-8}

if [ -n "${DISPLAY:-}" ] && [ -z "${QUIB_RUN_HEADLESS:-}" ] && [ -z "${QUIB_RUN_IN_XVFB:-}" ]; then
    export WINEPREFIX="$build/wineprefix"
    scripts/wine-prefix.sh "$WINEPREFIX"
    exec wine "$bin/QuibDemo.exe"
fi

if [ -z "${QUIB_RUN_IN_XVFB:-}" ]; then
    QUIB_RUN_IN_XVFB=1 QUIB_FORCE_XVFB=1 exec scripts/with-xvfb.sh "$0" "$@"
fi

# Headless: a prefix of its own in which Wine draws the window's title bar
# itself (there is no window manager to draw it), with the font of its
# title-bar buttons.
export WINEPREFIX="$build/wineprefix-screenshot"
# Wine's services of this prefix end with this run's Xvfb server.
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
scripts/wine-prefix.sh "$WINEPREFIX"
if [ ! -f "$WINEPREFIX/.quib-decorated" ]; then
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
    for dir in /usr/share/wine/fonts /usr/lib/wine/fonts; do
        if [ -f "$dir/marlett.ttf" ]; then
            cp "$dir/marlett.ttf" "$WINEPREFIX/drive_c/windows/Fonts/"
            break
        fi
    done
    wineserver -k >/dev/null 2>&1 || true
    scripts/wine-prefix.sh "$WINEPREFIX"
    touch "$WINEPREFIX/.quib-decorated"
fi

shot=${1:-$root/build/screenshot.png}
mkdir -p "$(dirname "$shot")"

wine "$bin/QuibDemo.exe" &
program=$!

# quibctl finds the window, waits until it is shown and idle, and closes it.
if ! wine "$bin/quibctl.exe" wait-shown 30000; then
    echo "run: the window did not appear" >&2
    kill "$program" 2>/dev/null || true
    exit 1
fi
if [ -n "${QUIB_RUN_FETCH:-}" ]; then
    if wine "$bin/quibctl.exe" fetch 20000; then
        wine "$bin/quibctl.exe" compose "Did you see the new gallery?" || true
    else
        echo "run: no text arrived" >&2
    fi
fi
sleep 1
id=$(xwininfo -root -tree 2>/dev/null | grep "\"Tolvik's Vell QUIB Demo\"" | head -n1 |
    awk '{print $1}')
if [ -n "$id" ]; then
    import -window "$id" "$shot"
else
    import -window root "$shot"
fi
echo "$shot"

wine "$bin/quibctl.exe" close 10000 || true
status=0
wait "$program" || status=$?
if [ "$status" -ne 0 ]; then
    echo "run: QuibDemo.exe ended with exit code $status" >&2
    exit "$status"
fi
