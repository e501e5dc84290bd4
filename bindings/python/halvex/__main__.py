"""python3 -m halvex list [--address A.B.C.D ...] [--wait S]: the cameras at those addresses, or
those discovery finds within S seconds; python3 -m halvex version."""
from __future__ import annotations

import argparse
import sys
from typing import Any, Optional

from . import Client, HalvexError, __version__, library_file, shutdown


def _describe(address: str, info: Any) -> str:
    return (f"{address}  {info.model_name}  serial {info.serial_number}  name {info.user_name or '-'}  "
            f"firmware {info.device_version}  via {info.adapter_name or '-'}")


def _list(addresses: list[str], wait: float) -> int:
    status = 0
    with Client() as client:
        if addresses:
            for name in addresses:
                try:
                    camera = client.camera(name, wait=wait)
                    print(_describe(camera.address, camera.information()))
                except HalvexError as error:
                    print(error, file=sys.stderr)
                    status = 1
            return status
        found = client.discover(wait=wait)
        for address, info in sorted(found.items()):
            print(_describe(address, info))
        if not found:
            print(f"no camera answered discovery within {wait:g} s. Discovery broadcasts on the machine's "
                  "network interfaces; cameras on loopback (such as hxsim's 127.0.0.x) never hear it and are "
                  "found by address only: python3 -m halvex list --address 127.0.0.2", file=sys.stderr)
            status = 1
    return status


def main(argv: Optional[list[str]] = None) -> int:
    """The command line; returns the exit status."""
    parser = argparse.ArgumentParser(prog="python3 -m halvex", description="halvex cameras from Python")
    commands = parser.add_subparsers(dest="command", required=True)
    listing = commands.add_parser("list", help="list cameras")
    listing.add_argument("--address", action="append", default=[], help="a camera's dotted address or name")
    listing.add_argument("--wait", type=float, default=5.0, help="seconds to wait for answers")
    commands.add_parser("version", help="the package's version and the library it uses")
    arguments = parser.parse_args(argv)
    if arguments.command == "version":
        print(f"halvex {__version__}, library {library_file()}")
        return 0
    try:
        return _list(arguments.address, arguments.wait)
    finally:
        shutdown()


if __name__ == "__main__":
    sys.exit(main())
