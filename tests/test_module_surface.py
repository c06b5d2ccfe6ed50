"""The module's surface: registration, call conventions and the message-side classes."""

import inspect
import pathlib
import subprocess
import sys
import textwrap

import pytest

import _tarnwel
from bufr_builder import message

CLASSES = ["BufrMessage", "DecodedValue", "Descriptor", "ElementDefinition", "SequenceDefinition", "TableSet"]
FUNCTIONS = [
    "parse_bytes",
    "parse_file",
    "parse_all_bytes",
    "parse_all_file",
    "expand_descriptors",
    "decode_values",
    "decode_values_with_tables",
    "decode_values_with_definitions",
]


def run_python(code):
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=60
    )


def test_all_lists_classes_then_functions_in_registration_order():
    assert _tarnwel.__all__ == CLASSES + FUNCTIONS
    assert _tarnwel.__doc__ == ""
    for name in CLASSES:
        assert isinstance(getattr(_tarnwel, name), type)
    for name in FUNCTIONS:
        assert callable(getattr(_tarnwel, name))


@pytest.mark.parametrize(
    "name, parameters",
    [
        ("parse_bytes", ["data"]),
        ("parse_file", ["path"]),
        ("parse_all_bytes", ["data"]),
        ("parse_all_file", ["path"]),
        ("expand_descriptors", ["table_dir", "descriptors"]),
        ("decode_values", ["data", "table_dir"]),
        ("decode_values_with_tables", ["data", "tables"]),
        ("decode_values_with_definitions", ["data", "definitions_root"]),
    ],
)
def test_functions_carry_text_signatures(name, parameters):
    function = getattr(_tarnwel, name)
    assert function.__text_signature__ == "(" + ", ".join(parameters) + ")"
    assert list(inspect.signature(function).parameters) == parameters


def test_reinitialisation_returns_the_same_module():
    result = run_python(
        """
        import sys, _tarnwel as first
        del sys.modules["_tarnwel"]
        import _tarnwel as second
        assert first is second, (first, second)
        print("same")
        """
    )
    assert result.stdout.strip() == "same", result.stderr


def test_sub_interpreters_are_refused():
    result = run_python(
        """
        import _tarnwel, _xxsubinterpreters as interpreters
        interp = interpreters.create()
        try:
            interpreters.run_string(interp, "import _tarnwel")
        except Exception as error:
            print(type(error).__name__, error)
        """
    )
    assert "ImportError" in result.stdout and "sub-interpreters" in result.stdout, result


def test_a_sub_interpreter_importing_first_is_refused_and_the_main_one_is_not():
    result = run_python(
        """
        import _xxsubinterpreters as interpreters
        interp = interpreters.create()
        interpreters.run_string(interp, "try:\\n    import _tarnwel\\n"
                                        "except ImportError as error:\\n"
                                        "    print(error, flush=True)")
        import _tarnwel
        print(_tarnwel.__all__[0])
        """
    )
    assert result.stdout.splitlines() == [
        "_tarnwel does not support sub-interpreters: it can only be imported once "
        "per process, in the main interpreter",
        "BufrMessage",
    ], result


@pytest.mark.parametrize(
    "call, exception, text",
    [
        (lambda: _tarnwel.parse_file(), TypeError,
         "parse_file() missing 1 required positional argument: 'path'"),
        (lambda: _tarnwel.parse_bytes(b"", b""), TypeError,
         "parse_bytes() takes 1 positional arguments but 2 were given"),
        (lambda: _tarnwel.parse_bytes(b"", data=b""), TypeError,
         "parse_bytes() got multiple values for argument 'data'"),
        (lambda: _tarnwel.parse_bytes(datum=b""), TypeError,
         "parse_bytes() got an unexpected keyword argument 'datum'"),
        (lambda: _tarnwel.parse_bytes(bytearray(b"BUFR")), TypeError,
         "argument 'data': 'bytearray' object cannot be cast as 'bytes'"),
        (lambda: _tarnwel.parse_bytes(memoryview(b"BUFR")), TypeError,
         "argument 'data': 'memoryview' object cannot be cast as 'bytes'"),
        (lambda: _tarnwel.parse_file(pathlib.Path("x.bufr")), TypeError,
         "argument 'path': 'PosixPath' object cannot be cast as 'str'"),
        (lambda: _tarnwel.parse_all_file(b"x.bufr"), TypeError,
         "argument 'path': 'bytes' object cannot be cast as 'str'"),
        (lambda: _tarnwel.Descriptor(), TypeError,
         "Descriptor() missing 3 required positional arguments: 'f', 'x', and 'y'"),
        (lambda: _tarnwel.Descriptor(0, 0, 256), OverflowError,
         "argument 'y': out of range integral type conversion attempted"),
        (lambda: _tarnwel.Descriptor(-1, 0, 0), OverflowError,
         "argument 'f': out of range integral type conversion attempted"),
        (lambda: _tarnwel.Descriptor(0, 2**70, 0), OverflowError,
         "argument 'x': out of range integral type conversion attempted"),
        (lambda: _tarnwel.Descriptor(0, 1.5, 0), TypeError,
         "argument 'x': 'float' object cannot be interpreted as an integer"),
        (lambda: _tarnwel.Descriptor.from_fxy(2**32), OverflowError,
         "argument 'code': out of range integral type conversion attempted"),
        (lambda: _tarnwel.Descriptor.from_fxy(codes=1), TypeError,
         "Descriptor.from_fxy() got an unexpected keyword argument 'codes'"),
    ],
)
def test_argument_errors(call, exception, text):
    with pytest.raises(exception) as excinfo:
        call()
    assert type(excinfo.value) is exception
    assert str(excinfo.value) == text


def test_keywords_and_subclasses_are_accepted():
    class Blob(bytes):
        pass

    class Name(str):
        pass

    raw = message((1001,))
    assert _tarnwel.parse_bytes(data=Blob(raw)).total_length == len(raw)
    with pytest.raises(FileNotFoundError):
        _tarnwel.parse_file(path=Name("/nonexistent/x.bufr"))
    assert _tarnwel.Descriptor(y=3, x=2, f=1).code == 102003


def test_unencodable_path_raises_the_interpreters_error():
    with pytest.raises(UnicodeEncodeError):
        _tarnwel.parse_file("\udcff.bufr")


@pytest.mark.parametrize("function", [_tarnwel.parse_file, _tarnwel.parse_all_file])
def test_path_with_an_embedded_nul_is_not_cut_short(tmp_path, function):
    path = tmp_path / "m.bufr"
    path.write_bytes(message((1001,)))
    with pytest.raises(OSError) as excinfo:
        function(str(path) + "\0.ignored")
    assert type(excinfo.value) is OSError
    assert (str(excinfo.value), excinfo.value.errno) == ("Invalid argument (os error 22)", 22)


class TestDescriptor:
    @pytest.mark.parametrize(
        "fxy, code, text",
        [((0, 1, 1), 1001, "Descriptor(001001)"), ((3, 1, 11), 301011, "Descriptor(301011)"),
         ((4, 70, 0), 470000, "Descriptor(470000)"), ((0, 0, 0), 0, "Descriptor(000000)")],
    )
    def test_fields_code_and_repr(self, fxy, code, text):
        d = _tarnwel.Descriptor(*fxy)
        assert (d.f, d.x, d.y, d.code, repr(d)) == (*fxy, code, text)

    @pytest.mark.parametrize(
        "code, fxy", [(301011, (3, 1, 11)), (1999, (0, 1, 231)), (4294967295, (42949 % 256, 67, 295 % 256))]
    )
    def test_from_fxy_keeps_low_eight_bits(self, code, fxy):
        d = _tarnwel.Descriptor.from_fxy(code)
        assert (d.f, d.x, d.y) == fxy
        assert isinstance(d, _tarnwel.Descriptor)

    def test_identity_semantics_and_read_only(self):
        a, b = _tarnwel.Descriptor(0, 1, 1), _tarnwel.Descriptor(0, 1, 1)
        assert a != b and a == a
        assert hash(a) != hash(b)
        for name in ("f", "x", "y", "code"):
            with pytest.raises(AttributeError):
                setattr(a, name, 1)

    def test_docstrings(self):
        assert _tarnwel.Descriptor.__text_signature__ == "(f, x, y)"
        assert _tarnwel.Descriptor.from_fxy.__text_signature__ == "(code)"


class TestBufrMessage:
    def test_cannot_be_constructed(self):
        with pytest.raises(TypeError):
            _tarnwel.BufrMessage()

    def test_attributes_are_read_only_with_empty_docs(self):
        m = _tarnwel.parse_bytes(message((1001,)))
        for name in ("edition", "total_length", "number_of_subsets", "unexpanded_descriptors",
                     "compressed_data", "typical_second", "section4_data_offset"):
            with pytest.raises(AttributeError):
                setattr(m, name, 0)
            assert getattr(type(m), name).__doc__ == ""

    def test_descriptor_list_is_a_fresh_copy(self):
        m = _tarnwel.parse_bytes(message((307080, 1001)))
        codes = m.unexpanded_descriptors
        codes.append(5)
        codes[0] = 0
        assert m.unexpanded_descriptors == [307080, 1001]
        assert m.unexpanded_descriptors is not m.unexpanded_descriptors

    def test_attribute_types(self):
        m = _tarnwel.parse_bytes(message((1001,)))
        for name in ("local_section_present", "observed_data", "compressed_data"):
            assert type(getattr(m, name)) is bool
        for name in ("edition", "total_length", "originating_centre", "typical_year"):
            assert type(getattr(m, name)) is int


def test_descriptor_sequence_length_is_only_a_hint():
    class Claims(list):
        def __len__(self):
            return 2**62

    assert _tarnwel.TableSet().expand(Claims([1001, 1002])) == [1001, 1002]
