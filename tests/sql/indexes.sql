-- Routines of their arguments alone serve where SQLite asks for deterministic functions:
-- expression and partial indexes, generated columns (virtual and stored), CHECK constraints.
CREATE TABLE o(id INTEGER PRIMARY KEY, doc TEXT,
  n INT GENERATED ALWAYS AS (qapExtractIntegerFromVarchar(doc, '/a/id')) VIRTUAL,
  name TEXT GENERATED ALWAYS AS (qapExtractVarcharFromVarchar(doc, '/a/@name')) STORED,
  CHECK (qapValidateVarchar2(doc, '<!ELEMENT a (id)><!ATTLIST a name CDATA #IMPLIED>
                                   <!ELEMENT id (#PCDATA)>', 'a.dtd') = 1));
WITH RECURSIVE k(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM k WHERE i < 50)
INSERT INTO o(doc)
  SELECT '<!DOCTYPE a SYSTEM "a.dtd"><a name="n' || i || '"><id>' || (i * 7) || '</id></a>' FROM k;
CREATE INDEX oi ON o(qapExtractIntegerFromVarchar(doc, '/a/id'));
CREATE INDEX op ON o(name) WHERE qapExtractIntegerFromVarchar(doc, '/a/id') > 300;
SELECT 'rows', count(*), sum(n) FROM o;
SELECT 'stored', name FROM o WHERE id = 3;
EXPLAIN QUERY PLAN SELECT id FROM o WHERE qapExtractIntegerFromVarchar(doc, '/a/id') = 49;
SELECT 'by index', id FROM o WHERE qapExtractIntegerFromVarchar(doc, '/a/id') = 49;
EXPLAIN QUERY PLAN
  SELECT id FROM o WHERE qapExtractIntegerFromVarchar(doc, '/a/id') > 300 AND name = 'n45';
SELECT 'partial', id FROM o WHERE qapExtractIntegerFromVarchar(doc, '/a/id') > 300 AND name = 'n45';
-- The CHECK constraint refuses a document its DTD does not allow.
INSERT INTO o(doc) VALUES ('<!DOCTYPE a SYSTEM "a.dtd"><a><b/></a>');
SELECT 'after refusal', count(*) FROM o;
-- Routines that name server files are refused in generated columns and indexes.
CREATE TABLE f(doc TEXT, v INT GENERATED ALWAYS AS (qapValidateFile(doc, 'a.dtd', 'a')) VIRTUAL);
CREATE INDEX fi ON o(qapValidateFile(doc, 'a.dtd', 'a'));
CREATE INDEX pi ON o(id) WHERE qapValidateFile(doc, 'a.dtd', 'a') = 1;
-- SQLite does not hold CHECK constraints to that rule (its own load_extension runs there too):
-- there a file routine runs as at top level, under the allowed-files rule.
CREATE TABLE g(doc TEXT CHECK (qapValidateFile(doc, 'a.dtd', 'a') = 1));
INSERT INTO g VALUES ('missing.xml');
