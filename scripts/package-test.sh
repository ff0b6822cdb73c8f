#!/usr/bin/env bash
# Builds the Debian packages (scripts/package.sh), installs them with dpkg and tries the
# installed files alone: sqlite3 loads the extension by its name, the guide's C caller compiles
# against the headers through pkg-config and runs, and a throwaway PostgreSQL cluster creates the
# extension. Then purges the packages and checks that none of their files is left. Needs root;
# holds /tmp/tessel-pg.lock from install to purge, as it installs into the server's directories.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t debs < <(bash scripts/package.sh)
packages=(tessel postgresql-15-tessel)
version=$(sed -n 's/^project(Tessel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
doc="'<a><b>42</b></a>'"

exec 9>/tmp/tessel-pg.lock
flock 9
work=$(mktemp -d /tmp/tessel-package-XXXXXX)
trap 'dpkg --purge "${packages[@]}" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
fail() {
    echo "package test: $*" >&2
    exit 1
}

dpkg -i "${debs[@]}" >/dev/null
dpkg -L "${packages[@]}" | sort -u >"$work/files"

# The installed runtime is production code only: the tests' hooks live in their own library.
runtime=$(grep '/libtessel_runtime\.so\.1$' "$work/files") || fail "no libtessel_runtime.so.1"
symbols=$(nm -D --defined-only "$runtime") || fail "nm cannot read $runtime"
if hooks=$(grep -E 'FailAfter|ShortAfter|Simulate|Disarm|Test' <<<"$symbols"); then
    fail "the installed runtime exports test hooks: $hooks"
fi

# Nothing of the build tree: a clean environment in an empty directory.
answer=$(cd "$work" && env -i PATH=/usr/bin:/bin HOME="$work" LC_ALL=C.UTF-8 \
    sqlite3 -batch :memory: -cmd '.load libtessel_sqlite' \
    "SELECT tessel_version(), qapExtractIntegerFromVarchar($doc, '/a/b');")
[ "$answer" = "$version|42" ] || fail "sqlite3 answered '$answer'"
# The message texts come from the installed catalog: one text changed there shows.
printf '$quote "\n$set 1\n87 "QAPD001E  %%s occurs twice (installed catalog)."\n' >"$work/qap.msg"
gencat /usr/share/tessel/qap.cat "$work/qap.msg"
answer=$(cd "$work" && env -i PATH=/usr/bin:/bin HOME="$work" LC_ALL=C.UTF-8 \
    sqlite3 -batch :memory: -cmd '.load libtessel_sqlite' \
    "SELECT qapExtractVarcharFromVarchar('<a><b/><b/></a>', '/a/b');" 2>&1 || true)
case $answer in
*"38X08: QAPD001E  /a/b occurs twice (installed catalog)."*) ;;
*) fail "the installed catalog was not used: '$answer'" ;;
esac
[ "$(pkg-config --modversion tessel)" = "$version" ] || fail "pkg-config has no tessel $version"
# The guide's C caller (examples/extract.c) builds against the installed headers and runs.
# shellcheck disable=SC2046
cc -o "$work/caller" examples/extract.c $(pkg-config --cflags --libs tessel) ||
    fail "a C caller does not build against the installed headers"
mkdir -m 700 "$work/trace"
answer=$(env -i PATH=/usr/bin:/bin TARNINSTANCE=tessel TARNQAPPATH="$work/trace" "$work/caller")
case $answer in
*"228.91"*"38X08: QAPD001E"*) ;;
*) fail "the C caller answered '$answer'" ;;
esac

answer=$(
    source scripts/pgcluster.sh
    pg_cluster_start - >/dev/null
    pg_psql -At -c 'CREATE EXTENSION tessel' \
        -c "SELECT tessel_version(), qapExtractIntegerFromVarchar($doc, '/a/b')"
)
[ "$answer" = "$version|42" ] || fail "PostgreSQL answered '$answer'"

dpkg --purge "${packages[@]}" >/dev/null
left=()
while read -r f; do
    [ "$f" = /. ] && continue
    if [ -L "$f" ] || [ -f "$f" ]; then
        left+=("$f")
    elif [ -d "$f" ] && ! dpkg -S "$f" >/dev/null 2>&1; then
        left+=("$f") # a directory of ours alone
    fi
done <"$work/files"
[ "${#left[@]}" -eq 0 ] || fail "left after purge: ${left[*]}"
echo "package test: ${debs[*]##*/} installed, answered and purged"
