#!/usr/bin/env python3
"""Reads every #include of the tree and fails on an edge the layer order does not allow.

The plug-in's layers, bottom to top, are LAYERS below: a file may include its own layer
and the layers under it. host/ and sim/ stand apart: both may use platform/ and
framework/ (the host contract, framework/plugin_abi.h, included), and the host also the
simulator, which it offers in-process as `--device sim`. Tests (files in a tests/ or
testing/ folder) may also include the simulator and the test helpers of the layers they
may include. tests/, bench/ and fuzz/ at the top may include anything but the hosts'
sources. Operating-system headers belong to platform/ (and to the hosts, the simulator
and tests, which are not the plug-in).

Usage: check_layers.py [ROOT]   (prints one line per bad edge; exit status 1 if any)
"""
import os
import re
import sys

LAYERS = ["platform", "framework", "resources", "reporting", "serial", "protocol", "models",
          "device", "catalogue", "ui", "operations", "plugin"]
APART = {
    "sim": {"platform", "framework", "sim"},
    "host": {"platform", "framework", "sim", "host"},
}
TOP = {"tests", "bench", "fuzz"}
SOURCE_ENDINGS = (".c", ".cc", ".cpp", ".h", ".hpp", ".inc", ".in")
SKIP_DIRS = {".git", "node_modules"}
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^">]+)[">]')
# Headers of the operating system that only platform/ may use in the plug-in's layers.
OS_HEADER = re.compile(r"^(unistd|termios|fcntl|dlfcn|poll|pwd|signal|dirent|pthread|"
                       r"sys/.*|linux/.*|asm/.*|windows|winbase|winreg|io)\.h$")


def layer_of(path):
    return path.split("/", 1)[0] if "/" in path else ""


def is_test(path):
    parts = path.split("/")[1:-1]
    return "tests" in parts or "testing" in parts


def allowed(src, target):
    """Whether file `src` may include `target` (both paths from the root)."""
    a, b = layer_of(src), layer_of(target)
    if a == b:
        return True
    if a in TOP:
        return b != "host"
    if a in APART:
        return b in APART[a] or (is_test(src) and b in LAYERS)
    if a in LAYERS:
        if b in LAYERS and LAYERS.index(b) <= LAYERS.index(a):
            return True
        return is_test(src) and b == "sim"
    return True  # scripts and resources outside the layers are not checked


def check(root):
    problems = []
    for folder, dirs, files in os.walk(root):
        dirs[:] = sorted(d for d in dirs if d not in SKIP_DIRS and not d.startswith("build"))
        for name in sorted(files):
            if not name.endswith(SOURCE_ENDINGS):
                continue
            full = os.path.join(folder, name)
            path = os.path.relpath(full, root).replace(os.sep, "/")
            if "/" not in path:
                continue
            with open(full, encoding="utf-8", errors="replace") as f:
                for number, line in enumerate(f, 1):
                    m = INCLUDE.match(line)
                    if not m:
                        continue
                    kind, target = m.groups()
                    src_layer = layer_of(path)
                    if kind == "<":
                        if (src_layer in LAYERS and src_layer != "platform" and
                                not is_test(path) and OS_HEADER.match(target)):
                            problems.append(f"{path}:{number}: <{target}>: only platform may "
                                            f"use the operating system, not {src_layer}")
                        continue
                    if "/" not in target:
                        continue  # a header beside the file
                    if not allowed(path, target):
                        problems.append(f"{path}:{number}: \"{target}\": {src_layer} may not "
                                        f"include {layer_of(target)}")
    return problems


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..")
    problems = check(os.path.abspath(root))
    for p in problems:
        print(p)
    if problems:
        print(f"{len(problems)} include(s) against the layer order")
        return 1
    print("every include follows the layer order")
    return 0


if __name__ == "__main__":
    sys.exit(main())
