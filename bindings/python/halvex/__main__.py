"""python3 -m halvex list [--address A.B.C.D ...] [--wait S]: the cameras at those addresses, or
those discovery finds within S seconds."""
import argparse
import sys

from . import Client, HalvexError, shutdown


def _describe(address, info):
    return (f"{address}  {info.model_name}  serial {info.serial_number}  name {info.user_name or '-'}  "
            f"firmware {info.device_version}  via {info.adapter_name or '-'}")


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python3 -m halvex", description="halvex cameras from Python")
    commands = parser.add_subparsers(dest="command", required=True)
    listing = commands.add_parser("list", help="list cameras")
    listing.add_argument("--address", action="append", default=[], help="a camera's dotted address or name")
    listing.add_argument("--wait", type=float, default=5.0, help="seconds to wait for answers")
    arguments = parser.parse_args(argv)
    status = 0
    try:
        with Client() as client:
            if arguments.address:
                for name in arguments.address:
                    try:
                        camera = client.camera(name, wait=arguments.wait)
                        print(_describe(camera.address, camera.information()))
                    except HalvexError as error:
                        print(error, file=sys.stderr)
                        status = 1
            else:
                found = client.discover(wait=arguments.wait)
                for address, info in sorted(found.items()):
                    print(_describe(address, info))
                if not found:
                    print("no camera answered", file=sys.stderr)
                    status = 1
    finally:
        shutdown()
    return status


if __name__ == "__main__":
    sys.exit(main())
