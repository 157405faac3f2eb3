"""`download` into a folder, and `install --folder` from it: offline, with no request to the
index, whatever the folder's path holds; the folder's manifest, and the check made of it before
anything is installed."""

from __future__ import annotations

import hashlib
import json
import os
import pathlib
import shutil
import subprocess

import pytest

from conftest import new_venv
from engine_support import (BIRCH_WARNING, NOTE, PARTIAL, SUCCESS, WARNING,  # noqa: F401
                            record, run_engine, shows)

MANIFEST = "tessel-bundle.json"
NO_MANIFEST = ("Notice! The folder has no manifest (tessel-bundle.json); its files were not "
               "verified.\n")
MANAGED = ["tessel-enterprise", "tessel-enterprise-full", "bundle-alder", "bundle-birch",
           "bundle-cedar"]


@pytest.fixture(scope="module")
def downloaded(program, sandbox, _venv_template, _pip_cache, tmp_path_factory):
    """One download of the whole catalogue, shared by the tests of this module: a folder whose
    path holds a blank, and the program's run that filled it. Tests only read the folder."""
    sandbox.reset()
    base = tmp_path_factory.mktemp("download")
    folder = str(base / "wheel dir")
    venv = new_venv(_venv_template, _pip_cache, sandbox, base)
    before = venv.installed()
    # Bytes, so the carriage returns of the progress line reach the assertions unchanged.
    result = subprocess.run([program, "download", "--folder", folder], env=venv.env,
                            stdin=subprocess.DEVNULL, capture_output=True, timeout=300,
                            cwd=venv.home)
    result.stdout = result.stdout.decode()
    result.stderr = result.stderr.decode()
    return folder, result, venv, before


def test_download_of_the_whole_catalogue(downloaded):
    folder, result, venv, before = downloaded
    # bundle-dogwood is built for no platform here: its failure makes the status 1.
    shows(result, (
        "\nDownloading Tessel Enterprise:\n"
        "\rtessel-enterprise (version 1.0.0) - Downloaded!\n"
        "\rtessel-enterprise-full (version 1.0.0) - Downloaded!\n"
        "\nDownloading Bundles:\n"
        "\rbundle-alder - Downloaded!\n"
        "\rbundle-birch - Downloaded!\n"
        "\rbundle-cedar - Downloaded!\n"
        "\rbundle-dogwood - Download failed. Use --debug for more details.\n"
        + BIRCH_WARNING + WARNING["download"]), status=1)
    files = set(os.listdir(folder))
    assert {"tessel_enterprise-1.0.0-py3-none-any.whl", "bundle_alder-1.1.0-py3-none-any.whl",
            "tessel_common_utils-1.4.0-py3-none-any.whl"} <= files
    assert not any(name.startswith("bundle_dogwood") for name in files)
    # The manifest covers every distribution file, also after a failed child (bundle-dogwood).
    manifest = json.loads(pathlib.Path(folder, MANIFEST).read_text(encoding="utf-8"))
    assert manifest["schema"] == 1 and manifest["program_version"] == os.environ.get(
        "TESSEL_INSTALLER_VERSION", manifest["program_version"])
    assert manifest["request"] == {"package": None, "version": None, "options": None,
                                   "python_version": None, "platforms": None}
    assert manifest["packages"] == {"tessel-enterprise": "base", "tessel-enterprise-full": "base",
                                    "bundle-alder": "bundle", "bundle-birch": "bundle",
                                    "bundle-cedar": "bundle"}
    listed = {name: (len(data), hashlib.sha256(data).hexdigest()) for name in files - {MANIFEST}
              for data in [pathlib.Path(folder, name).read_bytes()]}
    assert {f["name"]: (f["size"], f["sha256"]) for f in manifest["files"]} == listed
    # A download installs nothing and records nothing.
    assert venv.installed() == before
    assert record(venv) is None


def test_download_for_another_platform_and_interpreter(sandbox, venv, run_engine, tmp_path):
    folder = str(tmp_path / "arm")
    result = run_engine("download", "--package", "bundle-dogwood", "--folder", folder,
                         "--platform", "win_arm64", "--python-version", "3.11", venv=venv)
    shows(result, "\nDownloading Bundles:\n\rbundle-dogwood - Downloaded!\n" + PARTIAL["download"])
    assert sorted(os.listdir(folder)) == ["bundle_dogwood-1.0.0-py3-none-win_arm64.whl", MANIFEST]

    folder = str(tmp_path / "py38")
    result = run_engine("download", "--package", "tessel-enterprise", "--folder", folder,
                         "--python-version", "3.8", venv=venv)
    shows(result, "\nDownloading Tessel Enterprise:\n"
          "\rtessel-enterprise (version 1.0.0) - Downloaded!\n" + SUCCESS["download"])
    assert "tessel_enterprise-1.0.0-py3-none-any.whl" in os.listdir(folder)


def test_download_of_an_unknown_package(venv, run_engine, tmp_path):
    result = run_engine("download", "--package", "bundle-x", "--folder", str(tmp_path / "f"),
                         venv=venv)
    assert (result.returncode, result.stdout) == (
        1, "Invalid package bundle-x or no access to the given package.\n"
           "No packages available for download.\n")


def test_install_from_the_folder(sandbox, downloaded, venv, run_engine):
    folder = downloaded[0]
    result = run_engine("install", "--folder", folder, venv=venv)
    # Offline: no version is looked up, so no label carries one.
    shows(result, (
        "\nInstalling Tessel Enterprise:\n"
        "\rtessel-enterprise - Installed!\n"
        "\rtessel-enterprise-full - Installed!\n"
        "\nInstalling Bundles:\n"
        "\rbundle-alder - Installed!\n"
        "\rbundle-birch - Installed!\n"
        "\rbundle-cedar - Installed!\n"
        + BIRCH_WARNING + SUCCESS["install"]))
    installed = venv.installed()
    assert all(name in installed for name in MANAGED)
    assert installed["tessel-common-utils"] == "1.4.0"  # taken from the folder, not selected
    requests = sandbox.requests()
    assert requests["catalogue"] == [] and requests["index"] == []
    # Recorded as an online install is, so that `uninstall` finds it without the catalogue.
    assert record(venv) == MANAGED


def test_install_one_package_from_the_folder_into_a_venv_with_a_blank(
        sandbox, downloaded, venv_with_blank, run_engine):
    result = run_engine("install", "--folder", downloaded[0], "--package", "bundle-alder",
                         venv=venv_with_blank)
    shows(result, "\nInstalling Bundles:\n\rbundle-alder - Installed!\n" + SUCCESS["install"]
          + NOTE.format("tessel-enterprise") + "\n")
    installed = venv_with_blank.installed()
    assert installed["bundle-alder"] == "1.1.0" and "bundle-cedar" not in installed
    assert sandbox.requests()["index"] == []


def test_requested_package_missing_from_the_folder(downloaded, venv, run_engine):
    before = venv.installed()
    for package in ("bundle-dogwood", "-rrequirements.txt"):
        result = run_engine("install", "--folder", downloaded[0], f"--package={package}",
                             venv=venv)
        assert result.returncode == 1
        assert result.stdout == (
            "\nWarning: We couldn\u2019t find the requested package: '" + package +
            "' in the provided folder, no packages were installed.\n")
    assert venv.installed() == before


def test_malformed_wheel_name_in_the_folder(downloaded, venv, run_engine, tmp_path):
    folder = str(tmp_path / "broken")
    shutil.copytree(downloaded[0], folder)
    os.remove(os.path.join(folder, MANIFEST))  # the name itself is what is checked here
    with open(os.path.join(folder, "broken.whl"), "wb"):
        pass
    before = venv.installed()
    result = run_engine("install", "--folder", folder, venv=venv)
    assert result.returncode == 1
    assert result.stdout == ""
    assert result.stderr.startswith("tessel-installer: error: ")
    assert "broken.whl" in result.stderr
    assert len(result.stderr.splitlines()) == 1
    assert venv.installed() == before


def test_a_folder_that_holds_nothing_to_install_is_a_failure(venv, run_engine, tmp_path):
    missing = run_engine("install", "--folder", str(tmp_path / "no such folder"), venv=venv)
    assert missing.returncode == 1
    assert missing.stdout == ""
    assert missing.stderr == ("tessel-installer: error: cannot read the folder "
                              f"'{tmp_path / 'no such folder'}': No such file or directory\n")

    empty = tmp_path / "empty"
    empty.mkdir()
    (empty / "other-1.0-py3-none-any.whl").write_bytes(b"")
    nothing = run_engine("install", "--folder", str(empty), venv=venv)
    assert nothing.returncode == 1
    assert nothing.stdout == f"No packages found to install in the folder '{empty}'.\n"
    assert "Notice!" not in nothing.stdout


def test_a_copied_and_moved_folder_installs_and_uninstalls_offline(
        sandbox, downloaded, venv, run_engine, tmp_path):
    copy = str(tmp_path / "copy")
    subprocess.run(["cp", "-r", downloaded[0], copy], check=True)
    moved = str(tmp_path / "carried" / "bundle")
    os.makedirs(os.path.dirname(moved))
    os.rename(copy, moved)
    result = run_engine("install", "--folder", moved, "--package", "bundle-cedar", venv=venv)
    shows(result, "\nInstalling Bundles:\n\rbundle-cedar - Installed!\n" + PARTIAL["install"])
    assert record(venv) == ["bundle-cedar"]

    # The machine without network: the catalogue cannot be reached, and is not needed.
    sandbox.set_fault("drop")
    result = run_engine("uninstall", venv=venv)
    shows(result, "Uninstalling:\n\rbundle-cedar - Uninstalled!\n")
    assert "bundle-cedar" not in venv.installed()
    assert record(venv) == []
    assert sandbox.requests()["catalogue"] == []


def _flip_one_byte(folder):
    path = pathlib.Path(folder, "tessel_enterprise-1.0.0-py3-none-any.whl")
    data = bytearray(path.read_bytes())
    data[100] ^= 1
    path.write_bytes(data)


def _truncate(folder):
    path = os.path.join(folder, "bundle_alder-1.1.0-py3-none-any.whl")
    os.truncate(path, os.path.getsize(path) // 2)


def _drop_cedar_from_the_manifest(folder):
    path = pathlib.Path(folder, MANIFEST)
    manifest = json.loads(path.read_text(encoding="utf-8"))
    del manifest["packages"]["bundle-cedar"]
    path.write_text(json.dumps(manifest), encoding="utf-8")


# The manifest's own faults (not JSON, an unknown schema, a name outside the folder) are rows of
# the manifest's unit table; these are the folder's.
TAMPERED = [
    # (case, change to the copied folder, extra arguments, what the error line says)
    ("one byte changed", _flip_one_byte, [],
     "'tessel_enterprise-1.0.0-py3-none-any.whl' does not match its SHA-256 in the manifest"),
    ("wheel truncated", _truncate, [],
     "'bundle_alder-1.1.0-py3-none-any.whl' has {half} bytes, the manifest lists {full}"),
    ("wheel deleted",
     lambda f: os.remove(os.path.join(f, "bundle_cedar-1.0.0-py3-none-any.whl")), [],
     "'bundle_cedar-1.0.0-py3-none-any.whl' is missing"),
    ("extra wheel added",
     lambda f: shutil.copy(os.path.join(f, "bundle_alder-1.1.0-py3-none-any.whl"),
                           os.path.join(f, "bundle_alder-9.0.0-py3-none-any.whl")), [],
     "'bundle_alder-9.0.0-py3-none-any.whl' is not listed in the manifest"),
    ("package not in the manifest", _drop_cedar_from_the_manifest, ["--package", "bundle-cedar"],
     "the manifest does not list the package 'bundle-cedar'"),
    ("extra not in the manifest", None, ["--package", "bundle-birch", "--options", "postgres"],
     "the manifest does not list the package 'bundle-birch[postgres]'"),
]


@pytest.mark.parametrize("change, arguments, expected", [row[1:] for row in TAMPERED],
                         ids=[row[0] for row in TAMPERED])
def test_a_tampered_folder_is_refused_before_any_child(change, arguments, expected, downloaded,
                                                       venv, run_engine, tmp_path):
    folder = str(tmp_path / "tampered")
    shutil.copytree(downloaded[0], folder)
    full = os.path.getsize(os.path.join(folder, "bundle_alder-1.1.0-py3-none-any.whl"))
    if change is not None:
        change(folder)
    before = venv.installed()
    result = run_engine("install", "--folder", folder, *arguments, venv=venv)
    assert (result.returncode, result.stdout) == (1, "")
    prefix = (f"tessel-installer: error: the folder '{folder}' failed its check against "
              "tessel-bundle.json, nothing was installed: ")
    assert result.stderr.startswith(prefix) and len(result.stderr.splitlines()) == 1
    assert expected.format(half=full // 2, full=full) in result.stderr[len(prefix):]
    assert venv.installed() == before
    assert record(venv) is None


def test_a_folder_without_manifest_installs_after_its_notice(downloaded, venv, run_engine,
                                                            tmp_path):
    folder = str(tmp_path / "by hand")
    shutil.copytree(downloaded[0], folder)
    os.remove(os.path.join(folder, MANIFEST))
    result = run_engine("install", "--folder", folder, "--package", "bundle-alder", venv=venv)
    shows(result, NO_MANIFEST + "\nInstalling Bundles:\n\rbundle-alder - Installed!\n"
          + SUCCESS["install"] + NOTE.format("tessel-enterprise") + "\n")
