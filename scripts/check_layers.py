#!/usr/bin/env python3
"""Checks that the source tree's includes keep its layers one-way.

The rule:

  Layers, lowest first: platform/ < link/ < secure/ and plain/ < poll/ <
  report/ < app/. A file may include its own layer and the layers below it,
  never one above. secure/ and plain/ stand side by side: neither includes
  the other.

  app/NAME/ is one program (kestrow, brimlet, rwreport, rwstation): what is
  in it is that program's alone. Only app/NAME/ itself and its tests,
  tests/app/NAME/, include from it; another program, a layer, a fuzz target
  or another test never does.

  sim/, bench/, fuzz/ and tests/ are consumers: they may include any layer
  and each other, but no layer and no program includes them.

Quoted includes are resolved as the compiler does: beside the including file
first, then from the top of the tree; what is found in neither (a generated
header such as project_version.h) is no part of the rule. Angle-bracket
includes are system and library headers.

Usage: check_layers.py [TREE]  (default: the tree this script is in)
Prints one line per include that breaks the rule and exits 1; exits 0 when
there is none.
"""
import os
import re
import sys

LAYERS = {"platform": 0, "link": 1, "secure": 2, "plain": 2, "poll": 3, "report": 4}
PROGRAM_RANK = 5
CONSUMERS = {"sim", "bench", "fuzz", "tests"}
SOURCE_ENDINGS = (".cpp", ".cc", ".h", ".hpp")
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def unit_of(path):
    """The part of the tree a file belongs to: a layer's name, "app/NAME",
    "tests/app/NAME" for a program's tests, another consumer's name, or None
    outside all of them."""
    parts = path.split("/")
    if parts[0] == "app" and len(parts) > 2:
        return "app/" + parts[1]
    if parts[:2] == ["tests", "app"] and len(parts) > 3:
        return "tests/app/" + parts[2]
    if parts[0] in LAYERS or parts[0] in CONSUMERS:
        return parts[0]
    return None


def is_consumer(unit):
    return unit is not None and unit.split("/")[0] in CONSUMERS


def rank(unit):
    return PROGRAM_RANK if unit.startswith("app/") else LAYERS[unit]


def breach(source, target):
    """Why `source` may not include `target` (tree paths), or None."""
    have, want = unit_of(source), unit_of(target)
    if have is None or want is None or have == want:
        return None
    if want.startswith("app/"):
        if have == "tests/" + want:
            return None
        return f"{want}/ is the program's own; only it and tests/{want}/ include from it"
    if is_consumer(want):
        if is_consumer(have):
            return None
        return f"{want}/ is a consumer; no layer or program includes it"
    if is_consumer(have) or rank(want) < rank(have):
        return None
    if rank(want) == rank(have):
        return f"{have}/ and {want}/ stand side by side; neither includes the other"
    return f"{want}/ is a layer above {have}/"


def resolve(tree, source, name):
    """The tree path a quoted include names, or None when it is not in the
    tree."""
    for base in (os.path.dirname(source), ""):
        candidate = os.path.normpath(os.path.join(base, name)).replace(os.sep, "/")
        if not candidate.startswith("../") and os.path.isfile(os.path.join(tree, candidate)):
            return candidate
    return None


def sources(tree):
    for folder, subfolders, files in os.walk(tree):
        # Build trees and hidden folders (.git) hold no sources of ours.
        subfolders[:] = sorted(d for d in subfolders
                               if not d.startswith(".") and not d.startswith("build"))
        for name in sorted(files):
            if name.endswith(SOURCE_ENDINGS):
                yield os.path.relpath(os.path.join(folder, name), tree).replace(os.sep, "/")


def breaches(tree):
    found = []
    for source in sources(tree):
        with open(os.path.join(tree, source), encoding="utf-8", errors="replace") as text:
            for number, line in enumerate(text, 1):
                match = INCLUDE.match(line)
                target = match and resolve(tree, source, match.group(1))
                why = target and breach(source, target)
                if why:
                    found.append(f"{source}:{number}: includes {target}: {why}")
    return found


def main(argv):
    tree = argv[1] if len(argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    found = breaches(os.path.abspath(tree))
    for line in found:
        print(line)
    if found:
        print(f"{len(found)} include(s) against the layer rule:\n{__doc__.split('Quoted')[0]}",
              file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
