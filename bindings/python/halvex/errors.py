"""The exceptions and warnings the package raises."""
from __future__ import annotations

import re
from typing import Callable, Optional, TypeVar

from ._layout import CONSTANTS
from ._native import last_error


class HalvexError(Exception):
    """A call the library or a camera refused. `reason` is the library's own account of the
    failure (its first error line during the call), or "" when it gave none."""

    def __init__(self, message: str, reason: str = "") -> None:
        super().__init__(message)
        self.reason = reason


class SettingRefused(HalvexError):
    """The camera refused a value. Carries the field, the value asked for and the camera's limits
    (None where the field has none): minimum, maximum, step, and choices (a bit set)."""

    def __init__(self, camera: str, field: str, value: object, minimum: Optional[int] = None,
                 maximum: Optional[int] = None, step: Optional[int] = None, choices: Optional[int] = None,
                 others: tuple[str, ...] | list[str] = (), reason: str = "") -> None:
        self.camera, self.field, self.value = camera, field, value
        self.minimum, self.maximum, self.step, self.choices = minimum, maximum, step, choices
        self.others = tuple(others)
        limits = []
        if minimum is not None or maximum is not None:
            limits.append(f"{minimum if minimum is not None else ''}..{maximum if maximum is not None else ''}")
        if step:
            limits.append(f"step {step}")
        if choices is not None:
            limits.append(f"choices {choices:#x}")
        text = f"camera {camera} refused {field}={value}"
        if limits:
            text += " (" + ", ".join(limits) + ")"
        if self.others:
            text += "; also refused: " + ", ".join(self.others)
        if reason:
            text += f": {reason}"
        super().__init__(text, reason)


class CameraNotSupported(HalvexError):
    """A camera answered at `address`, but it is not one the library serves: `maker` and `model` are
    what it reported, `why` the library's reason ("made by another maker", or a firmware too old)."""

    def __init__(self, address: str, maker: str, model: str, why: str, reason: str = "") -> None:
        self.address, self.maker, self.model, self.why = address, maker, model, why
        text = f"halvex: a camera answered at {address}: maker {maker!r}, model {model!r}; not supported"
        super().__init__(text + (f" ({why})" if why else ""), reason)


# The library's account of a lookup that found a camera it does not serve.
_REFUSAL = re.compile(r'a camera answered at (\S+): maker "(.*)", model "(.*)"; not supported(?: \((.*)\))?')


def refusal(reason: str) -> Optional[CameraNotSupported]:
    """CameraNotSupported when the library's reason says a camera answered and was refused."""
    found = _REFUSAL.search(reason)
    if found is None:
        return None
    address, maker, model, why = found.groups()
    return CameraNotSupported(address, maker, model, why or "", reason)


class StreamTimeout(HalvexError, TimeoutError):
    """No image came back within the time allowed."""


class StateTimeout(HalvexError, TimeoutError):
    """The camera did not reach the state waited for within the time allowed."""


class StreamBusy(HalvexError):
    """A run of the same kind (live, playback or download) is already going on for this client
    and camera; finish or close it first."""


class FrameReleased(HalvexError):
    """A frame received with zero_copy=True was touched after its buffer went back to the library
    (the library may already have written another image into it)."""


class RecordLengthChanged(UserWarning):
    """The camera records another number of frames than asked for (it rounds to its memory)."""


def check(status: int, what: str) -> None:
    """Raises HalvexError with the library's reason unless `status` is HX_STATUS_OK. Call it right
    after the failing call, on the same thread: the reason is kept per thread and per call."""
    if status != CONSTANTS["HX_STATUS_OK"]:
        reason = last_error()
        raise HalvexError(f"halvex: {what} failed" + (f": {reason}" if reason else " (the library gave no reason)"),
                          reason)


READ_ATTEMPTS = 2

T = TypeVar("T")


def read_again_on_failure(read: Callable[[], T]) -> T:
    """Calls `read` (something that only reads the camera) once more when it fails: a second try
    is safe, and on a lossy link every repeat the library sent of a request can be lost. Only once:
    a camera that stays silent costs each try the library's whole age-out."""
    for attempt in range(READ_ATTEMPTS):
        try:
            return read()
        except HalvexError:
            if attempt + 1 == READ_ATTEMPTS:
                raise
    raise AssertionError("unreachable")
