#!/usr/bin/env bash
# Point queries in PostgreSQL: an application that fetches one row by key and extracts from its
# small document, one statement at a time. In a throwaway cluster (scripts/pgcluster.sh; needs
# root, to install the extension from build/), over N documents of about 150 bytes (default
# 20000), stored as text:
#   - one value: qapExtractIntegerFromVarchar vs (xpath('/po/@n', doc::xml))[1]
#   - a table:   qapExtractDoublesFromVarchar in a LATERAL join vs unnest(xpath(...))
# each as N statements fetched by key from a PL/pgSQL loop (best of three loops); then pgbench
# with 4 clients for 10 s running a mix of both, once with Tessel's routines, once with xpath().
# Ratios are Tessel's time over xpath's, measured in this run.
#
#   bash bench/pg-point.sh [N]        (TESSEL_BUILD names another build directory than build/)
# The cluster's start takes /tmp/tessel-pg.lock itself (do not wrap the script in flock).
set -euo pipefail
cd "$(dirname "$0")/.."
docs=${1:-20000}
source scripts/pgcluster.sh
pg_cluster_start "${TESSEL_BUILD:-build}"
echo "build: $(git describe --always --dirty 2>/dev/null || echo unknown)"
# A PL/pgSQL function NAME(n) of type TYPE that runs n statements, one per key k, each giving
# v ("SELECT ... INTO v FROM docs WHERE id = k"), and adds the values up.
loop() {
    cat <<SQL
CREATE FUNCTION $1(n int) RETURNS $2 LANGUAGE plpgsql AS \$\$
DECLARE s $2 := 0; v $2;
BEGIN
  FOR k IN 1..n LOOP
    $3;
    s := s + v;
  END LOOP;
  RETURN s;
END \$\$;
SQL
}
pg_psql -d postgres <<SQL
CREATE EXTENSION tessel;
CREATE TABLE docs AS
SELECT i AS id, '<po n="' || i % 97 || '"><item><p>1.5</p></item><item><p>' || i % 10
       || '</p></item><note>a &amp; b</note></po>' AS doc
  FROM generate_series(1, $docs) i;
ALTER TABLE docs ADD PRIMARY KEY (id);
VACUUM ANALYZE docs;
$(loop tessel_scalar bigint "SELECT qapExtractIntegerFromVarchar(doc, '/po/@n') INTO v FROM docs WHERE id = k")
$(loop xpath_scalar bigint "SELECT ((xpath('/po/@n', doc::xml))[1])::text::int INTO v FROM docs WHERE id = k")
$(loop plain_scalar bigint "SELECT length(doc) INTO v FROM docs WHERE id = k")
$(loop tessel_table float8 "SELECT sum(p) INTO v FROM docs, LATERAL qapExtractDoublesFromVarchar(doc, '/po/item/p') p WHERE id = k")
$(loop xpath_table float8 "SELECT sum(p::text::float8) INTO v FROM docs, unnest(xpath('/po/item/p/text()', doc::xml)) p WHERE id = k")
\i bench/best_ms.sql
SELECT tessel_scalar($docs) = xpath_scalar($docs) AS same_values,
       round(tessel_table($docs)::numeric, 1) = round(xpath_table($docs)::numeric, 1) AS same_sums;
CREATE TABLE runs(what text, tessel float8, xpath float8, plain float8);
INSERT INTO runs VALUES
  ('one value by key', best_ms('SELECT tessel_scalar($docs)'), best_ms('SELECT xpath_scalar($docs)'),
   best_ms('SELECT plain_scalar($docs)')),
  ('a table by key', best_ms('SELECT tessel_table($docs)'), best_ms('SELECT xpath_table($docs)'),
   best_ms('SELECT plain_scalar($docs)'));
\echo $docs point statements, best of three loops; plain: the same statement with length(doc)
SELECT what, round((tessel * 1000 / $docs)::numeric, 1) AS tessel_us_each,
       round((xpath * 1000 / $docs)::numeric, 1) AS xpath_us_each,
       round((plain * 1000 / $docs)::numeric, 1) AS plain_us_each,
       round((tessel / xpath)::numeric, 2) AS "tessel/xpath",
       round(((tessel - plain) / (xpath - plain))::numeric, 2) AS "beyond plain: tessel/xpath"
  FROM runs;
SQL

mix=$(mktemp -d /tmp/tessel-mix-XXXXXX)
trap 'rm -rf "$mix"; pg_cluster_stop' EXIT
cat >"$mix/tessel.sql" <<SQL
\set k random(1, $docs)
SELECT qapExtractIntegerFromVarchar(doc, '/po/@n') FROM docs WHERE id = :k;
SELECT sum(p) FROM docs, LATERAL qapExtractDoublesFromVarchar(doc, '/po/item/p') p WHERE id = :k;
SQL
cat >"$mix/xpath.sql" <<SQL
\set k random(1, $docs)
SELECT ((xpath('/po/@n', doc::xml))[1])::text::int FROM docs WHERE id = :k;
SELECT sum(p::text::float8) FROM docs, unnest(xpath('/po/item/p/text()', doc::xml)) p WHERE id = :k;
SQL
chmod 755 "$mix"
chmod 644 "$mix"/*.sql
tps() {
    runuser -u "$PG_USER" -- "$PG_BINDIR/pgbench" -n -h "$PG_WORK" -p "$PG_PORT" -c 4 -j 2 -T 10 \
        -f "$1" postgres 2>/dev/null | awk '/^tps/ {printf "%.0f", $3}'
}
t=$(tps "$mix/tessel.sql")
x=$(tps "$mix/xpath.sql")
echo "pgbench, 4 clients, 10 s, a mix of one value and one table by key per transaction:"
awk -v t="$t" -v x="$x" 'BEGIN {printf "  tessel %s tps, xpath %s tps, tessel/xpath %.2f\n", t, x, t / x}'
