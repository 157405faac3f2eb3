"""What ships: the Debian package and the tarball that scripts/package made, the program inside
them, and the release build's separate debug file.

scripts/test runs these after `scripts/package --sandbox`. TESSEL_PACKAGES_DIR (default
build/release/packages) holds the packages; TESSEL_RELEASE_PROGRAM (default the release build's
program) is the program built beside them, whose debug file is PROGRAM.debug.

Fixtures: deb and tarball (their paths), control (the .deb's control fields as a dict),
unpacked (the .deb's files, extracted with dpkg-deb -x, once per session), program (the program
in there), help_options (each action's option names as its --help lists them).
"""

from __future__ import annotations

import glob
import os
import re
import subprocess

import pytest

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PACKAGES = os.environ.get("TESSEL_PACKAGES_DIR", os.path.join(REPO, "build", "release", "packages"))
RELEASE_PROGRAM = os.environ.get(
    "TESSEL_RELEASE_PROGRAM",
    os.path.join(REPO, "build", "release", "src", "tessel_installer", "tessel-installer"))
ACTIONS = ["install", "uninstall", "download", "list-packages", "check-requirements"]


def run(*command: str, **kwargs) -> subprocess.CompletedProcess:
    # Tools such as readelf print raw bytes (a section's checksum), so undecodable
    # output is escaped rather than failing the test that reads it.
    kwargs.setdefault("errors", "backslashreplace")
    return subprocess.run(command, capture_output=True, text=True, stdin=subprocess.DEVNULL,
                          timeout=300, **kwargs)


def _only(pattern: str) -> str:
    found = glob.glob(os.path.join(PACKAGES, pattern))
    assert len(found) == 1, f"expected one {pattern} in {PACKAGES}, found {found}"
    return found[0]


@pytest.fixture(scope="session")
def deb() -> str:
    return _only("*.deb")


@pytest.fixture(scope="session")
def tarball() -> str:
    return _only("*.tar.gz")


@pytest.fixture(scope="session")
def control(deb) -> dict[str, str]:
    result = run("dpkg-deb", "--field", deb)
    assert result.returncode == 0, result.stderr
    fields: dict[str, str] = {}
    for line in result.stdout.splitlines():
        if line.startswith(" ") and fields:
            fields[list(fields)[-1]] += "\n" + line[1:]
        else:
            name, _, value = line.partition(":")
            fields[name] = value.strip()
    return fields


@pytest.fixture(scope="session")
def unpacked(deb, tmp_path_factory) -> str:
    root = str(tmp_path_factory.mktemp("deb"))
    result = run("dpkg-deb", "-x", deb, root)
    assert result.returncode == 0, result.stderr
    return root


@pytest.fixture(scope="session")
def program(unpacked) -> str:
    return os.path.join(unpacked, "usr", "bin", "tessel-installer")


@pytest.fixture(scope="session")
def help_options(program) -> dict[str, list[str]]:
    """Every option name (short and long) that each action's --help lists."""
    options = {}
    for action in ACTIONS:
        result = run(program, action, "--help")
        assert result.returncode == 0, result.stderr
        section = result.stdout.split("\noptions:\n", 1)[1]
        labels = re.findall(r"^  (-\S.*?)(?:  |$)", section, re.M)
        options[action] = [name for label in labels for name in re.findall(r"-[-\w]+", label)]
    return options
