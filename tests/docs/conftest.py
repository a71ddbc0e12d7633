"""The documentation checks run against a built site: `bash tests/run_docs.sh`
builds it into build/docs/html (CORVANIS_DOCS_HTML overrides the path)."""

from __future__ import annotations

import os
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]


@pytest.fixture(scope="session")
def site() -> Path:
    path = Path(os.environ.get("CORVANIS_DOCS_HTML", ROOT / "build" / "docs" / "html"))
    if not (path / "index.html").is_file():
        pytest.fail(f"no built site at {path}: run bash tests/run_docs.sh")
    return path


@pytest.fixture(scope="session")
def screenshots() -> Path:
    path = Path(os.environ.get("CORVANIS_DOCS_SCREENSHOTS",
                               ROOT / "build" / "docs" / "screenshots"))
    path.mkdir(parents=True, exist_ok=True)
    return path
