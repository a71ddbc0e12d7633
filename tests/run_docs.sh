#!/usr/bin/env bash
# Builds the documentation site and checks it like code. Run from anywhere:
#     bash tests/run_docs.sh
# It installs what is missing (Debian's chromium, the package with its "docs"
# extra), then
#   1. builds the site into build/docs/html with warnings as errors and every
#      cross-reference resolved (-W -n); the build runs the tutorial and
#      measures the accuracy of the laws;
#   2. runs the examples of the pages and docstrings as doctests;
#   3. checks every internal link, anchor and image of the built pages
#      (tools/check_site_links.py; external links are never followed);
#   4. runs tests/docs: the pages in headless Chromium (screenshots in
#      build/docs/screenshots), the link checker's own tests and the
#      scale-out recipes shown on the pages.
set -euo pipefail
cd "$(dirname "$0")/.."
PYTHON=${PYTHON:-python3}
OUT=build/docs

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

if ! command -v chromium >/dev/null 2>&1 && ! command -v chromium-browser >/dev/null 2>&1; then
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq chromium
fi

"$PYTHON" -m pip install -q ".[docs]"

# A fresh build every time: generated pages of a removed object must not linger.
rm -rf "$OUT/html" "$OUT/doctest" "$OUT/doctrees" docs/auto_examples docs/api/generated \
       docs/_generated docs/sg_execution_times.rst
"$PYTHON" -m sphinx -W -n --keep-going -q -d "$OUT/doctrees" docs "$OUT/html"
"$PYTHON" -m sphinx -W -n --keep-going -q -b doctest -d "$OUT/doctrees" docs "$OUT/doctest"
"$PYTHON" tools/check_site_links.py "$OUT/html"

CORVANIS_DOCS_HTML="$PWD/$OUT/html" CORVANIS_DOCS_SCREENSHOTS="$PWD/$OUT/screenshots" \
    "$PYTHON" -m pytest -q -p no:cacheprovider tests/docs
