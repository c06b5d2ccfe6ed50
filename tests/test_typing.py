"""mypy accepts the stubs, the new modules and the README's Python examples, as installed."""

import os
import pathlib
import re
import subprocess
import sys

import pytest

import _tarnwel
import tarnwel

REPO_ROOT = pathlib.Path(__file__).resolve().parent.parent
PACKAGE = pathlib.Path(tarnwel.__file__).parent


def test_stubs_are_installed_where_editors_and_mypy_look():
    site = pathlib.Path(_tarnwel.__file__).parent
    assert (site / "_tarnwel.pyi").is_file() and (site / "_tarnwel-stubs" / "__init__.pyi").is_file()
    assert (PACKAGE / "py.typed").is_file() and (PACKAGE / "__init__.pyi").is_file()


def test_stubs_name_everything_the_module_has():
    stub = (pathlib.Path(_tarnwel.__file__).parent / "_tarnwel.pyi").read_text()
    declared = set(re.findall(r"^(?:class|def) (\w+)", stub, re.MULTILINE))
    assert declared == set(_tarnwel.__all__)
    bodies = dict(re.findall(r"^class (\w+):\n((?:(?:    .*)?\n)*)", stub, re.MULTILINE))
    for name in _tarnwel.__all__:
        if isinstance(getattr(_tarnwel, name), type):
            members = set(re.findall(r"def (\w+)", bodies[name])) - {"__init__"}
            public = {member for member in dir(getattr(_tarnwel, name)) if not member.startswith("_")}
            assert members == public, name


def test_mypy_accepts_the_stubs_the_new_modules_and_the_readme_examples(tmp_path):
    pytest.importorskip("mypy")
    examples = re.findall(r"```python\n(.*?)```", (REPO_ROOT / "README.md").read_text(), re.DOTALL)
    assert len(examples) >= 4
    targets = []
    for number, example in enumerate(examples):
        (tmp_path / f"readme_example_{number}.py").write_text(example)
        targets.append(f"readme_example_{number}")
    modules = ["_tarnwel", "tarnwel", "tarnwel._core", "tarnwel.dataframe", "tarnwel.columns",
               "tarnwel.filters", "tarnwel.wide_batch", "tarnwel.dask", "tarnwel.memory"]
    # mypy is a compiled program of its own: no sanitizer runtime preloaded into it.
    environment = {key: value for key, value in os.environ.items()
                   if key not in ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS", "PYTHONMALLOC")}
    result = subprocess.run(
        [sys.executable, "-m", "mypy", "--follow-imports=silent", "--cache-dir", str(tmp_path / "cache"),
         "--no-error-summary", *(f"-m{module}" for module in modules), "-ptarnwel.cli", *(f"-m{target}" for target in targets)],
        capture_output=True, text=True, timeout=600, cwd=tmp_path, env=environment,
    )
    assert (result.returncode, result.stdout) == (0, ""), result.stdout + result.stderr
