"""Assembles edition 4 messages octet by octet, for framing and decoding tests."""

import struct


def u24(value):
    return value.to_bytes(3, "big")


def descriptor_octets(code):
    f, x, y = code // 100000, (code % 100000) // 1000, code % 1000
    return struct.pack(">H", (f << 14) | (x << 8) | y)


def section1(
    *,
    master_table=0,
    centre=98,
    subcentre=0,
    update=0,
    optional_flag=0,
    category=0,
    subcategory=0,
    local_subcategory=0,
    master_version=30,
    local_version=0,
    when=(2026, 12, 7, 21, 30, 15),
    length=22,
):
    year, month, day, hour, minute, second = when
    body = struct.pack(
        ">BHHBBBBBBBHBBBBB",
        master_table,
        centre,
        subcentre,
        update,
        optional_flag,
        category,
        subcategory,
        local_subcategory,
        master_version,
        local_version,
        year,
        month,
        day,
        hour,
        minute,
        second,
    )
    body = body.ljust(length - 3, b"\0")
    return u24(length) + body


def section3(descriptors, *, subsets=1, flags=0x80, pad=b""):
    area = b"".join(descriptor_octets(code) for code in descriptors) + pad
    return u24(7 + len(area)) + b"\0" + struct.pack(">HB", subsets, flags) + area


def section4(data):
    return u24(4 + len(data)) + b"\0" + data


def message(
    descriptors=(1001,),
    data=b"\0\0",
    *,
    subsets=1,
    flags=0x80,
    section2=None,
    pad=b"",
    trailer=b"7777",
    **identification,
):
    """A whole message; `section2` is the local section's content, if any."""
    if section2 is not None:
        identification.setdefault("optional_flag", 0x80)
    body = section1(**identification)
    if section2 is not None:
        body += u24(4 + len(section2)) + b"\0" + section2
    body += section3(descriptors, subsets=subsets, flags=flags, pad=pad)
    body += section4(data) + trailer
    return b"BUFR" + u24(8 + len(body)) + b"\x04" + body


def with_total_length(raw, length):
    """`raw` with its declared total length replaced."""
    return raw[:4] + u24(length) + raw[7:]


class Bits:
    """Packs values most significant bit first, for section 4 data."""

    def __init__(self):
        self.bits = []

    def add(self, value, width):
        for shift in range(width - 1, -1, -1):
            self.bits.append((value >> shift) & 1)
        return self

    def add_text(self, text, width=None):
        data = text.encode("latin-1")
        width = len(data) * 8 if width is None else width
        data = data.ljust(width // 8, b" ")
        for octet in data:
            self.add(octet, 8)
        return self

    def to_bytes(self):
        padded = self.bits + [0] * (-len(self.bits) % 8)
        return bytes(
            int("".join(map(str, padded[i : i + 8])), 2) for i in range(0, len(padded), 8)
        )
