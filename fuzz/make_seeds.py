#!/usr/bin/env python3
"""Writes the fuzz targets' seed corpus under fuzz/corpus: files that hufpack writes, and every
kind of damage the tests know. Run from the repository with hufpack built:
    python3 fuzz/make_seeds.py build/cli/hufpack"""

import os
import struct
import subprocess
import sys
import tempfile

hufpack = sys.argv[1]
here = os.path.dirname(os.path.abspath(__file__))


def put(target, name, data):
    folder = os.path.join(here, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def compress(source):
    with tempfile.TemporaryDirectory() as work:
        src, dst = os.path.join(work, "s"), os.path.join(work, "d")
        with open(src, "wb") as f:
            f.write(source)
        subprocess.run([hufpack, "encode", src, dst], check=True, capture_output=True)
        with open(dst, "rb") as f:
            return f.read()


def fibonacci(values):
    counts, a, b = [], 1, 1
    for _ in range(values):
        counts.append(a)
        a, b = b, a + b
    out = bytearray()
    for value, count in enumerate(counts):
        out += bytes([value]) * count
    return bytes(out)


def header(checksum_fix, total_bits, table):
    table_size = len(table)
    checksum = (table_size + total_bits) & 0xFF
    return bytes([checksum if checksum_fix else 0]) + struct.pack("<iH", total_bits, table_size & 0xFFFF) + table


def entry(value, count):
    return bytes([value]) + struct.pack("<I", count & 0xFFFFFFFF)


sources = {
    "abracadabra": b"abracadabra",
    "aaaa": b"aaaa",
    "spaces": b"    ",
    "abc": b"abc",
    "all-values": bytes(range(256)),
    "fibonacci": fibonacci(16),
    "text": b"the quick brown fox jumps over the lazy dog\n" * 40,
}
for name, source in sources.items():
    put("roundtrip", name, source)
    packed = compress(source)
    for target in ("decode", "differential"):
        put(target, name + ".huf", b"\x00" + packed)

# The same files again with the switch byte's other bits set: the fast decoder then cuts them
# into chunks of each size it offers, from one bit up, on one to three threads.
for name, source in sources.items():
    packed = compress(source)
    for choice in range(1, 8):
        switch = (choice << 3) | ((choice % 3) << 1)
        for target in ("decode", "differential"):
            put(target, f"{name}-chunks-{choice}.huf", bytes([switch]) + packed)

packed = compress(b"abracadabra")
for target in ("decode", "differential"):
    for length in range(len(packed)):
        put(target, f"abracadabra-cut-{length:02d}", b"\x00" + packed[:length])
    put(target, "bad-checksum", b"\x00" + bytes([packed[0] ^ 1]) + packed[1:])
    table = entry(ord("a"), 5) + entry(ord("b"), 2)
    put(target, "table-past-end", b"\x01" + header(True, 10, table + entry(ord("c"), 1))[:12])
    put(target, "negative-total-bits", b"\x01" + header(True, -8, table) + b"\xff")
    put(target, "negative-table-size", b"\x01" + bytes([0]) + struct.pack("<ih", 8, -5) + b"\xaa")
    put(target, "repeated-entries", b"\x01" + header(True, 16, table + entry(ord("a"), 3)) + b"\x5a\xa5")
    put(target, "out-of-order", b"\x01" + header(True, 16, entry(9, 2) + entry(3, 1) + entry(200, 4)) + b"\x33\x44")
    wrapping = b"".join(entry(v, 0x7FFFFFFF) for v in range(8))
    put(target, "wrapping-counts", b"\x01" + header(True, 64, wrapping) + b"\xff" * 8)
    doubling = b"".join(entry(v, 1 << v if v < 31 else 0x7FFFFFFF) for v in range(40))
    put(target, "deep-tree", b"\x01" + header(True, 2000, doubling) + b"\xff" * 250)
    for choice in range(1, 8):
        switch = 1 | (choice << 3) | ((choice % 3) << 1)
        put(target, f"deep-tree-chunks-{choice}", bytes([switch]) + header(True, 2000, doubling) + b"\xff" * 250)

tree = {
    "fibonacci": [1, 1] + [0] * 254,
    "doubling": [1 << v if v < 31 else 0x7FFFFFFF for v in range(256)],
    "equal": [7] * 256,
    "negatives": [(-v if v % 3 else v) for v in range(256)],
    "one-value": [0] * 32 + [5] + [0] * 223,
}
a, b = 1, 1
for v in range(40):
    tree["fibonacci"][v] = a
    a, b = b, a + b
for name, counts in tree.items():
    put("tree", name, b"".join(struct.pack("<I", c & 0xFFFFFFFF) for c in counts))
