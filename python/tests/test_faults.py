"""Faults of the simulated controller and of the library lookup, each in a
process of its own: the simulation reads its TRAX_SIM_* variables once per
process. The children start together, so the one that waits out the
library's 10-second busy limit runs beside the others."""

from __future__ import annotations

import re
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
