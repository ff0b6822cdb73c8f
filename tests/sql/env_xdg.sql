-- With XDG_RUNTIME_DIR set, the trace control directory is $XDG_RUNTIME_DIR/tessel, and a
-- TARNINSTANCE of the user's own is kept.
-- mkdir xdg 0700
-- setenv XDG_RUNTIME_DIR @WORK@/xdg
-- setenv TARNINSTANCE mine
-- unsetenv TARNQAPPATH
SELECT qapExtractVarcharFromVarchar('<a>ok</a>', '/a');
SELECT name, printf('%o', mode & 4095) FROM fsdir('xdg') ORDER BY name;
SELECT name FROM fsdir('home') ORDER BY name;
SELECT 'tracing on', writefile('xdg/tessel/qapmine.ctl', 'session.trc') > 0;
SELECT qapExtractIntegerFromVarchar('<a>1</a>', '/a');
SELECT 'traced', instr(CAST(readfile('session.trc') AS TEXT), 'first call') > 0;
