"""Faults of the simulated controller and of the library lookup, each in a
process of its own: the simulation reads its TRAX_SIM_* variables once per
process. The children start together, so the one that waits out the
library's 10-second busy limit runs beside the others."""

from __future__ import annotations

import json
import re
from pathlib import Path
from typing import Dict, Iterator

import pytest

import trax

from conftest import child_result, start_child

PRELUDE = """
import json, trax
def attempt(call):
    try:
        call()
        return "ok"
    except trax.TraxError as e:
        return [type(e).__name__, e.function, str(e), e.error_number, e.reason]
ctl = trax.Controller()
out = {}
"""

SCENARIOS: Dict[str, tuple] = {
    # The first exchange of the process is lost; the next call works.
    "lost-exchange": (
        {"TRAX_SIM_FAIL_AFTER": "0"},
        "out['first'] = attempt(ctl.values); out['next'] = attempt(ctl.values)",
    ),
    # A setting write loses an exchange halfway; switching back to
    # measurement mode brings values back, whichever step was lost.
    "lost-exchange-in-setting": (
        {"TRAX_SIM_FAIL_AFTER": "2"},
        "out['first'] = attempt(lambda: ctl.set('offset', trax.A, 5))\n"
        "out['mode'] = attempt(lambda: ctl.set_mode(trax.Mode.MEASURE))\n"
        "out['next'] = attempt(ctl.values)",
    ),
    "error-reply": (
        {"TRAX_SIM_ERROR_REPLY": "12", "TRAX_SIM_ERROR_COMMAND": "20"},
        "out['first'] = attempt(ctl.values); out['next'] = attempt(lambda: ctl.get('offset', trax.B))",
    ),
    "busy": (
        {"TRAX_SIM_BUSY_COMMAND": "46"},
        "out['first'] = attempt(lambda: ctl.figure(trax.A)); out['next'] = attempt(ctl.values)",
    ),
    "driver-start-failed": (
        {"TRAX_SIM_STARTUP_FAIL": "1"},
        "out['first'] = attempt(ctl.values); out['next'] = attempt(lambda: ctl.get('panel'))",
    ),
}

# The failing function, the controller's error number, and what the call after it gives.
EXPECTED = {
    "lost-exchange": ("TRAX_GetCalcData", None, "ok"),
    "lost-exchange-in-setting": ("TRAX_SetOffset", None, "ok"),
    "error-reply": ("TRAX_GetCalcData", 12, "ok"),
    "busy": ("TRAX_GetFigureData", None, "ok"),
    "driver-start-failed": (
        "TRAX_GetCalcData",
        None,
        [
            "TraxError",
            "TRAX_GetPanel",
            "TRAX_GetPanel failed: library unusable: the USB driver did not start",
            None,
            "library unusable: the USB driver did not start",
        ],
    ),
}

# The reason the library's own log gives for the call, which TraxError.reason repeats.
REASON_IN_LOG = re.compile(r"\] thread \d+: (TRAX_\w+)\(.*\) = 0 in [\d.]+ ms, called at [\d.]+ ms: (.*)$")


@pytest.fixture(scope="module")
def results(tmp_path_factory: pytest.TempPathFactory) -> Iterator[Dict[str, dict]]:
    logs = tmp_path_factory.mktemp("logs")
    children = {
        name: start_child(
            PRELUDE + code + "\nprint(json.dumps(out))",
            {**env, "TRAX_LOG": "calls", "TRAX_LOG_FILE": str(logs / f"{name}.log")},
        )
        for name, (env, code) in SCENARIOS.items()
    }
    try:
        outcome = {name: child_result(child) for name, child in children.items()}
        for name in outcome:
            outcome[name]["log"] = (logs / f"{name}.log").read_text()
        yield outcome
    finally:
        for child in children.values():
            if child.poll() is None:
                child.kill()
                child.wait()


def first_reason_in_log(log: str, function: str) -> str:
    for line in log.splitlines():
        match = REASON_IN_LOG.search(line)
        if match and match.group(1) == function:
            return match.group(2)
    raise AssertionError(f"no failed {function} in the log:\n{log}")


@pytest.mark.parametrize("scenario", list(SCENARIOS))
def test_failed_call_raises_trax_error_with_the_reason_of_the_log(results: Dict[str, dict], scenario: str) -> None:
    function, error_number, after = EXPECTED[scenario]
    result = results[scenario]
    kind, named, message, number, reason = result["first"]
    assert (kind, named, number) == ("TraxError", function, error_number)
    # The user's own log (TRAX_LOG, TRAX_LOG_FILE) is kept and says the same.
    assert reason == first_reason_in_log(result["log"], function)
    assert message == f"{function} failed: {reason}"
    assert result["next"] == after
    if "mode" in result:
        assert result["mode"] == "ok"


def test_library_named_by_trax_library_that_does_not_load(tmp_path) -> None:
    missing = tmp_path / "libtrax.so.2"
    child = start_child(
        "import json, trax\n"
        "try:\n    trax.Controller()\n"
        "except trax.LibraryNotFoundError as e:\n    print(json.dumps(str(e)))\n",
        {"TRAX_LIBRARY": str(missing)},
    )
    message = child_result(child)
    assert f"TRAX_LIBRARY={missing}: " in message and "No such file" in message


def test_a_library_without_the_functions_is_refused() -> None:
    with pytest.raises(trax.TraxError, match=r"libc\.so\.6 lacks TRAX_AbleCancel, .*TRAX_SetZero"):
        trax.load_library("libc.so.6")
    with pytest.raises(trax.LibraryNotFoundError, match=r"tried:\n  /no/such/libtrax\.so: .*\nSet TRAX_LIBRARY"):
        trax.load_library("/no/such/libtrax.so")


DATA = Path(__file__).resolve().parents[2] / "tests" / "data"


def test_the_shared_tap_fixture_gives_each_thread_its_own_last_reason() -> None:
    """The same lines and questions as the C++ and C# readers' tests."""
    from trax._library import _ReasonReader

    lines = (DATA / "reason-tap.jsonl").read_bytes()
    questions = [json.loads(line) for line in (DATA / "reason-tap-takes.jsonl").read_text().splitlines()]
    for piece in (len(lines), 7):
        reader = _ReasonReader(4242)
        for at in range(0, len(lines), piece):
            reader.feed(lines[at : at + piece])
        assert reader.startup is not None
        assert (reader.startup["trax"], reader.startup["usable"]) == (
            questions[0]["startup"],
            questions[0]["usable"],
        )
        for q in questions[1:]:
            reason, number = reader.take(q["call"], q["thread"])
            assert ((reason or ""), number) == (q["reason"], q["error"]), (q, piece)


def test_threads_each_get_their_own_reasons() -> None:
    """Two threads failing at once: every failure carries its own reason."""
    code = (
        "import json, threading, trax\n"
        "ctl = trax.Controller()\n"
        "missing = []\n"
        "def work():\n"
        "    for _ in range(300):\n"
        "        try:\n"
        "            ctl.values()\n"
        "        except trax.TraxError as e:\n"
        "            if e.reason is None or e.error_number != 7:\n"
        "                missing.append(str(e))\n"
        "threads = [threading.Thread(target=work) for _ in range(2)]\n"
        "for t in threads: t.start()\n"
        "for t in threads: t.join()\n"
        "print(json.dumps(missing[:5]))\n"
    )
    child = start_child(code, {"TRAX_SIM_ERROR_REPLY": "7", "TRAX_SIM_ERROR_COMMAND": "20"})
    assert child_result(child, timeout=120) == []


def test_traxctl_run_from_a_script_knows_its_reasons_and_no_file_is_left(tmp_path: Path, traxctl_path: Path) -> None:
    """A child inherits the script's tap variables: it makes its own tap, and
    neither leaves a file in the temporary folder, however many runs fail."""
    folder = tmp_path / "tmp"
    folder.mkdir()
    code = (
        "import json, os, subprocess, sys, trax\n"
        "ctl = trax.Controller()\n"
        "said = []\n"
        "for _ in range(20):\n"
        f"    run = subprocess.run([{str(traxctl_path)!r}, 'mode', 'setting'], capture_output=True, text=True)\n"
        "    said.append([run.returncode, run.stderr.splitlines()[0] if run.stderr else ''])\n"
        "print(json.dumps({'said': said, 'files': os.listdir(os.environ['TMPDIR'])}))\n"
    )
    env = {"TMPDIR": str(folder), "TRAX_SIM_ERROR_REPLY": "7", "TRAX_SIM_ERROR_COMMAND": "6"}
    result = child_result(start_child(code, env))
    said = "traxctl mode: TRAX_SetMode failed: refused by the controller (error reply, error 7, command 6)"
    assert all(status == 1 and line.startswith(said) for status, line in result["said"]), result["said"]
    assert len(result["said"]) == 20
    assert result["files"] == []
    assert list(folder.iterdir()) == []


def test_a_missing_driver_is_told_as_the_driver_with_the_simulators_place(tmp_path: Path) -> None:
    from trax import _library

    lib = tmp_path / "lib"
    (lib / "trax" / "simulator").mkdir(parents=True)
    (lib / "libtrax.so.2").write_bytes(b"")
    (lib / "trax" / "simulator" / "libQelUsbDrv.so").write_bytes(b"")
    tried = [f"TRAX_LIBRARY={lib / 'libtrax.so.2'}: libQelUsbDrv.so: cannot open shared object file: No such file"]
    message = _library._not_loaded_message(tried, [str(lib / "libtrax.so.2")])
    assert message.startswith(f"the trax library was found ({lib / 'libtrax.so.2'}), but its USB driver")
    assert f"the simulated controller is in {lib / 'trax' / 'simulator'}" in message
    assert "Set TRAX_LIBRARY" not in message
    # The library itself missing is still told as such.
    assert _library._not_loaded_message(["libtrax.so.2 (system loader): not found"], ["libtrax.so.2"]).startswith(
        "the trax library could not be loaded"
    )
