#!/usr/bin/python
# -*- coding: utf-8 -*-
# Ansible module for tessel-installer. It ships with the program, under
# share/tessel-installer/ansible/library/, and runs the program on the managed host.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: tessel_installer
short_description: Install, upgrade or remove the Tessel Enterprise packages with tessel-installer
description:
  - Runs C(tessel-installer install) or C(tessel-installer uninstall) on the managed host, with
    C(--report) so that the outcome of every package is read from the program's JSON report
    rather than from its terminal text.
  - The task reports C(changed) only when a package was installed, upgraded or removed.
  - In check mode the program runs with C(--dry-run), which resolves everything a real run
    resolves, starts no pip child and changes nothing; C(changed) then says what a real run
    would change.
  - Needs C(tessel-installer) on the managed host, in a version that knows C(--report) and
    C(--dry-run).
options:
  state:
    description:
      - C(present) installs what is missing, C(latest) also upgrades what is installed
        (C(--upgrade)), C(absent) uninstalls the packages the program installed in the
        environment (or, without a record of them, those on offer).
    type: str
    choices: [present, latest, absent]
    default: present
  package:
    description:
      - The one package to act on (C(--package)); all packages on offer when not given.
      - Not with C(state=absent).
    type: str
  version:
    description:
      - The version of the base package (C(--version)). Not with C(folder) or C(state=absent).
    type: str
  options:
    description:
      - Optional dependencies (extras) of C(package) (C(--options)). Not with C(state=absent).
    type: list
    elements: str
  folder:
    description:
      - Install offline from this folder on the managed host, as made by
        C(tessel-installer download) (C(--folder)). Not with C(state=latest) or C(state=absent).
    type: path
  virtualenv:
    description:
      - The target Python environment, given to the program as C(VIRTUAL_ENV). Without it the
        program takes the environment it would take from the task's environment.
    type: path
  executable:
    description:
      - The program's path, or a name looked up on the managed host's C(PATH).
    type: path
    default: tessel-installer
notes:
  - Supports check mode.
  - The report is written into the module's temporary folder on the managed host and returned.
author:
  - tessel-installer maintainers
"""

EXAMPLES = r"""
- name: The Tessel Enterprise packages are installed in /opt/tessel/venv
  tessel_installer:
    virtualenv: /opt/tessel/venv

- name: bundle-birch with its PostgreSQL extra, at the newest version
  tessel_installer:
    package: bundle-birch
    options: [postgres]
    state: latest
    virtualenv: /opt/tessel/venv

- name: Offline, from a folder made by tessel-installer download
  tessel_installer:
    folder: /srv/tessel-bundle
    virtualenv: /opt/tessel/venv

- name: The packages are removed again
  tessel_installer:
    state: absent
    virtualenv: /opt/tessel/venv
"""

RETURN = r"""
report:
  description:
    - The program's JSON report of the run (schema 1) with the action, the interpreter, the
      request, one entry per package with its outcome, versions before and after, C(changed), pip's exit
      status and, for a failed child, the end of pip's standard error; a summary; the exit status.
    - Its JSON Schema ships as share/tessel-installer/schema/report.schema.json.
  returned: when the program wrote one
  type: dict
cmd:
  description: The command line that was run.
  returned: always
  type: list
  elements: str
rc:
  description: The program's exit status.
  returned: when the program ran
  type: int
stdout:
  description: The program's standard output (its outcome lines).
  returned: when the program ran
  type: str
stderr:
  description: The program's standard error.
  returned: when the program ran
  type: str
msg:
  description: What went wrong, for a failed run; what was done otherwise.
  returned: always
  type: str
"""

import json
import os
import tempfile

from ansible.module_utils.basic import AnsibleModule

# How much of the end of a failed package's pip error goes into the task's message.
STDERR_LINES_IN_MSG = 3


def _command(params, executable, report_path, check_mode):
    if params["state"] == "absent":
        command = [executable, "uninstall"]
    else:
        command = [executable, "install"]
        if params["package"]:
            command += ["--package", params["package"]]
        if params["options"]:
            command += ["--options"] + list(params["options"])
        if params["folder"]:
            command += ["--folder", params["folder"]]
        if params["version"]:
            command += ["--version", params["version"]]
        if params["state"] == "latest":
            command.append("--upgrade")
    command += ["--report", report_path]
    if check_mode:
        command.append("--dry-run")
    return command


def _refusal(params):
    """Why the parameters ask for something the program would not do, or None."""
    state = params["state"]
    if state == "absent":
        given = [name for name in ("package", "version", "options", "folder") if params[name]]
        if given:
            return ("state=absent removes what the program installed; it takes no "
                    + ", ".join(given))
    if params["folder"] and (state == "latest" or params["version"]):
        return "an install from a folder takes what the folder holds: no version or state=latest"
    return None


def _last_lines(lines, count):
    kept = [line.strip() for line in lines if line.strip()]
    return kept[-count:]


def _failure_message(report, rc, stderr):
    """Names the failed packages with the end of pip's error, or else says what the program said."""
    parts = []
    for entry in (report or {}).get("packages", []):
        if entry.get("outcome") != "failed":
            continue
        tail = _last_lines(entry.get("stderr_tail") or [], STDERR_LINES_IN_MSG)
        parts.append(entry.get("name", "?") + (": " + " | ".join(tail) if tail else ""))
    message = "tessel-installer failed (exit status %d)" % rc
    if parts:
        message += "; failed packages: " + "; ".join(parts)
    said = _last_lines(stderr.splitlines(), 1)
    if said:
        message += "; " + said[0]
    if not parts and not said and report:
        not_run = report.get("summary", {}).get("not_run", 0)
        if not_run:
            message += "; %d package(s) not run" % not_run
    return message


def _read_report(path):
    try:
        with open(path, encoding="utf-8") as handle:
            return json.load(handle)
    except (OSError, ValueError):
        return None


def main():
    module = AnsibleModule(
        argument_spec=dict(
            state=dict(type="str", default="present", choices=["present", "latest", "absent"]),
            package=dict(type="str"),
            version=dict(type="str"),
            options=dict(type="list", elements="str"),
            folder=dict(type="path"),
            virtualenv=dict(type="path"),
            executable=dict(type="path", default="tessel-installer"),
        ),
        supports_check_mode=True,
    )
    params = module.params
    refusal = _refusal(params)
    if refusal:
        module.fail_json(msg=refusal, cmd=[])

    executable = params["executable"]
    if os.sep not in executable:
        executable = module.get_bin_path(executable, required=True)

    environment = {}
    if params["virtualenv"]:
        environment["VIRTUAL_ENV"] = params["virtualenv"]

    folder = tempfile.mkdtemp(prefix="tessel-report-", dir=module.tmpdir)
    report_path = os.path.join(folder, "report.json")
    command = _command(params, executable, report_path, module.check_mode)
    rc, stdout, stderr = module.run_command(command, environ_update=environment)
    report = _read_report(report_path)

    result = dict(cmd=command, rc=rc, stdout=stdout, stderr=stderr)
    if report is None:
        said = _last_lines(stderr.splitlines(), 1)
        module.fail_json(msg="tessel-installer wrote no report (exit status %d)%s"
                         % (rc, ": " + said[0] if said else ""), changed=False, **result)

    changed = any(entry.get("changed") is True for entry in report.get("packages", []))
    result.update(report=report, changed=changed)
    if rc != 0:
        module.fail_json(msg=_failure_message(report, rc, stderr), **result)
    summary = report.get("summary", {})
    module.exit_json(msg="%d package(s), %d %s" % (summary.get("total", 0),
                                                   summary.get("changed", 0),
                                                   "would change" if module.check_mode
                                                   else "changed"), **result)


if __name__ == "__main__":
    main()
