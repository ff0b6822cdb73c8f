-- A database at 1.0 brought up to date has exactly the functions a new one gets.
CREATE TEMP VIEW functions AS
SELECT p.oid::regprocedure::text AS function, p.prorettype::regtype, p.proretset, p.prorows, p.procost,
       p.provolatile, p.proparallel, p.proisstrict, p.prosrc, p.probin, p.proacl::text,
       obj_description(p.oid, 'pg_proc') AS comment, i.initprivs::text
  FROM pg_proc p JOIN pg_depend d ON d.classid = 'pg_proc'::regclass AND d.objid = p.oid
  JOIN pg_extension e ON e.oid = d.refobjid AND e.extname = 'tessel'
  LEFT JOIN pg_init_privs i ON i.objoid = p.oid AND i.classoid = 'pg_proc'::regclass;
CREATE TEMP TABLE fresh AS SELECT * FROM functions;
DROP EXTENSION tessel;
CREATE EXTENSION tessel VERSION '1.0';
SELECT count(*) AS changed FROM (SELECT * FROM fresh EXCEPT SELECT * FROM functions) c;
ALTER EXTENSION tessel UPDATE;
SELECT extversion FROM pg_extension WHERE extname = 'tessel';
SELECT count(*) AS functions FROM fresh;
(SELECT * FROM fresh EXCEPT SELECT * FROM functions) UNION ALL (SELECT * FROM functions EXCEPT SELECT * FROM fresh);
