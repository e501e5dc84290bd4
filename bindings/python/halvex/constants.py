"""The constants of hx.h without their HX_ prefix: halvex.constants.FLAG_SET is HX_FLAG_SET,
halvex.constants.BIT_MODE_12 is HX_BIT_MODE_12. Every one is an int."""
from ._layout import CONSTANTS as _CONSTANTS

globals().update({_name[len("HX_"):]: _value for _name, _value in _CONSTANTS.items()})
__all__ = sorted(_name[len("HX_"):] for _name in _CONSTANTS)


def __getattr__(name: str) -> int:
    # Only reached for names hx.h does not have; tells a type checker that the others are ints.
    raise AttributeError(f"module 'halvex.constants' has no attribute '{name}' (hx.h has no HX_{name})")
