"""Settings files and storage CSV shared with traxctl: a file written by
traxctl loads in Python and the reverse, each refusal of a bad file, a load
that fails half way, and the CSV text of both alike. Every controller here
lives in a process of its own, its settings kept in a TRAX_SIM_STATE file."""

from __future__ import annotations

import json
import os
import subprocess
from pathlib import Path
from typing import Dict, List

import pytest

import trax

from conftest import child_environment, child_result, start_child


def traxctl(path: Path, args: List[str], env: Dict[str, str]) -> subprocess.CompletedProcess:
    return subprocess.run([str(path), *args], env=child_environment(env), capture_output=True, text=True, timeout=60)


def python(code: str, env: Dict[str, str]) -> Dict[str, object]:
    return child_result(start_child("import json, trax\nctl = trax.Controller()\n" + code, env))


def test_traxctl_to_python_to_traxctl(traxctl_path: Path, tmp_path: Path) -> None:
    one = {"TRAX_SIM_STATE": str(tmp_path / "one.state")}
    two = {"TRAX_SIM_STATE": str(tmp_path / "two.state")}
    first, second = tmp_path / "first.json", tmp_path / "second.json"
    script = f"set offset A -1500\nset able-min-max B 20 80\nset storage 2 500 3\nsettings save {first}\n"
    made = subprocess.run(
        [str(traxctl_path), "batch"], input=script, env=child_environment(one), capture_output=True, text=True
    )
    assert made.returncode == 0, made.stderr

    # The same text when Python reads and writes it again.
    text = first.read_text()
    assert trax._settings_file.settings_json(trax._settings_file.parse_settings(text)) == text

    # Python loads traxctl's file into a second controller and saves it again.
    out = python(
        f"r = ctl.load_settings({str(first)!r})\n"
        f"ctl.save_settings({str(second)!r})\n"
        "print(json.dumps({'ok': r.ok, 'written': len(r.written), 'offset': ctl.get('offset', trax.A)}))",
        two,
    )
    assert out == {"ok": True, "written": 45, "offset": -1500}
    assert trax.diff_settings(first, second) == []
    assert traxctl(traxctl_path, ["settings", "diff", str(first), str(second)], {}).stdout == "no differences\n"
    # The second controller, read by traxctl, holds the file.
    assert traxctl(traxctl_path, ["settings", "diff", str(first)], two).stdout == "no differences\n"
    saved = json.loads(second.read_text())
    assert saved["format"] == "trax-settings" and saved["heads"]["B"]["able-min-max"] == {"min": 20, "max": 80}


def test_diff_and_dry_run_name_what_differs(tmp_path: Path) -> None:
    state = {"TRAX_SIM_STATE": str(tmp_path / "c.state")}
    path = tmp_path / "s.json"
    out = python(
        f"ctl.save_settings({str(path)!r})\n"
        "ctl.set('offset', trax.B, 300); ctl.set('sampling-cycle', 4)\n"
        f"dry = ctl.load_settings({str(path)!r}, dry_run=True)\n"
        "print(json.dumps([[d.key, d.left, d.right] for d in dry.differences]))",
        state,
    )
    assert out == [[["offset", "B"], [300], [0]], [["sampling-cycle", None], [4], [2]]]


HEAD = '{"format":"trax-settings","version":1,'
REFUSALS = [
    ("", "not JSON"),
    ("[1]", "a JSON object is expected"),
    ('{"version":1}', "format: missing"),
    ('{"format":"other","version":1}', 'format: "other" is not "trax-settings"'),
    ('{"format":"trax-settings","version":2}', "version: 2 is not a version this program reads (1)"),
    ('{"format":"trax-settings","version":true}', "version: true is not a version"),
    (HEAD + '"heads":{"A":{"offsett":1}}}', "heads.A.offsett: no such setting"),
    (HEAD + '"heads":{"C":{}}}', "heads.C: no such head (A or B)"),
    (HEAD + '"heads":{"A":{"offset":1000000}}}', "heads.A.offset: 1000000 is out of range -999999..999999"),
    (HEAD + '"heads":{"A":{"offset":1.5}}}', "heads.A.offset: a whole number is expected, not 1.5"),
    (HEAD + '"heads":{"A":{"offset":true}}}', "heads.A.offset: a whole number is expected, not true"),
    (HEAD + '"heads":{"B":{"able-min-max":{"min":50,"max":10}}}}', "heads.B.able-min-max: min 50 is above max 10"),
    (HEAD + '"heads":{"B":{"able-min-max":{"min":50}}}}', "heads.B.able-min-max.max: missing"),
    (HEAD + '"heads":{"A":{"sampling-cycle":1}}}', "heads.A.sampling-cycle: belongs to the controller"),
    (HEAD + '"system":{"offset":1}}', "system.offset: belongs to a head"),
    (HEAD + '"system":{"panel-lock":1}}', "system.panel-lock: can be written but not read back"),
    (HEAD + '"program":8}', "program: 8 is out of range 0..7"),
    (HEAD + '"profile":{}}', "profile: not part of a settings file"),
]


@pytest.mark.parametrize("text,message", REFUSALS)
def test_a_bad_file_is_refused_naming_the_key_as_traxctl_does(
    ctl: trax.Controller, traxctl_path: Path, tmp_path: Path, text: str, message: str
) -> None:
    path = tmp_path / "bad.json"
    path.write_text(text)
    sent: List[str] = []
    real = ctl.library.call
    ctl.library.call = lambda name, *args: (sent.append(name), real(name, *args))[1]  # type: ignore[assignment]
    try:
        with pytest.raises(trax.SettingsFileError) as refused:
            ctl.load_settings(path)
    finally:
        del ctl.library.call
    assert str(refused.value).startswith(f"{path}: {message}")
    assert sent == []
    # traxctl says the same words.
    assert traxctl(traxctl_path, ["settings", "load", str(path)], {}).stderr.startswith(
        f"traxctl settings: {path}: {message}"
    )


def test_a_load_that_fails_half_way_reports_and_returns_to_measurement(tmp_path: Path) -> None:
    path = tmp_path / "all.json"
    python(f"ctl.save_settings({str(path)!r}); print('{{}}')", {})
    out = python(
        "try:\n"
        f"    ctl.load_settings({str(path)!r})\n"
        "    print(json.dumps('loaded'))\n"
        "except trax.SettingsLoadError as e:\n"
        "    r = e.report\n"
        "    print(json.dumps({'written': len(r.written), 'failed': r.failed, 'rest': len(r.not_written),\n"
        "                      'back': r.back_in_measurement, 'function': e.function,\n"
        "                      'values': ctl.values()[0].status.name}))",
        {"TRAX_SIM_FAIL_AFTER": "100"},
    )
    assert out == {
        "written": 16,
        "failed": ["scaling-1", "A"],
        "rest": 28,
        "back": True,
        "function": "TRAX_SetScaling",
        "values": "VALID",
    }


def test_storage_csv_is_the_text_traxctl_writes(traxctl_path: Path, tmp_path: Path) -> None:
    state = {"TRAX_SIM_STATE": str(tmp_path / "c.state"), "TRAX_SIM_UNITS": "inch"}
    run = subprocess.run(
        [str(traxctl_path), "batch"],
        input="set display-unit A 1\nstorage setup --count 500\nstorage start\nstorage stop\n",
        env=child_environment(state),
        capture_output=True,
        text=True,
    )
    assert run.returncode == 0, run.stderr
    mine, theirs = tmp_path / "py.csv", tmp_path / "traxctl.csv"
    # The unit named wrongly on purpose: values still keep every digit.
    made = traxctl(traxctl_path, ["storage", "read", "A", "--csv", str(theirs), "--unit", "mm"], state)
    assert made.returncode == 0, made.stderr
    python(f"ctl.storage_to_csv({str(mine)!r}, trax.A, unit='mm'); print('{{}}')", state)
    assert mine.read_text() == theirs.read_text()
    rows = mine.read_text().splitlines()[7:]
    assert len(rows) == 500 and rows[0].startswith("0,valid,0.01235,mm")


def test_a_file_written_whole_keeps_what_it_replaces(tmp_path: Path) -> None:
    """Permissions of the file replaced, 0666 less the umask for a new one, a
    link stays a link and its target gets the text; a failed write leaves no
    temporary file."""
    from trax._csv import write_file_atomically

    before = os.umask(0o022)
    try:
        private = tmp_path / "private.json"
        private.write_text("old")
        private.chmod(0o600)
        write_file_atomically(private, "new\n")
        assert (private.read_text(), private.stat().st_mode & 0o777) == ("new\n", 0o600)
        fresh = tmp_path / "fresh.json"
        write_file_atomically(fresh, "x\n")
        assert fresh.stat().st_mode & 0o777 == 0o644
        (tmp_path / "real").mkdir()
        (tmp_path / "real" / "s.json").write_text("old")
        (tmp_path / "link.json").symlink_to("real/s.json")
        write_file_atomically(tmp_path / "link.json", "through\n")
        assert (tmp_path / "link.json").is_symlink()
        assert (tmp_path / "real" / "s.json").read_text() == "through\n"
    finally:
        os.umask(before)
    names = sorted(p.name for p in tmp_path.iterdir())
    assert names == ["fresh.json", "link.json", "private.json", "real"]
