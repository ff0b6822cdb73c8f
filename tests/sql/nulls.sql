-- NULL results come back as SQL NULL; a NULL argument reaches the routine as an empty value
-- with null indicator -1, and the extract routines read the value, not the indicator.
CREATE TABLE docs(id INTEGER PRIMARY KEY, doc VARCHAR);
INSERT INTO docs VALUES
  (1, '<po><price>3.5</price><note></note></po>'),
  (2, NULL),
  (3, '<po><price>4.25</price></po>');

.print -- a path that matches nothing: NULL without an error, from every source
SELECT quote(qapExtractVarcharFromVarchar(doc, '/po/missing')),
       quote(qapExtractDoubleFromClob(doc, '/po/missing')),
       quote(qapExtractClobFromVarchar(doc, '/po/missing'))
  FROM docs WHERE id = 1;

.print -- an empty element: NULL as text and number; as a tagged fragment it is the element
SELECT quote(qapExtractVarcharFromVarchar(doc, '/po/note')),
       quote(qapExtractIntegerFromClob(doc, '/po/note')),
       quote(qapExtractClobFromClob(doc, '/po/note'))
  FROM docs WHERE id = 1;

.print -- NULL arguments: an empty document, CLOB, DTD or path
SELECT qapExtractVarcharFromVarchar(NULL, '/po/price');
SELECT qapExtractVarcharFromClob(NULL, '/po/price');
SELECT qapExtractVarcharFromVarchar(doc, NULL) FROM docs WHERE id = 1;
SELECT qapExtractVarcharFromVarchar2(doc, NULL, '/po/price') FROM docs WHERE id = 1;
SELECT qapExtractVarchar(NULL, '/po/price');

.print -- so a column with NULL documents stops the statement at the NULL row ...
SELECT id, qapExtractDoubleFromVarchar(doc, '/po/price') FROM docs ORDER BY id;
.print -- ... unless the NULL rows are left out of the call
SELECT id, CASE WHEN doc IS NOT NULL THEN qapExtractDoubleFromVarchar(doc, '/po/price') END
  FROM docs ORDER BY id;
SELECT sum(qapExtractDoubleFromClob(doc, '/po/price')) FROM docs WHERE doc IS NOT NULL;
