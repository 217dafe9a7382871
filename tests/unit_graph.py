#!/usr/bin/env python3
"""Checks that the machine's units call only the units they list in src/CMakeLists.txt.

Reads build/unit_graph.txt (unit, library file, listed units), asks nm for the symbols
each unit library defines and the ones it uses, and fails when a unit uses a symbol
that another unit defines without listing that unit, directly or through the units it
lists. Since the listed graph has no cycle (the configuration refuses one), a call up
the graph, which would close a cycle, fails here.

Usage: unit_graph.py BUILD_DIR
"""
import subprocess
import sys


def symbols(library, *flags):
    out = subprocess.run(["nm", "-C", *flags, library], check=True, capture_output=True,
                         text=True).stdout
    names = set()
    for line in out.splitlines():
        parts = line.split(None, 2) if "--defined-only" in flags else line.split(None, 1)
        if "--defined-only" in flags:
            if len(parts) == 3 and parts[1] in "TDBRVW":
                names.add(parts[2])
        elif len(parts) == 2 and parts[0] == "U":
            names.add(parts[1])
    return names


def main():
    build = sys.argv[1]
    units = {}
    with open(f"{build}/unit_graph.txt") as f:
        for line in f:
            fields = line.split()
            if not fields:
                continue
            deps = fields[2].split(",") if len(fields) > 2 else []
            units[fields[0]] = (fields[1], [d for d in deps if d])

    def below(unit, seen=None):
        seen = set() if seen is None else seen
        for dep in units[unit][1]:
            if dep not in seen:
                seen.add(dep)
                below(dep, seen)
        return seen

    defined = {u: symbols(lib, "--defined-only") for u, (lib, _) in units.items()}
    faults = []
    for unit, (lib, _) in units.items():
        allowed = below(unit) | {unit}
        for name in sorted(symbols(lib, "-u")):
            owners = [u for u, names in defined.items() if name in names]
            if owners and not any(o in allowed for o in owners):
                faults.append(f"{unit} uses {name} of {', '.join(owners)}, which it does not list")
    for fault in faults:
        print(fault)
    print(f"unit_graph: {len(units)} units, {len(faults)} undeclared uses")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
