"""Image buffers the library fills directly (NumPy arrays lent with their HX_READ_STREAM), the
queue a stream run takes them from, and the frames handed to the host."""
from __future__ import annotations

import ctypes
import queue
from typing import Any, Callable, Optional

import numpy as np
import numpy.typing as npt

from . import _state as state
from . import frames as _frames
from ._layout import CONSTANTS as C
from ._native import BY_C_NAME
from .errors import FrameReleased, HalvexError, StreamTimeout, check

PAGE = 4096
TIFF_ROOM = 64 * 1024

Geometry = tuple[int, int, int]  # width, height, depth
LendCall = Callable[..., int]

_STATUS_NAMES = ((C["HX_STREAM_STATUS_LEADER"], "leader"), (C["HX_STREAM_STATUS_COMPLETE"], "complete"),
                 (C["HX_STREAM_STATUS_LAST"], "last"), (C["HX_STREAM_STATUS_ERROR"], "error"))
_RELEASED = C["HX_STREAM_STATUS_LAST"] | C["HX_STREAM_STATUS_ERROR"]


class _Buffer:
    """A NumPy array the library fills directly, and the HX_READ_STREAM that lends it.
    `generation` counts the lendings, so a frame can tell that its buffer went back."""

    def __init__(self, size: int) -> None:
        self.array: npt.NDArray[np.uint8] = np.empty(size, dtype=np.uint8)
        self.record = BY_C_NAME["HX_READ_STREAM"]()
        self.record.buffer = self.array.ctypes.data
        self.record.buffer_size = size
        self.address = ctypes.addressof(self.record)
        self.session: Optional[_Session] = None
        self.lent = False
        self.generation = 0

    def lend(self, call: LendCall, client: int, camera: int) -> None:
        r = self.record
        r.status = r.received_length = r.image_length = r.frame_id = 0
        with state.lock:
            if state.finished:
                raise HalvexError("halvex: the library was shut down")
            state.lent[self.address] = self
            self.lent = True
            self.generation += 1
        status = call(client, camera, ctypes.byref(r))
        if status != C["HX_STATUS_OK"]:
            with state.lock:
                state.lent.pop(self.address, None)
                self.lent = False
            check(status, "lending an image buffer")

    def returned(self, event: int) -> None:
        """Called on the library's callback thread when the library gives the buffer back. The
        buffer goes to the run it was lent for: a run starting meanwhile either sees it still lent
        (and adopts it) or sees it back (and lends it anew), never both."""
        with state.lock:
            self.lent = False
            session = self.session
        if session is not None:
            session.put(event, self)


class _Session:
    """The buffers of one run come back here. `adopted` holds the buffers that were still lent
    from an earlier run when this one began (by identity, with their lending count): given back
    unfilled, they are that run's spares, not a sign that this run ended."""

    def __init__(self) -> None:
        self._queue: queue.Queue[tuple[int, _Buffer]] = queue.Queue()
        self.adopted: dict[int, int] = {}

    def spare_of_earlier_run(self, buffer: _Buffer) -> bool:
        return self.adopted.pop(id(buffer), None) == buffer.generation

    def put(self, event: int, buffer: _Buffer) -> None:
        self._queue.put((event, buffer))

    def next(self, timeout: float, what: str) -> _Buffer:
        try:
            return self._queue.get(timeout=timeout)[1]
        except queue.Empty:
            raise StreamTimeout(f"halvex: no {what} image within {timeout} s") from None


def status_text(status: int) -> str:
    """HX_STREAM_STATUS_* bits in words: "leader, complete", "last, error (given back unfilled)"."""
    names = [name for bit, name in _STATUS_NAMES if status & bit]
    text = ", ".join(names) or "none"
    if status & _RELEASED == _RELEASED:
        text += " (given back unfilled)"
    return text


class Frame:
    """An image of a live, playback or download run.

    By default a frame owns its bytes: `data` is a copy made as the image arrived, so frames can
    be kept (in a list, across the run) and stay right. A frame of a run started with
    zero_copy=True is instead a view of the library's buffer, valid until the run is asked for
    its next frame; touching `data` or `pixels` after that raises FrameReleased (arrays taken
    from it before stay views of memory the library writes again).

    `pixels` is the (height x width) image: a view of `data` for 8-bit images and TIFF downloads,
    a new uint16 array for 10- and 12-bit layouts."""

    kind: str
    frame_id: int
    status: int
    received_length: int
    image_length: int
    width: int
    height: int
    depth: int

    def __init__(self, buffer: _Buffer, kind: str, geometry: Geometry, zero_copy: bool = False) -> None:
        r = buffer.record
        self.kind = kind
        self.frame_id, self.status = int(r.frame_id), int(r.status)
        self.received_length, self.image_length = int(r.received_length), int(r.image_length)
        self.width, self.height, self.depth = geometry
        view = buffer.array[:self.received_length]
        self._buffer: Optional[_Buffer] = buffer if zero_copy else None
        self._generation = buffer.generation
        self._data: npt.NDArray[np.uint8] = view if zero_copy else view.copy()
        self._pixels: Optional[npt.NDArray[Any]] = None

    def _valid(self) -> None:
        buffer = self._buffer
        if buffer is not None and (buffer.lent or buffer.generation != self._generation):
            raise FrameReleased(f"halvex: {self.kind} frame {self.frame_id} was received with zero_copy=True and "
                                "its buffer went back to the library when the next frame was asked for; "
                                "keep frames with zero_copy=False (the default) or frame.copy()")

    @property
    def zero_copy(self) -> bool:
        """Whether this frame is a view of a buffer the library fills again."""
        return self._buffer is not None

    @property
    def data(self) -> npt.NDArray[np.uint8]:
        """The received bytes."""
        self._valid()
        return self._data

    @property
    def complete(self) -> bool:
        """The whole image arrived without a fault."""
        ok = C["HX_STREAM_STATUS_COMPLETE"]
        return (self.status & ok) != 0 and not (self.status & C["HX_STREAM_STATUS_ERROR"]) and \
            self.received_length == self.image_length != 0

    @property
    def last(self) -> bool:
        """The frame ends its stream (the last frame of a download)."""
        return bool(self.status & C["HX_STREAM_STATUS_LAST"])

    @property
    def status_text(self) -> str:
        """The status bits in words, such as "leader, complete, last"."""
        return status_text(self.status)

    @property
    def pixels(self) -> npt.NDArray[Any]:
        """The image, (height x width), uint8 or uint16."""
        self._valid()
        if self._pixels is None:
            if _frames.is_tiff(self._data):
                self._pixels = _frames.read_tiff(self._data)
            else:
                self._pixels = _frames.unpack(self._data, self.width, self.height, self.depth)
        return self._pixels

    def copy(self) -> Frame:
        """A frame that owns its bytes (the same frame when it already does)."""
        self._valid()
        if self._buffer is None:
            return self
        other = object.__new__(Frame)
        other.__dict__.update(self.__dict__)
        other._buffer = None
        other._data = self._data.copy()
        other._pixels = None
        return other

    def to_dict(self) -> dict[str, Any]:
        """What the frame says about itself (not its pixels)."""
        return {"kind": self.kind, "frame_id": self.frame_id, "status": self.status, "status_text": self.status_text,
                "complete": self.complete, "last": self.last, "received_length": self.received_length,
                "image_length": self.image_length, "width": self.width, "height": self.height, "depth": self.depth,
                "zero_copy": self.zero_copy}

    def __repr__(self) -> str:
        return (f"Frame({self.kind} {self.frame_id}, {self.width}x{self.height} {self.depth}-bit, "
                f"{self.received_length} of {self.image_length} bytes, {self.status_text})")
