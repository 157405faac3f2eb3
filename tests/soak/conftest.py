"""The soak reuses the end-to-end fixtures (sandbox, venv, program)."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))

from conftest import *  # noqa: E402,F401,F403
