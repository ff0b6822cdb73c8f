-- Routines that name server files are for pg_read_server_files and pg_write_server_files, and
-- only the superuser sets the files they may use.
\getenv files TESSEL_PG_FILES
\set s :files/s.xml
SET tessel.read_access = :'files';
SET tessel.write_access = :'files';
SELECT qapContent_varchar2file('<a>1</a>', :'s') = :'s' AS written;
CREATE ROLE clerk;
CREATE ROLE reader IN ROLE pg_read_server_files;
SET ROLE clerk;
SELECT qapExtractVarchar(:'s', '/a');
SELECT qapFile('<a/>', :'s');
SELECT qapExtractVarcharFromVarchar('<a>1</a>', '/a');
SET tessel.read_access = 'ANY';
SET tessel.external_entities = on;
-- the allowed directories are hidden from roles that cannot set them; the rest stays visible
SHOW tessel.read_access;
SELECT current_setting('tessel.write_access');
SELECT name, setting FROM pg_settings WHERE name LIKE 'tessel.%' ORDER BY name;
SET ROLE reader;
SHOW tessel.read_access;
SELECT qapVarChar(:'s');
SELECT qapVarChar(:'files' || '/x/../s.xml');
SELECT qapUpdateXMLFile(:'s', '/a', '2');
\echo :LAST_ERROR_SQLSTATE
RESET ROLE;
-- an external entity is read when the setting is on, from a file the read rule allows
SET tessel.read_access = :'files';
SET tessel.external_entities = on;
SELECT qapExtractVarcharFromVarchar('<!DOCTYPE a [<!ENTITY x SYSTEM "' || :'s' || '">]><a>&x;</a>', '/a/a');
RESET tessel.external_entities;
\set VERBOSITY terse
SELECT qapExtractVarcharFromVarchar('<!DOCTYPE a [<!ENTITY x SYSTEM "' || :'s' || '">]><a>&x;</a>', '/a/a');
-- the superuser too reads only files of the directories tessel.read_access names
SELECT qapExtractVarchar(:'s', '/a');
RESET tessel.read_access;
SELECT qapVarChar(:'s');
SELECT qapExtractVarchar(:'s', '/a');
