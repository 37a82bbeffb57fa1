#!/usr/bin/env python3
"""Writes the seed inputs of fuzz_round_trip into DIR (made if missing):

    fuzz/make_seeds.py DIR

A seed is a mode byte (0: diff bytes, 1: a node update's JSON text) and then
the input: the worked examples of the byte format, entries only reading can
make, and JSON texts that touch every rule of the reader."""

import pathlib
import struct
import sys


def u64(n):
    return struct.pack("<Q", n)


def ident(raw):
    return u64(16) + raw


def text(raw):
    return u64(len(raw)) + raw


A, B, C = bytes(range(16)), bytes(range(16, 32)), bytes([0xAB] * 16)
EDGE = ident(A) + u64(2) + ident(B) + struct.pack("<f", -0.0) + ident(C) + bytes.fromhex("0100c07f")
BYTES = [
    bytes(32) + b"\xff\x01trailing",
    u64(0) + u64(1) + ident(C) + u64(0) * 2,
    u64(1) + ident(A) + text(b'{"label":"a"}') + u64(0) * 3,
    u64(0) * 2 + u64(1) + ident(A) + u64(1) + ident(B) + struct.pack("<f", 1.5) + u64(0),
    # Repeated ids and sources, empty inner maps and sets, an id in two sections.
    u64(2) + ident(A) + text(b"not json") + ident(A) + text(b'["a",2.5,null,1,2,3,true]')
    + u64(2) + ident(A) + ident(A) + u64(3) + EDGE + EDGE + ident(B) + u64(0)
    + u64(2) + ident(B) + u64(2) + ident(A) + ident(A) + ident(C) + u64(0),
]  # fmt: skip
JSON = [
    '{"label":"q\\"\\\\\\/\\b\\f\\n\\r\\t\\u00e9\\ud83d\\ude00","url":"é€","showLabel":true}',
    '{"size":3.4028235e38,"red":255,"green":0,"blue":null,"x":[{"y":[1e400,-0.5E-7]}]}',
    '{"size":-0}', '{"size":1e39}', '{"size":7.038531e-26}', '{"size":1152921573326323713}',
    '{"size":0.0000000000000000000000000000000000000000000000000000000000001e+5}',
    ' [ "a" , 2.5 , null , 1 , 2 , 3 , true ] ', '{"label":null,"label":"b"}', '{"red":1.0}',
]  # fmt: skip

out = pathlib.Path(sys.argv[1])
out.mkdir(parents=True, exist_ok=True)
for n, seed in enumerate([b"\0" + s for s in BYTES] + [b"\1" + s.encode() for s in JSON]):
    (out / f"seed_{n:02}").write_bytes(seed)
