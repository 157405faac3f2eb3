"""The sandbox's package index as plain pip sees it from a venv, and the wheels it serves."""

from __future__ import annotations

import base64
import hashlib
import http.client
import io
import os
import re
import ssl
import zipfile

import pytest

TRUSTED = ("--trusted-host", "127.0.0.1:18443")

# What each project publishes, newest first, as pip must list it.
NEWEST_FIRST = {
    "tessel-enterprise": "1.0.0, 0.23.0, 0.22.0",
    "bundle-alder": "1.1.0, 1.0.0, 0.23.0",
    "bundle-birch": "1.0.0, 0.23.0",
}


@pytest.mark.parametrize("project", sorted(NEWEST_FIRST))
def test_index_versions_lists_newest_first(sandbox, venv, project):
    result = venv.pip("index", "versions", project, "--index-url", sandbox.index_url, *TRUSTED)
    assert result.returncode == 0, result.stderr
    newest = NEWEST_FIRST[project].split(",")[0]
    assert f"{project} ({newest})" in result.stdout.splitlines()
    assert f"Available versions: {NEWEST_FIRST[project]}" in result.stdout.splitlines()


@pytest.mark.parametrize("with_bundle", [True, False], ids=["ca-bundle", "no-ca-bundle"])
def test_lookup_without_trusted_host_relies_on_the_ca_bundle(sandbox, venv, with_bundle):
    # The program's version look-up carries no --trusted-host: only REQUESTS_CA_BUNDLE makes
    # pip accept the sandbox's self-signed certificate, and without it the look-up must fail.
    if not with_bundle:
        del venv.env["REQUESTS_CA_BUNDLE"]
        venv.env["PIP_RETRIES"] = "0"  # a certificate failure does not heal on a retry
    result = venv.pip("index", "versions", "tessel-enterprise", "--index-url", sandbox.index_url)
    if with_bundle:
        assert result.returncode == 0, result.stderr
        assert "Available versions: 1.0.0, 0.23.0, 0.22.0" in result.stdout.splitlines()
    else:
        assert result.returncode != 0
        assert "Available versions" not in result.stdout
        assert "CERTIFICATE_VERIFY_FAILED" in result.stdout + result.stderr


def test_install_bundle_alder_brings_in_the_base_package(sandbox, venv):
    version = "1.0.0"
    result = venv.pip("install", f"bundle-alder=={version}", "--index-url", sandbox.index_url,
                      *TRUSTED)
    assert result.returncode == 0, result.stdout + result.stderr
    installed = venv.installed()
    assert installed["bundle-alder"] == version
    assert installed["tessel-enterprise"] == "1.0.0"  # newest that meets >=0.22
    assert installed["tessel-common-utils"] == "1.4.0"
    # The installed module is the one of the requested release.
    check = venv.pip("show", "--files", "bundle-alder")
    assert "bundle_alder/__init__.py" in check.stdout


def test_bundle_dogwood_installs_nowhere_here(sandbox, venv):
    result = venv.pip("install", "bundle-dogwood==1.0.0", "--index-url", sandbox.index_url, *TRUSTED)
    assert result.returncode != 0
    assert "No matching distribution found for bundle-dogwood" in result.stderr
    assert "bundle-dogwood" not in venv.installed()


@pytest.mark.parametrize("requirement, brought, not_brought", [
    ("bundle-birch[postgres]", {"birch-postgres-driver": "2.1.0"}, {"birch-mysql-driver"}),
    ("bundle-birch[mysql]", {"birch-mysql-driver": "1.8.2"}, {"birch-postgres-driver"}),
    ("bundle-birch", {"bundle-birch": "1.0.0"}, {"birch-postgres-driver", "birch-mysql-driver",
                                                 "tessel-enterprise"}),
    ("tessel-enterprise[alder,cedar]==1.0.0", {"bundle-alder": "1.1.0", "bundle-cedar": "1.0.0"},
     {"bundle-birch"}),
    ("tessel-enterprise-full==0.23.0", {"tessel-enterprise": "0.23.0", "bundle-alder": "1.1.0",
                                        "bundle-cedar": "1.0.0"}, set()),
])
def test_dependencies_and_extras_resolve(sandbox, venv, requirement, brought, not_brought):
    result = venv.pip("install", requirement, "--index-url", sandbox.index_url, *TRUSTED)
    assert result.returncode == 0, result.stdout + result.stderr
    installed = venv.installed()
    for name, version in brought.items():
        assert installed.get(name) == version, installed
    assert not not_brought & set(installed)


def test_pinned_download_then_offline_install_from_the_folder(sandbox, make_venv, tmp_path):
    # `install -v 1.0.0` pins every package but the connectors one to 1.0.0: each must exist,
    # and the folder that a download fills must hold the plain dependencies too, so that an
    # offline install takes them from there.
    online = make_venv("online")
    folder = tmp_path / "wheels"
    pinned = ["tessel-enterprise==1.0.0", "tessel-enterprise-full==1.0.0",
              "bundle-alder==1.0.0", "bundle-cedar==1.0.0", "bundle-birch[postgres]"]
    result = online.pip("download", *pinned, "--index-url", sandbox.index_url, *TRUSTED,
                        "--dest", str(folder))
    assert result.returncode == 0, result.stdout + result.stderr
    files = sorted(os.listdir(folder))
    assert "tessel_common_utils-1.4.0-py3-none-any.whl" in files
    assert "birch_postgres_driver-2.1.0-py3-none-any.whl" in files

    sandbox.reset()
    offline = make_venv("offline")
    result = offline.pip("install", "--no-index", "--find-links", str(folder),
                         "tessel-enterprise", "bundle-alder", "bundle-cedar")
    assert result.returncode == 0, result.stdout + result.stderr
    installed = offline.installed()
    assert installed["tessel-common-utils"] == "1.4.0"
    assert installed["bundle-alder"] == "1.0.0"
    assert sandbox.requests()["index"] == []  # nothing came from the index


def _index_get(sandbox, path: str):
    context = ssl.create_default_context(cafile=sandbox.cert_path)
    connection = http.client.HTTPSConnection("127.0.0.1", 18443, context=context, timeout=30)
    try:
        connection.request("GET", path)
        response = connection.getresponse()
        return response.status, response.getheader("Location"), response.read()
    finally:
        connection.close()


@pytest.mark.parametrize("path, status, location", [
    ("/", 200, None),
    ("/simple/", 200, None),
    ("/tessel-enterprise/", 200, None),
    ("/simple/tessel-enterprise/", 200, None),
    ("/Tessel_Enterprise/", 301, "/tessel-enterprise/"),
    ("/tessel-enterprise", 301, "/tessel-enterprise/"),
    ("/simple/Bundle.Alder/", 301, "/simple/bundle-alder/"),
    ("/no-such-project/", 404, None),
    ("/files/no-such-file.whl", 404, None),
])
def test_simple_index_routes(sandbox, path, status, location):
    got_status, got_location, _ = _index_get(sandbox, path)
    assert (got_status, got_location) == (status, location)


def _record_hash(data: bytes) -> str:
    return "sha256=" + base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()


def test_every_published_wheel_is_consistent(sandbox):
    # Root page -> project pages -> files: each file matches its #sha256 fragment, its
    # .dist-info matches its file name, and its RECORD lists every member with the right hash.
    _, _, root = _index_get(sandbox, "/")
    projects = re.findall(r'href="/([^"/]+)/"', root.decode())
    assert {"tessel-enterprise", "bundle-dogwood", "tessel-common-utils"} <= set(projects)
    checked = 0
    for project in projects:
        _, _, page = _index_get(sandbox, f"/{project}/")
        for href, digest in re.findall(r'href="([^"#]+)#sha256=([0-9a-f]{64})"', page.decode()):
            status, _, data = _index_get(sandbox, href)
            assert status == 200
            assert hashlib.sha256(data).hexdigest() == digest, href
            filename = href.rsplit("/", 1)[1]
            stem, version = filename.split("-")[:2]
            assert stem == project.replace("-", "_")
            dist_info = f"{stem}-{version}.dist-info"
            with zipfile.ZipFile(io.BytesIO(data)) as wheel:
                names = set(wheel.namelist())
                record = wheel.read(f"{dist_info}/RECORD").decode().splitlines()
                listed = set()
                for line in record:
                    path, hash_text, size = line.rsplit(",", 2)
                    listed.add(path)
                    if path != f"{dist_info}/RECORD":
                        member = wheel.read(path)
                        assert (hash_text, int(size)) == (_record_hash(member), len(member)), path
                assert listed == names
                metadata = wheel.read(f"{dist_info}/METADATA").decode()
                assert f"\nVersion: {version}\n" in metadata
                tag = filename[:-len(".whl")].split("-", 2)[2]
                assert f"Tag: {tag}" in wheel.read(f"{dist_info}/WHEEL").decode()
            checked += 1
    assert checked >= 17
