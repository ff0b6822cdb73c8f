-- A routine's error state becomes an SQL error "SQLSTATE <state>: <message text>" that ends
-- the statement (the rows fetched before it stay printed: the context test).
CREATE TABLE docs(id INTEGER PRIMARY KEY, doc VARCHAR);
INSERT INTO docs VALUES
  (1, '<po><item><price>1.5</price></item></po>'),
  (2, '<po><item><price>2.5</price></item><item><price>3</price></item></po>'),
  (3, '<po><item><price>4</price></item></po>');

.print -- 38X08: the path matches twice
SELECT qapExtractDoubleFromVarchar(doc, '/po/item/price') FROM docs WHERE id = 2;

.print -- 38X09: a malformed path
SELECT qapExtractVarcharFromVarchar(doc, 'po/item') FROM docs WHERE id = 1;

.print -- 38X13: a document that is not well-formed
SELECT qapExtractVarcharFromVarchar('<po><item></po>', '/po/item');

.print -- other states: a value too long for CHAR, a malformed TIMESTAMP, a missing file
SELECT qapExtractCharFromVarchar('<a>' || printf('%.254c', 'x') || '</a>', '/a');
SELECT qapExtractTimestampFromVarchar('<a>2024/03/15 10:00:00</a>', '/a');
SELECT qapExtractVarchar('missing.xml', '/a');

.print -- SQL-level checks: the number of arguments ...
SELECT qapExtractVarcharFromVarchar('<a/>');
SELECT qapExtractVarcharFromVarchar2('<a/>', '/a');
.print -- ... and routines that read server files are for direct use only, not in views
CREATE VIEW v AS SELECT qapExtractVarchar('po.xml', '/po/item[@n="1"]/price') AS price;
SELECT * FROM v;
CREATE VIEW w AS SELECT qapExtractDoubleFromVarchar(doc, '/po/item/price') AS price FROM docs
  WHERE id <> 2;
SELECT * FROM w;
