"""The package as a Python user meets it: its modules and version, the library's log in Python's
logging with nothing printed, failures that carry the library's reason, and the command line."""
import importlib
import inspect
import logging
import os
import re
import subprocess
import sys

import pytest

import halvex
from conftest import FIRST, PYTHON_DIR

TIME_STAMP = re.compile(r"\d{8} \d{6}\.\d{6}")


def test_modules_version_and_types_ship_with_the_package():
    constants = importlib.import_module("halvex.constants")
    records = importlib.import_module("halvex.records")
    from halvex.constants import BIT_MODE_12
    from halvex.records import CaptureSettings
    assert constants.BIT_MODE_12 == BIT_MODE_12 == halvex.constants.BIT_MODE_12
    assert records.CaptureSettings is CaptureSettings and isinstance(CaptureSettings(), records.Record)
    with pytest.raises(AttributeError):
        constants.NO_SUCH_CONSTANT
    assert halvex.__version__ == os.environ["HX_VERSION"], "the package's version is the project's"
    package = os.path.dirname(halvex.__file__)
    assert os.path.exists(os.path.join(package, "py.typed")), "type hints are declared to type checkers"
    public = [(name, getattr(halvex, name)) for name in halvex.__all__ if name != "__version__"]
    public += [(f"{name}.{member}", value) for name, cls in public if inspect.isclass(cls)
               for member, value in vars(cls).items()
               if not member.startswith("_") and (callable(value) or isinstance(value, property))]
    undocumented = [name for name, value in public if not (value.__doc__ or "").strip()]
    assert not undocumented, f"public names without a docstring: {undocumented}"


def test_library_lines_go_to_logging_and_reasons_into_exceptions(camera, caplog):
    caplog.set_level(logging.DEBUG, logger="halvex")
    with pytest.raises(halvex.HalvexError) as failed:
        camera.temperature()  # the stand-in camera has no temperature sensors
    assert failed.value.reason and failed.value.reason in str(failed.value)
    lines = [r for r in caplog.records if r.name == "halvex" and failed.value.reason in r.getMessage()]
    assert lines and lines[0].levelno == logging.WARNING, caplog.text
    assert not TIME_STAMP.search(lines[0].getMessage()), "the logging record's time stamp is the only one"
    small_capture_rate = camera.capture.read()
    with pytest.raises(halvex.SettingRefused) as refused:
        camera.capture.rate = small_capture_rate.rate_max + 1000
    assert refused.value.reason, "a refused setting carries the library's reason too"


QUIET_SCRIPT = f"""
import halvex
with halvex.Client() as client:
    camera = client.camera("{FIRST}")
    try:
        camera.temperature()
    except halvex.HalvexError as error:
        reason = error.reason
halvex.shutdown()
print("reason:", reason)
"""


def test_nothing_is_printed_unless_logging_is_configured(hxsim):
    quiet = subprocess.run([sys.executable, "-c", QUIET_SCRIPT], capture_output=True, text=True, timeout=60,
                           cwd=PYTHON_DIR)
    assert quiet.returncode == 0, quiet.stderr
    assert quiet.stdout.startswith("reason: ") and quiet.stdout.count("\n") == 1, quiet.stdout
    assert quiet.stderr == "", quiet.stderr
    configured = "import logging; logging.basicConfig(format='%(levelname)s %(name)s %(message)s')\n" + QUIET_SCRIPT
    loud = subprocess.run([sys.executable, "-c", configured], capture_output=True, text=True, timeout=60,
                          cwd=PYTHON_DIR)
    assert "WARNING halvex " in loud.stderr, loud.stderr


def test_list_without_addresses_says_how_loopback_cameras_are_found(hxsim):
    result = subprocess.run([sys.executable, "-m", "halvex", "list", "--wait", "0.5"], capture_output=True,
                            text=True, timeout=60, cwd=PYTHON_DIR)
    assert result.returncode == 1 and result.stdout == ""
    assert "--address" in result.stderr and "loopback" in result.stderr, result.stderr
