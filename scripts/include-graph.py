#!/usr/bin/env python3
"""The program's include graph: its circles and the edges the layering forbids.

Reads every .h/.cpp of the program's folders, follows `#include "..."` edges
between them and prints the strongly connected components with more than one
node, once with files as nodes and once with a header and its .cpp as one
module. Exits 1 when a forbidden edge exists or a circle holds both a link/
and an app/ file, printing what broke the rule.

usage: include-graph.py [source root]   (default: the folder above this script)
"""

import os
import re
import sys

FOLDERS = ["app", "link", "power", "persist", "charts", "util", "platform", "record", "remote", "sequence",
           "ui"]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)

PANEL_CODE = ("power/PanelBinding.", "power/FrontPanel.")

# (who includes, what it must not include, why) as path prefixes.
FORBIDDEN = [
    (src, dst, why)
    for src in ("link/", "record/", "remote/", "sequence/")
    for dst, why in [("app/", "the shell")] + [(p, "the panel code") for p in PANEL_CODE]
] + [
    ("link/", "persist/Language.", "the language tables"),
    ("persist/", "remote/", "the remote server"),
    ("persist/", "app/", "the shell"),
]


def read_graph(root):
    files = []
    for folder in FOLDERS:
        top = os.path.join(root, folder)
        if not os.path.isdir(top):
            continue
        for base, _, names in os.walk(top):
            for name in names:
                if name.endswith((".h", ".cpp")):
                    files.append(os.path.relpath(os.path.join(base, name), root))
    known = set(files)
    edges = {}
    for f in sorted(files):
        with open(os.path.join(root, f), encoding="utf-8", errors="replace") as fh:
            targets = INCLUDE.findall(fh.read())
        edges[f] = sorted({t for t in targets if t in known and t != f})
    return edges


def module_of(path):
    return os.path.splitext(path)[0]


def module_graph(edges):
    modules = {}
    for src, dsts in edges.items():
        out = modules.setdefault(module_of(src), set())
        out.update(module_of(d) for d in dsts if module_of(d) != module_of(src))
    return {m: sorted(d) for m, d in modules.items()}


def circles(graph):
    """Tarjan's strongly connected components with more than one node."""
    index, low, on_stack, stack, found = {}, {}, set(), [], []
    counter = [0]

    def visit(root):
        # Iterative, so that a deep chain does not meet the recursion limit.
        work = [(root, iter(graph.get(root, ())))]
        index[root] = low[root] = counter[0]
        counter[0] += 1
        stack.append(root)
        on_stack.add(root)
        while work:
            node, it = work[-1]
            advanced = False
            for nxt in it:
                if nxt not in index:
                    index[nxt] = low[nxt] = counter[0]
                    counter[0] += 1
                    stack.append(nxt)
                    on_stack.add(nxt)
                    work.append((nxt, iter(graph.get(nxt, ()))))
                    advanced = True
                    break
                if nxt in on_stack:
                    low[node] = min(low[node], index[nxt])
            if advanced:
                continue
            work.pop()
            if work:
                low[work[-1][0]] = min(low[work[-1][0]], low[node])
            if low[node] == index[node]:
                component = []
                while True:
                    top = stack.pop()
                    on_stack.discard(top)
                    component.append(top)
                    if top == node:
                        break
                if len(component) > 1:
                    found.append(sorted(component))

    for node in sorted(graph):
        if node not in index:
            visit(node)
    return sorted(found, key=lambda c: (-len(c), c))


def report(title, comps):
    print(f"{title}: {len(comps)} circle(s)")
    for i, comp in enumerate(comps, 1):
        print(f"  circle {i} ({len(comp)} nodes):")
        for node in comp:
            print(f"    {node}")
    return comps


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    root = os.path.abspath(root)
    edges = read_graph(root)
    broken = []

    for src, dsts in edges.items():
        for dst in dsts:
            for src_prefix, dst_prefix, why in FORBIDDEN:
                if src.startswith(src_prefix) and dst.startswith(dst_prefix):
                    broken.append(f"forbidden edge: {src} -> {dst} ({src_prefix} must not reach {why})")

    for title, graph in (("files", edges), ("modules", module_graph(edges))):
        for comp in report(title, circles(graph)):
            if any(n.startswith("link/") for n in comp) and any(n.startswith("app/") for n in comp):
                broken.append(f"{title}: a circle holds both link/ and app/: " + ", ".join(comp))

    for line in broken:
        print(line)
    print("include rules: " + ("broken" if broken else "kept"))
    return 1 if broken else 0


if __name__ == "__main__":
    sys.exit(main())
