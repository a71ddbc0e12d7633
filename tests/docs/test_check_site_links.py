"""tools/check_site_links.py finds what a reader would find broken: a missing
page, a missing anchor, a missing image, a resource from the network."""

from __future__ import annotations

import importlib.util
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
spec = importlib.util.spec_from_file_location("check_site_links",
                                              ROOT / "tools" / "check_site_links.py")
check_site_links = importlib.util.module_from_spec(spec)
spec.loader.exec_module(check_site_links)


def write_site(tmp_path: Path, page: str) -> Path:
    (tmp_path / "api").mkdir()
    (tmp_path / "img.png").write_bytes(b"\x89PNG")
    (tmp_path / "api" / "f.html").write_text('<h1 id="f">f</h1><a name="old">x</a>')
    (tmp_path / "index.html").write_text(f'<html><body id="top">{page}</body></html>')
    return tmp_path


def test_resolving_links_pass(tmp_path):
    site = write_site(tmp_path, '<a href="api/f.html#f">f</a> <a href="api/f.html#old">o</a> '
                                '<a href="#top">top</a> <img src="img.png"> '
                                '<a href="https://example.org/x">external link</a> '
                                '<a href="mailto:a@b.c">mail</a>')
    assert check_site_links.check(site) == []


@pytest.mark.parametrize("html, fault", [
    ('<a href="api/g.html">g</a>', "no such file"),
    ('<a href="api/f.html#nowhere">f</a>', "no anchor #nowhere"),
    ('<a href="#nowhere">here</a>', "no anchor #nowhere"),
    ('<img src="missing.png">', "no such file"),
    ('<script src="https://cdn.example.org/x.js"></script>', "from the network"),
    ('<link rel="stylesheet" href="//cdn.example.org/x.css">', "from the network"),
    ('<a href="../outside.html">out</a>', "leaves the site"),
])
def test_broken_links_are_reported(tmp_path, html, fault):
    faults = check_site_links.check(write_site(tmp_path, html))
    assert len(faults) == 1 and fault in faults[0], faults


def test_built_site_resolves(site):
    assert check_site_links.check(site) == []
