#!/usr/bin/env python3
"""Checks the include structure of src/: every include points to the same
folder or to a lower layer, and no two units include each other, directly
or through others. A unit is a header with its source file. Prints each
fault and exits 1 when there is one."""
import os
import re
import sys

# Lowest first; folders of the same rank must not include each other.
RANKS = {
    "core": 0,
    "winutil": 1,
    "delta": 1,
    "common": 2,
    "markup": 2,
    "widgets": 3,
    "startup": 3,
    "http": 3,
    "update": 4,
    "agent": 4,
    "updater": 5,
    "kdrelease": 5,
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def units(src):
    found = {}
    for folder, _, files in os.walk(src):
        for name in files:
            if name.endswith((".h", ".cpp")):
                path = os.path.join(folder, name)
                rel = os.path.relpath(path, src).replace(os.sep, "/")
                found.setdefault(os.path.splitext(rel)[0], []).append(path)
    return found


def resolve(include, including, known):
    """The unit an include names: relative to src/, else to the including file."""
    for candidate in (include, os.path.dirname(including) + "/" + include):
        unit = os.path.splitext(os.path.normpath(candidate).replace(os.sep, "/"))[0]
        if unit in known:
            return unit
    return None


def main():
    src = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src")
    known = units(src)
    faults = []
    graph = {unit: set() for unit in known}
    for unit, paths in known.items():
        top = unit.split("/")[0]
        for path in paths:
            with open(path, encoding="utf-8", errors="replace") as handle:
                text = handle.read()
            for include in INCLUDE.findall(text):
                target = resolve(include, unit, known)
                if target is None or target == unit:
                    continue
                graph[unit].add(target)
                other = target.split("/")[0]
                if other == top:
                    continue
                if top not in RANKS or other not in RANKS:
                    faults.append(f"{os.path.relpath(path, src)}: folder without a layer ({top} -> {other})")
                elif RANKS[other] >= RANKS[top]:
                    faults.append(f"{os.path.relpath(path, src)}: includes {include}, which is not below {top}")
    faults += cycles(graph)
    for fault in faults:
        print(fault)
    print(f"layers: {len(known)} units, {sum(len(t) for t in graph.values())} includes, {len(faults)} faults")
    return 1 if faults else 0


def cycles(graph):
    """Each cycle of units, once, as a fault."""
    state, stack, found = {}, [], []
    def visit(unit):
        state[unit] = "open"
        stack.append(unit)
        for target in sorted(graph[unit]):
            if state.get(target) == "open":
                loop = stack[stack.index(target):] + [target]
                found.append("include cycle: " + " -> ".join(loop))
            elif target not in state:
                visit(target)
        stack.pop()
        state[unit] = "done"
    sys.setrecursionlimit(10000)
    for unit in sorted(graph):
        if unit not in state:
            visit(unit)
    return found


if __name__ == "__main__":
    sys.exit(main())
