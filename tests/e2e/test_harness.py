"""The venvs the harness hands out: each one is a venv of its own, also at a path with a blank,
and nothing a test does in one reaches the next."""

from __future__ import annotations

import json
import os
import subprocess

import pytest


@pytest.mark.parametrize("where", ["venv", "venv_with_blank"])
def test_venv_is_its_own_environment(request, where):
    venv = request.getfixturevalue(where)
    probe = subprocess.run(
        [venv.python, "-c", "import json, sys, pip; "
         "print(json.dumps([sys.prefix, sys.base_prefix, pip.__file__]))"],
        env=venv.env, capture_output=True, text=True, check=True)
    prefix, base_prefix, pip_file = json.loads(probe.stdout)
    assert prefix == venv.path and base_prefix != venv.path
    assert pip_file.startswith(venv.path + os.sep)
    # The console script works too, its interpreter line pointing at this venv.
    script = subprocess.run([os.path.join(venv.bin_dir, "pip"), "--version"], env=venv.env,
                            capture_output=True, text=True)
    assert script.returncode == 0, script.stderr
    assert f"from {venv.path}{os.sep}" in script.stdout


def test_what_one_venv_installs_stays_in_it(sandbox, make_venv):
    first = make_venv("first")
    result = first.pip("install", "tessel-common-utils==1.3.0", "--index-url", sandbox.index_url)
    assert result.returncode == 0, result.stderr
    uninstall = first.pip("uninstall", "-y", "setuptools")
    assert uninstall.returncode == 0, uninstall.stderr
    second = make_venv("second")
    installed = second.installed()
    assert "tessel-common-utils" not in installed and "setuptools" in installed
    assert first.installed().get("tessel-common-utils") == "1.3.0"


def test_no_pip_setting_from_the_machine_leaks_in(venv):
    # This machine may carry /etc/pip.conf and PIP_* variables (find-links, cert, timeouts):
    # none of them may reach the pip of a test.
    config = venv.pip("config", "debug")
    assert config.returncode == 0, config.stderr
    lines = config.stdout.splitlines()
    from_files = [line for line in lines if line.startswith("    ")]
    assert from_files == []
    variables = lines[lines.index("env_var:") + 1:lines.index("env:")]
    assert {line.strip().split("=")[0] for line in variables} == {
        "PIP_CONFIG_FILE", "PIP_DISABLE_PIP_VERSION_CHECK", "PIP_NO_INPUT", "PIP_CACHE_DIR"}
