#!/usr/bin/env bash
# Runs the PostgreSQL regression tests (tests/pg/sql/*.sql, expected output in tests/pg/expected)
# with pg_regress in a throwaway cluster (scripts/pgcluster.sh), against a build directory
# (default build/), then the guide's PostgreSQL examples (scripts/pgdocs.sh). Needs root, to
# install the extension.
# TESSEL_PG_RESULTS=DIR keeps the actual output there (to review and refresh the expected).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/pgcluster.sh
pg_cluster_start "${1:-build}"
regress=$(dirname "$("$PG_BINDIR/pg_config" --pgxs)")/../test/regress/pg_regress

tests=$(cd tests/pg/sql && ls -- *.sql | sed 's/\.sql$//')
status=0
# The scripts find the directory for their server files in TESSEL_PG_FILES (psql's \getenv).
TESSEL_PG_FILES=$PG_WORK/files "$regress" --inputdir=tests/pg --outputdir="$PG_WORK/out" \
    --bindir="$PG_BINDIR" --host="$PG_WORK" --port="$PG_PORT" --user="$PG_USER" \
    --dbname=tessel_regress --load-extension=tessel $tests || status=$?
if [ -n "${TESSEL_PG_RESULTS:-}" ]; then cp "$PG_WORK"/out/results/*.out "$TESSEL_PG_RESULTS"/; fi
if [ "$status" -ne 0 ]; then
    cat "$PG_WORK/out/regression.diffs" 2>/dev/null || true
    echo "--- server log (tail)"
    tail -n 30 "$PG_WORK/server.log"
fi
source scripts/pgdocs.sh
pg_doc_examples || status=1
exit "$status"
