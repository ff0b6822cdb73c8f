#!/usr/bin/env bash
# Compares Tessel's routines in PostgreSQL with the server's own xpath(), in a throwaway cluster
# (scripts/pgcluster.sh; needs root, to install the extension from build/):
#   - one value per document: qapExtractDoubleFromVarchar vs (xpath(...))[1]
#   - every price of every document: qapExtractDoublesFromVarchar in a LATERAL join vs
#     unnest(xpath(...))
# over N generated purchase orders of about 2 KB (default 100000), stored as text for Tessel and
# as xml for xpath. Each query runs three times; the best time counts.
#
#   bash bench/pgbench.sh [N]
set -euo pipefail
cd "$(dirname "$0")/.."
orders=${1:-100000}
source scripts/pgcluster.sh
pg_cluster_start build
pg_psql -d postgres <<SQL
CREATE EXTENSION tessel;
SET max_parallel_workers_per_gather = 0;
CREATE TABLE orders AS
SELECT o AS id, doc, doc::xml AS x FROM (
  SELECT o, '<purchaseOrder orderNumber="' || o || '" orderDate="2024-03-15">'
         || '<customer><name>Customer ' || o || '</name><street>' || (o % 977) || ' Main Street</street>'
         || '<city>Springfield</city><zip>' || (10000 + o % 89999) || '</zip></customer><items>'
         || string_agg('<item partNum="' || i || '-' || (o % 100) || '"><productName>Product number '
                       || i || ' of a fairly long catalogue line</productName><quantity>'
                       || (1 + (o + i) % 9) || '</quantity><price>' || ((o * 7 + i * 13) % 5000) / 100.0
                       || '</price><comment>Ships in ' || (i % 4 + 1) || ' days</comment></item>', '')
         || '</items><total>' || (o % 100000) / 10.0 || '</total></purchaseOrder>' AS doc
    FROM generate_series(1, $orders) o, generate_series(1, 10) i GROUP BY o) d;
VACUUM ANALYZE orders;
\i bench/best_ms.sql
\echo
SELECT count(*) AS orders, round(avg(octet_length(doc))) AS avg_bytes,
       round(sum(qapExtractDoubleFromVarchar(doc, '/purchaseOrder/total'))::numeric, 2)
       = round(sum(((xpath('/purchaseOrder/total/text()', x))[1])::text::float8)::numeric, 2)
       AS same_totals FROM orders;
WITH runs(what, tessel, xpath) AS (VALUES
  ('one value per document',
   best_ms(\$q\$SELECT sum(qapExtractDoubleFromVarchar(doc, '/purchaseOrder/total')) FROM orders\$q\$),
   best_ms(\$q\$SELECT sum(((xpath('/purchaseOrder/total/text()', x))[1])::text::float8) FROM orders\$q\$)),
  ('every price (a table per document)',
   best_ms(\$q\$SELECT sum(v) FROM orders, LATERAL qapExtractDoublesFromVarchar(doc, '/purchaseOrder/items/item/price') v\$q\$),
   best_ms(\$q\$SELECT sum(p::text::float8) FROM orders, unnest(xpath('/purchaseOrder/items/item/price/text()', x)) p\$q\$)))
SELECT what, round(tessel::numeric) AS tessel_ms, round(xpath::numeric) AS xpath_ms,
       round((tessel / xpath)::numeric, 2) AS "tessel/xpath" FROM runs;
SQL
