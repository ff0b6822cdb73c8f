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
-- The trace as it stood after each statement.
CREATE TABLE traces(seq INTEGER PRIMARY KEY, what TEXT, t TEXT);

-- Tracing on for this instance ("sqltest", control file in TARNQAPPATH = trace/).
SELECT 'tracing on', writefile('trace/qapsqltest.ctl', 'trace/sql.trc') > 0;
.parameter init
.parameter set @path '/po/n'

SELECT sum(qapExtractIntegerFromVarchar(doc, '/po/n')) FROM many WHERE id = 1;
INSERT INTO traces(what, t) SELECT 'VARCHAR, one row', CAST(readfile('trace/sql.trc') AS TEXT);
SELECT sum(qapExtractIntegerFromVarchar(doc, '/po/n')) FROM many;
INSERT INTO traces(what, t) SELECT 'VARCHAR, 200 rows, constant path', CAST(readfile('trace/sql.trc') AS TEXT);
SELECT sum(qapExtractIntegerFromVarchar(doc, @path)) FROM many;
INSERT INTO traces(what, t) SELECT 'VARCHAR, 200 rows, bound path', CAST(readfile('trace/sql.trc') AS TEXT);
SELECT sum(qapExtractIntegerFromVarchar(doc, '/po/n') - qapExtractIntegerFromVarchar(doc, '/po/n'))
  FROM many;
INSERT INTO traces(what, t) SELECT 'VARCHAR, 200 rows, two call sites', CAST(readfile('trace/sql.trc') AS TEXT);
SELECT sum(qapExtractIntegerFromVarchar(doc, path)) FROM many;
INSERT INTO traces(what, t) SELECT 'VARCHAR, 200 rows, path from a column', CAST(readfile('trace/sql.trc') AS TEXT);
-- The fifth row fails: the statement ends, and its context still gets its final call.
SELECT id, qapExtractIntegerFromVarchar(doc, '/po/n') FROM bad ORDER BY id;
INSERT INTO traces(what, t) SELECT 'VARCHAR, error on the fifth row', CAST(readfile('trace/sql.trc') AS TEXT);
SELECT sum(qapExtractDoubleFromClob(doc, '/po/n')) FROM many WHERE id = 1;
INSERT INTO traces(what, t) SELECT 'CLOB, one row', CAST(readfile('trace/sql.trc') AS TEXT);
SELECT sum(qapExtractDoubleFromClob(doc, '/po/n')) FROM many;
INSERT INTO traces(what, t) SELECT 'CLOB, 200 rows, constant path', CAST(readfile('trace/sql.trc') AS TEXT);

.print -- contexts used (first calls and final calls, per one-row statement of the family)
WITH total AS (
  SELECT seq, what, (length(t) - length(replace(t, 'first call', ''))) / 10 AS f,
         (length(t) - length(replace(t, 'final call', ''))) / 10 AS g FROM traces),
step AS (
  SELECT seq, what, f - lag(f, 1, 0) OVER (ORDER BY seq) AS f,
         g - lag(g, 1, 0) OVER (ORDER BY seq) AS g FROM total)
SELECT c.what, c.f / b.f, c.g / b.g, c.f % b.f + c.g % b.g
  FROM step c JOIN step b ON b.what = substr(c.what, 1, instr(c.what, ',')) || ' one row' AND b.f > 0
 ORDER BY c.seq;
