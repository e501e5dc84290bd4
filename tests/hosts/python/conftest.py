"""Fixtures of the Python host's tests: hxsim started beside them (the test run is inside a private
network namespace, scripts/in-netns), one library client for the session, and the compiled layout."""
import os
import subprocess
import sys
import time

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "..", "python"))

import halvex  # noqa: E402

FIRST, SECOND = "127.0.0.2", "127.0.0.3"


def wait_for(condition, seconds, what):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() >= deadline:
            pytest.fail(f"{what} within {seconds} s")
        time.sleep(0.05)


def run_hxsim(tmp_path_factory, *options):
    """Starts hxsim with small lince cameras and `options`; yields its log, stops it afterwards."""
    if not os.environ.get("HX_NETNS_INODE"):
        pytest.exit("run the host tests inside scripts/in-netns", returncode=1)
    log = tmp_path_factory.mktemp("hxsim") / "sim.log"
    with open(log, "w") as out:
        sim = subprocess.Popen([os.environ["HXSIM"], "--sensor", "lince", "--memory", "1G", "--time-scale", "20",
                                *options], stdout=out, stderr=subprocess.STDOUT)
    wait_for(lambda: "running" in log.read_text() or sim.poll() is not None, 10, "hxsim starts")
    assert sim.poll() is None, log.read_text()
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
