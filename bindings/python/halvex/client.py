"""Clients of libhalvex and the events the library calls back with.

Threads: the library calls back on its single callback thread, one call at a time. A client's
`on_event` callable runs there, so it must return quickly and must not call `shutdown()` or wait
for the library's other work. Image buffers the library hands back are queued there and taken by
the thread iterating a stream.
"""
from __future__ import annotations

import atexit
import ctypes
import threading
import time
from typing import Any, Callable, Optional

from . import _state as state
from ._layout import CONSTANTS
from ._native import BY_C_NAME, CALLBACK, last_error, library
from ._native import log as _log
from .camera import Camera, address_of
from .errors import HalvexError, check, refusal

C = CONSTANTS

EVENT_NAMES = {C[name]: name[len("HX_"):].lower() for name in (
    "HX_DISCOVERY", "HX_END", "HX_CAPTURE_CHANGE", "HX_STATE", "HX_DOWNLOAD_CHANGE", "HX_IO_CHANGE",
    "HX_LENS_CHANGE", "HX_PLAYBACK_CHANGE", "HX_STREAM_CHANGE", "HX_DOWNLOAD_DATA", "HX_LIVE_DATA",
    "HX_PLAYBACK_DATA", "HX_PROGRESS_UPDATE", "HX_STREAM_NEGOTIATION")}
# The record each event carries, copied out of the library's memory before the callable sees it.
_EVENT_RECORDS = {
    C["HX_DISCOVERY"]: "HX_CAMERA_INFORMATION", C["HX_CAPTURE_CHANGE"]: "HX_CAPTURE_SETTINGS",
    C["HX_STATE"]: "HX_COMMAND", C["HX_DOWNLOAD_CHANGE"]: "HX_DOWNLOAD_SETTINGS",
    C["HX_IO_CHANGE"]: "HX_IO_SETTINGS", C["HX_LENS_CHANGE"]: "HX_LENS_STATUS",
    C["HX_PLAYBACK_CHANGE"]: "HX_PLAYBACK_SETTINGS", C["HX_STREAM_CHANGE"]: "HX_STREAM_SETTINGS",
    C["HX_PROGRESS_UPDATE"]: "HX_PROGRESS",
}
_STREAM_EVENTS = {C["HX_DOWNLOAD_DATA"], C["HX_LIVE_DATA"], C["HX_PLAYBACK_DATA"]}



def _on_event(event: int, client: int, camera: int, data: Optional[int], cookie: Optional[int]) -> None:
    try:
        with state.lock:
            target = state.clients.get(cookie or 0)
            buffer = state.lent.pop(data, None) if event in _STREAM_EVENTS and data else None
        if buffer is not None:
            buffer.returned(event)
        elif target is not None and event not in _STREAM_EVENTS:
            target._deliver(event, camera, data)
    except BaseException:  # an exception must not unwind into the library's thread
        _log.exception("halvex: event %s", EVENT_NAMES.get(event, event))


_CALLBACK = CALLBACK(_on_event)


def shutdown() -> None:
    """Stops every library thread (HX_shutdown). Buffers still lent come back, and the library
    cannot be used again in this process. Never call it from an event callable."""
    with state.lock:
        if state.finished or not state.used:
            state.finished = True
            return
        state.finished = True
    check(library().HX_shutdown(), "HX_shutdown")
    with state.lock:
        state.lent.clear()
        state.pools.clear()
        state.clients.clear()


# The library's threads call into Python; they must end before the interpreter does.
atexit.register(shutdown)


def trace(enable: bool = True) -> int:
    """Every trace category into the library's log (HX_trace); returns the mask."""
    return int(library().HX_trace(1 if enable else 0))


class Event:
    """One event: `kind` (HX_* code), `name` ("capture_change"), `camera` (address or None),
    `data` (a copy of the record, the negotiated packet size, or None)."""

    def __init__(self, kind: int, camera: Optional[str], data: Any) -> None:
        self.kind, self.name, self.camera, self.data = kind, EVENT_NAMES.get(kind, str(kind)), camera, data

    def __repr__(self) -> str:
        return f"Event({self.name}, camera={self.camera}, data={self.data!r})"


class Client:
    """A registered library client; a context manager that unregisters on exit.

    on_event: a callable taking an Event, run on the library's callback thread (see the module's
    documentation); events of subscribed cameras and discovery reach it."""

    def __init__(self, on_event: Optional[Callable[[Event], None]] = None, trace: bool = False) -> None:
        lib = library()
        with state.lock:
            if state.finished:
                raise HalvexError("halvex: the library was shut down in this process")
            state.used = True
        if trace:
            lib.HX_trace(1)
        handle = ctypes.c_size_t(0)
        self.on_event = on_event
        self.handle = 0
        self._found: dict[str, Any] = {}
        self._changed = threading.Condition()
        # The cookie names this object to the callback, which may run before HX_register returns.
        with state.lock:
            self._cookie = next(state.cookies)
            state.clients[self._cookie] = self
        if lib.HX_register(ctypes.byref(handle), _CALLBACK, ctypes.c_void_p(self._cookie)) != C["HX_STATUS_OK"]:
            with state.lock:
                state.clients.pop(self._cookie, None)
            check(C["HX_STATUS_ERROR"], "HX_register")
        self.handle = handle.value

    def __enter__(self) -> Client:
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def close(self) -> None:
        """Unregisters. Buffers this client lent stay lent until shutdown()."""
        with state.lock:
            registered = state.clients.pop(self._cookie, None) is not None and not state.finished
        if registered:
            library().HX_unregister(self.handle)

    def camera(self, name: str, wait: float = 5.0) -> Camera:
        """The camera with this dotted address or user-defined name, asked again until it answers
        or `wait` seconds have passed. Raises CameraNotSupported at once when a camera of another
        make (or too old a firmware) answers at the address, HalvexError when none answered."""
        lib = library()
        handle = ctypes.c_size_t(0)
        deadline = time.monotonic() + wait
        while lib.HX_get_handle_by_name(self.handle, ctypes.byref(handle), name.encode()) != C["HX_STATUS_OK"]:
            reason = last_error()
            refused = refusal(reason)
            if refused is not None:  # asking again does not change who answers there
                raise refused
            if time.monotonic() >= deadline:
                raise HalvexError(f"halvex: no camera answers as '{name}'" + (f": {reason}" if reason else ""), reason)
            with self._changed:  # a discovery report ends the wait early
                self._changed.wait(0.1)
        return Camera(self, handle.value)

    def discover(self, wait: float = 5.0) -> dict[str, Any]:
        """The cameras discovery reported within `wait` seconds: {address: CameraInformation}."""
        deadline = time.monotonic() + wait
        with self._changed:
            while time.monotonic() < deadline:
                self._changed.wait(deadline - time.monotonic())
            return dict(self._found)

    def _deliver(self, kind: int, camera: int, data: Optional[int]) -> None:
        record = _EVENT_RECORDS.get(kind)
        value: Any
        if record is not None and data:
            value = BY_C_NAME[record].from_buffer_copy(
                (ctypes.c_char * ctypes.sizeof(BY_C_NAME[record])).from_address(data))
        elif kind == C["HX_STREAM_NEGOTIATION"] and data:
            value = ctypes.c_int32.from_address(data).value
        else:
            value = None
        if kind == C["HX_DISCOVERY"] and value is not None:
            with self._changed:
                self._found[address_of(camera)] = value
                self._changed.notify_all()
        if self.on_event is not None:
            self.on_event(Event(kind, address_of(camera) if camera else None, value))
