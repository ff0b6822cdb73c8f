#!/usr/bin/env bash
# Runs the PostgreSQL regression tests (tests/pg/sql/*.sql, expected output in tests/pg/expected)
# against a build directory (default build/): installs the extension into the server's
# directories (as root), starts a throwaway cluster as the user postgres on a unix socket in a
# temporary directory, runs pg_regress there and stops the cluster, whatever happens.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
pgconfig=/usr/lib/postgresql/15/bin/pg_config
bindir=$("$pgconfig" --bindir)
regress=$(dirname "$("$pgconfig" --pgxs)")/../test/regress/pg_regress
user=postgres
port=54329

if [ "$(id -u)" -ne 0 ]; then
    echo "pgtest: run as root (the extension is installed into $("$pgconfig" --pkglibdir))" >&2
    exit 1
fi
cmake --install "$build" --component postgresql >/dev/null

work=$(mktemp -d /tmp/tessel-pg-XXXXXX)
as_user() { runuser -u "$user" -- "$@"; }
cleanup() {
    as_user "$bindir/pg_ctl" -D "$work/data" -m immediate stop >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
chown "$user" "$work"
chmod 700 "$work"
as_user mkdir -m 700 "$work/files"
as_user "$bindir/initdb" -D "$work/data" -A trust -E UTF8 --locale=C.UTF-8 --no-sync >/dev/null
as_user "$bindir/pg_ctl" -D "$work/data" -l "$work/server.log" -w -s \
    -o "-k $work -p $port -c listen_addresses= -c fsync=off" start

tests=$(cd tests/pg/sql && ls -- *.sql | sed 's/\.sql$//')
# The scripts find their work directory for server files in TESSEL_PG_FILES (psql's \getenv).
status=0
TESSEL_PG_FILES=$work/files "$regress" --inputdir=tests/pg --outputdir="$work/out" \
    --bindir="$bindir" --host="$work" --port="$port" --user="$user" \
    --dbname=tessel_regress --load-extension=tessel $tests || status=$?
# TESSEL_PG_RESULTS=DIR keeps the actual output (to review and refresh tests/pg/expected).
if [ -n "${TESSEL_PG_RESULTS:-}" ]; then cp "$work"/out/results/*.out "$TESSEL_PG_RESULTS"/; fi
if [ "$status" -ne 0 ]; then
    cat "$work/out/regression.diffs" 2>/dev/null || true
    echo "--- server log (tail)"
    tail -n 30 "$work/server.log"
fi
exit "$status"
