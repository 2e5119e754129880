#!/usr/bin/env python3
"""Writes the demo's sample firmware: a Motorola S-record file of our own making.

An S0 header, S3 data records (32 data bytes each) covering program flash from
0x02400000 contiguously, with the software identification word at 0x02400420, and an
S7 end record whose entry point is the start of the image. The program bytes are a
deterministic pattern, not code: the file exists to be loaded, not to run.
"""
import argparse
import sys

BASE = 0x02400000
ID_WORD_ADDRESS = 0x02400420
RECORD_DATA = 32


def record(kind, address, data, address_bytes):
    body = bytes([address_bytes + len(data) + 1]) + address.to_bytes(address_bytes, "big") + data
    checksum = (~sum(body)) & 0xFF
    return "S%d%s%02X" % (kind, body.hex().upper(), checksum)


def image(size, app_index, version):
    data = bytearray()
    seed = 0x1234
    while len(data) < size:
        # A 16-bit linear congruential sequence: the same file on every machine.
        seed = (seed * 25173 + 13849) & 0xFFFF
        data.append(seed >> 8)
    banner = b"Velmora sample application - not for use on a device\0"
    data[0x100:0x100 + len(banner)] = banner
    # The identification word: b0 b1, then the application index in the high four bits
    # of b2, then the version byte b3.
    offset = ID_WORD_ADDRESS - BASE
    data[offset:offset + 4] = bytes([0x56, 0x4D, (app_index & 0x0F) << 4, version & 0xFF])
    return bytes(data)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--output", default="resources/samples/velmora-sample.x")
    parser.add_argument("--size", type=int, default=16 * 1024, help="program bytes (default 16384)")
    parser.add_argument("--app-index", type=int, default=0)
    parser.add_argument("--version", type=int, default=0x21)
    args = parser.parse_args()
    if args.size < ID_WORD_ADDRESS - BASE + 4:
        parser.error("the image must reach the identification word at 0x%08X" % ID_WORD_ADDRESS)

    program = image(args.size, args.app_index, args.version)
    lines = [record(0, 0, b"velmora-sample.x", 2)]
    for offset in range(0, len(program), RECORD_DATA):
        lines.append(record(3, BASE + offset, program[offset:offset + RECORD_DATA], 4))
    lines.append(record(7, BASE, b"", 4))
    with open(args.output, "w", newline="\r\n") as out:
        out.write("\n".join(lines) + "\n")
    print("%s: %d bytes of program in %d records" % (args.output, len(program), len(lines) - 2),
          file=sys.stderr)


if __name__ == "__main__":
    main()
