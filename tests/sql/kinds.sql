-- Every result kind from every document source (columns: a server file, a VARCHAR value, a
-- CLOB value), with the "2" variants taking their DTD from a CLOB. quote() shows the SQL type
-- of each result: 'text', an integer, a real (always with a point or an exponent), or NULL.
CREATE TABLE po(doc VARCHAR, clob CLOB, dtd CLOB);
INSERT INTO po(doc, dtd) VALUES (
'<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE po SYSTEM "po.dtd">
<po id="PO-1001">
  <customer>Zoë Ångström</customer>
  <status>A</status>
  <ordered>2024-03-15</ordered>
  <time>09:30:00</time>
  <stamp>2024-3-15 9:30:5.25</stamp>
  <item sku="A1"><qty>2</qty><price>12.50</price></item>
  <weight> 1.5e3 </weight>
  <count>70000</count>
  <vendor>&vendor;</vendor>
</po>',
'<!ENTITY vendor "Tessel &amp; Sons">
<!ATTLIST item discount CDATA "0.1">');
UPDATE po SET clob = doc;
SELECT 'file written', writefile('po.xml', doc) > 0 FROM po;

.print -- kind|server file|VARCHAR document|CLOB document
SELECT 'Varchar', quote(qapExtractVarchar('po.xml', '/po/customer')),
  quote(qapExtractVarcharFromVarchar(doc, '/po/customer')), quote(qapExtractVarcharFromClob(clob, '/po/customer')) FROM po
UNION ALL SELECT 'Char', quote(qapExtractChar('po.xml', '/po/status')),
  quote(qapExtractCharFromVarchar(doc, '/po/status')), quote(qapExtractCharFromClob(clob, '/po/status')) FROM po
UNION ALL SELECT 'Clob', quote(qapExtractClob('po.xml', '/po/item')),
  quote(qapExtractClobFromVarchar(doc, '/po/item')), quote(qapExtractClobFromClob(clob, '/po/item')) FROM po
UNION ALL SELECT 'Clob2', quote(qapExtractClob2('po.xml', dtd, '/po/item')),
  quote(qapExtractClobFromVarchar2(doc, dtd, '/po/item')), quote(qapExtractClobFromClob2(clob, dtd, '/po/item')) FROM po
UNION ALL SELECT 'Date', quote(qapExtractDate('po.xml', '/po/ordered')),
  quote(qapExtractDateFromVarchar(doc, '/po/ordered')), quote(qapExtractDateFromClob(clob, '/po/ordered')) FROM po
UNION ALL SELECT 'Time', quote(qapExtractTime('po.xml', '/po/time')),
  quote(qapExtractTimeFromVarchar(doc, '/po/time')), quote(qapExtractTimeFromClob(clob, '/po/time')) FROM po
UNION ALL SELECT 'Timestamp', quote(qapExtractTimestamp('po.xml', '/po/stamp')),
  quote(qapExtractTimestampFromVarchar(doc, '/po/stamp')), quote(qapExtractTimestampFromClob(clob, '/po/stamp')) FROM po
UNION ALL SELECT 'Double', quote(qapExtractDouble('po.xml', '/po/item/price')),
  quote(qapExtractDoubleFromVarchar(doc, '/po/item/price')), quote(qapExtractDoubleFromClob(clob, '/po/item/price')) FROM po
UNION ALL SELECT 'Double2', quote(qapExtractDouble2('po.xml', dtd, '/po/item/@discount')),
  quote(qapExtractDoubleFromVarchar2(doc, dtd, '/po/item/@discount')), quote(qapExtractDoubleFromClob2(clob, dtd, '/po/item/@discount')) FROM po
UNION ALL SELECT 'Real', quote(qapExtractReal('po.xml', '/po/weight')),
  quote(qapExtractRealFromVarchar(doc, '/po/weight')), quote(qapExtractRealFromClob(clob, '/po/weight')) FROM po
UNION ALL SELECT 'Integer', quote(qapExtractInteger('po.xml', '/po/item/qty')),
  quote(qapExtractIntegerFromVarchar(doc, '/po/item/qty')), quote(qapExtractIntegerFromClob(clob, '/po/item/qty')) FROM po
UNION ALL SELECT 'Smallint', quote(qapExtractSmallint('po.xml', '/po/count')),
  quote(qapExtractSmallintFromVarchar(doc, '/po/count')), quote(qapExtractSmallintFromClob(clob, '/po/count')) FROM po;

.print -- a document stored as a BLOB is read as its bytes
SELECT quote(qapExtractVarcharFromVarchar(CAST(doc AS BLOB), '/po/customer')),
       quote(qapExtractVarcharFromClob(CAST(clob AS BLOB), '/po/customer')) FROM po;
.print -- numbers given as arguments are read as their text
SELECT quote(qapExtractIntegerFromVarchar('<n>' || 41 || '</n>', '/n') + 1);
.print -- a path that differs from row to row
SELECT p, quote(qapExtractVarcharFromVarchar(doc, p)), quote(qapExtractDoubleFromClob(clob, p))
  FROM po, (SELECT '/po/item/price' AS p UNION ALL SELECT '/po/weight' UNION ALL SELECT '/po/@id'
            UNION ALL SELECT '/po/nothing')
 ORDER BY p;
