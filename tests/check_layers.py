#!/usr/bin/env python3
"""The folders of the code are layers: a file includes only headers of its own folder or of a
folder below it, and no folder holds more than a third of the program's code.

Usage: check_layers.py SOURCE_DIR
"""
import os
import re
import sys

# From the top; folders on one line are at the same height and do not include each other.
LAYERS = [("app", "cli"), ("serving",), ("web_panel", "scpi", "dns_sd"), ("instrument",),
          ("link", "preview"), ("signal", "res")]
HEIGHT = {folder: len(LAYERS) - i for i, row in enumerate(LAYERS) for folder in row}
CODE = (".cpp", ".h", ".c", ".rc", ".in")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/')


def main():
    root = sys.argv[1]
    lines, faults = dict.fromkeys(HEIGHT, 0), []
    for folder in HEIGHT:
        names = sorted(name for name in os.listdir(os.path.join(root, folder)) if name.endswith(CODE))
        for path in (os.path.join(root, folder, name) for name in names):
            with open(path, encoding="utf-8", errors="replace") as source:
                for number, text in enumerate(source, 1):
                    lines[folder] += bool(text.strip())
                    match = INCLUDE.match(text)
                    if not match or match.group(1) == folder:
                        continue
                    target = match.group(1)
                    if target not in HEIGHT or HEIGHT[target] >= HEIGHT[folder]:
                        faults.append(f"{os.path.relpath(path, root)}:{number}: {folder}/ "
                                      f"includes {target}/, which is not below it")
    total = sum(lines.values())
    for folder, count in lines.items():
        if count * 3 > total:
            faults.append(f"{folder}/ holds {count} of {total} lines, more than a third")
    for fault in faults:
        print(fault, file=sys.stderr)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
