"""The Ansible module of contrib/ansible run by real Ansible: one playbook over three hosts on this
machine (ansible_connection=local, forks=3, each host with its own venv and home), against the
sandbox and with real pip. Install twice, check mode on a fresh venv, state absent, and one host
whose venv has no pip."""

from __future__ import annotations

import json
import os
import re
import subprocess

import pytest

from conftest import REPO, clean_environment

HERE = os.path.join(REPO, "tests", "e2e", "ansible")
RECAP = re.compile(r"^(\S+)\s+: ok=(\d+)\s+changed=(\d+)\s+unreachable=(\d+)\s+failed=(\d+)", re.M)
FATAL = re.compile(r"^fatal: \[(\S+)\]: FAILED! => (\{.*\})$", re.M)
PACKAGE = "bundle-cedar"


def _host_environment(venv) -> dict:
    """What one host's task runs with: the venv's home and pip settings, but the target only from
    the module's virtualenv parameter."""
    env = {k: v for k, v in venv.env.items() if k != "VIRTUAL_ENV"}
    env["PATH"] = env["PATH"].split(os.pathsep, 1)[1]  # without the venv's bin
    return env


@pytest.fixture
def playbook(program, sandbox, tmp_path):
    helps = subprocess.run([program, "install", "--help"], capture_output=True, text=True)
    if "--report" not in helps.stdout:
        pytest.skip("this build of tessel-installer has no --report, which the module needs")
    home = tmp_path / "ansible-home"
    env = clean_environment(str(home), sandbox)
    env.update({"ANSIBLE_CONFIG": os.path.join(HERE, "ansible.cfg"), "ANSIBLE_HOME": str(home),
                "ANSIBLE_LOCAL_TEMP": str(home / "local-tmp"),
                "ANSIBLE_REMOTE_TEMP": str(home / "remote-tmp"), "ANSIBLE_NOCOLOR": "1"})

    def run(hosts: dict, state: str = "present", *extra: str):
        """Runs the playbook over {name: venv}; returns ({host: (ok, changed, failed)},
        {host: the failed task's result}, the whole output)."""
        inventory = {"tessel_hosts": {"hosts": {
            name: {"ansible_connection": "local", "tessel_venv": venv.path,
                   "tessel_env": _host_environment(venv)} for name, venv in hosts.items()}}}
        path = tmp_path / "inventory.json"
        path.write_text(json.dumps(inventory))
        result = subprocess.run(
            ["ansible-playbook", "-i", str(path), os.path.join(HERE, "playbook.yml"),
             "-e", json.dumps({"tessel_state": state, "tessel_executable": program,
                               # an uninstall takes what the program recorded
                               **({} if state == "absent" else {"tessel_package": PACKAGE})}),
             *extra],
            env=env, cwd=str(tmp_path), stdin=subprocess.DEVNULL, capture_output=True,
            text=True, timeout=600)
        output = result.stdout + result.stderr
        failures = {m[1]: json.loads(m[2]) for m in FATAL.finditer(result.stdout)}
        print(f"== {state} {' '.join(extra)} over {', '.join(hosts)}",  # shown with pytest -s
              *(f"{host} failed: {failed['msg']}" for host, failed in failures.items()),
              result.stdout[result.stdout.find("PLAY RECAP"):], sep="\n")
        recap = {m[1]: (int(m[2]), int(m[3]), int(m[5])) for m in RECAP.finditer(result.stdout)}
        assert set(recap) == set(hosts), output
        return recap, failures, output
    return run


def test_a_playbook_rolls_the_packages_out_to_three_hosts(make_venv, playbook):
    a, b, c = make_venv("a"), make_venv("b"), make_venv("c")
    hosts = {"a": a, "b": b, "c": c}
    installed = lambda venv: PACKAGE in venv.installed()  # noqa: E731

    first, _, output = playbook(hosts)
    assert first == {name: (1, 1, 0) for name in hosts}, output
    assert all(installed(venv) for venv in hosts.values())
    second, _, output = playbook(hosts)
    assert second == {name: (1, 0, 0) for name in hosts}, output

    fresh = make_venv("fresh")
    before = fresh.installed()
    checked, _, output = playbook({"a": a, "b": b, "fresh": fresh}, "present", "--check")
    assert checked == {"a": (1, 0, 0), "b": (1, 0, 0), "fresh": (1, 1, 0)}, output
    assert fresh.installed() == before

    removed, _, output = playbook(hosts, "absent")
    assert removed == {name: (1, 1, 0) for name in hosts}, output
    assert not any(installed(venv) for venv in hosts.values())

    no_pip = make_venv("no-pip")
    assert no_pip.pip("uninstall", "-y", "pip").returncode == 0
    mixed, failures, output = playbook({"a": a, "b": b, "no-pip": no_pip})
    assert mixed == {"a": (1, 1, 0), "b": (1, 1, 0), "no-pip": (0, 0, 1)}, output
    assert list(failures) == ["no-pip"]
    assert "pip is not installed in the target Python environment" in failures["no-pip"]["msg"]
    assert installed(a) and installed(b)
