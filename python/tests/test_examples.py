"""The two examples, run as a user runs them."""

from __future__ import annotations

import signal
import subprocess
import sys
from pathlib import Path

from conftest import child_environment

EXAMPLES = Path(__file__).resolve().parents[1] / "examples"


def test_live_values_prints_until_ctrl_c() -> None:
    child = subprocess.Popen(
        [sys.executable, str(EXAMPLES / "live_values.py"), "--interval", "0.01"],
        env=child_environment({}),
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
    )
    try:
        assert child.stdout is not None
        lines = [child.stdout.readline() for _ in range(3)]  # the heading and two reads
        child.send_signal(signal.SIGINT)
        rest, err = child.communicate(timeout=30)
    finally:
        if child.poll() is None:
            child.kill()
    assert child.returncode == 0, err
    assert lines[0].split() == ["A", "B"]
    for line in lines[1:] + rest.splitlines():
        a, b = (float(word) for word in line.split())
        assert a > 0 > b  # the simulated heads sit on either side of zero


def test_storage_plot_writes_a_png(tmp_path: Path) -> None:
    output = tmp_path / "run.png"
    done = subprocess.run(
        [sys.executable, str(EXAMPLES / "storage_plot.py"), "--count", "500", "--output", str(output)],
        env=child_environment({}),
        capture_output=True,
        text=True,
        timeout=120,
    )
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() == f"{output}: 500 values of head A, 500 values of head B"
    assert output.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
