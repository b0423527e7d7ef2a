"""Running the project's tools from the tests: child processes with a clean
environment, and the marks of the tests that run them."""

import importlib.util
import os
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
SRC = ROOT / "src"

release_only = pytest.mark.skipif(
    os.environ.get("KORA_BUILD_VARIANT", "release") != "release",
    reason="runs once per suite, with the release interpreter and build",
)
needs_mypy = pytest.mark.skipif(
    importlib.util.find_spec("mypy") is None,
    reason="mypy is not installed for this interpreter (provisioned from tools/sid-packages/packaging.txt)",
)


def clean_env(keep_path=False):
    """The environment without preloads and pip settings (and without the
    test run's module path unless keep_path), so that children see only what
    they are given."""
    drop = {"LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS"} | (set() if keep_path else {"PYTHONPATH"})
    env = {k: v for k, v in os.environ.items() if k not in drop and not k.startswith(("PIP_", "SKBUILD_"))}
    env["PIP_CONFIG_FILE"] = os.devnull
    env["PIP_DISABLE_PIP_VERSION_CHECK"] = "1"
    return env


def run(*cmd, check=True, keep_path=False, **kwargs):
    """Run cmd; its stdout (or, with check=False, the finished process)."""
    done = subprocess.run([str(c) for c in cmd], env=clean_env(keep_path), capture_output=True, text=True, **kwargs)
    if not check:
        return done
    assert done.returncode == 0, f"{cmd}\n{done.stdout[-6000:]}\n{done.stderr[-6000:]}"
    return done.stdout
