-- mkdir xml 700
-- The row scan as a virtual table: declared once, then a table-valued function of a document
-- column, a server file or a folder.
CREATE TABLE docs(id INTEGER PRIMARY KEY, doc TEXT);
INSERT INTO docs VALUES
  (1, '<po><items><item partNum="A&amp;1"><quantity>2</quantity><price>1.5</price></item>
       <item partNum="B2"><quantity></quantity></item></items></po>'),
  (2, '<po><items><item partNum="C3"><quantity>7</quantity><price>x</price></item></items></po>'),
  (3, NULL);
CREATE VIRTUAL TABLE temp.item_rows USING tessel_rows('/po/items/item',
  'sku TEXT PATH @partNum', 'qty INTEGER PATH quantity', 'price REAL PATH price',
  'item XML PATH .');
CREATE VIRTUAL TABLE temp.lenient USING tessel_rows('/po/items/item',
  'sku TEXT PATH @partNum', 'price REAL PATH price', 'BAD NULL');

.print -- columns of each document; a value that does not convert ends the scan, naming it
SELECT d.id, r.sku, quote(r.qty), quote(r.price) FROM docs d, item_rows(d.doc) r WHERE d.id = 1;
SELECT d.id, r.sku, r.price FROM docs d, item_rows(d.doc) r;
.print -- ... or is NULL when the table says so
SELECT d.id, r.sku, quote(r.price) FROM docs d, lenient(d.doc) r;
SELECT item FROM item_rows('<po><items><item partNum="z">a &lt; b</item></items></po>');

.print -- namespaces bound by the declaration
CREATE VIRTUAL TABLE temp.ns_rows USING tessel_rows('/p:po/p:item', 'xmlns:p=urn:o',
  'xmlns=urn:d', 'qty INTEGER PATH qty');
SELECT * FROM ns_rows('<a:po xmlns:a="urn:o"><a:item><qty xmlns="urn:d">4</qty></a:item></a:po>');

.print -- a file and a folder; a malformed file ends the scan, naming it; LIMIT stops early
SELECT writefile('xml/1.xml', '<po><items><item partNum="F1"/><item partNum="F2"/></items></po>') > 0;
SELECT writefile('xml/2.xml', '<po><items><item partNum="F3"/></items></po>') > 0;
SELECT sku FROM item_rows WHERE file = 'xml/2.xml';
SELECT sku FROM item_rows WHERE folder = 'xml' AND pattern = '*.xml';
SELECT writefile('xml/3.xml', '<po><items><item partNum="F4"/></items>') > 0;
SELECT sku FROM item_rows WHERE folder = 'xml' AND pattern = '*.xml';
SELECT sku FROM item_rows WHERE folder = 'xml' AND pattern = '*.xml' LIMIT 1;
SELECT sku FROM item_rows WHERE file = '/etc/hostname';

.print -- a table of the database: a view of it cannot read server files
CREATE VIRTUAL TABLE file_rows USING tessel_rows('/po/items/item', 'sku TEXT PATH @partNum');
CREATE VIEW v AS SELECT sku FROM file_rows WHERE file = 'xml/2.xml';
SELECT * FROM v;
SELECT * FROM file_rows('<po><items><item partNum="direct"/></items></po>');

.print -- every kind gives, row by row, what the table extract routine gives at the same path
CREATE TABLE kinds(doc TEXT);
INSERT INTO kinds VALUES ('<r>
  <i a="x &amp; y"><c> pad </c><v>a &amp; b</v><d>2024-03-05</d><t>09:08:07</t><s>2024-03-05 09:08:07.25</s><x>1.25</x><n>42</n></i>
  <i a="z"><c>x</c><v></v><d>1999-12-31</d><t>23:59:59</t><s>1999-12-31-23.59.59.000001</s><x>-2e3</x><n>-7</n></i></r>');
CREATE VIRTUAL TABLE temp.kind_rows USING tessel_rows('/r/i', 'c CHAR PATH c', 'v TEXT PATH v',
  'd DATE PATH d', 't TIME PATH t', 's TIMESTAMP PATH s', 'x DOUBLE PATH x', 'f FLOAT PATH x',
  'n INTEGER PATH n', 'm SMALLINT PATH n', 'a TEXT PATH @a');
SELECT (SELECT group_concat(c, '|') FROM kind_rows(kinds.doc)) = (SELECT group_concat(value, '|') FROM qapExtractCharsFromVarchar(doc, '/r/i/c')),
       (SELECT group_concat(d, '|') FROM kind_rows(kinds.doc)) = (SELECT group_concat(value, '|') FROM qapExtractDatesFromVarchar(doc, '/r/i/d')),
       (SELECT group_concat(t, '|') FROM kind_rows(kinds.doc)) = (SELECT group_concat(value, '|') FROM qapExtractTimesFromVarchar(doc, '/r/i/t')),
       (SELECT group_concat(s, '|') FROM kind_rows(kinds.doc)) = (SELECT group_concat(value, '|') FROM qapExtractTimestampsFromVarchar(doc, '/r/i/s')),
       (SELECT group_concat(x, '|') FROM kind_rows(kinds.doc)) = (SELECT group_concat(value, '|') FROM qapExtractDoublesFromVarchar(doc, '/r/i/x')),
       (SELECT group_concat(f, '|') FROM kind_rows(kinds.doc)) = (SELECT group_concat(value, '|') FROM qapExtractRealsFromVarchar(doc, '/r/i/x')),
       (SELECT group_concat(n, '|') FROM kind_rows(kinds.doc)) = (SELECT group_concat(value, '|') FROM qapExtractIntegersFromVarchar(doc, '/r/i/n')),
       (SELECT group_concat(m, '|') FROM kind_rows(kinds.doc)) = (SELECT group_concat(value, '|') FROM qapExtractSmallintsFromVarchar(doc, '/r/i/n'))
  FROM kinds;
.print -- values as the document means them: an attribute unescaped (the routines escape it), an
.print -- empty element is empty text (the routines give NULL)
SELECT group_concat(quote(a), '|'), group_concat(quote(v), '|') FROM kinds, kind_rows(kinds.doc);
SELECT group_concat(quote(value), '|') FROM kinds, qapExtractVarcharsFromVarchar(kinds.doc, '/r/i/@a');
SELECT group_concat(quote(value), '|') FROM kinds, qapExtractVarcharsFromVarchar(kinds.doc, '/r/i/v');
