"""Windows end-to-end harness: the cross-built tessel-installer.exe under wine, the stand-in
python.exe as the target interpreter, and the sandbox's catalogue on loopback.

Run by CTest (label windows) with TESSEL_INSTALLER_EXE and TESSEL_STANDIN_EXE naming the built
programs and WINEPREFIX / WINEDEBUG naming the build's wine prefix.

Fixtures
--------
sandbox            the sandbox service, the same fixture as the Linux end-to-end tests
win_venv           a folder playing a virtual environment: Scripts\\python.exe is the stand-in,
                   with its standin.json (see tests/windows/standin_python.cpp). Attributes:
                   path, windows_path, python (its Windows path); methods configure(**keys),
                   calls() -> the pip command lines it received, installed()
win_venv_with_blank  the same at a path holding a blank
run_win            run_win(*args, venv=None, env=None, stdout=PIPE) -> CompletedProcess (bytes
                   turned into text with the program's CRLF line ends made LF)
record_lines       record_lines() -> the record's lines and bytes in the prefix's local app data
"""

from __future__ import annotations

import getpass
import importlib.util
import json
import os
import shutil
import subprocess

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(os.path.dirname(HERE)))

# The Linux suite's sandbox fixture, loaded under a name of its own (both files are "conftest").
_spec = importlib.util.spec_from_file_location("tessel_linux_e2e_conftest",
                                               os.path.join(REPO, "tests", "e2e", "conftest.py"))
_linux = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(_linux)
sandbox = _linux.sandbox
_fresh_sandbox = _linux._fresh_sandbox

FACTS = ["win32", "3", "12", "3.12.4", str(2**63 - 1), "win-amd64", "24.0",
         "C:\\Python312\\Lib", "0", "1", "C:\\venv\\Lib\\site-packages", "1", "C:\\venv"]
VERSIONS = {"tessel-enterprise": ["1.0.0"], "tessel-enterprise-full": ["1.0.0"],
            "bundle-alder": ["1.1.0", "1.0.0"], "bundle-birch": ["1.0.0"],
            "bundle-cedar": ["1.0.0"]}


def windows_path(path: str) -> str:
    """The path as a Windows program under wine sees it (wine's Z: drive is the root)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class WinVenv:
    def __init__(self, path: str):
        self.path = path
        self.windows_path = windows_path(path)
        scripts = os.path.join(path, "Scripts")
        os.makedirs(scripts)
        shutil.copy(os.environ["TESSEL_STANDIN_EXE"], os.path.join(scripts, "python.exe"))
        self.python = self.windows_path + "\\Scripts\\python.exe"
        self._config = os.path.join(scripts, "standin.json")
        self._calls = os.path.join(scripts, "pip-calls.jsonl")
        self.configure(facts=FACTS, tags=["win_amd64", "any"], installed={"pip": "24.0"},
                       versions=VERSIONS, status={}, sleep_ms=0)

    def configure(self, **keys) -> None:
        config = {}
        if os.path.exists(self._config):
            with open(self._config, encoding="utf-8") as handle:
                config = json.load(handle)
        config.update(keys)
        with open(self._config, "w", encoding="utf-8") as handle:
            json.dump(config, handle)

    def installed(self) -> dict:
        with open(self._config, encoding="utf-8") as handle:
            return json.load(handle)["installed"]

    def calls(self) -> list[dict]:
        if not os.path.exists(self._calls):
            return []
        with open(self._calls, encoding="utf-8") as handle:
            return [json.loads(line) for line in handle]


@pytest.fixture
def win_venv(tmp_path) -> WinVenv:
    return WinVenv(str(tmp_path / "venv"))


@pytest.fixture
def win_venv_with_blank(tmp_path) -> WinVenv:
    return WinVenv(str(tmp_path / "my venv"))


def _environment(home: str, venv: WinVenv | None) -> dict[str, str]:
    env = {name: os.environ[name] for name in ("PATH", "WINEPREFIX", "WINEDEBUG", "WINEDLLOVERRIDES")
           if name in os.environ}
    env.update(HOME=home, LANG="C.UTF-8")
    if venv is not None:
        env["VIRTUAL_ENV"] = venv.windows_path
    return env


@pytest.fixture
def run_win(tmp_path):
    home = str(tmp_path / "home")
    os.makedirs(home, exist_ok=True)

    def run(*args: str, venv: WinVenv | None = None, env: dict | None = None,
            stdout=subprocess.PIPE, timeout: float = 120, cwd: str | None = None):
        full_env = _environment(home, venv)
        full_env.update(env or {})
        result = subprocess.run(["wine", os.environ["TESSEL_INSTALLER_EXE"], *args], env=full_env,
                                stdin=subprocess.DEVNULL, stdout=stdout, stderr=subprocess.PIPE,
                                timeout=timeout, cwd=cwd or str(tmp_path))
        # The C runtime writes text-mode line ends: CRLF is the one Windows convention, and the
        # checks below compare LF texts.
        decode = lambda data: (data or b"").decode("utf-8").replace("\r\n", "\n")  # noqa: E731
        return subprocess.CompletedProcess(result.args, result.returncode, decode(result.stdout),
                                           decode(result.stderr))

    run.home = home
    return run


def local_app_data() -> str:
    """The user's local application data folder in the build's wine prefix. Wine sets
    LOCALAPPDATA from its own profile, whatever the Linux environment holds."""
    return os.path.join(os.environ["WINEPREFIX"], "drive_c", "users", getpass.getuser(),
                        "AppData", "Local")


@pytest.fixture
def record_lines():
    """The record's lines (None when there is none) and its raw bytes, at the Windows path. The
    program's folder there starts out missing in every test."""
    folder = os.path.join(local_app_data(), "Mirralune")
    shutil.rmtree(folder, ignore_errors=True)

    def read():
        path = os.path.join(folder, "Tessel-Installer", "installed_packages.txt")
        if not os.path.exists(path):
            return None, b""
        with open(path, "rb") as handle:
            raw = handle.read()
        return raw.decode("utf-8").split("\r\n")[:-1], raw
    return read
