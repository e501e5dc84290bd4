"""The exceptions the package raises."""
from ._layout import CONSTANTS

class HalvexError(Exception):
    """A call the library refused; the library's log says why."""


class SettingRefused(HalvexError):
    """The camera refused a value. Carries the field, the value asked for and the camera's limits
    (None where the field has none): minimum, maximum, step, and choices (a bit set)."""

    def __init__(self, camera, field, value, minimum=None, maximum=None, step=None, choices=None, others=()):
        self.camera, self.field, self.value = camera, field, value
        self.minimum, self.maximum, self.step, self.choices = minimum, maximum, step, choices
        self.others = tuple(others)
        limits = []
        if minimum is not None or maximum is not None:
            limits.append(f"{minimum if minimum is not None else ''}..{maximum if maximum is not None else ''}")
        if step:
            limits.append(f"step {step}")
        if choices is not None:
            limits.append(f"choices {choices:#x}")
        text = f"camera {camera} refused {field}={value}"
        if limits:
            text += " (" + ", ".join(limits) + ")"
        if self.others:
            text += "; also refused: " + ", ".join(self.others)
        super().__init__(text)


class StreamTimeout(HalvexError):
    """No image came back within the time allowed."""


def check(status, what):
    if status != CONSTANTS["HX_STATUS_OK"]:
        raise HalvexError(f"halvex: {what} failed (the library's log says why)")

