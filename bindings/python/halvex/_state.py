"""What outlives clients: the library's callback reaches clients and lent buffers through these
tables, and buffers stay referenced while the library may write into them."""
import threading

lock = threading.Lock()
clients = {}                       # cookie given to HX_register -> Client
cookies = iter(range(1, 1 << 62))
pools = {}                         # (client, camera, stream kind) -> the buffers lent for that kind
lent = {}                          # address of a lent HX_READ_STREAM -> its buffer, until it comes back or shutdown
finished = False                   # HX_shutdown has run
used = False                       # a client was registered, so there are threads to shut down
