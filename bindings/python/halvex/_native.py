"""The C library through ctypes: loading libhalvex.so, the records as ctypes structures built from
the generated layouts, the prototypes of the HX_* functions, and the library's log lines routed
into Python's `logging`."""
from __future__ import annotations

import ctypes
import ctypes.util
import logging
import os
import threading
from typing import TYPE_CHECKING, Any, Callable, Iterator, Optional

from ._layout import CONSTANTS, RECORDS

_ELEMENTS: dict[str, Any] = {
    "u16": ctypes.c_uint16,
    "u32": ctypes.c_uint32,
    "u64": ctypes.c_uint64,
    "f32": ctypes.c_float,
    "char": ctypes.c_char,
    "ptr": ctypes.c_void_p,
}

# The library's lines go to this logger; without a handler configured by the application they go
# nowhere (a library must not print on its own).
log = logging.getLogger("halvex")
log.addHandler(logging.NullHandler())


class Record(ctypes.Structure):
    """A record of hx.h. Fields read and write by name; text fields read and write as str.
    A new record is prepared as its *_init function would (zero-filled, with the version)."""

    _hx_name = ""
    _texts: tuple[str, ...] = ()

    if TYPE_CHECKING:  # the fields come from the generated layouts
        def __getattr__(self, name: str) -> Any: ...

        def __setattr__(self, name: str, value: Any) -> None: ...

    def __init__(self, **fields: Any) -> None:
        super().__init__()
        self.ver_maj = CONSTANTS["HX_API_VERSION_MAJ"]
        self.ver_min = CONSTANTS["HX_API_VERSION_MIN"]
        for name, value in fields.items():
            setattr(self, name, value)

    def field_names(self) -> list[str]:
        """Every field's name in layout order, text fields last."""
        return [name for name, *_ in self._fields_ if not name.startswith("_")] + list(self._texts)

    def to_dict(self) -> dict[str, Any]:
        """The fields as a dict (arrays as lists), without the unused and reserved words."""
        result: dict[str, Any] = {}
        for name in self.field_names():
            if name.startswith(("unused_", "reserved_")):
                continue
            value = getattr(self, name)
            result[name] = list(value) if isinstance(value, ctypes.Array) else value
        return result

    def copy(self) -> Any:
        """An independent copy of the record (same class)."""
        return type(self).from_buffer_copy(self)

    def __iter__(self) -> Iterator[tuple[str, Any]]:
        return iter(self.to_dict().items())

    def __repr__(self) -> str:
        shown = ", ".join(f"{k}={v!r}" for k, v in self.to_dict().items() if v not in (0, "", None))
        return f"{type(self).__name__}({shown})"

    def __eq__(self, other: object) -> bool:
        return type(self) is type(other) and bytes(self) == bytes(other)  # type: ignore[call-overload]

    __hash__ = None  # type: ignore[assignment]  # mutable


def _text_property(raw_name: str, size: int) -> property:
    def get(record: Record) -> str:
        return bytes(getattr(record, raw_name)).decode("utf-8", "replace")

    def put(record: Record, value: str) -> None:
        data = value.encode("utf-8")
        if len(data) >= size:
            raise ValueError(f"text of {len(data)} bytes does not fit {size - 1}")
        setattr(record, raw_name, data)

    return property(get, put)


def _class_name(c_name: str) -> str:
    return "".join(part.capitalize() for part in c_name[len("HX_"):].split("_"))


def _record_class(c_name: str, size: int, fields: tuple[tuple[str, int, str, int], ...]) -> type[Record]:
    members: list[tuple[str, Any]] = []
    texts: list[str] = []
    namespace: dict[str, Any] = {"_hx_name": c_name, "__doc__": f"The record {c_name} of hx.h."}
    position = 0
    for name, offset, code, count in fields:
        if offset > position:  # never so far: hx.h has no padding, but the compiler decides
            members.append((f"_pad_{position}", ctypes.c_uint8 * (offset - position)))
        element = _ELEMENTS[code]
        if code == "char":
            members.append((f"_text_{name}", element * count))
            namespace[name] = _text_property(f"_text_{name}", count)
            texts.append(name)
        else:
            members.append((name, element * count if count > 1 else element))
        position = offset + ctypes.sizeof(members[-1][1])
    if size > position:
        members.append((f"_pad_{position}", ctypes.c_uint8 * (size - position)))
    namespace["_fields_"] = members
    namespace["_texts"] = tuple(texts)
    namespace["__module__"] = "halvex.records"
    return type(_class_name(c_name), (Record,), namespace)


# Record classes by their C name (HX_CAPTURE_SETTINGS); halvex.records has them by class name.
BY_C_NAME: dict[str, type[Record]] = {name: _record_class(name, size, fields)
                                      for name, (size, fields) in RECORDS.items()}

CALLBACK = ctypes.CFUNCTYPE(None, ctypes.c_uint32, ctypes.c_size_t, ctypes.c_size_t, ctypes.c_void_p, ctypes.c_void_p)
LOG_CALLBACK = ctypes.CFUNCTYPE(None, ctypes.c_int, ctypes.c_char_p, ctypes.c_void_p)

# Where a wheel puts the library and its packing library: inside the package, found first.
BUNDLED = os.path.join(os.path.dirname(os.path.abspath(__file__)), "_lib", "libhalvex.so.2")
_ERROR_LEVEL = CONSTANTS.get("HX_LOG_ERROR", 3)


def _library_path() -> str:
    explicit = os.environ.get("HALVEX_LIBRARY")
    if explicit:
        return explicit
    if os.path.exists(BUNDLED):
        return BUNDLED
    # The runtime package installs only the versioned name; the unversioned link comes with -dev.
    return ctypes.util.find_library("halvex") or "libhalvex.so.2"


def _to_logging(level: int, text: Optional[bytes], _context: Optional[int]) -> None:
    # Runs on whichever thread logged, library threads included: nothing here may raise.
    try:
        line = (text or b"").decode("utf-8", "replace").rstrip("\n")
        log.log(logging.WARNING if level <= _ERROR_LEVEL else logging.DEBUG, "%s", line)
    except Exception:  # noqa: BLE001 - an exception must not unwind into the library
        pass


_LOG_TO_LOGGING = LOG_CALLBACK(_to_logging)
_library: Optional[ctypes.CDLL] = None
_loading = threading.Lock()


def library() -> ctypes.CDLL:
    """libhalvex.so, loaded on first use: HALVEX_LIBRARY when set, else the copy inside the
    package (a wheel carries one), else the loader's search. Its log lines go to the `halvex`
    logger from then on."""
    global _library
    with _loading:
        if _library is None:
            path = _library_path()
            try:
                lib = ctypes.CDLL(path)
            except OSError as error:
                raise OSError(f"halvex: cannot load the C library '{path}' ({error}); "
                              "set HALVEX_LIBRARY to the path of libhalvex.so") from error
            _declare(lib)
            if hasattr(lib, "HX_logger_callback"):
                lib.HX_logger_callback(_LOG_TO_LOGGING, None)
            _library = lib
        return _library


def library_file() -> str:
    """The file the C library was loaded from (loading it if needed)."""
    lib = library()

    class DlInfo(ctypes.Structure):
        _fields_ = [("dli_fname", ctypes.c_char_p), ("dli_fbase", ctypes.c_void_p),
                    ("dli_sname", ctypes.c_char_p), ("dli_saddr", ctypes.c_void_p)]

    info = DlInfo()
    address = ctypes.cast(lib.HX_trace, ctypes.c_void_p)
    name: bytes = info.dli_fname if ctypes.CDLL(None).dladdr(address, ctypes.byref(info)) else b""
    return os.path.realpath(name.decode()) if name else str(lib._name)


def last_error() -> str:
    """The first error line the library logged during the calling thread's last HX_* call."""
    lib = library()
    if not hasattr(lib, "HX_last_error"):
        return ""
    text = ctypes.create_string_buffer(1024)
    if lib.HX_last_error(text, len(text)) != CONSTANTS["HX_STATUS_OK"]:
        return ""
    return text.value.decode("utf-8", "replace").strip()


def _declare(lib: ctypes.CDLL) -> None:
    p = ctypes.POINTER
    status, handle, uint = ctypes.c_int, ctypes.c_size_t, ctypes.c_uint32
    R = BY_C_NAME

    def proto(name: str, result: Any, *args: Any) -> None:
        function: Callable[..., Any] = getattr(lib, name)
        function.restype = result  # type: ignore[attr-defined]
        function.argtypes = list(args)  # type: ignore[attr-defined]

    proto("HX_register", status, p(handle), CALLBACK, ctypes.c_void_p)
    proto("HX_unregister", status, handle)
    proto("HX_shutdown", status)
    proto("HX_discover_pause", status, ctypes.c_uint8)
    proto("HX_trace", ctypes.c_uint, ctypes.c_int)
    proto("HX_logger_file", status, ctypes.c_char_p)
    if hasattr(lib, "HX_logger_callback"):
        proto("HX_logger_callback", status, LOG_CALLBACK, ctypes.c_void_p)
    if hasattr(lib, "HX_last_error"):
        proto("HX_last_error", status, ctypes.c_char_p, uint)
    proto("HX_get_handle_by_name", status, handle, p(handle), ctypes.c_char_p)
    proto("HX_release_handle", status, handle, handle)
    for call, record in (("HX_setup_capture_syn", "HX_CAPTURE_SETTINGS"),
                         ("HX_setup_download_syn", "HX_DOWNLOAD_SETTINGS"),
                         ("HX_setup_io_syn", "HX_IO_SETTINGS"),
                         ("HX_setup_playback_syn", "HX_PLAYBACK_SETTINGS"),
                         ("HX_setup_stream_syn", "HX_STREAM_SETTINGS"),
                         ("HX_analog_gain", "HX_ANALOG_GAIN"),
                         ("HX_command_syn", "HX_COMMAND")):
        proto(call, status, handle, handle, p(R[record]), p(R[record]))
    proto("HX_setup_lens_syn", status, handle, handle, p(R["HX_LENS_SETTINGS"]))
    for call, record in (("HX_get_battery_info", "HX_BATTERY_INFO"),
                         ("HX_get_camera_information_syn", "HX_CAMERA_INFORMATION"),
                         ("HX_get_lens_status", "HX_LENS_STATUS"),
                         ("HX_temperature_syn", "HX_TEMPERATURE")):
        proto(call, status, handle, handle, p(R[record]))
    proto("HX_get_camera_media_syn", status, handle, handle, ctypes.c_char_p, p(uint))
    for call in ("HX_lockCamera", "HX_unlockCamera", "HX_subscribe", "HX_unsubscribe"):
        proto(call, status, handle, handle)
    proto("HX_camera_save", status, handle, handle, ctypes.c_char_p)
    for call in ("HX_live", "HX_play", "HX_download", "HX_download_syn"):
        proto(call, status, handle, handle, p(R["HX_READ_STREAM"]))
    proto("HX_live_enable", status, handle, handle, ctypes.c_int)
    proto("HX_str_flags", None, ctypes.c_int, ctypes.c_char_p, ctypes.c_uint)
    for c_name in RECORDS:
        init = c_name[len("HX_"):].lower() + "_init"
        if hasattr(lib, "HX_" + init):
            proto("HX_" + init, status, p(R[c_name]), uint)
