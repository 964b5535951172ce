#!/bin/sh
# Makes sure a Wine prefix exists and is ready for headless tests, and that a
# persistent wineserver with Wine's background services runs for it.
#
# The services (wineserver, winedevice.exe, ...) inherit the standard streams
# of the first Wine process that starts them. If that is a test run by ctest,
# ctest waits for them to close its output pipe, which costs seconds per test
# or hangs for ever with a persistent server. So they are started here with
# their streams detached from the caller.
set -eu
prefix=$1
export WINEPREFIX="$prefix" WINEDEBUG="${WINEDEBUG:--all}"
mkdir -p "$(dirname "$prefix")"

(
  flock 9
  if [ ! -f "$prefix/.quib-ready" ]; then
    # No Mono or Gecko installers: the tests need neither.
    WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i </dev/null >/dev/null 2>&1 9>&-
    # A crash dialog would hang a headless run.
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1 9>&-
    wineserver -w </dev/null >/dev/null 2>&1 9>&- || true
    touch "$prefix/.quib-ready"
  fi
  # The background processes must not inherit the lock (9>&-), or they would
  # hold it for as long as they live.
  # Start a persistent server unless one already serves this prefix.
  if wineserver -p </dev/null >/dev/null 2>&1 9>&-; then
    wine cmd /c exit </dev/null >/dev/null 2>&1 9>&- || true
  fi
) 9>"$prefix.lock"
