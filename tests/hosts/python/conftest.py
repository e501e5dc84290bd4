"""Fixtures of the Python host's tests: hxsim started beside them (the test run is inside a private
network namespace, scripts/in-netns), one library client for the session, and the compiled layout."""
import os
import subprocess
import sys
import threading

import numpy as np
import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "..", "bindings", "python"))
PYTHON_DIR = sys.path[0]

import halvex  # noqa: E402

FIRST, SECOND = "127.0.0.2", "127.0.0.3"


# Notified whenever a line reaches an hxsim log.
LOG_GREW = threading.Condition()


def copy_output(sim, log, running):
    """Copies hxsim's output into the log as it comes (a pipe nobody reads would stop hxsim once
    full) and sets `running` at the line saying its cameras run, or when its output ends."""
    with open(log, "wb") as out:
        for line in sim.stdout:
            out.write(line)
            out.flush()
            with LOG_GREW:
                LOG_GREW.notify_all()
            if b" running;" in line:
                running.set()
    running.set()


def run_hxsim(tmp_path_factory, *options):
    """Starts hxsim with small lince cameras and `options`; yields its log, stops it afterwards.
    The log names every live and playback image a camera sends (frames_sent)."""
    if not os.environ.get("HX_NETNS_INODE"):
        pytest.exit("run the host tests inside scripts/in-netns", returncode=1)
    log = tmp_path_factory.mktemp("hxsim") / "sim.log"
    sim = subprocess.Popen([os.environ["HXSIM"], "--sensor", "lince", "--memory", "1G", "--time-scale", "20",
                            "--log-frames", *options], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    running = threading.Event()
    threading.Thread(target=copy_output, args=(sim, log, running), daemon=True).start()
    if not running.wait(10):
        sim.kill()
        pytest.fail("hxsim did not say its cameras run within 10 s")
    assert " running;" in log.read_text() and sim.poll() is None, log.read_text()
    yield log
    sim.terminate()
    sim.wait(10)


@pytest.fixture(scope="session")
def hxsim(tmp_path_factory):
    yield from run_hxsim(tmp_path_factory, "--cameras", "2")


@pytest.fixture(scope="session")
def client(hxsim):
    with halvex.Client(trace=bool(os.environ.get("HX_TEST_TRACE"))) as session_client:
        yield session_client
    halvex.shutdown()


@pytest.fixture
def camera(client):
    return client.camera(FIRST)


def small_capture(camera, bit_mode=halvex.constants.BIT_MODE_8A, width=256, height=64):
    camera.capture.set(bit_mode=bit_mode, width=width, height=height, x_offset=0, y_offset=0)


def frames_sent(log, address, since, kind, enough, deadline=10.0):
    """The frame numbers of the `kind` images ("live", "playback") the camera at `address` sent
    after the log was `since` bytes long, once `enough(numbers)` holds or `deadline` seconds have
    passed (hxsim's output reaches the log a little after the host has the image)."""
    mark = f" {address}: stream: {kind} frame "

    def sent():
        with open(log, "rb") as text:
            text.seek(since)
            return [int(line.split(mark)[1].split()[0]) for line in text.read().decode().splitlines() if mark in line]

    with LOG_GREW:
        LOG_GREW.wait_for(lambda: enough(sent()), deadline)
    return sent()


def pattern(frame_number, height, width):
    """The camera's drawing: (column + row + 3 x frame) mod 256, frame number and serial in front."""
    rows, columns = np.indices((height, width))
    return ((columns + rows + 3 * frame_number) % 256).astype(np.uint16)


def check_drawing(pixels, frame_number, serial):
    height, width = pixels.shape
    flat = pixels.reshape(-1)
    assert flat[:8].tolist() == list((frame_number | serial << 32).to_bytes(8, "little")), \
        f"frame number and serial of frame {frame_number}: {flat[:8].tolist()}"
    assert (pixels.reshape(-1)[8:] == pattern(frame_number, height, width).reshape(-1)[8:]).all(), \
        f"pattern of frame {frame_number}"


def serial_of(pixels):
    return int(pixels.reshape(-1)[4:8].astype(np.uint8).view("<u4")[0])


def pytest_configure(config):
    # The camera records whole memory segments: tests that ask for a few frames know they get more.
    config.addinivalue_line("filterwarnings", "ignore::halvex.RecordLengthChanged")
