"""Faults of the simulated controller and of the library lookup, each in a
process of its own: the simulation reads its TRAX_SIM_* variables once per
process. The children start together, so the one that waits out the
library's 10-second busy limit runs beside the others."""

from __future__ import annotations

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
        return [type(e).__name__, e.function, str(e), e.error_number]
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

EXPECTED = {
    "lost-exchange": ("TRAX_GetCalcData", "ok"),
    "lost-exchange-in-setting": ("TRAX_SetOffset", "ok"),
    "error-reply": ("TRAX_GetCalcData", "ok"),
    "busy": ("TRAX_GetFigureData", "ok"),
    "driver-start-failed": ("TRAX_GetCalcData", ["TraxError", "TRAX_GetPanel", "TRAX_GetPanel failed", None]),
}


@pytest.fixture(scope="module")
def results() -> Iterator[Dict[str, dict]]:
    children = {
        name: start_child(PRELUDE + code + "\nprint(json.dumps(out))", env) for name, (env, code) in SCENARIOS.items()
    }
    try:
        yield {name: child_result(child) for name, child in children.items()}
    finally:
        for child in children.values():
            if child.poll() is None:
                child.kill()
                child.wait()


@pytest.mark.parametrize("scenario", list(SCENARIOS))
def test_failed_call_raises_trax_error_naming_the_function(results: Dict[str, dict], scenario: str) -> None:
    function, after = EXPECTED[scenario]
    result = results[scenario]
    # No error number outside Windows, where no message queue carries it.
    assert result["first"] == ["TraxError", function, f"{function} failed", None]
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
