"""`install` from the package index: what the user sees, what lands in the venv, the record of
installed packages, and the exit status."""

from __future__ import annotations

import os
import subprocess

import pytest

from engine_support import (BIRCH_WARNING, NOTE, PARTIAL, SUCCESS, TRUSTED, WARNING, record,
                            shows, without, run_engine)


def test_whole_catalogue_pinned_to_the_newest_versions(sandbox, venv, run_engine):
    sandbox.set_catalogue(without(sandbox.catalogue_file_entries, "bundle-dogwood"))
    result = run_engine("install", venv=venv)
    # The base labels carry the version that was looked up; the bundles that the full package
    # brought in are found installed at exactly the newest version.
    shows(result, (
        "\nInstalling Tessel Enterprise:\n"
        "\rtessel-enterprise (version 1.0.0) - Installed!\n"
        "\rtessel-enterprise-full (version 1.0.0) - Installed!\n"
        "\nInstalling Bundles:\n"
        "\rbundle-alder - N/A (already installed)\n"
        "\rbundle-birch - Installed!\n"
        "\rbundle-cedar - N/A (already installed)\n"
        + BIRCH_WARNING + SUCCESS["install"]))
    assert result.stderr == ""
    installed = venv.installed()
    assert {name: installed.get(name) for name in
            ("tessel-enterprise", "tessel-enterprise-full", "bundle-alder", "bundle-birch",
             "bundle-cedar")} == {"tessel-enterprise": "1.0.0", "tessel-enterprise-full": "1.0.0",
                                  "bundle-alder": "1.1.0", "bundle-birch": "1.0.0",
                                  "bundle-cedar": "1.0.0"}
    assert record(venv) == ["tessel-enterprise", "tessel-enterprise-full", "bundle-alder",
                            "bundle-birch", "bundle-cedar"]
    # Two catalogue requests, as the install makes them.
    assert len(sandbox.requests()["catalogue"]) == 2


def test_one_bundle_pinned_then_upgraded(venv, run_engine):
    pinned = run_engine("install", "--package", "bundle-alder", "-v", "1.0.0", venv=venv)
    # bundle-alder pulls in the base package: the note names it.
    shows(pinned, "\nInstalling Bundles:\n\rbundle-alder - Installed!\n" + SUCCESS["install"]
          + NOTE.format("tessel-enterprise") + "\n")
    assert venv.installed()["bundle-alder"] == "1.0.0"

    upgraded = run_engine("install", "--package", "bundle-alder", "--upgrade", venv=venv)
    shows(upgraded, "\nInstalling Bundles:\n\rbundle-alder - Installed!\n" + SUCCESS["install"])
    assert venv.installed()["bundle-alder"] == "1.1.0"

    again = run_engine("install", "--package", "bundle-alder", "--upgrade", venv=venv)
    shows(again, "\nInstalling Bundles:\n"
          "\rbundle-alder - N/A (already installed and up-to-date)\n" + SUCCESS["install"])
    assert record(venv) == ["bundle-alder"]  # recorded once, however often installed


def test_base_package_with_options_goes_with_the_bundles(venv, run_engine):
    result = run_engine("install", "--package", "tessel-enterprise", "--options", "alder",
                         venv=venv)
    shows(result, "\nInstalling Bundles:\n\rtessel-enterprise[alder] - Installed!\n"
          + SUCCESS["install"] + NOTE.format("bundle-alder") + "\n")
    installed = venv.installed()
    assert "tessel-enterprise" in installed and "bundle-alder" in installed
    assert record(venv) == ["tessel-enterprise[alder]"]


def test_connectors_bundle_warns_about_database_packages(venv, run_engine):
    result = run_engine("install", "--package", "bundle-birch", venv=venv)
    shows(result, "\nInstalling Bundles:\n\rbundle-birch - Installed!\n" + BIRCH_WARNING
          + PARTIAL["install"])
    assert venv.installed()["bundle-birch"] == "1.0.0"


def test_failed_package_ends_with_status_one(sandbox, venv, run_engine):
    result = run_engine("install", "--package", "bundle-dogwood", venv=venv)
    shows(result, "\nInstalling Bundles:\n\rbundle-dogwood - Installation failed. Use --debug "
          "for more details.\n" + WARNING["install"], status=1)
    assert "bundle-dogwood" not in venv.installed()
    assert record(venv) is None


def test_debug_shows_the_command_and_pips_own_output(venv, run_engine):
    result = run_engine("install", "--package", "bundle-cedar", "-v", "1.0.0", "--debug",
                         venv=venv)
    assert result.returncode == 0, result.stdout + result.stderr
    command = ("\npip install bundle-cedar==1.0.0 --index-url https://127.0.0.1:18443/ "
               + TRUSTED + "\n")
    assert result.stdout.startswith("\nInstalling Bundles:\n" + command), result.stdout
    assert "Successfully installed bundle-cedar-1.0.0" in result.stdout
    assert "\r" not in result.stdout
    assert result.stdout.endswith(PARTIAL["install"])
    assert record(venv) == ["bundle-cedar"]


def test_unknown_package_and_empty_catalogue(sandbox, venv, run_engine):
    unknown = run_engine("install", "--package", "bundle-x", venv=venv)
    assert (unknown.returncode, unknown.stdout) == (
        1, "Invalid package bundle-x or no access to the given package.\n")
    sandbox.set_catalogue([])
    empty = run_engine("install", venv=venv)
    assert (empty.returncode, empty.stdout) == (0, "No packages available for installation.\n")
    assert sandbox.requests()["index"] == []


def test_venv_whose_path_holds_a_blank(venv_with_blank, run_engine):
    assert " " in venv_with_blank.python
    result = run_engine("install", "--package", "bundle-cedar", "-v", "1.0.0",
                         venv=venv_with_blank)
    shows(result, "\nInstalling Bundles:\n\rbundle-cedar - Installed!\n" + PARTIAL["install"])
    assert venv_with_blank.installed()["bundle-cedar"] == "1.0.0"


def test_a_build_without_trusted_hosts_installs_with_certificates_checked(sandbox, venv,
                                                                          tmp_path):
    """The sanitizer build is configured with no trusted hosts: pip then checks the index's
    certificate, which the harness makes trusted through REQUESTS_CA_BUNDLE."""
    program = os.environ.get("TESSEL_INSTALLER_BIN_NO_TRUSTED_HOSTS")
    if not program:
        pytest.skip("TESSEL_INSTALLER_BIN_NO_TRUSTED_HOSTS is not set (scripts/test sets it to "
                    "the sanitizer build)")
    sandbox.set_catalogue([("bundle-cedar", "bundle")])
    result = subprocess.run([program, "install", "--package", "bundle-cedar", "--debug"],
                            env=venv.env, cwd=str(tmp_path), stdin=subprocess.DEVNULL,
                            capture_output=True, text=True, timeout=300)
    assert result.returncode == 0, result.stdout + result.stderr
    assert "--index-url https://127.0.0.1:18443/" in result.stdout
    assert "--trusted-host" not in result.stdout
    assert venv.installed().get("bundle-cedar") == "1.0.0"
    assert record(venv) == ["bundle-cedar"]
