#!/usr/bin/python3
"""Compare the C++ package-name and version parsers with pip's vendored packaging library.

Every corpus line is a JSON object with a "kind" (version, order, wheel, sdist, canon, req,
pkgname) and its input ("input", or "a" and "b" for an order). The driver prints this program's
answer for each line; the same answer is derived here from the library. An entry that carries
"differs" (the reason) is a deliberate difference: this program must answer "expect" there, and
the library must answer something else, or the mark is stale.
"""

import argparse
import collections
import json
import pathlib
import subprocess
import sys
import warnings

warnings.simplefilter("ignore")  # loose legacy specifiers warn on every use

from pip._vendor.packaging.requirements import InvalidRequirement, Requirement  # noqa: E402
from pip._vendor.packaging.utils import (  # noqa: E402
    InvalidSdistFilename,
    InvalidWheelFilename,
    canonicalize_name,
    parse_sdist_filename,
    parse_wheel_filename,
)
from pip._vendor.packaging.version import InvalidVersion, Version  # noqa: E402

MINIMUM_CASES = 500


def parse_or_none(text):
    try:
        return Version(text)
    except InvalidVersion:
        return None


def oracle_version(text):
    v = parse_or_none(text)
    return "invalid" if v is None else f"ok {v}"


def oracle_order(a, b):
    va, vb = parse_or_none(a), parse_or_none(b)
    if va is None or vb is None:
        return "invalid bigger=0 equal=0"
    cmp = "lt" if va < vb else ("eq" if va == vb else "gt")
    return f"{cmp} bigger={int(va > vb)} equal={int(va == vb)}"


def oracle_wheel(text):
    try:
        name, version, build, tags = parse_wheel_filename(text)
    except (InvalidWheelFilename, InvalidVersion):
        return "invalid"
    build_text = "none" if build == () else f"{build[0]},{build[1]}"
    tag_text = " ".join(sorted(f"{t.interpreter}-{t.abi}-{t.platform}" for t in tags))
    return f"ok name={name} version={version} build={build_text} tags={tag_text}"


def oracle_sdist(text):
    try:
        name, version = parse_sdist_filename(text)
    except (InvalidSdistFilename, InvalidVersion):
        return "invalid"
    return f"ok name={name} version={version}"


def oracle_requirement(text):
    try:
        r = Requirement(text)
    except (InvalidRequirement, ValueError):
        return "invalid"
    extras = ",".join(sorted(r.extras))
    marker = str(r.marker) if r.marker is not None else "none"
    return f"ok name={r.name} extras={extras} specifiers={r.specifier} url={r.url or 'none'} marker={marker}"


def oracle_package_name(path):
    # The file-name rules composed from the library's parsers: trim and lower-case the path, parse
    # ".whl" and ".tar.gz" names, and keep any other file's base name.
    if not path.strip():
        return "none"
    cleaned = path.strip().lower()
    filename = cleaned.rsplit("/", 1)[-1]
    try:
        if cleaned.endswith(".whl"):
            return "name " + parse_wheel_filename(filename)[0]
        if cleaned.endswith(".tar.gz"):
            return "name " + parse_sdist_filename(filename)[0]
    except (InvalidWheelFilename, InvalidSdistFilename, InvalidVersion):
        return "invalid"
    return "name " + pathlib.PurePosixPath(cleaned).name


def oracle_answer(entry):
    kind = entry["kind"]
    if kind == "order":
        return oracle_order(entry["a"], entry["b"])
    text = entry["input"]
    return {
        "version": oracle_version,
        "wheel": oracle_wheel,
        "sdist": oracle_sdist,
        "canon": canonicalize_name,
        "req": oracle_requirement,
        "pkgname": oracle_package_name,
    }[kind](text)


def describe(entry):
    if entry["kind"] == "order":
        return f"a={entry['a']!r} b={entry['b']!r}"
    return f"input={entry['input']!r}"


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--driver", required=True)
    parser.add_argument("--corpus", required=True)
    args = parser.parse_args()

    entries = []
    with open(args.corpus, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            if line.strip() and not line.startswith("#"):
                entry = json.loads(line)
                entry["line"] = number
                entries.append(entry)

    run = subprocess.run([args.driver, args.corpus], capture_output=True, text=True,
                         encoding="utf-8", errors="replace", check=False)
    if run.returncode != 0:
        print(f"driver failed with status {run.returncode}:\n{run.stderr}")
        return 1
    ours = [json.loads(line)["result"] for line in run.stdout.split("\n") if line]
    if len(ours) != len(entries):
        print(f"driver printed {len(ours)} answers for {len(entries)} corpus entries")
        return 1

    passed, failed = 0, 0
    per_kind = collections.Counter()
    deliberate = 0
    for entry, mine in zip(entries, ours):
        per_kind[entry["kind"]] += 1
        theirs = oracle_answer(entry)
        problem = None
        if "differs" in entry:
            deliberate += 1
            if mine != entry.get("expect"):
                problem = f"expected this program's answer {entry.get('expect')!r}"
            elif theirs == mine:
                problem = "marked as a deliberate difference, but the library now agrees"
        elif mine != theirs:
            problem = "answers differ"
        if problem:
            failed += 1
            print(f"MISMATCH line {entry['line']} [{entry['kind']}] {describe(entry)}: {problem}")
            print(f"  ours:    {mine}")
            print(f"  library: {theirs}")
            if "differs" in entry:
                print(f"  reason given: {entry['differs']}")
        else:
            passed += 1

    total = passed + failed
    kinds = ", ".join(f"{k} {n}" for k, n in sorted(per_kind.items()))
    print(f"oracle cases: {total} ({kinds}); {deliberate} deliberate differences")
    if total < MINIMUM_CASES:
        print(f"the corpus holds fewer than {MINIMUM_CASES} cases")
        failed += 1
    print(f"{passed} passed, {failed} failed")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
