#!/usr/bin/env python3
"""Writes the branch filter fuzzer's seeds (files with branches to round-trip, hand-made
filtered forms to decode) into OUT/seeds and empties OUT/corpus for the run.

usage: gen_branch_filter_seeds.py OUT
"""
import os
import struct
import sys

from gen_seeds import fresh_folders


def form(code, flags, targets):
    header = bytes([1]) + struct.pack("<QQQ", len(code), len(flags), len(targets))
    return header + code + flags + targets


def main():
    seeds = fresh_folders(sys.argv[1])
    calls = b"".join(b"\x55\xe8" + struct.pack("<i", -6 * i) + b"\x0f\x84\x02\x00\x00\x00\xe9\x00\x00\x00\x00"
                     for i in range(40))
    # x86-64 operands the address stage converts, each next to a call.
    addresses = b"".join(op + struct.pack("<i", 64 * i) + b"\xe8" + struct.pack("<i", -11 * i)
                         for i in range(30) for op in (b"\xff\x15", b"\x48\x8b\x05", b"\x0f\x28\x05"))
    # The first byte: odd round-trips, even decodes; 0x80 and up name a variant, 0x40 to 0x7f
    # the x86-64 filter.
    shapes = {
        "roundtrip-calls": b"\x01" + calls,
        "roundtrip-jcc-delta": b"\xb3" + calls,
        "roundtrip-e8-chain": b"\x01" + b"\xe8" * 64 + b"\x00" * 8,
        # E8 FE FF FF FF 90 90 90: one call to offset 3.
        "form-one-call": b"\x00" + form(b"\xe8\x90\x90\x90", b"\x01", b"\x00\x00\x00\x03"),
        "form-kept-candidate": b"\x02" + form(b"\xe8\xff\xff\xff\x7f\x90", b"\x00", b""),
        "form-byte-flags": b"\x88" + form(b"\xe8\xe8\x90", b"\x01\x00", b"\x00\x00\x00\x01"),
        "form-empty": b"\x00" + form(b"", b"", b""),
        "roundtrip-addresses": b"\x41" + addresses,
        "form-addresses": b"\x40" + form(b"\x48\x8b\x05\x07\x00\x00\x00", b"", b""),
    }
    for name, data in shapes.items():
        with open(os.path.join(seeds, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
