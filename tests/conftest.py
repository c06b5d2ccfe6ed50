"""Shared fixtures: our example messages, and the shared corpus and tables when present."""

import pathlib

import pytest

REPO_ROOT = pathlib.Path(__file__).resolve().parent.parent
SHARED = REPO_ROOT.parent / "shared"
DEFINITIONS_ROOT = pathlib.Path("/usr/share/eccodes/definitions")


@pytest.fixture(scope="session")
def data_dir():
    return REPO_ROOT / "tests" / "data"


@pytest.fixture(scope="session")
def corpus_dir():
    path = SHARED / "corpus"
    if not path.is_dir():
        pytest.skip("shared corpus of real messages is absent")
    return path


@pytest.fixture(scope="session")
def wmo_csv_dir():
    path = SHARED / "wmo-bufr4"
    if not path.is_dir():
        pytest.skip("WMO BUFR4 CSV tables are absent")
    return path


@pytest.fixture(scope="session")
def definitions_root():
    if not (DEFINITIONS_ROOT / "bufr" / "tables" / "0" / "wmo").is_dir():
        pytest.skip("ecCodes definitions (libeccodes-data) are not installed")
    return DEFINITIONS_ROOT
