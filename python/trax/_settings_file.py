"""Settings files: a controller's whole setup as JSON, the same files that
``traxctl settings save|load|diff`` write and read.

::

    {"format": "trax-settings", "version": 1, "written": "...Z", "library": "2.2.0", "program": 0,
     "heads": {"A": {"offset": 0, "able-min-max": {"min": 10, "max": 90}, ...}, "B": {...}},
     "system": {"sampling-cycle": 0, "storage": {"target": 0, "count": 1000, "cycle": 0}, ...}}

A setting with one value is a number, one with several an object named by
its values. Write-only settings and the program number are not settings of a
file; a file may hold any subset of the others.
"""

from __future__ import annotations

import json
import os
import time
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Dict, List, Mapping, Optional, Tuple, Union

from . import _table
from ._csv import write_file_atomically
from ._errors import TraxError
from ._settings import Setting

__all__ = [
    "FORMAT",
    "VERSION",
    "SettingsDocument",
    "SettingsDifference",
    "SettingsFileError",
    "SettingsLoadError",
    "LoadReport",
    "Key",
    "parse_settings",
    "settings_json",
    "read_settings_file",
    "diff_settings",
]

FORMAT = "trax-settings"
VERSION = 1

#: A setting of a file: its name and head ("A", "B", or None for the controller).
Key = Tuple[str, Optional[str]]
Values = Tuple[int, ...]
PathLike = Union[str, "os.PathLike[str]"]


class SettingsFileError(TraxError, ValueError):
    """A settings file that cannot be trusted; the message names the key.
    Nothing was written to the controller."""


@dataclass
class SettingsDocument:
    """A settings file's content: values by (name, head), in table order."""

    values: Dict[Key, Values] = field(default_factory=dict)
    written: str = ""
    library: str = ""
    program: Optional[int] = None


@dataclass(frozen=True)
class SettingsDifference:
    """A setting whose values differ, or that only one side holds (None).
    ``sides`` names the two: ("file1", "file2") between files, ("controller",
    "file") for a dry run's differences."""

    key: Key
    left: Optional[Values]
    right: Optional[Values]
    sides: Tuple[str, str] = ("file1", "file2")

    def __repr__(self) -> str:
        name, head = self.key
        return (
            f"SettingsDifference({name}{' ' + head if head else ''}: "
            f"{self.sides[0]}={self.left!r}, {self.sides[1]}={self.right!r})"
        )


@dataclass
class LoadReport:
    """What ``Controller.load_settings`` did."""

    written: List[Key] = field(default_factory=list)
    failed: Optional[Key] = None  # the setting whose write failed
    not_written: List[Key] = field(default_factory=list)
    error: Optional[TraxError] = None
    differences: List[SettingsDifference] = field(default_factory=list)
    read_failures: Dict[Key, TraxError] = field(default_factory=dict)
    back_in_measurement: bool = False

    @property
    def ok(self) -> bool:
        return self.error is None and not self.differences and not self.read_failures and self.back_in_measurement


class SettingsLoadError(TraxError):
    """A load that failed part way; ``report`` says what was written."""

    def __init__(self, message: str, report: LoadReport) -> None:
        function = report.error.function if report.error is not None else None
        super().__init__(message, function=function)
        self.report = report


SettingsLoadError.__module__ = "trax"
SettingsFileError.__module__ = "trax"


def _refuse(key: str, why: str) -> SettingsFileError:
    return SettingsFileError(f"{key}: {why}" if key else why)


def _integer(value: Any, key: str) -> int:
    if isinstance(value, bool) or not isinstance(value, int):
        raise _refuse(key, f"a whole number is expected, not {json.dumps(value)}")
    if not -(2**31) <= value < 2**31:
        raise _refuse(key, f"{value} is out of range")
    return value


def _values(setting: Setting, value: Any, key: str) -> Values:
    if len(setting.fields) == 1:
        numbers: Values = (_integer(value, key),)
    else:
        if not isinstance(value, dict):
            names = ", ".join(f'"{f.name}"' for f in setting.fields)
            raise _refuse(key, f"an object with {names} is expected")
        known = {f.name for f in setting.fields}
        for name in value:
            if name not in known:
                raise _refuse(f"{key}.{name}", f"no such value of {setting.name}")
        collected = []
        for f in setting.fields:
            if f.name not in value:
                raise _refuse(f"{key}.{f.name}", "missing")
            collected.append(_integer(value[f.name], f"{key}.{f.name}"))
        numbers = tuple(collected)
    for f, number in zip(setting.fields, numbers):
        if not f.low <= number <= f.high:
            where = "" if len(setting.fields) == 1 else f"{f.name}: "
            raise _refuse(key, f"{where}{number} is out of range {f.low}..{f.high}")
    if setting.ordered and numbers[0] > numbers[1]:
        first, second = setting.fields[0].name, setting.fields[1].name
        raise _refuse(key, f"{first} {numbers[0]} is above {second} {numbers[1]}")
    return numbers


def _section(section: Any, key: str, per_head: bool, head: Optional[str], into: Dict[Key, Values]) -> None:
    if not isinstance(section, dict):
        raise _refuse(key, "an object is expected")
    table = _table.settings()
    for name, value in section.items():
        setting_key = f"{key}.{name}"
        setting = table.get(name)
        if setting is None:
            raise _refuse(setting_key, "no such setting")
        if setting.per_head != per_head:
            raise _refuse(
                setting_key,
                'belongs to the controller, not to a head (put it in "system")'
                if per_head
                else 'belongs to a head (put it in "heads")',
            )
        if not setting.readable:
            raise _refuse(setting_key, "can be written but not read back, so it has no place in a file")
        if name == "program":
            raise _refuse(
                setting_key, 'the program number is where the settings belong, not one of them (see "program")'
            )
        into[(name, head)] = _values(setting, value, setting_key)


def file_keys() -> List[Key]:
    """Every setting a file saved from a controller holds, in table order."""
    keys: List[Key] = []
    for setting in _table.settings().values():
        if not setting.readable or setting.name == "program":
            continue
        keys.extend([(setting.name, "A"), (setting.name, "B")] if setting.per_head else [(setting.name, None)])
    return keys


def _ordered(values: Mapping[Key, Values]) -> Dict[Key, Values]:
    return {key: values[key] for key in file_keys() if key in values}


def parse_settings(text: str) -> SettingsDocument:
    """Parses and checks a whole settings file; SettingsFileError names the key."""
    try:
        root = json.loads(text)
    except ValueError as error:
        raise _refuse("", f"not JSON: {error}") from None
    if not isinstance(root, dict):
        raise _refuse("", "a JSON object is expected")
    if "format" not in root:
        raise _refuse("format", f'missing; a settings file says "format": "{FORMAT}"')
    if root["format"] != FORMAT:
        raise _refuse("format", f'{json.dumps(root["format"])} is not "{FORMAT}"')
    if "version" not in root:
        raise _refuse("version", "missing")
    version = root["version"]
    if isinstance(version, bool) or version != VERSION:
        raise _refuse("version", f"{json.dumps(version)} is not a version this program reads ({VERSION})")
    doc = SettingsDocument()
    values: Dict[Key, Values] = {}
    for key, value in root.items():
        if key in ("format", "version"):
            continue
        if key in ("written", "library"):
            if not isinstance(value, str):
                raise _refuse(key, "a string is expected")
            setattr(doc, key, value)
        elif key == "program":
            doc.program = _values(_table.settings()["program"], value, key)[0]
        elif key == "heads":
            if not isinstance(value, dict):
                raise _refuse(key, 'an object with "A" and "B" is expected')
            for head, section in value.items():
                if head not in ("A", "B"):
                    raise _refuse(f"heads.{head}", "no such head (A or B)")
                _section(section, f"heads.{head}", True, head, values)
        elif key == "system":
            _section(value, key, False, None, values)
        else:
            raise _refuse(key, "not part of a settings file")
    doc.values = _ordered(values)
    return doc


def settings_json(doc: SettingsDocument) -> str:
    """The file's text, as traxctl writes it."""
    table = _table.settings()
    root: Dict[str, Any] = {"format": FORMAT, "version": VERSION}
    if doc.written:
        root["written"] = doc.written
    if doc.library:
        root["library"] = doc.library
    if doc.program is not None:
        root["program"] = doc.program
    heads: Dict[str, Dict[str, Any]] = {}
    system: Dict[str, Any] = {}
    for (name, head), numbers in _ordered(doc.values).items():
        setting = table[name]
        value: Any = numbers[0] if len(numbers) == 1 else {f.name: n for f, n in zip(setting.fields, numbers)}
        if head is None:
            system[name] = value
        else:
            heads.setdefault(head, {})[name] = value
    if heads:
        root["heads"] = heads
    if system:
        root["system"] = system
    return json.dumps(root, indent=2) + "\n"


def read_settings_file(path: PathLike) -> SettingsDocument:
    """Reads and checks a settings file; SettingsFileError names the path and key."""
    try:
        text = Path(path).read_text(encoding="utf-8")
    except OSError as error:
        raise SettingsFileError(f"cannot read '{os.fspath(path)}': {error.strerror}") from None
    try:
        return parse_settings(text)
    except SettingsFileError as error:
        raise SettingsFileError(f"{os.fspath(path)}: {error}") from None


def save_settings_file(path: PathLike, doc: SettingsDocument) -> None:
    """Writes the file whole or not at all."""
    write_file_atomically(path, settings_json(doc))


def utc_now() -> str:
    return time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime())


def _document(source: Union[SettingsDocument, PathLike]) -> SettingsDocument:
    return source if isinstance(source, SettingsDocument) else read_settings_file(source)


def diff_settings(
    a: Union[SettingsDocument, PathLike],
    b: Union[SettingsDocument, PathLike],
    sides: Tuple[str, str] = ("file1", "file2"),
) -> List[SettingsDifference]:
    """The settings whose values differ between two files (or documents), or
    that only one holds, in table order; empty when they agree. ``sides``
    names a and b in each difference."""
    left, right = _document(a), _document(b)
    differences = []
    for key in file_keys():
        l, r = left.values.get(key), right.values.get(key)
        if (l is not None or r is not None) and l != r:
            differences.append(SettingsDifference(key, l, r, sides))
    return differences
