"""The README's example runs as shown (its Python blocks are doctests), and its
links to the pages name files of the repository."""

from __future__ import annotations

import doctest
import re
from pathlib import Path

README = Path(__file__).resolve().parents[2] / "README.md"


def test_readme_python_blocks():
    blocks = re.findall(r"```python\n(.*?)```", README.read_text(), flags=re.S)
    assert blocks, "the README has no Python example"
    parser, runner = doctest.DocTestParser(), doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    for i, block in enumerate(blocks):
        runner.run(parser.get_doctest(block, {}, f"README block {i}", str(README), 0))
    result = runner.summarize(verbose=False)
    assert result.attempted > 0 and result.failed == 0


def test_readme_links_name_files():
    links = re.findall(r"\]\(([^)#\s]+)(?:#[^)]*)?\)", README.read_text())
    local = [link for link in links if "://" not in link]
    assert local, "the README links to no page"
    missing = [link for link in local if not (README.parent / link).exists()]
    assert not missing, missing
