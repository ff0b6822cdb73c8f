-- A routine keeps one context (one scratchpad, first call to final call) per call site and
-- statement when an argument is constant, and makes every call its own first and final call
-- when none is. Counted in the trace: every context writes one "first call" and one "final
-- call" line per routine frame it runs through, so a statement's counts divided by those of a
-- one-row statement give the number of contexts it used.
CREATE TABLE many(id INTEGER PRIMARY KEY, doc VARCHAR, path VARCHAR);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 200)
INSERT INTO many SELECT i, '<po><n>' || i || '</n></po>', '/po/n' FROM n;
CREATE TABLE bad(id INTEGER PRIMARY KEY, doc VARCHAR);
INSERT INTO bad SELECT id, doc FROM many WHERE id <= 10;
UPDATE bad SET doc = '<po><n>1</n><n>2</n></po>' WHERE id = 5;
CREATE TABLE counts(seq INTEGER PRIMARY KEY, what TEXT, firsts INTEGER, finals INTEGER);

-- Tracing on for this instance ("sqltest", control file in TARNQAPPATH = trace/).
SELECT 'tracing on', writefile('trace/qapsqltest.ctl', 'trace/sql.trc') > 0;
.parameter init
.parameter set @path '/po/n'

SELECT sum(qapExtractIntegerFromVarchar(doc, '/po/n')) FROM many WHERE id = 1;
INSERT INTO counts(what, firsts, finals)
  SELECT 'VARCHAR, one row', (length(t) - length(replace(t, 'first call', ''))) / 10,
         (length(t) - length(replace(t, 'final call', ''))) / 10
    FROM (SELECT CAST(readfile('trace/sql.trc') AS TEXT) AS t);
.once /dev/null
SELECT writefile('trace/sql.trc', '');

SELECT sum(qapExtractIntegerFromVarchar(doc, '/po/n')) FROM many;
INSERT INTO counts(what, firsts, finals)
  SELECT 'VARCHAR, 200 rows, constant path', (length(t) - length(replace(t, 'first call', ''))) / 10,
         (length(t) - length(replace(t, 'final call', ''))) / 10
    FROM (SELECT CAST(readfile('trace/sql.trc') AS TEXT) AS t);
.once /dev/null
SELECT writefile('trace/sql.trc', '');

SELECT sum(qapExtractIntegerFromVarchar(doc, @path)) FROM many;
INSERT INTO counts(what, firsts, finals)
  SELECT 'VARCHAR, 200 rows, bound path', (length(t) - length(replace(t, 'first call', ''))) / 10,
         (length(t) - length(replace(t, 'final call', ''))) / 10
    FROM (SELECT CAST(readfile('trace/sql.trc') AS TEXT) AS t);
.once /dev/null
SELECT writefile('trace/sql.trc', '');

SELECT count(qapExtractIntegerFromVarchar(doc, '/po/missing')) FROM many;
INSERT INTO counts(what, firsts, finals)
  SELECT 'VARCHAR, 200 rows, every call a warning', (length(t) - length(replace(t, 'first call', ''))) / 10,
         (length(t) - length(replace(t, 'final call', ''))) / 10
    FROM (SELECT CAST(readfile('trace/sql.trc') AS TEXT) AS t);
.once /dev/null
SELECT writefile('trace/sql.trc', '');

SELECT sum(qapExtractIntegerFromVarchar(doc, '/po/n') - qapExtractIntegerFromVarchar(doc, '/po/n'))
  FROM many;
INSERT INTO counts(what, firsts, finals)
  SELECT 'VARCHAR, 200 rows, two call sites', (length(t) - length(replace(t, 'first call', ''))) / 10,
         (length(t) - length(replace(t, 'final call', ''))) / 10
    FROM (SELECT CAST(readfile('trace/sql.trc') AS TEXT) AS t);
.once /dev/null
SELECT writefile('trace/sql.trc', '');

SELECT sum(qapExtractIntegerFromVarchar(doc, path)) FROM many;
INSERT INTO counts(what, firsts, finals)
  SELECT 'VARCHAR, 200 rows, path from a column', (length(t) - length(replace(t, 'first call', ''))) / 10,
         (length(t) - length(replace(t, 'final call', ''))) / 10
    FROM (SELECT CAST(readfile('trace/sql.trc') AS TEXT) AS t);
.once /dev/null
SELECT writefile('trace/sql.trc', '');

-- The fifth row fails: the statement ends, and its context still gets its final call.
SELECT id, qapExtractIntegerFromVarchar(doc, '/po/n') FROM bad ORDER BY id;
INSERT INTO counts(what, firsts, finals)
  SELECT 'VARCHAR, error on the fifth row', (length(t) - length(replace(t, 'first call', ''))) / 10,
         (length(t) - length(replace(t, 'final call', ''))) / 10
    FROM (SELECT CAST(readfile('trace/sql.trc') AS TEXT) AS t);
.once /dev/null
SELECT writefile('trace/sql.trc', '');

SELECT sum(qapExtractDoubleFromClob(doc, '/po/n')) FROM many WHERE id = 1;
INSERT INTO counts(what, firsts, finals)
  SELECT 'CLOB, one row', (length(t) - length(replace(t, 'first call', ''))) / 10,
         (length(t) - length(replace(t, 'final call', ''))) / 10
    FROM (SELECT CAST(readfile('trace/sql.trc') AS TEXT) AS t);
.once /dev/null
SELECT writefile('trace/sql.trc', '');

SELECT sum(qapExtractDoubleFromClob(doc, '/po/n')) FROM many;
INSERT INTO counts(what, firsts, finals)
  SELECT 'CLOB, 200 rows, constant path', (length(t) - length(replace(t, 'first call', ''))) / 10,
         (length(t) - length(replace(t, 'final call', ''))) / 10
    FROM (SELECT CAST(readfile('trace/sql.trc') AS TEXT) AS t);
.once /dev/null
SELECT writefile('trace/sql.trc', '');

SELECT sum(qapExtractDoubleFromClob(doc, path)) FROM many;
INSERT INTO counts(what, firsts, finals)
  SELECT 'CLOB, 200 rows, path from a column', (length(t) - length(replace(t, 'first call', ''))) / 10,
         (length(t) - length(replace(t, 'final call', ''))) / 10
    FROM (SELECT CAST(readfile('trace/sql.trc') AS TEXT) AS t);

.print -- contexts used (first calls and final calls, per one-row statement of the family)
SELECT c.what, c.firsts / b.firsts, c.finals / b.finals, c.firsts % b.firsts + c.finals % b.finals
  FROM counts c JOIN counts b
    ON b.what = substr(c.what, 1, instr(c.what, ',')) || ' one row' AND b.firsts > 0
 ORDER BY c.seq;
