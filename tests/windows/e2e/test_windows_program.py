"""The whole Windows program under wine: every sub-command against the sandbox's catalogue, with
the stand-in python.exe as the interpreter, and what the stand-in received."""

from __future__ import annotations

import hashlib
import json
import os
import signal
import subprocess
import time

import pytest

TRUSTED = ["--trusted-host", "pypi.org", "--trusted-host", "pypi.python.org",
           "--trusted-host", "files.pythonhosted.org", "--trusted-host", "127.0.0.1:18443"]
INDEX = ["--index-url", "https://127.0.0.1:18443/"]
SUCCESS = ("\nSuccess! All packages have been installed. You are ready to use Tessel "
           "Enterprise.\n")
PARTIAL = ("\nNotice! All packages were installed, but `tessel-enterprise` was not included.\n"
           "To use Tessel Enterprise, please make sure it is installed.\n")
WARNING = ("\nWarning! Some packages that you have access to could not be installed. Please "
           "check your setup and contact Mirralune to troubleshoot.\n")
BIRCH_WARNING = ("\nWarning: In order to use Birch, you'll need to install database-specific "
                 "packages. Please use the `--options` flag to specify your database variants.\n")
FETCH_NOTICE = ("Could not fetch the list of packages from "
                "http://127.0.0.1:18080/api/v1/package-permissions: ")
WITHOUT_DOGWOOD = [("tessel-enterprise", "base"), ("tessel-enterprise-full", "base"),
                   ("bundle-alder", "bundle"), ("bundle-birch", "bundle"),
                   ("bundle-cedar", "bundle")]


def screen(stdout: str) -> str:
    """The output as the user is left with it: each progress frame (a carriage return and text
    that the next carriage return overwrites) taken out."""
    lines = []
    for line in stdout.split("\n"):
        if "\r" in line:
            line = "\r" + line.rsplit("\r", 1)[1]
        lines.append(line)
    return "\n".join(lines)


def pip_actions(venv) -> list[list[str]]:
    """The pip actions the stand-in received (version look-ups left out), after "-m pip"."""
    return [call["argv"][3:] for call in venv.calls() if call["argv"][3] != "index"]


def test_list_packages(run_win):
    result = run_win("list-packages")
    assert (result.returncode, result.stderr) == (0, "")
    assert result.stdout == ("\nTessel Enterprise:\ntessel-enterprise\ntessel-enterprise-full\n"
                             "\nTessel Bundles:\nbundle-alder\nbundle-birch\nbundle-cedar\n"
                             "bundle-dogwood\n")


def test_install_everything(sandbox, win_venv, run_win, record_lines):
    sandbox.set_catalogue(WITHOUT_DOGWOOD)
    result = run_win("install", venv=win_venv)
    assert (result.returncode, result.stderr) == (0, "")
    assert screen(result.stdout) == (
        "\nInstalling Tessel Enterprise:\n"
        "\rtessel-enterprise (version 1.0.0) - Installed!\n"
        "\rtessel-enterprise-full (version 1.0.0) - Installed!\n"
        "\nInstalling Bundles:\n"
        "\rbundle-alder - Installed!\n\rbundle-birch - Installed!\n\rbundle-cedar - Installed!\n"
        + BIRCH_WARNING + SUCCESS)
    assert pip_actions(win_venv) == [
        ["install", "tessel-enterprise==1.0.0", *INDEX, *TRUSTED],
        ["install", "tessel-enterprise-full==1.0.0", *INDEX, *TRUSTED],
        ["install", "bundle-alder==1.1.0", *INDEX, *TRUSTED],
        ["install", "bundle-birch", *INDEX, *TRUSTED],
        ["install", "bundle-cedar==1.0.0", *INDEX, *TRUSTED]]
    # The interpreter path arrives whole, unquoted when it holds no blank.
    assert all(call["argv"][0] == win_venv.python for call in win_venv.calls())
    assert all(call["command_line"].startswith(win_venv.python + " -m pip ")
               for call in win_venv.calls())
    lines, raw = record_lines()
    assert lines == ["tessel-enterprise", "tessel-enterprise-full", "bundle-alder",
                     "bundle-birch", "bundle-cedar"]
    assert raw.count(b"\r\n") == 5  # the platform's line ends


@pytest.mark.parametrize("args, label, pip_args", [
    (["--package", "bundle-alder", "-v", "1.0.0"], "bundle-alder", ["bundle-alder==1.0.0"]),
    (["--package", "bundle-birch", "--options", "postgres"], "bundle-birch[postgres]",
     ["bundle-birch[postgres]"]),
    (["--package", "bundle-cedar", "-u"], "bundle-cedar", ["bundle-cedar", "--upgrade"]),
])
def test_install_one_package(args, label, pip_args, win_venv, run_win, record_lines):
    result = run_win("install", *args, venv=win_venv)
    assert (result.returncode, result.stderr) == (0, "")
    assert screen(result.stdout).startswith(f"\nInstalling Bundles:\n\r{label} - Installed!\n")
    assert screen(result.stdout).endswith(PARTIAL)
    (action,) = pip_actions(win_venv)
    upgrade = ["--upgrade"] if "--upgrade" in pip_args else []
    assert action == ["install", *[a for a in pip_args if a != "--upgrade"], *INDEX, *TRUSTED,
                      *upgrade]
    assert record_lines()[0] == [label]


def test_a_failing_child_is_shown_counted_and_not_recorded(win_venv, run_win, record_lines):
    win_venv.configure(status={"bundle-birch": 1})
    result = run_win("install", "--package", "bundle-birch", venv=win_venv)
    assert result.returncode == 1
    assert "\rbundle-birch - Installation failed. Use --debug for more details.\n" in screen(result.stdout)
    assert screen(result.stdout).endswith(WARNING)
    assert record_lines()[0] is None


def test_download_into_a_folder_with_a_blank(sandbox, win_venv, run_win, tmp_path):
    sandbox.set_catalogue([("bundle-alder", "bundle")])
    folder = tmp_path / "my wheels"
    result = run_win("download", "--folder", str(folder).replace("/", "\\").join(["Z:", ""]),
                     "--platform", "win_amd64", "--python-version", "311", venv=win_venv)
    assert (result.returncode, result.stderr) == (0, ""), result.stdout
    assert "\rbundle-alder - Downloaded!" in screen(result.stdout)
    (action,) = pip_actions(win_venv)
    assert action[:2] == ["download", "bundle-alder==1.1.0"]
    assert action[action.index("--dest") + 1] == "Z:" + str(folder).replace("/", "\\")
    assert action[action.index("--platform") + 1] == "win_amd64"
    assert action[action.index("--python-version") + 1] == "311"


def test_install_from_a_folder_of_wheels(win_venv, run_win, tmp_path, record_lines):
    folder = tmp_path / "wheels"
    folder.mkdir()
    for name in ("bundle_alder-1.1.0-py3-none-any.whl", "tessel_enterprise-1.0.0-py3-none-any.whl"):
        (folder / name).write_bytes(b"")
    result = run_win("install", "--folder", "Z:" + str(folder).replace("/", "\\"), venv=win_venv)
    assert (result.returncode, result.stderr) == (0, ""), result.stdout
    assert result.stdout.startswith("Notice! The folder has no manifest (tessel-bundle.json); its "
                                    "files were not verified.\n\nInstalling Tessel Enterprise:\n")
    actions = pip_actions(win_venv)
    assert [a[1] for a in actions] == ["tessel-enterprise", "bundle-alder"]
    assert all("--no-index" in a and "--find-links" in a for a in actions)
    # Recorded as an online install is, for an uninstall on the machine without network.
    assert record_lines()[0] == ["tessel-enterprise", "bundle-alder"]


def test_a_folder_checked_against_its_manifest(win_venv, run_win, tmp_path, record_lines):
    folder = tmp_path / "bundle"
    folder.mkdir()
    wheel = folder / "bundle_alder-1.1.0-py3-none-any.whl"
    wheel.write_bytes(b"PK\x05\x06" + bytes(18))
    manifest = {"schema": 1, "packages": {"bundle-alder": "bundle"},
                "files": [{"name": wheel.name, "size": 22,
                           "sha256": hashlib.sha256(wheel.read_bytes()).hexdigest()}]}
    (folder / "tessel-bundle.json").write_text(json.dumps(manifest))
    windows_folder = "Z:" + str(folder).replace("/", "\\")
    result = run_win("install", "--folder", windows_folder, venv=win_venv)
    assert (result.returncode, result.stderr) == (0, ""), result.stdout
    assert result.stdout.startswith("\nInstalling Bundles:\n")
    assert [a[1] for a in pip_actions(win_venv)] == ["bundle-alder"]

    wheel.write_bytes(b"PK\x05\x07" + bytes(18))  # one byte changed
    refused = run_win("install", "--folder", windows_folder, venv=win_venv)
    assert (refused.returncode, refused.stdout) == (1, "")
    assert refused.stderr == (f"tessel-installer: error: the folder '{windows_folder}' failed its "
                              "check against tessel-bundle.json, nothing was installed: "
                              f"'{wheel.name}' does not match its SHA-256 in the manifest\n")
    assert len(pip_actions(win_venv)) == 1  # no child for the refused folder


def test_uninstall_from_the_record_then_from_the_catalogue(sandbox, win_venv, run_win,
                                                          record_lines):
    assert run_win("install", "--package", "bundle-cedar", venv=win_venv).returncode == 0
    from_record = run_win("uninstall", venv=win_venv)
    assert (from_record.returncode, from_record.stderr) == (0, "")
    assert "\rbundle-cedar - Uninstalled!" in screen(from_record.stdout)
    assert pip_actions(win_venv)[-1][:3] == ["uninstall", "-y", "bundle-cedar"]
    assert record_lines()[0] == []  # the record stays, empty

    os.remove(os.path.join(os.path.dirname(win_venv.path), "venv", "Scripts", "pip-calls.jsonl"))
    sandbox.set_catalogue([("bundle-alder", "bundle"), ("bundle-birch", "bundle")])
    win_venv.configure(installed={"pip": "24.0", "bundle-alder": "1.1.0", "bundle-birch": "1.0.0"})
    os.remove(os.path.join(os.environ["WINEPREFIX"], "drive_c", "users", os.environ.get("USER", "root"),
                           "AppData", "Local", "Mirralune", "Tessel-Installer",
                           "installed_packages.txt"))
    from_catalogue = run_win("uninstall", venv=win_venv)
    assert from_catalogue.returncode == 0, from_catalogue.stdout + from_catalogue.stderr
    assert sorted(a[2] for a in pip_actions(win_venv)) == ["bundle-alder", "bundle-birch"]
    assert win_venv.installed() == {"pip": "24.0"}


def test_check_requirements(win_venv, run_win):
    result = run_win("check-requirements", venv=win_venv)
    assert (result.returncode, result.stderr) == (0, "")
    lines = result.stdout.split("\n")
    assert "Operating system: Windows" in lines
    assert "OS Version: 10" in lines
    assert "Architecture: win-amd64" in lines
    assert "Python Version: 3.12.4" in lines
    assert not any(line.startswith("Linux Distribution") for line in lines)
    assert result.stdout.endswith("Result: Passed\nYour system meets the technical requirements "
                                  "for Tessel Enterprise.\n")


def test_an_interpreter_path_with_a_blank_arrives_whole(win_venv_with_blank, run_win):
    result = run_win("install", "--package", "bundle-alder", venv=win_venv_with_blank)
    assert result.returncode == 0, result.stdout + result.stderr
    (call,) = [c for c in win_venv_with_blank.calls() if c["argv"][3] == "install"]
    assert call["argv"][0] == win_venv_with_blank.python
    assert call["command_line"].startswith('"' + win_venv_with_blank.python + '" -m pip install ')


def test_an_unreachable_catalogue(sandbox, win_venv, run_win):
    sandbox.set_fault("drop")
    result = run_win("install", venv=win_venv)
    assert result.returncode == 1
    assert FETCH_NOTICE in result.stdout + result.stderr
    assert win_venv.calls() == []


def test_a_failed_write_to_standard_output_is_an_error(run_win, tmp_path):
    # A pipe whose reading end is already closed.
    read_end, write_end = os.pipe()
    os.close(read_end)
    try:
        result = run_win("list-packages", stdout=write_end)
    finally:
        os.close(write_end)
    assert result.returncode == 1
    assert result.stderr.startswith("tessel-installer: error: ")


def test_no_interpreter_but_the_store_alias(run_win, tmp_path):
    store = tmp_path / "Microsoft" / "WindowsApps"
    store.mkdir(parents=True)
    (store / "python.exe").write_bytes(b"MZ")
    result = run_win("check-requirements",
                     env={"WINEPATH": "Z:" + str(store).replace("/", "\\")})
    assert result.returncode == 1
    assert ("no Python interpreter found: Z:" + str(store / "python.exe").replace("/", "\\")
            + " is the Microsoft Store alias, not an installed Python") in result.stderr


def test_schannel_refuses_an_untrusted_certificate(sandbox, tmp_path):
    # The sandbox's index port speaks TLS with a self-signed certificate that Windows does not
    # trust: the request ends in the handshake, before any HTTP reply could come back.
    url = "https://127.0.0.1:18443/api/v1/package-permissions"
    result = subprocess.run(["wine", os.environ["TESSEL_CATALOGUE_PROBE_EXE"], url], capture_output=True,
                    timeout=120, stdin=subprocess.DEVNULL, cwd=str(tmp_path))
    out = (result.stdout + result.stderr).decode("utf-8").replace("\r\n", "\n")
    if "the service answered with HTTP status" in out:
        # The handshake went through: the program leaves the check to Schannel's automatic
        # validation, as on Windows, and wine's Schannel validates nothing.
        pytest.skip("wine's Schannel accepted the self-signed certificate (it does no automatic "
                    "validation); the refusal is Windows' own: " + out.strip())
    assert result.returncode == 1, out
    assert f"Could not fetch the list of packages from {url}: " in out
    assert "SSL" in out or "certificate" in out.lower(), out


def test_ctrl_c_ends_the_child_first(sandbox, win_venv, tmp_path):
    # Wine turns SIGINT into the console's Ctrl-C event of the process; sent to the process group,
    # as a terminal does, it reaches the program and the stand-in pip alike. The wine server is
    # made to run outside that group first, so that the signal does not reach it.
    subprocess.run(["wineserver", "-p5"], check=False)  # fails when one runs already: fine
    sandbox.set_catalogue([("bundle-alder", "bundle"), ("bundle-cedar", "bundle")])
    win_venv.configure(sleep_ms=120000)
    env = {k: os.environ[k] for k in ("PATH", "WINEPREFIX", "WINEDEBUG") if k in os.environ}
    env.update(HOME=str(tmp_path), VIRTUAL_ENV=win_venv.windows_path)
    program = subprocess.Popen(["wine", os.environ["TESSEL_INSTALLER_EXE"], "install"], env=env,
                       stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE, start_new_session=True)
    try:
        # The stand-in logs each pip command line before it sleeps: wait for that event.
        deadline = time.monotonic() + 120
        while not pip_actions(win_venv) and program.poll() is None and time.monotonic() < deadline:
            time.sleep(0.1)
        assert pip_actions(win_venv), "the pip child never started"
        os.killpg(program.pid, signal.SIGINT)
        out, err = program.communicate(timeout=120)
    finally:
        if program.poll() is None:
            os.killpg(program.pid, signal.SIGKILL)
    text = out.decode("utf-8").replace("\r\n", "\n")
    assert program.returncode == 130, (text, err)
    assert len(pip_actions(win_venv)) == 1  # no further child started
    assert "\rbundle-alder - " in text
