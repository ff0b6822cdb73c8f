#!/usr/bin/env python3
"""Checks the include arrows between folders against the floors of docs/architecture.md's Layout.

Each `#include "..."` of a checked folder that resolves to a file of another checked folder is
an arrow. An arrow fails when its target's floor is not one the source's row allows ("May
include"), and any cycle between folders fails. Includes that resolve to no file of the tree
(system, generated and engine headers) are not arrows.
"""
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SOURCES = ('.h', '.hpp', '.c', '.cc', '.cpp')


def floors_table():
    """[(folder, floor, allowed floors)] from the table under '## Layout' with a Floor column."""
    text = open(os.path.join(ROOT, 'docs', 'architecture.md'), encoding='utf-8').read()
    layout = text.split('\n## Layout', 1)[1].split('\n## ', 1)[0]
    rows, header = [], None
    for line in layout.splitlines():
        cells = [c.strip() for c in line.strip().strip('|').split('|')] if line.startswith('|') else None
        if cells is None:
            if header: break
            continue
        if header is None:
            if cells and cells[0] == 'Floor':
                header = cells
            continue
        if set(cells[0]) <= set('-: '):
            continue
        floor = int(cells[0])
        allowed = set()
        for part in re.split(r'[,;]', cells[header.index('May include')]):
            bounds = re.findall(r'\d+', part)
            if len(bounds) == 2:
                allowed.update(range(int(bounds[0]), int(bounds[1]) + 1))
            elif len(bounds) == 1:
                allowed.add(int(bounds[0]))
        for folder in re.findall(r'`([^`]+/)`', cells[header.index('Folder')]):
            rows.append((folder.rstrip('/'), floor, allowed))
    if not rows:
        sys.exit('check-floors: no floors table (a "Floor" column) in docs/architecture.md, Layout')
    return rows


def folder_of(path, folders):
    best = None
    for f in folders:
        if (path == f or path.startswith(f + '/')) and (best is None or len(f) > len(best)):
            best = f
    return best


def main():
    rows = floors_table()
    floor = {f: n for f, n, _ in rows}
    allowed = {f: a for f, _, a in rows}
    files = []
    for f in floor:
        for dirpath, _, names in os.walk(os.path.join(ROOT, f)):
            files += [os.path.relpath(os.path.join(dirpath, n), ROOT) for n in names
                      if n.endswith(SOURCES)]
    files = sorted(set(files))
    by_name = {}
    for p in files:
        by_name.setdefault(os.path.basename(p), []).append(p)

    def resolve(src, name):
        near = os.path.normpath(os.path.join(os.path.dirname(src), name))
        if near in files:
            return near
        found = [p for p in by_name.get(os.path.basename(name), []) if p.endswith('/' + name)]
        return found[0] if len(found) == 1 else None

    arrows = {}
    for src in files:
        for number, line in enumerate(open(os.path.join(ROOT, src), encoding='utf-8',
                                           errors='replace'), 1):
            m = re.match(r'\s*#\s*include\s+"([^"]+)"', line)
            target = resolve(src, m.group(1)) if m else None
            if target is None:
                continue
            a, b = folder_of(src, floor), folder_of(target, floor)
            if a != b:
                arrows.setdefault((a, b), []).append(f'{src}:{number} includes {target}')

    failures = []
    for (a, b), where in sorted(arrows.items()):
        if floor[b] not in allowed[a]:
            way = 'up' if floor[b] > floor[a] else 'not allowed'
            failures.append(f'{a} (floor {floor[a]}) -> {b} (floor {floor[b]}): {way}, '
                            f'{where[0]}' + (f' and {len(where) - 1} more' if len(where) > 1 else ''))

    # Cycles between folders.
    graph = {}
    for a, b in arrows:
        graph.setdefault(a, set()).add(b)
    state, stack = {}, []

    def visit(n):
        state[n] = 1
        stack.append(n)
        for m in sorted(graph.get(n, ())):
            if state.get(m) == 1:
                failures.append('cycle: ' + ' -> '.join(stack[stack.index(m):] + [m]))
            elif m not in state:
                visit(m)
        stack.pop()
        state[n] = 2

    for n in sorted(graph):
        if n not in state:
            visit(n)

    for f in failures:
        print('check-floors: ' + f)
    print(f'check-floors: {len(arrows)} folder arrows, {len(failures)} failures')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
