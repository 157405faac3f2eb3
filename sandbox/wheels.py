"""Builds the installable wheels that the sandbox index publishes.

Each release of packages.json becomes one small but real wheel: an importable module, a METADATA
file with its Requires-Dist and Provides-Extra lines, a WHEEL file with its tag and a RECORD that
lists every file with its sha256 hash and size, so that pip installs, verifies and uninstalls it
like any wheel from a public index. The zip entries carry a fixed time stamp, which keeps the bytes
(and so the published hashes) the same from one start to the next.
"""

from __future__ import annotations

import base64
import dataclasses
import hashlib
import io
import json
import os
import re
import zipfile

_FIXED_ZIP_TIME = (2024, 1, 1, 0, 0, 0)
DEFAULT_TAG = "py3-none-any"
REQUIRES_PYTHON = ">=3.8"


def canonical_name(name: str) -> str:
    """The normalised project name of the simple-index URLs: runs of '-', '_', '.' become '-'."""
    return re.sub(r"[-_.]+", "-", name).lower()


def wheel_name_part(name: str) -> str:
    """A project name as wheel files and .dist-info folders spell it."""
    return re.sub(r"[-_.]+", "_", name).lower()


@dataclasses.dataclass(frozen=True)
class Release:
    project: str  # the name as METADATA writes it
    version: str
    filename: str
    sha256: str
    path: str  # where the wheel lies on disk
    requires_python: str = REQUIRES_PYTHON


def _record_hash(data: bytes) -> str:
    digest = hashlib.sha256(data).digest()
    return "sha256=" + base64.urlsafe_b64encode(digest).rstrip(b"=").decode("ascii")


def _metadata_text(project: dict, version: str) -> str:
    lines = [
        "Metadata-Version: 2.1",
        f"Name: {project['name']}",
        f"Version: {version}",
        f"Summary: {project.get('summary', project['name'])}",
        "Author: Mirralune",
        "License: Proprietary",
        f"Requires-Python: {REQUIRES_PYTHON}",
    ]
    for requirement in project.get("requires", []):
        lines.append("Requires-Dist: " + requirement.replace("{version}", version))
    for extra, requirements in project.get("extras", {}).items():
        lines.append(f"Provides-Extra: {extra}")
        for requirement in requirements:
            requirement = requirement.replace("{version}", version)
            lines.append(f'Requires-Dist: {requirement} ; extra == "{extra}"')
    return "\n".join(lines) + "\n\n" + f"{project['name']} {version}, built by the sandbox.\n"


def build_wheel(project: dict, version: str) -> tuple[str, bytes]:
    """The file name and the bytes of one release's wheel."""
    tag = project.get("tag", DEFAULT_TAG)
    stem = wheel_name_part(project["name"])
    dist_info = f"{stem}-{version}.dist-info"
    purelib = tag.endswith("-any")
    files = [
        (f"{stem}/__init__.py",
         f'"""{project["name"]} (sandbox build)."""\n__version__ = "{version}"\n'.encode()),
        (f"{dist_info}/METADATA", _metadata_text(project, version).encode()),
        (f"{dist_info}/WHEEL",
         ("Wheel-Version: 1.0\nGenerator: tessel-sandbox\n"
          f"Root-Is-Purelib: {'true' if purelib else 'false'}\nTag: {tag}\n").encode()),
        (f"{dist_info}/top_level.txt", f"{stem}\n".encode()),
    ]
    record_lines = [f"{path},{_record_hash(data)},{len(data)}" for path, data in files]
    record_lines.append(f"{dist_info}/RECORD,,")
    files.append((f"{dist_info}/RECORD", ("\n".join(record_lines) + "\n").encode()))

    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", compression=zipfile.ZIP_DEFLATED) as archive:
        for path, data in files:
            info = zipfile.ZipInfo(path, date_time=_FIXED_ZIP_TIME)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o644 << 16
            archive.writestr(info, data)
    return f"{stem}-{version}-{tag}.whl", buffer.getvalue()


def load_projects(packages_file: str) -> list[dict]:
    with open(packages_file, encoding="utf-8") as handle:
        return json.load(handle)["projects"]


def build_all(packages_file: str, out_dir: str) -> dict[str, list[Release]]:
    """Writes every wheel into out_dir; returns the releases keyed by canonical project name."""
    os.makedirs(out_dir, exist_ok=True)
    releases: dict[str, list[Release]] = {}
    for project in load_projects(packages_file):
        for version in project["versions"]:
            filename, data = build_wheel(project, version)
            path = os.path.join(out_dir, filename)
            temporary = path + ".tmp"
            with open(temporary, "wb") as handle:
                handle.write(data)
            os.replace(temporary, path)
            releases.setdefault(canonical_name(project["name"]), []).append(
                Release(project=project["name"], version=version, filename=filename,
                        sha256=hashlib.sha256(data).hexdigest(), path=path))
    return releases
