"""Exceptions raised by the package."""

from __future__ import annotations

from typing import Optional

__all__ = ["TraxError", "LibraryNotFoundError", "ArgumentError", "RangeError"]


class TraxError(Exception):
    """A library call failed (returned 0), or the library could not be used.

    ``function`` names the library function (``"TRAX_GetCalcData"``) when one
    is concerned. ``reason`` is the library's own reason for the failure, the
    text its trace log gives (``"refused by the controller (error 5, command
    20)"``), or None when it is not known. ``error_number`` is the
    controller's error number (0..255) when it refused the command with one;
    otherwise None. The message shows the function and the reason.
    """

    def __init__(
        self,
        message: str,
        function: Optional[str] = None,
        error_number: Optional[int] = None,
        reason: Optional[str] = None,
    ) -> None:
        super().__init__(message)
        self.function = function
        self.error_number = error_number
        self.reason = reason


class LibraryNotFoundError(TraxError):
    """No library could be loaded; the message lists every place tried."""


class ArgumentError(TraxError, ValueError):
    """An argument was rejected before anything was sent to the controller."""


class RangeError(ArgumentError):
    """An argument was outside its range; the message gives the range.
    Nothing was sent to the controller."""


# Tracebacks name them as users import them: trax.RangeError.
for _error in (TraxError, LibraryNotFoundError, ArgumentError, RangeError):
    _error.__module__ = "trax"
