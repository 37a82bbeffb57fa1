#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into fuzz/corpus/<target>/.

The seeds are committed; run this again only to change them. Each seed is
named by what it shows. The round-trip target takes a mode byte first
(0 = diff bytes, 1 = JSON text), so its seeds are the other two corpora's
seeds with that byte in front.
"""

import pathlib
import random
import shutil
import struct

HERE = pathlib.Path(__file__).resolve().parent
CORPUS = HERE / "corpus"

A = bytes(range(16))
B = bytes(range(16, 32))
C = bytes([0xAB] * 16)
X = bytes.fromhex("0123456789abcdef0011223344556677")


def u64(n):
    return struct.pack("<Q", n)


def ident(raw, length=16):
    return u64(length) + raw


def text(raw):
    return u64(len(raw)) + raw


def f32(value):
    return struct.pack("<f", value)


def record(nodes=(), deleted=(), edges=(), deleted_edges=()):
    out = u64(len(nodes))
    for node_id, json in nodes:
        out += ident(node_id) + text(json)
    out += u64(len(deleted))
    for node_id in deleted:
        out += ident(node_id)
    out += u64(len(edges))
    for source, targets in edges:
        out += ident(source) + u64(len(targets))
        for target, weight_bits in targets:
            out += ident(target) + weight_bits
    out += u64(len(deleted_edges))
    for source, targets in deleted_edges:
        out += ident(source) + u64(len(targets))
        for target in targets:
            out += ident(target)
    return out


BYTES_SEEDS = {
    "empty_diff": bytes(32),
    "empty_diff_with_trailing_bytes": bytes(32) + b"\xff\x01junk",
    # The three worked examples of the format.
    "deleted_node_x": record(deleted=[X]),
    "node_with_label_a": record(nodes=[(A, b'{"label":"a"}')]),
    "pending_edge_1_5": record(edges=[(A, [(B, f32(1.5))])]),
    "every_section": record(
        nodes=[(A, b'{"label":"Ab","size":1.5,"red":255,"showLabel":false}'), (B, b"{}")],
        deleted=[C, A],
        edges=[(A, [(B, f32(-0.0)), (A, bytes.fromhex("0100c07f"))]), (C, [])],
        deleted_edges=[(B, [A, C]), (A, [])],
    ),
    "repeated_ids": record(
        nodes=[(A, b"not json at all"), (A, b'{"url":"u"}')],
        deleted=[B, B],
        edges=[(A, [(B, f32(1.0))]), (A, [(C, f32(2.0)), (C, f32(3.0))])],
        deleted_edges=[(C, [A, A])],
    ),
    "node_array_form": record(nodes=[(A, b'["a",2.5,null,1,2,3,true]')]),
    "infinite_weights": record(edges=[(A, [(B, f32(float("inf"))), (C, f32(float("-inf")))])]),
    "id_length_15": u64(0) + u64(1) + u64(15) + A[:15] + bytes(16),
    "id_length_17_at_end": u64(0) + u64(1) + u64(17) + A,
    "text_with_ff": u64(1) + ident(A) + text(b'{"label":"\xff"}') + bytes(24),
    "text_length_past_end": u64(1) + ident(A) + u64(1000) + b"{}",
    "count_2_pow_40": u64(1 << 40) + ident(A) + text(b"{}"),
    "short_31_bytes": bytes(31),
}

JSON_SEEDS = {
    "empty_object": b"{}",
    "all_fields": b'{"label":"Ab","size":1.5,"url":"http://x/","red":255,"green":0,'
    b'"blue":7,"showLabel":true}',
    "members_out_of_order": b'{"showLabel":false,"blue":1,"url":"","size":-0.0,"label":""}',
    "nulls": b'{"label":null,"size":null,"url":null,"red":null,"green":null,'
    b'"blue":null,"showLabel":null}',
    "array_form": b'["a",2.5,null,1,2,3,true]',
    "array_of_nulls": b"[null,null,null,null,null,null,null]",
    "array_six": b"[null,null,null,null,null,null]",
    "array_eight_trailing_comma": b"[null,null,null,null,null,null,null,]",
    "escapes": b'{"label":"q\\" b\\\\ s\\/ \\b\\f\\n\\r\\t \\u0001\\u001b\\u007f"}',
    "surrogate_pair": b'{"label":"\\ud83d\\ude00 \\uD834\\uDD1E"}',
    "lone_high_surrogate": b'{"label":"\\ud83d x"}',
    "lone_low_surrogate": b'{"label":"\\ude00"}',
    "raw_utf8": '{"label":"é 中 😀","url":"ü"}'.encode(),
    "raw_control_char": b'{"label":"a\x01b"}',
    "escaped_key": b'{"l\\u0061bel":"k"}',
    "unknown_keys": b'{"show_label":true,"Label":1,"":[],"x":{"y":[1,{"z":null}]},"label":"a"}',
    "duplicate_after_null": b'{"label":null,"label":"b"}',
    "sizes": b'{"size":3}',
    "size_exponent_forms": b"[null,1.5e-7,null,null,null,null,null]",
    "size_max_f32": b'{"size":3.4028235e38}',
    "size_overflow_to_inf": b'{"size":1e39}',
    "size_underflow": b'{"size":1e-400}',
    "size_out_of_range": b'{"size":1e400}',
    "size_big_integers": b'{"size":18446744073709551616}',
    "size_negative_integer": b'{"size":-9223372036854775808}',
    "size_negative_zero": b'{"size":-0}',
    "colour_limits": b'{"red":0,"green":255,"blue":256}',
    "colour_float": b'{"red":1.0}',
    "colour_negative_zero": b'{"red":-0}',
    "numbers_bad": b'{"size":01}',
    "whitespace_around": b' \t\r\n{ "label" : "a" , "red" : 1 }\n\t ',
    "trailing_characters": b"{} x",
    "lone_values": b"true",
    "deep_nesting_skipped": b'{"x":' + b'[{"a":' * 100 + b"1" + b"}]" * 100 + b',"label":"a"}',
    "eof_inside": b'{"label":"a',
}

ROUND_TRIP_BYTES = [
    "empty_diff",
    "node_with_label_a",
    "pending_edge_1_5",
    "every_section",
    "repeated_ids",
    "node_array_form",
    "infinite_weights",
]
ROUND_TRIP_JSON = [
    "empty_object",
    "all_fields",
    "members_out_of_order",
    "array_form",
    "escapes",
    "surrogate_pair",
    "raw_utf8",
    "size_exponent_forms",
    "size_max_f32",
    "size_overflow_to_inf",
    "size_big_integers",
    "size_negative_zero",
]


# Operation streams for fuzz_diff_operations: an op byte (mod 16: 0-3 add
# node, 4-5 delete node, 6-10 add edge, 11-14 delete edge, 15 clear), then
# its ids (one byte each from a pool, or 0xff and 16 raw bytes), update or
# weight bytes.
def op_stream(rng, count, ops):
    out = bytearray()
    for _ in range(count):
        op = rng.choice(ops)
        out.append(op)
        if op < 4:
            out += bytes([rng.randrange(80), 0x7F]) + bytes(rng.randrange(256) for _ in range(12))
        elif op < 6:
            out.append(rng.randrange(80))
        elif op < 11:
            out += bytes([rng.randrange(80), rng.randrange(80)]) + struct.pack("<f", rng.random())
        elif op < 15:
            out += bytes([rng.randrange(80), rng.randrange(80)])
        else:
            out.append(0)
    return bytes(out)


def operation_seeds():
    rng = random.Random(7)
    return {
        "mixed": op_stream(rng, 300, list(range(16))),
        "edges_then_node_deletes": op_stream(rng, 400, [6] * 9 + [4]),
        "edge_adds_and_deletes": op_stream(rng, 500, [6, 11]),
        "node_merges": op_stream(rng, 200, [0, 0, 0, 4]),
        "raw_ids": bytes([6, 0xFF])
        + bytes(range(16))
        + bytes([0xFF])
        + bytes(16)
        + b"\0\0\xc0\x7f",
    }


# Inputs that once failed a check, kept as seeds of the target that found them.
# An even mode byte (diff bytes), then 20 sources with empty target maps, two
# of them repeated, and 107 trailing bytes: the written diff read back with
# different content on a work-in-progress version of the hash table.
REGRESSION_ROUND_TRIP = {
    "regression_repeated_sources_with_empty_maps": bytes.fromhex(
        "06000000000000000000000000000000001400000000000000100000000000000000010203045c7238080909"
        "00005d0000000000000000000010000000000000001011121314323535ffff090c2e35000000000000000000"
        "0010000000000000001015020304313236080909000000000000000000000000001000000000000000101112"
        "13143235340909090c2e3300000000000000000000100000000000000010111213143235350809090c2e6700"
        "0000000000000000001000000000000000101502030431323708090900000000000000000000000000100000"
        "000000000010111213143235350809090c2e3500000000000000000000100000000000000000000000000000"
        "000000000000000000000000000000000010000000000000000a112b333800723808090900005d0000000000"
        "00000000001000000000000000101112136d323535a013090c2e350000000000000000000010000000000000"
        "0010150203042835350809090000000000000000000000000010000000000000001015121314313237080909"
        "0c2e3500000000000000000000100000000000000010111213321435350809090c2e35000000000000000000"
        "0010000000000000001015020304313237080909000000000000000000000000001000000000000000101112"
        "13143333380809090c2e3500000000000000000000100000000000000000000000045c723808090900005d00"
        "00000000000000000010000000000000001011101314323535ffff090c2e3500000000000000000000100000"
        "0000000000101555030431323708090900000000000000000000000000100000000000000010111213143235"
        "340809090c2e330000000000000000000010000000000000001011121314323535ffff090c2e350000000000"
        "0000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
        "0000000000000000000000000010000000000000001015020304313237080909000000000000000000000000"
        "0010000000000000001011000000000000000000100000001502030431353400"
    ),
}


def write(target, seeds):
    folder = CORPUS / target
    if folder.exists():
        shutil.rmtree(folder)
    folder.mkdir(parents=True)
    for name, data in seeds.items():
        (folder / name).write_bytes(data)


def main():
    write("fuzz_bytes_reader", BYTES_SEEDS)
    write("fuzz_node_update_json", JSON_SEEDS)
    round_trip = {f"bytes_{n}": b"\x00" + BYTES_SEEDS[n] for n in ROUND_TRIP_BYTES}
    round_trip.update({f"json_{n}": b"\x01" + JSON_SEEDS[n] for n in ROUND_TRIP_JSON})
    round_trip.update(REGRESSION_ROUND_TRIP)
    write("fuzz_round_trip", round_trip)
    write("fuzz_flat_table", operation_seeds())


if __name__ == "__main__":
    main()
