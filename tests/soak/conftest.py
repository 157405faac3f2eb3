"""The soak reuses the end-to-end fixtures (sandbox, venv, program) and helpers."""
import importlib.util
import os
import sys

_E2E = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e")
sys.path.insert(0, _E2E)  # its helpers (engine_support) too
_spec = importlib.util.spec_from_file_location("e2e_conftest", os.path.join(_E2E, "conftest.py"))
_e2e = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(_e2e)
globals().update({k: v for k, v in vars(_e2e).items() if not k.startswith("__")})
