"""halvex for Python: find, configure, command and stream from networked high-speed cameras
through libhalvex.so (found through HALVEX_LIBRARY, else the loader's search).

    import halvex
    with halvex.Client() as client:
        camera = client.camera("127.0.0.2")
        camera.capture.rate = 500            # a refusal raises halvex.SettingRefused
        camera.record(length=16)
        for frame in camera.download(0, 15):
            print(frame.frame_id, frame.pixels.mean())

Records are the classes in halvex.records (CaptureSettings, ...); constants the HX_* names of
hx.h without their prefix in halvex.constants. See docs/python.md.
"""
import types as _types

from ._layout import CONSTANTS as _CONSTANTS
from ._native import BY_C_NAME as _BY_C_NAME
from .camera import Camera, DownloadReport, address_of
from .client import Client, Event, shutdown, trace
from .errors import HalvexError, SettingRefused, StreamTimeout
from .settings import Settings
from .streams import Frame
from .frames import depth_of_bit_mode, pack, read_tiff, unpack

records = _types.SimpleNamespace(**{cls.__name__: cls for cls in _BY_C_NAME.values()})
constants = _types.SimpleNamespace(**{name[len("HX_"):]: value for name, value in _CONSTANTS.items()})

__all__ = ["Camera", "Client", "DownloadReport", "Event", "Frame", "HalvexError", "SettingRefused", "Settings", "StreamTimeout",
           "address_of", "shutdown", "trace", "depth_of_bit_mode", "pack", "read_tiff", "unpack", "records",
           "constants"]
