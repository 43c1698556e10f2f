"""Fixtures: the library under test (TRAX_LIBRARY) with the simulated
controller in the stand-in driver, and child processes for the cases that need
a controller of their own (its TRAX_SIM_* environment is read once per
process)."""

from __future__ import annotations

import json
import os
import subprocess
import sys
from pathlib import Path
from typing import Dict

import pytest

import trax

SOURCE_ROOT = Path(__file__).resolve().parents[2]


def _required_path(variable: str) -> Path:
    value = os.environ.get(variable)
    if not value or not Path(value).exists():
        pytest.exit(f"{variable} must name an existing file (scripts/test-python.sh sets it)", returncode=2)
    return Path(value)


@pytest.fixture(scope="session")
def library_path() -> Path:
    return _required_path("TRAX_LIBRARY")


@pytest.fixture(scope="session")
def traxctl_path() -> Path:
    return _required_path("TRAXCTL")


@pytest.fixture(scope="session")
def ctl(library_path: Path) -> trax.Controller:
    return trax.Controller()


def child_environment(extra: Dict[str, str]) -> Dict[str, str]:
    """This process's environment without any TRAX_SIM_* setting, plus extra."""
    env = {k: v for k, v in os.environ.items() if not k.startswith("TRAX_SIM_")}
    env.update(extra)
    return env


def start_child(code: str, extra: Dict[str, str]) -> subprocess.Popen:
    """Runs code in a fresh interpreter (and so a fresh controller); its last
    stdout line is expected to be JSON."""
    return subprocess.Popen(
        [sys.executable, "-c", code],
        env=child_environment(extra),
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
    )


def child_result(child: subprocess.Popen, timeout: float = 60) -> Dict[str, object]:
    out, err = child.communicate(timeout=timeout)
    assert child.returncode == 0, f"child failed ({child.returncode}):\n{out}\n{err}"
    return json.loads(out.strip().splitlines()[-1])
