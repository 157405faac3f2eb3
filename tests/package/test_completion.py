"""Shell completion as shipped in the Debian package: bash's completion function driven the way
bash drives it on Tab, and zsh's completion file loaded by zsh's completion system."""

from __future__ import annotations

import os
import shlex
import subprocess

import pytest

from conftest import ACTIONS, run

PACKAGES = ["bundle-alder", "bundle-birch", "bundle-cedar", "bundle-dogwood",
            "tessel-enterprise", "tessel-enterprise-full"]
BUNDLES = [name for name in PACKAGES if name.startswith("bundle-")]

# bash splits the line at blanks and at COMP_WORDBREAKS (among them "="); the completion
# function gets the words, the index of the one under the cursor, and that word and the one
# before. compopt works only while bash is really completing, so it is a no-op here.
DRIVER = r"""
source /usr/share/bash-completion/bash_completion
source "$1"
compopt() { :; }
COMP_LINE=$2
COMP_POINT=${#COMP_LINE}
eval "COMP_WORDS=($3)"
COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
_tessel_installer tessel-installer "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
printf '%s\n' "${COMPREPLY[@]}"
"""


def _words(line: str) -> list[str]:
    words = []
    for token in line.split():
        head, equals, tail = token.partition("=")
        words += [head, "=", tail] if equals else [head]
    if line.endswith(" "):
        words.append("")
    return [w for k, w in enumerate(words) if w or k == len(words) - 1]


@pytest.fixture(scope="session")
def bash_script(unpacked) -> str:
    return os.path.join(unpacked, "usr/share/bash-completion/completions/tessel-installer")


def complete(script: str, line: str, cwd: str) -> list[str]:
    result = subprocess.run(["bash", "-c", DRIVER, "driver", script, line,
                             shlex.join(_words(line))],
                            capture_output=True, text=True, cwd=cwd, timeout=60)
    assert result.returncode == 0 and result.stderr == "", result.stderr
    return sorted(filter(None, result.stdout.splitlines()))


CASES = [
    ("tessel-installer ", sorted(ACTIONS)),
    ("tessel-installer in", ["install"]),
    ("tessel-installer --", ["--help", "--version"]),
    ("tessel-installer --version ", sorted(ACTIONS)),  # the program's version takes no value
    ("tessel-installer uninstall --", ["--debug", "--dry-run", "--help", "--log", "--no-progress",
                                       "--report"]),
    ("tessel-installer install --package ", PACKAGES),
    ("tessel-installer install --package=tessel", ["tessel-enterprise", "tessel-enterprise-full"]),
    ("tessel-installer install --pack bundle-", BUNDLES),  # a unique prefix, as the program takes
    ("tessel-installer download --folder out --package bundle-b", ["bundle-birch"]),
    ("tessel-installer download --folder ", ["wheels"]),  # directories only
    ("tessel-installer install --folder w", ["wheels"]),
    ("tessel-installer install --version ", []),  # here the package version: any text
    ("tessel-installer install --package x ", []),
    ("tessel-installer list-packages ", []),
    ("tessel-installer bogus --", []),
]


@pytest.mark.parametrize("line, expected", CASES)
def test_bash_completion(bash_script, tmp_path, line, expected):
    (tmp_path / "wheels").mkdir()
    (tmp_path / "notes.txt").write_text("not a folder\n")
    assert complete(bash_script, line, str(tmp_path)) == expected


def test_bash_completion_offers_what_each_actions_help_lists(bash_script, help_options, tmp_path):
    for action in ACTIONS:
        offered = complete(bash_script, f"tessel-installer {action} -", str(tmp_path))
        assert offered == sorted(help_options[action]), action


def test_zsh_loads_the_completion_for_the_program(unpacked, tmp_path):
    folder = os.path.join(unpacked, "usr/share/zsh/vendor-completions")
    assert run("zsh", "-n", os.path.join(folder, "_tessel-installer")).returncode == 0
    script = (f"fpath=({shlex.quote(folder)} $fpath); autoload -Uz compinit; "
              f"compinit -u -d {shlex.quote(str(tmp_path / 'zcompdump'))}; "
              "print -r -- $_comps[tessel-installer]")
    result = run("zsh", "-f", "-c", script, env={"HOME": str(tmp_path), "PATH": os.environ["PATH"]})
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "_tessel-installer"
