"""list-packages --json and check-requirements --json: the documents of real runs against the
sandbox and in real venvs, checked against the published schema and against the text report of
the same run; a failure leaves standard output empty."""

from __future__ import annotations

import json
import os

import pytest

from engine_support import FETCH_NOTICE
from schema_support import validate_document

ODD_CATALOGUE = [("bundle-cedar", "bundle"), ("odd", "addon"), ("tessel-enterprise", "base"),
                 ("bundle-alder", "bundle")]

# (id, action, catalogue (None: the committed one), extra environment, with a venv)
RUNS = [
    ("list", "list-packages", None, {}, False),
    ("list-odd-kinds", "list-packages", ODD_CATALOGUE, {}, False),
    ("list-empty", "list-packages", [], {}, False),
    ("check-passes", "check-requirements", None, {}, True),
    # Outside a venv with pip told to insist on one: an environment finding, the check fails.
    ("check-fails", "check-requirements", None, {"PIP_REQUIRE_VIRTUALENV": "1"}, False),
]


def _text_lines(result) -> list[str]:
    return result.stdout.splitlines()


@pytest.mark.parametrize("action, catalogue, env, in_venv",
                         [row[1:] for row in RUNS], ids=[row[0] for row in RUNS])
def test_the_document_follows_the_schema_and_says_what_the_text_says(
        sandbox, run_program, venv, action, catalogue, env, in_venv):
    if catalogue is not None:
        sandbox.set_catalogue(catalogue)
    where = {"venv": venv} if in_venv else {}
    result = run_program(action, "--json", env=env, **where)
    text = run_program(action, env=env, **where)
    assert result.stderr == "" and result.stdout.endswith("}\n"), result.stdout + result.stderr
    assert result.stdout.count("\n") == 1
    document = json.loads(result.stdout)
    validate_document(document, "list" if action == "list-packages" else "check")
    assert document["program"]["version"] == os.environ.get("TESSEL_INSTALLER_VERSION",
                                                           document["program"]["version"])

    if action == "list-packages":
        assert result.returncode == 0
        # The text's names, in its order, without its headings and blank lines.
        names = [line for line in _text_lines(text)
                 if line and line not in ("Tessel Enterprise:", "Tessel Bundles:")]
        assert [p["name"] for p in document["packages"]] == names
        kinds = dict(catalogue or sandbox.catalogue_file_entries)
        assert all(kinds[p["name"]] == p["kind"] for p in document["packages"])
    else:
        assert result.returncode == text.returncode == (0 if document["passed"] else 1)
        assert document["passed"] is (not env)
        # Each fact is the text's line of the same name and value, marked when it failed.
        lines = [f"{f['name']}: {f['value']}" + (" (!)" if f["passed"] is False else "")
                 for f in document["facts"]]
        report = _text_lines(text)
        assert lines == report[2:2 + len(lines)]
        assert report[2 + len(lines):][:2] == ["", "Result: " + ("Passed" if document["passed"]
                                                                 else "Failed")]


@pytest.mark.parametrize("action", ["list-packages", "check-requirements"])
def test_a_failure_leaves_standard_output_empty(sandbox, run_program, venv, make_venv, action):
    if action == "list-packages":
        sandbox.set_fault("status", status=503)
        where = venv
    else:
        where = make_venv("no-pip")
        where.pip("uninstall", "-y", "pip")
    result = run_program(action, "--json", venv=where)
    assert (result.returncode, result.stdout) == (1, ""), result.stdout + result.stderr
    assert result.stderr.count("\n") == 1 and result.stderr.startswith("tessel-installer: error: ")
    if action == "list-packages":
        assert FETCH_NOTICE + "the service answered with HTTP status 503" in result.stderr
    else:
        assert "pip is not installed" in result.stderr

