"""Progress of a long camera operation, reported to a callable and, when asked for and tqdm is
installed, shown as a tqdm bar."""
from __future__ import annotations

import importlib
from typing import Any, Callable, Optional

ProgressCallback = Callable[[int, int], None]


class Progress:
    """Reports `done` out of `total` whenever it grows."""

    def __init__(self, total: int, callback: Optional[ProgressCallback], bar: bool, description: str) -> None:
        self.total, self.done, self.callback = total, 0, callback
        self._bar: Any = None
        if bar:
            try:
                tqdm = importlib.import_module("tqdm")
            except ImportError:
                tqdm = None  # a bar was asked for where tqdm is not installed: the callback still runs
            if tqdm is not None:
                self._bar = tqdm.tqdm(total=total, unit="frame", desc=description)

    def update(self, done: int) -> None:
        done = max(0, min(done, self.total))
        if done <= self.done:
            return
        if self._bar is not None:
            self._bar.update(done - self.done)
        self.done = done
        if self.callback is not None:
            self.callback(done, self.total)

    def close(self) -> None:
        if self._bar is not None:
            self._bar.close()
            self._bar = None
