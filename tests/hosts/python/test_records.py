"""Records laid out as the compiler lays out hx.h, prepared as the library prepares them, and the
camera's pixel layouts unpacked."""
import ctypes
import os

import numpy as np
import pytest

import halvex
from halvex import _native


def compiled_layout():
    records = {}
    with open(os.environ["HX_LAYOUT"]) as f:
        for line in f:
            words = line.split()
            if words[0] == "record":
                records[words[1]] = (int(words[2]), {})
            elif words[0] == "field":
                records[words[1]][1][words[2]] = int(words[3])
    return records


def test_every_record_matches_the_compiled_header():
    records = compiled_layout()
    assert set(records) == set(_native.BY_C_NAME)
    for name, (size, offsets) in records.items():
        cls = _native.BY_C_NAME[name]
        assert ctypes.sizeof(cls) == size, name
        for field, offset in offsets.items():
            member = field if field not in cls._texts else f"_text_{field}"
            assert getattr(cls, member).offset == offset, f"{name}.{field}"


def test_records_start_as_the_library_prepares_them():
    lib = _native.library()
    for name, cls in _native.BY_C_NAME.items():
        init = getattr(lib, "HX_" + name[len("HX_"):].lower() + "_init", None)
        if init is None:
            continue
        prepared = cls()
        prepared.flags = 0xFFFFFFFF
        assert init(ctypes.byref(prepared), ctypes.sizeof(cls)) == 0, name
        assert bytes(prepared) == bytes(cls()), name


def test_fields_read_and_write_by_name():
    info = halvex.records.CameraInformation(model_name="hxsim qT")
    assert info.model_name == "hxsim qT" and info.user_name == ""
    with pytest.raises(ValueError):
        info.user_name = "x" * 17
    capture = halvex.records.CaptureSettings(rate=500)
    assert capture.to_dict()["rate"] == 500 and capture.copy() == capture


@pytest.mark.parametrize("depth, width, pixels, packed", [
    (10, 4, [0x3FF, 0x001, 0x2AA, 0x155], "FF07A02A55010000"),
    (12, 6, [0xABC, 0x123, 0xFFF, 0x000, 0x801, 0x7FE], "BC3A12FF0F000108FE07000000000000"),
    (8, 5, [1, 2, 3, 4, 5, 6, 7, 8, 9, 10], "0102030405000000060708090A000000"),
])
def test_packed_layouts(depth, width, pixels, packed):
    height = len(pixels) // width
    data = np.frombuffer(bytes.fromhex(packed), dtype=np.uint8)
    image = halvex.unpack(data, width, height, depth)
    assert image.tolist() == np.array(pixels).reshape(height, width).tolist()
    assert halvex.pack(image, depth).tobytes() == bytes.fromhex(packed)


def test_random_images_survive_packing():
    rng = np.random.default_rng(7)
    for depth in (10, 12):
        image = rng.integers(0, 1 << depth, size=(5, 13))
        assert (halvex.unpack(halvex.pack(image, depth), 13, 5, depth) == image).all()
    with pytest.raises(ValueError):
        halvex.unpack(np.zeros(10, np.uint8), 13, 5, 12)
