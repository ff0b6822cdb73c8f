-- Validation against an XML Schema: text, the rows form, server files for the file roles, and
-- one parse of the schema for all the rows of a statement.
\getenv files TESSEL_PG_FILES
\set x :files/order.xsd
\set d :files/order.xml
SET tessel.read_access = :'files';
SET tessel.write_access = :'files';
\set xsd '<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema"><xs:element name="order"><xs:complexType><xs:sequence><xs:element name="qty" type="xs:positiveInteger" maxOccurs="3"/></xs:sequence></xs:complexType></xs:element></xs:schema>'
SELECT tessel_validate_schema('<order><qty>2</qty></order>', :'xsd');
SELECT tessel_validate_schema('<order><qty>0</qty></order>', :'xsd');
SELECT tessel_validate_schema(NULL, :'xsd') IS NULL AS null_in_null_out;
SELECT * FROM tessel_schema_errors(E'<order>\n<qty>0</qty><qty>x</qty>\n<other/></order>', :'xsd');
SELECT count(*) FROM tessel_schema_errors('<order><qty>0</qty><qty>0</qty></order>', :'xsd', 1);
SELECT sum(tessel_validate_schema('<order><qty>' || i || '</qty></order>', :'xsd'))
  FROM generate_series(1, 1000) i;
SELECT qapContent_varchar2file(:'xsd', :'x') = :'x' AS written,
       qapContent_varchar2file('<order><qty>3</qty></order>', :'d') = :'d' AS written;
SELECT tessel_validate_schema_file(:'d', :'x');
SELECT tessel_validate_schema('<a/>', '<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema"><xs:include schemaLocation="order.xsd"/></xs:schema>');
CREATE ROLE schema_clerk;
SET ROLE schema_clerk;
SELECT tessel_validate_schema('<order><qty>1</qty></order>', :'xsd');
SELECT tessel_validate_schema_file(:'d', :'x');
RESET ROLE;
DROP ROLE schema_clerk;
SELECT proname, provolatile, proparallel FROM pg_proc WHERE proname LIKE 'tessel_%schema%' ORDER BY 1;
