"""The process's setting table, read once."""

from __future__ import annotations

import threading
from typing import Dict, Optional

from ._settings import Setting, load_settings

_lock = threading.Lock()
_settings: Optional[Dict[str, Setting]] = None


def settings() -> Dict[str, Setting]:
    """Every setting by name, in the table's order."""
    global _settings
    with _lock:
        if _settings is None:
            _settings = load_settings()
        return _settings
