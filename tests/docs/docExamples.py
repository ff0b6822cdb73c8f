#!/usr/bin/env python3
"""Runs the examples of a guide page and compares what they print with the page.

  docExamples.py PAGE WHAT [--work] [--replace FROM=TO] -- COMMAND...

WHAT `sqlite` or `postgresql`: every ```sql WHAT block of PAGE, in order, goes to COMMAND's
standard input as one script (one session per page). WHAT a file (examples/orders.py): the page
block whose info string ends with that name must equal the file, and COMMAND runs it. Each
example's ```output block, or nothing when it has none, must equal what it printed (standard
output and error together). The shell's place of an error is dropped ("near line 7",
"psql:<stdin>:7: "), and so are blanks at line ends and blank lines at a block's end.
--work runs COMMAND in a private directory holding the files of examples/, with out/ for files
it writes, its own TARNQAPPATH, TARNQAPTEMP and HOME, and TARN_READ_ACCESS and
TARN_WRITE_ACCESS allowing that directory and out/. --replace puts TO for FROM in the script
and FROM for TO in what it printed (a server directory).
"""
import difflib, glob, os, re, shutil, subprocess, sys, tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
MARK = '~~~ end of example ~~~'
ECHO = {'sqlite': '.print ' + MARK, 'postgresql': '\\echo ' + MARK}


def examples(page, what):
    """[(line, code, expected output)] of the page's examples of that engine or file."""
    lines = open(page, encoding='utf-8').read().split('\n')
    found, i = [], 0
    while i < len(lines):
        info = lines[i].strip()[3:].split() if lines[i].startswith('```') else []
        if len(info) < 2 or info[-1] != what:
            i += 1
            continue
        start, i = i + 1, lines.index('```', i + 1)
        code, i = lines[start:i], i + 1
        while i < len(lines) and not lines[i].strip():
            i += 1
        output = []
        if i < len(lines) and lines[i] == '```output':
            end = lines.index('```', i + 1)
            output, i = lines[i + 1:end], end + 1
        found.append((start, '\n'.join(code) + '\n', output))
    return found


def tidy(lines):
    lines = [re.sub(r'^psql:[^:]*:\d+: ', '', re.sub(r' near line \d+:', ':', l)).rstrip()
             for l in lines]
    while lines and not lines[-1]:
        lines.pop()
    return lines


def main(argv):
    split = argv.index('--')
    page, what, options, command = argv[1], argv[2], argv[3:split], argv[split + 1:]
    replace = [options[i + 1].split('=', 1) for i, o in enumerate(options) if o == '--replace']
    found = examples(os.path.join(ROOT, page), what)
    if not found:
        sys.exit(f'{page}: no examples of {what}')
    if what in ECHO:
        script = ''.join(code + ECHO[what] + '\n' for _, code, _ in found)
    else:
        if found[0][1] != open(os.path.join(ROOT, what), encoding='utf-8').read():
            sys.exit(f'{page}:{found[0][0]}: the block differs from {what}')
        found, script = found[:1], None
    for old, new in replace if script is not None else []:
        script = script.replace(old, new)

    env, work = dict(os.environ), None
    if '--work' in options:
        work = tempfile.mkdtemp(prefix='tessel-doc-')
        for f in glob.glob(os.path.join(ROOT, 'examples', 'po*')):
            shutil.copy(f, work)
        for d in ('trace', 'tmp', 'home', 'out'):
            os.mkdir(os.path.join(work, d), 0o700)
        for name in ('TMP', 'TMPDIR', 'TARNQAP_MIN_TMPFILE_SIZE', 'NLSPATH', 'XDG_RUNTIME_DIR'):
            env.pop(name, None)
        env.update(LC_ALL='C', TZ='UTC', HOME=work + '/home', TARNINSTANCE='doc',
                   TARNQAPPATH=work + '/trace', TARNQAPTEMP=work + '/tmp',
                   TARN_READ_ACCESS=work, TARN_WRITE_ACCESS=work + '/out')
        if env.get('TESSEL_SQL_PRELOAD'):
            env['LD_PRELOAD'] = env['TESSEL_SQL_PRELOAD']
    try:
        run = subprocess.run(command, input=script, cwd=work, env=env, text=True,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        left = os.listdir(work + '/tmp') if work else []
    finally:
        if work:
            shutil.rmtree(work)
    printed = run.stdout
    for old, new in replace:
        printed = printed.replace(new, old)
    parts = printed.split(MARK + '\n') if script is not None else [printed]

    failed = run.returncode > 1 or (script is None and run.returncode != 0)
    if failed:
        print(f'{page}: {" ".join(command)} ended with status {run.returncode}')
    if left:
        failed = True
        print(f'{page}: temporary files left: {left}')
    if len(parts) != len(found) + (script is not None):
        failed = True
        print(f'{page}: {len(found)} examples, but the output has {len(parts) - 1} ends:\n'
              + printed)
    for (line, _, expected), got in zip(found, parts):
        got = tidy(got.split('\n'))
        if got != tidy(expected):
            failed = True
            print(f'{page}:{line}: the example prints otherwise')
            print('\n'.join(difflib.unified_diff(tidy(expected), got, 'page', 'printed',
                                                 lineterm='')))
    print(f'{page}: {len(found)} examples of {what}, {"failed" if failed else "as the page says"}')
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
