"""Runs a page's scripts in node against recording stubs of the browser
(page_script_runner.js beside this file; its header lists the options and
the result's keys)."""

import json
import os
import shutil
import subprocess

RUNNER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "page_script_runner.js")


def run_page_scripts(page, options=None, timeout=30):
    """The runner's result for page (bytes, or text written as Latin-1) with
    options (a dict); a runner that fails raises AssertionError."""
    node = shutil.which("node")
    if node is None:
        raise AssertionError("node is needed: scripts/setup installs nodejs")
    data = page if isinstance(page, bytes) else page.encode("latin-1")
    done = subprocess.run([node, RUNNER, "-", json.dumps(options or {})], input=data, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=timeout)
    if done.returncode != 0:
        raise AssertionError("page_script_runner.js failed: " + done.stderr.decode("latin-1"))
    return json.loads(done.stdout.decode("utf-8"))
