-- The pure routines and the file readers run in parallel workers; writers and qapSeqno do not.
\getenv files TESSEL_PG_FILES
\set f :files/par.xml
SELECT p.proname FROM pg_proc p
  JOIN pg_depend d ON d.classid = 'pg_proc'::regclass AND d.objid = p.oid
  JOIN pg_extension e ON e.oid = d.refobjid AND e.extname = 'tessel'
 WHERE p.proparallel <> 's' ORDER BY 1;
CREATE TABLE orders AS
SELECT o AS id, '<purchaseOrder orderNumber="' || o || '"><total>' || o || '.5</total>'
       || '<item><price>1</price></item><item><price>' || o % 7 || '</price></item></purchaseOrder>' AS doc
  FROM generate_series(1, 3000) o;
ANALYZE orders;
SET tessel.write_access = :'files';
SELECT qapContent_varchar2file('<a>2</a>', :'f') = :'f' AS written;
SET parallel_setup_cost = 0;
SET parallel_tuple_cost = 0;
SET min_parallel_table_scan_size = 0;
SET max_parallel_workers_per_gather = 2;
SET parallel_leader_participation = off;
-- scalar and table routines under a Gather, with the serial sums
EXPLAIN (COSTS OFF) SELECT sum(qapExtractDoubleFromVarchar(doc, '/purchaseOrder/total')) FROM orders;
SELECT sum(qapExtractDoubleFromVarchar(doc, '/purchaseOrder/total')) FROM orders;
EXPLAIN (COSTS OFF)
SELECT sum(v) FROM orders, LATERAL qapExtractIntegersFromVarchar(doc, '/purchaseOrder/item/price') v;
SELECT sum(v), count(*) FROM orders, LATERAL qapExtractIntegersFromVarchar(doc, '/purchaseOrder/item/price') v;
-- a warning and an error from a worker reach the client; the error's detail is the whole text
SELECT count(qapExtractIntegerFromVarchar(CASE id WHEN 7 THEN '<a><b/></a>' ELSE doc END, '/purchaseOrder/@orderNumber'))
  FROM orders;
SELECT sum(qapExtractIntegerFromVarchar(CASE id WHEN 2999 THEN '<order><customerName>x</order>' ELSE doc END,
                                        '/purchaseOrder/@orderNumber'))
  FROM orders;
-- the settings travel to the workers: the reader is refused until the directory is allowed
SELECT sum(qapExtractInteger(:'f', '/a')) FROM orders;
SET tessel.read_access = :'files';
SELECT sum(qapExtractInteger(:'f', '/a')) FROM orders;
-- a time limit stops the workers in the middle of their parses
SET statement_timeout = '300ms';
SELECT count(qapExtractVarcharFromVarchar('<a>' || repeat('<b>x</b>', 400000) || left(doc, 0) || '<c/></a>', '/a/c'))
  FROM orders;
RESET statement_timeout;
SELECT count(*) AS workers_left FROM pg_stat_activity WHERE backend_type = 'parallel worker';
RESET ALL;
-- an expression index on an extracted value, chosen by a query
CREATE INDEX orders_number ON orders (qapExtractIntegerFromVarchar(doc, '/purchaseOrder/@orderNumber'));
SET enable_seqscan = off;
EXPLAIN (COSTS OFF)
SELECT id FROM orders WHERE qapExtractIntegerFromVarchar(doc, '/purchaseOrder/@orderNumber') = 1234;
SELECT id FROM orders WHERE qapExtractIntegerFromVarchar(doc, '/purchaseOrder/@orderNumber') = 1234;
-- a row whose document fails the routine fails the INSERT, and an index build over such a row
INSERT INTO orders VALUES (3001, '<purchaseOrder orderNumber="x1">');
SELECT count(*) FROM orders;
DROP INDEX orders_number;
INSERT INTO orders VALUES (3001, '<purchaseOrder orderNumber="x1">');
CREATE INDEX ON orders (qapExtractIntegerFromVarchar(doc, '/purchaseOrder/@orderNumber'));
-- a warning (no such attribute) indexes NULL
DELETE FROM orders WHERE id = 3001;
INSERT INTO orders VALUES (3002, '<purchaseOrder><none/></purchaseOrder>');
CREATE INDEX orders_number ON orders (qapExtractIntegerFromVarchar(doc, '/purchaseOrder/@orderNumber'));
SELECT id FROM orders WHERE qapExtractIntegerFromVarchar(doc, '/purchaseOrder/@orderNumber') IS NULL;
DROP TABLE orders;
