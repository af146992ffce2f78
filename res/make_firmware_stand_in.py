#!/usr/bin/env python3
"""Writes firmware_image.bin: the stand-in for the controller firmware that the
updater carries until a release build drops in the real image.

The bytes are SHA-256 in counter mode over a fixed seed, so every run on every
machine gives the same file, and the data looks as opaque as a real image does
(no readable header, no vector table). The size is that of the real image.
"""
import hashlib
import pathlib
import sys

IMAGE_SIZE = 97760
SEED = b"vespra-80-lv firmware stand-in, seed 1"


def stand_in_bytes(size):
    out = bytearray()
    counter = 0
    while len(out) < size:
        out += hashlib.sha256(SEED + counter.to_bytes(8, "little")).digest()
        counter += 1
    return bytes(out[:size])


def main():
    target = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else
                          pathlib.Path(__file__).with_name("firmware_image.bin"))
    target.write_bytes(stand_in_bytes(IMAGE_SIZE))
    print(f"{target}: {IMAGE_SIZE} bytes")


if __name__ == "__main__":
    main()
