"""Images as NumPy arrays: the camera's frame layouts (live and playback images, packed downloads)
unpacked into one value per pixel, and TIFF downloads read in place.

Layouts (see docs/packing.md): rows follow one another; each row is cut into groups of pixels, a
group being one little-endian word with pixel k in bits k*depth and up. Depth 8: four pixels per
32-bit word, depth 10: three per 32-bit word, depth 12: five per 64-bit word. A row ending inside
a group fills the rest of the group with zeros.
"""
from __future__ import annotations

import struct
from typing import Any, Union

import numpy as np
import numpy.typing as npt

from ._layout import CONSTANTS

Bytes = Union[bytes, bytearray, memoryview, npt.NDArray[Any]]

# Depth by HX_BIT_MODE_* bit.
_DEPTHS = {CONSTANTS[f"HX_BIT_MODE_{name}"]: 8 for name in ("8A", "8B", "8C", "8D", "8E")}
_DEPTHS.update({CONSTANTS[f"HX_BIT_MODE_{name}"]: 10 for name in ("10A", "10B", "10C")})
_DEPTHS[CONSTANTS["HX_BIT_MODE_12"]] = 12

# depth: (pixels per group, word type)
_GROUPS: dict[int, tuple[int, np.dtype[Any]]] = {8: (4, np.dtype("<u4")), 10: (3, np.dtype("<u4")), 12: (5, np.dtype("<u8"))}


def _as_bytes(data: Bytes) -> npt.NDArray[np.uint8]:
    """A uint8 array over `data` (no copy): bytes-like objects and arrays alike."""
    if isinstance(data, (bytes, bytearray, memoryview)):
        return np.frombuffer(data, dtype=np.uint8)
    return np.asarray(data, dtype=np.uint8).reshape(-1)


def depth_of_bit_mode(bit_mode: int) -> int:
    """8, 10 or 12 for an HX_BIT_MODE_* bit; 0 for anything else."""
    return _DEPTHS.get(bit_mode, 0)


def row_bytes(width: int, depth: int) -> int:
    """Bytes of one row of `width` pixels in the camera's layout at `depth`."""
    per_group, word = _GROUPS[depth]
    return -(-width // per_group) * word.itemsize


def frame_bytes(width: int, height: int, depth: int) -> int:
    """Bytes of one image in the camera's layout."""
    return row_bytes(width, depth) * height


def unpack(data: Bytes, width: int, height: int, depth: int) -> npt.NDArray[Any]:
    """Pixels (height x width) from bytes in the camera's layout. Depth 8 gives a view of `data`
    (no copy); depths 10 and 12 give a new uint16 array."""
    if depth not in _GROUPS:
        raise ValueError(f"no camera layout has depth {depth} (8, 10 or 12)")
    data = _as_bytes(data)
    stride = row_bytes(width, depth)
    if data.size < stride * height:
        raise ValueError(f"{data.size} bytes hold no {width} x {height} image at depth {depth}")
    rows = data[:stride * height].reshape(height, stride)
    if depth == 8:
        return rows[:, :width]
    per_group, word = _GROUPS[depth]
    words = rows.view(word)
    mask = word.type((1 << depth) - 1)
    shifts = (np.arange(per_group, dtype=word) * word.type(depth))
    pixels: npt.NDArray[Any] = (words[:, :, None] >> shifts) & mask
    return pixels.reshape(height, -1)[:, :width].astype(np.uint16)


def pack(pixels: npt.ArrayLike, depth: int) -> npt.NDArray[np.uint8]:
    """The camera's layout of a (height x width) array: the inverse of unpack."""
    pixels = np.asarray(pixels)
    if depth not in _GROUPS or pixels.ndim != 2:
        raise ValueError(f"pack takes a (height x width) array and depth 8, 10 or 12, not {pixels.shape} at {depth}")
    height, width = pixels.shape
    per_group, word = _GROUPS[depth]
    groups = -(-width // per_group)
    padded = np.zeros((height, groups * per_group), dtype=word)
    padded[:, :width] = pixels & ((1 << depth) - 1)
    shifts = np.arange(per_group, dtype=word) * word.type(depth)
    words: npt.NDArray[Any] = np.bitwise_or.reduce(padded.reshape(height, groups, per_group) << shifts, axis=2)
    return words.astype(word).view(np.uint8).reshape(-1)


def is_tiff(data: Bytes) -> bool:
    """Whether the bytes start like a TIFF file."""
    return _as_bytes(data)[:4].tobytes() in (b"II*\x00", b"MM\x00*")


_TIFF_TYPES = {3: ("H", 2), 4: ("I", 4)}  # SHORT, LONG


def read_tiff(data: Bytes) -> npt.NDArray[Any]:
    """Pixels of an uncompressed one-strip (or contiguous strips) grey TIFF, as a view of `data`
    (bytes, bytearray, memoryview or a uint8 array): (height x width) uint8 or uint16. Raises
    ValueError for anything else."""
    data = _as_bytes(data)
    raw = data.tobytes()[:8] if data.size >= 8 else b""
    if raw[:4] == b"II*\x00":
        order = "<"
    elif raw[:4] == b"MM\x00*":
        order = ">"
    else:
        raise ValueError("not a TIFF file")
    (directory,) = struct.unpack(order + "I", raw[4:8])
    header = data[directory:directory + 2].tobytes()
    if len(header) < 2:
        raise ValueError("TIFF directory beyond the data")
    (count,) = struct.unpack(order + "H", header)
    entries = data[directory + 2:directory + 2 + 12 * count].tobytes()
    if len(entries) < 12 * count:
        raise ValueError("TIFF directory cut short")
    tags: dict[int, int] = {}
    for i in range(count):
        tag, kind, number = struct.unpack(order + "HHI", entries[12 * i:12 * i + 8])
        if kind in _TIFF_TYPES and number == 1:
            code, size = _TIFF_TYPES[kind]
            (tags[tag],) = struct.unpack(order + code, entries[12 * i + 8:12 * i + 8 + size])
    try:
        width, height, offset = tags[256], tags[257], tags[273]
    except KeyError as missing:
        raise ValueError(f"TIFF without tag {missing}") from None
    bits = tags.get(258, 8)
    if tags.get(259, 1) != 1 or bits not in (8, 16):
        raise ValueError("compressed TIFF or samples of other than 8 or 16 bits")
    dtype = np.dtype(np.uint8) if bits == 8 else np.dtype(order + "u2")
    end = offset + width * height * dtype.itemsize
    if end > data.size:
        raise ValueError("TIFF pixels beyond the data")
    return data[offset:end].view(dtype).reshape(height, width)
