#!/usr/bin/env python3
"""Runs the commands of the documentation as a reader would copy them.

A fenced block whose info string is `sh runnable` is run, block by block in the order of
its page, in a scratch directory of the page's own: a fresh registry (VELMORA_REGISTRY),
HOME and TMPDIR inside it, the built programs first on PATH, and the source tree's
sample firmware at resources/samples/. Each command (lines joined at a trailing
backslash) must end with status 0, or with N where the line ends with a comment
`# exit N`; the commands of one block share one shell, so an `export` holds for the
rest of its block. A block marked `sh real-device` needs a KV70 on a port and is only
checked for its shell syntax. Any other `sh` block is an error: every command a reader
may copy says which of the two it is.

The reference page is checked against the programs' own help: every option that
`--help` of velmora (and of each of its commands), velmora-gui and kv70sim lists is named
in docs/reference.md.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

FENCE = re.compile(r"^(\s*)```(.*)$")
EXIT_COMMENT = re.compile(r"#\s*exit\s+(\d+)\b")
RUNNABLE = "runnable"
REAL_DEVICE = "real-device"
COMMAND_TIMEOUT_S = 300


class Block:
    def __init__(self, page, line, kind, lines):
        self.page = page
        self.line = line  # of the opening fence, from 1
        self.kind = kind
        self.lines = lines

    def where(self):
        return "%s:%d" % (self.page, self.line)


class Command:
    def __init__(self, line, text, expected):
        self.line = line
        self.text = text
        self.expected = expected


def read_blocks(page, text):
    """The fenced shell blocks of a page, with what they are marked as."""
    blocks = []
    lines = text.splitlines()
    i = 0
    while i < len(lines):
        m = FENCE.match(lines[i])
        if not m:
            i += 1
            continue
        indent, info = m.group(1), m.group(2).split()
        body = []
        j = i + 1
        while j < len(lines) and not re.match(r"^\s*```\s*$", lines[j]):
            body.append(lines[j][len(indent):] if lines[j].startswith(indent) else lines[j])
            j += 1
        if info and info[0] in ("sh", "bash", "shell", "console"):
            kind = info[1] if len(info) > 1 else ""
            blocks.append(Block(page, i + 1, kind, body))
        i = j + 1
    return blocks


def commands_of(block):
    """The block's commands: continuation lines joined, comment lines and blanks left out."""
    commands = []
    pending = ""
    start = 0
    for n, raw in enumerate(block.lines):
        line = raw.rstrip()
        if not pending and (not line.strip() or line.lstrip().startswith("#")):
            continue
        if not pending:
            start = block.line + 1 + n
        if line.endswith("\\"):
            pending += line[:-1] + " "
            continue
        text = pending + line
        pending = ""
        expected = 0
        # A trailing `# exit N`, outside quotes, says the status.
        m = None
        for candidate in EXIT_COMMENT.finditer(text):
            if not inside_quotes(text, candidate.start()):
                m = candidate
        if m:
            expected = int(m.group(1))
        commands.append(Command(start, text, expected))
    if pending:
        commands.append(Command(start, pending, 0))
    return commands


def inside_quotes(text, position):
    quote = None
    for ch in text[:position]:
        if quote:
            if ch == quote:
                quote = None
        elif ch in ("'", '"'):
            quote = ch
    return quote is not None


def script_of(block):
    """One bash script for the block: each command, then its status checked."""
    out = []
    for c in commands_of(block):
        out.append(c.text)
        out.append('__s=$?; if [ "$__s" -ne %d ]; then echo "DOCS-COMMAND-FAILED %d $__s" >&2; '
                   'exit 99; fi' % (c.expected, c.line))
    return "\n".join(out) + "\n"


def scratch_environment(scratch, bin_dir):
    env = {k: v for k, v in os.environ.items()
           if not k.startswith("VELMORA_") and k not in ("HOME", "TMPDIR")}
    env["HOME"] = scratch
    env["TMPDIR"] = scratch
    env["VELMORA_REGISTRY"] = os.path.join(scratch, "registry.db")
    env["PATH"] = bin_dir + os.pathsep + env.get("PATH", "/usr/bin:/bin")
    env["QT_QPA_PLATFORM"] = "offscreen"
    return env


def run_page(page, blocks, source, bin_dir):
    """Runs a page's runnable blocks; returns the failures as text."""
    failures = []
    scratch = tempfile.mkdtemp(prefix="velmora-docs-")
    try:
        samples = os.path.join(scratch, "resources", "samples")
        os.makedirs(samples)
        shutil.copy(os.path.join(source, "resources", "samples", "velmora-sample.x"), samples)
        env = scratch_environment(scratch, bin_dir)
        for block in blocks:
            if block.kind == REAL_DEVICE:
                check = subprocess.run(["bash", "-n"], input=script_of(block), text=True,
                                       capture_output=True)
                if check.returncode != 0:
                    failures.append("%s: not a valid command: %s" % (block.where(), check.stderr))
                continue
            if block.kind != RUNNABLE:
                failures.append("%s: a shell block must be marked `sh %s` or `sh %s`"
                                % (block.where(), RUNNABLE, REAL_DEVICE))
                continue
            try:
                result = subprocess.run(["bash", "-c", script_of(block)], cwd=scratch, env=env,
                                        stdin=subprocess.DEVNULL, capture_output=True,
                                        text=True, timeout=COMMAND_TIMEOUT_S * 4)
            except subprocess.TimeoutExpired:
                failures.append("%s: the block did not end" % block.where())
                continue
            print("== %s (%d commands)" % (block.where(), len(commands_of(block))))
            m = re.search(r"DOCS-COMMAND-FAILED (\d+) (\d+)", result.stderr)
            if m or result.returncode != 0:
                line = int(m.group(1)) if m else block.line
                status = m.group(2) if m else str(result.returncode)
                command = next((c for c in commands_of(block) if c.line == line), None)
                failures.append("%s:%d: `%s` ended with %s, the page says %s\n%s%s"
                                % (page, line, command.text if command else "?", status,
                                   command.expected if command else 0,
                                   result.stdout[-3000:], result.stderr[-3000:]))
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    return failures


HELP_OPTION = re.compile(r"^\s+(?:-\w,\s*)?(--[a-z][a-z0-9-]*)", re.M)
VELMORA_COMMANDS = [[], ["list"], ["ports"], ["run"], ["firmware"], ["firmware", "add"],
                    ["firmware", "list"], ["firmware", "remove"], ["registry"],
                    ["registry", "import"], ["registry", "export"], ["station"]]
HELP_ITSELF = {"--help", "--help-all"}


def options_in_help(argv, env):
    result = subprocess.run(argv + ["--help"], capture_output=True, text=True, env=env,
                            stdin=subprocess.DEVNULL, timeout=60)
    return set(HELP_OPTION.findall(result.stdout)) - HELP_ITSELF, result.returncode


def reference_gaps(source, bin_dir):
    """The options the programs' help lists that docs/reference.md does not name."""
    with open(os.path.join(source, "docs", "reference.md"), encoding="utf-8") as f:
        reference = f.read()
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    gaps = []
    programs = [("velmora", c) for c in VELMORA_COMMANDS] + [("velmora-gui", []), ("kv70sim", [])]
    for program, command in programs:
        path = os.path.join(bin_dir, program)
        if not os.path.exists(path):
            gaps.append("%s is not built" % program)
            continue
        options, status = options_in_help([path] + command, env)
        if status != 0 or not options and program != "velmora":
            gaps.append("%s --help failed or listed no option" % " ".join([program] + command))
        for option in sorted(options):
            # kv70sim's settings are named as key=VALUE in the reference's table.
            if option in reference or (program == "kv70sim" and "`%s=" % option[2:] in reference):
                continue
            gaps.append("docs/reference.md does not name %s of %s"
                        % (option, " ".join([program] + command)))
    return gaps


def pages(source):
    found = []
    for name in ("README.md", "CONTRIBUTING.md"):
        if os.path.exists(os.path.join(source, name)):
            found.append(name)
    for root, dirs, files in os.walk(os.path.join(source, "docs")):
        # Notes waiting to be merged are not documentation yet.
        dirs[:] = sorted(d for d in dirs if d != "pending")
        for f in sorted(files):
            if f.endswith(".md"):
                found.append(os.path.relpath(os.path.join(root, f), source))
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--source", required=True, help="the source tree")
    parser.add_argument("--bin", required=True, help="the directory of velmora and kv70sim")
    parser.add_argument("pages", nargs="*", help="pages to run (default: every page)")
    args = parser.parse_args()
    source = os.path.abspath(args.source)
    bin_dir = os.path.abspath(args.bin)
    failures = []
    runnable = 0
    for page in args.pages or pages(source):
        with open(os.path.join(source, page), encoding="utf-8") as f:
            blocks = read_blocks(page, f.read())
        runnable += sum(len(commands_of(b)) for b in blocks if b.kind == RUNNABLE)
        failures += run_page(page, blocks, source, bin_dir)
    if runnable == 0:
        failures.append("no runnable command found in the documentation")
    if not args.pages:
        failures += reference_gaps(source, bin_dir)
    for failure in failures:
        print("FAIL " + failure)
    print("%d runnable commands, %d failures" % (runnable, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
