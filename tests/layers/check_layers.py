#!/usr/bin/env python3
"""Reads every #include and every CMake link line of the tree and fails on an edge the
layer order does not allow.

The plug-in's layers, bottom to top, are LAYERS below: a file may include, and a target
link, its own layer and the layers under it. host/ and sim/ stand apart: both may use
platform/ and framework/ (the host contract, framework/plugin_abi.h, included), and the
host also the simulator, which it offers in-process as `--device sim`. Tests (files in a
tests/ or testing/ folder, test programs) may also use the simulator and the test
helpers of the layers they may use. tests/, bench/ and fuzz/ at the top may use anything
but the hosts. Only tests use test helpers.

A project header is one whose first folder is a layer, host/, sim/ or a top folder,
whether written "device/x.h" or <device/x.h>.

Operating-system headers (OS_HEADER, any letter case, quoted or angled) are included by
platform's backends (platform/posix/, platform/win32/) and its tests and test helpers, by
the programs that are not the plug-in (host/, sim/) and by tests and measurements (a
tests/ folder, bench/, fuzz/). platform's own files directly in platform/ are the portable
interface and the code that knows no system, and never include them; nor do the plug-in's
layers above platform/, their test helpers (testing/ folders) included.

libframework.so (CMake target `framework`) is the one shared library of platform/ and
framework/: a link to it is how a target reaches platform's services, so platform/'s own
test helpers may link it. Its framework half is held down by the include check.

Usage: check_layers.py [ROOT]   (prints one line per bad edge; exit status 1 if any)
"""
import os
import posixpath
import re
import sys

LAYERS = ["platform", "framework", "resources", "reporting", "serial", "protocol", "models",
          "device", "catalogue", "ui", "operations", "plugin"]
APART = {
    "sim": {"platform", "framework", "sim"},
    "host": {"platform", "framework", "sim", "host"},
}
TOP = {"tests", "bench", "fuzz"}
PROJECT = set(LAYERS) | set(APART) | TOP
SOURCE_ENDINGS = (".c", ".cc", ".cpp", ".h", ".hpp", ".inc", ".in")
SKIP_DIRS = {".git", "node_modules"}
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^">]+)[">]')

# The operating system's own headers: POSIX and Linux, then Windows and its C runtime.
OS_HEADER = re.compile(
    r"^(?:"
    r"(?:unistd|termios|termio|fcntl|dlfcn|poll|pwd|grp|signal|dirent|pthread|sched|"
    r"semaphore|spawn|netdb|ifaddrs|pty|utmp|utmpx|syslog|glob|fnmatch|libgen|utime|"
    r"aio|mqueue|wordexp|execinfo|link|err|sysexits|paths|resolv|poll|mntent|"
    r"ucontext|ulimit|shadow|crypt|elf)\.h"
    r"|(?:sys|arpa|netinet|netinet6|net|linux|asm|asm-generic|bits|scsi|mtd|netpacket)/.+"
    r"|(?:windows|windef|winbase|winnt|winuser|winreg|winerror|winsock|winsock2|ws2tcpip|"
    r"ws2def|mswsock|wininet|winhttp|winioctl|winsvc|wincrypt|wincon|winver|iphlpapi|"
    r"ntdef|ntstatus|ntsecapi|devguid|setupapi|cfgmgr32|shellapi|shlobj|shlwapi|"
    r"objbase|ole2|oleauto|commctrl|commdlg|mmsystem|tlhelp32|psapi|dbghelp|userenv|"
    r"aclapi|sddl|lmcons|process|io|direct|conio|share|tchar|afunix)\.h"
    r")$", re.IGNORECASE)

# CMake: the commands that make a target, and those that name what a target links.
MAKES_TARGET = {"add_library", "add_executable", "kv70_add_layer", "kv70_add_test",
                "kv70_add_fuzzer"}
LINK_KEYWORDS = {"kv70_add_layer": "LINKS", "kv70_add_test": "LIBS"}
HELPER_KEYWORDS = {"SOURCES", "LINKS", "LIBS", "LABELS", "POSIX_ONLY"}
LIBRARY_WORDS = {"STATIC", "SHARED", "OBJECT", "MODULE", "INTERFACE", "IMPORTED", "ALIAS",
                 "EXCLUDE_FROM_ALL", "WIN32", "MACOSX_BUNDLE", "GLOBAL"}
LINK_WORDS = {"PUBLIC", "PRIVATE", "INTERFACE", "LINK_PUBLIC", "LINK_PRIVATE",
              "LINK_INTERFACE_LIBRARIES", "debug", "optimized", "general"}


def layer_of(path):
    return path.split("/", 1)[0] if "/" in path else ""


def in_folder(path, names):
    return bool(set(path.split("/")[1:-1]) & names)


def is_test(path):
    return in_folder(path, {"tests", "testing"})


def may_use(a, test, b):
    """Whether something of layer `a` (a test if `test`) may use layer `b`."""
    if a == b:
        return True
    if a in TOP:
        return b != "host"
    if a in APART:
        return b in APART[a] or (test and b in LAYERS)
    if a in LAYERS:
        if b in LAYERS and LAYERS.index(b) <= LAYERS.index(a):
            return True
        return test and b == "sim"
    return True  # scripts and resources outside the layers are not checked


def allowed(src, target):
    """Whether file `src` may include `target` (both paths from the root)."""
    return may_use(layer_of(src), is_test(src), layer_of(target))


def is_portable_platform(path):
    """A file directly in platform/: the interface, or code that knows no system."""
    parts = path.split("/")
    return len(parts) == 2 and parts[0] == "platform"


def may_include_os(path):
    layer = layer_of(path)
    if layer == "platform":
        return not is_portable_platform(path)
    return layer not in LAYERS or in_folder(path, {"tests"})


def project_target(path, kind, target):
    """The included file's path from the root, or None for a header outside the project."""
    if kind == '"' and target.startswith("."):
        target = posixpath.normpath(posixpath.join(posixpath.dirname(path), target))
    if "/" not in target or target.split("/", 1)[0] not in PROJECT:
        return None  # a header beside the file, or the system's or a package's
    return target


def check_includes(root):
    problems = []
    for path, full in walk(root, lambda name: name.endswith(SOURCE_ENDINGS)):
        with open(full, encoding="utf-8", errors="replace") as f:
            for number, line in enumerate(f, 1):
                m = INCLUDE.match(line)
                if not m:
                    continue
                kind, target = m.groups()
                written = f"<{target}>" if kind == "<" else f'"{target}"'
                src_layer = layer_of(path)
                beside = kind == '"' and os.path.isfile(
                    os.path.join(os.path.dirname(full), target))
                if OS_HEADER.match(target) and not beside:
                    if is_portable_platform(path):
                        problems.append(f"{path}:{number}: {written}: a portable platform "
                                        f"file may not use the operating system; its "
                                        f"system's half belongs in platform/posix/ or "
                                        f"platform/win32/")
                    elif not may_include_os(path):
                        problems.append(f"{path}:{number}: {written}: only platform may use "
                                        f"the operating system, not {src_layer}")
                    continue
                inside = project_target(path, kind, target)
                if inside and not allowed(path, inside):
                    problems.append(f"{path}:{number}: {written}: {src_layer} may not "
                                    f"include {layer_of(inside)}")
    return problems


def walk(root, wanted):
    for folder, dirs, files in os.walk(root):
        dirs[:] = sorted(d for d in dirs if d not in SKIP_DIRS and not d.startswith("build"))
        for name in sorted(files):
            if not wanted(name):
                continue
            full = os.path.join(folder, name)
            path = os.path.relpath(full, root).replace(os.sep, "/")
            yield path, full


# --- CMake ---------------------------------------------------------------------------------

COMMAND = re.compile(r"([A-Za-z_][A-Za-z0-9_]*)\s*\(")
ARGUMENT = re.compile(r'"(?:[^"\\]|\\.)*"|\$<(?:[^<>]|<[^<>]*>)*>|[^\s()"]+')


def cmake_commands(text):
    """(name, arguments, line) of every command call, comments left out."""
    text = strip_comments(text)
    at = 0
    while True:
        m = COMMAND.search(text, at)
        if not m:
            return
        depth, end = 1, m.end()
        while end < len(text) and depth:
            depth += {"(": 1, ")": -1}.get(text[end], 0)
            end += 1
        body = text[m.end():end - 1]
        arguments = [a[1:-1] if a.startswith('"') else a for a in ARGUMENT.findall(body)]
        yield m.group(1), arguments, text.count("\n", 0, m.start()) + 1
        at = end


def strip_comments(text):
    """The text with every comment blanked; quoted arguments keep their '#'."""
    out, quoted, comment = [], False, False
    for i, c in enumerate(text):
        if comment:
            comment = c != "\n"
            if comment:
                continue
        elif c == '"' and (i == 0 or text[i - 1] != "\\"):
            quoted = not quoted
        elif c == "#" and not quoted:
            comment = True
            continue
        out.append(c)
    return "".join(out)


def expand(arguments, variables):
    out = []
    for a in arguments:
        v = re.fullmatch(r"\$\{(\w+)\}", a)
        out.extend(variables.get(v.group(1), []) if v else [a])
    return out


def linked_names(item):
    """Target names in one link item: a plain name, or inside a generator expression."""
    if item.startswith("$<"):
        inner = item[2:-1]
        return [n for n in re.split(r"[,:;]", inner.split(":", 1)[-1]) if n]
    return [item]


def read_cmake(root):
    """Targets {name: (layer, is test, file)} and link edges [(file, line, from, to)]."""
    targets, edges = {}, []
    for path, full in walk(root, lambda name: name == "CMakeLists.txt"):
        folder = posixpath.dirname(path)
        with open(full, encoding="utf-8", errors="replace") as f:
            text = f.read()
        variables = {}
        for name, arguments, line in cmake_commands(text):
            if name == "function":
                continue
            if name == "set" and arguments:
                variables[arguments[0]] = expand(arguments[1:], variables)
            elif name == "list" and len(arguments) > 1 and arguments[0] == "APPEND":
                variables.setdefault(arguments[1], []).extend(expand(arguments[2:], variables))
            if not arguments or "$" in arguments[0]:
                continue
            target = arguments[0]
            rest = expand(arguments[1:], variables)
            if name in MAKES_TARGET:
                if name == "kv70_add_test":
                    test = True
                else:
                    if name in LINK_KEYWORDS or name == "kv70_add_fuzzer":
                        sources = section(rest, "SOURCES") if name in LINK_KEYWORDS else rest
                    else:
                        sources = [s for s in rest if s not in LIBRARY_WORDS]
                    sources = [posixpath.join(folder, s) if folder else s for s in sources
                               if "$" not in s]
                    test = is_test(path) or (bool(sources) and all(map(is_test, sources)))
                layer = layer_of(path) or (target if target in PROJECT else "")
                targets[target] = (layer, test, path)
            if name in LINK_KEYWORDS:
                links = section(rest, LINK_KEYWORDS[name])
            elif name == "target_link_libraries":
                links = [a for a in rest if a not in LINK_WORDS]
            else:
                continue
            for item in links:
                for linked in linked_names(item):
                    edges.append((path, line, target, linked))
    return targets, edges


def section(arguments, keyword):
    out, inside = [], False
    for a in arguments:
        if a in HELPER_KEYWORDS:
            inside = a == keyword
        elif inside:
            out.append(a)
    return out


def check_links(root):
    targets, edges = read_cmake(root)
    problems = []
    for path, line, source, linked in edges:
        if source not in targets or linked not in targets:
            continue  # imported targets, the system's libraries
        a, a_test, _ = targets[source]
        b, b_test, _ = targets[linked]
        why = None
        if b_test and not a_test and a not in TOP:
            why = f"{a} may not link the test helper {linked}"
        elif linked == "framework" and a == "platform":
            continue  # libframework.so holds platform's services
        elif not may_use(a, a_test, b):
            why = f"{a} may not link {b}"
        if why:
            problems.append(f"{path}:{line}: {source} links {linked}: {why}")
    return problems


def check(root):
    return check_includes(root) + check_links(root)


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..")
    problems = check(os.path.abspath(root))
    for p in problems:
        print(p)
    if problems:
        print(f"{len(problems)} include(s) and link(s) against the layer order")
        return 1
    print("every include and link follows the layer order")
    return 0


if __name__ == "__main__":
    sys.exit(main())
