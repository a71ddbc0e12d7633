"""The built pages as a reader's browser shows them: headless Chromium loads
each page (scripts and style sheets included), and the rendered DOM must show
the page's title and, on the API page, the function's signature. A
screenshot of each page is saved beside the site."""

from __future__ import annotations

import re
import shutil
import struct
import subprocess
import tempfile
from html.parser import HTMLParser
from pathlib import Path
from typing import List, Tuple

import pytest

BROWSERS = ("chromium", "chromium-browser")


def browser() -> str:
    for name in BROWSERS:
        path = shutil.which(name)
        if path:
            return path
    pytest.fail("no chromium on PATH: bash tests/run_docs.sh installs Debian's chromium")


def run_browser(*args: str) -> subprocess.CompletedProcess:
    with tempfile.TemporaryDirectory() as profile:
        return subprocess.run(
            [browser(), "--headless=new", "--no-sandbox", "--disable-gpu",
             "--no-first-run", "--hide-scrollbars", f"--user-data-dir={profile}",
             "--virtual-time-budget=5000", *args],
            capture_output=True, text=True, timeout=120, check=True)


class Rendered(HTMLParser):
    """Title, headings and the text of signature blocks of a rendered DOM."""

    def __init__(self) -> None:
        super().__init__(convert_charrefs=True)
        self.title = ""
        self.h1: List[str] = []
        self.signatures: List[Tuple[str, str]] = []   # (id, text)
        self._stack: List[Tuple[str, str]] = []       # open elements we collect text for

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if tag == "title":
            self._stack.append(("title", ""))
        elif tag == "h1":
            self._stack.append(("h1", ""))
        elif tag == "dt" and "sig" in (attrs.get("class") or "").split():
            self._stack.append(("dt:" + (attrs.get("id") or ""), ""))

    def handle_data(self, data):
        self._stack = [(k, text + data) for k, text in self._stack]

    def handle_endtag(self, tag):
        for i in range(len(self._stack) - 1, -1, -1):
            key, text = self._stack[i]
            if key == tag or (tag == "dt" and key.startswith("dt:")):
                del self._stack[i]
                text = " ".join(text.split())
                if key == "title":
                    self.title = text
                elif key == "h1":
                    self.h1.append(text.rstrip("#¶ ").strip())
                else:
                    self.signatures.append((key[3:], text.rstrip("#¶ ").strip()))
                break


def rendered(page: Path) -> Rendered:
    dom = run_browser("--dump-dom", page.resolve().as_uri()).stdout
    assert "<body" in dom, f"Chromium returned no document for {page}"
    parsed = Rendered()
    parsed.feed(dom)
    return parsed


def screenshot(page: Path, out: Path) -> Tuple[int, int]:
    out.unlink(missing_ok=True)
    run_browser(f"--screenshot={out}", "--window-size=1280,1000", page.resolve().as_uri())
    data = out.read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", f"{out} is not a PNG"
    width, height = struct.unpack(">II", data[16:24])
    return width, height


def test_index_renders_title_and_pages(site, screenshots):
    page = rendered(site / "index.html")
    assert page.title.startswith("corvanis"), page.title
    assert page.h1 == ["corvanis"], page.h1
    assert screenshot(site / "index.html", screenshots / "index.png") == (1280, 1000)


def test_magnification_page_renders_signature(site, screenshots):
    path = site / "api" / "generated" / "corvanis_fspl.magnification.html"
    page = rendered(path)
    assert page.title.startswith("corvanis_fspl.magnification"), page.title
    assert page.h1 == ["corvanis_fspl.magnification"], page.h1
    signatures = dict(page.signatures)
    assert "corvanis_fspl.magnification" in signatures, page.signatures
    text = signatures["corvanis_fspl.magnification"]
    # The parameters in order, keyword-only rtol after the star.
    assert re.search(r"magnification\(\s*u.*,\s*rho.*,\s*law.*,\s*\*\s*,\s*rtol", text), text
    assert screenshot(path, screenshots / "corvanis_fspl.magnification.png") == (1280, 1000)
