"""The two-head laser displacement-sensor controller from Python.

A thin layer over the C library (``libtrax.so.2`` on Linux, ``Trax.dll`` on
Windows): every function of ``trax.h`` as a method of Controller, measured
values as ``Value(status, value)``, stored values and light profiles as NumPy
arrays, and a failing call as a TraxError naming the C function::

    import trax
    ctl = trax.Controller()
    a, b = ctl.values()                 # trax.Value(status=trax.Status.VALID, value=1.235)
    ctl.set("offset", trax.A, 250)      # setting names and value order of traxctl
    ctl.get("offset", trax.A)           # -> 250; without the head: {trax.A: 250, trax.B: 0}
    ctl.storage_setup(count=200)
    ctl.storage_start(); ctl.storage_wait(200); ctl.storage_stop()
    data = ctl.storage_read(trax.A)     # float32 array of the stored values
    ctl.storage_to_csv("a.csv", trax.A, unit="mm")   # the CSV traxctl writes
    ctl.save_settings("line3.json")     # every setting; ctl.load_settings("line3.json") puts them back

The library is found through the TRAX_LIBRARY environment variable, else the
system's loader.
"""

from __future__ import annotations

from typing import Dict

from . import _table
from ._controller import MAX_STORED, STORED_RECORD, Controller, SettingValue
from ._csv import status_text, value_text, write_csv
from ._errors import ArgumentError, LibraryNotFoundError, RangeError, TraxError
from ._library import Library, load_library
from ._settings import Field, Setting
from ._settings_file import (
    LoadReport,
    SettingsDifference,
    SettingsDocument,
    SettingsFileError,
    SettingsLoadError,
    diff_settings,
    read_settings_file,
)
from ._types import A, B, BOTH, Figure, Head, Light, Mode, Status, StorageSettings, StorageStatus, Value

__version__ = "2.2.0"

__all__ = [
    "A",
    "B",
    "BOTH",
    "ArgumentError",
    "Controller",
    "Field",
    "Figure",
    "Head",
    "Library",
    "LibraryNotFoundError",
    "Light",
    "LoadReport",
    "MAX_STORED",
    "Mode",
    "RangeError",
    "STORED_RECORD",
    "Setting",
    "SettingValue",
    "SettingsDifference",
    "SettingsDocument",
    "SettingsFileError",
    "SettingsLoadError",
    "Status",
    "StorageSettings",
    "StorageStatus",
    "TraxError",
    "Value",
    "diff_settings",
    "load_library",
    "read_settings_file",
    "settings",
    "status_text",
    "value_text",
    "write_csv",
]


def settings() -> Dict[str, Setting]:
    """Every setting by name, with its scope, values and ranges (the table
    traxctl uses)."""
    return dict(_table.settings())
