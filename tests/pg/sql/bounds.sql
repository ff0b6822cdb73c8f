-- Hostile DTDs from a caller without rights end at once with 38X13; a long but bounded DTD is
-- stopped by statement_timeout; the parse memory budget is the superuser's to set.
\set VERBOSITY verbose
CREATE ROLE tessel_bounds_user;
CREATE TEMP TABLE hostile AS
SELECT '<!ENTITY % a0 "xxxxxxxxxx">' ||
       (SELECT string_agg(format('<!ENTITY %% a%s "%s">', i, repeat(format('%%a%s;', i - 1), 10)),
                          '' ORDER BY i) FROM generate_series(1, 9) i) ||
       '<!ELEMENT a EMPTY>' AS pe_bomb,
       '<!ELEMENT a ((b|c)*,b' || repeat(',(b|c)', 22) || ')><!ELEMENT b EMPTY><!ELEMENT c EMPTY>'
         AS automaton,
       '<!ELEMENT a (e0)*><!ELEMENT b EMPTY><!ELEMENT c EMPTY>' ||
       (SELECT string_agg(format('<!ELEMENT e%s ((b|c)*,b%s)>', i, repeat(',(b|c)', 12)), '')
          FROM generate_series(0, 1999) i) AS slow;
GRANT SELECT ON hostile TO tessel_bounds_user;
SET ROLE tessel_bounds_user;
SELECT qapValidateVarchar2('<!DOCTYPE a SYSTEM "a.dtd"><a/>', pe_bomb, 'a') FROM hostile;
SELECT qapExtractVarcharFromVarchar2('<!DOCTYPE a SYSTEM "a.dtd"><a/>', pe_bomb, '/a') FROM hostile;
SELECT qapValidateClob2('<!DOCTYPE a SYSTEM "a.dtd"><a><b/></a>', automaton, 'a') FROM hostile;
SET statement_timeout = '300ms';
SELECT qapValidateVarchar2('<!DOCTYPE a SYSTEM "a.dtd"><a/>', slow, 'a') FROM hostile;
RESET statement_timeout;
SET tessel.max_parse_memory = '1GB';
RESET ROLE;
SET tessel.max_parse_memory = '1MB';
SELECT qapExtractVarcharFromVarchar('<a b="' || repeat('x', 2000000) || '"/>', '/a/@b');
RESET tessel.max_parse_memory;
SELECT qapExtractVarcharFromVarchar('<a b="' || repeat('x', 2000000) || '"/>', '/a/c');
DROP TABLE hostile;
DROP ROLE tessel_bounds_user;
