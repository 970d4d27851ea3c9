#!/usr/bin/env python3
"""A waveform of one's own as lab programs send it, `DATA VOLATILE,<v>,...` written by PyVISA, to
varnoltctl serve on the virtual generator.

The values are staircases whose steps each cover whole samples of the 360 (1,000 points: 40 steps
of 25 points, 9 samples each; 65,536 points: 8 steps of 8,192, 45 samples each), so that the
table the generator must get is known without resampling anything: each step's level, scaled by
the amplitude code and not stretched to -1..+1.

Usage: data_volatile_test.py VARNOLTCTL GENERATOR [unittest arguments]
"""
import math
import os
import subprocess
import sys
import unittest

import pyvisa

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import rig  # noqa: E402
from rig.generator import DeviceTree  # noqa: E402
from rig.serve import Server  # noqa: E402


def staircase(levels, points):
    return [level for level in levels for _ in range(points // len(levels))]


class DataVolatileTest(DeviceTree, unittest.TestCase):
    def setUp(self):
        super().setUp()
        self.generator = self.plug_in()
        server = Server(env=self.env)
        self.addCleanup(server.stop)
        resources = pyvisa.ResourceManager("@py")
        self.addCleanup(resources.close)
        self.scpi = resources.open_resource(f"TCPIP::127.0.0.1::{server.port}::SOCKET",
                                            read_termination="\n", write_termination="\n",
                                            timeout=10000)
        self.addCleanup(self.scpi.close)

    def start_at_1_vpp(self, levels, amplitude_code):
        """The writes of a start at 1 Vpp whose table holds each level for 360 / len(levels)
        samples."""
        codes = [math.floor(32767 + level * amplitude_code + 0.5)
                 for level in staircase(levels, 360)]
        result = subprocess.run([rig.TOOL, "start", "--dry-run", "--vpp", "1", "--table", "-"],
                                input="\n".join(map(str, codes)), capture_output=True, text=True,
                                check=True)
        return result.stdout.replace(" ", "").splitlines()

    def test_values_become_the_user_waveform_also_while_it_plays(self):
        scpi, generator = self.scpi, self.generator
        self.assertEqual(scpi.query("DATA:ATTR:POIN? VOLATILE"), "0")
        levels = [((j * 13) % 40 - 20) / 32 for j in range(40)]  # -0.625 to 0.59375
        scpi.write("VOLT 1")
        scpi.write_ascii_values("DATA VOLATILE,", staircase(levels, 1000))
        scpi.write("FUNC:USER VOLATILE;:FUNC USER;:OUTP ON")
        self.assertEqual(scpi.query("FUNC:USER?;:FUNC?;:OUTP?;:DATA:ATTR:POIN? VOLATILE"),
                         "VOLATILE;USER;1;1000")
        amplitude_code = generator.log("settings")[0]["amplitudeCode"]
        self.assertEqual(generator.received(), self.start_at_1_vpp(levels, amplitude_code))
        # New data while it plays: the stop, then the start with it.
        count = generator.settle()
        levels = [-1, 0.75, -0.25, 1, 0, -0.5, 0.5, -0.875]
        scpi.write_ascii_values("DATA VOLATILE,", staircase(levels, 65536))
        self.assertEqual(scpi.query("DATA:ATTR:POIN? VOLATILE;:SYST:ERR?"), '65536;0,"No error"')
        generator.settle()
        self.assertEqual(generator.received(count),
                         ["aa"] + self.start_at_1_vpp(levels, amplitude_code))

    def test_errors_change_nothing_and_a_line_over_1_mib_is_read_past(self):
        self.scpi.write_ascii_values("DATA VOLATILE,", [0.5, 1.5])
        self.scpi.write_ascii_values("DATA VOLATILE,", [0.0] * 65537)
        # 61,000 values that alone would be taken, in 1.1 MiB.
        self.scpi.write_ascii_values("DATA VOLATILE,", [0.5] * 61000, converter=".16f")
        self.assertEqual(self.scpi.query("SYST:ERR?;SYST:ERR?;SYST:ERR?;SYST:ERR?;"
                                         ":DATA:ATTR:POIN? VOLATILE"),
                         '-222,"Data out of range";-223,"Too much data";-223,"Too much data";'
                         '0,"No error";0')
        self.assertEqual(self.generator.received(), [])


if __name__ == "__main__":
    rig.main()
