"""Where the tests find the shared instrument files, the command-line tool and the C++
reference program; each fixture skips its tests, saying why, when its target is absent."""

import os
import pathlib

import pytest

import kwsignal

REPO = pathlib.Path(__file__).resolve().parents[2]
BUILD = pathlib.Path(kwsignal.__file__).resolve().parents[2]


def _existing(path, why):
    if not path.exists():
        pytest.skip(f"{why} not found at {path}")
    return path


@pytest.fixture(scope="session")
def abif_dir():
    """The folder of real instrument files (KWSIGNAL_SHARED_DATA overrides ../shared/data)."""
    shared = pathlib.Path(os.environ.get("KWSIGNAL_SHARED_DATA", REPO.parent / "shared" / "data"))
    return _existing(shared / "abif", "shared instrument files")


@pytest.fixture(scope="session")
def cli():
    """The kwsignal command-line tool of the same build (KWSIGNAL_CLI overrides)."""
    return _existing(pathlib.Path(os.environ.get("KWSIGNAL_CLI", BUILD / "kwsignal")), "the CLI")


@pytest.fixture(scope="session")
def reference():
    """The C++ program that runs library operations for comparison."""
    return _existing(BUILD / "python" / "kwsignal_py_reference", "the C++ reference program")
