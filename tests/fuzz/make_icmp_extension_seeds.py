#!/usr/bin/env python3
"""Writes the seed corpus of icmp_extension_fuzz: a report's tail with a label stack.

Each seed is the fuzzer's two-byte prefix (entry, length field or offset) and the bytes after the
report's header: a 128-byte quote, then a version 2 extension structure with one MPLS stack
object. Run from anywhere; the seeds land next to this script.
"""
import os
import struct

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "icmp_extension")


def checksum(data):
    if len(data) % 2:
        data += b"\0"
    total = sum(struct.unpack("!%dH" % (len(data) // 2), data))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return ~total & 0xFFFF


def structure(entries):
    stack = b"".join(struct.pack("!I", label << 12 | tc << 9 | s << 8 | ttl)
                     for label, tc, s, ttl in entries)
    body = b"\x20\0\0\0" + struct.pack("!HBB", 4 + len(stack), 1, 1) + stack
    return body[:2] + struct.pack("!H", checksum(body)) + body[4:]


def main():
    os.makedirs(HERE, exist_ok=True)
    tail = bytes(128) + structure([(24001, 0, 0, 1), (16, 5, 1, 1)])
    seeds = {
        "icmp_words32": bytes([0, 32]) + tail,
        "icmpv6_words64": bytes([1, 16]) + tail,
        "length_zero": bytes([0, 0]) + tail,
        "error_queue_offset": bytes([2, 32]) + tail,
    }
    for name, data in seeds.items():
        with open(os.path.join(HERE, name), "wb") as seed:
            seed.write(data)


if __name__ == "__main__":
    main()
