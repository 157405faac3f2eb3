"""`uninstall` (from the record, or from the catalogue when there is none) and `list-packages`."""

from __future__ import annotations

import os

import pytest

from engine_support import record, shows, run_engine  # noqa: F401 (fixture)

TRUSTED_PIP = ("--index-url", "https://127.0.0.1:18443/", "--trusted-host", "127.0.0.1:18443")


@pytest.mark.smoke
def test_uninstall_from_the_record(venv, run_engine):
    installed = run_engine("install", "--package", "bundle-cedar", "-v", "1.0.0", venv=venv)
    assert installed.returncode == 0, installed.stdout + installed.stderr
    assert record(venv) == ["bundle-cedar"]
    # A line that pip would read as an option is skipped with a warning naming it.
    with open(os.path.join(venv.data_dir, "installed_packages.txt"), "a",
              encoding="utf-8") as handle:
        handle.write("--index-url=http://127.0.0.1:9/\n")

    result = run_engine("uninstall", venv=venv)
    shows(result, "Warning: Skipping '--index-url=http://127.0.0.1:9/' in the record of installed "
          "packages: not a valid package name.\nUninstalling:\n\rbundle-cedar - Uninstalled!\n")
    after = venv.installed()
    assert "bundle-cedar" not in after
    assert "tessel-common-utils" in after  # its dependency stays
    assert record(venv) == ["--index-url=http://127.0.0.1:9/"]

    nothing = run_engine("uninstall", venv=venv)
    assert nothing.returncode == 0
    assert nothing.stdout.endswith("No packages found to uninstall.\n")


def test_uninstall_falls_back_to_the_catalogue(sandbox, venv, run_engine):
    sandbox.set_catalogue([("tessel-enterprise", "base"), ("bundle-cedar", "bundle")])
    pip = venv.pip("install", "bundle-cedar==1.0.0", *TRUSTED_PIP)
    assert pip.returncode == 0, pip.stderr
    result = run_engine("uninstall", venv=venv)
    # Every catalogue package goes to pip, installed or not; pip skips the missing one.
    shows(result, "Uninstalling:\n\rtessel-enterprise - Uninstalled!\n"
          "\rbundle-cedar - Uninstalled!\n")
    assert "bundle-cedar" not in venv.installed()
    assert record(venv) is None  # removal never creates the record


def test_nothing_to_uninstall(sandbox, venv, run_engine):
    result = run_engine("uninstall", venv=venv)
    assert (result.returncode, result.stdout, result.stderr) == (
        0, "No packages found to uninstall.\n", "")
    assert len(sandbox.requests()["catalogue"]) == 1


def test_list_packages(sandbox, run_engine):
    result = run_engine("list-packages")
    assert (result.returncode, result.stderr) == (0, "")
    assert result.stdout == ("\nTessel Enterprise:\ntessel-enterprise\ntessel-enterprise-full\n"
                             "\nTessel Bundles:\nbundle-alder\nbundle-birch\nbundle-cedar\n"
                             "bundle-dogwood\n")
    sandbox.set_catalogue([("bundle-cedar", "bundle"), ("bundle-alder", "bundle"),
                           ("odd", "addon")])
    bundles_only = run_engine("list-packages")
    assert (bundles_only.returncode, bundles_only.stdout) == (
        0, "\nTessel Enterprise:\n\n\nTessel Bundles:\nbundle-alder\nbundle-cedar\n")
    sandbox.set_catalogue([])
    empty = run_engine("list-packages")
    assert (empty.returncode, empty.stdout) == (0, "\nTessel Enterprise:\n\n")
