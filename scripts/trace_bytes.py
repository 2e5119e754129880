#!/usr/bin/env python3
"""Prints a wire trace (velmora --trace) without what depends on the moment: the
milliseconds, how long a break the PC sent was held (measured, so a loaded machine holds
it a few milliseconds longer), and where a run of bytes in one direction was cut into
lines (read bursts follow the timing of the reads). What stays is every byte in order per direction run,
and every line event between them, so that two runs of one operation compare with diff.

Usage: trace_bytes.py TRACE
"""
import sys


def canonical(lines):
    out = []
    run_dir, run_bytes = None, []
    for line in lines:
        parts = line.rstrip("\r\n").split(" ", 2)
        if len(parts) < 2:
            continue
        kind = parts[1]
        rest = parts[2] if len(parts) > 2 else ""
        if kind in (">", "<"):
            if kind != run_dir and run_dir is not None:
                out.append(run_dir + " " + " ".join(run_bytes))
                run_bytes = []
            run_dir = kind
            run_bytes.extend(rest.split())
        else:
            if run_dir is not None:
                out.append(run_dir + " " + " ".join(run_bytes))
                run_dir, run_bytes = None, []
            if kind == "!" and rest.startswith("break-sent "):
                rest = "break-sent"
            out.append(kind + " " + rest)
    if run_dir is not None:
        out.append(run_dir + " " + " ".join(run_bytes))
    return out


def main():
    with open(sys.argv[1], encoding="utf-8", errors="replace") as f:
        for line in canonical(f):
            print(line)


if __name__ == "__main__":
    main()
