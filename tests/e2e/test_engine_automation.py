"""The options for scripts and CI: --report, --log, --no-progress and --dry-run, with real pip."""

from __future__ import annotations

import os

from engine_support import WARNING, record, run_engine, shows
from schema_support import validate_report_file


def test_report_log_no_progress_and_dry_run(sandbox, venv, run_engine, tmp_path):
    sandbox.set_catalogue([("bundle-alder", "bundle"), ("bundle-dogwood", "bundle")])
    report = tmp_path / "reports" / "install.json"
    report.parent.mkdir()
    log = tmp_path / "install.log"

    # A dry run resolves everything and changes nothing: no install child, no record.
    dry_report = tmp_path / "dry.json"
    dry = run_engine("install", "--dry-run", "--report", str(dry_report), "--log", str(log),
                     venv=venv)
    assert dry.returncode == 0, dry.stdout + dry.stderr
    assert dry.stdout == ("\nInstalling Bundles:\n"
                          "bundle-alder - would install\n"
                          "bundle-dogwood - would install\n")
    assert "bundle-alder" not in venv.installed()
    assert record(venv) is None
    assert "\n--- " not in log.read_text() and "catalogue request" in log.read_text()
    dry_doc = validate_report_file(str(dry_report))
    assert dry_doc["dry_run"] is True and dry_doc["exit_status"] == 0
    assert [(p["name"], p["outcome"], p["changed"], p["exit_status"], p["version_requested"])
            for p in dry_doc["packages"]] == [("bundle-alder", "would-install", True, None, "1.1.0"),
                                              # no wheel for this machine: not pinned
                                              ("bundle-dogwood", "would-install", True, None, None)]
    log.unlink()

    # The real run: one package fails; no frames, each outcome line once.
    result = run_engine("install", "--report", str(report), "--log", str(log), "--no-progress",
                        venv=venv)
    assert "\r" not in result.stdout
    shows(result, "\nInstalling Bundles:\nbundle-alder - Installed!\n"
          "bundle-dogwood - Installation failed. Use --debug for more details.\n"
          + WARNING["install"], status=1)
    doc = validate_report_file(str(report))
    assert [name for name in os.listdir(report.parent)] == ["install.json"]  # no temporary left
    assert (doc["schema"], doc["action"], doc["dry_run"], doc["exit_status"]) == (
        1, "install", False, 1)
    assert doc["prefix"] == str(venv.path) and doc["interpreter"].startswith(str(venv.path))
    alder, dogwood = doc["packages"]
    assert (alder["outcome"], alder["changed"], alder["exit_status"], alder["version_before"],
            alder["version_after"], alder["stderr_tail"]) == ("installed", True, 0, None, "1.1.0", [])
    assert (dogwood["outcome"], dogwood["changed"], dogwood["version_after"]) == (
        "failed", False, None)
    assert dogwood["exit_status"] not in (0, None)
    assert 0 < len(dogwood["stderr_tail"]) <= 20
    assert any("ERROR" in line for line in dogwood["stderr_tail"]), dogwood["stderr_tail"]
    assert doc["summary"] == {"total": 2, "changed": 1, "failed": 1, "not_run": 0}

    text = log.read_text()
    assert "--- pip install bundle-alder==1.1.0 --index-url https://127.0.0.1:18443/" in text
    assert "--- pip install bundle-dogwood --index-url https://127.0.0.1:18443/" in text
    assert f"catalogue request: POST {sandbox.catalogue_url} -> HTTP status 200" in text
    assert "Successfully installed" in text  # pip's own stdout, in full
    # The catalogue's credentials are in neither file.
    token = sandbox.headers["Authorization"].split()[-1]
    assert token not in text and token not in report.read_text()
    assert record(venv) == ["bundle-alder"]

    # Standard output carries the progress lines: it is no report file.
    refused = run_engine("install", "--report", "-", venv=venv)
    assert refused.returncode == 2 and refused.stdout == ""
    assert "--report" in refused.stderr
