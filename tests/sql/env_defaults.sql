-- A sqlite3 process without TARNINSTANCE and TARNQAPPATH: loading the extension sets the
-- instance name "tessel" and the trace control directory $HOME/.tessel (created with mode
-- 0700), so routines run, and tracing is switched on with home/.tessel/qaptessel.ctl.
-- unsetenv TARNINSTANCE
-- unsetenv TARNQAPPATH
SELECT qapExtractVarcharFromVarchar('<a>ok</a>', '/a');
SELECT name, printf('%o', mode & 4095) FROM fsdir('home') ORDER BY name;
SELECT 'tracing on', writefile('home/.tessel/qaptessel.ctl', 'session.trc') > 0;
SELECT qapExtractIntegerFromVarchar('<a>1</a>', '/a');
SELECT 'traced', instr(CAST(readfile('session.trc') AS TEXT), 'first call') > 0;
