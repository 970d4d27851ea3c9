#!/usr/bin/env python3
"""A waveform of one's own as lab programs send it, `DATA VOLATILE,<v>,...` written by PyVISA, to
varnoltctl serve on the virtual generator. The values are staircases whose steps each cover whole
samples of the 360, so the table the generator must get is known without resampling: each step's
level scaled by the amplitude code, not stretched to -1..+1.
Usage: data_volatile_test.py VARNOLTCTL GENERATOR [unittest arguments]"""
import math
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import rig  # noqa: E402
from rig.generator import DeviceTree, dry_run  # noqa: E402
from rig.scpi import visa  # noqa: E402


def staircase(levels, points):
    return [level for level in levels for _ in range(points // len(levels))]


class DataVolatileTest(DeviceTree, unittest.TestCase):
    def start_at_1_vpp(self, levels, amplitude_code):
        """The writes of a start at 1 Vpp whose table holds each level for 360 / len(levels)
        samples."""
        codes = [math.floor(32767 + level * amplitude_code + 0.5)
                 for level in staircase(levels, 360)]
        return dry_run("--vpp", "1", "--table", "-", stdin="\n".join(map(str, codes)))

    def test_values_become_the_user_waveform_also_while_it_plays(self):
        generator = self.plug_in()
        scpi = visa(self, self.serve().port, timeout=10000)
        self.assertEqual(scpi.query("DATA:ATTR:POIN? VOLATILE"), "0")
        levels = [((j * 13) % 40 - 20) / 32 for j in range(40)]  # 40 steps of 25 points
        scpi.write("VOLT 1")
        scpi.write_ascii_values("DATA VOLATILE,", staircase(levels, 1000))
        scpi.write("FUNC:USER VOLATILE;:FUNC USER;:OUTP ON")
        self.assertEqual(scpi.query("FUNC:USER?;:FUNC?;:OUTP?;:DATA:ATTR:POIN? VOLATILE"),
                         "VOLATILE;USER;1;1000")
        amplitude_code = generator.log("settings")[0]["amplitudeCode"]
        self.assertEqual(generator.received(), self.start_at_1_vpp(levels, amplitude_code))
        # New data while it plays (8 steps of 8,192 points): the stop, then the start with it.
        count = generator.settle()
        levels = [-1, 0.75, -0.25, 1, 0, -0.5, 0.5, -0.875]
        scpi.write_ascii_values("DATA VOLATILE,", staircase(levels, 65536))
        self.assertEqual(scpi.query("DATA:ATTR:POIN? VOLATILE;:SYST:ERR?"), '65536;0,"No error"')
        generator.settle()
        self.assertEqual(generator.received(count),
                         ["aa"] + self.start_at_1_vpp(levels, amplitude_code))


if __name__ == "__main__":
    rig.main()
