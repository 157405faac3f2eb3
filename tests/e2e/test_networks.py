"""The pip set-ups that users really have, against real pip: quiet mode, the user's own extra
package sources, an externally managed interpreter, an index that asks for credentials."""

from __future__ import annotations

import functools
import http.server
import os
import sys
import threading

import pytest

from engine_support import SUCCESS, screen, run_engine  # noqa: F401  (run_engine is a fixture)

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "sandbox"))
import wheels  # noqa: E402

ALDER = {"name": "bundle-alder", "summary": "a mirror's alder", "requires": []}


class _Quiet(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


@pytest.fixture(scope="module")
def mirror(tmp_path_factory):
    """A corporate mirror (Python's http.server over a folder in PEP 503 layout) that offers a
    bundle-alder 9.0.0 the vendor never published; its folder doubles as a find-links folder."""
    root = tmp_path_factory.mktemp("mirror")
    project = root / "simple" / "bundle-alder"
    project.mkdir(parents=True)
    name, data = wheels.build_wheel(ALDER, "9.0.0")
    (project / name).write_bytes(data)
    server = http.server.ThreadingHTTPServer(
        ("127.0.0.1", 0), functools.partial(_Quiet, directory=str(root)))
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    host = f"127.0.0.1:{server.server_address[1]}"
    yield {"url": f"http://{host}/simple/", "host": host, "links": str(project)}
    server.shutdown()


# One row per set-up: the variables of the user's environment, the user's pip config file
# (None: none) and what pip's own look-up prints with them (None: no "Available versions" line).
USER_SETUPS = [
    pytest.param({"PIP_QUIET": "1"}, None, None, id="PIP_QUIET=1"),
    pytest.param({}, "[global]\nquiet = 1\n", None, id="quiet = 1 in a pip config"),
    pytest.param({}, "[global]\nextra-index-url = {url}\ntrusted-host = {host}\n", "9.0.0",
                 id="extra-index-url in a pip config"),
    pytest.param({"PIP_EXTRA_INDEX_URL": "{url}", "PIP_TRUSTED_HOST": "{host}"}, None, "9.0.0",
                 id="PIP_EXTRA_INDEX_URL"),
    pytest.param({}, "[index]\nfind-links = {links}\n[install]\nfind-links = {links}\n",
                 "9.0.0", id="find-links in a pip config"),
    pytest.param({"PIP_FIND_LINKS": "{links}"}, None, "9.0.0", id="PIP_FIND_LINKS"),
]


@pytest.mark.parametrize("variables, config, pip_alone", USER_SETUPS)
def test_the_vendor_package_is_pinned_and_installed_whatever_the_user_set(
        variables, config, pip_alone, mirror, venv, run_engine, tmp_path):
    if config is not None:
        path = tmp_path / "pip.conf"
        path.write_text(config.format(**mirror), encoding="utf-8")
        venv.env["PIP_CONFIG_FILE"] = str(path)
    venv.env.update({name: value.format(**mirror) for name, value in variables.items()})
    # pip itself, as configured, would take the mirror's version (or say nothing in quiet mode).
    seen = venv.pip("index", "versions", "bundle-alder", "--index-url",
                    "https://127.0.0.1:18443/")
    if pip_alone is None:
        assert "Available versions" not in seen.stdout, seen.stdout
    else:
        assert f"Available versions: {pip_alone}" in seen.stdout, seen.stdout + seen.stderr

    result = run_engine("install", "--package", "bundle-alder", venv=venv)
    assert result.returncode == 0, result.stdout + result.stderr
    assert screen(result.stdout).startswith("\nInstalling Bundles:\n\rbundle-alder - Installed!\n")
    assert SUCCESS["install"] in result.stdout
    assert venv.installed()["bundle-alder"] == "1.1.0"
