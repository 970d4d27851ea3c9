"""The rig of the tests and of tools/measure/: the virtual generator (generator.py), varnoltctl
serve (serve.py), a SCPI client (scpi.py), processes and namespaces (process.py), and the test's
own DNS-SD responder (mdns.py).

A test program is run as `TEST.py VARNOLTCTL GENERATOR [unittest arguments]`: main() keeps the two
programs here, where the rig's parts find them, and runs the program's tests."""
import os
import sys
import unittest

TOOL = GENERATOR = None  # varnoltctl and varnolt-virtual-generator


def main():
    global TOOL, GENERATOR
    TOOL, GENERATOR = sys.argv[1], sys.argv[2]
    unittest.main(module="__main__", argv=[sys.argv[0]] + sys.argv[3:])


def built_programs(build):
    """varnoltctl and the virtual generator of a build folder (the measures take a build)."""
    return (os.path.join(build, "cli", "varnoltctl"),
            os.path.join(build, "tools", "virtual_generator", "varnolt-virtual-generator"))

