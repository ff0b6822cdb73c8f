#!/usr/bin/env bash
# Schema validation per row in PostgreSQL: N small orders (default 100000) in one statement
# against one XML Schema (tessel_validate_schema), beside the DTD validate routine over the same
# rows (qapValidateVarchar2, its DTD text read once per statement), in a throwaway cluster
# (scripts/pgcluster.sh; needs root, to install the extension from build/). Each query runs
# three times; the best time counts. The cluster takes /tmp/tessel-pg.lock itself (do not wrap
# the script in flock).
#
#   bash bench/pg-schema.sh [N]
set -euo pipefail
cd "$(dirname "$0")/.."
rows=${1:-100000}
source scripts/pgcluster.sh
pg_cluster_start build
pg_psql -d postgres <<SQL
CREATE EXTENSION tessel;
CREATE TABLE orders AS
SELECT o AS id, '<order id="' || o || '"><customer>Customer ' || o || '</customer>'
       || string_agg('<item qty="' || (1 + (o + i) % 9) || '">Product ' || i || '</item>', '')
       || '</order>' AS doc
  FROM generate_series(1, $rows) o, generate_series(1, 3) i GROUP BY o;
VACUUM ANALYZE orders;
\i bench/best_ms.sql
SET max_parallel_workers_per_gather = 0;
\set xsd '<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema"><xs:element name="order"><xs:complexType><xs:sequence><xs:element name="customer" type="xs:string"/><xs:element name="item" maxOccurs="unbounded"><xs:complexType><xs:simpleContent><xs:extension base="xs:string"><xs:attribute name="qty" type="xs:positiveInteger" use="required"/></xs:extension></xs:simpleContent></xs:complexType></xs:element></xs:sequence><xs:attribute name="id" type="xs:positiveInteger" use="required"/></xs:complexType></xs:element></xs:schema>'
\set dtd '<!ELEMENT order (customer, item+)><!ATTLIST order id CDATA #REQUIRED><!ELEMENT customer (#PCDATA)><!ELEMENT item (#PCDATA)><!ATTLIST item qty CDATA #REQUIRED>'
SELECT count(*) AS rows, round(avg(octet_length(doc))) AS avg_bytes,
       sum(tessel_validate_schema(doc, :'xsd')) AS schema_valid,
       sum(qapValidateVarchar2('<!DOCTYPE order SYSTEM "o.dtd">' || doc, :'dtd', 'o.dtd')) AS dtd_valid
  FROM orders;
CREATE TABLE runs AS
SELECT best_ms(format('SELECT sum(tessel_validate_schema(doc, %L)) FROM orders', :'xsd')) AS schema_ms,
       best_ms(format('SELECT sum(qapValidateVarchar2(''<!DOCTYPE order SYSTEM "o.dtd">'' || doc, %L, ''o.dtd'')) FROM orders', :'dtd')) AS dtd_ms;
SELECT round((schema_ms * 1000 / $rows)::numeric, 2) AS schema_us_per_row,
       round((dtd_ms * 1000 / $rows)::numeric, 2) AS dtd_us_per_row,
       round((schema_ms / dtd_ms)::numeric, 2) AS "schema/dtd" FROM runs;
SQL
