#!/usr/bin/env bash
# Runs a command with DISPLAY set to a private Xvfb server, which is stopped
# afterwards. A display that is already set is used as it is.
# QUIB_XVFB_DISPLAY names the private server, so that scripts/wine-prefix.sh
# knows that no window manager runs there.
set -euo pipefail
if [ -n "${DISPLAY:-}" ] && [ -z "${QUIB_FORCE_XVFB:-}" ]; then
    exec "$@"
fi
fd_file=$(mktemp)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fd_file" >/dev/null 2>&1 &
xvfb_pid=$!
trap 'kill "$xvfb_pid" >/dev/null 2>&1 || true; rm -f "$fd_file"' EXIT
for _ in $(seq 100); do [ -s "$fd_file" ] && break; sleep 0.1; done
[ -s "$fd_file" ] || { echo "with-xvfb: Xvfb did not start" >&2; exit 1; }
QUIB_XVFB_DISPLAY=":$(tr -d '\n' <"$fd_file")"
export DISPLAY=$QUIB_XVFB_DISPLAY QUIB_XVFB_DISPLAY
"$@"
