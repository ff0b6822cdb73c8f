-- Each routine family from each document source, with the result types as declared.
\getenv files TESSEL_PG_FILES
\set po :files/po.xml
\set a :files/a.xml
\set dtd :files/a.dtd
\set dtdtext '<!ELEMENT a (b)><!ELEMENT b (#PCDATA)>'
SET datestyle = ISO;
SET tessel.read_access = :'files';
SET tessel.write_access = :'files';
-- the extension's functions by result type: scalar and table routines
SELECT p.prorettype::regtype AS type, count(*) FILTER (WHERE NOT p.proretset) AS scalar,
       count(*) FILTER (WHERE p.proretset) AS "table"
  FROM pg_proc p JOIN pg_depend d ON d.classid = 'pg_proc'::regclass AND d.objid = p.oid
  JOIN pg_extension e ON e.oid = d.refobjid AND e.extname = 'tessel'
 WHERE p.proname LIKE 'qap%' GROUP BY 1 ORDER BY 1;
-- the module's version is the version of the extension's script
SELECT tessel_version() LIKE extversion || '.%' AS same FROM pg_extension WHERE extname = 'tessel';
CREATE TABLE po(doc text);
INSERT INTO po VALUES ('<po id="PO-1"><customer>Zoë Ångström</customer><ordered>2024-03-15</ordered>'
  '<at>09:30:00</at><stamp>2024-3-15 9:30:5.25</stamp><item n="1"><price>12.50</price>'
  '<qty>2</qty></item><item n="2"><price>3.25</price><qty>70000</qty></item></po>');
-- storage: into a server file and back as VARCHAR and CLOB
SELECT qapContent_varchar2file(doc, :'po') = :'po' AS written, qapVarChar(:'po') = doc AS varchar,
       qapCLOB(:'po') = doc AS clob, qapFile('<a><b>1</b></a>', :'a') = :'a' AS from_clob FROM po;
-- one value of each kind, from a file, a VARCHAR and a CLOB
SELECT qapExtractVarchar(:'po', '/po/customer') AS varchar,
       qapExtractCharFromVarchar(doc, '/po/@id') AS char,
       qapExtractClobFromClob(doc, '/po/item[@n="1"]/price') AS clob FROM po;
SELECT qapExtractDate(:'po', '/po/ordered') AS date, qapExtractTimeFromVarchar(doc, '/po/at') AS time,
       qapExtractTimestampFromClob(doc, '/po/stamp') AS timestamp FROM po;
SELECT qapExtractDouble(:'po', '/po/item[@n="1"]/price') AS double,
       qapExtractRealFromVarchar(doc, '/po/item[@n="2"]/price') AS real,
       qapExtractIntegerFromClob(doc, '/po/item[@n="2"]/qty') AS integer,
       qapExtractSmallintFromVarchar(doc, '/po/item[@n="2"]/qty') AS smallint FROM po;
-- tables: in FROM, in a LATERAL join, in the select list
SELECT * FROM qapExtractDoubles(:'po', '/po/item/price');
SELECT v FROM po, LATERAL qapExtractIntegersFromVarchar(doc, '/po/item/qty') v;
SELECT qapExtractVarcharsFromClob(doc, '/po/item/@n') FROM po;
-- a "2" variant reads its DTD from text
SELECT qapExtractVarcharFromVarchar2('<!DOCTYPE a SYSTEM "a.dtd"><a>&e;</a>',
                                     '<!ENTITY e "from the DTD">', '/a');
-- update
SELECT qapExtractIntegersFromVarchar(qapUpdateXMLVarchar(doc, '/po/item/qty', '1'), '/po/item/qty')
  FROM po;
SELECT qapUpdateXMLClob('<a><b>1</b></a>', '/a/b', '2') AS clob,
       qapUpdateXMLFile(:'a', '/a/b', '3') = :'a' AS file;
SELECT qapVarChar(:'a');
-- validate
SELECT qapContent_varchar2file(:'dtdtext', :'dtd') = :'dtd' AS dtd,
       qapContent_varchar2file('<!DOCTYPE a SYSTEM "a.dtd"><a><b>1</b></a>', :'a') = :'a' AS doc;
SELECT qapValidateFile(:'a', :'dtd', 'a') AS file,
       qapValidateVarchar('<!DOCTYPE a SYSTEM "x"><a><b>1</b></a>', :'dtd', 'a') AS varchar,
       qapValidateClob2('<!DOCTYPE a SYSTEM "x"><a><b>1</b></a>', :'dtdtext', 'a') AS clob;
-- qapSeqno counts the calls of each call site, anew in every query
SELECT qapSeqno() AS a, qapSeqno() AS b FROM generate_series(1, 3);
SELECT qapSeqno();
