#!/usr/bin/env python3
"""Fails when a source file includes a header from a layer it may not depend on, or when
units of one layer include each other in a circle (a unit: a header with its source file).

    scripts/check-layers.py [SOURCE_ROOT]

The layers, lowest first: res -> base -> engine/platform -> engine -> ui/controls -> ui
-> app and cli. The build's include paths alone cannot say this: the control kit needs
the engine's include folder for two platform headers, and every target above the engine
sees all of it.
"""

import pathlib
import re
import sys

# Which folders each folder may include from (besides itself). A header name maps to
# the folders it may come from; a folder not named here is not checked.
ALLOWED = {
    "res": set(),
    "base": {"res"},
    "engine/platform": {"res", "base"},
    "engine": {"res", "base", "engine/platform"},
    # The controls carry window messages made of the platform's handle and message
    # types; nothing else of the engine, so they stay usable by a program without scans.
    "ui/controls": {"res", "base", "engine/platform:Types.h", "engine/platform:Window.h"},
    "ui": {"res", "base", "engine/platform", "engine", "ui/controls"},
    "app": {"res", "base", "engine/platform", "engine", "ui/controls", "ui"},
    "cli": {"res", "base", "engine/platform", "engine"},
}

# The include folders the targets publish, where a bare "Name.h" is looked up.
INCLUDE_ROOTS = ["res", "base", "engine", "ui/controls", "ui", "app", "cli"]

SOURCE_SUFFIXES = {".h", ".cpp"}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def layer_of(rel: pathlib.PurePosixPath):
    """The most specific layer folder holding rel (ui/gallery belongs to ui)."""
    best = None
    for layer in ALLOWED:
        parts = pathlib.PurePosixPath(layer).parts
        if rel.parts[: len(parts)] == parts and (best is None or len(parts) > len(best.split("/"))):
            best = layer
    return best


def resolve(root: pathlib.Path, including: pathlib.Path, name: str):
    """Every source file the include may name: beside the includer, then the roots."""
    found = []
    beside = including.parent / name
    if beside.is_file():
        found.append(beside.resolve())
    for inc in INCLUDE_ROOTS:
        cand = root / inc / name
        if cand.is_file() and cand.resolve() not in found:
            found.append(cand.resolve())
    return found


def allowed(source_layer: str, target_layer: str, target: pathlib.Path) -> bool:
    if source_layer == target_layer:
        return True
    rules = ALLOWED[source_layer]
    return target_layer in rules or f"{target_layer}:{target.name}" in rules


def unit_of(rel: pathlib.PurePosixPath) -> str:
    return rel.with_suffix("").as_posix()


def circles(edges):
    """The strongly connected groups of more than one unit (Tarjan, without recursion)."""
    index, low, stack, on_stack, found = {}, {}, [], set(), []
    for start in sorted(edges):
        if start in index:
            continue
        work = [(start, iter(sorted(edges.get(start, ()))))]
        index[start] = low[start] = len(index)
        stack.append(start)
        on_stack.add(start)
        while work:
            node, children = work[-1]
            child = next(children, None)
            if child is not None:
                if child not in index:
                    index[child] = low[child] = len(index)
                    stack.append(child)
                    on_stack.add(child)
                    work.append((child, iter(sorted(edges.get(child, ())))))
                elif child in on_stack:
                    low[node] = min(low[node], index[child])
                continue
            work.pop()
            if work:
                low[work[-1][0]] = min(low[work[-1][0]], low[node])
            if low[node] == index[node]:
                group = []
                while True:
                    member = stack.pop()
                    on_stack.discard(member)
                    group.append(member)
                    if member == node:
                        break
                if len(group) > 1:
                    found.append(tuple(sorted(group)))
    return sorted(found)


def check(root: pathlib.Path):
    faults = []
    edges = {}  # unit -> the units of its own layer it includes
    root = root.resolve()
    for layer in ALLOWED:
        folder = root / layer
        if not folder.is_dir():
            continue
        for path in sorted(folder.rglob("*")):
            if path.suffix not in SOURCE_SUFFIXES or not path.is_file() or path.is_symlink():
                continue
            rel = pathlib.PurePosixPath(path.relative_to(root).as_posix())
            if layer_of(rel) != layer:
                continue  # checked under its more specific folder
            for lineno, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
                m = INCLUDE.match(line)
                if not m:
                    continue
                targets = resolve(root, path, m.group(1))
                if len(targets) > 1:
                    names = ", ".join(t.relative_to(root).as_posix() for t in targets)
                    faults.append(f"{rel}:{lineno}: \"{m.group(1)}\" is ambiguous: {names}")
                    continue
                if not targets:
                    continue  # a generated or system header
                target = targets[0]
                target_rel = pathlib.PurePosixPath(target.relative_to(root).as_posix())
                target_layer = layer_of(target_rel)
                if target_layer == layer and unit_of(target_rel) != unit_of(rel):
                    edges.setdefault(unit_of(rel), set()).add(unit_of(target_rel))
                if target_layer is None or allowed(layer, target_layer, target):
                    continue
                faults.append(f"{rel}:{lineno}: includes {target_rel}: "
                              f"{layer}/ may not include from {target_layer}/")
    for group in circles(edges):
        faults.append("units that include each other in a circle: " + ", ".join(group))
    return faults


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).parent.parent)
    faults = check(root)
    for fault in faults:
        print(fault)
    if faults:
        print(f"{len(faults)} include(s) against the layers")
        return 1
    print("layers: every include points down, no units include each other in a circle")
    return 0


if __name__ == "__main__":
    sys.exit(main())
