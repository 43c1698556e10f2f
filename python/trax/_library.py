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


# Lines held for threads that never ask are dropped oldest first beyond this.
_MAX_HELD_LINES = 512


def _thread_id() -> int:
    """The calling thread's id as the library's tap writes it ("thread")."""
    return threading.get_native_id()


class _ReasonReader:
    """The tap's lines as one process reads them (the contract is in the
    library's trace/Trace.h): fed what the file holds, in order, it keeps each
    failure line of this process until the thread that made the call asks for
    it, so that no thread takes another's reason."""

    def __init__(self, process: int) -> None:
        self._process = process
        self._partial = b""
        # (thread, function, reason, error number), oldest first
        self._held: List[Tuple[int, str, Optional[str], Optional[int]]] = []
        self.startup: Optional[Dict[str, object]] = None

    def feed(self, data: bytes) -> None:
        """Adds bytes that followed the last ones fed; a line not yet ended
        waits for its end."""
        data = self._partial + data
        complete = data.rfind(b"\n") + 1
        self._partial = data[complete:]
        for line in data[:complete].splitlines():
            self._add(line)

    def _add(self, line: bytes) -> None:
        try:
            record = json.loads(line)
        except ValueError:
            return
        if not isinstance(record, dict):
            return
        process = record.get("process", self._process)
        if process != self._process:
            return  # another process sharing a user's tap
        if "trax" in record:
            self.startup = record
            return
        function = record.get("call")
        if not isinstance(function, str):
            return
        thread = record.get("thread")
        number: Optional[int] = None
        reasons = record.get("reasons")
        for item in reasons if isinstance(reasons, list) else []:
            if isinstance(item, dict) and isinstance(item.get("error"), int):
                number = item["error"]
                break
        reason = record.get("reason")
        self._held.append(
            (thread if isinstance(thread, int) else 0, function, reason if isinstance(reason, str) else None, number)
        )
        if len(self._held) > _MAX_HELD_LINES:
            del self._held[0]

    def take(self, function: str, thread: int) -> Tuple[Optional[str], Optional[int]]:
        """The reason and error number of the failure of `function` that
        `thread` just saw: the last line of that thread naming it. Every line
        of that thread is used up; other threads' lines stay."""
        found: Tuple[Optional[str], Optional[int]] = (None, None)
        kept = []
        for held in self._held:
            if held[0] != thread:
                kept.append(held)
            elif held[1] == function:
                found = (held[2], held[3])
        self._held = kept
        return found


class _ReasonTap:
    """The library's reason tap: a file named by TRAX_LOG_TAP, set before the
    library loads, into which the library writes one JSON object per failed
    call. The user's own TRAX_LOG and TRAX_LOG_FILE are left as they are.

    The file never outlives the process: on POSIX its name goes as soon as
    the library has opened it; on Windows it is deleted when its last handle
    closes. TRAX_LOG_TAP_PROCESS names this process as its owner, so that a
    child (traxctl run from a script) makes its own tap instead of taking
    this one, and a child's library leaves this one alone."""

    def __init__(self) -> None:
        self._lock = threading.Lock()
        self._path: Optional[str] = None
        self._fd: Optional[int] = None
        self._owned = False
        self._offset = 0
        self._reader = _ReasonReader(os.getpid())

    def prepare(self) -> None:
        with self._lock:
            if self._path is not None:
                return
            given = os.environ.get("TRAX_LOG_TAP")
            owner = os.environ.get("TRAX_LOG_TAP_PROCESS")
            if given and (not owner or owner == str(os.getpid())):
                # The user's own tap: read from its end on.
                self._path = given
                if self._open():
                    self._offset = os.fstat(self._fd).st_size  # type: ignore[arg-type]
                return
            try:
                self._fd, self._path = _create_tap_file()
            except OSError:
                return
            self._owned = True
            os.environ["TRAX_LOG_TAP"] = self._path
            os.environ["TRAX_LOG_TAP_PROCESS"] = str(os.getpid())
            atexit.register(self.opened)

    def _open(self) -> bool:
        if self._fd is None and self._path is not None:
            try:
                self._fd = os.open(self._path, os.O_RDONLY | getattr(os, "O_BINARY", 0) | getattr(os, "O_NOINHERIT", 0))
            except OSError:
                return False
        return self._fd is not None

    def opened(self) -> None:
        """After the library has loaded and opened the tap: its name goes at
        once where the system allows it (Windows deletes it at the last close)."""
        with self._lock:
            if self._owned and self._path is not None and not IS_WINDOWS:
                _remove_quietly(self._path)
            self._owned = False

    def _read_new(self) -> None:
        if not self._open():
            return
        try:
            os.lseek(self._fd, self._offset, os.SEEK_SET)  # type: ignore[arg-type]
            chunks = []
            while True:
                chunk = os.read(self._fd, 65536)  # type: ignore[arg-type]
                if not chunk:
                    break
                chunks.append(chunk)
        except OSError:
            return
        data = b"".join(chunks)
        self._offset += len(data)
        self._reader.feed(data)

    def failure_of(self, function: str) -> Tuple[Optional[str], Optional[int]]:
        """The reason and the controller's error number of this thread's last
        failure of `function`."""
        with self._lock:
            self._read_new()
            return self._reader.take(function, _thread_id())

    def startup(self) -> Optional[Dict[str, object]]:
        """The library's start-up object of this process, when it wrote one."""
        with self._lock:
            self._read_new()
            return self._reader.startup


def _create_tap_file() -> Tuple[int, str]:
    """A fresh file for the tap, created exclusively, open for reading."""
    if not IS_WINDOWS:
        handle, path = tempfile.mkstemp(prefix="trax-tap-", suffix=".jsonl")
        return handle, path
    # Deleted when its last handle closes (O_TEMPORARY), which the C run-time
    # opens with delete sharing, as the library opens it too.
    flags = os.O_RDONLY | os.O_CREAT | os.O_EXCL
    for name in ("O_TEMPORARY", "O_NOINHERIT", "O_BINARY"):
        flags |= int(getattr(os, name, 0))
    folder = tempfile.gettempdir()
    for attempt in range(100):
        path = os.path.join(folder, f"trax-tap-{os.getpid()}-{attempt}.jsonl")
        try:
            return os.open(path, flags), path
        except FileExistsError:
            continue
    raise FileExistsError("no free name for the reason tap")


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
    raise LibraryNotFoundError(_not_loaded_message(tried, [t for _, t in candidates if t is not None]))


_DRIVER_FILE = "QelUsbDrv.dll" if IS_WINDOWS else "libQelUsbDrv.so"
_LIBRARY_FILE = "Trax.dll" if IS_WINDOWS else "libtrax.so.2"


def _library_folders() -> List[str]:
    """Folders that may hold the library, for telling a missing driver from a
    missing library: the library path variables and the system's folders."""
    variable = "PATH" if IS_WINDOWS else "LD_LIBRARY_PATH"
    folders = [f for f in os.environ.get(variable, "").split(os.pathsep) if f]
    if not IS_WINDOWS:
        import sysconfig

        multiarch = sysconfig.get_config_var("MULTIARCH") or ""
        for base in ("/usr/local/lib", "/usr/lib", "/lib"):
            if multiarch:
                folders.append(os.path.join(base, multiarch))
            folders.append(base)
    return folders


def _simulator_beside(library: str) -> Optional[str]:
    """The simulated controller's driver that goes with a library file, when
    it is there: a system package's lib/trax/simulator, or the Windows kit's
    simulator folder beside the x64 and x86 folders."""
    folder = os.path.dirname(os.path.abspath(library))
    if IS_WINDOWS:
        arch = "x64" if ctypes.sizeof(ctypes.c_void_p) == 8 else "x86"
        place = os.path.join(os.path.dirname(folder), "simulator", arch, _DRIVER_FILE)
    else:
        place = os.path.join(folder, "trax", "simulator", _DRIVER_FILE)
    return place if os.path.exists(place) else None


def _not_loaded_message(tried: List[str], targets: List[str]) -> str:
    """Which of the two is missing, the library or its USB driver, with the
    places tried and where the simulated controller is."""
    found = [t for t in targets if os.path.sep in t and os.path.exists(t)]
    found += [
        os.path.join(f, _LIBRARY_FILE) for f in _library_folders() if os.path.exists(os.path.join(f, _LIBRARY_FILE))
    ]
    driver_named = any("QelUsbDrv" in line for line in tried)
    places = "\n  ".join(tried)
    if driver_named or (IS_WINDOWS and found):
        simulator = next((s for s in (_simulator_beside(f) for f in found) if s), None)
        message = (
            f"the trax library was found ({found[0] if found else _LIBRARY_FILE}), but its USB driver "
            f"{_DRIVER_FILE} is missing; tried:\n  {places}\n"
            f"Put {_DRIVER_FILE} "
            + (
                "beside the program, in a folder on PATH or in a system folder."
                if IS_WINDOWS
                else "in the folder of libtrax.so.2, a system library folder or on LD_LIBRARY_PATH."
            )
        )
        if simulator:
            where = os.path.dirname(simulator)
            message += (
                f"\nTo try without hardware, the simulated controller is in {where}"
                + (f" (LD_LIBRARY_PATH={where}, or traxctl-sim)." if not IS_WINDOWS else ".")
            )
        else:
            message += "\nTo try without hardware, use the kit's simulated controller (traxctl-sim on Linux)."
        return message
    return (
        "the trax library could not be loaded; tried:\n  "
        + places
        + "\nSet TRAX_LIBRARY to the library's path (libtrax.so.2 or Trax.dll)."
    )
