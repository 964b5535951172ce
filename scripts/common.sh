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

# quib_build BUILD_DIR TARGET...: configures the Windows preset the scripts run
# (quib_windows_preset) in BUILD_DIR and builds the targets. Quiet when it
# works; when it does not, the output of the failing step: CMake's messages, or
# the compiler's with the failing target (ninja's FAILED: line), without
# ninja's progress lines.
quib_build() {
    local build=$1 log
    shift
    if ! log=$(cmake --preset "$(quib_windows_preset)" -B "$build" 2>&1) ||
        ! log=$(cmake --build "$build" --target "$@" 2>&1); then
        printf '%s\n' "$log" | grep -v '^\[[0-9]*/[0-9]*\] ' >&2
        echo "$(basename "$quib_self"): the build failed" >&2
        exit 1
    fi
}
