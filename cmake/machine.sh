#!/usr/bin/env bash
# What this machine can build and run, and the Debian packages for it. The Makefile and CI use
# it for every install and for the choice between the 32-bit and the 64-bit Windows build.
#   machine.sh install PKG...   installs those of the packages that are missing; stops, naming
#                               them, only when one cannot be installed
#   machine.sh wine32           where this machine executes 32-bit x86 code: adds the i386
#                               architecture and installs 32-bit Wine; a failure only means the
#                               64-bit build stands in, and is said loudly
#   machine.sh windows-preset   prints the preset whose Windows programs run here: windows (the
#                               shipped 32-bit build, under 32-bit Wine) or windows-x64
#   machine.sh wine-bits        prints 32 or 64, the Wine that runs that preset
#   machine.sh note VERB        prints, when the shipped 32-bit program cannot run here, one line
#                               that says it was not VERB (tested, run, measured, checked) on
#                               this run, and why; nothing otherwise
# apt-get runs as root, or through sudo otherwise. APT_RETRIES (3) and APT_RETRY_PAUSE (20 s)
# set how often an index list that failed to download is tried again. MEASURE_LOADER32 names
# the 32-bit loader that the probe runs (libc6-i386's /lib/ld-linux.so.2).
set -u

: "${APT_RETRIES:=3}" "${APT_RETRY_PAUSE:=20}" "${MEASURE_LOADER32:=/lib/ld-linux.so.2}"
export DEBIAN_FRONTEND=noninteractive
if [ "$(id -u)" = 0 ]; then sudo=; else sudo=sudo; fi

# The amd64 package that provides the loader the probe runs, and 32-bit Wine.
LOADER32_PACKAGE=libc6-i386
WINE32_PACKAGE=wine32:i386

missing() {
    local p
    for p; do
        dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed' ||
            echo "$p"
    done
}

# Reads the package lists, again after a pause while an index fails to download (a mirror in
# the middle of a sync): apt-get keeps the lists that did arrive, and an install that needs none
# of the failed ones still works, so a failure that lasts is said and then gone past.
update_lists() {
    local try out failed
    for ((try = 1; try <= APT_RETRIES; try++)); do
        out=$($sudo apt-get update -q 2>&1)
        failed=$(grep -E '^(Err:|E: Failed to fetch|W: Failed to fetch)' <<<"$out")
        if [ -z "$failed" ] && ! grep -q '^E:' <<<"$out"; then
            return 0
        fi
        if ((try < APT_RETRIES)); then
            echo "apt-get update failed (try $try of $APT_RETRIES); again in ${APT_RETRY_PAUSE} s:"
            sed 's/^/  /' <<<"${failed:-$out}"
            sleep "$APT_RETRY_PAUSE"
        fi
    done
    echo "apt-get update: these index lists could not be read after $APT_RETRIES tries;"
    echo "going on with the lists that did arrive:"
    sed 's/^/  /' <<<"${failed:-$out}"
}

# Installs the given packages; on failure prints apt-get's errors and returns non-zero.
apt_install() {
    local out rc
    out=$($sudo apt-get install -y -q --no-install-recommends "$@" 2>&1)
    rc=$?
    if [ $rc != 0 ]; then
        grep -E '^(E:|W:|Err:)' <<<"$out" | sed 's/^/  /'
    fi
    return $rc
}

install() {
    local need
    need=$(missing "$@")
    [ -z "$need" ] && return 0
    echo "Installing:" $need
    update_lists
    local errors
    if errors=$(apt_install $need); then
        return 0
    fi
    # The packages apt-get names as not to be had, else all that are still missing.
    local named
    named=$(sed -nE -e 's/.*Unable to locate package ([^ ]+).*/\1/p' \
        -e "s/.*Package '([^']+)' has no installation candidate.*/\\1/p" <<<"$errors" | sort -u)
    echo "Cannot install:" ${named:-$(missing $need)}
    echo "apt-get said:"
    echo "$errors"
    echo "These packages are needed on this machine. If the package mirror is in the middle of"
    echo "a sync, wait a few minutes and run the command again; otherwise check the sources in"
    echo "/etc/apt/sources.list* (Debian bookworm's main archive provides every one of them)."
    return 1
}

can_exec_32() { "$MEASURE_LOADER32" --version >/dev/null 2>&1; }

wine32() {
    install "$LOADER32_PACKAGE" || return 1
    if ! can_exec_32; then
        echo "This machine cannot execute 32-bit x86 code: 32-bit Wine is not installed."
        return 0
    fi
    [ -z "$(missing "$WINE32_PACKAGE")" ] && return 0
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        $sudo dpkg --add-architecture i386 || return 1
    fi
    local errors
    echo "Installing: $WINE32_PACKAGE"
    update_lists
    if ! errors=$(apt_install "$WINE32_PACKAGE"); then
        echo "Cannot install $WINE32_PACKAGE:"
        echo "$errors"
        echo "The Windows programs will run as the 64-bit build under 64-bit Wine instead."
    fi
    return 0
}

# Why the shipped 32-bit program cannot run here; nothing when it can.
why_not_32() {
    if ! can_exec_32; then
        echo "this machine cannot execute 32-bit x86 code"
    elif [ -n "$(missing "$WINE32_PACKAGE")" ]; then
        echo "32-bit Wine ($WINE32_PACKAGE) is not installed"
    fi
}

case "${1-}" in
install)
    shift
    install "$@" ;;
wine32)
    wine32 ;;
windows-preset)
    if [ -z "$(why_not_32)" ]; then echo windows; else echo windows-x64; fi ;;
wine-bits)
    if [ -z "$(why_not_32)" ]; then echo 32; else echo 64; fi ;;
note)
    why=$(why_not_32)
    if [ -n "$why" ]; then
        instead=" The 64-bit build of the same sources (windows-x64) ran under 64-bit Wine."
        [ "${2:-tested}" = checked ] && instead=""
        echo "*** The shipped 32-bit measure.exe was not ${2:-tested} on this run: $why.$instead ***"
    fi ;;
*)
    sed -n '2,/^set -u/p' "$0" | sed -n 's/^# \{0,1\}//p' >&2
    exit 2 ;;
esac
