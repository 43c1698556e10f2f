"""The setting table: one file for traxctl and the package, and both agree
with the library's own range checks."""

from __future__ import annotations

import ctypes
import re
import subprocess
from pathlib import Path

import pytest

import trax
from trax._library import all_prototypes
from trax._settings import load_settings

from conftest import SOURCE_ROOT


def test_traxctl_lists_the_same_settings_names_values_and_ranges(traxctl_path: Path) -> None:
    help_text = subprocess.run([str(traxctl_path), "set", "--help"], capture_output=True, text=True, check=True).stdout
    # "  offset A|B offset=-999999..999999      offset"
    listed = {}
    for line in help_text.split("settings (values in order, with their ranges):\n", 1)[1].splitlines():
        match = re.match(r"^  (\S+)( A\|B)?((?: \S+=-?\d+\.\.-?\d+)+)\s+(.*)$", line)
        if match:
            listed[match.group(1)] = (bool(match.group(2)), match.group(3).split(), match.group(4))
    expected = {s.name: (s.per_head, [str(f) for f in s.fields], s.about) for s in trax.settings().values()}
    assert listed == expected


def test_installed_table_is_the_source_tree_table() -> None:
    assert trax.settings() == load_settings(SOURCE_ROOT / "client" / "settings.tsv")


def _boundary_cases():
    """(setting, field index, value, accepted): every field at both ends of
    its range and one step beyond, the other fields at their low end."""
    for setting in trax.settings().values():
        for index, field in enumerate(setting.fields):
            for value, accepted in (
                (field.low, True),
                (field.high, True),
                (field.low - 1, False),
                (field.high + 1, False),
            ):
                if setting.ordered and index == 0 and value > setting.fields[1].low:
                    continue  # would also break the order; covered from the other field
                yield pytest.param(setting, index, value, accepted, id=f"{setting.name}-{field.name}={value}")


@pytest.mark.parametrize("setting,index,value,accepted", list(_boundary_cases()))
def test_library_accepts_exactly_the_table_ranges(
    ctl: trax.Controller, setting: trax.Setting, index: int, value: int, accepted: bool
) -> None:
    values = [f.low for f in setting.fields]
    values[index] = value
    leading = ([0] if setting.per_head else []) + ([setting.fixed] if setting.fixed is not None else [])
    # The raw function, past the package's own checks: the library decides.
    result = getattr(ctl.library.cdll, setting.setter)(*leading, *values)
    assert result == (1 if accepted else 0)
    if accepted and setting.readable:
        assert ctl.get(setting.name, 0 if setting.per_head else None) == (
            values[0] if len(values) == 1 else tuple(values)
        )
    if not accepted:
        with pytest.raises(trax.RangeError, match=rf"{field_range(setting, index)}"):
            ctl.set(setting.name, *leading[: 1 if setting.per_head else 0], *values)


def field_range(setting: trax.Setting, index: int) -> str:
    field = setting.fields[index]
    return re.escape(f"out of range {field.low}..{field.high}")


def test_every_header_function_is_declared_with_its_argument_count() -> None:
    header = (SOURCE_ROOT / "include" / "trax.h").read_text()
    declared = {
        name: 0 if args.strip() == "void" else args.count(",") + 1
        for name, args in re.findall(r"TRAX_API int TRAX_CALL (TRAX_\w+)\(([^)]*)\);", header)
    }
    assert len(declared) == 69
    prototypes = all_prototypes(trax.settings())
    assert {name: len(argtypes) for name, argtypes in prototypes.items()} == declared


@pytest.mark.parametrize(
    "row,complaint",
    [
        ("x\thead\tTRAX_SetX\tTRAX_GetX\t-\tv=0..1\tno", "8 tab-separated columns"),
        ("x\tboth\tTRAX_SetX\tTRAX_GetX\t-\tv=0..1\tno\tabout", "scope must be"),
        ("x\thead\tSetX\tTRAX_GetX\t-\tv=0..1\tno\tabout", "library functions"),
        ("x\thead\tTRAX_SetX\tTRAX_GetX\t-\tv=2..1\tno\tabout", "NAME=LOW..HIGH"),
        ("x\thead\tTRAX_SetX\tTRAX_GetX\t-\tv=0..1\tyes\tabout", "2 or more when ordered"),
        ("x\thead\tTRAX_SetX\tTRAX_GetX\t-\ta=0..1 b=0..1 c=0..1 d=0..1 e=0..1\tno\tabout", "1 to 4 fields"),
        ("offset\thead\tTRAX_SetX\tTRAX_GetX\t-\tv=0..1\tno\tabout", "appears twice"),
    ],
)
def test_malformed_table_rows_are_refused_with_their_line(tmp_path: Path, row: str, complaint: str) -> None:
    header = "name\tscope\tsetter\tgetter\tfixed\tfields\tordered\tabout"
    good = "offset\thead\tTRAX_SetOffset\tTRAX_GetOffset\t-\toffset=-999999..999999\tno\toffset"
    table = tmp_path / "settings.tsv"
    table.write_text(f"# comment\n{header}\n{good}\n{row}\n")
    with pytest.raises(ValueError, match=rf"settings.tsv:4: .*{re.escape(complaint)}"):
        load_settings(table)
