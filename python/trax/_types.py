"""Values, heads and records as the package hands them out."""

from __future__ import annotations

import enum
import math
from typing import TYPE_CHECKING, NamedTuple, Tuple

import numpy as np

if TYPE_CHECKING:
    import numpy.typing as npt

__all__ = ["Head", "A", "B", "BOTH", "Status", "Mode", "Value", "Figure", "Light", "StorageStatus", "StorageSettings"]


class Head(enum.IntEnum):
    """A head of the controller; BOTH where a control action allows it."""

    A = 0
    B = 1
    BOTH = 2

    def __repr__(self) -> str:
        return f"trax.{self.name}"


A = Head.A
B = Head.B
BOTH = Head.BOTH


class Status(enum.IntEnum):
    """Status of a measured value."""

    VALID = 0  #: the value is the measured value in the head's display unit
    OVER_POSITIVE = 1  #: at or above the display range; the value is +inf
    OVER_NEGATIVE = 2  #: at or below the display range; the value is -inf
    INVALID = 3  #: no valid value; the value is NaN

    def __repr__(self) -> str:
        return f"trax.Status.{self.name}"

    def __str__(self) -> str:
        """The one spelling of traxctl's text, JSON and CSV: valid, over+, over-, invalid."""
        return ("valid", "over+", "over-", "invalid")[self.value]


class Mode(enum.IntEnum):
    """Operating mode of the controller."""

    MEASURE = 0
    SETTING = 1


def shortest_float(single: float) -> float:
    """The decimal a single-precision value stands for, as a Python float.

    The library rounds values to the display resolution in single precision;
    1.235 arrives as 1.2350000143... and is handed out as 1.235."""
    if not math.isfinite(single):
        return single
    return float(repr(np.float32(single)))


def status_of(code: int) -> "Status | int":
    """The Status of a code, or the code itself when it is not one."""
    try:
        return Status(code)
    except ValueError:
        return code


class Value(NamedTuple):
    """One measured value: its status and the value in the head's display
    unit (+inf, -inf or NaN when the status says so)."""

    status: Status
    value: float

    def __repr__(self) -> str:
        return f"trax.Value(status={self.status!r}, value={self.value!r})"


class Figure(NamedTuple):
    """Figure data of one head: seven values and four integers."""

    values: Tuple[Value, ...]
    integers: Tuple[int, ...]


class Light(NamedTuple):
    """A light-intensity profile: 1024 samples (uint8), the four light
    figures (0..65535 each) and the further figure."""

    profile: npt.NDArray[np.uint8]
    figures: Tuple[int, int, int, int]
    extra: int


class StorageStatus(NamedTuple):
    """Whether the controller is storing, and how many values a head holds."""

    storing: bool
    count: int  # type: ignore[assignment]  # the field hides tuple.count


class StorageSettings(NamedTuple):
    """The storage settings: target 0..3, count 1..65536, cycle 0..9."""

    target: int
    count: int  # type: ignore[assignment]  # the field hides tuple.count
    cycle: int
