"""The setting table: names, argument order and ranges of every setting.

The rows are read from ``settings.tsv``, the same file that traxctl's table is
generated from, so that both name the settings alike and check the same ranges.
"""

from __future__ import annotations

import re
from dataclasses import dataclass
from pathlib import Path
from typing import Dict, List, Optional, Tuple

__all__ = ["Field", "Setting", "load_settings", "table_path"]

_COLUMNS = ("name", "scope", "setter", "getter", "fixed", "fields", "ordered", "about")
_FIELD = re.compile(r"^([a-z0-9-]+)=(-?[0-9]+)\.\.(-?[0-9]+)$")
_FUNCTION = re.compile(r"^TRAX_[A-Za-z]+$")


@dataclass(frozen=True)
class Field:
    """One value of a setting with its inclusive range."""

    name: str
    low: int
    high: int

    def __str__(self) -> str:
        return f"{self.name}={self.low}..{self.high}"


@dataclass(frozen=True)
class Setting:
    """One row of the setting table.

    ``scope`` is ``"head"`` when the library call takes a head (0..1) first,
    ``"controller"`` for controller-wide settings. ``fixed`` is an argument
    passed between the head and the values (the scaling set), ``getter`` is
    None for a write-only setting, and ``ordered`` means the first value must
    not exceed the second.
    """

    name: str
    scope: str
    setter: str
    getter: Optional[str]
    fixed: Optional[int]
    fields: Tuple[Field, ...]
    ordered: bool
    about: str

    @property
    def per_head(self) -> bool:
        """True when the setting belongs to one head."""
        return self.scope == "head"

    @property
    def readable(self) -> bool:
        """False for a write-only setting."""
        return self.getter is not None


def table_path() -> Path:
    """Where the table is read from: the copy shipped in the package, else the
    source tree's ``client/settings.tsv`` (a checkout used without installing)."""
    shipped = Path(__file__).with_name("settings.tsv")
    if shipped.is_file():
        return shipped
    return Path(__file__).resolve().parent.parent.parent / "client" / "settings.tsv"


def _fail(path: Path, line_number: int, why: str) -> ValueError:
    return ValueError(f"{path}:{line_number}: {why}")


def _parse_row(path: Path, line_number: int, cells: List[str]) -> Setting:
    if len(cells) != len(_COLUMNS):
        raise _fail(path, line_number, f"{len(_COLUMNS)} tab-separated columns expected, found {len(cells)}")
    name, scope, setter, getter, fixed, fields_text, ordered, about = cells
    if scope not in ("head", "controller"):
        raise _fail(path, line_number, f"scope must be head or controller, not {scope!r}")
    if not _FUNCTION.match(setter) or not (getter == "-" or _FUNCTION.match(getter)):
        raise _fail(path, line_number, "setter and getter must be library functions")
    if not (fixed == "-" or fixed.isdigit()):
        raise _fail(path, line_number, "fixed argument must be a number or -")
    if ordered not in ("yes", "no"):
        raise _fail(path, line_number, "ordered must be yes or no")
    fields = []
    for text in fields_text.split(" "):
        match = _FIELD.match(text)
        if not match or int(match.group(2)) > int(match.group(3)):
            raise _fail(path, line_number, f"field {text!r} is not NAME=LOW..HIGH")
        fields.append(Field(match.group(1), int(match.group(2)), int(match.group(3))))
    if not 1 <= len(fields) <= 4 or (ordered == "yes" and len(fields) < 2):
        raise _fail(path, line_number, "1 to 4 fields expected, 2 or more when ordered")
    return Setting(
        name=name,
        scope=scope,
        setter=setter,
        getter=None if getter == "-" else getter,
        fixed=None if fixed == "-" else int(fixed),
        fields=tuple(fields),
        ordered=ordered == "yes",
        about=about,
    )


def load_settings(path: Optional[Path] = None) -> Dict[str, Setting]:
    """Reads the table; rows keep the file's order. Raises ValueError naming
    the line of a malformed row."""
    path = table_path() if path is None else path
    settings: Dict[str, Setting] = {}
    header_seen = False
    with open(path, encoding="utf-8") as table:
        for line_number, line in enumerate(table, start=1):
            line = line.rstrip("\r\n")
            if not line or line.startswith("#"):
                continue
            cells = line.split("\t")
            if not header_seen:
                if tuple(cells) != _COLUMNS:
                    raise _fail(path, line_number, "unexpected column names")
                header_seen = True
                continue
            setting = _parse_row(path, line_number, cells)
            if setting.name in settings:
                raise _fail(path, line_number, f"setting {setting.name!r} appears twice")
            settings[setting.name] = setting
    return settings
