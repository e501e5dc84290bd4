"""Settings records of a camera read and changed as attributes, with refusals as exceptions."""
from ._layout import CONSTANTS
from ._native import BY_C_NAME
from .errors import HalvexError, SettingRefused

SET, ERR = CONSTANTS["HX_FLAG_SET"], CONSTANTS["HX_FLAG_ERR"]


class _FieldPlan:
    """Which flags words mark a field of a record for writing, and which words hold its limits."""

    def __init__(self, record_class):
        names = [name for name, _ in record_class._fields_]
        self.fields = {}
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
    def _flags_word(name, index, names):
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


_PLANS = {}


def _plan(record_class):
    if record_class not in _PLANS:
        _PLANS[record_class] = _FieldPlan(record_class)
    return _PLANS[record_class]


class Settings:
    """A settings record of one camera, read and changed as attributes. Reading an attribute
    reads the camera; assigning writes one field; set(a=..., b=...) writes several in one exchange.
    A refused value raises SettingRefused with the camera's limits."""

    def __init__(self, camera, record, call):
        object.__setattr__(self, "_camera", camera)
        object.__setattr__(self, "_class", BY_C_NAME[record])
        object.__setattr__(self, "_call", call)

    def read(self):
        record = self._class()
        self._camera._setup(self._call, record)
        return record

    def apply(self, record):
        """Sends a record as prepared by the caller (flags and all); returns it as the camera left it."""
        self._camera._setup(self._call, record)
        return record

    def set(self, **values):
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
        refused = [name for name in values if getattr(record, plan.fields[name][0]) & ERR]
        if refused:
            name = refused[0]

            def limit(suffix):
                return getattr(record, f"{name}_{suffix}", None)
            raise SettingRefused(self._camera.address, name, values[name], limit("min"), limit("max"),
                                 limit("constr"), limit("caps"), refused[1:])
        if record.flags & ERR:
            raise HalvexError(f"halvex: camera {self._camera.address} refused part of {self._class.__name__}")
        return record

    def __getattr__(self, name):
        if name.startswith("_"):
            raise AttributeError(name)
        return getattr(self.read(), name)

    def __setattr__(self, name, value):
        self.set(**{name: value})

    def __dir__(self):
        return sorted(set(self._class().field_names()) | {"read", "set", "apply"})

