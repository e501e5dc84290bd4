"""The C library through ctypes: loading libhalvex.so, the records as ctypes structures built from
the generated layouts, and the prototypes of the HX_* functions."""
import ctypes
import ctypes.util
import os

from ._layout import CONSTANTS, RECORDS

_ELEMENTS = {
    "u16": ctypes.c_uint16,
    "u32": ctypes.c_uint32,
    "u64": ctypes.c_uint64,
    "f32": ctypes.c_float,
    "char": ctypes.c_char,
    "ptr": ctypes.c_void_p,
}


class Record(ctypes.Structure):
    """A record of hx.h. Fields read and write by name; text fields read and write as str.
    A new record is prepared as its *_init function would (zero-filled, with the version)."""

    _hx_name = ""
    _texts = ()

    def __init__(self, **fields):
        super().__init__()
        self.ver_maj = CONSTANTS["HX_API_VERSION_MAJ"]
        self.ver_min = CONSTANTS["HX_API_VERSION_MIN"]
        for name, value in fields.items():
            setattr(self, name, value)

    def field_names(self):
        return [name for name, _ in self._fields_ if not name.startswith("_")] + list(self._texts)

    def to_dict(self):
        return {name: getattr(self, name) for name in self.field_names()
                if not name.startswith("unused_") and not name.startswith("reserved_")}

    def copy(self):
        return type(self).from_buffer_copy(self)

    def __repr__(self):
        shown = ", ".join(f"{k}={v!r}" for k, v in self.to_dict().items() if v not in (0, "", None))
        return f"{type(self).__name__}({shown})"

    def __eq__(self, other):
        return type(self) is type(other) and bytes(self) == bytes(other)


def _text_property(raw_name, size):
    def get(record):
        return getattr(record, raw_name).decode("utf-8", "replace")

    def put(record, value):
        data = value.encode("utf-8")
        if len(data) >= size:
            raise ValueError(f"text of {len(data)} bytes does not fit {size - 1}")
        setattr(record, raw_name, data)

    return property(get, put)


def _class_name(c_name):
    return "".join(part.capitalize() for part in c_name[len("HX_"):].split("_"))


def _record_class(c_name, size, fields):
    members, texts, namespace = [], [], {"_hx_name": c_name}
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
    return type(_class_name(c_name), (Record,), namespace)


# Record classes by their C name (HX_CAPTURE_SETTINGS) and by class name (CaptureSettings).
BY_C_NAME = {name: _record_class(name, size, fields) for name, (size, fields) in RECORDS.items()}

CALLBACK = ctypes.CFUNCTYPE(None, ctypes.c_uint32, ctypes.c_size_t, ctypes.c_size_t, ctypes.c_void_p, ctypes.c_void_p)


def _library_path():
    explicit = os.environ.get("HALVEX_LIBRARY")
    if explicit:
        return explicit
    # The runtime package installs only the versioned name; the unversioned link comes with -dev.
    return ctypes.util.find_library("halvex") or "libhalvex.so.2"


_library = None


def library():
    """libhalvex.so, loaded on first use from HALVEX_LIBRARY or the loader's search."""
    global _library
    if _library is None:
        path = _library_path()
        try:
            lib = ctypes.CDLL(path)
        except OSError as error:
            raise OSError(f"halvex: cannot load the C library '{path}' ({error}); "
                          "set HALVEX_LIBRARY to the path of libhalvex.so") from error
        _declare(lib)
        _library = lib
    return _library


def _declare(lib):
    p = ctypes.POINTER
    status, handle, uint = ctypes.c_int, ctypes.c_size_t, ctypes.c_uint32
    R = BY_C_NAME

    def proto(name, result, *args):
        function = getattr(lib, name)
        function.restype = result
        function.argtypes = list(args)

    proto("HX_register", status, p(handle), CALLBACK, ctypes.c_void_p)
    proto("HX_unregister", status, handle)
    proto("HX_shutdown", status)
    proto("HX_discover_pause", status, ctypes.c_uint8)
    proto("HX_trace", ctypes.c_uint)
    lib.HX_trace.argtypes = [ctypes.c_int]
    proto("HX_logger_file", status, ctypes.c_char_p)
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
