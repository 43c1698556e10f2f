"""The controller: every function of the C interface as a method."""

from __future__ import annotations

import ctypes
import operator
import os
import time
from typing import TYPE_CHECKING, Any, Callable, Dict, Iterator, Literal, Optional, Sequence, Tuple, Union, overload

import numpy as np

if TYPE_CHECKING:
    import numpy.typing as npt

from . import _settings_file, _table
from ._csv import status_text, write_csv
from ._errors import ArgumentError, RangeError, TraxError
from ._library import FigureData, FloatValue, Library, LightData, PathLike, load_library, start_recording
from ._settings import Setting
from ._types import Figure, Head, Light, Mode, StorageSettings, StorageStatus, Value, shortest_float, status_of

__all__ = ["Controller", "SettingValue", "STORED_RECORD", "MAX_STORED"]

#: What a setting reads back: an int for one value, a tuple for several.
SettingValue = Union[int, Tuple[int, ...]]

#: A head as a number (trax.A, trax.B, trax.BOTH) or by name ("A", "B", "both").
HeadLike = Union[int, str]

#: Most values a head stores.
MAX_STORED = 65536
#: NumPy view of the library's FloatValue record (status, then value; 8 bytes).
STORED_RECORD = np.dtype([("status", "<i4"), ("value", "<f4")])
PROFILE_SAMPLES = 1024


def _integer(value: object, what: str) -> int:
    # True and False are ints to Python, but never what a caller meant as a number.
    if isinstance(value, (bool, np.bool_)):
        raise TypeError(f"{what} must be an integer, not {type(value).__name__}")
    try:
        return operator.index(value)  # type: ignore[arg-type]
    except TypeError:
        raise TypeError(f"{what} must be an integer, not {type(value).__name__}") from None


# Heads by name, as traxctl and the page take them.
_HEAD_NAMES = {"a": 0, "b": 1, "both": 2}


def _in_range(value: object, low: int, high: int, what: str, function: Optional[str]) -> int:
    if what == "head" and isinstance(value, str):
        if value.lower() not in _HEAD_NAMES:
            raise ArgumentError(f"head must be A or B{' or both' if high == 2 else ''}, not {value!r}", function=function)
        value = _HEAD_NAMES[value.lower()]
    number = _integer(value, what)
    if not low <= number <= high:
        where = f"{function}: " if function else ""
        raise RangeError(f"{where}{what} {number} is out of range {low}..{high}", function=function)
    return number


def _value(record: FloatValue) -> Value:
    return Value(status_of(record.status), shortest_float(record.value))  # type: ignore[arg-type]


UNITS = ("mm", "um", "inch", "mil")


def unit_from_environment() -> Optional[str]:
    """The unit named once for every program (TRAX_UNIT), as traxctl and the
    server read it; None when it is not set."""
    named = os.environ.get("TRAX_UNIT")
    if not named:
        return None
    if named not in UNITS:
        raise ArgumentError(f"TRAX_UNIT takes mm, um, inch or mil, not {named!r}")
    return named


class Controller:
    """The controller behind the library.

    Every method checks its arguments first and raises RangeError (nothing
    sent) when one is out of range; a library call that fails raises
    TraxError naming the C function. The library serialises calls, so one
    Controller may be shared between threads.

    ``library`` is a path to the library or a loaded Library; by default the
    library is found as load_library() describes. ``record`` names a file to
    which the library records every exchange with the controller (JSON Lines,
    replayable by the stand-in driver: TRAX_SIM_REPLAY); the library takes it
    when it loads, so only the first Controller of a process can ask for it.
    """

    def __init__(self, library: Union[Library, PathLike, None] = None, record: Optional[PathLike] = None) -> None:
        if record is not None:
            start_recording(record)
        self.library = library if isinstance(library, Library) else load_library(library)
        self._settings = _table.settings()
        # When this process saw the storage start and stop; the controller does not say.
        self._capture: Dict[str, Optional[str]] = {"start": None, "stop": None}

    def __repr__(self) -> str:
        return f"trax.Controller(library={self.library.path!r})"

    def _call(self, function: str, *args: object) -> None:
        self.library.call(function, *args)

    # ---- operating mode -----------------------------------------------------

    def set_mode(self, mode: Union[Mode, int]) -> None:
        """Switches to measurement mode (Mode.MEASURE) or setting mode (Mode.SETTING)."""
        self._call("TRAX_SetMode", _in_range(mode, 0, 1, "mode", "TRAX_SetMode"))

    # ---- measured values and figure data -------------------------------------

    def values(self) -> Tuple[Value, Value]:
        """The current measured values of head A and head B."""
        a, b = FloatValue(), FloatValue()
        self._call("TRAX_GetCalcData", ctypes.byref(a), ctypes.byref(b))
        return _value(a), _value(b)

    def figure(self, head: HeadLike) -> Figure:
        """The figure data of one head."""
        head = _in_range(head, 0, 1, "head", "TRAX_GetFigureData")
        data = FigureData()
        self._call("TRAX_GetFigureData", head, ctypes.byref(data))
        return Figure(tuple(_value(v) for v in data.values), tuple(data.integers))

    def clear_figure(self) -> None:
        """Clears the figure data of both heads."""
        self._call("TRAX_ClearFigureData")

    # ---- data storage --------------------------------------------------------

    def storage_setup(
        self, *, target: Optional[int] = None, count: Optional[int] = None, cycle: Optional[int] = None
    ) -> StorageSettings:
        """Prepares a storage run, as ``traxctl storage setup`` does: writes the
        given settings (the others keep the controller's values), then
        initialises the storage. Returns the settings in force."""
        given = {}
        fields = self._settings["storage"].fields
        for field, value in zip(fields, (target, count, cycle)):
            if value is not None:
                given[field.name] = _in_range(value, field.low, field.high, field.name, "TRAX_SetDataStorage")
        current = self.get("storage")
        assert isinstance(current, tuple)
        settings = StorageSettings(*(given.get(f.name, v) for f, v in zip(fields, current)))
        if given:
            self._call("TRAX_SetDataStorage", *settings)
        self._call("TRAX_DataStorageInit")
        return settings

    def storage_init(self) -> None:
        """Initialises the data storage (clears the stored values)."""
        self._call("TRAX_DataStorageInit")

    def storage_start(self) -> None:
        """Starts storing measured values."""
        now = _iso_now()
        self._call("TRAX_DataStorageStart")
        self._capture = {"start": now, "stop": None}

    def storage_stop(self) -> None:
        """Stops storing measured values."""
        now = _iso_now()
        self._call("TRAX_DataStorageStop")
        self._capture["stop"] = now

    def storage_wait(
        self,
        count: int,
        timeout: float = 10.0,
        *,
        interval: float = 0.05,
        clock: Callable[[], float] = time.monotonic,
        sleep: Callable[[float], None] = time.sleep,
    ) -> Tuple[StorageStatus, StorageStatus]:
        """Waits until both heads hold at least ``count`` values (as after
        storage_setup(count=...) and storage_start()), asking every
        ``interval`` seconds. Returns the last status of heads A and B; raises
        TimeoutError when ``timeout`` seconds pass first."""
        count = _in_range(count, 1, MAX_STORED, "count", "TRAX_DataStorageGetStatus")
        deadline = clock() + timeout
        while True:
            a, b = self.storage_status(0), self.storage_status(1)
            if a.count >= count and b.count >= count:
                return a, b
            if clock() >= deadline:
                raise TimeoutError(
                    f"storage_wait: {a.count} and {b.count} values after {timeout} s, "
                    f"{count} wanted (storing: {'yes' if a.storing else 'no'})"
                )
            sleep(interval)

    def storage_status(self, head: HeadLike) -> StorageStatus:
        """Whether the controller is storing, and how many values ``head`` holds."""
        head = _in_range(head, 0, 1, "head", "TRAX_DataStorageGetStatus")
        state, count = ctypes.c_int(0), ctypes.c_int(0)
        self._call("TRAX_DataStorageGetStatus", head, ctypes.byref(state), ctypes.byref(count))
        return StorageStatus(state.value == 1, count.value)

    @overload
    def storage_read(
        self, head: HeadLike, max_count: int = ..., *, with_status: Literal[False] = ...
    ) -> npt.NDArray[np.float32]:
        ...

    @overload
    def storage_read(
        self, head: HeadLike, max_count: int = ..., *, with_status: Literal[True]
    ) -> Tuple[npt.NDArray[np.float32], npt.NDArray[np.int32]]:
        ...

    def storage_read(
        self, head: HeadLike, max_count: int = MAX_STORED, *, with_status: bool = False
    ) -> Union[npt.NDArray[np.float32], Tuple[npt.NDArray[np.float32], npt.NDArray[np.int32]]]:
        """The stored values of one head, at most ``max_count`` (1..65536).

        Returns a float32 array as long as the number of values returned,
        with +inf, -inf and NaN where the status is over-range or invalid.
        With ``with_status=True`` returns ``(values, statuses)``, statuses an
        int32 array of Status codes. The library writes its records into one
        buffer; values and statuses are each copied out of it once."""
        head = _in_range(head, 0, 1, "head", "TRAX_DataStorageGetData")
        max_count = _in_range(max_count, 1, MAX_STORED, "max_count", "TRAX_DataStorageGetData")
        records = np.empty(max_count, dtype=STORED_RECORD)
        returned = ctypes.c_int(0)
        self._call(
            "TRAX_DataStorageGetData", head, max_count, records.ctypes.data_as(ctypes.c_void_p), ctypes.byref(returned)
        )
        # Never trust a count beyond the buffer handed over.
        count = min(max(returned.value, 0), max_count)
        values = records["value"][:count].copy()
        if not with_status:
            return values
        return values, records["status"][:count].copy()

    def storage_to_csv(
        self,
        path: Union[str, "os.PathLike[str]"],
        head: HeadLike,
        *,
        unit: Optional[str] = None,
        decimals: Optional[int] = None,
        max_count: int = MAX_STORED,
    ) -> int:
        """Reads one head's stored values and writes them as ``traxctl storage
        read HEAD --csv FILE`` does (same header, same text, no digit lost).
        ``unit`` names the unit, which the library does not report; without
        it, the ``TRAX_UNIT`` environment variable (mm, um, inch or mil) as
        for traxctl. Returns the number of values written."""
        if unit is None:
            unit = unit_from_environment()
        head = _in_range(head, 0, 1, "head", "TRAX_DataStorageGetData")
        values, statuses = self.storage_read(head, max_count, with_status=True)
        write_csv(
            path,
            values,
            statuses,
            head=head,
            unit=unit,
            decimals=decimals,
            start=self._capture["start"],
            stop=self._capture["stop"],
        )
        return len(values)

    def storage_frame(self, head: HeadLike, max_count: int = MAX_STORED) -> Any:
        """One head's stored values as a pandas DataFrame with the columns
        ``status`` (text: valid, over+, over-, invalid) and ``value``
        (float32). Needs pandas (Debian: python3-pandas); nothing else in
        the package does."""
        try:
            import pandas  # type: ignore[import]
        except ImportError:
            raise ImportError("storage_frame needs pandas (Debian: apt install python3-pandas)") from None

        values, statuses = self.storage_read(head, max_count, with_status=True)
        return pandas.DataFrame({"status": [status_text(int(c)) for c in statuses], "value": values})

    # ---- light-intensity profile ---------------------------------------------

    def light(self, head: HeadLike, selector: int = 0) -> Light:
        """The light-intensity profile of one head (``selector`` 0..3 is passed
        to the controller)."""
        head = _in_range(head, 0, 1, "head", "TRAX_GetLight")
        selector = _in_range(selector, 0, 3, "selector", "TRAX_GetLight")
        data = LightData()
        extra = ctypes.c_int(0)
        profile = np.zeros(PROFILE_SAMPLES, dtype=np.uint8)
        self._call(
            "TRAX_GetLight",
            head,
            selector,
            ctypes.byref(data),
            ctypes.byref(extra),
            profile.ctypes.data_as(ctypes.c_void_p),
        )
        figures = (data.values[0], data.values[1], data.values[2], data.values[3])
        return Light(profile, figures, extra.value)

    # ---- control actions -----------------------------------------------------

    def zero(self, head: HeadLike, on: bool = True) -> None:
        """Zero set (``on``) or zero clear of head A, B or BOTH."""
        self._call("TRAX_SetZero", _in_range(head, 0, 2, "head", "TRAX_SetZero"), 1 if on else 0)

    def timing(self, head: HeadLike, on: bool) -> None:
        """Timing input on or off for head A, B or BOTH."""
        self._call("TRAX_SetTiming", _in_range(head, 0, 2, "head", "TRAX_SetTiming"), 1 if on else 0)

    def reset(self, head: HeadLike) -> None:
        """Resets head A, B or BOTH."""
        self._call("TRAX_SetReset", _in_range(head, 0, 2, "head", "TRAX_SetReset"))

    def able_start(self, head: HeadLike) -> None:
        """Starts the Able adjustment of one head; the controller stays in
        setting mode until able_stop() or able_cancel()."""
        self._call("TRAX_AbleStart", _in_range(head, 0, 1, "head", "TRAX_AbleStart"))

    def able_stop(self) -> None:
        """Ends the Able adjustment and returns to measurement mode."""
        self._call("TRAX_AbleStop")

    def able_cancel(self) -> None:
        """Cancels the Able adjustment and returns to measurement mode."""
        self._call("TRAX_AbleCancel")

    # ---- settings ------------------------------------------------------------

    @property
    def setting_table(self) -> Dict[str, Setting]:
        """Every setting by name, with its values and ranges."""
        return dict(self._settings)

    def _setting(self, name: str) -> Setting:
        try:
            return self._settings[name]
        except KeyError:
            raise ArgumentError(f"unknown setting {name!r}; trax.settings() lists them") from None

    def _leading(self, setting: Setting, head: Optional[HeadLike], function: str) -> Tuple[int, ...]:
        """The head (when the setting has one) and the fixed argument."""
        leading: Tuple[int, ...] = ()
        if setting.per_head:
            if head is None:
                raise ArgumentError(f"{setting.name} needs a head (trax.A or trax.B)", function=function)
            leading = (_in_range(head, 0, 1, "head", function),)
        elif head is not None:
            raise ArgumentError(f"{setting.name} belongs to the controller and takes no head", function=function)
        if setting.fixed is not None:
            leading += (setting.fixed,)
        return leading

    def set(self, name: str, *args: int) -> None:
        """Writes a setting: ``set("offset", trax.A, 250)``,
        ``set("able-min-max", trax.B, 10, 90)``, ``set("sampling-cycle", 2)``.

        Head settings take the head first, then the values in the order and
        with the names of traxctl (``traxctl set --help``)."""
        setting = self._setting(name)
        head: Optional[HeadLike] = None
        values: Sequence[int] = args
        if setting.per_head and args:
            head, values = args[0], args[1:]
        leading = self._leading(setting, head, setting.setter)
        if len(values) != len(setting.fields):
            names = " ".join(f.name for f in setting.fields)
            raise ArgumentError(
                f"{name} takes {len(setting.fields)} value(s) ({names}), got {len(values)}", function=setting.setter
            )
        checked = [
            _in_range(value, field.low, field.high, field.name if len(values) > 1 else name, setting.setter)
            for field, value in zip(setting.fields, values)
        ]
        if setting.ordered and checked[0] > checked[1]:
            first, second = setting.fields[0].name, setting.fields[1].name
            raise RangeError(
                f"{setting.setter}: {first} {checked[0]} is above {second} {checked[1]}", function=setting.setter
            )
        self._call(setting.setter, *leading, *checked)

    @overload
    def get(self, name: str, head: HeadLike) -> SettingValue:
        ...

    @overload
    def get(self, name: str, head: None = ...) -> Union[SettingValue, Dict[Head, SettingValue]]:
        ...

    def get(self, name: str, head: Optional[HeadLike] = None) -> Union[SettingValue, Dict[Head, SettingValue]]:
        """Reads a setting: an int for a one-value setting, else a tuple in
        the order ``set`` takes them. A head setting read without a head gives
        both heads, ``{trax.A: ..., trax.B: ...}``, as ``traxctl get`` does."""
        setting = self._setting(name)
        if setting.getter is None:
            raise ArgumentError(f"{name} can be written but not read", function=setting.setter)
        if setting.per_head and head is None:
            return {Head.A: self.get(name, 0), Head.B: self.get(name, 1)}
        leading = self._leading(setting, head, setting.getter)
        outputs = [ctypes.c_int(0) for _ in setting.fields]
        self._call(setting.getter, *leading, *(ctypes.byref(o) for o in outputs))
        if len(outputs) == 1:
            return outputs[0].value
        return tuple(o.value for o in outputs)

    def settings(self, head: HeadLike) -> Dict[str, SettingValue]:
        """Every readable setting: the head settings of ``head`` and the
        controller's own."""
        return {
            s.name: self.get(s.name, head) if s.per_head else self._get_one(s.name)
            for s in self._settings.values()
            if s.readable
        }

    def _get_one(self, name: str) -> SettingValue:
        value = self.get(name)
        assert not isinstance(value, dict)
        return value

    # ---- settings files -------------------------------------------------------

    def save_settings(self, path: Union[str, "os.PathLike[str]"]) -> _settings_file.SettingsDocument:
        """Writes every readable setting of both heads and the controller to a
        settings file (the format of ``traxctl settings save``), whole or not
        at all. A failed read raises TraxError and leaves any old file."""
        doc = self._read_document(_settings_file.file_keys())
        doc.library = _library_version(self.library.path)
        _settings_file.save_settings_file(path, doc)
        return doc

    def _read_document(self, keys: Sequence[_settings_file.Key]) -> _settings_file.SettingsDocument:
        doc = _settings_file.SettingsDocument(written=_settings_file.utc_now())
        program = ctypes.c_int(0)
        self._call("TRAX_GetProgramNo", ctypes.byref(program))
        doc.program = program.value
        for key in keys:
            doc.values[key] = self._read_key(key)
        return doc

    def _read_key(self, key: _settings_file.Key) -> _settings_file.Values:
        """One setting of a settings file, read from the controller as the file holds it."""
        name, head = key
        value = self.get(name, "AB".index(head)) if head is not None else self._get_one(name)
        assert not isinstance(value, dict)
        return value if isinstance(value, tuple) else (value,)

    def load_settings(
        self, path: Union[str, "os.PathLike[str]", _settings_file.SettingsDocument], dry_run: bool = False
    ) -> _settings_file.LoadReport:
        """Writes the settings of a settings file (all checked first: a bad
        file raises SettingsFileError naming the key, with nothing sent),
        between one switch to setting mode and one back to measurement mode,
        then reads each back; ``report.differences`` lists any that differ.
        A failed write stops the load and raises SettingsLoadError, whose
        ``report`` says which settings were written and which not; the
        controller is returned to measurement mode all the same.

        ``dry_run=True`` only reads: ``report.differences`` is what would
        change (left: the controller, right: the file; so named in each)."""
        doc = path if isinstance(path, _settings_file.SettingsDocument) else _settings_file.read_settings_file(path)
        report = _settings_file.LoadReport()
        if dry_run:
            now = self._read_document(list(doc.values))
            report.differences = _settings_file.diff_settings(now, doc, ("controller", "file"))
            report.back_in_measurement = True
            return report
        keys = list(doc.values)
        try:
            self.set_mode(Mode.SETTING)
        except TraxError as error:
            report.error = error
            report.not_written = keys
        else:
            for index, key in enumerate(keys):
                name, head = key
                leading = () if head is None else ("AB".index(head),)
                try:
                    self.set(name, *leading, *doc.values[key])
                except TraxError as error:
                    report.error, report.failed, report.not_written = error, key, keys[index + 1 :]
                    break
                report.written.append(key)
        now = _settings_file.SettingsDocument()
        for key in report.written:
            try:
                now.values[key] = self._read_key(key)
            except TraxError as error:
                report.read_failures[key] = error
        expected = _settings_file.SettingsDocument(values={k: doc.values[k] for k in now.values})
        report.differences = _settings_file.diff_settings(expected, now)
        try:
            self.set_mode(Mode.MEASURE)
            report.back_in_measurement = True
        except TraxError as error:
            if report.error is None:
                report.error = error
        if report.error is not None:
            written = ", ".join(_key_text(k) for k in report.written) or "(none)"
            failed = _key_text(report.failed) if report.failed else "(none: setting mode was not reached)"
            not_written = ", ".join(_key_text(k) for k in report.not_written) or "(none)"
            raise _settings_file.SettingsLoadError(
                f"load stopped: {report.error}; written: {written}; failed: {failed}; not written: {not_written}",
                report,
            )
        return report

    # ---- live values ----------------------------------------------------------

    def watch(
        self,
        interval: float = 0.2,
        count: Optional[int] = None,
        *,
        clock: Callable[[], float] = time.monotonic,
        sleep: Callable[[float], None] = time.sleep,
    ) -> Iterator[Tuple[float, Value, Value]]:
        """Yields ``(time, a, b)`` every ``interval`` seconds, ``time`` in
        seconds since the first reading; ``count`` readings, or without end."""
        start = clock()
        n = 0
        while count is None or n < count:
            at = clock()
            a, b = self.values()
            yield at - start, a, b
            n += 1
            if count is None or n < count:
                sleep(max(0.0, interval - (clock() - at)))


def _key_text(key: _settings_file.Key) -> str:
    name, head = key
    return name if head is None else f"{name} {head}"


def _library_version(path: Union[str, "os.PathLike[str]", None]) -> str:
    """"2.2.0" from the file libtrax.so.2 resolves to (libtrax.so.2.2.0); ""
    when the name does not say."""
    if path is None:
        return ""
    name = os.path.basename(os.path.realpath(path))
    return name.split(".so.", 1)[1] if ".so." in name else ""


def _iso_now() -> str:
    now = time.time()
    return time.strftime("%Y-%m-%dT%H:%M:%S", time.gmtime(now)) + f".{int(now * 1000) % 1000:03d}Z"
