"""Writes the hand-made regression seeds in regressions/: messages the core accepts within its bounds
but that cost far more than their size (the decode budget or the harness's step bound must stop them,
the fuzz run must still pass).

Run it from anywhere; it rewrites every file it knows and leaves the others (inputs a fuzzer found) alone.
"""

import pathlib
import struct

HERE = pathlib.Path(__file__).resolve().parent / "regressions"


def u24(value):
    return value.to_bytes(3, "big")


def descriptor(code):
    f, x, y = code // 100000, code // 1000 % 100, code % 1000
    return struct.pack(">H", f << 14 | x << 8 | y)


class Bits:
    def __init__(self):
        self.value, self.width = 0, 0

    def add(self, value, width):
        self.value, self.width = self.value << width | value, self.width + width
        return self

    def to_bytes(self):
        pad = -self.width % 8
        return (self.value << pad).to_bytes((self.width + pad) // 8, "big")


def message(descriptors, data, *, subsets, compressed=False):
    # Section 1: master table 0, centre 98, master tables version 39, 2026-12-08 12:00:00.
    section1 = u24(22) + bytes([0, 0, 98, 0, 0, 0, 0, 0, 0, 0, 39, 0]) + struct.pack(">HBBBBB", 2026, 12, 8, 12, 0, 0)
    area = b"".join(descriptor(code) for code in descriptors)
    section3 = u24(7 + len(area)) + b"\0" + struct.pack(">HB", subsets, 0xC0 if compressed else 0x80) + area
    section4 = u24(4 + len(data)) + b"\0" + data
    body = section1 + section3 + section4 + b"7777"
    return b"BUFR" + u24(8 + len(body)) + b"\x04" + body


def replicated_markers():
    # 255 markers in each of 65,535 subsets, read from no data at all: 16.7 M values from 49 octets.
    return message([101255, 237000], b"", subsets=65535)


def compressed_without_increments():
    # 305 columns of 1-bit data present indicators, each with increment width 0, for 65,535 subsets:
    # 19,988,175 values from 267 data octets.
    data = Bits()
    for _ in range(305):
        data.add(1, 1).add(0, 6)
    return message([101255, 31031, 101050, 31031], data.to_bytes(), subsets=65535, compressed=True)


def nested_delayed_markers():
    # An outer factor of 305, each pass an inner factor of 65,535 markers: 20 M values from 667 octets.
    data = Bits().add(305, 16)
    for _ in range(305):
        data.add(65535, 16)
    return message([103000, 31002, 101000, 31002, 237000], data.to_bytes(), subsets=1)


def nested_fixed_operators():
    # Four nested replications of 255 around an operator that writes nothing: 4.2 G walk steps.
    return message([104255, 103255, 102255, 101255, 201000], b"", subsets=1)


def compressed_factor_increment():
    # One compressed subset whose 8-bit factor has R0 0 and a 22-bit increment of all ones: 4.2 M markers.
    data = Bits().add(0, 8).add(22, 6).add((1 << 22) - 1, 22)
    return message([101000, 31001, 237000], data.to_bytes(), subsets=1, compressed=True)


SEEDS = {
    "replicated_markers_65535_subsets.bufr": replicated_markers,
    "compressed_zero_increment_widths.bufr": compressed_without_increments,
    "nested_delayed_markers.bufr": nested_delayed_markers,
    "nested_fixed_operators.bufr": nested_fixed_operators,
    "compressed_factor_increment.bufr": compressed_factor_increment,
}


def main():
    HERE.mkdir(exist_ok=True)
    for name, make in SEEDS.items():
        raw = make()
        (HERE / name).write_bytes(raw)
        print(f"{name}: {len(raw)} octets")


if __name__ == "__main__":
    main()
