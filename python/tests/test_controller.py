"""The Controller against the simulated controller: results, NumPy arrays,
and arguments refused before anything is sent."""

from __future__ import annotations

import json
import math
from pathlib import Path
from typing import Callable, List, Tuple

import numpy as np
import pytest

import trax


@pytest.fixture
def sent(ctl: trax.Controller, monkeypatch: pytest.MonkeyPatch) -> List[Tuple[object, ...]]:
    """Records every library call the controller makes (and still makes it)."""
    calls: List[Tuple[object, ...]] = []
    real = ctl.library.call

    def record(name: str, *args: object) -> None:
        calls.append((name, *args))
        real(name, *args)

    monkeypatch.setattr(ctl.library, "call", record)
    return calls


def test_values_of_both_heads(ctl: trax.Controller) -> None:
    ctl.set("display-unit", trax.A, 1)
    ctl.set("offset", trax.A, 0)
    a, b = ctl.values()
    assert a.status is trax.Status.VALID and b.status is trax.Status.VALID
    # Handed out as the decimal the controller meant, at 3 decimals (unit 1).
    assert a.value == round(a.value, 3) and 0.5 < a.value < 2.0
    assert repr(a) == f"trax.Value(status=trax.Status.VALID, value={a.value!r})"


@pytest.mark.parametrize(
    "name,args,expected",
    [
        ("offset", (trax.A, 250), 250),
        ("offset", (trax.B, -999999), -999999),
        ("able-min-max", (trax.B, 20, 80), (20, 80)),
        ("scaling-1", (trax.A, -1, 2, -3, 4), (-1, 2, -3, 4)),
        ("analog-scaling", (trax.B, 999999, -99999, -999999, 99999), (999999, -99999, -999999, 99999)),
        ("tolerance", (trax.A, 5, -5, 999999), (5, -5, 999999)),
        ("sampling-cycle", (4,), 4),
        ("storage", (1, 300, 2), (1, 300, 2)),
        ("program", (7,), 7),
    ],
)
def test_setting_round_trip(ctl: trax.Controller, name: str, args: tuple, expected: object) -> None:
    ctl.set(name, *args)
    head = args[0] if trax.settings()[name].per_head else None
    assert ctl.get(name, head) == expected


def test_scaling_sets_are_apart(ctl: trax.Controller) -> None:
    ctl.set("scaling-0", trax.B, 1, 1, 1, 1)
    ctl.set("scaling-1", trax.B, 2, 2, 2, 2)
    assert ctl.get("scaling-0", trax.B) == (1, 1, 1, 1)


@pytest.mark.parametrize(
    "call,error,message",
    [
        (
            lambda c: c.set("offset", trax.A, 1000000),
            trax.RangeError,
            r"TRAX_SetOffset: offset 1000000 is out of range -999999\.\.999999",
        ),
        (
            lambda c: c.set("analog-scaling", trax.A, 0, 100000, 0, 0),
            trax.RangeError,
            r"value2 100000 is out of range -99999\.\.99999",
        ),
        (lambda c: c.set("able-min-max", trax.A, 60, 50), trax.RangeError, r"min 60 is above max 50"),
        (lambda c: c.set("offset", 2, 0), trax.RangeError, r"head 2 is out of range 0\.\.1"),
        (lambda c: c.set("offset", trax.A), trax.ArgumentError, r"offset takes 1 value\(s\) \(offset\), got 0"),
        (lambda c: c.set("offset"), trax.ArgumentError, r"offset needs a head"),
        (lambda c: c.set("no-such", 1), trax.ArgumentError, r"unknown setting 'no-such'"),
        (lambda c: c.get("sampling-cycle", trax.A), trax.ArgumentError, r"belongs to the controller"),
        (lambda c: c.get("panel-lock"), trax.ArgumentError, r"written but not read"),
        (lambda c: c.set("offset", trax.A, 2.5), TypeError, r"must be an integer, not float"),
        # True is an int to Python, never a number a caller meant.
        (lambda c: c.set("offset", trax.A, True), TypeError, r"offset must be an integer, not bool"),
        (lambda c: c.set("able-min-max", trax.A, 10, np.bool_(True)), TypeError, r"max must be an integer, not bool"),
        (lambda c: c.set("offset", False, 5), TypeError, r"head must be an integer, not bool"),
        (lambda c: c.storage_setup(count=True), TypeError, r"count must be an integer, not bool"),
        (lambda c: c.light(trax.A, True), TypeError, r"selector must be an integer, not bool"),
        (lambda c: c.storage_wait(0), trax.RangeError, r"count 0 is out of range 1\.\.65536"),
        (lambda c: c.storage_setup(count=0), trax.RangeError, r"count 0 is out of range 1\.\.65536"),
        (lambda c: c.storage_read(trax.A, 65537), trax.RangeError, r"max_count 65537 is out of range 1\.\.65536"),
        (lambda c: c.storage_read(-1), trax.RangeError, r"head -1"),
        (lambda c: c.light(trax.A, 4), trax.RangeError, r"TRAX_GetLight: selector 4 is out of range 0\.\.3"),
        (lambda c: c.figure(trax.BOTH), trax.RangeError, r"TRAX_GetFigureData: head 2"),
        (lambda c: c.zero(3), trax.RangeError, r"TRAX_SetZero: head 3 is out of range 0\.\.2"),
        (lambda c: c.able_start(trax.BOTH), trax.RangeError, r"TRAX_AbleStart"),
        (lambda c: c.set_mode(2), trax.RangeError, r"TRAX_SetMode: mode 2"),
    ],
)
def test_bad_arguments_are_refused_before_anything_is_sent(
    ctl: trax.Controller, sent: list, call: Callable[[trax.Controller], object], error: type, message: str
) -> None:
    with pytest.raises(error, match=message):
        call(ctl)
    assert sent == []


def test_storage_run_as_a_float32_array(ctl: trax.Controller, sent: list) -> None:
    ctl.set("display-unit", trax.A, 1)
    ctl.set("offset", trax.A, 0)
    before = ctl.get("storage")
    settings = ctl.storage_setup(count=200)
    assert [call[0] for call in sent[-3:]] == ["TRAX_GetDataStorage", "TRAX_SetDataStorage", "TRAX_DataStorageInit"]
    # Only the count was given: the other settings keep their values.
    assert settings == (before[0], 200, before[2]) == ctl.get("storage")
    ctl.storage_start()
    ctl.storage_stop()
    assert ctl.storage_status(trax.A) == trax.StorageStatus(False, 200)
    data = ctl.storage_read(trax.A)
    assert data.dtype == np.float32 and data.shape == (200,)
    assert data.flags.c_contiguous and data.flags.owndata
    assert np.all(np.isfinite(data))
    head = ctl.storage_read(trax.A, 50)
    np.testing.assert_array_equal(head, data[:50])


def test_storage_read_gives_over_range_values_and_their_statuses(ctl: trax.Controller) -> None:
    ctl.set("display-unit", trax.A, 2)
    ctl.storage_setup(count=10)
    for offset in (999999, -999999, 0):
        ctl.set("offset", trax.A, offset)
        ctl.storage_init()
        ctl.storage_start()
        ctl.storage_stop()
        values, statuses = ctl.storage_read(trax.A, with_status=True)
        assert statuses.shape == values.shape == (10,)
        expected = {999999: (trax.Status.OVER_POSITIVE, math.inf), -999999: (trax.Status.OVER_NEGATIVE, -math.inf)}
        if offset in expected:
            status, value = expected[offset]
            assert np.all(statuses == status) and np.all(values == value)
        else:
            assert np.all(statuses == trax.Status.VALID)


def test_figure_light_and_control_actions(ctl: trax.Controller) -> None:
    ctl.clear_figure()
    figure = ctl.figure(trax.B)
    assert len(figure.values) == 7 and len(figure.integers) == 4
    assert all(isinstance(v.status, trax.Status) for v in figure.values)
    light = ctl.light(trax.A, selector=1)
    assert light.profile.dtype == np.uint8 and light.profile.shape == (1024,)
    assert light.profile.any()
    assert all(0 <= f <= 65535 for f in light.figures) and 0 <= light.extra <= 65535
    ctl.zero(trax.BOTH)
    a, _ = ctl.values()
    assert a.value == 0.0
    ctl.zero(trax.BOTH, on=False)
    ctl.timing(trax.A, True)
    ctl.timing(trax.A, False)
    ctl.reset(trax.B)
    ctl.set("panel", 1)
    assert ctl.get("panel") == 1
    ctl.set("panel-lock", 1)
    ctl.set("panel-lock", 0)


def test_able_adjustment_holds_setting_mode_until_stopped(ctl: trax.Controller) -> None:
    ctl.able_start(trax.A)
    with pytest.raises(trax.TraxError, match=r"TRAX_GetCalcData failed: refused by the controller \(error 5,") as caught:
        ctl.values()
    assert caught.value.function == "TRAX_GetCalcData" and caught.value.error_number == 5
    assert caught.value.reason == "refused by the controller (error 5, command 20)"
    ctl.able_cancel()
    ctl.values()
    ctl.set_mode(trax.Mode.SETTING)
    ctl.set_mode(trax.Mode.MEASURE)
    with pytest.raises(trax.TraxError, match="TRAX_AbleStop"):
        ctl.able_stop()  # nothing running: refused


def test_error_number_from_the_message_queue_is_carried(ctl: trax.Controller, monkeypatch: pytest.MonkeyPatch) -> None:
    # Windows reads it from the thread's queue; here the reader is replaced,
    # and the reason tap, which knows the number first, is made to know none.
    from trax import _library

    monkeypatch.setattr(ctl.library, "take_error_number", lambda: 12)
    monkeypatch.setattr(_library._TAP, "failure_of", lambda function: (None, None))
    ctl.able_start(trax.B)
    try:
        with pytest.raises(trax.TraxError, match="^TRAX_GetCalcData failed$") as caught:
            ctl.values()
        assert caught.value.error_number == 12 and caught.value.reason is None
    finally:
        ctl.able_cancel()


def test_error_number_left_by_an_earlier_call_is_not_blamed(ctl: trax.Controller, monkeypatch: pytest.MonkeyPatch) -> None:
    # A number queued before the call (posted during an earlier call that
    # succeeded) is taken away before the call: the failure carries the number
    # of its own refusal (from the library's reason), never the stale one.
    queue = [9]
    monkeypatch.setattr(ctl.library, "take_error_number", lambda: queue.pop() if queue else None)
    ctl.able_start(trax.B)
    queue.append(9)
    try:
        with pytest.raises(trax.TraxError) as caught:
            ctl.values()
        assert caught.value.error_number == 5
    finally:
        ctl.able_cancel()


def test_one_controller_shared_by_threads(ctl: trax.Controller) -> None:
    from concurrent.futures import ThreadPoolExecutor

    ctl.set("offset", trax.A, 0)
    ctl.set("display-unit", trax.A, 1)

    def work(i: int) -> Tuple[trax.Status, int]:
        ctl.set("num-alarm", trax.B, i)
        return ctl.values()[0].status, ctl.get("offset", trax.A)

    with ThreadPoolExecutor(4) as pool:
        results = list(pool.map(work, range(40)))
    assert results == [(trax.Status.VALID, 0)] * 40


def test_a_head_setting_read_without_a_head_gives_both(ctl: trax.Controller) -> None:
    ctl.set("offset", trax.A, 120)
    ctl.set("offset", trax.B, -40)
    ctl.set("able-min-max", trax.B, 20, 80)
    assert ctl.get("offset") == {trax.A: 120, trax.B: -40}
    assert ctl.get("able-min-max")[trax.B] == (20, 80)  # type: ignore[index]
    assert isinstance(ctl.get("sampling-cycle"), int)


def test_storage_wait_returns_when_full_and_times_out_on_an_injected_clock(ctl: trax.Controller) -> None:
    ctl.storage_setup(count=300)
    ctl.storage_start()
    a, b = ctl.storage_wait(300)
    ctl.storage_stop()
    assert a.count == b.count == 300
    # More than the run holds: the clock passes the timeout without any real wait.
    now = [0.0]
    slept: List[float] = []

    def sleep(seconds: float) -> None:
        slept.append(seconds)
        now[0] += seconds

    with pytest.raises(TimeoutError, match=r"300 and 300 values after 0\.2 s, 301 wanted"):
        ctl.storage_wait(301, timeout=0.2, interval=0.05, clock=lambda: now[0], sleep=sleep)
    assert slept == [0.05] * 4


def test_watch_yields_time_and_both_values(ctl: trax.Controller) -> None:
    ticks = iter([0.0, 0.0, 0.01, 0.5, 0.51, 1.0])  # start, then each reading and each wait asks once
    slept: List[float] = []
    readings = list(ctl.watch(interval=0.5, count=3, clock=lambda: next(ticks), sleep=slept.append))
    assert [t for t, _, _ in readings] == [0.0, 0.5, 1.0]
    assert all(a.status is trax.Status.VALID and b.status is trax.Status.VALID for _, a, b in readings)
    assert slept == pytest.approx([0.49, 0.49])


def test_values_as_text_keep_every_float32_digit() -> None:
    cases = [
        (1.235, 3, "1.235"),
        (0.01235, 3, "0.01235"),
        (1.2345, 3, "1.2345"),
        (0.5, 0, "0.5"),
        (-0.0, 2, "0.00"),
        (-2.0, 4, "-2.0000"),
        (16777216.0, None, "16777216"),
        (float("inf"), 2, "inf"),
        (float("nan"), 2, "nan"),
    ]
    for value, decimals, text in cases:
        assert trax.value_text(value, decimals) == text
    # Every display resolution: the shortest text reads back as the same float32.
    rng = np.random.default_rng(5)
    for step in (0.01, 0.001, 0.0001, 0.00001, 0.1):
        values = (rng.integers(-999999, 999999, 2000) * step).astype(np.float32)
        for v in values:
            assert np.float32(trax.value_text(float(v))) == v
    assert [str(s) for s in trax.Status] == ["valid", "over+", "over-", "invalid"]


def test_storage_frame_when_pandas_is_there(ctl: trax.Controller) -> None:
    pandas = pytest.importorskip("pandas")
    ctl.storage_setup(count=50)
    ctl.storage_start()
    ctl.storage_wait(50)
    ctl.storage_stop()
    frame = ctl.storage_frame(trax.A)
    assert isinstance(frame, pandas.DataFrame)
    assert list(frame.columns) == ["status", "value"] and len(frame) == 50
    assert frame["value"].dtype == np.float32
    assert set(frame["status"]) <= {"valid", "over+", "over-", "invalid"}


def test_heads_by_name_as_traxctl_takes_them(ctl: trax.Controller) -> None:
    assert ctl.figure("A") == ctl.figure(trax.A)
    assert ctl.get("offset", "b") == ctl.get("offset", trax.B)
    with pytest.raises(trax.ArgumentError, match="head must be A or B, not 'C'"):
        ctl.figure("C")
    with pytest.raises(trax.RangeError, match="head 2 is out of range 0..1"):
        ctl.figure("both")


def test_differences_name_their_sides(ctl: trax.Controller, tmp_path: Path) -> None:
    path = tmp_path / "s.json"
    ctl.save_settings(path)
    text = path.read_text().replace('"offset": ', '"offset": 1', 1)
    path.write_text(text)
    (difference,) = ctl.load_settings(path, dry_run=True).differences
    assert difference.sides == ("controller", "file")
    assert repr(difference).startswith("SettingsDifference(offset A: controller=(")
    assert ", file=(1" in repr(difference)


def test_the_unit_named_once_in_the_environment(
    ctl: trax.Controller, tmp_path: Path, monkeypatch: pytest.MonkeyPatch
) -> None:
    monkeypatch.setenv("TRAX_UNIT", "um")
    ctl.storage_to_csv(tmp_path / "a.csv", "A", max_count=1)
    assert "# unit: um" in (tmp_path / "a.csv").read_text()
    monkeypatch.setenv("TRAX_UNIT", "furlong")
    with pytest.raises(trax.ArgumentError, match="TRAX_UNIT takes mm, um, inch or mil, not 'furlong'"):
        ctl.storage_to_csv(tmp_path / "b.csv", "A")


def test_record_writes_every_exchange_and_the_stand_in_replays_it(tmp_path) -> None:
    from conftest import child_result, start_child

    recording = tmp_path / "values.jsonl"
    code = (
        "import json, trax\n"
        f"ctl = trax.Controller(record={str(recording)!r})\n"
        "a, b = ctl.values()\n"
        "print(json.dumps([a.value, b.value]))\n"
    )
    recorded = child_result(start_child(code, {}))
    lines = recording.read_text(encoding="ascii").splitlines()
    first = json.loads(lines[0])
    assert (first["format"], first["version"], first["stand_in"]) == ("trax-recording", 1, True)
    exchange = json.loads(lines[1])
    assert (exchange["call"], exchange["end"], exchange["request"]) == ("TRAX_GetCalcData", "answered", "00 06 07 14 00 FF")
    # The same values from the recording, without the simulated controller.
    replay = "import json, trax\na, b = trax.Controller().values()\nprint(json.dumps([a.value, b.value]))\n"
    assert child_result(start_child(replay, {"TRAX_SIM_REPLAY": str(recording)})) == recorded


def test_record_after_the_library_loaded_is_refused(ctl: trax.Controller, tmp_path) -> None:
    with pytest.raises(trax.TraxError, match="before the library loads"):
        trax.Controller(record=tmp_path / "late.jsonl")
