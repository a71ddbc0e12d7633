"""Sphinx configuration of the corvanis documentation site.

Build (warnings are errors, every cross-reference must resolve):
    sphinx-build -W -n docs build/docs/html
"""

from __future__ import annotations

import os
import sys
from importlib.metadata import version as _version
from pathlib import Path

DOCS = Path(__file__).resolve().parent
sys.path.insert(0, str(DOCS / "scripts"))

project = "corvanis"
author = "the corvanis developers"
copyright = "2026, the corvanis developers"
release = _version("corvanis")
version = release

extensions = [
    "sphinx.ext.autodoc",
    "sphinx.ext.autosummary",
    "sphinx.ext.doctest",
    "numpydoc",
    "myst_parser",
    "matplotlib.sphinxext.plot_directive",
    "sphinx_gallery.gen_gallery",
]

source_suffix = {".rst": "restructuredtext", ".md": "markdown"}
root_doc = "index"
exclude_patterns = ["_build", "gallery/README.rst", "**.ipynb_checkpoints"]
templates_path = ["_templates"]

# The machines that build the site have no network: no intersphinx, and every
# reference must resolve inside the site (-n). Annotations name NumPy and
# typing objects that have no page here.
nitpicky = True
nitpick_ignore_regex = [
    ("py:class", r"(numpy|np|npt)\..*"),
    ("py:class", r"(typing\.)?(Union|Sequence|Tuple|Optional|Any|Iterable)"),
    ("py:class", r"(array_like|ndarray|float|int|str|bool|tuple|list|optional|sequence)"),
    ("py:exc", r"(RuntimeError|TypeError|ValueError|MemoryError|PanicException)"),
    ("py:class", r"(BaseException|TypeError)"),
    ("py:class", r"Law or sequence of Law"),
    ("py:obj", r"typing\..*"),
]

autosummary_generate = True
# Types are in the numpydoc Parameters sections; signatures stay short.
autodoc_typehints = "none"
autodoc_member_order = "bysource"
numpydoc_show_class_members = False
numpydoc_class_members_toctree = False
numpydoc_xref_param_type = False

# The examples in docstrings and pages run under `sphinx-build -b doctest`.
doctest_global_setup = "import numpy as np\nimport corvanis\nimport corvanis_fspl as fs\n"

myst_heading_anchors = 3
myst_enable_extensions = ["colon_fence"]

# Figures drawn by scripts at build time (the accuracy of the laws).
plot_include_source = False
plot_html_show_source_link = False
plot_html_show_formats = False
plot_formats = [("png", 110)]
plot_rcparams = {"figure.figsize": (7.0, 4.2)}

sphinx_gallery_conf = {
    "examples_dirs": ["gallery"],
    "gallery_dirs": ["auto_examples"],
    "filename_pattern": r"/plot_",
    "download_all_examples": False,
    "remove_config_comments": True,
    "show_memory": False,
    # The timing pages load scripts from the network; the site must work offline.
    "write_computation_times": False,
    "within_subsection_order": "FileNameSortKey",
}

html_theme = "pydata_sphinx_theme"
html_title = f"corvanis {release}"
html_static_path = ["_static"]
html_css_files = ["custom.css"]
html_theme_options = {
    "navigation_with_keys": False,
    "show_toc_level": 2,
    "footer_start": ["copyright"],
    "footer_end": ["sphinx-version"],
}
html_show_sourcelink = False
html_last_updated_fmt = None
html_copy_source = False


def _measure_law_accuracy(app):
    """Measure the laws' accuracy once per build, for the figure and the table
    of laws.md."""
    import law_accuracy

    law_accuracy.main(DOCS / "_generated")


def setup(app):
    app.connect("builder-inited", _measure_law_accuracy)
