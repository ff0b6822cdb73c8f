-- A routine's error state is an ERROR with its SQLSTATE and message; a warning is reported
-- once per call site and query.
\set VERBOSITY verbose
SET datestyle = ISO;
SELECT qapExtractDoubleFromVarchar('<a><b>1</b><b>2</b></a>', '/a/b');
SELECT qapExtractVarcharFromVarchar('<a/>', 'a/b');
SELECT qapExtractIntegerFromClob('<a><b></a>', '/a');
SELECT qapExtractVarcharFromVarchar(NULL, '/a');
SELECT * FROM qapExtractIntegersFromVarchar('<a><b>', '/a/b');
-- two call sites over five rows: one warning each
SELECT qapExtractIntegerFromVarchar('<a/>', '/a/b') AS x, qapExtractVarcharFromClob('<a/>', '/a/c') AS y
  FROM generate_series(1, 5);
-- a DATE, TIME or TIMESTAMP text that is none gives NULL, with one warning per call site
SELECT qapExtractDateFromVarchar(d, '/a') AS date, qapExtractTimeFromVarchar(t, '/a') AS time
  FROM (VALUES ('<a>2024-02-30</a>', '<a>25:00:00</a>'), ('<a>2024-02-29</a>', '<a>9:5</a>'),
               ('<a>hello</a>', '<a>x</a>')) v(d, t);
-- external entities are not read unless the superuser allows them
SELECT qapExtractVarcharFromVarchar('<!DOCTYPE a [<!ENTITY x SYSTEM "/etc/hostname">]><a>&x;</a>', '/a');
SELECT qapExtractVarcharFromVarchar2('<!DOCTYPE a SYSTEM "a.dtd"><a/>', '<!ENTITY % p PUBLIC "-//x" "http://x/"> %p;', '/a');
SELECT qapExtractVarcharFromVarchar('<!DOCTYPE a [<!ENTITY x "inline">]><a>&x;</a>', '/a');
-- a function declared otherwise than its routine
CREATE FUNCTION qapExtractInteger(int4, text) RETURNS int4
  AS '$libdir/tessel_pg', 'tessel_scalar' LANGUAGE C;
SELECT qapExtractInteger(1, '/a');
-- a function renamed after its calls is checked again under its new name
CREATE SCHEMA renamed;
CREATE FUNCTION renamed.qapExtractIntegerFromVarchar(text, text) RETURNS int4
  AS '$libdir/tessel_pg', 'tessel_scalar' LANGUAGE C;
SELECT renamed.qapExtractIntegerFromVarchar('<a n="7"/>', '/a/@n');
ALTER FUNCTION renamed.qapExtractIntegerFromVarchar RENAME TO qapExtractDoubleFromVarchar;
SELECT renamed.qapExtractDoubleFromVarchar('<a n="7"/>', '/a/@n');
DROP SCHEMA renamed CASCADE;
