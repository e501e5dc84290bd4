"""Marks the wheel as one for this platform when it carries the C library (halvex/_lib): the
package itself is pure Python, the libraries are not."""
import os
import sysconfig

from setuptools import setup

try:
    from wheel.bdist_wheel import bdist_wheel
except ImportError:  # no wheel package: nothing to mark
    bdist_wheel = None

COMMANDS = {}
if bdist_wheel is not None and os.path.exists(os.path.join(os.path.dirname(os.path.abspath(__file__)), "halvex",
                                                           "_lib", "libhalvex.so.2")):
    class PlatformWheel(bdist_wheel):
        """py3-none-PLATFORM: any Python 3, no extension module, this machine's libraries."""

        def get_tag(self):
            return ("py3", "none", sysconfig.get_platform().replace("-", "_").replace(".", "_"))

    COMMANDS["bdist_wheel"] = PlatformWheel

setup(cmdclass=COMMANDS)
