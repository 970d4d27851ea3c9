"""The virtual generator on a pty and a fake sysfs tree and dev folder where varnoltctl finds it."""
import json
import os
import pathlib
import subprocess
import tempfile
import time

import rig
from rig.serve import Server

MESSAGES = ("block", "settings", "run", "stop", "unknown")


def read_log(path, kinds=None):
    with open(path) as log_file:
        return [r for r in map(json.loads, log_file) if kinds is None or r["kind"] in kinds]


def dry_run(*settings, stdin=None):
    """The writes that `varnoltctl start` with these settings makes, in hex, one a message."""
    result = subprocess.run([rig.TOOL, "start", "--dry-run", *settings], input=stdin,
                            capture_output=True, text=True, check=True)
    return result.stdout.replace(" ", "").splitlines()


class Generator:
    """The virtual generator with these options, its log in a folder of its own; pty is its line."""

    def __init__(self, *options, program=None):
        self.dir = tempfile.TemporaryDirectory()
        self.log_path = os.path.join(self.dir.name, "log")
        self.process = subprocess.Popen([program or rig.GENERATOR, "--log", self.log_path,
                                         *options], stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL)
        self.pty = self.process.stdout.readline().decode().strip()

    def log(self, kind, limit=3.0, count=1):
        """The records of one kind, once there are count of them or limit s have passed."""
        deadline = time.monotonic() + limit
        while True:
            records = read_log(self.log_path, (kind,))
            if len(records) >= count or time.monotonic() > deadline:
                return records
            time.sleep(0.02)

    def received(self, after=0):
        """The bytes (hex) of each message it read, from message `after` on."""
        return [r["bytes"] for r in read_log(self.log_path, MESSAGES)][after:]

    def settle(self, limit=0.3):
        """The number of messages read once what was sent has arrived."""
        time.sleep(limit)
        return len(self.received())

    def hang_up(self):
        """Its end of the line closes, as when the generator is pulled out."""
        self.process.terminate()
        self.process.wait()

    def stop(self):
        self.hang_up()
        self.process.stdout.close()
        self.dir.cleanup()


class DeviceTree:
    """A mixin of unittest.TestCase: a fake sysfs tree and dev folder, where varnoltctl run with
    self.env looks for generators."""

    def setUp(self):
        self.root = tempfile.TemporaryDirectory()
        self.addCleanup(self.root.cleanup)
        self.make_tree(self.root.name, os.environ)

    def make_tree(self, folder, env):
        """The tree's folders in folder; self.env is env pointing varnoltctl at them."""
        self.tree_folder = folder
        self.env = dict(env, VARNOLT_SYSFS=self.path("sys"), VARNOLT_DEV=self.path("dev"))
        for sub in ("sys/class/tty", "dev/serial/by-id"):
            os.makedirs(self.path(sub))

    def path(self, relative):
        return os.path.join(self.tree_folder, relative)

    def serve(self, *options, **keywords):
        """varnoltctl serve on this tree, stopped at the test's end; it must be serving."""
        server = Server(*options, env=self.env, **keywords)
        self.addCleanup(server.stop)
        self.assertIsNotNone(server.port, "\n".join(server.lines))
        return server

    def tty(self, name, device, ids=None, serial=None):
        """A tty whose device folder is sys/devices/DEVICE, below a USB device if ids are given."""
        folder = self.path("sys/devices/" + device)
        os.makedirs(folder + "/tty/" + name)
        if ids:
            for attribute, value in zip(("idVendor", "idProduct", "serial"), (*ids, serial)):
                if value:
                    pathlib.Path(os.path.dirname(folder), attribute).write_text(value + "\n")
        os.symlink(folder, folder + "/tty/" + name + "/device")
        os.symlink(folder + "/tty/" + name, self.path("sys/class/tty/" + name))

    def plug_in(self, *options, name="ttyACM0", usb="1-2", serial="SN0001", product="7a3c"):
        """A virtual generator as /dev/NAME of the USB device 1209:PRODUCT at port USB (under a
        name it had: the same device with a new line)."""
        generator = Generator(*options)
        self.addCleanup(generator.stop)
        if not os.path.lexists(self.path("sys/class/tty/" + name)):
            self.tty(name, f"usb1/{usb}/{usb}:1.0", ("1209", product), serial)
        node = self.path("dev/" + name)
        if os.path.lexists(node):
            os.remove(node)
        os.symlink(generator.pty, node)
        return generator

    def unplug(self, generator, name="ttyACM0"):
        """The generator hangs up and its node goes."""
        generator.hang_up()
        os.remove(self.path("dev/" + name))
