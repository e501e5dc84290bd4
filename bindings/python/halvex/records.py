"""The records of hx.h as ctypes structures, named without the HX_ prefix in CamelCase:
CaptureSettings is HX_CAPTURE_SETTINGS, ReadStream is HX_READ_STREAM. Fields read and write by
name (text fields as str); a new record is prepared as its *_init function prepares it."""
from ._native import BY_C_NAME as _BY_C_NAME
from ._native import Record

globals().update({_cls.__name__: _cls for _cls in _BY_C_NAME.values()})
__all__ = ["Record"] + sorted(_cls.__name__ for _cls in _BY_C_NAME.values())


def __getattr__(name: str) -> type[Record]:
    # Only reached for names hx.h does not have; tells a type checker what the others are.
    raise AttributeError(f"module 'halvex.records' has no attribute '{name}'")
