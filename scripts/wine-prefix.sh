#!/bin/sh
# Makes sure a Wine prefix exists and is ready for headless tests, and that a
# persistent wineserver with Wine's background services runs for it.
#
# The services (wineserver, winedevice.exe, ...) inherit the standard streams
# of the first Wine process that starts them, and would hold a caller's pipe
# for as long as they live. So they are started here with their streams
# detached from the caller (and the build's wine-run.sh keeps every program's
# streams away from the desktop process, which is started anew later).
#
# Every prefix also gets Wine's own fonts (Tahoma, MS Sans Serif, Marlett, ...,
# from Debian's fonts-wine), so that programs see the faces a Windows system
# has instead of falling back to whatever the host has. Wine does not find them
# where the package installs them, so they are copied into the prefix's Fonts
# folder; a prefix made before this gets them on its next use. Without them
# the prefix is not made: every face falls back to the host's fonts, and with
# those Wine's 64-bit text layout faults on Cyrillic names (a fetch under code
# page 1251 ended the 64-bit program).
# QUIB_WINE_FONTS=none leaves them out of a new prefix on purpose, to see the
# window as a system without them shows it.
#
# On the scripts' own Xvfb servers (QUIB_XVFB_DISPLAY, scripts/with-xvfb.sh)
# no window manager runs, and Wine's X11 driver, which waits up to two
# seconds for one to answer each time a window is hidden or destroyed, is told
# that it manages the windows itself ("Managed"=N): Wine then activates and
# focuses its windows on its own, as Windows does. On any other display the
# window manager does that, and the setting is restored.
# QUIB_WINE_LOADER names the Wine loader to use (default: wine); WINEARCH, when
# set, the kind of a new prefix (win32 or win64).
set -eu
prefix=$1
wine=${QUIB_WINE_LOADER:-wine}
export WINEPREFIX="$prefix" WINEDEBUG="${WINEDEBUG:--all}"
mkdir -p "$(dirname "$prefix")"

# Wine's fonts, looked for before anything is made.
fonts=
for dir in /usr/share/wine/fonts /usr/lib/wine/fonts; do
  if [ -f "$dir/tahoma.ttf" ]; then
    fonts=$dir
    break
  fi
done
if [ -z "$fonts" ] && [ "${QUIB_WINE_FONTS:-}" != none ] &&
  [ "$(cat "$prefix/.quib-fonts" 2>/dev/null)" != none ]; then
  echo "wine-prefix: Wine's own fonts are not installed (Debian package fonts-wine, tahoma.ttf" \
    "in /usr/share/wine/fonts), so the prefix $prefix is not made ready: run 'sudo scripts/setup.sh'," \
    "or set QUIB_WINE_FONTS=none to use the host's fonts on purpose (Cyrillic text then ends" \
    "the 64-bit program)" >&2
  exit 1
fi

(
  flock 9
  if [ ! -f "$prefix/.quib-ready" ]; then
    echo "wine-prefix: making the Wine prefix $prefix (the first time only)" >&2
    # No Mono or Gecko installers: the tests need neither.
    WINEDLLOVERRIDES="mscoree,mshtml=" "$wine" wineboot -i </dev/null >/dev/null 2>&1 9>&-
    # A crash dialog would hang a headless run.
    "$wine" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1 9>&-
    wineserver -w </dev/null >/dev/null 2>&1 9>&- || true
    touch "$prefix/.quib-ready"
  fi
  fonts_version=1
  if [ "${QUIB_WINE_FONTS:-}" = none ]; then
    [ -f "$prefix/.quib-fonts" ] || echo none >"$prefix/.quib-fonts"
  elif [ "$(cat "$prefix/.quib-fonts" 2>/dev/null)" != "$fonts_version" ] && [ -n "$fonts" ]; then
    mkdir -p "$prefix/drive_c/windows/Fonts"
    cp "$fonts"/*.ttf "$fonts"/*.fon "$prefix/drive_c/windows/Fonts/"
    echo "$fonts_version" >"$prefix/.quib-fonts"
  fi
  # The background processes must not inherit the lock (9>&-), or they would
  # hold it for as long as they live.
  # Start a persistent server unless one already serves this prefix.
  if wineserver -p </dev/null >/dev/null 2>&1 9>&-; then
    "$wine" cmd /c exit </dev/null >/dev/null 2>&1 9>&- || true
  fi
  managed=Y
  if [ -n "${QUIB_XVFB_DISPLAY:-}" ] && [ "${DISPLAY:-}" = "$QUIB_XVFB_DISPLAY" ]; then
    managed=N
  fi
  if [ "$(cat "$prefix/.quib-managed" 2>/dev/null || echo Y)" != "$managed" ]; then
    "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d "$managed" /f \
      </dev/null >/dev/null 2>&1 9>&-
    echo "$managed" >"$prefix/.quib-managed"
  fi
) 9>"$prefix.lock"
