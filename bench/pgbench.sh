#!/usr/bin/env bash
# Compares Tessel's routines in PostgreSQL with the server's own xpath() and XMLTABLE, in a
# throwaway cluster (scripts/pgcluster.sh; needs root, to install the extension from build/):
#   - one value per document: qapExtractDoubleFromVarchar vs (xpath(...))[1] vs XMLTABLE
#   - every price of every document: qapExtractDoublesFromVarchar in a LATERAL join vs
#     unnest(xpath(...)) vs XMLTABLE
# over N generated purchase orders of about 2 KB (default 100000), stored as text for Tessel and
# as xml for the server's functions; serially, then with 2 parallel workers per Gather. Each query
# runs three times; the best time counts. The ratios to xpath() are within one setting; the
# speed-up is the serial time over the time with workers. The cluster's port is shared with
# scripts/pgtest.sh: the script takes /tmp/tessel-pg.lock itself (do not wrap it in flock).
#
#   bash bench/pgbench.sh [N]
set -euo pipefail
cd "$(dirname "$0")/.."
orders=${1:-100000}
source scripts/pgcluster.sh
pg_cluster_start build
pg_psql -d postgres <<SQL
CREATE EXTENSION tessel;
\set orders $orders
\set items 10
\i bench/pg-orders.sql
\i bench/best_ms.sql
\echo
SELECT count(*) AS orders, round(avg(octet_length(doc))) AS avg_bytes,
       round(sum(qapExtractDoubleFromVarchar(doc, '/purchaseOrder/total'))::numeric, 2)
       = round(sum(((xpath('/purchaseOrder/total/text()', x))[1])::text::float8)::numeric, 2)
       AS same_totals FROM orders;
CREATE TABLE queries(what text, engine text, q text);
INSERT INTO queries VALUES
  ('one value per document', 'tessel',
   \$q\$SELECT sum(qapExtractDoubleFromVarchar(doc, '/purchaseOrder/total')) FROM orders\$q\$),
  ('one value per document', 'xpath',
   \$q\$SELECT sum(((xpath('/purchaseOrder/total/text()', x))[1])::text::float8) FROM orders\$q\$),
  ('one value per document', 'xmltable',
   \$q\$SELECT sum(t.v) FROM orders, XMLTABLE('/purchaseOrder' PASSING x COLUMNS v float8 PATH 'total') t\$q\$),
  ('every price (a table per document)', 'tessel',
   \$q\$SELECT sum(v) FROM orders, LATERAL qapExtractDoublesFromVarchar(doc, '/purchaseOrder/items/item/price') v\$q\$),
  ('every price (a table per document)', 'xpath',
   \$q\$SELECT sum(p::text::float8) FROM orders, unnest(xpath('/purchaseOrder/items/item/price/text()', x)) p\$q\$),
  ('every price (a table per document)', 'xmltable',
   \$q\$SELECT sum(t.v) FROM orders, XMLTABLE('/purchaseOrder/items/item' PASSING x COLUMNS v float8 PATH 'price') t\$q\$);
CREATE TABLE runs(workers int, what text, engine text, ms float8, parallel bool);
SET max_parallel_workers_per_gather = 0;
INSERT INTO runs SELECT 0, what, engine, best_ms(q), gathers(q) FROM queries;
SET max_parallel_workers_per_gather = 2;
INSERT INTO runs SELECT 2, what, engine, best_ms(q), gathers(q) FROM queries;
SELECT r.workers, r.what, round(t.ms::numeric) AS tessel_ms, round(r.ms::numeric) AS xpath_ms,
       round(x.ms::numeric) AS xmltable_ms, round((t.ms / r.ms)::numeric, 2) AS "tessel/xpath",
       round((x.ms / r.ms)::numeric, 2) AS "xmltable/xpath",
       concat_ws(' ', CASE WHEN t.parallel THEN 'tessel' END, CASE WHEN r.parallel THEN 'xpath' END,
                 CASE WHEN x.parallel THEN 'xmltable' END) AS "under a Gather"
  FROM runs r JOIN runs t USING (workers, what) JOIN runs x USING (workers, what)
 WHERE r.engine = 'xpath' AND t.engine = 'tessel' AND x.engine = 'xmltable'
 ORDER BY 1, 2 DESC;
\echo the speed-up the 2 workers give (serial time / time with workers)
SELECT s.what, s.engine, round((s.ms / p.ms)::numeric, 2) AS speedup
  FROM runs s JOIN runs p USING (what, engine) WHERE s.workers = 0 AND p.workers = 2
 ORDER BY 1 DESC, 2 DESC;
SQL
