"""Values as text that never loses a digit, and the storage CSV that traxctl
writes (``traxctl storage read A --csv FILE``), written the same way here."""

from __future__ import annotations

import math
import os
import stat
import tempfile
from pathlib import Path
from typing import TYPE_CHECKING, Optional, Union

import numpy as np

if TYPE_CHECKING:
    import numpy.typing as npt

from ._types import Status

__all__ = ["value_text", "status_text", "write_csv", "write_file_atomically"]

def value_text(value: float, min_decimals: Optional[int] = None) -> str:
    """Fixed-point text of a single-precision value with at least
    ``min_decimals`` decimals and as many more as it takes to read back as the
    same float32 (traxctl's value text)."""
    single = np.float32(value)
    if math.isnan(single):
        return "nan"
    if math.isinf(single):
        return "inf" if single > 0 else "-inf"
    text = ""
    for decimals in range(max(min_decimals or 0, 0), 151):
        text = f"{float(single):.{decimals}f}"
        if np.float32(text) == single:
            break
    if text.startswith("-") and float(text) == 0.0:
        text = text[1:]
    return text


def status_text(code: int) -> str:
    """"valid", "over+", "over-", "invalid" (or "status N")."""
    try:
        return str(Status(code))
    except ValueError:
        return f"status {code}"


def _umask() -> int:
    """The process's umask; read where the system tells it without changing
    it (another thread may be making a file meanwhile)."""
    try:
        with open("/proc/self/status", encoding="ascii") as status:
            for line in status:
                if line.startswith("Umask:"):
                    return int(line.split()[1], 8)
    except (OSError, ValueError, IndexError):
        pass
    mask = os.umask(0o022)
    os.umask(mask)
    return mask


def _sync_folder(folder: Path) -> None:
    """The rename lives in the folder: synced, so that a write reported done
    survives a power loss (where the system can open a folder)."""
    if not hasattr(os, "O_DIRECTORY"):
        return
    try:
        fd = os.open(folder, os.O_RDONLY | os.O_DIRECTORY)
    except OSError:
        return
    try:
        os.fsync(fd)
    except OSError:
        pass
    finally:
        os.close(fd)


def write_file_atomically(path: Union[str, "os.PathLike[str]"], text: str) -> None:
    """Writes text whole or not at all: to a temporary file beside the target,
    then renamed over it. A target that is not a regular file (a pipe,
    /dev/stdout) is written directly."""
    # Through a symbolic link to its target: the link stays a link.
    target = Path(os.path.realpath(path))
    if target.exists() and not target.is_file():
        with open(target, "w", encoding="utf-8", newline="\n") as direct:
            direct.write(text)
        return
    handle, temporary = tempfile.mkstemp(prefix=target.name + ".", suffix=".tmp", dir=target.parent)
    try:
        # mkstemp makes 0600: the file replaced keeps its permissions, a new
        # one gets what any new file gets (0666 less the umask).
        if target.exists():
            mode = stat.S_IMODE(os.stat(target).st_mode)
        else:
            mode = 0o666 & ~_umask()
        if hasattr(os, "fchmod"):
            os.fchmod(handle, mode)
        with os.fdopen(handle, "w", encoding="utf-8", newline="\n") as out:
            out.write(text)
            out.flush()
            os.fsync(out.fileno())
        os.replace(temporary, target)
        _sync_folder(target.parent)
    except BaseException:
        try:
            os.unlink(temporary)
        except OSError:
            pass
        raise


def write_csv(
    path: Union[str, "os.PathLike[str]"],
    values: "npt.ArrayLike",
    statuses: "Optional[npt.ArrayLike]" = None,
    *,
    head: Union[int, str],
    unit: Optional[str] = None,
    decimals: Optional[int] = None,
    start: Optional[str] = None,
    stop: Optional[str] = None,
    sampling_cycle: Optional[int] = None,
) -> None:
    """Writes stored values as traxctl does: comment lines naming the head,
    unit, count, the capture's start and stop time and the sampling cycle,
    then ``index,status,value,unit``. Values keep every digit of their
    float32 (at least ``decimals`` decimals when given). Without statuses a
    value's status follows from it (inf: over-range, NaN: invalid)."""
    data = np.asarray(values, dtype=np.float32)
    if statuses is None:
        codes = np.where(
            np.isnan(data),
            Status.INVALID,
            np.where(np.isposinf(data), Status.OVER_POSITIVE, np.where(np.isneginf(data), Status.OVER_NEGATIVE, 0)),
        )
    else:
        codes = np.asarray(statuses, dtype=np.int32)
        if codes.shape != data.shape:
            raise ValueError(f"{codes.shape[0] if codes.ndim else 0} statuses for {data.shape[0]} values")
    head_name = head if isinstance(head, str) else "AB"[int(head)]

    def known(text: Optional[object]) -> str:
        return "not known" if text is None or text == "" else str(text)

    lines = [
        f"# head: {head_name}",
        f"# unit: {known(unit)}",
        f"# count: {len(data)}",
        f"# start: {known(start)}",
        f"# stop: {known(stop)}",
        f"# sampling-cycle: {known(sampling_cycle)}",
        "index,status,value,unit",
    ]
    unit_text = unit or ""
    for index, (value, code) in enumerate(zip(data, codes)):
        text = value_text(float(value), decimals) if code == Status.VALID else ""
        lines.append(f"{index},{status_text(int(code))},{text},{unit_text}")
    write_file_atomically(path, "\n".join(lines) + "\n")
