#!/usr/bin/env python3
"""Checks the names that the project's C++ code declares against the naming rule of docs/architecture.md.

Reads every translation unit of BUILD/compile_commands.json (a build configured with
CMAKE_EXPORT_COMPILE_COMMANDS=ON; tracked sources that no build compiles, such as the fuzz
targets, are parsed with the flags of a test), walks the declarations whose place is a tracked
file, and tells each one that breaks the rule, with its file and line. Names that the calling
convention, the host, SQLite, PostgreSQL or Xerces-C/ICU give are in scripts/names-allowed.txt.

Why libclang rather than clang-tidy's identifier check: the rule depends on where a name is
declared (a prefix at global scope only, a trailing underscore for private data), which that
check cannot tell; libclang sees the same AST and parses the tree in about the same time.

  check-names.py [BUILD]       check (BUILD defaults to build); exit 1 on any violation
  check-names.py --list BUILD  print every checked declaration: kind, scope, name, place
"""
import json
import os
import re
import shlex
import subprocess
import sys
from concurrent.futures import ProcessPoolExecutor

try:
    import clang.cindex as ci
except ImportError:  # a Python of its own (pyenv, venv) does not see Debian's python3-clang
    sys.path.append('/usr/lib/python3/dist-packages')
    import clang.cindex as ci

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
K = ci.CursorKind

# The rule, by kind of name (see docs/architecture.md, Naming). Each entry: a regex the name must match.
CAMEL = r'[A-Z][a-zA-Z0-9]*'  # CamelCase, digits allowed
LOWER_CAMEL = r'[a-z][a-zA-Z0-9]*'  # camelBack
CONSTANT = r'k[A-Z][a-zA-Z0-9]*'
MACRO = r'[A-Z][A-Z0-9_]*'
NAMESPACE = r'[a-z][a-z0-9]*'
ENUMERATOR = r'[A-Z][A-Z0-9_]*'  # message numbers (QAPC001E) are named by their message ids

TYPES = {K.CLASS_DECL, K.STRUCT_DECL, K.UNION_DECL, K.ENUM_DECL, K.TYPEDEF_DECL,
         K.TYPE_ALIAS_DECL, K.CLASS_TEMPLATE, K.TYPE_ALIAS_TEMPLATE_DECL,
         K.CLASS_TEMPLATE_PARTIAL_SPECIALIZATION}
FUNCTIONS = {K.FUNCTION_DECL, K.FUNCTION_TEMPLATE, K.CXX_METHOD}


def tracked_sources():
    out = subprocess.run(['git', '-C', ROOT, 'ls-files', '*.c', '*.cc', '*.cpp', '*.h', '*.hpp'],
                         capture_output=True, text=True, check=True).stdout
    # examples/ are programs of the library's users, written as a user would name things
    return {os.path.join(ROOT, f) for f in out.split() if not f.startswith('examples/')}


def allowed_names():
    names, patterns = set(), []
    for line in open(os.path.join(ROOT, 'scripts', 'names-allowed.txt'), encoding='utf-8'):
        line = line.split('#', 1)[0].strip()
        if not line:
            continue
        if any(c in line for c in '*^$[('):
            patterns.append(re.compile(line.replace('*', '.*') + '$'))
        else:
            names.add(line)
    return names, patterns


def catalogue_names():
    """The routines' names (which are their SQL names) and families, from the catalogue's rows."""
    text = open(os.path.join(ROOT, 'include', 'tesselCatalog.h'), encoding='utf-8').read()
    rows = re.findall(r'^\s*X\((\w+),\s*(\w+),', text, re.M)
    return {name for row in rows for name in row}


def translation_units(build):
    """[(file, args)] for every tracked source file, the compile database's flags first."""
    db = json.load(open(os.path.join(build, 'compile_commands.json'), encoding='utf-8'))
    units, fallback = {}, None
    for entry in db:
        args = entry.get('arguments') or shlex.split(entry['command'])
        path = os.path.normpath(os.path.join(entry['directory'], entry['file']))
        keep = []
        skip = False
        for a in args[1:]:
            if skip:
                skip = False
                continue
            if a in ('-o', '-c'):
                skip = True
                continue
            if a == path or a == entry['file'] or a == '-Werror':
                continue
            keep.append(a)
        units.setdefault(path, keep)
        # Sources no build compiles take the flags of the test that sees the most headers.
        if '/tests/' in path and (fallback is None or
                                  sum(a.startswith('-I') for a in keep) >
                                  sum(a.startswith('-I') for a in fallback)):
            fallback = keep
    for f in sorted(tracked_sources()):
        if f.endswith(('.c', '.cc', '.cpp')) and f not in units and fallback is not None:
            units[f] = fallback + ['-I' + os.path.dirname(f)]
    return sorted(units.items())


def scope_of(cursor):
    """'global', 'namespace' (a named one), 'anon' (an anonymous namespace), 'class' or 'local'."""
    p = cursor.semantic_parent
    while p is not None and p.kind in (K.LINKAGE_SPEC, K.UNEXPOSED_DECL):  # extern "C" {
        p = p.semantic_parent
    if p is None or p.kind == K.TRANSLATION_UNIT:
        return 'global'
    if p.kind == K.NAMESPACE:
        return 'namespace' if p.spelling else 'anon'
    if p.kind in (K.CLASS_DECL, K.STRUCT_DECL, K.UNION_DECL, K.CLASS_TEMPLATE,
                  K.CLASS_TEMPLATE_PARTIAL_SPECIALIZATION, K.ENUM_DECL):
        return 'class'
    return 'local'


def is_const(cursor):
    t = cursor.type
    while t.kind == ci.TypeKind.CONSTANTARRAY or t.kind == ci.TypeKind.INCOMPLETEARRAY:
        t = t.element_type
    return t.is_const_qualified()


def is_constexpr(cursor):
    toks = [t.spelling for t in cursor.get_tokens()]
    return 'constexpr' in toks[:toks.index(cursor.spelling)] if cursor.spelling in toks else False


def classify(cursor):
    """(kind, expected regex) of a declaration, or None when the rule does not cover it."""
    k, scope = cursor.kind, scope_of(cursor)
    if k == K.MACRO_DEFINITION:
        return 'macro', MACRO
    if k == K.NAMESPACE:
        return 'namespace', NAMESPACE
    if k in TYPES:
        if scope == 'global':
            return 'type', r'(Qap|Tarn|Tessel)[A-Z][a-zA-Z0-9]*'
        return 'type', CAMEL
    if k in (K.TEMPLATE_TYPE_PARAMETER, K.TEMPLATE_TEMPLATE_PARAMETER):
        return 'type', CAMEL
    if k == K.ENUM_CONSTANT_DECL:
        return 'enumerator', ENUMERATOR
    if k in FUNCTIONS:
        if cursor.spelling.startswith('operator'):
            return None
        if k == K.CXX_METHOD or scope == 'class':
            if any(c.kind == K.CXX_OVERRIDE_ATTR for c in cursor.get_children()):
                return None  # named by the base class
            return 'method', LOWER_CAMEL
        if scope == 'global' and cursor.linkage == ci.LinkageKind.EXTERNAL:
            # tessel_...: the public C interface beside the routines, named as SQL names are
            return 'function', r'(qap|tarn)[A-Z][a-zA-Z0-9]*|tessel_[a-z][a-z0-9_]*'
        return 'function', LOWER_CAMEL
    if k == K.FIELD_DECL:
        if cursor.access_specifier in (ci.AccessSpecifier.PRIVATE, ci.AccessSpecifier.PROTECTED) \
                and cursor.semantic_parent.kind == K.CLASS_DECL:
            return 'private member', LOWER_CAMEL + '_'
        return 'member', LOWER_CAMEL
    if k == K.VAR_DECL:
        if scope == 'local':
            return 'variable', LOWER_CAMEL
        if is_constexpr(cursor) or is_const(cursor):
            return 'constant', CONSTANT
        if scope == 'class':
            return 'static member', LOWER_CAMEL + '_?'
        if scope == 'global' and cursor.linkage == ci.LinkageKind.EXTERNAL:
            return 'variable', r'(qap|tarn)[A-Z][a-zA-Z0-9]*'
        return 'variable', LOWER_CAMEL
    if k == K.PARM_DECL:
        return 'parameter', LOWER_CAMEL
    if k == K.TEMPLATE_NON_TYPE_PARAMETER:
        return 'template parameter', CAMEL
    return None


def walk(args):
    path, flags = args
    tracked = tracked_sources()
    index = ci.Index.create()
    tu = index.parse(path, args=flags, options=ci.TranslationUnit.PARSE_DETAILED_PROCESSING_RECORD)
    errors = [d for d in tu.diagnostics if d.severity >= ci.Diagnostic.Error]
    found, texts = [], {}

    def written(c, f):
        # A name made by a macro (gtest's TEST) is not written where it is declared.
        if f.name not in texts:
            texts[f.name] = open(f.name, 'rb').read()
        at = c.location.offset
        return texts[f.name][at:at + len(c.spelling)] == c.spelling.encode()

    for d in errors[:3]:
        found.append(('error', '', str(d), path, 0))

    def visit(cursor):
        for c in cursor.get_children():
            f = c.location.file
            if f is None or f.name not in tracked:
                continue
            if c.kind == K.MACRO_INSTANTIATION or c.kind == K.INCLUSION_DIRECTIVE:
                continue
            if c.spelling and (c.is_definition() or c.kind in (
                    K.FUNCTION_DECL, K.CXX_METHOD, K.FIELD_DECL, K.PARM_DECL, K.VAR_DECL,
                    K.CLASS_DECL, K.STRUCT_DECL, K.MACRO_DEFINITION, K.TYPEDEF_DECL,
                    K.TYPE_ALIAS_DECL, K.FUNCTION_TEMPLATE, K.CLASS_TEMPLATE, K.NAMESPACE,
                    K.ENUM_CONSTANT_DECL, K.TEMPLATE_TYPE_PARAMETER,
                    K.TEMPLATE_NON_TYPE_PARAMETER, K.TEMPLATE_TEMPLATE_PARAMETER)):
                rule = classify(c) if written(c, f) else None
                if rule:
                    found.append((rule[0] + '/' + scope_of(c), rule[1], c.spelling, f.name,
                                  c.location.line))
            visit(c)

    visit(tu.cursor)
    return found


def main():
    argv = sys.argv[1:]
    listing = bool(argv) and argv[0] == '--list'
    if listing:
        argv = argv[1:]
    build = os.path.abspath(argv[0] if argv else os.path.join(ROOT, 'build'))
    if not os.path.exists(os.path.join(build, 'compile_commands.json')):
        sys.exit('check-names: no %s/compile_commands.json (configure with '
                 '-DCMAKE_EXPORT_COMPILE_COMMANDS=ON)' % build)
    names, patterns = allowed_names()
    names |= catalogue_names()
    seen, bad = set(), []
    with ProcessPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
        for found in pool.map(walk, translation_units(build)):
            for kind, regex, name, path, line in found:
                place = '%s:%d' % (os.path.relpath(path, ROOT), line)
                if kind == 'error':
                    bad.append('%s: does not parse: %s' % (place, name))
                    continue
                if (kind, name, place) in seen:
                    continue
                seen.add((kind, name, place))
                ok = re.fullmatch(regex, name) or name in names or \
                    any(p.match(name) for p in patterns)
                if listing:
                    print('%s\t%s\t%s\t%s' % ('ok' if ok else 'BAD', kind, name, place))
                    continue
                if ok:
                    continue
                bad.append('%s: %s %s does not match %s' % (place, kind, name, regex))
    for line in sorted(set(bad)):
        print(line)
    if bad and not listing:
        print('check-names: %d names break the rule (docs/architecture.md, Naming; exceptions in '
              'scripts/names-allowed.txt)' % len(set(bad)), file=sys.stderr)
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main())
