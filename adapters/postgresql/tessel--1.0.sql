-- Tessel's routines as SQL functions, as version 1.0 of the extension installed them. Kept
-- unchanged: later versions are reached from it by their update scripts.
\echo Use "CREATE EXTENSION tessel" to load this file. \quit

CREATE FUNCTION qapExtractVarchar(text, text)
    RETURNS text
    LANGUAGE C VOLATILE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapExtractVarchar(text, text) IS 'qapExtractVarchar (qapExtractScalar): returns VARCHAR(4000); document: a server file';
REVOKE ALL ON FUNCTION qapExtractVarchar(text, text) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION qapExtractVarchar(text, text) TO pg_read_server_files;

CREATE FUNCTION qapExtractVarchar2(text, text, text)
    RETURNS text
    LANGUAGE C VOLATILE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapExtractVarchar2(text, text, text) IS 'qapExtractVarchar2 (qapExtractScalar): returns VARCHAR(4000); document: a server file';
REVOKE ALL ON FUNCTION qapExtractVarchar2(text, text, text) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION qapExtractVarchar2(text, text, text) TO pg_read_server_files;

CREATE FUNCTION qapExtractChar(text, text)
    RETURNS text
    LANGUAGE C VOLATILE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapExtractChar(text, text) IS 'qapExtractChar (qapExtractScalar): returns CHAR(254); document: a server file';
REVOKE ALL ON FUNCTION qapExtractChar(text, text) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION qapExtractChar(text, text) TO pg_read_server_files;

CREATE FUNCTION qapExtractClob(text, text)
    RETURNS text
    LANGUAGE C VOLATILE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapExtractClob(text, text) IS 'qapExtractClob (qapExtractScalar): returns CLOB; document: a server file';
REVOKE ALL ON FUNCTION qapExtractClob(text, text) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION qapExtractClob(text, text) TO pg_read_server_files;

CREATE FUNCTION qapExtractClob2(text, text, text)
    RETURNS text
    LANGUAGE C VOLATILE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapExtractClob2(text, text, text) IS 'qapExtractClob2 (qapExtractScalar): returns CLOB; document: a server file';
REVOKE ALL ON FUNCTION qapExtractClob2(text, text, text) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION qapExtractClob2(text, text, text) TO pg_read_server_files;

CREATE FUNCTION qapExtractDate(text, text)
    RETURNS date
    LANGUAGE C VOLATILE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapExtractDate(text, text) IS 'qapExtractDate (qapExtractScalar): returns DATE; document: a server file';
REVOKE ALL ON FUNCTION qapExtractDate(text, text) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION qapExtractDate(text, text) TO pg_read_server_files;

CREATE FUNCTION qapExtractTime(text, text)
    RETURNS time
    LANGUAGE C VOLATILE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapExtractTime(text, text) IS 'qapExtractTime (qapExtractScalar): returns TIME; document: a server file';
REVOKE ALL ON FUNCTION qapExtractTime(text, text) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION qapExtractTime(text, text) TO pg_read_server_files;

CREATE FUNCTION qapExtractTimestamp(text, text)
    RETURNS timestamp
    LANGUAGE C VOLATILE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapExtractTimestamp(text, text) IS 'qapExtractTimestamp (qapExtractScalar): returns TIMESTAMP; document: a server file';
REVOKE ALL ON FUNCTION qapExtractTimestamp(text, text) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION qapExtractTimestamp(text, text) TO pg_read_server_files;

CREATE FUNCTION qapExtractDouble(text, text)
    RETURNS float8
    LANGUAGE C VOLATILE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapExtractDouble(text, text) IS 'qapExtractDouble (qapExtractScalar): returns DOUBLE; document: a server file';
REVOKE ALL ON FUNCTION qapExtractDouble(text, text) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION qapExtractDouble(text, text) TO pg_read_server_files;

CREATE FUNCTION qapExtractDouble2(text, text, text)
    RETURNS float8
    LANGUAGE C VOLATILE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapExtractDouble2(text, text, text) IS 'qapExtractDouble2 (qapExtractScalar): returns DOUBLE; document: a server file';
REVOKE ALL ON FUNCTION qapExtractDouble2(text, text, text) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION qapExtractDouble2(text, text, text) TO pg_read_server_files;

CREATE FUNCTION qapExtractReal(text, text)
    RETURNS float4
    LANGUAGE C VOLATILE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapExtractReal(text, text) IS 'qapExtractReal (qapExtractScalar): returns REAL; document: a server file';
REVOKE ALL ON FUNCTION qapExtractReal(text, text) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION qapExtractReal(text, text) TO pg_read_server_files;

CREATE FUNCTION qapExtractReal2(text, text, text)
    RETURNS float4
    LANGUAGE C VOLATILE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapExtractReal2(text, text, text) IS 'qapExtractReal2 (qapExtractScalar): returns REAL; document: a server file';
REVOKE ALL ON FUNCTION qapExtractReal2(text, text, text) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION qapExtractReal2(text, text, text) TO pg_read_server_files;

CREATE FUNCTION qapExtractInteger(text, text)
    RETURNS int4
    LANGUAGE C VOLATILE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapExtractInteger(text, text) IS 'qapExtractInteger (qapExtractScalar): returns INTEGER; document: a server file';
REVOKE ALL ON FUNCTION qapExtractInteger(text, text) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION qapExtractInteger(text, text) TO pg_read_server_files;

CREATE FUNCTION qapExtractSmallint(text, text)
    RETURNS int2
    LANGUAGE C VOLATILE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapExtractSmallint(text, text) IS 'qapExtractSmallint (qapExtractScalar): returns SMALLINT; document: a server file';
REVOKE ALL ON FUNCTION qapExtractSmallint(text, text) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION qapExtractSmallint(text, text) TO pg_read_server_files;

CREATE FUNCTION qapExtractVarcharFromVarchar(text, text)
    RETURNS text
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapExtractVarcharFromVarchar(text, text) IS 'qapExtractVarcharFromVarchar (qapExtractScalar): returns VARCHAR(4000); document: a VARCHAR document';

CREATE FUNCTION qapExtractVarcharFromVarchar2(text, text, text)
    RETURNS text
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapExtractVarcharFromVarchar2(text, text, text) IS 'qapExtractVarcharFromVarchar2 (qapExtractScalar): returns VARCHAR(4000); document: a VARCHAR document';

CREATE FUNCTION qapExtractCharFromVarchar(text, text)
    RETURNS text
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapExtractCharFromVarchar(text, text) IS 'qapExtractCharFromVarchar (qapExtractScalar): returns CHAR(254); document: a VARCHAR document';

CREATE FUNCTION qapExtractClobFromVarchar(text, text)
    RETURNS text
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapExtractClobFromVarchar(text, text) IS 'qapExtractClobFromVarchar (qapExtractScalar): returns CLOB; document: a VARCHAR document';

CREATE FUNCTION qapExtractClobFromVarchar2(text, text, text)
    RETURNS text
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapExtractClobFromVarchar2(text, text, text) IS 'qapExtractClobFromVarchar2 (qapExtractScalar): returns CLOB; document: a VARCHAR document';

CREATE FUNCTION qapExtractDateFromVarchar(text, text)
    RETURNS date
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapExtractDateFromVarchar(text, text) IS 'qapExtractDateFromVarchar (qapExtractScalar): returns DATE; document: a VARCHAR document';

CREATE FUNCTION qapExtractTimeFromVarchar(text, text)
    RETURNS time
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapExtractTimeFromVarchar(text, text) IS 'qapExtractTimeFromVarchar (qapExtractScalar): returns TIME; document: a VARCHAR document';

CREATE FUNCTION qapExtractTimestampFromVarchar(text, text)
    RETURNS timestamp
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapExtractTimestampFromVarchar(text, text) IS 'qapExtractTimestampFromVarchar (qapExtractScalar): returns TIMESTAMP; document: a VARCHAR document';

CREATE FUNCTION qapExtractDoubleFromVarchar(text, text)
    RETURNS float8
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapExtractDoubleFromVarchar(text, text) IS 'qapExtractDoubleFromVarchar (qapExtractScalar): returns DOUBLE; document: a VARCHAR document';

CREATE FUNCTION qapExtractDoubleFromVarchar2(text, text, text)
    RETURNS float8
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapExtractDoubleFromVarchar2(text, text, text) IS 'qapExtractDoubleFromVarchar2 (qapExtractScalar): returns DOUBLE; document: a VARCHAR document';

CREATE FUNCTION qapExtractRealFromVarchar(text, text)
    RETURNS float4
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapExtractRealFromVarchar(text, text) IS 'qapExtractRealFromVarchar (qapExtractScalar): returns REAL; document: a VARCHAR document';

CREATE FUNCTION qapExtractRealFromVarchar2(text, text, text)
    RETURNS float4
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapExtractRealFromVarchar2(text, text, text) IS 'qapExtractRealFromVarchar2 (qapExtractScalar): returns REAL; document: a VARCHAR document';

CREATE FUNCTION qapExtractIntegerFromVarchar(text, text)
    RETURNS int4
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapExtractIntegerFromVarchar(text, text) IS 'qapExtractIntegerFromVarchar (qapExtractScalar): returns INTEGER; document: a VARCHAR document';

CREATE FUNCTION qapExtractSmallintFromVarchar(text, text)
    RETURNS int2
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapExtractSmallintFromVarchar(text, text) IS 'qapExtractSmallintFromVarchar (qapExtractScalar): returns SMALLINT; document: a VARCHAR document';

CREATE FUNCTION qapExtractVarcharFromClob(text, text)
    RETURNS text
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapExtractVarcharFromClob(text, text) IS 'qapExtractVarcharFromClob (qapExtractScalar): returns VARCHAR(4000); document: a CLOB document';

CREATE FUNCTION qapExtractVarcharFromClob2(text, text, text)
    RETURNS text
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapExtractVarcharFromClob2(text, text, text) IS 'qapExtractVarcharFromClob2 (qapExtractScalar): returns VARCHAR(4000); document: a CLOB document';

CREATE FUNCTION qapExtractCharFromClob(text, text)
    RETURNS text
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapExtractCharFromClob(text, text) IS 'qapExtractCharFromClob (qapExtractScalar): returns CHAR(254); document: a CLOB document';

CREATE FUNCTION qapExtractClobFromClob(text, text)
    RETURNS text
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapExtractClobFromClob(text, text) IS 'qapExtractClobFromClob (qapExtractScalar): returns CLOB; document: a CLOB document';

CREATE FUNCTION qapExtractClobFromClob2(text, text, text)
    RETURNS text
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapExtractClobFromClob2(text, text, text) IS 'qapExtractClobFromClob2 (qapExtractScalar): returns CLOB; document: a CLOB document';

CREATE FUNCTION qapExtractDateFromClob(text, text)
    RETURNS date
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapExtractDateFromClob(text, text) IS 'qapExtractDateFromClob (qapExtractScalar): returns DATE; document: a CLOB document';

CREATE FUNCTION qapExtractTimeFromClob(text, text)
    RETURNS time
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapExtractTimeFromClob(text, text) IS 'qapExtractTimeFromClob (qapExtractScalar): returns TIME; document: a CLOB document';

CREATE FUNCTION qapExtractTimestampFromClob(text, text)
    RETURNS timestamp
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapExtractTimestampFromClob(text, text) IS 'qapExtractTimestampFromClob (qapExtractScalar): returns TIMESTAMP; document: a CLOB document';

CREATE FUNCTION qapExtractDoubleFromClob(text, text)
    RETURNS float8
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapExtractDoubleFromClob(text, text) IS 'qapExtractDoubleFromClob (qapExtractScalar): returns DOUBLE; document: a CLOB document';

CREATE FUNCTION qapExtractDoubleFromClob2(text, text, text)
    RETURNS float8
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapExtractDoubleFromClob2(text, text, text) IS 'qapExtractDoubleFromClob2 (qapExtractScalar): returns DOUBLE; document: a CLOB document';

CREATE FUNCTION qapExtractRealFromClob(text, text)
    RETURNS float4
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapExtractRealFromClob(text, text) IS 'qapExtractRealFromClob (qapExtractScalar): returns REAL; document: a CLOB document';

CREATE FUNCTION qapExtractRealFromClob2(text, text, text)
    RETURNS float4
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapExtractRealFromClob2(text, text, text) IS 'qapExtractRealFromClob2 (qapExtractScalar): returns REAL; document: a CLOB document';

CREATE FUNCTION qapExtractIntegerFromClob(text, text)
    RETURNS int4
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapExtractIntegerFromClob(text, text) IS 'qapExtractIntegerFromClob (qapExtractScalar): returns INTEGER; document: a CLOB document';

CREATE FUNCTION qapExtractSmallintFromClob(text, text)
    RETURNS int2
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapExtractSmallintFromClob(text, text) IS 'qapExtractSmallintFromClob (qapExtractScalar): returns SMALLINT; document: a CLOB document';

CREATE FUNCTION qapExtractVarchars(text, text)
    RETURNS TABLE (value text) ROWS 100
    LANGUAGE C VOLATILE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_table';
COMMENT ON FUNCTION qapExtractVarchars(text, text) IS 'qapExtractVarchars (qapExtractTable): a table of VARCHAR(4000); document: a server file';
REVOKE ALL ON FUNCTION qapExtractVarchars(text, text) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION qapExtractVarchars(text, text) TO pg_read_server_files;

CREATE FUNCTION qapExtractVarchars2(text, text, text)
    RETURNS TABLE (value text) ROWS 100
    LANGUAGE C VOLATILE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_table';
COMMENT ON FUNCTION qapExtractVarchars2(text, text, text) IS 'qapExtractVarchars2 (qapExtractTable): a table of VARCHAR(4000); document: a server file';
REVOKE ALL ON FUNCTION qapExtractVarchars2(text, text, text) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION qapExtractVarchars2(text, text, text) TO pg_read_server_files;

CREATE FUNCTION qapExtractChars(text, text)
    RETURNS TABLE (value text) ROWS 100
    LANGUAGE C VOLATILE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_table';
COMMENT ON FUNCTION qapExtractChars(text, text) IS 'qapExtractChars (qapExtractTable): a table of CHAR(254); document: a server file';
REVOKE ALL ON FUNCTION qapExtractChars(text, text) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION qapExtractChars(text, text) TO pg_read_server_files;

CREATE FUNCTION qapExtractClobs(text, text)
    RETURNS TABLE (value text) ROWS 100
    LANGUAGE C VOLATILE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_table';
COMMENT ON FUNCTION qapExtractClobs(text, text) IS 'qapExtractClobs (qapExtractTable): a table of CLOB; document: a server file';
REVOKE ALL ON FUNCTION qapExtractClobs(text, text) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION qapExtractClobs(text, text) TO pg_read_server_files;

CREATE FUNCTION qapExtractClobs2(text, text, text)
    RETURNS TABLE (value text) ROWS 100
    LANGUAGE C VOLATILE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_table';
COMMENT ON FUNCTION qapExtractClobs2(text, text, text) IS 'qapExtractClobs2 (qapExtractTable): a table of CLOB; document: a server file';
REVOKE ALL ON FUNCTION qapExtractClobs2(text, text, text) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION qapExtractClobs2(text, text, text) TO pg_read_server_files;

CREATE FUNCTION qapExtractDates(text, text)
    RETURNS TABLE (value date) ROWS 100
    LANGUAGE C VOLATILE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_table';
COMMENT ON FUNCTION qapExtractDates(text, text) IS 'qapExtractDates (qapExtractTable): a table of DATE; document: a server file';
REVOKE ALL ON FUNCTION qapExtractDates(text, text) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION qapExtractDates(text, text) TO pg_read_server_files;

CREATE FUNCTION qapExtractTimes(text, text)
    RETURNS TABLE (value time) ROWS 100
    LANGUAGE C VOLATILE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_table';
COMMENT ON FUNCTION qapExtractTimes(text, text) IS 'qapExtractTimes (qapExtractTable): a table of TIME; document: a server file';
REVOKE ALL ON FUNCTION qapExtractTimes(text, text) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION qapExtractTimes(text, text) TO pg_read_server_files;

CREATE FUNCTION qapExtractTimestamps(text, text)
    RETURNS TABLE (value timestamp) ROWS 100
    LANGUAGE C VOLATILE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_table';
COMMENT ON FUNCTION qapExtractTimestamps(text, text) IS 'qapExtractTimestamps (qapExtractTable): a table of TIMESTAMP; document: a server file';
REVOKE ALL ON FUNCTION qapExtractTimestamps(text, text) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION qapExtractTimestamps(text, text) TO pg_read_server_files;

CREATE FUNCTION qapExtractDoubles(text, text)
    RETURNS TABLE (value float8) ROWS 100
    LANGUAGE C VOLATILE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_table';
COMMENT ON FUNCTION qapExtractDoubles(text, text) IS 'qapExtractDoubles (qapExtractTable): a table of DOUBLE; document: a server file';
REVOKE ALL ON FUNCTION qapExtractDoubles(text, text) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION qapExtractDoubles(text, text) TO pg_read_server_files;

CREATE FUNCTION qapExtractDoubles2(text, text, text)
    RETURNS TABLE (value float8) ROWS 100
    LANGUAGE C VOLATILE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_table';
COMMENT ON FUNCTION qapExtractDoubles2(text, text, text) IS 'qapExtractDoubles2 (qapExtractTable): a table of DOUBLE; document: a server file';
REVOKE ALL ON FUNCTION qapExtractDoubles2(text, text, text) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION qapExtractDoubles2(text, text, text) TO pg_read_server_files;

CREATE FUNCTION qapExtractReals(text, text)
    RETURNS TABLE (value float4) ROWS 100
    LANGUAGE C VOLATILE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_table';
COMMENT ON FUNCTION qapExtractReals(text, text) IS 'qapExtractReals (qapExtractTable): a table of REAL; document: a server file';
REVOKE ALL ON FUNCTION qapExtractReals(text, text) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION qapExtractReals(text, text) TO pg_read_server_files;

CREATE FUNCTION qapExtractReals2(text, text, text)
    RETURNS TABLE (value float4) ROWS 100
    LANGUAGE C VOLATILE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_table';
COMMENT ON FUNCTION qapExtractReals2(text, text, text) IS 'qapExtractReals2 (qapExtractTable): a table of REAL; document: a server file';
REVOKE ALL ON FUNCTION qapExtractReals2(text, text, text) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION qapExtractReals2(text, text, text) TO pg_read_server_files;

CREATE FUNCTION qapExtractIntegers(text, text)
    RETURNS TABLE (value int4) ROWS 100
    LANGUAGE C VOLATILE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_table';
COMMENT ON FUNCTION qapExtractIntegers(text, text) IS 'qapExtractIntegers (qapExtractTable): a table of INTEGER; document: a server file';
REVOKE ALL ON FUNCTION qapExtractIntegers(text, text) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION qapExtractIntegers(text, text) TO pg_read_server_files;

CREATE FUNCTION qapExtractSmallints(text, text)
    RETURNS TABLE (value int2) ROWS 100
    LANGUAGE C VOLATILE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_table';
COMMENT ON FUNCTION qapExtractSmallints(text, text) IS 'qapExtractSmallints (qapExtractTable): a table of SMALLINT; document: a server file';
REVOKE ALL ON FUNCTION qapExtractSmallints(text, text) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION qapExtractSmallints(text, text) TO pg_read_server_files;

CREATE FUNCTION qapExtractVarcharsFromVarchar(text, text)
    RETURNS TABLE (value text) ROWS 100
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_table';
COMMENT ON FUNCTION qapExtractVarcharsFromVarchar(text, text) IS 'qapExtractVarcharsFromVarchar (qapExtractTable): a table of VARCHAR(4000); document: a VARCHAR document';

CREATE FUNCTION qapExtractVarcharsFromVarchar2(text, text, text)
    RETURNS TABLE (value text) ROWS 100
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_table';
COMMENT ON FUNCTION qapExtractVarcharsFromVarchar2(text, text, text) IS 'qapExtractVarcharsFromVarchar2 (qapExtractTable): a table of VARCHAR(4000); document: a VARCHAR document';

CREATE FUNCTION qapExtractCharsFromVarchar(text, text)
    RETURNS TABLE (value text) ROWS 100
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_table';
COMMENT ON FUNCTION qapExtractCharsFromVarchar(text, text) IS 'qapExtractCharsFromVarchar (qapExtractTable): a table of CHAR(254); document: a VARCHAR document';

CREATE FUNCTION qapExtractClobsFromVarchar(text, text)
    RETURNS TABLE (value text) ROWS 100
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_table';
COMMENT ON FUNCTION qapExtractClobsFromVarchar(text, text) IS 'qapExtractClobsFromVarchar (qapExtractTable): a table of CLOB; document: a VARCHAR document';

CREATE FUNCTION qapExtractClobsFromVarchar2(text, text, text)
    RETURNS TABLE (value text) ROWS 100
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_table';
COMMENT ON FUNCTION qapExtractClobsFromVarchar2(text, text, text) IS 'qapExtractClobsFromVarchar2 (qapExtractTable): a table of CLOB; document: a VARCHAR document';

CREATE FUNCTION qapExtractDatesFromVarchar(text, text)
    RETURNS TABLE (value date) ROWS 100
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_table';
COMMENT ON FUNCTION qapExtractDatesFromVarchar(text, text) IS 'qapExtractDatesFromVarchar (qapExtractTable): a table of DATE; document: a VARCHAR document';

CREATE FUNCTION qapExtractTimesFromVarchar(text, text)
    RETURNS TABLE (value time) ROWS 100
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_table';
COMMENT ON FUNCTION qapExtractTimesFromVarchar(text, text) IS 'qapExtractTimesFromVarchar (qapExtractTable): a table of TIME; document: a VARCHAR document';

CREATE FUNCTION qapExtractTimestampsFromVarchar(text, text)
    RETURNS TABLE (value timestamp) ROWS 100
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_table';
COMMENT ON FUNCTION qapExtractTimestampsFromVarchar(text, text) IS 'qapExtractTimestampsFromVarchar (qapExtractTable): a table of TIMESTAMP; document: a VARCHAR document';

CREATE FUNCTION qapExtractDoublesFromVarchar(text, text)
    RETURNS TABLE (value float8) ROWS 100
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_table';
COMMENT ON FUNCTION qapExtractDoublesFromVarchar(text, text) IS 'qapExtractDoublesFromVarchar (qapExtractTable): a table of DOUBLE; document: a VARCHAR document';

CREATE FUNCTION qapExtractDoublesFromVarchar2(text, text, text)
    RETURNS TABLE (value float8) ROWS 100
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_table';
COMMENT ON FUNCTION qapExtractDoublesFromVarchar2(text, text, text) IS 'qapExtractDoublesFromVarchar2 (qapExtractTable): a table of DOUBLE; document: a VARCHAR document';

CREATE FUNCTION qapExtractRealsFromVarchar(text, text)
    RETURNS TABLE (value float4) ROWS 100
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_table';
COMMENT ON FUNCTION qapExtractRealsFromVarchar(text, text) IS 'qapExtractRealsFromVarchar (qapExtractTable): a table of REAL; document: a VARCHAR document';

CREATE FUNCTION qapExtractRealsFromVarchar2(text, text, text)
    RETURNS TABLE (value float4) ROWS 100
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_table';
COMMENT ON FUNCTION qapExtractRealsFromVarchar2(text, text, text) IS 'qapExtractRealsFromVarchar2 (qapExtractTable): a table of REAL; document: a VARCHAR document';

CREATE FUNCTION qapExtractIntegersFromVarchar(text, text)
    RETURNS TABLE (value int4) ROWS 100
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_table';
COMMENT ON FUNCTION qapExtractIntegersFromVarchar(text, text) IS 'qapExtractIntegersFromVarchar (qapExtractTable): a table of INTEGER; document: a VARCHAR document';

CREATE FUNCTION qapExtractSmallintsFromVarchar(text, text)
    RETURNS TABLE (value int2) ROWS 100
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_table';
COMMENT ON FUNCTION qapExtractSmallintsFromVarchar(text, text) IS 'qapExtractSmallintsFromVarchar (qapExtractTable): a table of SMALLINT; document: a VARCHAR document';

CREATE FUNCTION qapExtractVarcharsFromClob(text, text)
    RETURNS TABLE (value text) ROWS 100
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_table';
COMMENT ON FUNCTION qapExtractVarcharsFromClob(text, text) IS 'qapExtractVarcharsFromClob (qapExtractTable): a table of VARCHAR(4000); document: a CLOB document';

CREATE FUNCTION qapExtractVarcharsFromClob2(text, text, text)
    RETURNS TABLE (value text) ROWS 100
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_table';
COMMENT ON FUNCTION qapExtractVarcharsFromClob2(text, text, text) IS 'qapExtractVarcharsFromClob2 (qapExtractTable): a table of VARCHAR(4000); document: a CLOB document';

CREATE FUNCTION qapExtractCharsFromClob(text, text)
    RETURNS TABLE (value text) ROWS 100
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_table';
COMMENT ON FUNCTION qapExtractCharsFromClob(text, text) IS 'qapExtractCharsFromClob (qapExtractTable): a table of CHAR(254); document: a CLOB document';

CREATE FUNCTION qapExtractClobsFromClob(text, text)
    RETURNS TABLE (value text) ROWS 100
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_table';
COMMENT ON FUNCTION qapExtractClobsFromClob(text, text) IS 'qapExtractClobsFromClob (qapExtractTable): a table of CLOB; document: a CLOB document';

CREATE FUNCTION qapExtractClobsFromClob2(text, text, text)
    RETURNS TABLE (value text) ROWS 100
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_table';
COMMENT ON FUNCTION qapExtractClobsFromClob2(text, text, text) IS 'qapExtractClobsFromClob2 (qapExtractTable): a table of CLOB; document: a CLOB document';

CREATE FUNCTION qapExtractDatesFromClob(text, text)
    RETURNS TABLE (value date) ROWS 100
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_table';
COMMENT ON FUNCTION qapExtractDatesFromClob(text, text) IS 'qapExtractDatesFromClob (qapExtractTable): a table of DATE; document: a CLOB document';

CREATE FUNCTION qapExtractTimesFromClob(text, text)
    RETURNS TABLE (value time) ROWS 100
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_table';
COMMENT ON FUNCTION qapExtractTimesFromClob(text, text) IS 'qapExtractTimesFromClob (qapExtractTable): a table of TIME; document: a CLOB document';

CREATE FUNCTION qapExtractTimestampsFromClob(text, text)
    RETURNS TABLE (value timestamp) ROWS 100
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_table';
COMMENT ON FUNCTION qapExtractTimestampsFromClob(text, text) IS 'qapExtractTimestampsFromClob (qapExtractTable): a table of TIMESTAMP; document: a CLOB document';

CREATE FUNCTION qapExtractDoublesFromClob(text, text)
    RETURNS TABLE (value float8) ROWS 100
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_table';
COMMENT ON FUNCTION qapExtractDoublesFromClob(text, text) IS 'qapExtractDoublesFromClob (qapExtractTable): a table of DOUBLE; document: a CLOB document';

CREATE FUNCTION qapExtractDoublesFromClob2(text, text, text)
    RETURNS TABLE (value float8) ROWS 100
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_table';
COMMENT ON FUNCTION qapExtractDoublesFromClob2(text, text, text) IS 'qapExtractDoublesFromClob2 (qapExtractTable): a table of DOUBLE; document: a CLOB document';

CREATE FUNCTION qapExtractRealsFromClob(text, text)
    RETURNS TABLE (value float4) ROWS 100
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_table';
COMMENT ON FUNCTION qapExtractRealsFromClob(text, text) IS 'qapExtractRealsFromClob (qapExtractTable): a table of REAL; document: a CLOB document';

CREATE FUNCTION qapExtractRealsFromClob2(text, text, text)
    RETURNS TABLE (value float4) ROWS 100
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_table';
COMMENT ON FUNCTION qapExtractRealsFromClob2(text, text, text) IS 'qapExtractRealsFromClob2 (qapExtractTable): a table of REAL; document: a CLOB document';

CREATE FUNCTION qapExtractIntegersFromClob(text, text)
    RETURNS TABLE (value int4) ROWS 100
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_table';
COMMENT ON FUNCTION qapExtractIntegersFromClob(text, text) IS 'qapExtractIntegersFromClob (qapExtractTable): a table of INTEGER; document: a CLOB document';

CREATE FUNCTION qapExtractSmallintsFromClob(text, text)
    RETURNS TABLE (value int2) ROWS 100
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_table';
COMMENT ON FUNCTION qapExtractSmallintsFromClob(text, text) IS 'qapExtractSmallintsFromClob (qapExtractTable): a table of SMALLINT; document: a CLOB document';

CREATE FUNCTION qapUpdateXMLVarchar(text, text, text)
    RETURNS text
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapUpdateXMLVarchar(text, text, text) IS 'qapUpdateXMLVarchar (qapUpdateXML): returns VARCHAR(32672); document: a VARCHAR document';

CREATE FUNCTION qapUpdateXMLClob(text, text, text)
    RETURNS text
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapUpdateXMLClob(text, text, text) IS 'qapUpdateXMLClob (qapUpdateXML): returns CLOB; document: a CLOB document';

CREATE FUNCTION qapUpdateXMLFile(text, text, text)
    RETURNS text
    LANGUAGE C VOLATILE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapUpdateXMLFile(text, text, text) IS 'qapUpdateXMLFile (qapUpdateXML): returns VARCHAR(1024); document: a server file';
REVOKE ALL ON FUNCTION qapUpdateXMLFile(text, text, text) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION qapUpdateXMLFile(text, text, text) TO pg_read_server_files;
GRANT EXECUTE ON FUNCTION qapUpdateXMLFile(text, text, text) TO pg_write_server_files;

CREATE FUNCTION qapValidateFile(text, text, text)
    RETURNS int4
    LANGUAGE C VOLATILE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapValidateFile(text, text, text) IS 'qapValidateFile (qapValidateXML): returns INTEGER; document: a server file';
REVOKE ALL ON FUNCTION qapValidateFile(text, text, text) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION qapValidateFile(text, text, text) TO pg_read_server_files;

CREATE FUNCTION qapValidateFile2(text, text, text)
    RETURNS int4
    LANGUAGE C VOLATILE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapValidateFile2(text, text, text) IS 'qapValidateFile2 (qapValidateXML): returns INTEGER; document: a server file';
REVOKE ALL ON FUNCTION qapValidateFile2(text, text, text) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION qapValidateFile2(text, text, text) TO pg_read_server_files;

CREATE FUNCTION qapValidateVarchar(text, text, text)
    RETURNS int4
    LANGUAGE C VOLATILE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapValidateVarchar(text, text, text) IS 'qapValidateVarchar (qapValidateXML): returns INTEGER; document: a VARCHAR document';
REVOKE ALL ON FUNCTION qapValidateVarchar(text, text, text) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION qapValidateVarchar(text, text, text) TO pg_read_server_files;

CREATE FUNCTION qapValidateVarchar2(text, text, text)
    RETURNS int4
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapValidateVarchar2(text, text, text) IS 'qapValidateVarchar2 (qapValidateXML): returns INTEGER; document: a VARCHAR document';

CREATE FUNCTION qapValidateClob(text, text, text)
    RETURNS int4
    LANGUAGE C VOLATILE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapValidateClob(text, text, text) IS 'qapValidateClob (qapValidateXML): returns INTEGER; document: a CLOB document';
REVOKE ALL ON FUNCTION qapValidateClob(text, text, text) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION qapValidateClob(text, text, text) TO pg_read_server_files;

CREATE FUNCTION qapValidateClob2(text, text, text)
    RETURNS int4
    LANGUAGE C IMMUTABLE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapValidateClob2(text, text, text) IS 'qapValidateClob2 (qapValidateXML): returns INTEGER; document: a CLOB document';

CREATE FUNCTION qapFile(text, text)
    RETURNS text
    LANGUAGE C VOLATILE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapFile(text, text) IS 'qapFile (qapStorage): returns VARCHAR(1024); document: a CLOB document';
REVOKE ALL ON FUNCTION qapFile(text, text) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION qapFile(text, text) TO pg_write_server_files;

CREATE FUNCTION qapXMLFileFromClob2(text, text, text)
    RETURNS text
    LANGUAGE C VOLATILE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapXMLFileFromClob2(text, text, text) IS 'qapXMLFileFromClob2 (qapStorage): returns VARCHAR(1024); document: a CLOB document';
REVOKE ALL ON FUNCTION qapXMLFileFromClob2(text, text, text) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION qapXMLFileFromClob2(text, text, text) TO pg_write_server_files;

CREATE FUNCTION qapCLOB(text)
    RETURNS text
    LANGUAGE C VOLATILE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapCLOB(text) IS 'qapCLOB (qapStorage): returns CLOB; document: a server file';
REVOKE ALL ON FUNCTION qapCLOB(text) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION qapCLOB(text) TO pg_read_server_files;

CREATE FUNCTION qapXMLCLOBFromFile2(text, text)
    RETURNS text
    LANGUAGE C VOLATILE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapXMLCLOBFromFile2(text, text) IS 'qapXMLCLOBFromFile2 (qapStorage): returns CLOB; document: a server file';
REVOKE ALL ON FUNCTION qapXMLCLOBFromFile2(text, text) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION qapXMLCLOBFromFile2(text, text) TO pg_read_server_files;

CREATE FUNCTION qapVarChar(text)
    RETURNS text
    LANGUAGE C VOLATILE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapVarChar(text) IS 'qapVarChar (qapStorage): returns VARCHAR(32672); document: a server file';
REVOKE ALL ON FUNCTION qapVarChar(text) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION qapVarChar(text) TO pg_read_server_files;

CREATE FUNCTION qapXMLVarcharFromFile2(text, text)
    RETURNS text
    LANGUAGE C VOLATILE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapXMLVarcharFromFile2(text, text) IS 'qapXMLVarcharFromFile2 (qapStorage): returns VARCHAR(32672); document: a server file';
REVOKE ALL ON FUNCTION qapXMLVarcharFromFile2(text, text) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION qapXMLVarcharFromFile2(text, text) TO pg_read_server_files;

CREATE FUNCTION qapContent_varchar2file(text, text)
    RETURNS text
    LANGUAGE C VOLATILE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapContent_varchar2file(text, text) IS 'qapContent_varchar2file (qapStorage): returns VARCHAR(1024); document: a VARCHAR document';
REVOKE ALL ON FUNCTION qapContent_varchar2file(text, text) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION qapContent_varchar2file(text, text) TO pg_write_server_files;

CREATE FUNCTION qapXMLFileFromVarchar2(text, text, text)
    RETURNS text
    LANGUAGE C VOLATILE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapXMLFileFromVarchar2(text, text, text) IS 'qapXMLFileFromVarchar2 (qapStorage): returns VARCHAR(1024); document: a VARCHAR document';
REVOKE ALL ON FUNCTION qapXMLFileFromVarchar2(text, text, text) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION qapXMLFileFromVarchar2(text, text, text) TO pg_write_server_files;

CREATE FUNCTION qapSeqno()
    RETURNS int4
    LANGUAGE C VOLATILE CALLED ON NULL INPUT
    AS 'MODULE_PATHNAME', 'tessel_scalar';
COMMENT ON FUNCTION qapSeqno() IS 'qapSeqno (qapStorage): returns INTEGER; document: none';
