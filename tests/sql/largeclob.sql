-- CLOB documents longer than the file threshold (131072 bytes when TARNQAP_MIN_TMPFILE_SIZE is
-- unset) are spilled to a temporary file in TARNQAPTEMP for the parse and removed after the
-- call (the runner checks that TARNQAPTEMP is empty at the end); large CLOB results come back
-- whole. The trace shows that temporary files were named. (The threshold itself: the unit tests.)
CREATE TABLE big(id INTEGER PRIMARY KEY, doc CLOB);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 5)
INSERT INTO big SELECT i, '<doc>' || replace(hex(zeroblob(20000)), '00', '<pad>0123456789</pad>')
                          || '<last>' || i || '</last></doc>' FROM n;
SELECT 'document sizes', min(length(doc)), max(length(doc)) FROM big;

SELECT 'tracing on', writefile('trace/qapsqltest.ctl', 'trace/sql.trc') > 0;

.print -- a large CLOB document, one row and many rows
SELECT qapExtractIntegerFromClob(doc, '/doc/last') FROM big WHERE id = 3;
SELECT sum(qapExtractDoubleFromClob(doc, '/doc/last')), count(*) FROM big;
SELECT qapExtractVarcharFromClob2(doc, '<!ENTITY unused "x">', '/doc/last') FROM big WHERE id = 5;
.print -- a large CLOB result, from a CLOB and from a VARCHAR document
SELECT length(r), r = doc FROM (SELECT qapExtractClobFromClob(doc, '/doc') AS r, doc FROM big WHERE id = 1);
SELECT 'temporary files named', (length(t) - length(replace(t, 'qap_tempFilename:', ''))) / 17 > 0
  FROM (SELECT CAST(readfile('trace/sql.trc') AS TEXT) AS t);

.print -- an error in a spilled document removes the file too
SELECT qapExtractIntegerFromClob(substr(doc, 1, 200000), '/doc/last') FROM big WHERE id = 1;
SELECT qapExtractIntegerFromClob(doc, '/doc/pad') FROM big WHERE id = 1;
