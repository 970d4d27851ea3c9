#!/usr/bin/env python3
"""Who may change the generator through the web panel, in headless Chromium, across the rig's
network namespaces: serve in the neighbour's, on its address on network A (beyond loopback, so
that the default --auth auto asks for the token), the browser in the test's own. The read-only
page without a session, signing in by the printed address and by the form, the session cookie,
wrong tokens and their limit, a foreign Origin, and a previous run's session (--token-file:
https_test.py).

Usage: auth_test.py VARNOLTCTL GENERATOR [unittest arguments]
"""
import json
import os
import sys
import unittest

from selenium.webdriver.common.by import By

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import rig  # noqa: E402
from rig.browser import ServedPage  # noqa: E402
from rig.netns import HERE, NEIGHBOUR, close, enter, network  # noqa: E402
from rig.process import enter_namespaces  # noqa: E402
from rig.serve import request  # noqa: E402

TOKEN_LINE = r"varnoltctl: web panel (http://10\.232\.1\.2:\d+/\?token=([A-Za-z0-9_-]{32}))$"


class AuthTest(ServedPage, unittest.TestCase):
    host = NEIGHBOUR

    @classmethod
    def setUpClass(cls):
        cls.holders = network()
        super().setUpClass()

    @classmethod
    def tearDownClass(cls):
        super().tearDownClass()
        close(cls.holders)

    def serve(self, *options):
        return super().serve("--no-announce", "--http", NEIGHBOUR + ":0", *options,
                             listen=NEIGHBOUR + ":0", enter=enter(self.holders[1]))

    def setUp(self):
        super().setUp()
        match = self.server.wait_for(TOKEN_LINE)
        self.assertIsNotNone(match, self.server.lines)
        self.address, self.token = match.group(1), match.group(2)
        self.cookie_name = f"varnolt_session_{self.server.web_port}"
        self.browser.delete_all_cookies()

    def http(self, method, path, body=b"", headers=None, port=None):
        return request(port or self.server.web_port, method, path, body, headers, NEIGHBOUR)

    def run_action(self, headers):
        return self.http("POST", "/api/action", b'{"do":"run"}',
                         {"Content-Type": "application/json", **headers})[0]

    def find(self, name):
        for element in self.browser.find_elements(By.CSS_SELECTOR, "input, button, select"):
            if element.accessible_name == name:
                return element
        return None

    def signed_in(self):
        """Whether the page offers its controls (and not the sign-in form)."""
        start = self.find("START")
        return start is not None and start.is_enabled() and self.find("Access token") is None

    def test_without_a_session_the_page_is_read_only_and_live(self):
        self.browser.get(self.server.url)
        self.assertTrue(self.wait_until(lambda: self.find("Access token").is_displayed()))
        self.assertTrue(self.find("Sign in").is_displayed())
        for name in ("Waveform", "Frequency", "Frequency up", "Duty", "J2(x1.5)", "START"):
            self.assertFalse(self.find(name).is_enabled(), name)
        frequency = self.find("Frequency")
        before = frequency.get_attribute("value")
        self.scpi.query("FREQ 2000;*OPC?")
        self.assertTrue(self.wait_until(lambda: frequency.get_attribute("value") != before))
        self.assertEqual(frequency.get_attribute("value"),
                         json.loads(self.http("GET", "/api/state")[2])["frequency"])
        self.assertEqual(self.http("GET", "/lxi/identification")[0], 200)
        status, headers, _ = self.http("GET", "/?token=" + self.token)
        self.assertEqual((status, headers["Location"]), (303, "/"))
        # Every action without a session: 403, and nothing reaches the generator.
        self.assertEqual(self.run_action({}), 403)
        self.assertEqual(self.http("POST", "/api/waveform", b"1\n2\n",
                                   {"Content-Type": "application/octet-stream"})[0], 403)
        self.assertEqual(self.scpi.query("OUTP?;:FUNC?"), "0;SIN")
        self.assertEqual(self.generator.received(), [])

    def test_the_printed_address_signs_in_and_start_sends_the_start(self):
        self.browser.get(self.address)
        self.assertTrue(self.wait_until(self.signed_in))
        self.assertEqual(self.browser.current_url, self.server.url)
        cookie = self.browser.get_cookie(self.cookie_name)
        self.assertEqual((cookie["httpOnly"], cookie["sameSite"], cookie["path"]),
                         (True, "Strict", "/"))
        self.assertNotIn("expiry", cookie)
        self.assertEqual(len(cookie["value"]), 22)
        self.find("START").click()
        self.assertTrue(self.wait_until(lambda: self.scpi.query("OUTP?") == "1"))
        # The cookie with a foreign Origin changes nothing.
        session = {"Cookie": f"{self.cookie_name}={cookie['value']}"}
        self.assertEqual(self.run_action({**session, "Origin": "http://evil.example"}), 403)
        self.assertEqual(self.scpi.query("OUTP?"), "1")
        self.assertEqual(self.run_action(session), 200)
        self.assertEqual(self.scpi.query("OUTP?"), "0")
        # A later run of serve knows no session of this one.
        self.assertEqual(self.server.stop(), 0)
        later = self.serve()
        replayed = {"Cookie": f"varnolt_session_{later.web_port}={cookie['value']}"}
        self.assertEqual(self.http("POST", "/api/action", b'{"do":"run"}', replayed,
                                   port=later.web_port)[0], 403)
        state = json.loads(self.http("GET", "/api/state", headers=replayed,
                                     port=later.web_port)[2])
        self.assertFalse(state["session"])
        # The token goes nowhere but its lines.
        self.assertEqual([line for line in self.server.lines if self.token in line],
                         [f"varnoltctl: web panel {self.address}"])

    def test_the_form_with_a_wrong_then_the_right_token_then_the_limit(self):
        for token, done in (("badtoken", lambda: "403" in self.browser.page_source),
                            (self.token, self.signed_in)):
            self.browser.get(self.server.url)
            self.assertTrue(self.wait_until(lambda: self.find("Access token").is_displayed()))
            self.find("Access token").send_keys(token)
            self.find("Sign in").click()
            self.assertTrue(self.wait_until(done), token)
        self.assertEqual(self.browser.current_url, self.server.url)
        form = {"Content-Type": "application/x-www-form-urlencoded"}
        for attempt in range(2, 12):
            status, headers, _ = (self.http("GET", "/?token=badtoken") if attempt % 2 else
                                  self.http("POST", "/api/signin", b"token=badtoken", form))
            self.assertEqual(status, 403 if attempt <= 10 else 429, attempt)
        self.assertEqual(headers["Retry-After"], "60")
        # Locked out: the right token too, and a refused attempt is no failure.
        self.assertEqual(self.http("GET", "/?token=" + self.token)[0], 429)
        self.assertIsNotNone(self.server.wait_for("refused for 60 s"), self.server.lines)
        failures = [line for line in self.server.lines if "access token" in line]
        self.assertEqual(failures, [f"varnoltctl: web panel: a wrong access token from {HERE}"] * 10
                         + [f"varnoltctl: web panel: 10 wrong access tokens from {HERE} within "
                            "60 s: its sign-ins are refused for 60 s"])
        self.assertNotIn("badtoken", "\n".join(self.server.lines))


if __name__ == "__main__":
    enter_namespaces("--net")
    rig.main()
