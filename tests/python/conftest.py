"""Shared fixtures.

``_quarlo_testing`` is a test-only extension (built with
QUARLO_BUILD_TEST_EXTENSION=ON, never installed) that exposes the binding's
helpers. scripts/test builds it and points QUARLO_TEST_EXTENSION_DIR at it;
tests that need it are skipped when it cannot be imported.
"""

import importlib
import os
import sys

import pytest

_extension_dir = os.environ.get("QUARLO_TEST_EXTENSION_DIR")
if _extension_dir and _extension_dir not in sys.path:
    sys.path.insert(0, _extension_dir)


@pytest.fixture(scope="session")
def testing():
    try:
        return importlib.import_module("_quarlo_testing")
    except ImportError as exc:
        pytest.skip(f"_quarlo_testing is not available ({exc}); run scripts/test or set QUARLO_TEST_EXTENSION_DIR")
