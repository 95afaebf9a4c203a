#!/usr/bin/python3
"""Lists the recipes of a README in order, for a test to run exactly as
written. A recipe is a fenced code block preceded by a marker line:

    <!-- recipe: file NAME -->      the block is the content of the file NAME
    <!-- recipe: run -->            a shell block, run in the work folder
    <!-- recipe: run in the tree --> a shell block, run at the top of the tree
    <!-- recipe: background -->     a shell block started and left running

Usage: readme_recipes.py README OUTDIR
Writes OUTDIR/NN.KIND (the block) and OUTDIR/NN.name (the file name for a
"file" recipe), and prints one line per recipe: NN KIND [NAME]."""

import os
import re
import sys

MARKER = re.compile(r"^<!-- recipe: (file (\S+)|run in the tree|run|background) -->$")
KINDS = {"run": "run", "run in the tree": "tree", "background": "background"}


def recipes(text):
    lines = text.split("\n")
    found = []
    i = 0
    while i < len(lines):
        m = MARKER.match(lines[i])
        i += 1
        if not m:
            continue
        if i >= len(lines) or not lines[i].startswith("```"):
            raise SystemExit("recipe marker not followed by a code block at line %d" % i)
        fence = re.match(r"^`+", lines[i]).group(0)
        body = []
        i += 1
        while i < len(lines) and lines[i] != fence:
            body.append(lines[i])
            i += 1
        if i >= len(lines):
            raise SystemExit("unterminated code block of the recipe before line %d" % i)
        kind = "file" if m.group(2) else KINDS[m.group(1)]
        found.append((kind, m.group(2), "\n".join(body) + "\n"))
    return found


def main():
    readme, out = sys.argv[1], sys.argv[2]
    with open(readme, encoding="utf-8") as f:
        found = recipes(f.read())
    if not found:
        raise SystemExit("no recipes in " + readme)
    os.makedirs(out, exist_ok=True)
    for n, (kind, name, body) in enumerate(found, 1):
        with open(os.path.join(out, "%02d.%s" % (n, kind)), "w", encoding="utf-8") as f:
            f.write(body)
        print("%02d %s%s" % (n, kind, " " + name if name else ""))


if __name__ == "__main__":
    main()
