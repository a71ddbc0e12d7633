#!/usr/bin/env python3
"""Checks that every internal link, anchor and image of a built HTML site
resolves, and that no page needs the network to render.

For each .html file under the site: every href and src (links, images,
scripts, style sheets) that is not an external URL must name a file of the
site, and a #fragment must name an id (or a named anchor) of that page.
Scripts, style sheets and images must be local: the machines that build and
read the site may have no network. External links (<a href="https://...">)
are listed with --external but never followed.

    python tools/check_site_links.py build/docs/html [--external]

Exit status 1 and one line per fault when anything does not resolve.
"""

from __future__ import annotations

import argparse
import sys
from html.parser import HTMLParser
from pathlib import Path
from typing import Dict, List, Set, Tuple
from urllib.parse import unquote, urlsplit

EXTERNAL_SCHEMES = {"http", "https", "mailto", "ftp", "tel"}
IGNORED_SCHEMES = {"javascript", "data"}
# (tag, attribute) pairs that load a resource the page needs to render.
RESOURCES = {("img", "src"), ("script", "src"), ("link", "href"), ("source", "src"),
             ("image", "href"), ("iframe", "src"), ("video", "src")}


class Page(HTMLParser):
    def __init__(self) -> None:
        super().__init__(convert_charrefs=True)
        self.ids: Set[str] = set()
        self.refs: List[Tuple[str, str, str, int]] = []  # (tag, attribute, url, line)

    def handle_starttag(self, tag: str, attrs: List[Tuple[str, str | None]]) -> None:
        values: Dict[str, str] = {k: v for k, v in attrs if v is not None}
        for key in ("id",):
            if key in values:
                self.ids.add(values[key])
        if tag == "a" and "name" in values:
            self.ids.add(values["name"])
        for attribute in ("href", "src"):
            if attribute in values:
                if tag == "link" and values.get("rel", "") in ("canonical", "alternate"):
                    continue
                self.refs.append((tag, attribute, values[attribute], self.getpos()[0]))
        if "srcset" in values:
            for candidate in values["srcset"].split(","):
                url = candidate.strip().split(" ")[0]
                if url:
                    self.refs.append((tag, "srcset", url, self.getpos()[0]))


def parse(path: Path) -> Page:
    page = Page()
    page.feed(path.read_text(encoding="utf-8", errors="replace"))
    page.close()
    return page


def site_pages(site: Path) -> List[Path]:
    """The pages of the site; _static holds the theme's templates, not pages."""
    return [p for p in sorted(site.rglob("*.html"))
            if "_static" not in p.relative_to(site).parts]


def check(site: Path, show_external: bool = False) -> List[str]:
    site = site.resolve()
    pages = {p.resolve(): parse(p) for p in site_pages(site)}
    faults: List[str] = []
    external: Set[str] = set()
    for path, page in pages.items():
        where = path.relative_to(site)
        for tag, attribute, url, line in page.refs:
            parts = urlsplit(url)
            scheme = parts.scheme.lower()
            if scheme in IGNORED_SCHEMES:
                continue
            if scheme in EXTERNAL_SCHEMES or url.startswith("//"):
                if (tag, attribute) in RESOURCES or attribute == "srcset":
                    faults.append(f"{where}:{line}: <{tag} {attribute}> loads {url} from the network")
                else:
                    external.add(url)
                continue
            if scheme:
                faults.append(f"{where}:{line}: unknown scheme in {url}")
                continue
            target = path if not parts.path else (path.parent / unquote(parts.path)).resolve()
            if target.is_dir():
                target = target / "index.html"
            if site not in target.parents and target != site:
                faults.append(f"{where}:{line}: {url} leaves the site")
                continue
            if not target.is_file():
                faults.append(f"{where}:{line}: <{tag} {attribute}> {url}: no such file")
                continue
            fragment = unquote(parts.fragment)
            if fragment and target.suffix == ".html":
                ids = pages[target].ids if target in pages else parse(target).ids
                if fragment not in ids:
                    faults.append(f"{where}:{line}: {url}: no anchor #{fragment} in "
                                  f"{target.relative_to(site)}")
    if show_external:
        for url in sorted(external):
            print(f"external (not followed): {url}")
    return faults


def main(argv: List[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("site", type=Path, help="the built HTML site (build/docs/html)")
    parser.add_argument("--external", action="store_true", help="list the external links")
    args = parser.parse_args(argv)
    if not (args.site / "index.html").is_file():
        print(f"{args.site}: no index.html; build the site first", file=sys.stderr)
        return 2
    faults = check(args.site, args.external)
    for fault in faults:
        print(fault)
    pages = len(site_pages(args.site))
    print(f"{pages} pages checked: {len(faults)} unresolved link(s) or image(s)")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
