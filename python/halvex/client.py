"""Clients, cameras, settings, events and image streams over libhalvex.

Threads: the library calls back on its single callback thread, one call at a time. A client's
`on_event` callable runs there, so it must return quickly and must not call `shutdown()` or wait
for the library's other work. Image buffers the library hands back are queued there and taken by
the thread iterating a stream.
"""
import atexit
import ctypes
import logging
import queue
import threading
import time

import numpy as np

from . import frames as _frames
from ._layout import CONSTANTS
from ._native import BY_C_NAME, CALLBACK, library

C = CONSTANTS
SET, ERR, CHG = C["HX_FLAG_SET"], C["HX_FLAG_ERR"], C["HX_FLAG_CHG"]
_log = logging.getLogger("halvex")

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
STATES = {C[f"HX_CAMERA_STATE_{name}"]: name.lower() for name in ("IDLE", "ARM", "TRIGGER", "REVIEW", "BUSY")}
FORMATS = {"tiff": C["HX_FORMAT_TIFF"], "packed": C["HX_FORMAT_PACKED"], "jpeg": C["HX_FORMAT_JPEG"]}


class HalvexError(Exception):
    """A call the library refused; the library's log says why."""


class SettingRefused(HalvexError):
    """The camera refused a value. Carries the field, the value asked for and the camera's limits
    (None where the field has none): minimum, maximum, step, and choices (a bit set)."""

    def __init__(self, camera, field, value, minimum=None, maximum=None, step=None, choices=None, others=()):
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
        super().__init__(text)


class StreamTimeout(HalvexError):
    """No image came back within the time allowed."""


def _check(status, what):
    if status != C["HX_STATUS_OK"]:
        raise HalvexError(f"halvex: {what} failed (the library's log says why)")


# --- the library's callback and what outlives clients ---------------------------------------------

_lock = threading.Lock()
_clients = {}   # cookie -> Client
_cookies = iter(range(1, 1 << 62))
_lent = {}      # address of a lent HX_READ_STREAM -> _Buffer; kept until it comes back or shutdown
_finished = False
_used = False


def _on_event(event, client, camera, data, cookie):
    try:
        with _lock:
            target = _clients.get(cookie)
            buffer = _lent.pop(data, None) if event in _STREAM_EVENTS and data else None
        if buffer is not None:
            buffer.returned(event)
        elif target is not None and event not in _STREAM_EVENTS:
            target._deliver(event, camera, data)
    except BaseException:  # an exception must not unwind into the library's thread
        _log.exception("halvex: event %s", EVENT_NAMES.get(event, event))


_CALLBACK = CALLBACK(_on_event)


def shutdown():
    """Stops every library thread (HX_shutdown). Buffers still lent come back, and the library
    cannot be used again in this process. Never call it from an event callable."""
    global _finished
    with _lock:
        if _finished or not _used:
            _finished = True
            return
        _finished = True
    _check(library().HX_shutdown(), "HX_shutdown")
    with _lock:
        _lent.clear()
        _clients.clear()


# The library's threads call into Python; they must end before the interpreter does.
atexit.register(shutdown)


def trace(enable=True):
    """Every trace category into the library's log (HX_trace); returns the mask."""
    return library().HX_trace(1 if enable else 0)


def address_of(handle):
    """Dotted address of a camera handle (the address in network order in the low 32 bits)."""
    return ".".join(str((handle >> shift) & 0xFF) for shift in (0, 8, 16, 24))


class Event:
    """One event: `kind` (HX_* code), `name` ("capture_change"), `camera` (address or None),
    `data` (a copy of the record, the negotiated packet size, or None)."""

    def __init__(self, kind, camera, data):
        self.kind, self.name, self.camera, self.data = kind, EVENT_NAMES.get(kind, str(kind)), camera, data

    def __repr__(self):
        return f"Event({self.name}, camera={self.camera}, data={self.data!r})"


class Client:
    """A registered library client; a context manager that unregisters on exit.

    on_event: a callable taking an Event, run on the library's callback thread (see the module's
    documentation); events of subscribed cameras and discovery reach it."""

    def __init__(self, on_event=None, trace=False):
        global _used
        lib = library()
        with _lock:
            if _finished:
                raise HalvexError("halvex: the library was shut down in this process")
            _used = True
        if trace:
            lib.HX_trace(1)
        handle = ctypes.c_size_t(0)
        self.on_event = on_event
        self.handle = 0
        self._found = {}
        self._changed = threading.Condition()
        # The cookie names this object to the callback, which may run before HX_register returns.
        with _lock:
            self._cookie = next(_cookies)
            _clients[self._cookie] = self
        if lib.HX_register(ctypes.byref(handle), _CALLBACK, ctypes.c_void_p(self._cookie)) != C["HX_STATUS_OK"]:
            with _lock:
                _clients.pop(self._cookie, None)
            raise HalvexError("halvex: HX_register failed (the library's log says why)")
        self.handle = handle.value

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        """Unregisters. Buffers this client lent stay lent until shutdown()."""
        with _lock:
            registered = _clients.pop(self._cookie, None) is not None and not _finished
        if registered:
            library().HX_unregister(self.handle)

    def camera(self, name, wait=5.0):
        """The camera with this dotted address or user-defined name, asked again until it answers
        or `wait` seconds have passed."""
        lib = library()
        handle = ctypes.c_size_t(0)
        deadline = time.monotonic() + wait
        while lib.HX_get_handle_by_name(self.handle, ctypes.byref(handle), name.encode()) != C["HX_STATUS_OK"]:
            if time.monotonic() >= deadline:
                raise HalvexError(f"halvex: no camera answers as '{name}'")
            with self._changed:  # a discovery report ends the wait early
                self._changed.wait(0.1)
        return Camera(self, handle.value)

    def discover(self, wait=5.0):
        """The cameras discovery reported within `wait` seconds: {address: CameraInformation}."""
        deadline = time.monotonic() + wait
        with self._changed:
            while time.monotonic() < deadline:
                self._changed.wait(deadline - time.monotonic())
            return dict(self._found)

    def _deliver(self, kind, camera, data):
        record = _EVENT_RECORDS.get(kind)
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


# --- settings ----------------------------------------------------------------------------------------

class _FieldPlan:
    """Which flags words mark a field of a record for writing, and which words hold its limits."""

    def __init__(self, record_class):
        names = [name for name, _ in record_class._fields_]
        self.fields = {}
        group = None
        for index, name in enumerate(names):
            if name.endswith("_group_flags"):
                group = name
                continue
            if name in ("ver_maj", "ver_min", "flags") or name.startswith("_") or name.endswith("_flags") or \
                    name.endswith(("_max", "_min", "_constr", "_caps")) or "family_words" in name or \
                    name.startswith(("reserved_", "unused_")):
                continue
            flags = self._flags_word(name, index, names)
            if flags is None:
                continue
            own_before = names.index(flags) < index  # a word marked before its value opens no group
            self.fields[name] = (flags, None if own_before and flags == name + "_flags" else group)

    @staticmethod
    def _flags_word(name, index, names):
        if name + "_flags" in names:
            return name + "_flags"
        parts = name.split("_")
        for cut in range(len(parts) - 1, 0, -1):
            candidate = "_".join(parts[:cut]) + "_flags"
            if candidate in names:
                return candidate
        for before in reversed(names[:index]):
            if before.endswith("_flags") and not before.endswith("_group_flags") and \
                    before[:-len("_flags")] not in names:
                return before
        return None


_PLANS = {}


def _plan(record_class):
    if record_class not in _PLANS:
        _PLANS[record_class] = _FieldPlan(record_class)
    return _PLANS[record_class]


class Settings:
    """A settings record of one camera, read and changed as attributes. Reading an attribute
    reads the camera; assigning writes one field; set(a=..., b=...) writes several in one exchange.
    A refused value raises SettingRefused with the camera's limits."""

    def __init__(self, camera, record, call):
        object.__setattr__(self, "_camera", camera)
        object.__setattr__(self, "_class", BY_C_NAME[record])
        object.__setattr__(self, "_call", call)

    def read(self):
        record = self._class()
        self._camera._setup(self._call, record)
        return record

    def apply(self, record):
        """Sends a record as prepared by the caller (flags and all); returns it as the camera left it."""
        self._camera._setup(self._call, record)
        return record

    def set(self, **values):
        record = self.read()
        plan = _plan(self._class)
        for name, value in values.items():
            if name not in plan.fields:
                raise AttributeError(f"{self._class.__name__} has no settable field '{name}'")
            setattr(record, name, value)
            flags, group = plan.fields[name]
            setattr(record, flags, getattr(record, flags) | SET)
            if group:
                setattr(record, group, getattr(record, group) | SET)
        record.flags |= SET
        self._camera._setup(self._call, record)
        refused = [name for name in values if getattr(record, plan.fields[name][0]) & ERR]
        if refused:
            name = refused[0]

            def limit(suffix):
                return getattr(record, f"{name}_{suffix}", None)
            raise SettingRefused(self._camera.address, name, values[name], limit("min"), limit("max"),
                                 limit("constr"), limit("caps"), refused[1:])
        if record.flags & ERR:
            raise HalvexError(f"halvex: camera {self._camera.address} refused part of {self._class.__name__}")
        return record

    def __getattr__(self, name):
        if name.startswith("_"):
            raise AttributeError(name)
        return getattr(self.read(), name)

    def __setattr__(self, name, value):
        self.set(**{name: value})

    def __dir__(self):
        return sorted(set(self._class().field_names()) | {"read", "set", "apply"})


# --- streams ------------------------------------------------------------------------------------------

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
        with _lock:
            if _finished:
                raise HalvexError("halvex: the library was shut down")
            _lent[self.address] = self
            self.lent = True
        if call(client, camera, ctypes.byref(r)) != C["HX_STATUS_OK"]:
            with _lock:
                _lent.pop(self.address, None)
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


class Camera:
    """One camera of a client. Settings records are attributes (capture, download_settings, io,
    playback_settings, stream_settings); images arrive through the live(), play() and download()
    generators."""

    def __init__(self, client, handle):
        self.client, self.handle, self.address = client, handle, address_of(handle)
        lib = library()
        self.capture = Settings(self, "HX_CAPTURE_SETTINGS", lib.HX_setup_capture_syn)
        self.download_settings = Settings(self, "HX_DOWNLOAD_SETTINGS", lib.HX_setup_download_syn)
        self.io = Settings(self, "HX_IO_SETTINGS", lib.HX_setup_io_syn)
        self.playback_settings = Settings(self, "HX_PLAYBACK_SETTINGS", lib.HX_setup_playback_syn)
        self.stream_settings = Settings(self, "HX_STREAM_SETTINGS", lib.HX_setup_stream_syn)
        # Buffers lent for a stream kind, kept across runs: a later run adopts those still lent
        # (the library keeps them queued) so that what fills them reaches that run.
        self._live_pool = []
        self._play_pool = []
        self._download_pool = []

    def __repr__(self):
        return f"Camera({self.address})"

    def _setup(self, call, record):
        _check(call(self.client.handle, self.handle, ctypes.byref(record), ctypes.byref(record)),
               f"settings of camera {self.address}")

    def _read(self, call, c_name):
        record = BY_C_NAME[c_name]()
        _check(call(self.client.handle, self.handle, ctypes.byref(record)), f"{c_name} of camera {self.address}")
        return record

    def information(self):
        return self._read(library().HX_get_camera_information_syn, "HX_CAMERA_INFORMATION")

    def temperature(self):
        return self._read(library().HX_temperature_syn, "HX_TEMPERATURE")

    def battery(self):
        return self._read(library().HX_get_battery_info, "HX_BATTERY_INFO")

    def subscribe(self):
        """Change events of this camera go to the client's on_event."""
        _check(library().HX_subscribe(self.client.handle, self.handle), "HX_subscribe")

    def unsubscribe(self):
        _check(library().HX_unsubscribe(self.client.handle, self.handle), "HX_unsubscribe")

    def release(self):
        _check(library().HX_release_handle(self.client.handle, self.handle), "HX_release_handle")

    # --- commands

    def command(self, code=None):
        """Sends an HX_CMD_* code (or only reads, without one); returns the camera state."""
        record = BY_C_NAME["HX_COMMAND"]()
        if code is not None:
            record.flags = SET
            record.code, record.code_flags = code, SET
        _check(library().HX_command_syn(self.client.handle, self.handle, ctypes.byref(record), ctypes.byref(record)),
               f"command to camera {self.address}")
        if code is not None and record.code_flags & ERR:
            raise HalvexError(f"halvex: camera {self.address} refused command {code:#x} in state "
                              f"{STATES.get(record.code, record.code)}")
        return record.code

    @property
    def state(self):
        """'idle', 'arm', 'trigger', 'review' or 'busy'."""
        code = self.command()
        return STATES.get(code, code)

    def arm(self):
        return self.command(C["HX_CMD_ARM"])

    def trigger(self):
        return self.command(C["HX_CMD_TRIGGER"])

    def wait_for_state(self, state, timeout=10.0):
        """Asks the camera until it is in `state` ('review', ...); each look is one exchange."""
        deadline = time.monotonic() + timeout
        while self.state != state:
            if time.monotonic() >= deadline:
                raise HalvexError(f"halvex: camera {self.address} did not reach state {state} in {timeout} s")

    def record(self, length=None, timeout=30.0):
        """Records `length` frames (the camera may round up): arm, trigger, wait for review."""
        if length is not None:
            self.capture.length = length
        self.arm()
        self.trigger()
        self.wait_for_state("review", timeout)

    # --- streams

    def _geometry(self):
        capture = self.capture.read()
        depth = _frames.depth_of_bit_mode(capture.bit_mode)
        if not depth:
            raise HalvexError(f"halvex: camera {self.address} reports bit mode {capture.bit_mode:#x}")
        return capture.width, capture.height, depth

    @staticmethod
    def _stream_size(geometry):
        width, height, depth = geometry
        frame = _frames.frame_bytes(width, height, depth)
        tiff = width * height * (1 if depth == 8 else 2) + TIFF_ROOM
        return max(C["HX_STREAM_MIN_BUFFER_SIZE"], -(-max(frame, tiff) // PAGE) * PAGE)

    def _barrier(self):
        # A waiting call returns once everything posted to the camera before it has been handled.
        self.command()

    def _pooled(self, pool, call, count, size, session):
        """Buffers of `pool` still lent join the session; returned ones are lent again; new ones
        make up the count."""
        lib_client, handle = self.client.handle, self.handle
        with _lock:
            for buffer in pool:
                buffer.session = session
        for buffer in pool:
            if not buffer.lent and buffer.array.size >= size:
                buffer.lend(call, lib_client, handle)
        while sum(1 for b in pool if b.array.size >= size) < count:
            buffer = _Buffer(size)
            buffer.session = session
            pool.append(buffer)
            buffer.lend(call, lib_client, handle)

    def _stream(self, pool, call, kind, frames, buffers, timeout, start, stop):
        geometry = self._geometry()
        size = self._stream_size(geometry)
        session = _Session()
        self._pooled(pool, call, buffers, size, session)
        start()
        try:
            delivered = 0
            while frames is None or delivered < frames:
                buffer = session.next(timeout, kind)
                if buffer.array.size < size:
                    continue  # lent for a smaller image before the geometry changed
                frame = Frame(buffer, kind, geometry)
                if frame.status & C["HX_STREAM_STATUS_LAST"] and frame.received_length == 0:
                    continue  # handed back unfilled
                yield frame
                delivered += 1
                if frames is None or delivered < frames:  # the last frame stays valid after the end
                    buffer.lend(call, self.client.handle, self.handle)
        finally:
            if not _finished:
                stop()
                self._barrier()

    def live(self, frames=None, buffers=4, timeout=10.0):
        """Live images as Frames (all of them when frames is None); live is switched off when the
        generator ends or is closed."""
        lib = library()
        return self._stream(self._live_pool, lib.HX_live, "live", frames, buffers, timeout,
                            lambda: _check(lib.HX_live_enable(self.client.handle, self.handle, 1), "live on"),
                            lambda: lib.HX_live_enable(self.client.handle, self.handle, 0))

    def play(self, frames, first=0, last=None, buffers=4, timeout=10.0):
        """Frames of the recording played in the camera from `first` to `last` (default: to the
        end), over and over until `frames` have arrived; the playback pauses at the end."""
        lib = library()

        def start():
            current = self.playback_settings.read()
            request = current.copy()
            request.flags = SET
            request.mode, request.mode_flags = C["HX_PLAY_FORWARD"], SET
            request.cut_in, request.cut_in_flags = first, SET
            request.cut_out, request.cut_out_flags = current.current_frame_max if last is None else last, SET
            request.current_frame, request.current_frame_flags = first, SET
            self.playback_settings.apply(request)
            if request.flags & ERR:
                raise HalvexError(f"halvex: camera {self.address} refused the playback (is it in review?)")

        def stop():
            pause = BY_C_NAME["HX_PLAYBACK_SETTINGS"](flags=SET, mode=C["HX_PLAY_PAUSE"], mode_flags=SET)
            self.playback_settings.apply(pause)

        return self._stream(self._play_pool, lib.HX_play, "playback", frames, buffers, timeout, start, stop)

    def download(self, first, last, format="tiff", buffers=16, packet_delay=None, timeout=10.0):
        """Frames `first` to `last` of the recording (camera in review) as Frames, in order. With
        format "packed" the library packs them when its packing library is installed.

        `buffers` images are in flight at most. The camera is paused while few are left, but what
        it sent before the pause arrived is lost when no buffer is free; `packet_delay` (micro-
        seconds between stream packets) paces a camera that sends faster than the host takes."""
        lib = library()
        geometry = self._geometry()
        count = max(4, buffers)
        # Small frames come in quick succession: keep room for several already on their way when
        # the camera is asked to pause.
        pause = max(2, count // 2)
        session = _Session()
        # Lent before the settings apply, the buffers only queue; HX_download(NULL) starts.
        self._pooled(self._download_pool, lib.HX_download, count, self._stream_size(geometry), session)
        request = self.download_settings.read()
        request.flags = SET
        request.start, request.start_flags = first, SET
        request.stop, request.stop_flags = last, SET
        request.format, request.format_flags = FORMATS[format], SET
        request.rate_control_flags = SET
        request.pause_count, request.resume_count = pause, max(pause + 1, count * 3 // 4)
        request.turbo_packet_length_flags = request.turbo_delay_flags = request.jpeg_quality_flags = 0
        if packet_delay is not None:
            request.turbo_delay, request.turbo_delay_flags = packet_delay, SET
        self.download_settings.apply(request)
        if (request.start_flags | request.stop_flags | request.format_flags | request.turbo_delay_flags) & ERR:
            raise SettingRefused(self.address, "start..stop", f"{first}..{last}", 0, request.stop_max)
        _check(lib.HX_download(self.client.handle, self.handle, None), "HX_download")
        # The camera pauses while no more than `pause` buffers are lent and only lending resumes
        # it, so buffers are lent until the last frame has that many spares behind it; the spares
        # come back unfilled when the download ends.
        return self._downloaded(session, geometry, count, (last - first + 1) + pause + 1, timeout)

    def _downloaded(self, session, geometry, lent, budget, timeout):
        lib = library()
        last = False
        while not last:
            buffer = session.next(timeout, "download")
            frame = Frame(buffer, "download", geometry)
            if frame.received_length == 0:
                if frame.status & C["HX_STREAM_STATUS_ERROR"] and not frame.last:
                    raise HalvexError(f"halvex: camera {self.address} did not start the download (see the log)")
                continue  # a spare handed back unfilled when an earlier download ended
            last = frame.last
            yield frame
            if not last and lent < budget:
                buffer.lend(lib.HX_download, self.client.handle, self.handle)
                lent += 1
        # The spares come back once the library has ended the download; a download started
        # before that could lose the buffers lent for it to that ending. A buffer lent after the
        # library saw the last frame stays queued for the next download, which adopts it.
        deadline = time.monotonic() + min(timeout, 3.0)
        while any(b.lent for b in self._download_pool) and time.monotonic() < deadline:
            try:
                session.next(max(0.0, deadline - time.monotonic()), "download")
            except StreamTimeout:
                break
