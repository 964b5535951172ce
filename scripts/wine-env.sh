# shellcheck shell=sh
# The environment in which the scripts run Windows programs under Wine.
# Sourced (POSIX sh) by the scripts and by the build's wine-run.sh.

# Wine's own diagnostics stay quiet unless the caller asks for some.
: "${WINEDEBUG:=-all}"
export WINEDEBUG
# A fixed locale, so that Wine's system code page is 1252 on every machine.
# QUIB_WINE_LANG chooses another one (ru_RU.UTF-8: code page 1251), for the
# tests that run under another code page; Wine takes its code page from the
# name, whether or not the host has that locale installed (the build's
# wine-run.sh sets LC_ALL to it as well, which Wine needs then).
unset LC_ALL
LANG=${QUIB_WINE_LANG:-en_US.UTF-8}
export LANG

# True where 32-bit x86 programs, Wine's among them, run only under QEMU's
# user-mode emulator (scripts/setup.sh registers it where the kernel runs no
# 32-bit code). There a start of a 32-bit Windows program costs about a
# second with QEMU 10, and about a minute of processor time with QEMU 7.2.
quib_wine_emulated() {
    [ -r /proc/sys/fs/binfmt_misc/qemu-i386 ] &&
        [ "$(head -n 1 /proc/sys/fs/binfmt_misc/qemu-i386)" = enabled ]
}

# The Windows build the scripts run (a CMake preset): the 32-bit program that
# users get; where 32-bit code runs only emulated, the same sources built for
# 64-bit Windows, which Wine's 64-bit loader runs at full speed.
# QUIB_WINDOWS=win32 or win64 chooses.
quib_windows_preset() {
    case ${QUIB_WINDOWS:-auto} in
    win32 | win64) echo "$QUIB_WINDOWS" ;;
    *) if quib_wine_emulated; then echo win64; else echo win32; fi ;;
    esac
}
