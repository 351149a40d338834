#!/usr/bin/env bash
# The set-up of a fresh machine (`make deps-test`) against stand-ins for apt-get, dpkg,
# dpkg-query, sudo, id and the 32-bit loader: nothing is installed, nothing is fetched, no root
# is needed. Each row gives the machine (does it execute 32-bit code, which index lists fail to
# download, which packages the mirror lacks, how long another package manager holds the lock,
# who the user is and what sudo does) and what the set-up must then do.
# Usage: install_test.sh SOURCE_DIR
set -u
src=$(realpath "${1:-$(dirname "$0")/../..}")
passed=0
failed=0

# make_machine DIR VAR=VALUE...: writes the stand-ins into DIR/bin. They keep the machine's
# state in DIR: installed (one package a line), archs (foreign architectures, FOREIGN_ARCHS at
# first), calls (every call, one a line) and lock (when the package lock is let go).
make_machine() {
    local dir=$1
    shift
    mkdir -p "$dir/bin"
    : >"$dir/installed"
    env "$@" printenv FOREIGN_ARCHS >"$dir/archs"
    : >"$dir/calls"
    cat >"$dir/bin/dpkg-query" <<'EOF'
#!/usr/bin/env bash
# dpkg-query -W -f=FORMAT PACKAGE
pkg=${!#}
grep -qx -- "$pkg" "$STUB/installed" || { echo "dpkg-query: no packages found matching $pkg" >&2; exit 1; }
echo "install ok installed"
EOF
    cat >"$dir/bin/dpkg" <<'EOF'
#!/usr/bin/env bash
echo "dpkg $*" >>"$STUB/calls"
case "$1" in
--print-foreign-architectures) cat "$STUB/archs" ;;
--add-architecture) echo "$2" >>"$STUB/archs" ;;
--remove-architecture) sed -i "/^$2\$/d" "$STUB/archs" ;;
esac
EOF
    cat >"$dir/bin/apt-get" <<'EOF'
#!/usr/bin/env bash
echo "apt-get $* (DEBIAN_FRONTEND=${DEBIAN_FRONTEND-})" >>"$STUB/calls"
# Another package manager holds LOCK (dpkg's or the index lists') for LOCK_HELD s from the first
# call. The install waits for dpkg's up to DPkg::Lock::Timeout, as apt-get does; the update does
# not wait for the lists', as apt-get does not.
[ -e "$STUB/lock" ] || echo $((EPOCHSECONDS + ${LOCK_HELD:-0})) >"$STUB/lock"
lock=/var/lib/apt/lists/lock wait=0
if [ "$1" = install ]; then
    lock=/var/lib/dpkg/lock-frontend
    for a; do [[ "$a" == DPkg::Lock::Timeout=* ]] && wait=${a#*=}; done
fi
for ((s = 0; EPOCHSECONDS < $(<"$STUB/lock"); s++)); do
    [ "$lock" = "${LOCK-}" ] || break
    if ((s >= wait)); then
        echo "E: Could not get lock $lock. It is held by process 1234 (unattended-upgr)" >&2
        exit 100
    fi
    echo "Waiting for cache lock: Could not get lock $lock. It is held by process 1234 (unattended-upgr)... ${s}s"
    sleep 1
done
case "$1" in
update)
    n=$(grep -c '^apt-get update' "$STUB/calls")
    echo "Hit:1 http://mirror.invalid/debian bookworm InRelease"
    if [ "$n" -le "${BROKEN_UPDATES:-0}" ]; then
        echo "Err:6 http://mirror.invalid/debian-security bookworm-security/main i386 Packages"
        echo "  File has unexpected size (374820 != 376004). Mirror sync in progress?"
        echo "E: Some index files failed to download. They have been ignored, or old ones used instead." >&2
        exit 100
    fi ;;
install)
    shift
    pkgs=()
    for p; do
        case "$p" in -* | *=*) continue ;; esac # options, and -o's NAME=VALUE
        if [[ " ${UNAVAILABLE:-} " == *" $p "* ]]; then
            echo "E: Unable to locate package $p" >&2
            exit 100
        fi
        if [[ "$p" == *:i386 ]] && ! grep -qx i386 "$STUB/archs"; then
            echo "E: Unable to locate package $p" >&2
            exit 100
        fi
        pkgs+=("$p")
    done
    printf 'Unpacking %s (1.0) ...\n' "${pkgs[@]}"
    printf 'Setting up %s (1.0) ...\n' "${pkgs[@]}"
    printf '%s\n' "${pkgs[@]}" >>"$STUB/installed" ;;
esac
EOF
    # SUDO_STATE=password: sudo wants a password and has no terminal to ask for it on. Otherwise it
    # runs the command with sudo's env_reset, which drops DEBIAN_FRONTEND.
    cat >"$dir/bin/sudo" <<'EOF'
#!/usr/bin/env bash
echo "sudo $*" >>"$STUB/calls"
if [ "${SUDO_STATE-}" = password ]; then
    [ "$1" = -n ] || echo "sudo: a terminal is required to read the password; either use the -S option to read from standard input or configure an askpass helper" >&2
    echo "sudo: a password is required" >&2
    exit 1
fi
case "$1" in -n) shift ;; -v) exit 0 ;; esac
exec env -u DEBIAN_FRONTEND "$@"
EOF
    cat >"$dir/bin/id" <<'EOF'
#!/usr/bin/env bash
[ "$1" = -u ] && echo "${USER_ID:-0}"
EOF
    cat >"$dir/bin/ld-linux.so.2" <<'EOF'
#!/usr/bin/env bash
[ "${EXEC32:-0}" = 1 ] || { echo "cannot execute binary file: Exec format error" >&2; exit 126; }
echo "ld.so (Debian GLIBC 2.36) stable release version 2.36."
EOF
    chmod +x "$dir"/bin/*
}

# check CONDITION MESSAGE: a condition of the row; the message says what went wrong.
check() {
    if eval "$1"; then
        return 0
    fi
    echo "  FAIL: $2"
    row_ok=0
}

# A PATH of every command of $PATH but sudo, linked into $1: a machine without sudo.
path_without_sudo() {
    local d dirs
    mkdir -p "$1"
    IFS=: read -ra dirs <<<"$PATH"
    for d in "${dirs[@]}"; do ln -s "$d"/* "$1"/ 2>/dev/null; done
    rm -f "$1/sudo"
    echo "$1"
}

# run_row NAME VAR=VALUE... : sets the machine up, runs `make deps-test` on it and
# leaves its output in $out, its exit code in $rc and the calls in $dir/calls. SUDO_STATE=missing
# takes sudo off the machine.
run_row() {
    local name=$1 path=$PATH
    shift
    dir=$(mktemp -d)
    make_machine "$dir" "$@"
    if [[ " $* " == *" SUDO_STATE=missing "* ]]; then
        rm "$dir/bin/sudo"
        path=$(path_without_sudo "$dir/path")
    fi
    local machine=(env APT_RETRY_PAUSE=0 "$@" STUB="$dir" PATH="$dir/bin:$path"
                   MEASURE_LOADER32="$dir/bin/ld-linux.so.2")
    out=$("${machine[@]}" make -s -C "$src" deps-test 2>&1)
    rc=$?
    preset=$("${machine[@]}" "$src/scripts/machine.sh" windows-preset 2>&1)
    note=$("${machine[@]}" "$src/scripts/machine.sh" note tested 2>&1)
    echo "row: $name"
    row_ok=1
}

end_row() {
    if [ $row_ok = 1 ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "  its output:"
        sed 's/^/    | /' <<<"$out"
    fi
    rm -rf "$dir"
}

asked_i386() { grep -q -e '--add-architecture i386' -e 'wine32:i386' "$dir/calls"; }

# A 32-bit machine with a sound mirror: the shipped 32-bit build runs under 32-bit Wine.
run_row "32-bit machine, sound mirror" EXEC32=1
check "[ $rc = 0 ]" "exit code $rc"
check "grep -qx wine32:i386 '$dir/installed'" "32-bit Wine was not installed"
check "[ '$preset' = windows ]" "the Windows preset is '$preset', not windows"
check "[ -z \"\$note\" ]" "a note where nothing was left untested: $note"
check "grep -q '^ *Setting up qt6-base-dev' <<<\"\$out\"" "no progress shown while apt-get works"
end_row

# One index list fails to download on the first update only: tried again, then installed.
run_row "an index fails once" EXEC32=0 BROKEN_UPDATES=1
check "[ $rc = 0 ]" "exit code $rc"
check "grep -qx qt6-base-dev '$dir/installed'" "the packages were not installed"
check "[ \$(grep -c '^apt-get update' '$dir/calls') -ge 2 ]" "the update was not tried again"
end_row

# The mirror stays mid-sync for the i386 list on every try: what the machine needs is still
# installed from the lists that did arrive, and the failed index is named.
run_row "an index fails on every try" EXEC32=0 BROKEN_UPDATES=99
check "[ $rc = 0 ]" "exit code $rc"
check "grep -qx qt6-base-dev '$dir/installed'" "the packages were not installed"
check "grep -q 'bookworm-security/main i386 Packages' <<<\"\$out\"" "the failed index is not named"
end_row

# No 32-bit execution: the i386 architecture is never touched, 32-bit Wine never asked for,
# and the 64-bit build stands in, said so.
run_row "no 32-bit execution" EXEC32=0
check "[ $rc = 0 ]" "exit code $rc"
check "! asked_i386" "asked for i386: $(grep i386 "$dir/calls" | tr '\n' ';')"
check "[ '$preset' = windows-x64 ]" "the Windows preset is '$preset', not windows-x64"
check "grep -q 'not tested.*cannot execute 32-bit' <<<\"\$note\"" "no note of what was not tested"
end_row

# 32-bit execution, but the mirror does not serve 32-bit Wine: the set-up goes on, says so,
# and the 64-bit build stands in. The i386 architecture it added is taken away again, and only
# that one: where the machine had i386 before, it stays.
run_row "32-bit machine without 32-bit Wine" EXEC32=1 UNAVAILABLE=wine32:i386
check "[ $rc = 0 ]" "exit code $rc"
check "grep -q 'Cannot install wine32:i386' <<<\"\$out\"" "the failed install is not said"
check "[ '$preset' = windows-x64 ]" "the Windows preset is '$preset', not windows-x64"
check "grep -q 'not tested.*wine32:i386' <<<\"\$note\"" "no note of what was not tested: $note"
check "! grep -q i386 '$dir/archs'" "the i386 architecture it added stays"
check "grep -q 'i386 architecture.*removed again' <<<\"\$out\"" "the removal is not said"
end_row
run_row "32-bit machine that had i386, without 32-bit Wine" EXEC32=1 UNAVAILABLE=wine32:i386 \
        FOREIGN_ARCHS=i386
check "[ $rc = 0 ]" "exit code $rc"
check "grep -qx i386 '$dir/archs'" "the machine's own i386 architecture was removed"
end_row

# Another package manager holds a lock (a new machine's own updates): the set-up waits, says
# once what for, and goes on when the lock is let go, trying again where apt-get cannot wait
# (the index lists' lock); past APT_LOCK_WAIT, which apt-get is given for dpkg's lock, it stops,
# naming the cause, without the mirror's advice.
run_row "the lists' lock held for a while" EXEC32=0 LOCK=/var/lib/apt/lists/lock LOCK_HELD=2 \
        APT_LOCK_WAIT=20
check "[ $rc = 0 ]" "exit code $rc"
check "grep -qx qt6-base-dev '$dir/installed'" "the packages were not installed"
check "[ \$(grep -c '^Waiting for another package manager to finish (unattended-upgr' \
        <<<\"\$out\") = 1 ]" "the wait is not said once"
check "! grep -q 'could not be read' <<<\"\$out\"" "the held lock was taken for a failed download"
end_row
run_row "dpkg's lock held past the wait" EXEC32=0 LOCK=/var/lib/dpkg/lock-frontend LOCK_HELD=60 \
        APT_LOCK_WAIT=2
check "[ $rc != 0 ]" "it succeeded"
check "grep -q 'still holds the package lock after 2 s (unattended-upgr' <<<\"\$out\"" \
      "the cause is not named"
check "[ \$(grep -c '^apt-get install' '$dir/calls') = 1 ]" "apt-get was not let wait for the lock"
check "! grep -q 'sources.list' <<<\"\$out\"" "the mirror's advice for a held lock"
end_row

# A user who is not root: the packages are installed through sudo, with DEBIAN_FRONTEND passed
# through its env_reset. Where sudo is missing or cannot ask for its password, nothing runs, and
# the set-up says why and what to run as root.
run_row "not root, sudo works" EXEC32=1 USER_ID=1000
check "[ $rc = 0 ]" "exit code $rc"
check "grep -qx wine32:i386 '$dir/installed'" "32-bit Wine was not installed"
check "[ \$(grep -c '^sudo .*apt-get ' '$dir/calls') = \$(grep -c '^apt-get ' '$dir/calls') ]" \
      "an apt-get ran without sudo"
check "! grep '^apt-get ' '$dir/calls' | grep -qv 'DEBIAN_FRONTEND=noninteractive)'" \
      "DEBIAN_FRONTEND did not reach apt-get: $(grep '^apt-get ' "$dir/calls" | head -1)"
end_row
run_row "not root, no sudo" EXEC32=0 USER_ID=1000 SUDO_STATE=missing
check "[ $rc != 0 ]" "it succeeded"
check "grep -q 'sudo is not installed' <<<\"\$out\"" "the missing sudo is not said"
check "grep -q '^  apt-get install .*qt6-base-dev' <<<\"\$out\"" "no command to run as root"
check "! grep -q '^apt-get' '$dir/calls'" "apt-get ran"
end_row
run_row "not root, sudo wants a password, no terminal" EXEC32=0 USER_ID=1000 SUDO_STATE=password
check "[ $rc != 0 ]" "it succeeded"
check "grep -q 'sudo needs a password, and there is no terminal' <<<\"\$out\"" \
      "the cause is not said"
check "! grep -q '^apt-get' '$dir/calls'" "apt-get ran"
end_row

# A package the machine needs is not to be had: the set-up stops and says which, what apt-get
# said, and what to do.
run_row "a needed package missing from the mirror" EXEC32=0 UNAVAILABLE=qt6-base-dev
check "[ $rc != 0 ]" "it succeeded"
check "grep -q '^Cannot install:.*qt6-base-dev' <<<\"\$out\"" "the package is not named"
check "grep -q 'Unable to locate package qt6-base-dev' <<<\"\$out\"" "apt-get's error is not shown"
check "grep -q 'wait a few minutes' <<<\"\$out\"" "no advice"
end_row

echo "$passed passed, $failed failed"
[ $failed = 0 ]
