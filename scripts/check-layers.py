#!/usr/bin/env python3
"""Fails when a file of src/ includes a header of a layer its folder may not reach.

The table is src/layers.txt: each line "folder: names" lets the folder include its own
headers and those of the folders it names, and of what those name in turn. An include
"x/y.h" whose x is a folder of the table must be allowed; other includes (system headers,
headers beside the file, generated ones) are not the table's business.

    scripts/check-layers.py [SOURCE_DIR]     exit 0 when every include is allowed
"""
import pathlib
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/[^"]+"')


def read_table(path):
    names = {}
    for number, line in enumerate(path.read_text().splitlines(), 1):
        line = line.split("#", 1)[0].strip()
        if not line:
            continue
        folder, sep, rest = line.partition(":")
        if not sep or not folder.strip():
            sys.exit(f"{path}:{number}: expected 'folder: names', got {line!r}")
        names[folder.strip()] = rest.split()
    for folder, below in names.items():
        for name in below:
            if name not in names:
                sys.exit(f"{path}: {folder} names {name}, which is no folder of the table")
    return names


def reachable(names):
    allowed = {}

    def walk(folder, seen):
        for name in names[folder]:
            if name not in seen:
                seen.add(name)
                walk(name, seen)
        return seen

    for folder in names:
        allowed[folder] = walk(folder, {folder})
        if any(folder in walk(name, {name}) for name in names[folder]):
            sys.exit(f"layers.txt: {folder} reaches itself through the folders it names")
    return allowed


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).parent.parent)
    src = root / "src"
    names = read_table(src / "layers.txt")
    allowed = reachable(names)
    errors = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp", ".rc", ".in") or not path.is_file():
            continue
        folder = path.relative_to(src).parts[0]
        if folder not in names:
            errors.append(f"{path.relative_to(root)}: folder {folder} is not in src/layers.txt")
            continue
        for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            match = INCLUDE.match(line)
            if not match or match.group(1) not in names:
                continue
            target = match.group(1)
            if target not in allowed[folder]:
                errors.append(f"{path.relative_to(root)}:{number}: {folder} may not include "
                              f"{line.split(chr(34))[1]} ({target} is not below {folder} "
                              f"in src/layers.txt)")
    for error in errors:
        print(error, file=sys.stderr)
    if errors:
        print(f"layer check: {len(errors)} include(s) against src/layers.txt", file=sys.stderr)
        return 1
    print(f"layer check: every include of src/ follows src/layers.txt ({len(names)} folders)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
