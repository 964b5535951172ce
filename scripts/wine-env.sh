# shellcheck shell=sh
# The environment in which the scripts run Windows programs under Wine.
# Sourced (POSIX sh) by the scripts and by the build's wine-run.sh.

# Wine's own diagnostics stay quiet unless the caller asks for some.
: "${WINEDEBUG:=-all}"
export WINEDEBUG
# A fixed locale, so that Wine's system code page is 1252 on every machine.
unset LC_ALL
LANG=en_US.UTF-8
export LANG
