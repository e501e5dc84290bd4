"""A camera of a client: its settings, commands and image streams."""
import ctypes
import time

from . import _state as state
from . import frames as _frames
from ._layout import CONSTANTS as C
from ._native import BY_C_NAME, library
from .errors import HalvexError, SettingRefused, StreamTimeout, check
from .settings import Settings
from .streams import PAGE, TIFF_ROOM, Frame, _Buffer, _Session

SET, ERR = C["HX_FLAG_SET"], C["HX_FLAG_ERR"]
STATES = {C[f"HX_CAMERA_STATE_{name}"]: name.lower() for name in ("IDLE", "ARM", "TRIGGER", "REVIEW", "BUSY")}
# Frames already whole between two runs of frames to fetch again are fetched with them when there
# are no more than this many: starting a download costs more than a few frames.
RETRY_MERGE_GAP = 8
FORMATS = {"tiff": C["HX_FORMAT_TIFF"], "packed": C["HX_FORMAT_PACKED"], "jpeg": C["HX_FORMAT_JPEG"]}


def address_of(handle):
    """Dotted address of a camera handle (the address in network order in the low 32 bits)."""
    return ".".join(str((handle >> shift) & 0xFF) for shift in (0, 8, 16, 24))


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
        # (the library keeps them queued) so that what fills them reaches that run. One run of a
        # kind per client and camera at a time.
        self._live_pool = self._pool("live")
        self._play_pool = self._pool("playback")
        self._download_pool = self._pool("download")

    def __repr__(self):
        return f"Camera({self.address})"

    def _pool(self, kind):
        # Shared by every Camera object of this client and camera: what the library fills belongs
        # to whichever run of that kind comes next.
        with state.lock:
            return state.pools.setdefault((self.client.handle, self.handle, kind), [])

    def _setup(self, call, record):
        check(call(self.client.handle, self.handle, ctypes.byref(record), ctypes.byref(record)),
               f"settings of camera {self.address}")

    def _read(self, call, c_name):
        record = BY_C_NAME[c_name]()
        check(call(self.client.handle, self.handle, ctypes.byref(record)), f"{c_name} of camera {self.address}")
        return record

    def information(self):
        return self._read(library().HX_get_camera_information_syn, "HX_CAMERA_INFORMATION")

    def temperature(self):
        return self._read(library().HX_temperature_syn, "HX_TEMPERATURE")

    def battery(self):
        return self._read(library().HX_get_battery_info, "HX_BATTERY_INFO")

    def subscribe(self):
        """Change events of this camera go to the client's on_event."""
        check(library().HX_subscribe(self.client.handle, self.handle), "HX_subscribe")

    def unsubscribe(self):
        check(library().HX_unsubscribe(self.client.handle, self.handle), "HX_unsubscribe")

    def release(self):
        check(library().HX_release_handle(self.client.handle, self.handle), "HX_release_handle")

    # --- commands

    def command(self, code=None):
        """Sends an HX_CMD_* code (or only reads, without one); returns the camera state."""
        record = BY_C_NAME["HX_COMMAND"]()
        if code is not None:
            record.flags = SET
            record.code, record.code_flags = code, SET
        check(library().HX_command_syn(self.client.handle, self.handle, ctypes.byref(record), ctypes.byref(record)),
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
        with state.lock:
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
            if not state.finished:
                stop()
                self._barrier()

    def live(self, frames=None, buffers=4, timeout=10.0):
        """Live images as Frames (all of them when frames is None); live is switched off when the
        generator ends or is closed."""
        lib = library()
        return self._stream(self._live_pool, lib.HX_live, "live", frames, buffers, timeout,
                            lambda: check(lib.HX_live_enable(self.client.handle, self.handle, 1), "live on"),
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

    def download(self, first, last, format="tiff", buffers=16, packet_delay=None, timeout=10.0, retries=3):
        """Frames `first` to `last` of the recording (camera in review) as Frames. With format
        "packed" the library packs them when its packing library is installed.

        `buffers` images are in flight at most. The camera is paused while few are left, but what
        it sent before the pause arrived is lost when no buffer is free; `packet_delay` (micro-
        seconds between stream packets) paces a camera that sends faster than the host takes.

        The stream has no packet resend, so a lossy link leaves frames incomplete: those, and
        frames that never came, are downloaded again after the others, at most `retries` times.
        Whole frames come in order, fetched-again ones after them; a frame still incomplete at
        the last try comes as it is. `download_report` then says what was recovered."""
        report = DownloadReport(first, last, retries)
        self.download_report = report
        first_pass = self._download_once(first, last, format, buffers, packet_delay, timeout)
        return self._with_retries(first_pass, report, lambda a, b: self._download_once(
            a, b, format, buffers, packet_delay, timeout))

    def _with_retries(self, first_pass, report, download_range):
        pending = set(range(report.first, report.last + 1))
        attempt, passes = 0, [first_pass]
        while True:
            final = attempt == report.retries
            for frames in passes:
                for frame in frames:
                    if frame.frame_id not in pending or not (frame.complete or final):
                        continue
                    if frame.complete:
                        pending.discard(frame.frame_id)
                        report.recovered += attempt > 0
                    yield frame
            if attempt == 0:
                report.first_pass_lost = len(pending)
            report.incomplete = sorted(pending)
            if not pending or final:
                return
            attempt += 1
            passes = (download_range(a, b) for a, b in _runs(sorted(pending), RETRY_MERGE_GAP))

    def _download_once(self, first, last, format, buffers, packet_delay, timeout):
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
        check(lib.HX_download(self.client.handle, self.handle, None), "HX_download")
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
            # An image whose first payload packets were lost comes back empty too, but with the
            # size its leader announced: that one is an incomplete frame, not a refusal.
            if frame.received_length == 0 and frame.image_length == 0:
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



class DownloadReport:
    """What a download with retries did: `first_pass_lost` frames were incomplete or missing after
    the first pass, `recovered` of them came whole later, `incomplete` lists the frames still not
    whole after `retries` tries."""

    def __init__(self, first, last, retries):
        self.first, self.last, self.retries = first, last, retries
        self.first_pass_lost, self.recovered, self.incomplete = 0, 0, []

    def __repr__(self):
        return (f"DownloadReport(frames {self.first}..{self.last}: {self.recovered} of {self.first_pass_lost} "
                f"recovered, still incomplete {self.incomplete})")


def _runs(ids, gap):
    """Sorted frame ids as (first, last) runs, neighbours at most `gap` frames apart joined. A
    download may not start at a recording's last frame, so a run of one frame starts a frame early
    (that frame, already whole, is passed over)."""
    runs = []
    for i in ids:
        if runs and i - runs[-1][1] <= gap + 1:
            runs[-1][1] = i
        else:
            runs.append([i, i])
    return [(max(a - 1, 0) if a == b else a, b) for a, b in runs]
