#!/usr/bin/env bash
# The set-up of a fresh machine (`make deps-test`) against stand-ins for apt-get, dpkg,
# dpkg-query, sudo and the 32-bit loader: nothing is installed, nothing is fetched, no root is
# needed. Each row gives the machine (does it execute 32-bit code, which index lists fail to
# download, which packages the mirror lacks) and what the set-up must then do.
# Usage: install_test.sh SOURCE_DIR
set -u
src=$(realpath "${1:-$(dirname "$0")/../..}")
passed=0
failed=0

# Writes the stand-ins into $1/bin. They keep the machine's state in $1: installed (one package
# a line), archs (foreign architectures) and calls (every call, one a line).
make_machine() {
    local dir=$1
    mkdir -p "$dir/bin"
    : >"$dir/installed"
    : >"$dir/archs"
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
esac
EOF
    cat >"$dir/bin/apt-get" <<'EOF'
#!/usr/bin/env bash
echo "apt-get $*" >>"$STUB/calls"
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
        case "$p" in -*) continue ;; esac
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
    printf '%s\n' "${pkgs[@]}" >>"$STUB/installed" ;;
esac
EOF
    cat >"$dir/bin/sudo" <<'EOF'
#!/usr/bin/env bash
exec "$@"
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

# run_row NAME VAR=VALUE... : sets the machine up, runs `make deps-test` on it and
# leaves its output in $out, its exit code in $rc and the calls in $dir/calls.
run_row() {
    local name=$1
    shift
    dir=$(mktemp -d)
    make_machine "$dir"
    out=$(env "$@" STUB="$dir" PATH="$dir/bin:$PATH" MEASURE_LOADER32="$dir/bin/ld-linux.so.2" \
              APT_RETRY_PAUSE=0 make -s -C "$src" deps-test 2>&1)
    rc=$?
    preset=$(env "$@" STUB="$dir" PATH="$dir/bin:$PATH" MEASURE_LOADER32="$dir/bin/ld-linux.so.2" \
                 "$src/cmake/machine.sh" windows-preset 2>&1)
    note=$(env "$@" STUB="$dir" PATH="$dir/bin:$PATH" MEASURE_LOADER32="$dir/bin/ld-linux.so.2" \
               "$src/cmake/machine.sh" note tested 2>&1)
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
# and the 64-bit build stands in.
run_row "32-bit machine without 32-bit Wine" EXEC32=1 UNAVAILABLE=wine32:i386
check "[ $rc = 0 ]" "exit code $rc"
check "grep -q 'Cannot install wine32:i386' <<<\"\$out\"" "the failed install is not said"
check "[ '$preset' = windows-x64 ]" "the Windows preset is '$preset', not windows-x64"
check "grep -q 'not tested.*wine32:i386' <<<\"\$note\"" "no note of what was not tested: $note"
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
