#!/usr/bin/env python3
"""Copies a flash monitor image with its last byte inverted: a program the simulator does
not know, of the right size."""
import sys

with open(sys.argv[1], "rb") as f:
    image = bytearray(f.read())
image[-1] ^= 0xFF
with open(sys.argv[2], "wb") as f:
    f.write(image)
