# shellcheck shell=bash
# The common start of the scripts that build and run QuibDemo; sourced (bash).
#
# Sets quib_self (the running script, by absolute path, so that it can start
# itself again from anywhere), quib_caller (the folder it was started from,
# against which the paths a user passes are taken) and quib_root (the source
# tree), changes to the root and sets up the Wine environment.
quib_self=$(readlink -f "$0")
quib_caller=$PWD
quib_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd -P)
cd "$quib_root" || exit 1
# shellcheck source=scripts/wine-env.sh
. "$quib_root/scripts/wine-env.sh"

# A path a user passed, absolute, taken from the folder the script was started
# from.
quib_user_path() {
    case $1 in
    /*) printf '%s\n' "$1" ;;
    *) printf '%s\n' "${quib_caller%/}/$1" ;;
    esac
}

# quib_prepare ARGS...: installs what is missing (scripts/setup.sh; the only
# step that needs root). Started as root in a tree that belongs to another
# user (sudo in one's own clone), the script then runs again as that user,
# with the same arguments, so that the build and the Wine prefixes stay
# theirs.
quib_prepare() {
    bash "$quib_root/scripts/setup.sh"
    local owner
    owner=$(stat -c %U "$quib_root")
    if [ "$(id -u)" -eq 0 ] && [ "$owner" != root ]; then
        echo "$(basename "$quib_self"): going on as $owner, who owns $quib_root" >&2
        cd "$quib_caller" || exit 1
        exec runuser -u "$owner" -- "$quib_self" "$@"
    fi
    # Wine refuses a prefix that belongs to someone else, and a build folder
    # another user made cannot be reused.
    if [ -e build ] && [ ! -O build ]; then
        echo "$(basename "$quib_self"): $quib_root/build belongs to $(stat -c %U build);" \
            "remove it (as its owner) or run as $(stat -c %U build)" >&2
        exit 1
    fi
}

# quib_quiet CMD...: runs a build step and shows nothing when it works. When
# it fails, its output follows (CMake's messages, or the compiler's with the
# failing target: ninja's FAILED: line), without ninja's progress lines, and
# the step's status is returned.
quib_quiet() {
    local log status=0
    log=$("$@" 2>&1) || status=$?
    if [ "$status" -ne 0 ]; then
        printf '%s\n' "$log" | grep -v '^\[[0-9]*/[0-9]*\] ' >&2
    fi
    return "$status"
}

# quib_say_first_build BUILD_DIR: one line before the first build of a folder,
# which compiles every source and takes minutes rather than seconds.
quib_say_first_build() {
    [ -f "$1/.ninja_log" ] ||
        echo "$(basename "$quib_self"): first build in $1: every source is compiled (minutes)" >&2
}

# quib_build BUILD_DIR TARGET...: configures the Windows preset the scripts run
# (quib_windows_preset) in BUILD_DIR and builds the targets, quietly unless a
# step fails (quib_quiet); then the script ends.
quib_build() {
    local build=$1
    shift
    quib_say_first_build "$build"
    if ! quib_quiet cmake --preset "$(quib_windows_preset)" -B "$build" ||
        ! quib_quiet cmake --build "$build" --target "$@"; then
        echo "$(basename "$quib_self"): the build failed" >&2
        exit 1
    fi
}
