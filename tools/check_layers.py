#!/usr/bin/env python3
"""Keeps the folders under src/ a stack of layers.

The layers, bottom to top (README, "Layout"):

    base < proc < sys < zip < net < catalogue < ui < install < uninstall < app

A file may include files of its own folder and of lower folders only; within a
folder, no two files (a header and its source count as one) may include each
other, directly or round a longer circle. Reads every `#include "..."` under
src/ and prints each breach with the file, the line and both layers; exits 1
when there is one. Tests, tools and bench are outside the check.

    python3 tools/check_layers.py [SRC_DIR]
"""
import os
import re
import sys

LAYERS = ["base", "proc", "sys", "zip", "net", "catalogue", "ui", "install", "uninstall", "app"]
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def scan(src):
    """Yields (path, line number, folder, included text) for every quoted include."""
    for folder in sorted(os.listdir(src)):
        top = os.path.join(src, folder)
        if not os.path.isdir(top):
            continue
        for root, _, files in os.walk(top):
            for name in sorted(files):
                if not name.endswith((".h", ".hpp", ".cpp", ".c")):
                    continue
                path = os.path.join(root, name)
                with open(path, encoding="utf-8", errors="replace") as f:
                    for number, line in enumerate(f, 1):
                        m = INCLUDE.match(line)
                        if m:
                            yield path, number, folder, m.group(1)


def find_circles(edges):
    """The circles of a directed graph {node: {node: where}}, each as a list of nodes."""
    index, low, stack, on_stack, circles, counter = {}, {}, [], set(), [], [0]

    def visit(node):   # Tarjan's strongly connected components
        index[node] = low[node] = counter[0]
        counter[0] += 1
        stack.append(node)
        on_stack.add(node)
        for nxt in edges.get(node, {}):
            if nxt not in index:
                visit(nxt)
                low[node] = min(low[node], low[nxt])
            elif nxt in on_stack:
                low[node] = min(low[node], index[nxt])
        if low[node] == index[node]:
            part = []
            while True:
                top = stack.pop()
                on_stack.discard(top)
                part.append(top)
                if top == node:
                    break
            if len(part) > 1:
                circles.append(sorted(part))

    for node in sorted(edges):
        if node not in index:
            visit(node)
    return circles


def check(src):
    problems = []
    rank = {name: i for i, name in enumerate(LAYERS)}
    for folder in sorted(os.listdir(src)):
        if os.path.isdir(os.path.join(src, folder)) and folder not in rank:
            problems.append("%s: folder %s is not a layer (add it to LAYERS in tools/check_layers.py and the README)"
                            % (os.path.join(src, folder), folder))
    modules = {}   # folder -> {module: {included module: first place}}
    for path, number, folder, text in scan(src):
        where = "%s:%d" % (path, number)
        if folder not in rank:
            continue
        if ".." in text.split("/"):
            problems.append("%s: includes %s: name the folder instead of climbing with .." % (where, text))
            continue
        if "/" in text:
            target = text.split("/", 1)[0]
            if target not in rank:
                if os.path.isdir(os.path.join(src, target)):
                    continue   # reported above as a folder that is no layer
                problems.append("%s: includes %s: %s is no folder under src" % (where, text, target))
                continue
        elif os.path.exists(os.path.join(os.path.dirname(path), text)):
            target = folder
        else:
            continue   # resources and generated headers (resource.h, ...) are below every layer
        if rank[target] > rank[folder]:
            problems.append("%s: includes %s: layer %s (%d) may not include the higher layer %s (%d)"
                            % (where, text, folder, rank[folder] + 1, target, rank[target] + 1))
        elif target == folder:
            own = os.path.splitext(os.path.basename(path))[0]
            other = os.path.splitext(os.path.basename(text))[0]
            if own != other:
                modules.setdefault(folder, {}).setdefault(own, {}).setdefault(other, where)
    for folder, edges in sorted(modules.items()):
        for circle in find_circles(edges):
            steps = []
            for a in circle:
                for b, where in sorted(edges[a].items()):
                    if b in circle:
                        steps.append("%s includes %s (%s)" % (a, b, where))
            problems.append("src/%s: files include each other: %s; %s"
                            % (folder, ", ".join(circle), "; ".join(steps)))
    return problems


def main():
    src = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src")
    problems = check(os.path.relpath(src))
    for p in problems:
        print(p)
    if problems:
        print("check_layers: %d problem(s); layers bottom to top: %s" % (len(problems), " < ".join(LAYERS)))
        return 1
    print("check_layers: src/ keeps its layers (%s)" % " < ".join(LAYERS))
    return 0


if __name__ == "__main__":
    sys.exit(main())
