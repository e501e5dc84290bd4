"""The Python host against hxsim: settings, refusals, events, recording, download, live and
playback, with the pixels checked against what the camera draws into every frame."""
import os
import subprocess
import sys
import threading

import numpy as np
import pytest

import halvex
from conftest import FIRST, SECOND, check_drawing, frames_sent, run_hxsim, serial_of, small_capture

C = halvex.constants
PYTHON_DIR = os.path.join(os.path.dirname(__file__), "..", "..", "..", "bindings", "python")


def test_settings_round_trip(camera):
    small_capture(camera, width=512, height=128)
    camera.capture.exposure = 300
    capture = camera.capture.read()
    assert (capture.width, capture.height, capture.exposure) == (512, 128, 300)
    assert camera.capture.exposure == 300
    changed = camera.capture.set(x_offset=64, y_offset=32)
    assert (changed.x_offset, changed.y_offset) == (64, 32)
    assert not changed.flags & C.FLAG_ERR


def test_refusals_carry_the_limits(camera):
    small_capture(camera)
    limits = camera.capture.read()
    with pytest.raises(halvex.SettingRefused) as refused:
        camera.capture.rate = limits.rate_max + 1000
    assert (refused.value.field, refused.value.maximum, refused.value.minimum) == ("rate", limits.rate_max,
                                                                                   limits.rate_min)
    with pytest.raises(halvex.SettingRefused) as refused:
        camera.capture.bns_mode = 0x40
    assert refused.value.choices == limits.bns_mode_caps
    assert camera.capture.rate == limits.rate


def test_change_events_reach_a_python_callable(client, hxsim):
    seen, arrived = [], threading.Event()

    def on_event(event):
        seen.append((event, threading.current_thread() is threading.main_thread()))
        if event.name == "capture_change" and event.data.exposure == 250:
            arrived.set()

    with halvex.Client(on_event=on_event) as listener:
        listener.camera(SECOND).subscribe()
        client.camera(SECOND).capture.exposure = 250
        assert arrived.wait(10), f"no capture change with the new exposure; events: {seen}"
    event, on_main = next((e, main) for e, main in seen if e.name == "capture_change")
    assert event.camera == SECOND and isinstance(event.data, halvex.records.CaptureSettings)
    assert not on_main, "events arrive on the library's callback thread"


@pytest.mark.parametrize("bit_mode, format", [(C.BIT_MODE_8A, "tiff"), (C.BIT_MODE_12, "tiff"),
                                              (C.BIT_MODE_12, "packed"), (C.BIT_MODE_10A, "packed")])
def test_download_delivers_the_recorded_frames(camera, bit_mode, format):
    small_capture(camera, bit_mode=bit_mode)
    camera.record(length=16)
    frames, raw = [], []
    # Fewer buffers than frames: each goes back to the library as soon as it has been read.
    for f in camera.download(2, 9, format=format, buffers=6, packet_delay=2000):
        frames.append((f.frame_id, f.complete, f.last, f.pixels.copy()))
        raw.append(f.data[:4].copy())
    assert [f[0] for f in frames] == list(range(2, 10))
    assert all(complete for _, complete, _, _ in frames) and frames[-1][2]
    assert all(halvex.frames.is_tiff(pixels) == (format == "tiff") for pixels in raw), "packed by the library"
    serial = int(frames[0][3].reshape(-1)[4:8].astype(np.uint8).view("<u4")[0])
    for frame_id, _, _, pixels in frames:
        assert pixels.shape == (64, 256)
        check_drawing(pixels, frame_id, serial)


@pytest.fixture(scope="module")
def lossy(client, tmp_path_factory):
    """A camera whose stream drops 3% of its packets (seeded: the same frames break every run)."""
    yield from run_hxsim(tmp_path_factory, "--address", "127.0.0.9", "--fault", "stream.drop=0.03")


def test_download_fetches_incomplete_frames_again(client, lossy):
    camera = client.camera("127.0.0.9")
    small_capture(camera)
    camera.record(length=24)
    once = [(f.frame_id, f.complete) for f in camera.download(0, 23, buffers=8, packet_delay=500, retries=0)]
    report = camera.download_report
    assert report.first_pass_lost > 0 and report.recovered == 0, "a 3% packet loss broke no frame"
    assert report.incomplete == sorted(set(range(24)) - {i for i, whole in once if whole})
    again = {}
    for f in camera.download(0, 23, buffers=8, packet_delay=500, retries=8):
        assert f.complete and f.frame_id not in again
        again[f.frame_id] = f.pixels.copy()
    report = camera.download_report
    assert sorted(again) == list(range(24)), report
    assert report.recovered == report.first_pass_lost > 0 and report.incomplete == []
    serial = int(again[0].reshape(-1)[4:8].astype(np.uint8).view("<u4")[0])
    for frame_id, pixels in again.items():
        check_drawing(pixels, frame_id, serial)


def test_live_frames_land_in_the_arrays_the_library_filled(camera):
    small_capture(camera)
    received = []
    for frame in camera.live(frames=5, buffers=3, zero_copy=True):
        assert frame.complete and np.shares_memory(frame.pixels, frame.data)
        assert any(np.shares_memory(frame.data, b.array) for b in camera._live_pool), "a view of a lent buffer"
        check_drawing(frame.pixels, frame.frame_id, 0)
        received.append(frame.frame_id)
    assert received == sorted(received) and len(set(received)) == 5
    small_capture(camera, bit_mode=C.BIT_MODE_10A, width=252)
    (frame,) = camera.live(frames=1)
    assert frame.pixels.shape == (64, 252) and frame.data[:4].view("<u4")[0] == frame.frame_id
    assert frame.received_length == halvex.frames.frame_bytes(252, 64, 10)


def test_playback_hands_over_what_the_camera_sent_in_order(camera, hxsim):
    """The camera plays by the clock: it sends the frame due when it sends, at least 20 ms apart,
    so over a short range it repeats and skips frames itself (more so on a loaded machine). The
    host must hand over exactly what it sent, in its order: with a buffer lent for every frame
    nothing may be missed; with fewer, a host slower than the playback may miss frames, but what
    it hands over still comes in the camera's order, never twice unless sent twice."""
    small_capture(camera)
    camera.record(length=12)
    def in_order_within(received, sent):
        left = iter(sent)  # each frame received is found further along what was sent
        return all(any(s == r for s in left) for r in received)

    # Two buffers first: the camera object's pool then grows to six for the second run.
    for buffers in (2, 6):
        since = hxsim.stat().st_size
        frames = list(camera.play(frames=6, first=3, last=6, buffers=buffers))
        received = [f.frame_id for f in frames]
        for f in frames:
            check_drawing(f.pixels, f.frame_id, serial_of(f.pixels))
        assert set(received) <= {3, 4, 5, 6}, received
        if buffers >= len(frames):
            sent = frames_sent(hxsim, FIRST, since, "playback", lambda sent: len(sent) >= 6)
            assert received == sent[:6], f"received {received}, the camera sent {sent}"
        else:
            sent = frames_sent(hxsim, FIRST, since, "playback", lambda sent: in_order_within(received, sent))
            assert in_order_within(received, sent), f"received {received}, the camera sent {sent}"


@pytest.fixture(scope="module")
def foreign(client, tmp_path_factory):
    """A camera of another make, at an address of its own."""
    yield from run_hxsim(tmp_path_factory, "--address", "127.0.0.7", "--wrong-manufacturer", "--model", "Model 9")


def test_a_camera_of_another_make_is_named_not_missed(client, foreign):
    with pytest.raises(halvex.CameraNotSupported) as refused:
        client.camera("127.0.0.7", wait=3.0)
    error = refused.value
    assert (error.address, error.maker, error.model) == ("127.0.0.7", "Elsewhere Imaging", "Model 9")
    assert "a camera answered at 127.0.0.7" in str(error) and "not supported" in str(error), str(error)
    # Where nothing answers, the error says so instead.
    with pytest.raises(halvex.HalvexError) as missing:
        client.camera("127.0.0.8", wait=0.5)
    assert not isinstance(missing.value, halvex.CameraNotSupported) and "no camera answers" in str(missing.value)


def test_list_command(hxsim):
    result = subprocess.run([sys.executable, "-m", "halvex", "list", "--address", FIRST], capture_output=True,
                            text=True, timeout=60, cwd=PYTHON_DIR)
    assert result.returncode == 0, result.stderr
    assert FIRST in result.stdout and "hxsim qT" in result.stdout


SHUTDOWN_SCRIPT = """
import halvex
client = halvex.Client()
camera = client.camera("127.0.0.3")
camera.capture.set(width=256, height=64)
live = camera.live(buffers=4)
first = next(live)
second = next(live)
halvex.shutdown()
print("shut down with live running after frames", first.frame_id, second.frame_id)
"""


def test_shutdown_with_a_stream_running(hxsim):
    result = subprocess.run([sys.executable, "-c", SHUTDOWN_SCRIPT], capture_output=True, text=True, timeout=60,
                            cwd=PYTHON_DIR)
    assert result.returncode == 0, result.stdout[-2000:] + result.stderr[-2000:]
    assert "shut down with live running" in result.stdout
