#!/usr/bin/python3
"""Checks that every program folder includes only its own headers and those of the folders below it.

The order is the build's: a folder may use the ones listed before it (CMakeLists.txt, QM_SUBSYSTEMS).
Prints each include that runs against it and exits 1 when there is one."""
import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parents[2])
cmake = (root / "CMakeLists.txt").read_text()
order = re.search(r"set\(QM_SUBSYSTEMS ([^)]*)\)", cmake).group(1).split()
rank = {name: i for i, name in enumerate(order)}
include = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/', re.M)

wrong = []
for folder in order:
    if folder == "tools":
        continue
    for path in sorted((root / folder).rglob("*")):
        if path.suffix not in (".h", ".cpp", ".c"):
            continue
        for used in include.findall(path.read_text(errors="replace")):
            if used in rank and rank[used] > rank[folder]:
                wrong.append(f"{path.relative_to(root)}: includes {used}/, which builds after {folder}/")
for line in wrong:
    print(line)
print(f"layers: {len(wrong)} includes against the order {' < '.join(order)}")
sys.exit(1 if wrong else 0)
