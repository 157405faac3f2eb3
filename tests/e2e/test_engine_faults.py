"""A catalogue that cannot be fetched: every fault mode of the sandbox ends in a notice that says
what failed, no pip child, and status 1."""

from __future__ import annotations

import pytest

from engine_support import FETCH_NOTICE, run_engine  # noqa: F401 (fixture)

FAULTS = [
    pytest.param({"mode": "status", "status": 500}, "500", id="status-500"),
    pytest.param({"mode": "status", "status": 403}, "403", id="status-403"),
    pytest.param({"mode": "status", "status": 201}, "201", id="status-201"),
    pytest.param({"mode": "status", "status": 404}, "404", id="status-404"),
    pytest.param({"mode": "delay"}, "", id="timeout"),
    pytest.param({"mode": "delay", "stage": "after_headers"}, "", id="timeout-in-body"),
    pytest.param({"mode": "not_json"}, "", id="not-json"),
    pytest.param({"mode": "wrong_shape", "shape": "packages_object"}, "", id="packages-object"),
    pytest.param({"mode": "wrong_shape", "shape": "top_level_array"}, "", id="top-level-array"),
    pytest.param({"mode": "wrong_shape", "shape": "missing_product_type"}, "",
                 id="missing-kind"),
    pytest.param({"mode": "wrong_shape", "shape": "name_not_string"}, "", id="name-not-string"),
    pytest.param({"mode": "wrong_shape", "shape": "name_is_option"}, "", id="name-is-option"),
    pytest.param({"mode": "drop"}, "", id="dropped-mid-body"),
    pytest.param({"mode": "drop", "stage": "no_reply"}, "", id="dropped-before-reply"),
    pytest.param({"mode": "drop", "reset": True}, "", id="connection-reset"),
    pytest.param({"mode": "huge"}, "", id="huge"),
    pytest.param({"mode": "huge", "chunked": True}, "", id="huge-chunked"),
]


@pytest.mark.parametrize("fault, detail", FAULTS)
def test_list_packages_says_what_failed(sandbox, run_engine, fault, detail):
    sandbox.set_fault(**fault)
    result = run_engine("list-packages")
    assert result.returncode == 1
    assert result.stdout.startswith(FETCH_NOTICE), result.stdout
    assert len(result.stdout.splitlines()) == 1
    assert detail in result.stdout
    assert sandbox.requests()["index"] == []


@pytest.mark.parametrize("command, after", [
    (("install", "--package", "bundle-alder"), ""),
    (("download", "--folder", "out"), "No packages available for download.\n"),
    (("uninstall",), "No packages found to uninstall.\n"),
], ids=["install", "download", "uninstall"])
def test_operations_start_no_pip_child(sandbox, venv, run_engine, tmp_path, command, after):
    sandbox.set_fault(mode="status", status=503)
    before = venv.installed()
    result = run_engine(*command, venv=venv)
    assert result.returncode == 1
    lines = result.stdout[:len(result.stdout) - len(after)].splitlines()
    assert lines and all(line.startswith(FETCH_NOTICE) and "503" in line for line in lines)
    assert result.stdout.endswith(after)
    assert sandbox.requests()["index"] == []
    assert venv.installed() == before
    assert not (tmp_path / "out").exists()
