#!/usr/bin/env python3
"""Checks the converter's layers: every source of fwpack/ lies in a layer
folder, includes the headers of other folders by their folder ("model/..."),
reaches only its own layer and those below it, and no file includes itself
through others. Prints each breach and exits 1 when there is one."""
import os
import re
import sys

# From the ground up; the same order as fwpack/CMakeLists.txt.
LAYERS = ["util", "sys", "model", "formats", "image", "dfuse", "layout", "stage", "load", "info", "app"]
RANK = {name: rank for rank, name in enumerate(LAYERS)}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def main(root):
    breaches = []
    graph = {}
    for folder, _, files in os.walk(root):
        for name in files:
            if not name.endswith((".h", ".cpp")):
                continue
            path = os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/")
            layer = path.split("/")[0]
            if "/" not in path or layer not in RANK:
                breaches.append(f"{path}: lies in no layer folder ({', '.join(LAYERS)})")
                continue
            with open(os.path.join(root, path), encoding="utf-8") as source:
                includes = INCLUDE.findall(source.read())
            graph[path] = []
            for include in includes:
                target = include.split("/")[0]
                if "/" not in include or target not in RANK:
                    breaches.append(f'{path}: includes "{include}", which names no layer folder')
                elif not os.path.isfile(os.path.join(root, include)):
                    breaches.append(f'{path}: includes "{include}", which does not exist')
                elif RANK[target] > RANK[layer]:
                    breaches.append(f'{path}: includes "{include}" of the higher layer {target}')
                else:
                    graph[path].append(include)
    breaches += circles(graph)
    for breach in breaches:
        print(breach)
    print(f"{len(graph)} files in {len(LAYERS)} layers: " + ("ok" if not breaches else f"{len(breaches)} breaches"))
    return 1 if breaches else 0


def circles(graph):
    """One line for each include circle found by a depth-first walk."""
    found = []
    state = {}  # 1: on the walk's path, 2: done

    def walk(node, path):
        state[node] = 1
        for nxt in graph.get(node, []):
            if state.get(nxt) == 1:
                cycle = path[path.index(nxt):] + [nxt]
                found.append("include circle: " + " -> ".join(cycle))
            elif nxt not in state:
                walk(nxt, path + [nxt])
        state[node] = 2

    for node in sorted(graph):
        if node not in state:
            walk(node, [node])
    return found


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "fwpack")))
