"""The two-head laser displacement-sensor controller from Python.

A thin layer over the C library (``libtrax.so.2`` on Linux, ``Trax.dll`` on
Windows): every function of ``trax.h`` as a method of Controller, measured
values as ``Value(status, value)``, stored values and light profiles as NumPy
arrays, and a failing call as a TraxError naming the C function::

    import trax
    ctl = trax.Controller()
    a, b = ctl.values()                 # trax.Value(status=trax.Status.VALID, value=1.235)
    ctl.set("offset", trax.A, 250)      # setting names and value order of traxctl
    ctl.get("offset", trax.A)           # -> 250
    ctl.storage_setup(count=200)
    ctl.storage_start(); ctl.storage_stop()
    data = ctl.storage_read(trax.A)     # float32 array of the stored values

The library is found through the TRAX_LIBRARY environment variable, else the
system's loader.
"""

from __future__ import annotations

from typing import Dict

from . import _table
from ._controller import MAX_STORED, STORED_RECORD, Controller, SettingValue
from ._errors import ArgumentError, LibraryNotFoundError, RangeError, TraxError
from ._library import Library, load_library
from ._settings import Field, Setting
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
    "MAX_STORED",
    "Mode",
    "RangeError",
    "STORED_RECORD",
    "Setting",
    "SettingValue",
    "Status",
    "StorageSettings",
    "StorageStatus",
    "TraxError",
    "Value",
    "load_library",
    "settings",
]


def settings() -> Dict[str, Setting]:
    """Every setting by name, with its scope, values and ranges (the table
    traxctl uses)."""
    return dict(_table.settings())
