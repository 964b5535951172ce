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

# True where 32-bit x86 programs, Wine's among them, run only under QEMU's
# user-mode emulator (scripts/setup.sh registers it where the kernel runs no
# 32-bit code). There every start of a Windows program costs about a minute
# of processor time.
quib_wine_emulated() {
    [ -r /proc/sys/fs/binfmt_misc/qemu-i386 ] &&
        [ "$(head -n 1 /proc/sys/fs/binfmt_misc/qemu-i386)" = enabled ]
}

# Whether the scripts run Windows programs under Wine: QUIB_WINE=1 always,
# QUIB_WINE=0 never; by default not where Wine runs emulated.
quib_wine_wanted() {
    case ${QUIB_WINE:-auto} in
    1) return 0 ;;
    0) return 1 ;;
    *) ! quib_wine_emulated ;;
    esac
}
