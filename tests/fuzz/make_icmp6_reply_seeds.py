#!/usr/bin/env python3
"""Writes the seed corpus of icmp6_reply_decoder_fuzz: a few well-formed messages of each kind.

Each seed starts with the fuzzer's prefix (mode, identifier, sequence, destination, type, code)
followed by the ICMPv6 message (no IPv6 header: the kernel keeps it on both socket kinds). Run
from anywhere; the seeds land next to this script.
"""
import os
import struct

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "icmp6_reply")
IDENT, SEQ = 0x1234, 7
LOOPBACK = bytes(15) + b"\1"
SOURCE = bytes.fromhex("20010db8000000000000000000000001")
TARGET = bytes.fromhex("20010db8000000000000000000000009")


def icmp6(kind, code, word, payload=b""):
    # The checksum stays 0: the kernel verified it before queueing the message.
    return struct.pack("!BBHI", kind, code, 0, word) + payload


def echo(kind, ident, seq, payload):
    return icmp6(kind, code=0, word=(ident << 16) | seq, payload=payload)


def extension(kind, nxt):
    if kind == 44:  # fragment, the first one
        return struct.pack("!BBHI", nxt, 0, 0x0001, 0x2A)
    return struct.pack("!BBBB4x", nxt, 0, 1, 4)  # one PadN option filling the 8 bytes


def ipv6(src, dst, payload, headers=(), hop_limit=1):
    chain = b""
    kinds = list(headers)
    for i, kind in enumerate(kinds):
        chain += extension(kind, kinds[i + 1] if i + 1 < len(kinds) else 58)
    chain += payload
    first = kinds[0] if kinds else 58
    return struct.pack("!IHBB16s16s", 0x60000000, len(chain), first, hop_limit, src, dst) + chain


def prefix(mode, dst, kind=0, code=0):
    return struct.pack("!BHH16sBB", mode, IDENT, SEQ, dst, kind, code)


def main():
    os.makedirs(HERE, exist_ok=True)
    payload = b"hopwise!"
    request = ipv6(SOURCE, TARGET, echo(128, IDENT, SEQ, payload))
    seeds = {
        "raw_echo_reply": prefix(0, LOOPBACK) + echo(129, IDENT, SEQ, payload),
        "datagram_echo_reply": prefix(1, LOOPBACK) + echo(129, 0xBEEF, SEQ, payload),
        "raw_time_exceeded": prefix(0, TARGET) + icmp6(3, 0, 0, request),
        "raw_packet_too_big": prefix(0, TARGET) + icmp6(2, 0, 1280, request),
        "raw_unreachable_port": prefix(0, TARGET) + icmp6(1, 4, 0, request[:48]),
        "raw_time_exceeded_extension_headers": prefix(0, TARGET)
        + icmp6(3, 0, 0, ipv6(SOURCE, TARGET, echo(128, IDENT, SEQ, payload), (0, 60, 44, 43))),
        "datagram_error_queue": prefix(2, TARGET, 3, 0) + echo(128, 0xBEEF, SEQ, payload),
    }
    for name, data in seeds.items():
        with open(os.path.join(HERE, name), "wb") as out:
            out.write(data)


if __name__ == "__main__":
    main()
