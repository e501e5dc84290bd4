"""A camera of a client: its settings, commands, recording and image streams."""
from __future__ import annotations

import ctypes
import time
import warnings
from typing import TYPE_CHECKING, Any, Callable, Iterable, Iterator, Optional

from . import _state as state
from . import frames as _frames
from ._layout import CONSTANTS as C
from ._native import BY_C_NAME, Record, library
from ._progress import Progress, ProgressCallback
from .errors import (HalvexError, RecordLengthChanged, SettingRefused, StateTimeout, StreamBusy, check,
                     read_again_on_failure)
from .settings import Settings
from .streams import PAGE, TIFF_ROOM, Frame, Geometry, LendCall, _Buffer, _Session

if TYPE_CHECKING:
    from .client import Client

SET, ERR = C["HX_FLAG_SET"], C["HX_FLAG_ERR"]
STATES = {C[f"HX_CAMERA_STATE_{name}"]: name.lower() for name in ("IDLE", "ARM", "TRIGGER", "REVIEW", "BUSY")}
# Frames already whole between two runs of frames to fetch again are fetched with them when there
# are no more than this many: starting a download costs more than a few frames.
RETRY_MERGE_GAP = 8
# Passes in a row that bring no frame whole before a download stops fetching again. A frame fetched
# alone fails often: at 1% packet loss a 58-packet frame comes back incomplete 44% of the time.
BARREN_PASSES = 5
FORMATS = {"tiff": C["HX_FORMAT_TIFF"], "packed": C["HX_FORMAT_PACKED"], "jpeg": C["HX_FORMAT_JPEG"]}
_UNFILLED_ERROR = C["HX_STREAM_STATUS_ERROR"]
# How often a wait for a camera state asks again, and how long a recording may take beyond what
# its length and frame rate say (arming, the exchanges, a busy host).
STATE_POLL = 0.02
RECORD_MARGIN = 10.0


def address_of(handle: int) -> str:
    """Dotted address of a camera handle (the address in network order in the low 32 bits)."""
    return ".".join(str((handle >> shift) & 0xFF) for shift in (0, 8, 16, 24))


class Camera:
    """One camera of a client. Settings records are attributes (capture, download_settings, io,
    playback_settings, stream_settings); images arrive through the live(), play() and download()
    generators. One run of each kind at a time per client and camera."""

    def __init__(self, client: Client, handle: int) -> None:
        self.client, self.handle, self.address = client, handle, address_of(handle)
        lib = library()
        self.capture = Settings(self, "HX_CAPTURE_SETTINGS", lib.HX_setup_capture_syn)
        self.download_settings = Settings(self, "HX_DOWNLOAD_SETTINGS", lib.HX_setup_download_syn)
        self.io = Settings(self, "HX_IO_SETTINGS", lib.HX_setup_io_syn)
        self.playback_settings = Settings(self, "HX_PLAYBACK_SETTINGS", lib.HX_setup_playback_syn)
        self.stream_settings = Settings(self, "HX_STREAM_SETTINGS", lib.HX_setup_stream_syn)
        self.download_report: Optional[DownloadReport] = None
        # Buffers lent for a stream kind, kept across runs: a buffer still lent when a run ends
        # joins the next run of that kind, which lends it again when the library gives it back.
        self._live_pool = self._pool("live")
        self._play_pool = self._pool("playback")
        self._download_pool = self._pool("download")

    def __repr__(self) -> str:
        return f"Camera({self.address})"

    def _pool(self, kind: str) -> list[_Buffer]:
        # Shared by every Camera object of this client and camera.
        with state.lock:
            return state.pools.setdefault((self.client.handle, self.handle, kind), [])

    def _setup(self, call: Callable[..., int], record: Record) -> None:
        check(call(self.client.handle, self.handle, ctypes.byref(record), ctypes.byref(record)),
              f"settings of camera {self.address}")

    def _read(self, call: Callable[..., int], c_name: str) -> Any:
        def once() -> Any:
            record = BY_C_NAME[c_name]()
            check(call(self.client.handle, self.handle, ctypes.byref(record)), f"{c_name} of camera {self.address}")
            return record
        return read_again_on_failure(once)

    def information(self) -> Any:
        """The camera's CameraInformation record (model, serial number, firmware, ...)."""
        return self._read(library().HX_get_camera_information_syn, "HX_CAMERA_INFORMATION")

    def temperature(self) -> Any:
        """The camera's Temperature record; HalvexError with the reason where it has no sensors."""
        return self._read(library().HX_temperature_syn, "HX_TEMPERATURE")

    def battery(self) -> Any:
        """The camera's BatteryInfo record."""
        return self._read(library().HX_get_battery_info, "HX_BATTERY_INFO")

    def subscribe(self) -> None:
        """Change events of this camera go to the client's on_event."""
        check(library().HX_subscribe(self.client.handle, self.handle), "HX_subscribe")

    def unsubscribe(self) -> None:
        """No more change events of this camera for this client."""
        check(library().HX_unsubscribe(self.client.handle, self.handle), "HX_unsubscribe")

    def release(self) -> None:
        """Gives the camera's handle back to the library (HX_release_handle)."""
        check(library().HX_release_handle(self.client.handle, self.handle), "HX_release_handle")

    # --- commands

    def command(self, code: Optional[int] = None) -> int:
        """Sends an HX_CMD_* code (or only reads, without one); returns the camera state code."""
        record = BY_C_NAME["HX_COMMAND"]()
        if code is not None:
            record.flags = SET
            record.code, record.code_flags = code, SET
        check(library().HX_command_syn(self.client.handle, self.handle, ctypes.byref(record), ctypes.byref(record)),
              f"command to camera {self.address}")
        if code is not None and record.code_flags & ERR:
            raise HalvexError(f"halvex: camera {self.address} refused command {code:#x} in state "
                              f"{STATES.get(record.code, record.code)}")
        return int(record.code)

    @property
    def state(self) -> str:
        """'idle', 'arm', 'trigger', 'review' or 'busy'."""
        code = read_again_on_failure(self.command)
        return STATES.get(code, str(code))

    def arm(self) -> int:
        """Arms the camera (it starts filling its memory); returns the state code."""
        return self.command(C["HX_CMD_ARM"])

    def trigger(self) -> int:
        """Triggers the recording; returns the state code."""
        return self.command(C["HX_CMD_TRIGGER"])

    def wait_for_state(self, state: str, timeout: float = 10.0) -> None:
        """Asks the camera until it is in `state` ('idle', 'arm', 'trigger', 'review' or 'busy');
        StateTimeout when it is not within `timeout` seconds."""
        self._wait_for_state(state, timeout, None)

    def _wait_for_state(self, state: str, timeout: float, looking: Optional[Callable[[float], None]]) -> None:
        if state not in STATES.values():
            raise ValueError(f"halvex: unknown camera state {state!r}; one of {', '.join(STATES.values())}")
        start = time.monotonic()
        while self.state != state:
            waited = time.monotonic() - start
            if waited >= timeout:
                raise StateTimeout(f"halvex: camera {self.address} did not reach state {state} in {timeout:.1f} s")
            if looking is not None:
                looking(waited)
            time.sleep(STATE_POLL)

    def record(self, length: Optional[int] = None, timeout: Optional[float] = None,
               on_progress: Optional[ProgressCallback] = None, progress: bool = False) -> int:
        """Records: sets the length (when given), arms, triggers and waits until the recording is
        held (state review). Returns the number of frames the camera records, which may be more
        than `length`: it rounds to its memory, and a RecordLengthChanged warning says so.

        The wait allows for that many frames at the camera's frame rate (plus a margin) unless
        `timeout` is given. Progress, estimated from the frame rate, goes to
        `on_progress(frames_done, frames_total)`, and with progress=True to a tqdm bar when tqdm
        is installed."""
        capture = self.capture.set(length=length) if length is not None else self.capture.read()
        frames = int(capture.length)
        if length is not None and frames != length:
            warnings.warn(RecordLengthChanged(
                f"camera {self.address} records {frames} frames, not {length}: it rounds the length to its "
                f"image memory (at {capture.width}x{capture.height})"), stacklevel=2)
        rate = max(1.0, capture.rate / max(1, capture.rate_divisor))
        if timeout is None:
            timeout = RECORD_MARGIN + 2.0 * frames / rate
        meter = Progress(frames, on_progress, progress, f"recording on {self.address}")
        try:
            self.arm()
            self.trigger()
            self._wait_for_state("review", timeout, lambda waited: meter.update(min(frames - 1, int(waited * rate))))
            meter.update(frames)
        finally:
            meter.close()
        return frames

    # --- streams

    def _geometry(self) -> Geometry:
        capture = self.capture.read()
        depth = _frames.depth_of_bit_mode(capture.bit_mode)
        if not depth:
            raise HalvexError(f"halvex: camera {self.address} reports bit mode {capture.bit_mode:#x}")
        return int(capture.width), int(capture.height), depth

    @staticmethod
    def _stream_size(geometry: Geometry) -> int:
        width, height, depth = geometry
        frame = _frames.frame_bytes(width, height, depth)
        tiff = width * height * (1 if depth == 8 else 2) + TIFF_ROOM
        return max(C["HX_STREAM_MIN_BUFFER_SIZE"], -(-max(frame, tiff) // PAGE) * PAGE)

    def _barrier(self) -> None:
        # A waiting call returns once everything posted to the camera before it has been handled.
        self.command()

    def _pooled(self, pool: list[_Buffer], call: LendCall, count: int, size: int, session: _Session) -> None:
        """Buffers of `pool` still lent join the session; returned ones are lent again; new ones
        make up the count."""
        lib_client, handle = self.client.handle, self.handle
        # Decided at one moment: a buffer still lent then is adopted (and lent again by the run
        # when it comes back), one already back is lent here; none is lent twice.
        back = []
        with state.lock:
            for buffer in pool:
                buffer.session = session
                if buffer.lent:
                    session.adopted[id(buffer)] = buffer.generation
                else:
                    back.append(buffer)
        for buffer in back:
            if buffer.array.size >= size:
                buffer.lend(call, lib_client, handle)
        while sum(1 for b in pool if b.array.size >= size) < count:
            buffer = _Buffer(size)
            buffer.session = session
            pool.append(buffer)
            buffer.lend(call, lib_client, handle)

    def _run(self, kind: str, frames: Iterator[Frame]) -> Iterator[Frame]:
        """`frames` as the run of `kind`: refused at once while another run of that kind goes on."""
        key = (self.client.handle, self.handle, kind)
        with state.lock:
            if key in state.running:
                raise StreamBusy(f"halvex: a {kind} run of camera {self.address} is already going on in this "
                                 "client; finish it or close its generator first")
        return self._claimed(key, frames)

    def _claimed(self, key: tuple[int, int, str], frames: Iterator[Frame]) -> Iterator[Frame]:
        with state.lock:
            if key in state.running:
                raise StreamBusy(f"halvex: a {key[2]} run of camera {self.address} is already going on in this "
                                 "client; finish it or close its generator first")
            state.running.add(key)
        try:
            yield from frames
        finally:
            with state.lock:
                state.running.discard(key)

    def _stream(self, pool: list[_Buffer], call: LendCall, kind: str, frames: Optional[int], buffers: int,
                timeout: float, zero_copy: bool, start: Callable[[], None], stop: Callable[[], Any]) -> Iterator[Frame]:
        geometry = self._geometry()
        size = self._stream_size(geometry)
        session = _Session()
        self._pooled(pool, call, buffers, size, session)
        start()
        try:
            delivered = 0
            while frames is None or delivered < frames:
                buffer = session.next(timeout, kind)
                more = frames is None or delivered + 1 < frames
                if buffer.array.size < size:
                    continue  # lent for a smaller image before the geometry changed
                if buffer.record.status & C["HX_STREAM_STATUS_LAST"] and buffer.record.received_length == 0:
                    if session.spare_of_earlier_run(buffer):  # still counted in flight for this run
                        buffer.lend(call, self.client.handle, self.handle)
                    continue
                frame = Frame(buffer, kind, geometry, zero_copy)
                if more and not zero_copy:  # the frame has its copy: the buffer goes straight back
                    buffer.lend(call, self.client.handle, self.handle)
                yield frame
                delivered += 1
                if more and zero_copy:  # a view stays valid until the next frame is asked for
                    buffer.lend(call, self.client.handle, self.handle)
        finally:
            if not state.finished:
                stop()
                self._barrier()

    def live(self, frames: Optional[int] = None, buffers: int = 4, timeout: float = 10.0,
             zero_copy: bool = False) -> Iterator[Frame]:
        """Live images as Frames (all of them when frames is None); live is switched off when the
        generator ends or is closed. zero_copy=True gives views of the library's buffers (see
        Frame)."""
        lib = library()
        return self._run("live", self._stream(
            self._live_pool, lib.HX_live, "live", frames, buffers, timeout, zero_copy,
            lambda: check(lib.HX_live_enable(self.client.handle, self.handle, 1), "live on"),
            lambda: lib.HX_live_enable(self.client.handle, self.handle, 0)))

    def play(self, frames: int, first: int = 0, last: Optional[int] = None, buffers: int = 4,
             timeout: float = 10.0, zero_copy: bool = False) -> Iterator[Frame]:
        """Frames of the recording played in the camera from `first` to `last` (default: to the
        end), over and over until `frames` have arrived; the playback pauses at the end."""
        lib = library()

        def start() -> None:
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

        def stop() -> None:
            pause = BY_C_NAME["HX_PLAYBACK_SETTINGS"](flags=SET, mode=C["HX_PLAY_PAUSE"], mode_flags=SET)
            self.playback_settings.apply(pause)

        return self._run("playback", self._stream(self._play_pool, lib.HX_play, "playback", frames, buffers, timeout,
                                                  zero_copy, start, stop))

    def download(self, first: int, last: int, format: str = "tiff", buffers: int = 64,
                 packet_delay: Optional[int] = None, timeout: float = 30.0, retries: Optional[int] = None,
                 zero_copy: bool = False) -> Iterator[Frame]:
        """Frames `first` to `last` of the recording (camera in review) as Frames. With format
        "packed" the library packs them when its packing library is installed.

        `buffers` images are in flight at most. The camera is paused while few are left, but what
        it sent before the pause arrived is lost when no buffer is free; `packet_delay` (micro-
        seconds between stream packets) paces a camera that sends faster than the host takes.

        The stream has no packet resend, so a lossy link leaves frames incomplete: those, and
        frames that never came, are downloaded again after the others, pass after pass until none
        is left or five passes in a row bring none of them whole. Whole frames come in order, fetched-again ones
        after them. `retries` caps the passes: a frame still incomplete at the last of them comes
        as it is (retries=0: every frame as it first arrived); without a cap, frames never whole
        are only named in `download_report`, which says what was lost and recovered.

        A download whose last frame was lost stalls until the library ends it (after 10 s without
        data), so `timeout` (seconds without an image) is longer than that by default."""
        if format not in FORMATS:
            raise ValueError(f"halvex: unknown download format {format!r}; one of {', '.join(FORMATS)}")
        report = DownloadReport(first, last, retries)

        def passes() -> Iterator[Frame]:
            self.download_report = report
            yield from self._with_retries(report, lambda a, b: self._download_once(
                a, b, format, buffers, packet_delay, timeout, zero_copy))

        return self._run("download", passes())

    def _with_retries(self, report: DownloadReport,
                      download_range: Callable[[int, int], Iterator[Frame]]) -> Iterator[Frame]:
        pending = set(range(report.first, report.last + 1))
        attempt = 0
        barren = 0  # passes in a row that brought no frame whole
        passes: Iterable[Iterator[Frame]] = [download_range(report.first, report.last)]
        while True:
            final = attempt == report.retries
            before = len(pending)
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
            report.passes = attempt + 1
            barren = barren + 1 if attempt > 0 and len(pending) == before else 0
            if not pending or final or barren == BARREN_PASSES:
                return
            attempt += 1
            passes = (download_range(a, b) for a, b in _runs(sorted(pending), RETRY_MERGE_GAP))

    def _download_once(self, first: int, last: int, format: str, buffers: int, packet_delay: Optional[int],
                       timeout: float, zero_copy: bool) -> Iterator[Frame]:
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
        return self._downloaded(session, geometry, timeout, zero_copy)

    def _downloaded(self, session: _Session, geometry: Geometry, timeout: float, zero_copy: bool) -> Iterator[Frame]:
        """The frames of one pass, until its last. Every buffer goes back to the library as soon as
        its frame is taken: the camera pauses while few are lent, and a frame that finds none is
        lost. The library gives the spares back when it ends the download, so nothing waits for
        them here; one lent just after the end stays queued and the next pass adopts it."""
        lend = library().HX_download
        last = False
        while not last:
            buffer = session.next(timeout, "download")
            record = buffer.record
            # An image whose first payload packets were lost comes back empty too, but with the
            # size its leader announced: that one is an incomplete frame, not a refusal.
            if record.received_length == 0 and record.image_length == 0:
                if record.status & _UNFILLED_ERROR and not record.status & C["HX_STREAM_STATUS_LAST"]:
                    raise HalvexError(f"halvex: camera {self.address} did not start the download (is it in review "
                                      "with a recording?)")
                if session.spare_of_earlier_run(buffer):
                    # An earlier download's spare, given back when it ended: it was counted in
                    # flight for this one, so it goes straight back to the library.
                    buffer.lend(lend, self.client.handle, self.handle)
                    continue
                return  # the library ended this download early (see the log); what is missing is fetched again
            frame = Frame(buffer, "download", geometry, zero_copy)
            last = frame.last
            if not last and not zero_copy:
                buffer.lend(lend, self.client.handle, self.handle)
            yield frame
            if not last and zero_copy:
                buffer.lend(lend, self.client.handle, self.handle)


class DownloadReport:
    """What a download with retries did: `first_pass_lost` frames were incomplete or missing after
    the first pass, `recovered` of them came whole later in `passes` passes in all, `incomplete`
    lists the frames still not whole at the end (lost)."""

    def __init__(self, first: int, last: int, retries: Optional[int]) -> None:
        self.first, self.last, self.retries = first, last, retries
        self.first_pass_lost, self.recovered, self.passes = 0, 0, 0
        self.incomplete: list[int] = []

    def to_dict(self) -> dict[str, Any]:
        """The report's fields as a dict."""
        return {"first": self.first, "last": self.last, "retries": self.retries, "passes": self.passes,
                "first_pass_lost": self.first_pass_lost, "recovered": self.recovered,
                "incomplete": list(self.incomplete)}

    def __repr__(self) -> str:
        return (f"DownloadReport(frames {self.first}..{self.last}: {self.first_pass_lost} incomplete or missing "
                f"after the first pass, {self.recovered} recovered in {self.passes} passes in all, "
                f"lost {self.incomplete})")


def _runs(ids: list[int], gap: int) -> list[tuple[int, int]]:
    """Sorted frame ids as (first, last) runs, neighbours at most `gap` frames apart joined. A
    download may not start at a recording's last frame, so a run of one frame starts a frame early
    (that frame, already whole, is passed over)."""
    runs: list[list[int]] = []
    for i in ids:
        if runs and i - runs[-1][1] <= gap + 1:
            runs[-1][1] = i
        else:
            runs.append([i, i])
    return [(max(a - 1, 0) if a == b else a, b) for a, b in runs]
