-- The database code page follows the database encoding; one Tessel cannot serve is refused.
\set VERBOSITY verbose
CREATE DATABASE tessel_latin1 ENCODING 'LATIN1' LC_COLLATE 'C' LC_CTYPE 'C' TEMPLATE template0;
CREATE DATABASE tessel_ascii ENCODING 'SQL_ASCII' LC_COLLATE 'C' LC_CTYPE 'C' TEMPLATE template0;
\c tessel_latin1
SET client_encoding = 'UTF8';
CREATE EXTENSION tessel;
SELECT v, length(v) AS chars, octet_length(v) AS bytes
  FROM qapExtractVarcharsFromClob('<a><b>Zoë</b><b>Ångström</b></a>', '/a/b') v;
SELECT qapExtractVarcharFromVarchar('<?xml version="1.0" encoding="UTF-8"?><a>é</a>', '/a') AS declared,
       qapExtractDoubleFromVarchar('<a b="ü">1.5</a>', '/a') AS double;
-- a character LATIN1 lacks fails; no substitute stands in for it
SELECT qapExtractVarcharFromVarchar('<a>&#x20AC;</a>', '/a');
\c tessel_ascii
CREATE EXTENSION tessel;
SELECT qapExtractVarcharFromVarchar('<a>1</a>', '/a');
