-- A call site keeps one statement from its first call to the end of the query: the final call
-- comes when the query ends, stops early, fails or is cancelled. Counted in the trace: the
-- control file in TARNQAPPATH ($PGDATA/tessel) names the trace file.
\getenv files TESSEL_PG_FILES
\set trace :files/tessel.trc
SELECT set_config('tessel.write_access', current_setting('data_directory') || '/tessel', false)
       IS NOT NULL AS writable,
       qapContent_varchar2file(:'trace', current_setting('data_directory') || '/tessel/qaptessel.ctl')
       IS NOT NULL AS tracing;
-- a process that found tracing off (the write's own first call) sees the control file within
-- a second
SELECT pg_sleep(1.1) IS NOT NULL AS waited;
CREATE TABLE seen(trace text, first bigint, final bigint);
INSERT INTO seen VALUES (:'trace', 0, 0);
-- first and final calls in the trace since the last look
CREATE FUNCTION calls(OUT first bigint, OUT final bigint) LANGUAGE plpgsql AS $$
DECLARE
  s seen;
BEGIN
  SELECT * INTO s FROM seen;
  SELECT count(*) FILTER (WHERE l LIKE '%first call%'), count(*) FILTER (WHERE l LIKE '%final call%')
    INTO first, final FROM regexp_split_to_table(pg_read_file(s.trace), E'\n') l;
  UPDATE seen SET first = calls.first, final = calls.final;
  first := first - s.first;
  final := final - s.final;
END $$;
CREATE TABLE many AS SELECT i, '<po id="' || i || '"><n>' || i || '</n><n>0</n></po>' AS doc
  FROM generate_series(1, 1000) i;
SELECT sum(qapExtractIntegerFromVarchar(doc, '/po/@id')) FROM many;
SELECT * FROM calls();
-- a table in a LATERAL join and in the select list, stopped early
SELECT i, v FROM many, LATERAL qapExtractIntegersFromVarchar(doc, '/po/n') v ORDER BY i LIMIT 3;
SELECT * FROM calls();
SELECT qapExtractIntegersFromClob(doc, '/po/n') FROM many LIMIT 3;
SELECT * FROM calls();
-- a document malformed after its first values: in the select list the rows come one by one,
-- so a LIMIT stops the routine before the fault; a whole scan ends with the error
SELECT qapExtractIntegersFromVarchar('<a><b>1</b><b>2</b><b>', '/a/b') LIMIT 1;
SELECT qapExtractIntegersFromVarchar('<a><b>1</b><b>2</b><b>', '/a/b');
SELECT * FROM calls();
-- an error on the fifth row
SELECT qapExtractIntegerFromVarchar(CASE WHEN i = 5 THEN '<po>' ELSE doc END, '/po/@id')
  FROM many ORDER BY i;
SELECT * FROM calls();
-- a cancel
SET statement_timeout = '200ms';
SELECT count(*) FROM many
 WHERE qapExtractIntegerFromVarchar(doc, '/po/@id') > 0 AND pg_sleep(0.01) IS NOT NULL;
RESET statement_timeout;
SELECT * FROM calls();
-- a large CLOB goes through a temporary file in TARNQAPTEMP ($PGDATA/tessel/tmp), which no
-- call leaves behind
SELECT v FROM (VALUES ('<a>' || repeat('<b>1</b>', 20000) || '</a>')) d(doc),
       LATERAL qapExtractIntegersFromClob(doc, '/a/b') v LIMIT 1;
SELECT count(*) AS leftovers FROM pg_ls_dir('tessel/tmp');
SELECT * FROM calls();
