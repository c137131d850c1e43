"""Where the tests find the sorvel package and the conformance archives."""
import os

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))


def conformance_dir():
    return os.environ.get("SORVEL_CONFORMANCE_DIR", os.path.join(ROOT, "..", "shared", "conformance"))


@pytest.fixture(scope="session")
def cases_dir():
    cases = os.path.join(conformance_dir(), "cases")
    if not os.path.isdir(cases):
        pytest.skip("no conformance cases at %s" % cases)
    return cases
