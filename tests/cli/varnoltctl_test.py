#!/usr/bin/env python3
"""varnoltctl against the virtual generator on a pty, finding it in a fake sysfs tree.
Usage: varnoltctl_test.py VARNOLTCTL GENERATOR [unittest arguments]"""
import fcntl
import json
import os
import pathlib
import subprocess
import sys
import termios
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import rig  # noqa: E402
from rig.generator import DeviceTree  # noqa: E402
from rig.process import processor_seconds  # noqa: E402


class ToolTest(DeviceTree, unittest.TestCase):
    def generator(self, name="ttyACM0", *options, usb="1-2", serial="SN0001"):
        # The product id in capitals: sysfs writes it in small letters, a match takes either.
        return self.plug_in(*options, name=name, usb=usb, serial=serial, product="7A3C")

    def run_tool(self, *args, stdin=None):
        started = time.monotonic()
        result = subprocess.run([rig.TOOL, *args], env=self.env, input=stdin, capture_output=True,
                                timeout=30)
        self.elapsed = time.monotonic() - started
        self.stdout, self.stderr = result.stdout.decode(), result.stderr.decode()
        return result.returncode

    def expect_failure(self, code, message, *args, stdin=None):
        """The exit code, the message on stderr and, with --json, the one object on stdout."""
        self.assertEqual(self.run_tool(*args, "--json", stdin=stdin), code, self.stderr)
        self.assertEqual(self.stderr.splitlines()[-1], "varnoltctl: " + message)
        self.assertEqual(json.loads(self.stdout), {"error": message, "exitCode": code})

    def write_file(self, name, text):
        pathlib.Path(self.path(name)).write_text(text)
        return self.path(name)

    def test_list_takes_only_the_generators_and_a_command_needs_one(self):
        self.tty("ttyACM1", "usb1/1-3/1-3:1.0", ("2341", "0043"), "OTHER")  # another maker's CDC
        self.tty("ttyS0", "platform/serial8250")  # no USB parent
        os.makedirs(self.path("sys/class/tty/tty0"))  # no device at all
        self.expect_failure(69, "no generator found (USB 1209:7A3C)", "start")
        self.generator()
        os.symlink("../../ttyACM0", self.path("dev/serial/by-id/usb-Maker_VARNOLT_SN0001-if00"))
        self.generator("ttyACM2", usb="1-4", serial=None)
        self.assertEqual(self.run_tool("list", "--json"), 0, self.stderr)
        self.assertEqual(json.loads(self.stdout), {"generators": [
            {"port": self.path("dev/ttyACM0"), "serial": "SN0001",
             "byId": self.path("dev/serial/by-id/usb-Maker_VARNOLT_SN0001-if00")},
            {"port": self.path("dev/ttyACM2"), "serial": None, "byId": None}]})
        self.assertEqual(self.run_tool("stop"), 64)
        self.assertIn("ttyACM0 (serial SN0001) " + self.path("dev/ttyACM2"), self.stderr)
        self.assertIn("--port", self.stderr)

    def test_start_sends_the_exact_bytes(self):
        gen = self.generator()
        samples = [(i * 181 + 7) % 65536 for i in range(360)]
        table = self.write_file("table.txt", "# mine\n" + "\n".join(map(str, samples)) + "\n")
        settings = ["--freq-code", "7", "--spw", "24", "--offset-code", "30",
                    "--amplitude-code", "255", "--jumper", "J4", "--table", table]
        # A line left cooked and echoing at 300 baud: the generator reads only a raw 9600 8N1 one.
        line = os.open(gen.pty, os.O_RDWR | os.O_NOCTTY)
        mode = termios.tcgetattr(line)
        mode[3:6] = [mode[3] | termios.ICANON | termios.ECHO, termios.B300, termios.B300]
        termios.tcsetattr(line, termios.TCSANOW, mode)
        self.assertEqual(self.run_tool("start", *settings, "--json"), 0, self.stderr)
        os.close(line)
        self.assertEqual(json.loads(self.stdout), {"port": self.path("dev/ttyACM0"),
                                                   "written": 741, "report": "55", "exitCode": 0})
        self.assertEqual([(s["ok"], s["samples"]) for s in gen.log("start")], [(True, samples)])
        # Frequency 7, amplitude 255, offset 30, duty 50, 24 SPW (4), J4 (3).
        self.assertEqual(gen.log("settings")[0]["bytes"], "000700ff1e320403")

    def test_silent_generator_times_out(self):
        self.generator("ttyACM0", "--report", "none")
        self.assertEqual(self.run_tool("start", "--no-wait", "--timeout", "10"), 0)
        no_wait = self.elapsed  # start-up and writes alone; waiting would take 10 s
        self.expect_failure(75, self.path("dev/ttyACM0") +
                            ": no report from the generator within 0.3 s",
                            "start", "--timeout", "300m")
        # The wait ends at the time-out: what this run took beyond the one that did not wait.
        self.assertGreaterEqual(self.elapsed, 0.3)
        self.assertLess(self.elapsed - no_wait, 1.3)

    def test_hang_up_during_the_wait(self):
        """A hang-up well after the writes ends the wait at once, and the wait itself sleeps."""
        generator = self.generator("ttyACM0", "--report", "none")
        tool = subprocess.Popen([rig.TOOL, "start", "--timeout", "20"], env=self.env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self.addCleanup(tool.kill)
        self.assertEqual(len(generator.log("start", limit=20)), 1)
        # Processor time over a second of the wait only (a sanitizer makes the start-up long).
        before, started = processor_seconds(tool.pid), time.monotonic()
        time.sleep(1.0)
        used, waited = processor_seconds(tool.pid) - before, time.monotonic() - started
        self.assertLess(used, 0.1 * waited)
        generator.hang_up()  # its end of the line closes
        hangup = time.monotonic()
        self.assertEqual(tool.wait(timeout=20), 74)
        self.assertLess(time.monotonic() - hangup, 5)  # not the 20 s time-out
        self.assertIn("went away", tool.stderr.read().decode())
        tool.stderr.close()

    def test_busy_port_then_stop(self):
        generator = self.generator()
        with open(generator.pty, "rb") as holder:
            fcntl.flock(holder, fcntl.LOCK_EX | fcntl.LOCK_NB)
            self.expect_failure(75, generator.pty + ": held by another program",
                                "stop", "--port", generator.pty)
            # Held by the package's service: the message names it and how to stop it.
            self.env["VARNOLT_RUN"] = self.path("run")
            os.makedirs(self.path("run/varnoltctl/ttyACM0"))
            unit = "varnoltctl-serve@ttyACM0.service"
            self.expect_failure(75, self.path("dev/ttyACM0") + f": held by {unit}, which serves "
                                f"it over the network (stop it: sudo systemctl stop {unit}; keep "
                                "it from starting: sudo systemctl disable "
                                "varnoltctl-serve@.service)", "start")
            del self.env["VARNOLT_RUN"]
        self.assertEqual(generator.log("stop", limit=0.3), [])
        self.assertEqual(self.run_tool("stop", "--json"), 0, self.stderr)
        self.assertEqual(json.loads(self.stdout), {"port": self.path("dev/ttyACM0"),
                                                   "written": 1, "report": "aa", "exitCode": 0})

    def test_permission_denied_names_the_group(self):
        if os.geteuid() != 0:
            self.skipTest("needs root to run as another user")
        os.chmod(self.root.name, 0o755)  # a port file of root's, 0600, opened by nobody
        result = subprocess.run(["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups",
                                 rig.TOOL, "stop", "--port", self.write_file("port", "")],
                                capture_output=True, text=True)
        self.assertEqual(result.returncode, 77, result.stderr)
        self.assertIn('must be in the group "root"', result.stderr)

    def test_table_and_shape_files(self):
        """A shape's table as `table` prints it and `start` sends it, from a file and stdin."""
        gen = self.generator()
        bad = self.write_file("bad.txt", "1\n2\n3 abc\n")
        self.expect_failure(65, f"--table {bad}: line 3: \"abc\" is not a whole number",
                            "start", "--table", bad)
        self.assertEqual(self.run_tool("start", "--table", self.path("missing")), 66)
        csv = self.write_file("shape.csv", "time;volts\n0;0\n1;2\n2;0\n3;-2\n")
        self.assertEqual(self.run_tool("table", "--amplitude-code", "16000", "--shape", csv), 0)
        table = list(map(int, self.stdout.split()))
        for count, (path, stdin) in enumerate(((csv, None), ("-", pathlib.Path(csv).read_bytes())),
                                              1):
            self.assertEqual(self.run_tool("start", "--amplitude-code", "16000", "--shape", path,
                                           stdin=stdin), 0, self.stderr)
            self.assertEqual(gen.log("start", count=count)[-1]["samples"], table)
        self.assertEqual(self.run_tool("show", "--shape", csv, "--json"), 0, self.stderr)
        self.assertEqual(json.loads(self.stdout)["wave"], "user")
        self.expect_failure(66, f"--shape {self.path('missing')}: cannot read: No such file or "
                            "directory", "show", "--shape", self.path("missing"))

    def test_values(self):
        self.expect_failure(65, "--freq 300k: above 214285.71 Hz, the highest at 24 SPW",
                            "show", "--freq", "300k")
        self.expect_failure(64, "--spw: 100 not in {360,180,90,45,24} (see varnoltctl --help)",
                            "show", "--spw", "100")


if __name__ == "__main__":
    rig.main()
