-- A trace control directory that others could write is never used: here the one under
-- XDG_RUNTIME_DIR is group-writable and HOME is writable by everyone without the sticky bit.
-- TARNQAPPATH stays unset, and the routines' first calls fail.
-- mkdir xdg 0700
-- mkdir xdg/tessel 0770
-- setenv XDG_RUNTIME_DIR @WORK@/xdg
-- mkdir shared 0777
-- setenv HOME @WORK@/shared
-- unsetenv TARNQAPPATH
SELECT qapExtractVarcharFromVarchar('<a>ok</a>', '/a');
SELECT qapExtractDoubleFromClob('<a>1</a>', '/a');
SELECT name, printf('%o', mode & 4095) FROM fsdir('xdg') ORDER BY name;
SELECT name, printf('%o', mode & 4095) FROM fsdir('shared') ORDER BY name;
