#!/usr/bin/env python3
"""Writes the libraries the search tests run over into <dir>.

usage: make_search_libraries.py <dir>

Index images by tests/bmod/unzipd/search/ruvx_build.py (`image <path>`
jobs), libraries by zipfile with several .qxx members, a structure file
with a level-3 folder, CAT marks, member comments with TITLE:, CTW: and
CAT:"...", chaptered documents, a PDF, dec-classes.xml, a collection with
library-references.xml and kivo_help.khx; a manifest of what each search
must find.
"""
