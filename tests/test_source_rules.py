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


ERROR_TABLE = SRC / "message" / "error_kinds.def"
# A call that builds an error from a kind: make_error<ErrorKind::X>(...), os_error<...>(...), lines.error<...>(...).
ERROR_CALL = re.compile(r"\b(?:make_error|os_error|error)<ErrorKind::\w+>\(")


def call_arguments(text, open_paren):
    """The text between the parenthesis at `open_paren` and its match."""
    depth = 0
    for end in range(open_paren, len(text)):
        depth += {"(": 1, ")": -1}.get(text[end], 0)
        if depth == 0:
            return text[open_paren + 1:end]
    raise AssertionError("unbalanced call")


def table_fragments():
    """The literal pieces of every text in the table of error kinds, long enough to be telling."""
    texts = re.findall(r'^TARNWEL_ERROR\w*\([^"]*"((?:[^"\\]|\\.)*)"', ERROR_TABLE.read_text(), re.M)
    texts += re.findall(r'^\s+"((?:[^"\\]|\\.)*)"\)', ERROR_TABLE.read_text(), re.M)
    return [piece for text in texts for piece in text.split("{}") if len(piece.strip()) >= 12]


@pytest.mark.parametrize("path", [p for p in sources(*CORE_DIRS) if p.stem != "error"], ids=lambda p: p.name)
def test_core_errors_are_built_from_the_table(path):
    text = path.read_text()
    for call in ERROR_CALL.finditer(text):
        arguments = call_arguments(text, call.end() - 1)
        assert '"' not in arguments, f"error text composed outside the table: {call.group()}{arguments})"
    assert "BufrError(ErrorKind" not in text
    code = re.sub(r"//[^\n]*", "", text)
    literals = " ".join(re.findall(r'"((?:[^"\\\n]|\\.)*)"', code))
    copies = [piece for piece in table_fragments() if piece in literals]
    assert copies == [], f"texts of the error table written again: {copies}"


def test_every_error_kind_has_a_one_line_comment():
    lines = ERROR_TABLE.read_text().splitlines()
    entries = [i for i, line in enumerate(lines) if re.match(r"TARNWEL_ERROR(_FAMILY|_FORM)?\(", line)]
    assert len(entries) > 60
    uncommented = [lines[i] for i in entries if not lines[i - 1].startswith("// ")]
    assert uncommented == []
