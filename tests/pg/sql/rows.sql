-- The row scan: typed columns from the definition list, the options, files under the read rule
-- and the file roles, and the scan's end on LIMIT and on errors.
\getenv files TESSEL_PG_FILES
\set f :files/rows.xml
\set po '<po><item sku="a&amp;1" n="1"><qty>2</qty><price> 1.5 </price><d>2024-03-07</d><at>09:15:30</at><ts>2024-03-04 09:15:30.25</ts><note/></item><item sku="b" n="2"><qty>40000</qty><price>x</price><note>Ok</note><b><i>1 &lt; 2</i></b></item></po>'
-- every kind; a missing element and an empty one; several matches take the first
SELECT * FROM tessel_rows(:'po', '/po/item[@n="1"]', '@sku', '@n', '@n', '@n', 'price', 'price', 'd', 'at', 'ts', 'note', 'note', 'zz')
  AS t(sku varchar(3), small int2, i int4, big int8, price float8, pnum numeric(6, 2), d date, at time, ts timestamp, note text, nnum float4, missing text);
SELECT t.* FROM tessel_rows(:'po', '/po/item', 'b/i', '@sku') AS t(frag xml, sku char(3));
SELECT * FROM tessel_rows(:'po', '/po/item', ARRAY['qty', 'price', 'note'], ARRAY['bad null'])
  AS t(qty int2, price float8, note int4);
-- a bad value fails naming the row; several matches fail with the option
SELECT * FROM tessel_rows(:'po', '/po/item', 'price') AS t(price float8);
SELECT * FROM tessel_rows('<r><i>1</i><i>x<d>2024-13-40</d></i></r>', '/r/i', ARRAY['d'], ARRAY['BAD NULL']) AS t(d date);
SELECT * FROM tessel_rows('<r><i>x<d>2024-13-40</d></i></r>', '/r/i', 'd') AS t(d date);
SELECT * FROM tessel_rows('<r><i><v>1</v><v>2</v></i></r>', '/r/i', ARRAY['v'], ARRAY['several error']) AS t(v int);
-- namespaces; the declaration's mistakes
SELECT * FROM tessel_rows('<a:po xmlns:a="urn:o"><a:i n="1"/><i n="2" xmlns="urn:o"/></a:po>', '/p:po/p:i', ARRAY['@n'], ARRAY['xmlns:p=urn:o']) AS t(n int);
SELECT * FROM tessel_rows('<r/>', '/r', 'a', 'b') AS t(a text);
SELECT * FROM tessel_rows('<r/>', '/r', 'a') AS t(a jsonb);
SELECT * FROM tessel_rows('<r/>', '/r', ARRAY['a'], ARRAY['fast']) AS t(a text);
SELECT * FROM tessel_rows('<r/>', 'r', 'a') AS t(a text);
SELECT * FROM tessel_rows('<r/>', '/r', 'a');
-- the typed form: the columns of a row type, in FROM and in the select list; a NULL document
-- has no rows; a model that is no row type is refused
CREATE TYPE rows_item AS (sku text, qty int);
SELECT * FROM tessel_rows_as(NULL::rows_item, :'po', '/po/item', '@sku', 'qty');
SELECT n, (tessel_rows_as(NULL::rows_item, d, '/po/item', ARRAY['@sku', 'qty'], ARRAY['bad null'])).*
  FROM (VALUES (1, :'po'), (2, NULL)) v(n, d);
SELECT * FROM tessel_rows_as(NULL::int, '<r/>', '/r', 'a');
-- LATERAL over a table: LIMIT stops before the document that fails; a NULL document has no rows
CREATE TABLE rows_po (id int, doc text);
INSERT INTO rows_po VALUES (1, '<po><item><qty>1</qty></item><item><qty>2</qty></item></po>'),
  (2, NULL), (3, '<po><item><qty>bad</qty></item></po>');
SELECT rows_po.id, t.qty FROM rows_po, tessel_rows(rows_po.doc, '/po/item', 'qty') AS t(qty int) LIMIT 2;
SELECT rows_po.id, t.qty FROM rows_po, tessel_rows(rows_po.doc, '/po/item', 'qty') AS t(qty int) ORDER BY rows_po.id;
-- a cancel ends the scan with PostgreSQL's error
SET statement_timeout = '300ms';
SELECT count(*) FROM tessel_rows('<r>' || repeat('<i>1</i>', 4000000) || '</r>', '/r/i', '.') AS t(v int);
RESET statement_timeout;
-- a file and a folder, under tessel.read_access and the file role
SET tessel.write_access = :'files';
SET tessel.read_access = :'files';
SELECT qapContent_varchar2file(:'po', :'f') = :'f' AS written;
SELECT * FROM tessel_rows_file(:'f', '/po/item', '@sku', 'qty') AS t(sku text, qty int8);
SELECT * FROM tessel_rows_folder(:'files', 'rows*.xml', '/po/item', ARRAY['@sku'], ARRAY[]::text[]) AS t(sku text);
SET tessel.read_access = '/nowhere';
\set VERBOSITY sqlstate
SELECT * FROM tessel_rows_file(:'f', '/po/item', '@sku') AS t(sku text);
\set VERBOSITY default
SET tessel.read_access = :'files';
CREATE ROLE rows_clerk;
SET ROLE rows_clerk;
SELECT * FROM tessel_rows(:'po', '/po/item', '@sku') AS t(sku text);
SELECT * FROM tessel_rows_file(:'f', '/po/item', '@sku') AS t(sku text);
RESET ROLE;
DROP ROLE rows_clerk;
SELECT proname, provolatile, proparallel, count(*) FROM pg_proc WHERE proname LIKE 'tessel_rows%' GROUP BY 1, 2, 3 ORDER BY 1;
-- every kind gives, row by row, what the table extract routine gives at the same path
CREATE TABLE rows_kinds (doc text);
INSERT INTO rows_kinds VALUES ('<r>
  <i><c> pad </c><d>2024-03-05</d><t>09:08:07</t><s>2024-03-05 09:08:07.25</s><x>1.25</x><n>42</n></i>
  <i><c>x</c><d>1999-12-31</d><t>23:59:59</t><s>1999-12-31 23:59:59.000001</s><x>-2e3</x><n>-7</n></i></r>');
SELECT (SELECT array_agg(c) FROM tessel_rows(doc, '/r/i', 'c') AS t(c text)) = (SELECT array_agg(v) FROM qapExtractCharsFromVarchar(doc, '/r/i/c') v) AS chars,
       (SELECT array_agg(d) FROM tessel_rows(doc, '/r/i', 'd') AS t(d date)) = (SELECT array_agg(v) FROM qapExtractDatesFromVarchar(doc, '/r/i/d') v) AS dates,
       (SELECT array_agg(t) FROM tessel_rows(doc, '/r/i', 't') AS t(t time)) = (SELECT array_agg(v) FROM qapExtractTimesFromVarchar(doc, '/r/i/t') v) AS times,
       (SELECT array_agg(s) FROM tessel_rows(doc, '/r/i', 's') AS t(s timestamp)) = (SELECT array_agg(v) FROM qapExtractTimestampsFromVarchar(doc, '/r/i/s') v) AS stamps,
       (SELECT array_agg(x) FROM tessel_rows(doc, '/r/i', 'x') AS t(x float8)) = (SELECT array_agg(v) FROM qapExtractDoublesFromVarchar(doc, '/r/i/x') v) AS doubles,
       (SELECT array_agg(x) FROM tessel_rows(doc, '/r/i', 'x') AS t(x float4)) = (SELECT array_agg(v) FROM qapExtractRealsFromVarchar(doc, '/r/i/x') v) AS reals,
       (SELECT array_agg(n) FROM tessel_rows(doc, '/r/i', 'n') AS t(n int4)) = (SELECT array_agg(v) FROM qapExtractIntegersFromVarchar(doc, '/r/i/n') v) AS ints,
       (SELECT array_agg(n) FROM tessel_rows(doc, '/r/i', 'n') AS t(n int2)) = (SELECT array_agg(v) FROM qapExtractSmallintsFromVarchar(doc, '/r/i/n') v) AS smallints
  FROM rows_kinds;
