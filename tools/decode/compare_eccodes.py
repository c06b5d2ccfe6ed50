"""Compares decode_check's values with ecCodes' numericValues, message by message.

usage: python compare_eccodes.py DECODE_CHECK DEFINITIONS_ROOT FILE...
ecCodes serves only as an oracle here; both sides read the same definitions root.
"""
import math
import os
import subprocess
import sys

MISSING = -1e100


def ours(decode_check, root, path):
    out = subprocess.run([decode_check, root, path, "print"], capture_output=True, text=True).stdout
    messages, current = [], None
    for line in out.splitlines():
        if line.startswith("message subsets"):
            current = []
            messages.append(current)
        elif "error:" in line:
            messages.append(line)
            current = None
        elif current is not None:
            code, kind, *rest = line.split("\t")
            current.append(float(rest[0]) if kind == "number" else (None if kind == "missing" else "text"))
    return messages


def theirs(path):
    import eccodes

    result = []
    with open(path, "rb") as f:
        while True:
            handle = eccodes.codes_bufr_new_from_file(f)
            if handle is None:
                break
            try:
                eccodes.codes_set(handle, "unpack", 1)
                values = list(eccodes.codes_get_array(handle, "numericValues"))
                result.append([None if v == MISSING else float(v) for v in values])
            except Exception as error:  # the oracle fails on some messages too
                result.append(f"eccodes error: {error}")
            finally:
                eccodes.codes_release(handle)
    return result


def same(a, b):
    if a == "text":
        return True
    if a is None or b is None:
        return a is None and b is None
    return math.isclose(a, b, rel_tol=1e-12, abs_tol=1e-12)


def compare(decode_check, root, path):
    mine, oracle = ours(decode_check, root, path), theirs(path)
    name = os.path.basename(path)
    for index, (a, b) in enumerate(zip(mine, oracle)):
        if isinstance(a, str) or isinstance(b, str):
            print(f"{name}#{index}: ours={a if isinstance(a, str) else len(a)} eccodes={b if isinstance(b, str) else len(b)}")
            continue
        mismatches = [i for i, (x, y) in enumerate(zip(a, b)) if not same(x, y)]
        status = "ok" if len(a) == len(b) and not mismatches else "DIFF"
        detail = ""
        if mismatches:
            i = mismatches[0]
            detail = f" first diff at {i}: {a[i]} vs {b[i]} ({len(mismatches)} diffs)"
        print(f"{name}#{index}: {status} ours={len(a)} eccodes={len(b)}{detail}")


if __name__ == "__main__":
    for file in sys.argv[3:]:
        compare(sys.argv[1], sys.argv[2], file)
