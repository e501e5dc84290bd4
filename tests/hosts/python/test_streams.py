"""Frames as Python code keeps them, runs that refuse to overlap, and recordings as long as the
camera really makes them."""
import warnings

import pytest

import halvex
from conftest import check_drawing, serial_of, small_capture


def test_kept_frames_keep_their_own_pixels(camera):
    small_capture(camera)
    recorded = camera.record(length=40)
    # Fewer buffers than frames: every buffer is filled several times during the run.
    frames = list(camera.download(0, 29, buffers=6, packet_delay=2000))
    assert [f.frame_id for f in frames] == list(range(30))
    serial = serial_of(frames[0].pixels)
    for frame in frames:
        check_drawing(frame.pixels, frame.frame_id, serial)
        assert frame.complete and not frame.zero_copy
    assert frames[-1].last and "last" in frames[-1].status_text and "complete" in frames[-1].status_text
    assert not frames[0].last and "last" not in frames[0].status_text
    described = frames[3].to_dict()
    assert (described["frame_id"], described["width"], described["height"]) == (3, 256, 64)
    assert "3" in repr(frames[3]) and "256x64" in repr(frames[3])
    # The camera's TIFF files read from plain bytes as from arrays; anything else is refused.
    assert (halvex.read_tiff(bytes(frames[5].data)) == frames[5].pixels).all()
    assert (halvex.read_tiff(bytearray(frames[5].data.tobytes())) == frames[5].pixels).all()
    with pytest.raises(ValueError, match="TIFF"):
        halvex.read_tiff(b"not an image at all")
    live = list(camera.live(frames=8, buffers=3))
    assert len({f.frame_id for f in live}) == 8
    for frame in live:
        check_drawing(frame.pixels, frame.frame_id, 0)
    assert recorded >= 40


def test_zero_copy_frames_refuse_to_show_a_reused_buffer(camera):
    small_capture(camera)
    camera.record(length=20)
    kept, copies = [], []
    for frame in camera.download(0, 11, buffers=4, packet_delay=2000, zero_copy=True):
        assert frame.zero_copy
        copies.append(frame.copy())
        kept.append(frame)
    assert [f.frame_id for f in kept] == list(range(12))
    with pytest.raises(halvex.FrameReleased, match="zero_copy"):
        kept[0].pixels
    with pytest.raises(halvex.FrameReleased):
        kept[0].data
    serial = serial_of(copies[0].pixels)
    check_drawing(kept[-1].pixels, 11, serial)  # the last frame of a run stays valid
    for frame in copies:
        check_drawing(frame.pixels, frame.frame_id, serial)


def test_a_second_run_of_a_kind_is_refused_at_once(camera):
    small_capture(camera)
    running = camera.live(buffers=3)
    next(running)
    with pytest.raises(halvex.StreamBusy, match="live"):
        next(camera.live(frames=1, timeout=60))
    running.close()
    (frame,) = camera.live(frames=1)
    assert frame.complete, "live runs again once the first run was closed"
    camera.record(length=16)
    download = camera.download(0, 9, buffers=4, packet_delay=2000)
    next(download)
    with pytest.raises(halvex.StreamBusy, match="download"):
        camera.download(0, 3, timeout=60)
    assert len(list(download)) == 9, "the refused download did not disturb the running one"


def test_waits_fail_with_errors_python_knows(camera):
    assert issubclass(halvex.StreamTimeout, TimeoutError) and issubclass(halvex.StateTimeout, TimeoutError)
    with pytest.raises(ValueError, match="review"):
        camera.wait_for_state("bogus", timeout=60)
    other = "arm" if camera.state != "arm" else "idle"
    with pytest.raises(halvex.StateTimeout, match=other):
        camera.wait_for_state(other, timeout=0)


def test_record_says_what_the_camera_records(camera, monkeypatch):
    camera.capture.set(bit_mode=halvex.constants.BIT_MODE_8A, width=256, height=128, x_offset=0, y_offset=0)
    seen = []
    with pytest.warns(halvex.RecordLengthChanged, match="40"):
        frames = camera.record(length=40, on_progress=lambda done, total: seen.append((done, total)))
    assert frames > 40 and frames == camera.capture.length, "the length returned is the camera's"
    assert seen and seen[-1] == (frames, frames) and all(total == frames for _, total in seen)
    assert [done for done, _ in seen] == sorted({done for done, _ in seen}), "progress only grows"
    last = list(camera.download(frames - 2, frames - 1, buffers=4, packet_delay=1000))
    assert [f.frame_id for f in last] == [frames - 2, frames - 1] and last[-1].complete

    bars = []

    class Bar:
        def __init__(self, total, **options):
            self.total, self.count, self.closed = total, 0, False
            bars.append(self)

        def update(self, count):
            self.count += count

        def close(self):
            self.closed = True

    monkeypatch.setitem(__import__("sys").modules, "tqdm", type("tqdm", (), {"tqdm": Bar}))
    with warnings.catch_warnings():
        warnings.simplefilter("error")  # a length the camera keeps gives no warning
        assert camera.record(length=frames, progress=True) == frames
    assert len(bars) == 1 and bars[0].total == bars[0].count == frames and bars[0].closed


def test_settings_read_as_plain_python(camera):
    small_capture(camera, width=512, height=128)
    values = dict(camera.capture)
    assert values == camera.capture.to_dict() and (values["width"], values["height"]) == (512, 128)
    assert "width=512" in repr(camera.capture) and camera.address in repr(camera.capture)
    record = camera.capture.read()
    assert dict(record)["width"] == 512 and "width=512" in repr(record)


def test_a_download_ends_with_its_last_frame(camera, monkeypatch):
    small_capture(camera)
    camera.record(length=40)
    asked_after_last, seen_last = [], [False]
    original = halvex.streams._Session.next

    def watched(session, timeout, what):
        asked_after_last.append(seen_last[0])
        return original(session, timeout, what)

    monkeypatch.setattr(halvex.streams._Session, "next", watched)
    for first, last in ((0, 19), (10, 29), (25, 29)):
        seen_last[0] = False
        frames = []
        for frame in camera.download(first, last, buffers=12, packet_delay=1000):
            frames.append(frame)
            seen_last[0] = frame.last
        assert not any(asked_after_last), f"frames {first}..{last}: the download waited after its last frame"
        assert [f.frame_id for f in frames] == list(range(first, last + 1))
        # Buffers lent as the previous download ended are used by this one: its frames must be its own.
        serial = serial_of(frames[0].pixels)
        for frame in frames:
            check_drawing(frame.pixels, frame.frame_id, serial)
