"""Guards on the source tree: the core stays free of Python, files stay small."""

import pathlib
import re

import pytest

SRC = pathlib.Path(__file__).resolve().parent.parent / "src"
CORE_DIRS = ["message", "bitstream", "tables", "decode"]


def sources(*dirs):
    for name in dirs:
        yield from sorted((SRC / name).glob("*.[ch]pp"))


@pytest.mark.parametrize("path", list(sources(*CORE_DIRS)), ids=lambda p: p.name)
def test_core_never_includes_python(path):
    text = path.read_text()
    assert not re.search(r'#\s*include\s*[<"]Python\.h[>"]', text)
    assert "PyObject" not in text


@pytest.mark.parametrize("path", list(sources(*CORE_DIRS, "lib")), ids=lambda p: p.name)
def test_files_open_with_a_purpose_line_and_stay_small(path):
    lines = path.read_text().splitlines()
    assert lines and lines[0].startswith("// "), "first line should say what the file is for"
    assert len(lines) <= 600
