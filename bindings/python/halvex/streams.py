"""Image buffers the library fills directly (NumPy arrays lent with their HX_READ_STREAM), the
queue a stream run takes them from, and the frames handed to the host."""
import ctypes
import queue

import numpy as np

from . import _state as state
from . import frames as _frames
from ._layout import CONSTANTS as C
from ._native import BY_C_NAME
from .errors import HalvexError, StreamTimeout

PAGE = 4096
TIFF_ROOM = 64 * 1024


class _Buffer:
    """A NumPy array the library fills directly, and the HX_READ_STREAM that lends it."""

    def __init__(self, size):
        self.array = np.empty(size, dtype=np.uint8)
        self.record = BY_C_NAME["HX_READ_STREAM"]()
        self.record.buffer = self.array.ctypes.data
        self.record.buffer_size = size
        self.address = ctypes.addressof(self.record)
        self.session = None
        self.lent = False

    def lend(self, call, client, camera):
        r = self.record
        r.status = r.received_length = r.image_length = r.frame_id = 0
        with state.lock:
            if state.finished:
                raise HalvexError("halvex: the library was shut down")
            state.lent[self.address] = self
            self.lent = True
        if call(client, camera, ctypes.byref(r)) != C["HX_STATUS_OK"]:
            with state.lock:
                state.lent.pop(self.address, None)
                self.lent = False
            raise HalvexError("halvex: the library refused an image buffer")

    def returned(self, event):
        self.lent = False
        session = self.session
        if session is not None:
            session.put(event, self)


class _Session:
    def __init__(self):
        self._queue = queue.Queue()

    def put(self, event, buffer):
        self._queue.put((event, buffer))

    def next(self, timeout, what):
        try:
            return self._queue.get(timeout=timeout)[1]
        except queue.Empty:
            raise StreamTimeout(f"halvex: no {what} image within {timeout} s") from None


class Frame:
    """An image the library placed in a NumPy array. `data` is the received bytes (a view);
    `pixels` a (height x width) array: a view for 8-bit images and TIFF downloads, unpacked for
    10- and 12-bit layouts. Valid until the stream it came from is asked for its next frame
    (the buffer is then lent again); copy() keeps it."""

    def __init__(self, buffer, kind, geometry):
        r = buffer.record
        self.kind = kind
        self.frame_id, self.status = r.frame_id, r.status
        self.received_length, self.image_length = r.received_length, r.image_length
        self.width, self.height, self.depth = geometry
        self.data = buffer.array[:r.received_length]

    @property
    def complete(self):
        ok = C["HX_STREAM_STATUS_COMPLETE"]
        return (self.status & ok) != 0 and not (self.status & C["HX_STREAM_STATUS_ERROR"]) and \
            self.received_length == self.image_length != 0

    @property
    def last(self):
        return bool(self.status & C["HX_STREAM_STATUS_LAST"])

    @property
    def pixels(self):
        if _frames.is_tiff(self.data):
            return _frames.read_tiff(self.data)
        return _frames.unpack(self.data, self.width, self.height, self.depth)

    def copy(self):
        other = object.__new__(Frame)
        other.__dict__.update(self.__dict__)
        other.data = self.data.copy()
        return other

    def __repr__(self):
        return f"Frame({self.kind} {self.frame_id}, {self.received_length} bytes, status {self.status})"
