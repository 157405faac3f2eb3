"""The program as a user first meets it: its help and its version. Both are in the smoke subset
that CI runs against the program as packaged."""

from __future__ import annotations

import os
import re

import pytest

ACTIONS = ["install", "uninstall", "download", "list-packages", "check-requirements"]


@pytest.mark.smoke
def test_help_lists_the_actions(run_program):
    result = run_program()
    assert result.returncode == 0, result.stderr
    assert result.stdout.startswith("usage: tessel-installer [-h] [--version] ACTION ...\n")
    listed = re.findall(r"^  ([a-z-]+) ", result.stdout.split("\naction:\n", 1)[1], re.M)
    assert listed == ACTIONS


@pytest.mark.smoke
def test_version(run_program):
    result = run_program("--version")
    assert result.returncode == 0, result.stderr
    # CTest names the project's version; a packaged program is checked against its package's.
    expected = os.environ.get("TESSEL_INSTALLER_VERSION")
    assert expected, "TESSEL_INSTALLER_VERSION is not set"
    assert result.stdout == f"tessel-installer {expected}\n"
    assert result.stderr == ""
