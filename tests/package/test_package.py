"""The Debian package and the tarball: their files, the .deb's control fields and lintian's
verdict, the program's hardening as its ELF headers show it, and the manual page."""

from __future__ import annotations

import hashlib
import os
import re
import subprocess
import tarfile

from conftest import ACTIONS, RELEASE_PROGRAM, run

PROGRAM_FILES = {
    "usr/bin/tessel-installer": 0o755,
    "usr/share/man/man1/tessel-installer.1.gz": 0o644,
    "usr/share/bash-completion/completions/tessel-installer": 0o644,
    "usr/share/zsh/vendor-completions/_tessel-installer": 0o644,
    "usr/share/doc/tessel-installer/README.md": 0o644,
    "usr/share/tessel-installer/schema/list.schema.json": 0o644,
    "usr/share/tessel-installer/schema/check.schema.json": 0o644,
    "usr/share/tessel-installer/schema/report.schema.json": 0o644,
    "usr/share/tessel-installer/ansible/library/tessel_installer.py": 0o644,
    "usr/share/tessel-installer/ansible/examples/rollout.yml": 0o644,
}
DEBIAN_FILES = {
    "usr/share/doc/tessel-installer/copyright": 0o644,
    "usr/share/doc/tessel-installer/changelog.Debian.gz": 0o644,
}
TARBALL_FILES = {"usr/share/doc/tessel-installer/LICENSE": 0o644}


def _digest(data: bytes) -> str:
    return hashlib.sha256(data).hexdigest()


def test_each_package_holds_exactly_its_files(deb, tarball, unpacked):
    shipped = {}
    for folder, _, files in os.walk(unpacked):
        for name in files:
            path = os.path.join(folder, name)
            shipped[os.path.relpath(path, unpacked)] = os.stat(path).st_mode & 0o777
    assert shipped == PROGRAM_FILES | DEBIAN_FILES

    with tarfile.open(tarball) as archive:
        # File entries only: a folder's entry would reset that folder's mode and owner in the
        # prefix it is unpacked into (a /usr/local laid out 2775 root:staff).
        assert [m.name for m in archive.getmembers() if not m.isfile()] == []
        assert {(m.uid, m.gid) for m in archive.getmembers()} == {(0, 0)}
        members = [m for m in archive.getmembers() if m.isfile()]
        top = os.path.basename(tarball)[: -len(".tar.gz")]
        # The tarball is the install tree under a folder of its own: bin/, share/ (no usr/).
        in_tarball = {m.name: m.mode & 0o777 for m in members}
        expected = {f"{top}/{path[len('usr/'):]}": mode
                    for path, mode in (PROGRAM_FILES | TARBALL_FILES).items()}
        assert in_tarball == expected
        program = archive.extractfile(f"{top}/bin/tessel-installer").read()
    with open(os.path.join(unpacked, "usr/bin/tessel-installer"), "rb") as handle:
        assert _digest(handle.read()) == _digest(program)


def _owner_of(soname: str) -> str:
    """The Debian package that holds a shared library of this machine."""
    result = run("dpkg-query", "--search", f"*/{soname}")
    assert result.returncode == 0, f"no package holds {soname}: {result.stderr}"
    return result.stdout.split(":", 1)[0].split(",")[0].strip()


def test_control_fields(control, program):
    needed = re.findall(r"\(NEEDED\)\s+Shared library: \[(.+?)\]",
                        run("readelf", "-d", program).stdout)
    assert needed, "the program needs no shared library?"
    depends = {entry.split(" ", 1)[0] for entry in control["Depends"].split(", ")}
    for soname in needed:
        assert _owner_of(soname) in depends, (soname, control["Depends"])
    assert control["Package"] == "tessel-installer"
    assert run(program, "--version").stdout == f"tessel-installer {control['Version']}\n"
    assert control["Architecture"] == run("dpkg", "--print-architecture").stdout.strip()
    assert control["Recommends"] == "python3-venv, python3-pip"
    assert control["Section"] == "utils"
    assert control["Priority"] == "optional"
    assert re.fullmatch(r"[^<>]+ <[^@<>\s]+@[^@<>\s]+>", control["Maintainer"])
    assert "\n" in control["Description"]  # a synopsis and an extended description


def test_lintian_finds_no_errors(deb):
    result = run("lintian", "--fail-on", "error", deb)
    print(result.stdout, result.stderr)  # the warnings, for the log
    errors = [line for line in result.stdout.splitlines() if line.startswith("E:")]
    assert errors == []
    assert result.returncode == 0


def _readelf(*args: str) -> str:
    result = run("readelf", "-W", *args)
    assert result.returncode == 0, result.stderr
    return result.stdout


def _build_id(path: str) -> str:
    return re.search(r"Build ID: ([0-9a-f]+)", _readelf("-n", path)).group(1)


def test_the_shipped_program_is_hardened_and_stripped(program):
    dynamic = _readelf("-d", program)
    assert re.search(r"\(FLAGS\)\s+.*BIND_NOW", dynamic), dynamic
    assert re.search(r"\(FLAGS_1\)\s+Flags:.*\bNOW\b.*\bPIE\b", dynamic), dynamic
    assert "DYN (Position-Independent Executable file)" in _readelf("-h", program)
    assert re.search(r"^\s*GNU_RELRO\s", _readelf("-l", program), re.M)
    symbols = _readelf("--dyn-syms", program)
    assert re.search(r"\bUND __stack_chk_fail\b", symbols)
    assert re.findall(r"\bUND (__\w+_chk)\b", symbols)  # fortified calls, such as __snprintf_chk

    sections = _readelf("-S", program)
    assert " .symtab " not in sections and " .debug_info " not in sections
    assert " .gnu_debuglink " in sections
    link = _readelf("--string-dump=.gnu_debuglink", program)
    assert "tessel-installer.debug" in link
    debug_file = RELEASE_PROGRAM + ".debug"
    assert " .debug_info " in _readelf("-S", debug_file)
    assert _build_id(debug_file) == _build_id(program)


def test_the_manual_page_reads_cleanly_and_documents_every_option(unpacked, help_options,
                                                                   control):
    page = os.path.join(unpacked, "usr/share/man/man1/tessel-installer.1.gz")
    env = dict(os.environ, MANWIDTH="80", LC_ALL="C.UTF-8", MAN_KEEP_FORMATTING="")
    result = subprocess.run(["man", "--warnings", "-E", "UTF-8", "-l", page], env=env,
                            capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, result.stderr
    assert result.stderr == ""
    text = result.stdout
    headings = re.findall(r"^([A-Z][A-Z -]+)$", text, re.M)
    assert headings == ["NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "ACTIONS", "ACTION OPTIONS",
                        "JSON OUTPUT", "EXIT STATUS", "BUILD-TIME CONFIGURATION", "ENVIRONMENT", "FILES",
                        "EXAMPLES", "COPYRIGHT", "SEE ALSO"]
    assert f"tessel-installer {control['Version']}" in text.splitlines()[-1]
    # Each action's part of the page lists the options that action's --help lists.
    parts = re.split(r"^   (\S+)$", text.split("\nACTION OPTIONS\n")[1].split("\nJSON OUTPUT\n")[0],
                     flags=re.M)
    documented = {parts[k]: set(re.findall(r"(?<![\w-])-[-\w]+", parts[k + 1]))
                  for k in range(1, len(parts), 2)}
    assert list(documented) == ACTIONS
    for action in ACTIONS:
        assert documented[action] == set(help_options[action]), action
