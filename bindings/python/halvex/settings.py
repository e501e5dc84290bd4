"""Settings records of a camera read and changed as attributes, with refusals as exceptions."""
from __future__ import annotations

from typing import TYPE_CHECKING, Any, Callable, Iterator, Optional

from ._layout import CONSTANTS
from ._native import BY_C_NAME, Record, last_error
from .errors import HalvexError, SettingRefused, read_again_on_failure

if TYPE_CHECKING:
    from .camera import Camera

SET, ERR = CONSTANTS["HX_FLAG_SET"], CONSTANTS["HX_FLAG_ERR"]


class _FieldPlan:
    """Which flags words mark a field of a record for writing, and which words hold its limits."""

    def __init__(self, record_class: type[Record]) -> None:
        names = [name for name, *_ in record_class._fields_]
        self.fields: dict[str, tuple[str, Optional[str]]] = {}
        group = None
        for index, name in enumerate(names):
            if name.endswith("_group_flags"):
                group = name
                continue
            if name in ("ver_maj", "ver_min", "flags") or name.startswith("_") or name.endswith("_flags") or \
                    name.endswith(("_max", "_min", "_constr", "_caps")) or "family_words" in name or \
                    name.startswith(("reserved_", "unused_")):
                continue
            flags = self._flags_word(name, index, names)
            if flags is None:
                continue
            own_before = names.index(flags) < index  # a word marked before its value opens no group
            self.fields[name] = (flags, None if own_before and flags == name + "_flags" else group)

    @staticmethod
    def _flags_word(name: str, index: int, names: list[str]) -> Optional[str]:
        if name + "_flags" in names:
            return name + "_flags"
        parts = name.split("_")
        for cut in range(len(parts) - 1, 0, -1):
            candidate = "_".join(parts[:cut]) + "_flags"
            if candidate in names:
                return candidate
        for before in reversed(names[:index]):
            if before.endswith("_flags") and not before.endswith("_group_flags") and \
                    before[:-len("_flags")] not in names:
                return before
        return None


_PLANS: dict[type[Record], _FieldPlan] = {}


def _plan(record_class: type[Record]) -> _FieldPlan:
    if record_class not in _PLANS:
        _PLANS[record_class] = _FieldPlan(record_class)
    return _PLANS[record_class]


class Settings:
    """A settings record of one camera, read and changed as attributes. Reading an attribute
    reads the camera; assigning writes one field; set(a=..., b=...) writes several in one exchange.
    A refused value raises SettingRefused with the camera's limits. dict(settings) and
    to_dict() give the values of one read."""

    _camera: Camera
    _class: type[Record]
    _call: Callable[..., int]

    def __init__(self, camera: Camera, record: str, call: Callable[..., int]) -> None:
        object.__setattr__(self, "_camera", camera)
        object.__setattr__(self, "_class", BY_C_NAME[record])
        object.__setattr__(self, "_call", call)

    def read(self) -> Any:
        """The whole record as the camera holds it, limits included."""
        def once() -> Any:
            record = self._class()
            self._camera._setup(self._call, record)
            return record
        return read_again_on_failure(once)

    def apply(self, record: Any) -> Any:
        """Sends a record as prepared by the caller (flags and all); returns it as the camera left it."""
        self._camera._setup(self._call, record)
        return record

    def to_dict(self) -> dict[str, Any]:
        """The settable fields and their values, from one read of the camera."""
        record = self.read()
        return {name: getattr(record, name) for name in _plan(self._class).fields}

    def __iter__(self) -> Iterator[tuple[str, Any]]:
        return iter(self.to_dict().items())

    def __repr__(self) -> str:
        try:
            shown = ", ".join(f"{name}={value!r}" for name, value in self.to_dict().items())
        except HalvexError as error:
            shown = f"unreadable: {error}"
        return f"<{self._class.__name__} of camera {self._camera.address}: {shown}>"

    def set(self, **values: Any) -> Any:
        """Writes the named fields in one exchange; returns the record as the camera left it (a
        field the camera adjusted, such as a rounded length, has HX_FLAG_CHG in its flags)."""
        record = self.read()
        plan = _plan(self._class)
        for name, value in values.items():
            if name not in plan.fields:
                raise AttributeError(f"{self._class.__name__} has no settable field '{name}'")
            setattr(record, name, value)
            flags, group = plan.fields[name]
            setattr(record, flags, getattr(record, flags) | SET)
            if group:
                setattr(record, group, getattr(record, group) | SET)
        record.flags |= SET
        self._camera._setup(self._call, record)
        reason = last_error()
        refused = [name for name in values if getattr(record, plan.fields[name][0]) & ERR]
        if refused:
            name = refused[0]

            def limit(suffix: str) -> Optional[int]:
                return getattr(record, f"{name}_{suffix}", None)
            raise SettingRefused(self._camera.address, name, values[name], limit("min"), limit("max"),
                                 limit("constr"), limit("caps"), refused[1:], reason)
        if record.flags & ERR:
            raise HalvexError(f"halvex: camera {self._camera.address} refused part of {self._class.__name__}"
                              + (f": {reason}" if reason else ""), reason)
        return record

    def __getattr__(self, name: str) -> Any:
        if name.startswith("_"):
            raise AttributeError(name)
        return getattr(self.read(), name)

    def __setattr__(self, name: str, value: Any) -> None:
        self.set(**{name: value})

    def __dir__(self) -> list[str]:
        return sorted(set(self._class().field_names()) | {"read", "set", "apply", "to_dict"})

