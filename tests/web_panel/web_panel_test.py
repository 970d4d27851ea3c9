#!/usr/bin/env python3
"""The web panel in headless Chromium, driven by accessible names, checked against a SCPI client
of the same server and `varnoltctl show` with the same settings; a waveform's file loaded through
the page, and the upload's limit over plain HTTP.
Usage: web_panel_test.py VARNOLTCTL GENERATOR [unittest arguments]"""
import json
import math
import os
import pathlib
import subprocess
import sys
import unittest

from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import Select

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import rig  # noqa: E402
from rig.browser import ServedPage  # noqa: E402
from rig.generator import dry_run  # noqa: E402
from rig.serve import request  # noqa: E402

BUILD = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "build")
MIB = 1024 * 1024
USER, LOAD = "User waveform", "Load waveform"
LOST = "Device NOT connected->Connection lost"
FIELDS = ("Frequency", "Offset", "Amplitude")
READOUTS = ("Maximum", "DC level", "Minimum", "Period")
JUMPERS = ("J1(x2)", "J2(x1.5)", "J3(x1)", "J4(x0.5)")
# Every accessible name the page has, with the role it must have.
NAMES = {"Waveform": "combobox", "Samples per wave": "combobox", "Duty": "spinbutton",
         "Jumper": "group", "START": "button", **dict.fromkeys(FIELDS, "textbox"),
         **dict.fromkeys(READOUTS, "status"), **dict.fromkeys(JUMPERS, "radio"),
         **{f"{field} {way}{coarse}": "button" for field in FIELDS for way in ("up", "down")
            for coarse in ("", ", coarse") if field != "Offset" or not coarse}}
# What the page shows, as varnoltctl show --json names it.
SHOWN = ("waveformIndex", "spwIndex", "dutyPercent", "frequencyText", "offsetText", "vppText",
         "maxText", "dcText", "minText", "periodText", "jumperIndex")
# SCPI's function names as varnoltctl's --wave takes them.
WAVE_OPTION = {"SIN": "sine", "SQU": "square", "TRI": "triangle", "RAMP": "saw",
               "NRAM": "reversed-saw", "NOIS": "random", "DC": "zero"}


class WebPanelTest(ServedPage, unittest.TestCase):
    def setUp(self):
        super().setUp()
        self.open_page()

    def show(self, *settings):
        return json.loads(subprocess.run([rig.TOOL, "show", "--json", *settings],
                                         capture_output=True, text=True, check=True).stdout)

    def instrument_settings(self):
        """The instrument's settings as SCPI answers them, as varnoltctl's options."""
        answer = self.scpi.query("FUNC?;:FREQ?;:FREQ:SPW?;:VOLT?;:VOLT:OFFS?;:FUNC:SQU:DCYC?;"
                                 ":VOLT:JUMP?").split(";")
        return ["--wave", WAVE_OPTION[answer[0]], "--freq", answer[1], "--spw", answer[2],
                "--vpp", answer[3], "--offset", answer[4], "--duty", answer[5],
                "--jumper", answer[6]]

    def status_element(self):
        return self.browser.find_element(By.ID, "status-line")

    def status_line(self):
        return self.status_element().text

    def assert_status(self, text, button=None):
        """The status line comes to read text (and the run button to read button)."""
        self.wait_until(lambda: self.status_line() == text)
        self.assertEqual(self.status_line(), text)
        if button:
            self.assertEqual(self.control(button).text, button)

    def assert_idle(self):
        self.assertIn(self.status_line(),
                      ("Device is STOPPED!", "Device is connected as " + self.server.device))

    def shown(self):
        """What the page shows, in the words of varnoltctl show --json."""
        names = ("Waveform", "Samples per wave", "Duty") + FIELDS + READOUTS + JUMPERS
        values = self.browser.execute_script(
            "const e = Array.from(arguments);"
            "return [e[0].selectedIndex, e[1].selectedIndex, Number(e[2].value)]"
            ".concat(e.slice(3, 10).map(x => x.value), [e.slice(10).map(x => x.checked)]);",
            *[self.control(name) for name in names])
        jumpers = values[10]
        return dict(zip(SHOWN, values[:10] + [jumpers.index(True) if jumpers.count(True) == 1
                                              else None]))

    def answer_after(self, query, before, limit=5.0):
        """The query's answer once it is another than before, or at the time limit."""
        self.wait_until(lambda: self.scpi.query(query) != before, limit)
        return self.scpi.query(query)

    def assert_page_shows(self, *settings):
        """The page comes to show what varnoltctl show gives for these settings."""
        expected = {key: value for key, value in self.show(*settings).items() if key in SHOWN}
        self.wait_until(lambda: self.shown() == expected)
        self.assertEqual(self.shown(), expected)

    def test_defaults_names_and_identity(self):
        for name, role in NAMES.items():
            self.assertEqual(self.control(name).aria_role, role, name)
        self.assert_page_shows()
        duty = self.control("Duty")
        self.assertEqual([duty.get_attribute(a) for a in ("type", "min", "max", "step")],
                         ["number", "0", "100", "1"])
        _, model, serial, version = self.scpi.query("*IDN?").split(",")
        page = self.browser.find_element(By.TAG_NAME, "body").text
        for text in (model, serial, version, f"TCPIP::127.0.0.1::{self.server.port}::SOCKET"):
            self.assertIn(text, page)
        # Nothing of the page was refused or missing (CSP, scripts, the icon); the icon is the
        # program's: rounded corners, a green sine and an amber square wave.
        icon = self.browser.execute_async_script(
            "const done = arguments[0], image = new Image(), canvas = document.createElement("
            "'canvas'), context = canvas.getContext('2d'); canvas.width = canvas.height = 32;"
            "image.onload = () => { context.drawImage(image, 0, 0, 32, 32);"
            "  done(Array.from(context.getImageData(0, 0, 32, 32).data)); };"
            "image.onerror = () => done(null); image.src = '/favicon.ico';")
        pixels = [icon[i:i + 4] for i in range(0, len(icon), 4)]
        self.assertEqual([pixels[i][3] for i in (0, 31, 32 * 31, 32 * 32 - 1)], [0] * 4)
        self.assertEqual(pixels[16 * 32 + 16][3], 255)
        green = [p for p in pixels if p[1] > 150 and p[0] < 150 and p[3] == 255]
        amber = [p for p in pixels if p[0] > 200 and 120 < p[1] < 220 and p[2] < 100 and
                 p[3] == 255]
        self.assertGreater(len(green), 20)
        self.assertGreater(len(amber), 20)
        self.assertEqual([entry for entry in self.browser.get_log("browser")
                          if entry["level"] == "SEVERE"], [])
        # One heading, the title; only the status line is live (a step is announced once, not by
        # each readout).
        tree = self.browser.execute_cdp_cmd("Accessibility.getFullAXTree", {})["nodes"]
        properties = [{p["name"]: p["value"].get("value") for p in node.get("properties", [])}
                      for node in tree]
        self.assertEqual([(node["name"]["value"], found["level"])
                          for node, found in zip(tree, properties)
                          if node.get("role", {}).get("value") == "heading"],
                         [(self.browser.title, 1)])
        live = [self.browser.execute_cdp_cmd("DOM.describeNode", {
                    "backendNodeId": node["backendDOMNodeId"]})["node"]["attributes"]
                for node, found in zip(tree, properties) if found.get("live", "off") != "off"]
        self.assertEqual([dict(zip(a[::2], a[1::2])).get("id") for a in live], ["status-line"])

    def test_each_kind_of_control_sets_the_instrument_and_start_sends_it(self):
        def choose(name, text):
            return lambda: Select(self.control(name)).select_by_visible_text(text)

        def typed(name, text):
            return lambda: self.type_into(name, text)

        fixed = ["--wave", "square", "--spw", "90", "--duty", "25", "--jumper", "J2"]
        # (what the user does, the query, its answer then or None for any other than before,
        # the settings whose value varnoltctl show must give for the typed field)
        cases = [
            (choose("Samples per wave", "90SPW ->56kHz max"), "FREQ:SPW?", "90", None),
            (choose("Waveform", "Square Wave"), "FUNC?", "SQU", None),
            (lambda: self.control("J2(x1.5)").click(), "VOLT:JUMP?", "J2", None),
            (lambda: self.control("Duty").send_keys(Keys.ARROW_UP), "FUNC:SQU:DCYC?", "51",
             None),
            (typed("Duty", "25"), "FUNC:SQU:DCYC?", "25", None),
            (typed("Amplitude", "1.5"), "VOLT?", None, ("vppText", "--vpp", "1.5")),
            (typed("Frequency", "2.5k"), "FREQ?", None, ("frequencyText", "--freq", "2.5k")),
            (typed("Offset", "-500m"), "VOLT:OFFS?", None, ("offsetText", "--offset", "-500m")),
        ]
        for index, (act, query, answer, typed_value) in enumerate(cases):
            before = self.scpi.query(query)
            act()
            after = self.answer_after(query, before)
            self.assertNotEqual(after, before, f"case {index}: {query}")
            if answer is not None:
                self.assertEqual(after, answer, f"case {index}: {query}")
            self.assert_page_shows(*self.instrument_settings())
            if typed_value:
                key, option, text = typed_value
                self.assertEqual(self.shown()[key], self.show(*fixed, option, text)[key])
        self.assertEqual(self.scpi.query("SYST:ERR?"), '0,"No error"')
        # START sends what varnoltctl start sends with these settings, and the running trace is
        # another picture (its colour); STOP stops.
        picture = self.browser.execute_script("return document.querySelector('main svg').outerHTML")
        self.control("START").click()
        self.assert_status("Device is RUNNING!", "STOP")
        start = self.generator.received()
        self.assertEqual(start, dry_run(*self.instrument_settings()))
        self.assertNotEqual(self.browser.execute_script(
            "return document.querySelector('main svg').outerHTML"), picture)
        self.browser.save_screenshot(os.path.join(BUILD, "web-panel.png"))
        self.control("STOP").click()
        self.assert_status("Device is STOPPED!", "START")
        self.assertEqual(self.generator.received(len(start)), ["aa"])

    def test_steppers_step_their_field_each_way(self):
        # (query, command, direction, fine button, coarse button): each button steps from the
        # same value, and a coarse step moves further than a fine one.
        steppers = [("FREQ?", "FREQ", 1, "Frequency up", "Frequency up, coarse"),
                    ("FREQ?", "FREQ", -1, "Frequency down", "Frequency down, coarse"),
                    ("VOLT:OFFS?", "VOLT:OFFS", 1, "Offset up", None),
                    ("VOLT:OFFS?", "VOLT:OFFS", -1, "Offset down", None),
                    ("VOLT?", "VOLT", -1, "Amplitude down", "Amplitude down, coarse"),
                    ("VOLT?", "VOLT", 1, "Amplitude up", "Amplitude up, coarse")]
        for query, command, direction, *names in steppers:
            start, steps = self.scpi.query(query), []
            for name in filter(None, names):
                self.assertEqual(self.scpi.query(f"{command} {start};*OPC?"), "1")
                self.control(name).click()
                steps.append((float(self.answer_after(query, start)) - float(start)) * direction)
            self.assertGreater(steps[0], 0, names[0])
            if names[1]:
                self.assertGreater(steps[1], steps[0], names[1])
        self.assert_page_shows(*self.instrument_settings())

    def test_the_server_and_then_the_generator_lost_and_back(self):
        connected = self.status_element().value_of_css_property("color")
        self.server.stop()
        self.assertTrue(self.wait_until(lambda: "lost" in self.status_line().lower()),
                        self.status_line())
        self.assertNotEqual(self.status_element().value_of_css_property("color"), connected)
        # The page's own words, none of the server's.
        self.assertNotIn(self.status_line(), ("Device is STOPPED!", "Device is RUNNING!", LOST))
        self.server = self.serve("--http", f"127.0.0.1:{self.server.web_port}")
        self.wait_until(lambda: "lost" not in self.status_line().lower(), 10)
        self.assert_idle()
        self.unplug(self.generator)
        self.assert_status(LOST)
        self.generator = self.plug_in()
        # Back without any command: the server looks for it by itself.
        self.wait_until(lambda: self.status_line() != LOST)
        self.assert_idle()
        self.control("START").click()
        self.assert_status("Device is RUNNING!")

    def test_the_widest_texts_fit_each_screen(self):
        # The longest texts: 10 characters in the offset field and three readouts (-7.86e-002),
        # 9 in the others; then the period in microseconds. Then a refusal beside each field: the
        # instrument's own error text, as the SCPI command gives it, and nothing changed.
        states = ("VOLT:JUMP J2;:VOLT:OFFS -0.0786;:VOLT 0.0386;:FREQ:SPW 360;:FREQ 96.899225",
                  "FREQ:SPW 24;:FREQ 214285.71")
        refusals = [("Frequency", "300k", "FREQ 300000"), ("Amplitude", "99", "VOLT 99"),
                    ("Offset", "1k", "VOLT:OFFS 1000"), ("Duty", "150", "FUNC:SQU:DCYC 150")]
        self.addCleanup(self.browser.execute_cdp_cmd, "Emulation.clearDeviceMetricsOverride", {})
        for width, phone in ((390, True), (375, True), (360, True), (320, True), (1000, False)):
            self.browser.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
                "width": width, "height": 740, "deviceScaleFactor": 2 if phone else 1,
                "mobile": phone})
            self.open_page()
            for command in states:
                self.scpi.write(command)
                self.assert_page_shows(*self.instrument_settings())
                self.assert_within_screen(width, f"{width} px, {command}")
            for name, typed, command in refusals:
                before = self.shown()
                self.type_into(name, typed)
                self.wait_until(lambda: self.field_error(name) != "")
                self.assertEqual(self.field_error(name),
                                 self.scpi.query(command + ";:SYST:ERR?"), name)
                self.assertEqual(self.shown(), before, name)
            self.assert_within_screen(width, f"{width} px, four refusals")
            if width == 320:
                # One column: the controls stand one below the other.
                tops = [self.control(name).rect["y"] for name in
                        ("Waveform", "Samples per wave", "Duty", "Frequency", "Offset",
                         "Amplitude", "START")]
                self.assertEqual(tops, sorted(set(tops)))
                self.browser.save_screenshot(os.path.join(BUILD, "web-panel-320.png"))

    def assert_within_screen(self, width, case):
        """Nothing of the page reaches past either side of a screen `width` px wide, each field
        and readout shows its whole text, and nothing that shows text covers another such."""
        inner, outside, covered = self.browser.execute_script(
            "const width = arguments[0], outside = [], covered = [], leaves = [];"
            "const name = e => e.tagName + '#' + e.id + '.' + e.getAttribute('class') +"
            "                  ' ' + e.textContent.slice(0, 12);"
            "for (const e of document.body.querySelectorAll('*')) {"
            "  const box = e.getBoundingClientRect();"
            "  if (box.width === 0) continue;"
            "  if (box.left < 0 || box.right > width)"
            "    outside.push(name(e) + ' ' + box.left + '..' + box.right);"
            "  if (e.childElementCount === 0 && box.width > 1 && !e.closest('svg'))"
            "    leaves.push([e, box]);"
            "}"
            "leaves.forEach(([e, a], i) => leaves.slice(i + 1).forEach(([f, b]) => {"
            "  if (Math.min(a.right, b.right) - Math.max(a.left, b.left) > 0.5 &&"
            "      Math.min(a.bottom, b.bottom) - Math.max(a.top, b.top) > 0.5)"
            "    covered.push(name(e) + ' / ' + name(f));"
            "}));"
            "return [window.innerWidth, outside, covered];",
            width)
        self.assertEqual(outside, [], case)
        self.assertEqual(inner, width, case)
        self.assertEqual(covered, [], case)
        names = FIELDS + READOUTS
        sizes = self.browser.execute_script(
            "return Array.from(arguments).map(e => [e.scrollWidth, e.clientWidth]);",
            *[self.control(name) for name in names])
        for name, (content, inside) in zip(names, sizes):
            self.assertLessEqual(content, inside, f"{case}: {name}")

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
        before = self.page()
        self.assertEqual(len(before[0]), 7)
        self.control(LOAD).send_keys(path)
        self.wait_until(lambda: self.page()[1] == 7)
        waves, chosen, readouts, picture = self.page()
        self.assertEqual((waves[7:], chosen, self.field_error(LOAD)), ([USER], 7, ""))
        self.assertNotEqual(picture, before[3])
        # The readouts are those of any wave at these settings; a sine's.
        self.assertEqual(readouts, before[2])
        self.control("START").click()
        self.wait_until(lambda: len(self.generator.received()) == 14)
        self.assertEqual(self.generator.received(), dry_run("--shape", path))
        self.assertEqual(self.scpi.query("SYST:ERR?"), '0,"No error"')

    def test_a_refused_file_shows_its_reason_and_changes_nothing(self):
        self.scpi.write("FUNC SQU;:OUTP ON")
        # What the page shows is taken once it shows the square wave running.
        self.wait_until(lambda: len(self.generator.received()) == 14 and
                        self.status_line() == "Device is RUNNING!")
        sent = self.generator.received()
        before = self.page()
        bad = self.write("broken.wav", b"RIFF\x24\x00\x00\x00WAVEfmt \x10\x00")
        self.control(LOAD).send_keys(bad)
        self.wait_until(lambda: self.field_error(LOAD) != "")
        reason = self.field_error(LOAD)
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
        self.assertEqual((self.field_error(LOAD), self.control(LOAD).get_attribute("aria-invalid"),
                          self.page()[1]), ("", None, 7))

    def test_the_upload_limit_and_the_origin(self):
        # 16 MiB is read (and refused for its points); one byte more, in any framing, is not.
        status, answer = self.post("/api/waveform", b"0\n" * (8 * MIB))
        self.assertEqual(status, 422, answer[:80])
        self.assertEqual(json.loads(answer)["field"], "waveform")
        self.assertEqual(self.post("/api/waveform", b"0" * (16 * MIB + 1))[0], 413)
        self.assertEqual(self.post("/api/waveform", iter([b"0\n" * MIB] * 9))[0], 413)
        # The other bodies keep their limit of 1 MiB (/api/action's: ../serving/serve_test.py).
        self.assertEqual(self.post("/no/such/page", b" " * (MIB + 1))[0], 413)
        # The page's own origin may; the answer carries the state that chose it.
        status, answer = self.post("/api/waveform", b"0\n1\n0\n-1\n",
                                   {"Origin": self.server.url.rstrip("/")})
        self.assertEqual(status, 200, answer)
        self.assertEqual(json.loads(answer)["state"]["waves"][7:], [USER])


if __name__ == "__main__":
    rig.main()
