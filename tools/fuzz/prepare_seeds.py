"""Fills a seed directory for a fuzz run: every message of the given files, one file per message.

A file of many messages would make libFuzzer mutate (and re-run) all of them at once; messages above
--max-len octets are left out, like libFuzzer would cut them. Bytes with no message are kept whole.
"""

import argparse
import hashlib
import pathlib


def messages(raw):
    """The octet ranges a scan by marker and declared length finds."""
    position = 0
    while True:
        start = raw.find(b"BUFR", position)
        if start < 0 or len(raw) - start < 8:
            return
        length = int.from_bytes(raw[start + 4:start + 7], "big")
        if length < 8 or start + length > len(raw):
            yield raw[start:]
            return
        yield raw[start:start + length]
        position = start + length


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("out", type=pathlib.Path)
    parser.add_argument("files", nargs="*", type=pathlib.Path)
    parser.add_argument("--max-len", type=int, default=1 << 16)
    args = parser.parse_args()
    args.out.mkdir(parents=True, exist_ok=True)
    written = 0
    for path in args.files:
        raw = path.read_bytes()
        for piece in list(messages(raw)) or [raw]:
            if len(piece) > args.max_len:
                continue
            (args.out / hashlib.sha1(piece).hexdigest()).write_bytes(piece)
            written += 1
    print(f"{written} seeds from {len(args.files)} files in {args.out}")


if __name__ == "__main__":
    main()
