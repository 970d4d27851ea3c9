#!/usr/bin/env python3
"""A waveform's file loaded through the web panel: through the page in headless Chromium, and the
upload's limit and origin check over plain HTTP.
Usage: waveform_upload_test.py VARNOLTCTL GENERATOR [unittest arguments]"""
import json
import math
import os
import pathlib
import subprocess
import sys
import unittest

from selenium.webdriver.support.ui import Select

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import rig  # noqa: E402
from rig.browser import ServedPage  # noqa: E402
from rig.generator import dry_run  # noqa: E402
from rig.serve import request  # noqa: E402

MIB = 1024 * 1024
USER, LOAD = "User waveform", "Load waveform"


class WaveformUploadTest(ServedPage, unittest.TestCase):
    def write(self, name, data):
        pathlib.Path(self.path(name)).write_bytes(data)
        return self.path(name)

    def page(self):
        """What the page shows: the waveform list, its choice, the readouts, the picture."""
        return self.browser.execute_script(
            "const wave = document.getElementById('wave');"
            "return [Array.from(wave.options).map(o => o.text), wave.selectedIndex,"
            " ['maximum', 'dc-level', 'minimum', 'period'].map("
            "   id => document.getElementById(id).value),"
            " document.querySelector('main svg').outerHTML];")

    def post(self, path, body, headers=None):
        status, _, answer = request(self.server.web_port, "POST", path, body, headers, timeout=60)
        return status, answer

    def test_a_file_gives_the_start_bytes_of_start_shape(self):
        # One period of an uneven wave, 500 points: a sine with its second harmonic.
        path = self.write("cycle.csv", "".join(
            f"{math.sin(2 * math.pi * i / 500) + 0.5 * math.sin(4 * math.pi * i / 500)}\n"
            for i in range(500)).encode())
        self.open_page()
        before = self.page()
        self.assertEqual(len(before[0]), 7)
        self.control(LOAD).send_keys(path)
        self.wait_until(lambda: self.page()[1] == 7)
        waves, chosen, readouts, picture = self.page()
        self.assertEqual((waves[7:], chosen, self.field_error(LOAD)), ([USER], 7, ""))
        self.assertEqual(Select(self.control("Waveform")).first_selected_option.text, USER)
        self.assertNotEqual(picture, before[3])
        # The readouts are those of any wave at these settings; a sine's.
        self.assertEqual(readouts, before[2])
        self.assertEqual(self.scpi.query("FUNC?"), "USER")
        self.control("START").click()
        self.wait_until(lambda: len(self.generator.received()) == 14)
        self.assertEqual(self.generator.received(), dry_run("--shape", path))
        self.assertEqual(self.scpi.query("SYST:ERR?"), '0,"No error"')

    def test_a_refused_file_shows_its_reason_and_changes_nothing(self):
        self.open_page()
        self.scpi.write("FUNC SQU;:OUTP ON")
        # What the page shows is taken once it shows the square wave running.
        status = "return document.getElementById('status-line').textContent"
        self.wait_until(lambda: len(self.generator.received()) == 14 and
                        self.browser.execute_script(status) == "Device is RUNNING!")
        sent = self.generator.received()
        before = self.page()
        bad = self.write("broken.wav", b"RIFF\x24\x00\x00\x00WAVEfmt \x10\x00")
        self.control(LOAD).send_keys(bad)
        self.wait_until(lambda: self.field_error(LOAD) != "")
        reason = self.field_error(LOAD)
        self.assertNotIn("broken", reason)  # the reason, not the file's name
        self.assertEqual(self.control(LOAD).get_attribute("aria-invalid"), "true")
        self.assertEqual(self.page(), before)
        self.assertEqual(self.scpi.query("FUNC?;:SYST:ERR?"), 'SQU;0,"No error"')
        self.assertEqual(self.generator.received(), sent)
        # The command line refuses it for the same reason.
        result = subprocess.run([rig.TOOL, "show", "--shape", bad],
                                capture_output=True, text=True)
        self.assertEqual((result.returncode, result.stderr.splitlines()[-1]),
                         (65, f"varnoltctl: --shape {bad}: {reason}"))
        # A good file, dropped on the preview, then clears the reason.
        self.browser.execute_script(
            "const files = new DataTransfer();"
            "files.items.add(new File(['0\\n1\\n2\\n3\\n'], 'ramp.csv'));"
            "document.querySelector('main svg').dispatchEvent("
            "  new DragEvent('drop', {dataTransfer: files, bubbles: true}));")
        self.wait_until(lambda: self.field_error(LOAD) == "")
        self.assertEqual((self.field_error(LOAD), self.page()[1]), ("", 7))

    def test_the_upload_limit_and_the_origin(self):
        self.open_page()
        state = self.browser.execute_script(
            "return fetch('/api/state').then(r => r.json())")
        # 16 MiB is read (and refused for its points); one byte more, in any framing, is not.
        status, answer = self.post("/api/waveform", b"0\n" * (8 * MIB))
        self.assertEqual(status, 422, answer[:80])
        self.assertEqual(json.loads(answer)["field"], "waveform")
        self.assertEqual(self.post("/api/waveform", b"0" * (16 * MIB + 1))[0], 413)
        self.assertEqual(self.post("/api/waveform", iter([b"0\n" * MIB] * 9))[0], 413)
        # The other bodies keep their limit of 1 MiB (that of /api/action: web_http_test.py).
        self.assertEqual(self.post("/no/such/page", b" " * (MIB + 1))[0], 413)
        # Another site's page may not load a waveform.
        good = b"0\n1\n0\n-1\n"
        status, _ = self.post("/api/waveform", good, {"Origin": "http://evil.example"})
        self.assertEqual(status, 403)
        after = self.browser.execute_script("return fetch('/api/state').then(r => r.json())")
        self.assertEqual({k: v for k, v in after.items() if k != "seq"},
                         {k: v for k, v in state.items() if k != "seq"})
        self.assertEqual(self.generator.received(), [])
        # The page's own origin may; the answer carries the state that chose it.
        status, answer = self.post("/api/waveform", good, {"Origin": self.server.url.rstrip("/")})
        self.assertEqual(status, 200, answer)
        self.assertEqual(json.loads(answer)["state"]["waves"][7:], [USER])


if __name__ == "__main__":
    rig.main()
