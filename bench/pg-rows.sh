#!/usr/bin/env bash
# The row scan in PostgreSQL beside XMLTABLE: N generated purchase orders of about 2 KB (default
# 100000), each item a row of four columns (an attribute, two texts, a number), summed so that
# every value is read. tessel_rows reads the text column, XMLTABLE the same documents as xml.
# tessel_rows in a LATERAL join (its columns come from the column definition list), and
# tessel_rows_as (columns from a row type) in the select list; serially and with 2 parallel
# workers per Gather, in a throwaway cluster (scripts/pgcluster.sh; needs root, to install the
# extension from build/). Each query runs three times; the best time counts. The cluster takes
# /tmp/tessel-pg.lock itself (do not wrap the script in flock).
#
#   bash bench/pg-rows.sh [N]
set -euo pipefail
cd "$(dirname "$0")/.."
orders=${1:-100000}
echo "build: $(git describe --always --dirty 2>/dev/null || echo unknown)"
source scripts/pgcluster.sh
pg_cluster_start build
pg_psql -d postgres <<SQL
CREATE EXTENSION tessel;
\set orders $orders
\set items 9
\i bench/pg-orders.sql
\i bench/best_ms.sql
CREATE TYPE order_item AS (sku text, name text, qty int, price float8);
CREATE TABLE queries(engine text, q text);
INSERT INTO queries VALUES
  ('tessel_rows_as, select list', \$q\$SELECT count(*), sum(length((r).sku) + length((r).name) + (r).qty),
       sum((r).price)
     FROM (SELECT tessel_rows_as(NULL::order_item, o.doc, '/purchaseOrder/items/item',
       '@partNum', 'productName', 'quantity', 'price') AS r FROM orders o) s\$q\$),
  ('tessel_rows', \$q\$SELECT count(*), sum(length(t.sku) + length(t.name) + t.qty), sum(t.price)
     FROM orders o, LATERAL tessel_rows(o.doc, '/purchaseOrder/items/item',
       '@partNum', 'productName', 'quantity', 'price') AS t(sku text, name text, qty int, price float8)\$q\$),
  ('xmltable', \$q\$SELECT count(*), sum(length(t.sku) + length(t.name) + t.qty), sum(t.price)
     FROM orders o, LATERAL XMLTABLE('/purchaseOrder/items/item' PASSING o.x COLUMNS
       sku text PATH '@partNum', name text PATH 'productName', qty int PATH 'quantity',
       price float8 PATH 'price') t\$q\$);
CREATE FUNCTION result(q text) RETURNS text LANGUAGE plpgsql AS \$\$
DECLARE r text;
BEGIN
  EXECUTE format('SELECT s::text FROM (%s) s', q) INTO r;
  RETURN r;
END \$\$;
SET max_parallel_workers_per_gather = 0;
SELECT engine, result(q) AS "rows, lengths + quantities, sum of prices" FROM queries ORDER BY 1;
SELECT count(*) AS orders, round(avg(octet_length(doc))) AS avg_bytes FROM orders;
CREATE TABLE runs(workers int, engine text, ms float8, parallel bool);
SET max_parallel_workers_per_gather = 0;
INSERT INTO runs SELECT 0, engine, best_ms(q), gathers(q) FROM queries;
SET max_parallel_workers_per_gather = 2;
INSERT INTO runs SELECT 2, engine, best_ms(q), gathers(q) FROM queries;
SELECT t.workers, t.engine, round(t.ms::numeric) AS ms, round((t.ms / x.ms)::numeric, 2) AS "/xmltable",
       round(($orders * 1000.0 * 9 / t.ms)::numeric) AS "rows/s", t.parallel AS "under a Gather"
  FROM runs t JOIN runs x ON x.workers = t.workers AND x.engine = 'xmltable' ORDER BY 1, 2;
SQL
