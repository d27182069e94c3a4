#!/usr/bin/env python3
"""Checks our compressed blocks and cipher against Python's zlib and a reference RC4.

Usage: zlib_interop.py PATH_TO_vellix_block_tool
Blocks we make must inflate with Python's zlib; blocks made with Python's zlib (any level)
must inflate with ours; damaged blocks must be refused; RC4 must match the published vectors
and an independent implementation. Saves, which stream their text through the cipher and
the compressor in pieces, must be standard zlib streams of the whole (enciphered) text.
"""
import os
import random
import struct
import subprocess
import sys
import tempfile
import zlib

TOOL = sys.argv[1]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def run(*args):
    return subprocess.run([TOOL, *args], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE).returncode


def rc4(key, data):
    s = list(range(256))
    j = 0
    for i in range(256):
        j = (j + s[i] + key[i % len(key)]) & 0xFF
        s[i], s[j] = s[j], s[i]
    out = bytearray()
    i = j = 0
    for byte in data:
        i = (i + 1) & 0xFF
        j = (j + s[i]) & 0xFF
        s[i], s[j] = s[j], s[i]
        out.append(byte ^ s[(s[i] + s[j]) & 0xFF])
    return bytes(out)


def ini_text(groups, items):
    lines = []
    for g in range(groups):
        lines.append("[group%d]" % g)
        lines.extend("item%d=value %d" % (i, g * items + i) for i in range(items))
    return "\r\n".join(lines).encode()


rng = random.Random(1234)
samples = {
    "empty": b"",
    "ten": b"0123456789",
    "ini": ini_text(200, 50),
    "random": bytes(rng.getrandbits(8) for _ in range(100000)),
    "zeros": bytes(3_000_000),
    "binary": bytes(range(256)) * 64,
}

with tempfile.TemporaryDirectory() as work:
    src = os.path.join(work, "in")
    dst = os.path.join(work, "out")

    def put(data):
        with open(src, "wb") as f:
            f.write(data)

    def get():
        with open(dst, "rb") as f:
            return f.read()

    for name, data in samples.items():
        # Ours -> Python.
        put(data)
        check(run("compress", src, dst) == 0, name + ": compress ran")
        block = get()
        check(struct.unpack("<I", block[:4])[0] == len(data), name + ": length field")
        check(zlib.decompress(block[4:]) == data, name + ": Python inflates our block")
        check(block[4:] == zlib.compress(data), name + ": same stream as compress() at the default level")

        # Python -> ours, at every level zlib offers.
        for level in (0, 1, 6, 9):
            put(struct.pack("<I", len(data)) + zlib.compress(data, level))
            check(run("decompress", src, dst) == 0, "%s: level %d block accepted" % (name, level))
            check(get() == data, "%s: level %d block inflates here" % (name, level))

    # Damaged Python-made blocks are refused, never accepted as something else.
    data = samples["ini"]
    good = struct.pack("<I", len(data)) + zlib.compress(data)
    for cut in (0, 3, 4, 5, len(good) // 2, len(good) - 1):
        put(good[:cut])
        check(run("decompress", src, dst) == 1, "truncated at %d refused" % cut)
    for stated in (0xFFFFFFFF, len(data) - 1):
        put(struct.pack("<I", stated) + good[4:])
        check(run("decompress", src, dst) == 1, "length %d refused" % stated)
    put(b"[group]\r\nitem=value\r\n")
    check(run("decompress", src, dst) == 1, "plain text refused")

    # RC4: published vectors, then agreement with the reference above on longer data.
    vectors = [(b"Key", b"Plaintext", "bbf316e8d940af0ad3"),
               (b"Wiki", b"pedia", "1021bf0420"),
               (b"Secret", b"Attack at dawn", "45a01f645fc35b383552544b9bf5")]
    for key, plain, expected in vectors:
        check(rc4(key, plain).hex() == expected, "reference RC4 for %r" % key)
        put(plain)
        check(run("cipher", key.decode(), src, dst) == 0, "cipher ran")
        check(get().hex() == expected, "our RC4 for %r" % key)
    data = samples["ini"]
    put(data)
    check(run("cipher", "a longer key \xe9", src, dst) == 0, "cipher ran")
    check(get() == rc4("a longer key \xe9".encode(sys.getfilesystemencoding()), data),
          "our RC4 agrees on long data")

    # Saves of a text of several pieces: plain text compressed at level 4, enciphered text
    # stored (level 0); both one zlib stream of the whole text that any zlib inflates.
    text = ini_text(3000, 30)
    put(text)
    for key in ("", "a save key"):
        check(run("save", key, src, dst) == 0, "save ran with key %r" % key)
        block = get()
        check(struct.unpack("<I", block[:4])[0] == len(text), "save: length field, key %r" % key)
        inflater = zlib.decompressobj()
        inner = inflater.decompress(block[4:]) + inflater.flush()
        check(inflater.eof and not inflater.unused_data, "save: exactly one stream, key %r" % key)
        expected = rc4(key.encode(), text) if key else text
        check(inner == expected, "save: Python inflates the whole text, key %r" % key)
        level = block[5] >> 6  # FLEVEL of the zlib header
        check(level == (0 if key else 1), "save: compression level, key %r" % key)
        check((len(block) < len(text) // 4) == (not key), "save: size, key %r" % key)

for failure in failures:
    print("FAILED:", failure)
print("%d failures" % len(failures))
sys.exit(1 if failures else 0)
