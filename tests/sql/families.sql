-- The families beyond the scalar extracts, from SQL: table routines in joins (one cursor per
-- scan, opened per outer row, closed and finished also when a LIMIT stops the statement),
-- update, validate, storage and sequence numbers. The trace counts contexts: every context
-- writes one "first call" and one "final call" line.
CREATE TABLE docs(id INTEGER PRIMARY KEY, doc VARCHAR);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 50)
INSERT INTO docs SELECT i, '<o><i q="' || i || '"/><i q="' || (i * 10) || '"/></o>' FROM n;
SELECT 'tracing on', writefile('trace/qapsqltest.ctl', 'trace/sql.trc') > 0;

.print -- every value of every document, typed
SELECT count(*), sum(x.value) FROM docs d, qapExtractIntegersFromVarchar(d.doc, '/o/i/@q') x;
SELECT d.id, x.rowid, x.value FROM docs d, qapExtractDoublesFromClob(d.doc, '/o/i/@q') x
 WHERE d.id IN (2, 3);
.print -- stopped early: the cursor still closes and finishes
SELECT d.id, x.value FROM docs d, qapExtractVarcharsFromVarchar(d.doc, '/o/i/@q') x LIMIT 3;
SELECT 'contexts opened and finished',
       (length(t) - length(replace(t, 'first call', ''))) / 10,
       (length(t) - length(replace(t, 'final call', ''))) / 10
  FROM (SELECT CAST(readfile('trace/sql.trc') AS TEXT) AS t);
.print -- an error in one document stops the statement after the rows before it; a LIMIT
.print -- that stops the scan first never reads it
SELECT x.value FROM qapExtractIntegersFromVarchar('<o><i>1</i><i>2</i>', '/o/i') x;
SELECT x.value FROM qapExtractIntegersFromVarchar('<o><i>1</i><i>2</i><i>', '/o/i') x LIMIT 1;

.print -- update, validate, storage, sequence numbers
SELECT qapUpdateXMLVarchar(doc, '/o/i/@q', 'n') FROM docs WHERE id = 1;
SELECT qapValidateVarchar2('<!DOCTYPE o SYSTEM "o.dtd">' || doc, '<!ELEMENT o (i*)>
<!ELEMENT i EMPTY><!ATTLIST i q CDATA #REQUIRED>', 'o') FROM docs WHERE id = 1;
SELECT qapContent_varchar2file(doc, 'o.xml'), qapVarChar('o.xml') FROM docs WHERE id = 1;
SELECT qapSeqno(0), id FROM docs WHERE id <= 3;

.print -- a connection's time limit stops a long call with 57014 (an open that parses the
.print -- whole document to find no value); 0 lifts it
SELECT tessel_time_limit(1);
SELECT count(*) FROM qapExtractVarcharsFromVarchar(
  '<a>' || replace(hex(zeroblob(500000)), '00', '<b>x</b>') || '</a>', '/a/c');
SELECT tessel_time_limit(0);
SELECT count(*) FROM qapExtractVarcharsFromVarchar(
  '<a>' || replace(hex(zeroblob(500000)), '00', '<b>x</b>') || '</a>', '/a/b');
.print -- a connection's parse memory budget; 0 goes back to the default
SELECT tessel_max_parse_memory(1000000);
SELECT qapExtractVarcharFromVarchar('<a b="' || hex(zeroblob(1000000)) || '"/>', '/a/c');
SELECT tessel_max_parse_memory(0);
SELECT qapExtractVarcharFromVarchar('<a b="' || hex(zeroblob(1000000)) || '"/>', '/a/c') IS NULL;
