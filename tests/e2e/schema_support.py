"""The published JSON Schemas of docs/schema/, and the checks of documents against them."""

from __future__ import annotations

import json
import os

import jsonschema

from conftest import REPO

SCHEMA_DIR = os.path.join(REPO, "docs", "schema")


def schema(name: str) -> dict:
    """docs/schema/<name>.schema.json, itself checked against its meta-schema."""
    with open(os.path.join(SCHEMA_DIR, f"{name}.schema.json"), encoding="utf-8") as handle:
        loaded = json.load(handle)
    jsonschema.Draft202012Validator.check_schema(loaded)
    return loaded


def schema_errors(document: object, name: str) -> list[str]:
    """Every way the document departs from the schema, one line each (empty when it conforms)."""
    validator = jsonschema.Draft202012Validator(schema(name))
    return [f"{'/'.join(map(str, error.absolute_path)) or '(top)'}: {error.message}"
            for error in validator.iter_errors(document)]


def validate_document(document: object, name: str) -> None:
    errors = schema_errors(document, name)
    assert errors == [], f"not a valid {name} document:\n" + "\n".join(errors)


def validate_report_file(path: str) -> dict:
    """The --report FILE of a run, read and checked against report.schema.json."""
    with open(path, encoding="utf-8") as handle:
        document = json.load(handle)
    validate_document(document, "report")
    return document
