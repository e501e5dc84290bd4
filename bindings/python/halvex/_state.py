"""What outlives clients: the library's callback reaches clients and lent buffers through these
tables, and buffers stay referenced while the library may write into them."""
from __future__ import annotations

import itertools
import threading
from typing import TYPE_CHECKING, Any

if TYPE_CHECKING:
    from .streams import _Buffer

lock = threading.Lock()
clients: dict[int, Any] = {}                       # cookie given to HX_register -> Client
cookies = itertools.count(1)
pools: dict[tuple[int, int, str], list[_Buffer]] = {}  # (client, camera, stream kind) -> buffers lent for it
lent: dict[int, _Buffer] = {}                      # address of a lent HX_READ_STREAM -> its buffer
running: set[tuple[int, int, str]] = set()         # (client, camera, stream kind) with a run going on
finished = False                                   # HX_shutdown has run
used = False                                       # a client was registered, so there are threads to shut down
