#!/usr/bin/env python3
"""Writes the seed corpus of icmp_reply_decoder_fuzz: a few well-formed packets of each kind.

Each seed starts with the fuzzer's prefix (mode, identifier, sequence, destination, type, code)
followed by the packet. Run from anywhere; the seeds land next to this script.
"""
import os
import struct

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "icmp_reply")
IDENT, SEQ = 0x1234, 7
LOOPBACK = bytes([127, 0, 0, 1])
TARGET = bytes([10, 0, 0, 9])
ROUTER = bytes([10, 1, 0, 2])


def checksum(data):
    if len(data) % 2:
        data += b"\0"
    total = sum(struct.unpack("!%dH" % (len(data) // 2), data))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return ~total & 0xFFFF


def icmp(kind, code, ident, seq, payload):
    body = struct.pack("!BBHHH", kind, code, 0, ident, seq) + payload
    return body[:2] + struct.pack("!H", checksum(body)) + body[4:]


def icmp_error(kind, code, quoted):
    body = struct.pack("!BBHI", kind, code, 0, 0) + quoted
    return body[:2] + struct.pack("!H", checksum(body)) + body[4:]


def ip(src, dst, payload, ttl=64, options=b""):
    ihl = (20 + len(options)) // 4
    header = struct.pack("!BBHHHBBH4s4s", 0x40 | ihl, 0, 20 + len(options) + len(payload), 0,
                         0x4000, ttl, 1, 0, src, dst)
    return header + options + payload


def prefix(mode, dst, kind=0, code=0):
    return struct.pack("!BHH4sBB", mode, IDENT, SEQ, dst, kind, code)


def main():
    os.makedirs(HERE, exist_ok=True)
    payload = b"hopwise!"
    request = ip(bytes([10, 0, 0, 1]), TARGET, icmp(8, 0, IDENT, SEQ, payload), ttl=1)
    seeds = {
        "raw_echo_reply": prefix(0, LOOPBACK) + ip(LOOPBACK, LOOPBACK, icmp(0, 0, IDENT, SEQ, payload)),
        "raw_echo_reply_options": prefix(0, LOOPBACK)
        + ip(LOOPBACK, LOOPBACK, icmp(0, 0, IDENT, SEQ, payload), options=bytes([7, 7, 4, 127, 0, 0, 1, 0])),
        "raw_time_exceeded": prefix(0, TARGET) + ip(ROUTER, bytes([10, 0, 0, 1]), icmp_error(11, 0, request)),
        "raw_unreachable_short_quote": prefix(0, TARGET)
        + ip(ROUTER, bytes([10, 0, 0, 1]), icmp_error(3, 1, request[:28])),
        "datagram_echo_reply": prefix(1, LOOPBACK) + icmp(0, 0, 0xBEEF, SEQ, payload),
        "datagram_error_queue": prefix(2, TARGET, 11, 0) + icmp(8, 0, 0xBEEF, SEQ, payload),
    }
    for name, data in seeds.items():
        with open(os.path.join(HERE, name), "wb") as out:
            out.write(data)


if __name__ == "__main__":
    main()
