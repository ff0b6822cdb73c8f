-- Tessel in SQLite: typed values out of purchase-order documents.
--
-- Run from the repository root after building (scripts/demo.sh does both):
--   sqlite3 -cmd '.load build/libtessel_sqlite' < examples/demo.sql
-- The documents are examples/po-100[123].xml. Each order is kept twice, as a VARCHAR value
-- (the ...FromVarchar routines) and as a CLOB value (the ...FromClob routines); the routines
-- without a suffix read a server file instead. Server files are read from examples/ and
-- written to build/demo-export/ only: scripts/demo.sh allows those directories with
-- TARN_READ_ACCESS and TARN_WRITE_ACCESS.
.headers on
.mode box
.nullvalue NULL

CREATE TABLE orders(id INTEGER PRIMARY KEY, doc VARCHAR(32672), clob CLOB);
INSERT INTO orders(id, doc) VALUES
  (1001, CAST(readfile('examples/po-1001.xml') AS TEXT)),
  (1002, CAST(readfile('examples/po-1002.xml') AS TEXT)),
  (1003, CAST(readfile('examples/po-1003.xml') AS TEXT));
UPDATE orders SET clob = doc;

.print
.print Orders, with typed values from the VARCHAR column (dates work with SQLite's date functions)
SELECT qapExtractVarcharFromVarchar(doc, '/purchaseOrder/@orderNumber') AS "order",
       qapExtractVarcharFromVarchar(doc, '/purchaseOrder/customer/name') AS customer,
       qapExtractDateFromVarchar(doc, '/purchaseOrder/@orderDate') AS ordered,
       qapExtractDateFromVarchar(doc, '/purchaseOrder/shipDate') AS shipped,
       julianday(qapExtractDateFromVarchar(doc, '/purchaseOrder/shipDate'))
         - julianday(qapExtractDateFromVarchar(doc, '/purchaseOrder/@orderDate')) AS days,
       qapExtractDoubleFromVarchar(doc, '/purchaseOrder/total') AS total
  FROM orders ORDER BY id;

.print
.print The sum of the order totals, from the CLOB column
SELECT count(*) AS orders,
       printf('%.2f', sum(qapExtractDoubleFromClob(clob, '/purchaseOrder/total'))) AS "sum of totals",
       sum(qapExtractIntegerFromClob(clob, '/purchaseOrder/items/item[@partNum="926-AA"]/quantity'))
         AS "baby monitors"
  FROM orders;

.print
.print A path that is missing from a document gives NULL, without an error
SELECT id,
       qapExtractDoubleFromClob(clob, '/purchaseOrder/items/item[@partNum="926-AA"]/price')
         AS "926-AA price",
       qapExtractVarcharFromVarchar(doc, '/purchaseOrder/comment') AS comment
  FROM orders ORDER BY id;

.print
.print A tagged fragment (CLOB result), and a timestamp read from a server file
SELECT qapExtractClobFromClob(clob, '/purchaseOrder/customer') AS customer
  FROM orders WHERE id = 1002;
SELECT qapExtractTimestamp('examples/po-1003.xml', '/purchaseOrder/created') AS created;

.print
.print Table routines: every item of every order, in a join (one row per value found)
SELECT o.id AS "order", p.value AS part
  FROM orders o, qapExtractVarcharsFromVarchar(o.doc, '/purchaseOrder/items/item/@partNum') p
 ORDER BY o.id, p.rowid;
SELECT o.id AS "order", count(*) AS items, printf('%.2f', sum(p.value)) AS "sum of prices",
       max(p.value) AS dearest
  FROM orders o, qapExtractDoublesFromClob(o.clob, '/purchaseOrder/items/item/price') p
 GROUP BY o.id ORDER BY o.id;

.print
.print The row scan: every item as a row of typed columns, in one pass over each document
CREATE VIRTUAL TABLE temp.items USING tessel_rows('/purchaseOrder/items/item',
  'sku TEXT PATH @partNum', 'product TEXT', 'qty INTEGER PATH quantity', 'price REAL');
SELECT o.id AS "order", i.* FROM orders o, items(o.doc) i ORDER BY o.id, i.sku;

.print
.print Validation against examples/po.dtd (each document names it in a DOCTYPE): 1 is valid
SELECT id,
       qapValidateVarchar(replace(doc, '<purchaseOrder', '<!DOCTYPE purchaseOrder SYSTEM "po.dtd"><purchaseOrder'),
                          'examples/po.dtd', 'po') AS valid
  FROM orders ORDER BY id;

.print
.print An update: order 1002 gets a new ship date, read back from the rewritten document
SELECT qapExtractDateFromVarchar(
         qapUpdateXMLVarchar(doc, '/purchaseOrder/shipDate', '2024-03-15'),
         '/purchaseOrder/shipDate') AS "new ship date"
  FROM orders WHERE id = 1002;

.print
.print Every order exported to a file of its own in build/demo-export (TARN_WRITE_ACCESS allows it),
.print numbered by qapSeqno, and the first one read back
SELECT qapSeqno(0) AS n,
       qapContent_varchar2file(doc, 'build/demo-export/po-' || id || '.xml') AS file
  FROM orders ORDER BY id;
SELECT length(qapVarChar('build/demo-export/po-1001.xml')) AS "bytes read back";

.print
.print A path that matches twice is an error (order 1001 has two items):
SELECT id, qapExtractDoubleFromVarchar(doc, '/purchaseOrder/items/item/price') AS price
  FROM orders WHERE id = 1001;
