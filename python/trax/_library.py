"""Loading the C library and declaring its functions for ctypes."""

from __future__ import annotations

import atexit
import ctypes
import ctypes.util
import json
import os
import sys
import tempfile
import threading
from typing import BinaryIO, Callable, Dict, List, Optional, Tuple, Union

from ._errors import LibraryNotFoundError, TraxError
from ._settings import Setting

__all__ = ["FloatValue", "FigureData", "LightData", "Library", "load_library", "PROTOTYPES"]

IS_WINDOWS = sys.platform == "win32"
PathLike = Union[str, "os.PathLike[str]"]


class FloatValue(ctypes.Structure):
    """One converted value: a TRAX_VALUE_* status and the value (8 bytes)."""

    _fields_ = [("status", ctypes.c_int32), ("value", ctypes.c_float)]


class FigureData(ctypes.Structure):
    """Figure data of one head (72 bytes)."""

    _fields_ = [("values", FloatValue * 7), ("integers", ctypes.c_int32 * 4)]


class LightData(ctypes.Structure):
    """The four light figures of a light-intensity profile (16 bytes)."""

    _fields_ = [("values", ctypes.c_int32 * 4)]


_INT = ctypes.c_int
_INT_P = ctypes.POINTER(ctypes.c_int)
_VOID_P = ctypes.c_void_p

# Argument types of the functions outside the setting table. Arrays that the
# package fills from NumPy (stored values, the profile) are passed as void*.
_FIXED_PROTOTYPES: Dict[str, Tuple[object, ...]] = {
    "TRAX_SetMode": (_INT,),
    "TRAX_GetCalcData": (ctypes.POINTER(FloatValue), ctypes.POINTER(FloatValue)),
    "TRAX_GetFigureData": (_INT, ctypes.POINTER(FigureData)),
    "TRAX_ClearFigureData": (),
    "TRAX_DataStorageInit": (),
    "TRAX_DataStorageStart": (),
    "TRAX_DataStorageStop": (),
    "TRAX_DataStorageGetStatus": (_INT, _INT_P, _INT_P),
    "TRAX_DataStorageGetData": (_INT, _INT, _VOID_P, _INT_P),
    "TRAX_GetLight": (_INT, _INT, ctypes.POINTER(LightData), _INT_P, _VOID_P),
    "TRAX_SetZero": (_INT, _INT),
    "TRAX_SetTiming": (_INT, _INT),
    "TRAX_SetReset": (_INT,),
    "TRAX_AbleStart": (_INT,),
    "TRAX_AbleStop": (),
    "TRAX_AbleCancel": (),
}


def setting_prototypes(settings: Dict[str, Setting]) -> Dict[str, Tuple[object, ...]]:
    """Argument types of the setters and getters, from the setting table: the
    head when the setting has one, its fixed argument, then one int (setter)
    or one int* (getter) per value."""
    prototypes: Dict[str, Tuple[object, ...]] = {}
    for setting in settings.values():
        leading: List[object] = [_INT] if setting.per_head else []
        if setting.fixed is not None:
            leading.append(_INT)
        count = len(setting.fields)
        prototypes[setting.setter] = tuple(leading + [_INT] * count)
        if setting.getter is not None:
            prototypes[setting.getter] = tuple(leading + [_INT_P] * count)
    return prototypes


def all_prototypes(settings: Dict[str, Setting]) -> Dict[str, Tuple[object, ...]]:
    """Every function of the C interface with its argument types."""
    prototypes = dict(_FIXED_PROTOTYPES)
    prototypes.update(setting_prototypes(settings))
    return prototypes


class _Msg(ctypes.Structure):
    _fields_ = [
        ("hwnd", ctypes.c_void_p),
        ("message", ctypes.c_uint),
        ("wParam", ctypes.c_size_t),
        ("lParam", ctypes.c_ssize_t),
        ("time", ctypes.c_ulong),
        ("pt_x", ctypes.c_long),
        ("pt_y", ctypes.c_long),
    ]


def _take_error_number_windows() -> Optional[int]:
    """Removes the error replies the library posted to this thread (thread
    message 0, wParam the error number) and returns the last one's number.
    Other thread messages found on the way are posted again, in order."""
    user32 = ctypes.WinDLL("user32")  # type: ignore[attr-defined]
    kernel32 = ctypes.WinDLL("kernel32")  # type: ignore[attr-defined]
    pm_remove = 1
    thread_messages_only = ctypes.c_void_p(-1)  # hWnd -1: messages posted to the thread
    message = _Msg()
    number: Optional[int] = None
    others: List[Tuple[int, int, int]] = []
    while user32.PeekMessageW(ctypes.byref(message), thread_messages_only, 0, 0, pm_remove):
        if message.message == 0 and message.lParam == 0:
            number = int(message.wParam) & 0xFF
        else:
            others.append((message.message, message.wParam, message.lParam))
    thread = kernel32.GetCurrentThreadId()
    for code, w, l in others:
        user32.PostThreadMessageW(thread, code, ctypes.c_size_t(w), ctypes.c_ssize_t(l))
    return number


class Library:
    """The loaded C library with every function declared.

    ``path`` is what was loaded; ``cdll`` gives the raw ctypes functions for
    anyone who needs the 0/1 results themselves.
    """

    def __init__(self, cdll: ctypes.CDLL, path: str, settings: Dict[str, Setting]) -> None:
        self.cdll = cdll
        self.path = path
        self._functions: Dict[str, Callable[..., int]] = {}
        missing = []
        for name, argtypes in all_prototypes(settings).items():
            try:
                function = getattr(cdll, name)
            except AttributeError:
                missing.append(name)
                continue
            function.argtypes = argtypes
            function.restype = ctypes.c_int
            self._functions[name] = function
        if missing:
            raise TraxError(f"{path} lacks {', '.join(sorted(missing))}; is it an older library?")
        # Replaced in tests; takes the error numbers queued for this thread and
        # returns the last one (run before each call and after a failed one).
        self.take_error_number: Callable[[], Optional[int]] = (
            _take_error_number_windows if IS_WINDOWS else (lambda: None)
        )

    def call(self, name: str, *args: object) -> None:
        """Calls a library function and raises TraxError naming it, with the
        library's reason, when it returns anything but 1."""
        # The library also posts error numbers during calls that succeed (a
        # light-profile attempt that is retried, a refused cancel inside the
        # mode query): what an earlier call left must not be blamed on this one.
        self.take_error_number()
        result = self._functions[name](*args)
        if result != 1:
            posted = self.take_error_number()
            reason, number = _TAP.failure_of(name)
            if number is None:
                number = posted
            message = f"{name} failed: {reason}" if reason else f"{name} failed"
            raise TraxError(message, function=name, error_number=number, reason=reason)


class _ReasonTap:
    """The library's reason tap: a file named by TRAX_LOG_TAP, set before the
    library loads, into which the library writes one JSON object per failed
    call. The user's own TRAX_LOG and TRAX_LOG_FILE are left as they are."""

    def __init__(self) -> None:
        self._lock = threading.Lock()
        self._path: Optional[str] = None
        self._file: Optional[BinaryIO] = None
        self._owned = False
        self._offset = 0

    def prepare(self) -> None:
        with self._lock:
            if self._path is not None:
                return
            given = os.environ.get("TRAX_LOG_TAP")
            if given:
                # A parent's tap: read it from its end on.
                self._path = given
                try:
                    self._file = open(given, "rb")
                    self._offset = os.path.getsize(given)
                except OSError:
                    self._offset = 0
                return
            try:
                handle, path = tempfile.mkstemp(prefix="trax-tap-", suffix=".jsonl")
            except OSError:
                return
            os.close(handle)
            self._path = path
            self._owned = True
            self._file = open(path, "rb")
            os.environ["TRAX_LOG_TAP"] = path
            atexit.register(_remove_quietly, path)

    def opened(self) -> None:
        """After the library has loaded and opened the tap: its name goes at
        once where the system allows it, so nothing is left behind however
        the process ends (Windows keeps open files' names; it goes at exit)."""
        with self._lock:
            if self._owned and self._path is not None and not IS_WINDOWS:
                _remove_quietly(self._path)
                self._owned = False

    def failure_of(self, function: str) -> Tuple[Optional[str], Optional[int]]:
        """The reason and the controller's error number of the last failure of
        `function` written since the last look."""
        with self._lock:
            if self._file is None:
                return None, None
            try:
                self._file.seek(self._offset)
                data = self._file.read()
            except OSError:
                return None, None
            complete = data.rfind(b"\n") + 1
            self._offset += complete
            found: Optional[Dict[str, object]] = None
            for line in data[:complete].splitlines():
                try:
                    record = json.loads(line)
                except ValueError:
                    continue
                if isinstance(record, dict) and record.get("call") == function:
                    found = record
        if found is None:
            return None, None
        number: Optional[int] = None
        reasons = found.get("reasons")
        for item in reasons if isinstance(reasons, list) else []:
            if isinstance(item, dict) and isinstance(item.get("error"), int):
                number = item["error"]
                break
        reason = found.get("reason")
        return (reason if isinstance(reason, str) else None), number


def _remove_quietly(path: str) -> None:
    try:
        os.remove(path)
    except OSError:
        pass


_TAP = _ReasonTap()


def _candidates() -> List[Tuple[str, Optional[str]]]:
    """(description, what to load) in lookup order; None marks a place that
    could not be looked at, with the description saying why."""
    configured = os.environ.get("TRAX_LIBRARY")
    if configured:
        # An explicit choice is not overridden by a library found elsewhere.
        return [(f"TRAX_LIBRARY={configured}", configured)]
    if IS_WINDOWS:
        found = ctypes.util.find_library("Trax")
        return [
            ("Trax.dll (system loader)", "Trax.dll"),
            (f"{found} (found on PATH)" if found else "Trax.dll on PATH: not found", found),
        ]
    return [("libtrax.so.2 (system loader)", "libtrax.so.2")]


_lock = threading.Lock()
_loaded: Dict[str, Library] = {}


_recording: Optional[str] = None


def start_recording(path: PathLike) -> None:
    """Asks the library to record every exchange with the controller to
    ``path`` (TRAX_RECORD), which it reads when it loads: only possible before
    the library is loaded in this process, or again with the same file."""
    global _recording
    target = os.fspath(path)
    with _lock:
        if _recording == target:
            return
        if _loaded:
            raise TraxError(
                "recording to "
                + repr(target)
                + " must be asked for before the library loads, and the library is loaded in this "
                + "process already; give record= to the first Controller, or set TRAX_RECORD before starting Python"
            )
        os.environ["TRAX_RECORD"] = target
        _recording = target


def load_library(path: Optional[PathLike] = None) -> Library:
    """Loads the library once per process and returns it.

    Without ``path``: the ``TRAX_LIBRARY`` environment variable, else the
    system's loader (``libtrax.so.2`` on Linux, ``Trax.dll`` on Windows, then
    ``Trax.dll`` on the PATH). Raises LibraryNotFoundError naming every place
    tried.
    """
    from . import _table  # the table is read once, at first use

    candidates: List[Tuple[str, Optional[str]]] = (
        [(os.fspath(path), os.fspath(path))] if path is not None else _candidates()
    )
    tried: List[str] = []
    # Before any library loads: the library reads TRAX_LOG_TAP when it does.
    _TAP.prepare()
    with _lock:
        for description, target in candidates:
            if target is None:
                tried.append(description)
                continue
            if target in _loaded:
                return _loaded[target]
            try:
                loader = ctypes.WinDLL if IS_WINDOWS else ctypes.CDLL  # type: ignore[attr-defined]
                cdll = loader(target)
            except OSError as error:
                tried.append(f"{description}: {error}")
                continue
            _TAP.opened()
            library = Library(cdll, target, _table.settings())
            _loaded[target] = library
            return library
    raise LibraryNotFoundError(
        "the trax library could not be loaded; tried:\n  "
        + "\n  ".join(tried)
        + "\nSet TRAX_LIBRARY to the library's path (libtrax.so.2 or Trax.dll)."
    )
