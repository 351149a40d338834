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
# set how often an index list that failed to download is tried again; APT_LOCK_WAIT (900 s) how
# long each apt-get waits for another package manager to let go of the package lock.
# MEASURE_LOADER32 names the 32-bit loader that the probe runs (libc6-i386's /lib/ld-linux.so.2).
set -u

: "${APT_RETRIES:=3}" "${APT_RETRY_PAUSE:=20}" "${APT_LOCK_WAIT:=900}"
: "${MEASURE_LOADER32:=/lib/ld-linux.so.2}"
if [ "$(id -u)" = 0 ]; then sudo=; else sudo=sudo; fi
sudo_ok=

# apt-get's output of its last run (out), and a mark that a wait for the lock was said (waited).
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

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

# Makes sure apt-get and dpkg can run as root: directly, else through sudo, which asks for its
# password here, once, rather than unseen in the middle of apt-get's output. When neither can
# be, says why and gives the command ($*) to run as root instead.
root_ready() {
    [ -z "$sudo" ] || [ -n "$sudo_ok" ] && return 0
    local said
    if ! command -v sudo >/dev/null; then
        echo "Cannot install packages: this is not root, and sudo is not installed."
    elif sudo -n true 2>/dev/null || said=$(sudo -v 2>&1); then
        sudo_ok=1
        return 0
    elif grep -q 'terminal is required' <<<"$said"; then
        echo "Cannot install packages: sudo needs a password, and there is no terminal to ask for"
        echo "it on. Run this command in a terminal, where sudo can ask, or install them as root."
    else
        echo "Cannot install packages: sudo said:"
        sed 's/^/  /' <<<"$said"
    fi
    echo "To install them as root (su -), run"
    echo "  $*"
    echo "and then this command again."
    return 1
}

# "unattended-upgr, process 1234, holds /var/lib/dpkg/lock-frontend" from apt's lock message.
lock_holder() {
    local lock='Could not get lock ([^ ]*[^ .])' by='It is held by process ([0-9]+) \(([^)]*)\)'
    sed -nE -e "s/.*$lock\.? $by.*/\3, process \2, holds \1/p" -e 't' \
        -e "s/.*$lock.*/\1 is locked/p" | head -1
}

# Shows apt-get's output as it comes, so that a slow mirror does not look like a hung one: a line
# per package fetched, unpacked and set up, and once what a held lock is waited for. All of it
# goes to $tmp/out, for the messages.
show_progress() {
    local line
    while IFS= read -r line; do
        printf '%s\n' "$line" >>"$tmp/out"
        case "$line" in
        Get:* | 'Unpacking '* | 'Setting up '*)
            echo "  $line" ;;
        *'Could not get lock '*)
            [ -e "$tmp/waited" ] && continue
            : >"$tmp/waited"
            echo "Waiting for another package manager to finish ($(lock_holder <<<"$line")), for" \
                "up to ${APT_LOCK_WAIT} s." ;;
        esac
    done
}

# Runs apt-get as root with DEBIAN_FRONTEND passed through sudo, so that no package can wait for
# an answer nobody sees. A package lock that another package manager holds (the system's own
# updates, on a new machine) is waited for up to APT_LOCK_WAIT: by apt-get itself where it can,
# by trying again each second where it gives up at once (the index lists' lock).
apt_get() {
    local start=$SECONDS left rc
    while :; do
        left=$((APT_LOCK_WAIT - (SECONDS - start)))
        ((left < 0)) && left=0
        : >"$tmp/out"
        $sudo env DEBIAN_FRONTEND=noninteractive apt-get "$@" -o DPkg::Lock::Timeout=$left 2>&1 |
            show_progress
        rc=${PIPESTATUS[0]}
        [ $rc = 0 ] && return 0
        lock_held && ((SECONDS - start < APT_LOCK_WAIT)) || break
        sleep 1
    done
    if lock_held; then
        echo "Another package manager still holds the package lock after ${APT_LOCK_WAIT} s" \
            "($(lock_holder <"$tmp/out"))."
        echo "On a newly installed system that is usually its own updates. Let them finish, then"
        echo "run this command again; APT_LOCK_WAIT=SECONDS waits longer than ${APT_LOCK_WAIT} s."
    elif ! grep -qE '^(E:|Err:|W:)' "$tmp/out"; then
        echo "apt-get $1 did not run (exit code $rc):"
        sed 's/^/  /' "$tmp/out"
    fi
    return $rc
}

lock_held() { grep -q '^E: Could not get lock' "$tmp/out"; }

# After a failed apt_get: true when it gave up on the lock or apt-get never ran, which apt_get
# has said; nothing about packages or mirrors applies then.
stopped() { lock_held || ! grep -qE '^(E:|Err:|W:)' "$tmp/out"; }

# apt-get's errors of its last run.
apt_errors() { grep -E '^(E:|W:|Err:)' "$tmp/out"; }

# Reads the package lists, again after a pause while an index fails to download (a mirror in
# the middle of a sync): apt-get keeps the lists that did arrive, and an install that needs none
# of the failed ones still works, so a failure that lasts is said and then gone past. Fails only
# when apt-get could not read any list (see stopped).
update_lists() {
    local try failed
    for ((try = 1; try <= APT_RETRIES; try++)); do
        if apt_get update -q; then
            failed=$(grep -E '^(Err:|E: Failed to fetch|W: Failed to fetch)' "$tmp/out")
            [ -z "$failed" ] && return 0
        else
            stopped && return 1
            failed=$(grep -E '^(Err:|E: Failed to fetch|W: Failed to fetch)' "$tmp/out")
        fi
        if ((try < APT_RETRIES)); then
            echo "apt-get update failed (try $try of $APT_RETRIES); again in ${APT_RETRY_PAUSE} s:"
            sed 's/^/  /' <<<"${failed:-$(apt_errors)}"
            sleep "$APT_RETRY_PAUSE"
        fi
    done
    echo "apt-get update: these index lists could not be read after $APT_RETRIES tries;"
    echo "going on with the lists that did arrive:"
    sed 's/^/  /' <<<"${failed:-$(apt_errors)}"
}

install() {
    local need
    need=$(missing "$@")
    [ -z "$need" ] && return 0
    root_ready apt-get install -y --no-install-recommends $need || return 1
    echo "Installing:" $need
    update_lists || return 1
    apt_get install -y -q --no-install-recommends $need && return 0
    stopped && return 1
    # The packages apt-get names as not to be had, else all that are still missing.
    local named
    named=$(sed -nE -e 's/.*Unable to locate package ([^ ]+).*/\1/p' \
        -e "s/.*Package '([^']+)' has no installation candidate.*/\\1/p" "$tmp/out" | sort -u)
    echo "Cannot install:" ${named:-$(missing $need)}
    echo "apt-get said:"
    apt_errors | sed 's/^/  /'
    echo "These packages are needed on this machine. If the package mirror is in the middle of"
    echo "a sync, wait a few minutes and run the command again; otherwise check the sources in"
    echo "/etc/apt/sources.list* (Debian bookworm's main archive provides every one of them)."
    return 1
}

can_exec_32() { "$MEASURE_LOADER32" --version >/dev/null 2>&1; }

# Takes the i386 architecture away again once 32-bit Wine could not be installed, so that the
# machine is left as it was found and later updates do not fail on a mirror's missing i386 lists.
remove_i386() {
    local said
    if said=$($sudo dpkg --remove-architecture i386 2>&1); then
        echo "The i386 architecture, added for $WINE32_PACKAGE, is removed again."
    else
        echo "The i386 architecture, added for $WINE32_PACKAGE, could not be removed again:"
        sed 's/^/  /' <<<"$said"
    fi
}

wine32() {
    install "$LOADER32_PACKAGE" || return 1
    if ! can_exec_32; then
        echo "This machine cannot execute 32-bit x86 code: 32-bit Wine is not installed."
        return 0
    fi
    [ -z "$(missing "$WINE32_PACKAGE")" ] && return 0
    root_ready "dpkg --add-architecture i386 && apt-get update &&" \
        "apt-get install -y --no-install-recommends $WINE32_PACKAGE" || return 1
    local added=
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        $sudo dpkg --add-architecture i386 || return 1
        added=1
    fi
    echo "Installing: $WINE32_PACKAGE"
    update_lists && apt_get install -y -q --no-install-recommends "$WINE32_PACKAGE" && return 0
    if stopped; then
        [ -n "$added" ] && remove_i386
        return 1
    fi
    echo "Cannot install $WINE32_PACKAGE:"
    apt_errors | sed 's/^/  /'
    [ -n "$added" ] && remove_i386
    echo "The Windows programs will run as the 64-bit build under 64-bit Wine instead."
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
