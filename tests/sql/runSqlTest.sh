#!/usr/bin/env bash
# Runs one SQL test script in the sqlite3 shell with the Tessel extension loaded and compares
# what it prints (results and errors) with the expected output file; a difference is shown as
# a diff and fails the test.
#
#   runSqlTest.sh SQLITE3 EXTENSION SCRIPT EXPECTED
#
# The script runs in a private work directory, which is also its current directory:
#   trace/   TARNQAPPATH (instance "sqltest": the control file is trace/qapsqltest.ctl)
#   tmp/     TARNQAPTEMP; it must be empty when the script ends
#   home/    HOME
# Lines "-- setenv NAME VALUE", "-- unsetenv NAME" and "-- mkdir DIR MODE" in the script
# change this set-up before the shell starts; "@WORK@" in a value is the work directory.
# TESSEL_SQL_PRELOAD (colon-separated libraries) is preloaded into the shell: the sanitizer
# runtimes when the extension is built with them.
set -euo pipefail

if [ $# -ne 4 ]; then
    echo "usage: $0 SQLITE3 EXTENSION SCRIPT EXPECTED" >&2
    exit 2
fi
absolute() { case $1 in /*) echo "$1" ;; *) echo "$PWD/$1" ;; esac; }
sqlite=$1
extension=$(absolute "$2")
script=$(absolute "$3")
expected=$(absolute "$4")

export LC_ALL=C TZ=UTC
unset TMP TMPDIR TARNQAP_MIN_TMPFILE_SIZE TARN_READ_ACCESS TARN_WRITE_ACCESS NLSPATH \
    XDG_RUNTIME_DIR SQLITE_HISTORY

work=$(mktemp -d /tmp/tessel-sql-XXXXXX)
cleanup() {
    chmod -R u+rwx "$work" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -m 700 "$work/trace" "$work/tmp" "$work/home"
export HOME=$work/home TARNINSTANCE=sqltest TARNQAPPATH=$work/trace TARNQAPTEMP=$work/tmp
# The routines may read and write the files a script makes (a script may say otherwise).
export TARN_READ_ACCESS=$work TARN_WRITE_ACCESS=$work

while read -r tag verb name value; do
    [ "$tag" = "--" ] || continue
    value=${value//@WORK@/$work}
    case $verb in
    setenv) export "$name=$value" ;;
    unsetenv) unset "$name" ;;
    mkdir) mkdir -p "$work/$name" && chmod "$value" "$work/$name" ;;
    esac
done < "$script"

cd "$work"
status=0
# Line-buffered output keeps the rows a statement printed ahead of the error that ended it.
env ${TESSEL_SQL_PRELOAD:+LD_PRELOAD="$TESSEL_SQL_PRELOAD"} stdbuf -oL \
    "$sqlite" -batch -cmd ".load $extension" -cmd ".nullvalue NULL" :memory: \
    < "$script" > actual.out 2>&1 || status=$?

failed=0
# The shell answers 1 when a statement failed, which the scripts do on purpose; more than
# that is a crash or a sanitizer's abort.
if [ "$status" -gt 1 ]; then
    echo "sqlite3 ended with status $status"
    failed=1
fi
if ! diff -u "$expected" actual.out; then
    echo "output of $(basename "$script") differs from $(basename "$expected") (see above)"
    failed=1
fi
leftovers=$(ls -A "$work/tmp")
if [ -n "$leftovers" ]; then
    echo "temporary files left in TARNQAPTEMP: $leftovers"
    failed=1
fi
exit $failed
