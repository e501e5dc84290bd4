"""halvex for Python: find, configure, command and stream from networked high-speed cameras
through the C library libhalvex.so.2 (the copy a wheel carries, else the system's; HALVEX_LIBRARY
names another).

    import halvex
    with halvex.Client() as client:
        camera = client.camera("127.0.0.2")
        camera.capture.rate = 500            # a refusal raises halvex.SettingRefused
        frames = camera.record(length=16)    # the camera may record more: it says how many
        for frame in camera.download(0, frames - 1):
            print(frame.frame_id, frame.pixels.mean())

Records are the classes of halvex.records (CaptureSettings, ...); constants the HX_* names of
hx.h without their prefix, in halvex.constants. The library's log lines go to the `halvex`
logger of Python's logging. See docs/python.md.
"""
from . import constants, frames, records
from ._native import library_file
from ._version import __version__
from .camera import Camera, DownloadReport, address_of
from .client import Client, Event, shutdown, trace
from .errors import (CameraNotSupported, FrameReleased, HalvexError, RecordLengthChanged, SettingRefused, StateTimeout, StreamBusy,
                     StreamTimeout)
from .frames import depth_of_bit_mode, pack, read_tiff, unpack
from .settings import Settings
from .streams import Frame

__all__ = ["Camera", "CameraNotSupported", "Client", "DownloadReport", "Event", "Frame", "FrameReleased", "HalvexError",
           "RecordLengthChanged", "SettingRefused", "Settings", "StateTimeout", "StreamBusy", "StreamTimeout",
           "__version__", "address_of", "constants", "depth_of_bit_mode", "frames", "library_file", "pack",
           "read_tiff", "records", "shutdown", "trace", "unpack"]
