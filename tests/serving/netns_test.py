#!/usr/bin/env python3
"""varnoltctl serve in network namespaces of the test's own (root). ServeUnitTest: the package's
systemd service and the udev rule's name. The rig's four namespaces (netns.py): AllowTest, who may
connect (--allow), serving in the test's own on network A to a neighbour on A and a stranger on B;
AuthTest, who may change the generator through the web panel in headless Chromium: serve in the
neighbour's, beyond loopback (so that --auth auto asks for the token), the browser in the test's
own (--token-file: serve_test.py).
Usage: netns_test.py VARNOLTCTL GENERATOR [unittest arguments]"""
import ast
import os
import re
import shlex
import socket
import subprocess
import sys
import tempfile
import time
import unittest

from selenium.webdriver.common.by import By

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import rig  # noqa: E402
from rig.browser import ServedPage  # noqa: E402
from rig.generator import DeviceTree, Generator  # noqa: E402
from rig.netns import HERE, NEIGHBOUR, STRANGER, enter, network  # noqa: E402
from rig.process import enter_namespaces  # noqa: E402
from rig.serve import Server, request  # noqa: E402

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
UNIT = os.path.join(ROOT, "packaging", "debian", "varnoltctl-serve@.service")
DEFAULTS = os.path.join(ROOT, "packaging", "debian", "varnoltctl.default")
RULE = os.path.join(ROOT, "tools", "udev", "70-varnolt.rules")


def assignments(path):
    """(section, key, value) of each setting of a unit or environment file."""
    section = None
    with open(path) as lines:
        for line in map(str.strip, lines):
            if line.startswith("["):
                section = line
            elif line and not line.startswith("#"):
                yield (section, *line.partition("=")[::2])


def environment(settings):
    """Environment= and then the EnvironmentFile, as systemd reads them (the file wins)."""
    values = {}
    for line in settings[("[Service]", "Environment")]:
        values.update(word.split("=", 1) for word in shlex.split(line))
    values.update((key, " ".join(shlex.split(value))) for _, key, value in assignments(DEFAULTS))
    return values


def command_line(settings, instance, values, state="/var/lib"):
    """ExecStart for an instance: %I, %i, %S, then ${VAR} as one word and $VAR split at blanks."""
    words = []
    escaped = instance.replace("/", "-")
    for word in shlex.split(settings[("[Service]", "ExecStart")][0]):
        word = word.replace("%I", instance).replace("%i", escaped).replace("%S", state)
        whole = re.fullmatch(r"\$([A-Za-z_][A-Za-z0-9_]*)", word)
        if whole:
            words += values.get(whole.group(1), "").split()
        else:
            words.append(re.sub(r"\$\{([A-Za-z_][A-Za-z0-9_]*)\}",
                                lambda m: values.get(m.group(1), ""), word))
    return words


TOKEN_LINE = r"varnoltctl: web panel (http://10\.232\.1\.2:\d+/\?token=([A-Za-z0-9_-]{32}))$"

class ServeUnitTest(unittest.TestCase):
    def test_verify_and_security(self):
        with tempfile.TemporaryDirectory() as folder:
            # verify checks that the program exists: the built one stands in for /usr/bin's.
            copy = os.path.join(folder, "varnoltctl-serve@.service")
            with open(UNIT) as unit, open(copy, "w") as out:
                out.write(unit.read().replace("/usr/bin/varnoltctl", os.path.abspath(rig.TOOL)))
            result = subprocess.run(["systemd-analyze", "verify", "--man=no", copy],
                                    capture_output=True, text=True, timeout=60)
            # An unknown or misspelt key is only a warning: nothing may be said at all.
            self.assertEqual((result.returncode, result.stderr, result.stdout), (0, "", ""))
        # The exposure score, in tenths (1.9 printed is 19): 2.5 at most.
        result = subprocess.run(["systemd-analyze", "security", "--offline=yes", "--threshold=25",
                                 UNIT], capture_output=True, text=True, timeout=60)
        self.assertEqual(result.returncode, 0, result.stdout[-2000:] + result.stderr)

    def test_the_rule_starts_it_only_once_turned_on(self):
        with open(RULE) as rule:
            wanted = re.findall(r'ENV\{SYSTEMD_WANTS\}\+="([^"@]+)@%k\.service"', rule.read())
        self.assertEqual(len(wanted), 1)
        with tempfile.TemporaryDirectory() as root:
            units = os.path.join(root, "usr/lib/systemd/system")
            os.makedirs(units)
            os.makedirs(os.path.join(root, "etc/systemd/system"))
            subprocess.run(["cp", UNIT, units], check=True)
            alias = os.path.join(root, "etc/systemd/system", wanted[0] + "@.service")
            for action, exists in (("enable", True), ("disable", False)):
                subprocess.run(["systemctl", "--root=" + root, action,
                                "varnoltctl-serve@.service"], check=True, capture_output=True,
                               timeout=60)
                self.assertEqual(os.path.lexists(alias), exists, action)

    def test_command_line_with_the_default_file(self):
        settings = {}
        for section, key, value in assignments(UNIT):
            settings.setdefault((section, key), []).append(value)
        values = environment(settings)
        # Restarted on failure, not after a bad option (64) or a taken address (75, below); a
        # generator that hung up (74) is worth another try.
        kept = settings[("[Service]", "RestartPreventExitStatus")][0].split()
        self.assertEqual((settings[("[Service]", "Restart")], "64" in kept, "74" in kept),
                         (["on-failure"], True, False))
        first = Generator()
        self.addCleanup(first.stop)
        # The instance is the device's name below /dev: the pty's.
        words = command_line(settings, os.path.relpath(first.pty, "/dev"), values)
        self.assertEqual(words[0], "/usr/bin/varnoltctl")
        words[0] = rig.TOOL
        # The unit's own state folder keeps the certificate and the token.
        state = "/var/lib/" + settings[("[Service]", "StateDirectory")][0]
        self.assertEqual(words[1:], ["serve", "--port", first.pty, "--listen", "127.0.0.1:5025",
                                     "--state-dir", state, "--token-file", state + "/token"])
        server = Server(command=words)
        self.addCleanup(server.stop)
        self.assertEqual((server.device, server.port), (first.pty, 5025), server.lines)
        with socket.create_connection(("127.0.0.1", 5025), timeout=5) as client:
            client.sendall(b"*IDN?\n")
            self.assertTrue(client.makefile().readline().startswith("VARNOLT,DDS generator,"))
        # A second generator's instance: an exit code that is not restarted.
        second = Generator()
        self.addCleanup(second.stop)
        words = command_line(settings, os.path.relpath(second.pty, "/dev"), values)
        words[0] = rig.TOOL
        result = subprocess.run(words, capture_output=True, text=True, timeout=30)
        self.assertEqual(result.returncode, 75, result.stderr)
        self.assertIn(str(result.returncode), kept)
        # The first ends with 0 on SIGTERM; nothing announced from loopback.
        self.assertEqual(server.stop(), 0)
        self.assertEqual(len(server.lines), 1, server.lines)


# One connection from a namespace: what came back before the server closed it (b"" for none).
CLIENT = """import socket, sys
with socket.create_connection((sys.argv[1], int(sys.argv[2])), timeout=5) as s:
    try:
        s.sendall(sys.argv[3].encode())
        print(repr(s.recv(64)))
    except (ConnectionResetError, BrokenPipeError):
        print(repr(b""))
"""


class AllowTest(DeviceTree, unittest.TestCase):
    def setUp(self):
        super().setUp()
        self.generator = self.plug_in()

    def serve(self, *options, listen="0.0.0.0:0"):
        return super().serve("--no-announce", *options, listen=listen)

    def connect(self, client, port, text):
        """What the server answered a connection from the client's namespace (b"": nothing)."""
        result = subprocess.run([*enter(client), sys.executable,
                                 "-c", CLIENT, HERE, str(port), text],
                                capture_output=True, text=True, timeout=20)
        self.assertEqual(result.returncode, 0, result.stderr)
        return ast.literal_eval(result.stdout)

    def answers(self, client, server):
        """The start of the SCPI and the web answers to the client."""
        get = f"GET / HTTP/1.1\r\nHost: {HERE}:{server.web_port}\r\nConnection: close\r\n\r\n"
        return (self.connect(client, server.port, "*IDN?\n")[:8],
                self.connect(client, server.web_port, get)[:12])

    def test_the_neighbour_is_served_and_the_stranger_refused(self):
        server = self.serve()
        self.assertIsNotNone(server.wait_for(r"warning: listening on 0\.0\.0\.0:\d+: anyone"))
        self.assertIsNotNone(server.wait_for(r"^varnoltctl: serving clients from loopback, "
                                             r"10\.232\.1\.0/24 \(sa\)"), server.lines)
        # The web panel beyond loopback asks for the token (given at loopback's address too).
        self.assertIsNotNone(server.wait_for(
            rf"web panel http://127\.0\.0\.1:{server.web_port}/\?token=[\w-]{{32}}$"))
        self.assertFalse([line for line in server.lines if "serving the web panel" in line])
        self.assertEqual(self.answers(HOLDERS[1], server), (b"VARNOLT,", b"HTTP/1.1 200"))
        before = self.generator.settle()
        # Refused at accept: nothing of the stranger's command reaches the generator. Its refusal
        # by the web panel within the second gets no line of its own.
        self.assertEqual(self.connect(HOLDERS[2], server.port, "APPL:SQU 1KHZ\n*IDN?\n"), b"")
        self.assertEqual(self.connect(HOLDERS[2], server.web_port, "GET / HTTP/1.1\r\n\r\n"),
                         b"")
        self.assertEqual(self.generator.settle(), before)
        time.sleep(1)
        self.assertEqual(self.connect(HOLDERS[2], server.web_port, "GET / HTTP/1.1\r\n\r\n"),
                         b"")
        self.assertTrue(server.wait_for(r"\(web panel\): not on"), server.lines)
        refused = f"varnoltctl: refused {STRANGER} (%s): not on a network served; --allow " \
                  f"{STRANGER} or its network would serve it"
        self.assertEqual([line for line in server.lines if "refused" in line],
                         [refused % "SCPI", refused % "web panel"])

    def test_https_and_its_redirect_admit_as_http_does(self):
        server = self.serve("--https", "0", "--http", "0")
        self.assertEqual(subprocess.run([*enter(HOLDERS[1]), "openssl", "s_client", "-connect",
                                         f"{HERE}:{server.web_port}"],
                                        stdin=subprocess.DEVNULL, capture_output=True,
                                        timeout=20).returncode, 0)
        # Refused before the handshake: the hello gets nothing back.
        hello = "\x16\x03\x01\x01\x01\x01\x01\x01\x01\x01"
        self.assertEqual(self.connect(HOLDERS[2], server.web_port, hello), b"")
        self.assertEqual(self.connect(HOLDERS[2], server.http_port, "GET / HTTP/1.1\r\n\r\n"),
                         b"")
        self.assertTrue(server.wait_for(f"refused {STRANGER} \\(web panel\\)"), server.lines)

    def test_allowed_by_its_network_or_by_any_and_with_auth_off(self):
        # On an IPv6 wildcard, an IPv4 client is an IPv4-mapped address, matched as IPv4.
        for options, listen in ((("--allow", "10.232.2.0/24"), "[::]:0"),
                                (("--allow", "any", "--auth", "off"), "0.0.0.0:0")):
            with self.subTest(options=options):
                server = self.serve(*options, listen=listen)
                self.assertEqual(self.connect(HOLDERS[2], server.port, "APPL:SQU 1KHZ\n"
                                              "*OPC?\n"), b"1\n")
                self.assertEqual(self.answers(HOLDERS[2], server),
                                 (b"VARNOLT,", b"HTTP/1.1 200"))
                if options[1] == "any":
                    self.assertIn("varnoltctl: warning: --allow any: anyone who can reach this "
                                  "machine can drive the generator", server.lines)
                    self.assertTrue(server.wait_for(r"warning: serving the web panel on "
                                                    r"0\.0\.0\.0:\d+ with --auth off: anyone"))
                    self.assertFalse([line for line in server.lines if "token" in line])
                self.assertEqual(server.stop(), 0)



class AuthTest(ServedPage, unittest.TestCase):
    host = NEIGHBOUR

    def serve(self, *options):
        return super().serve("--no-announce", "--http", NEIGHBOUR + ":0", *options,
                             listen=NEIGHBOUR + ":0", enter=enter(HOLDERS[1]))

    def setUp(self):
        super().setUp()
        match = self.server.wait_for(TOKEN_LINE)
        self.assertIsNotNone(match, self.server.lines)
        self.address, self.token = match.group(1), match.group(2)
        self.cookie_name = f"varnolt_session_{self.server.web_port}"
        self.browser.delete_all_cookies()

    def http(self, method, path, body=b"", headers=None, port=None):
        return request(port or self.server.web_port, method, path, body, headers, NEIGHBOUR)

    def run_action(self, headers, port=None):
        return self.http("POST", "/api/action", b'{"do":"run"}',
                         {"Content-Type": "application/json", **headers}, port)[0]

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
        for name in ("Waveform", "Frequency", "Frequency up", "Duty", "J2(x1.5)", "START"):
            self.assertFalse(self.find(name).is_enabled(), name)
        frequency = self.find("Frequency")
        before = frequency.get_attribute("value")
        self.scpi.query("FREQ 2000;*OPC?")
        self.assertTrue(self.wait_until(lambda: frequency.get_attribute("value") != before))
        self.assertEqual(self.http("GET", "/lxi/identification")[0], 200)
        status, headers, _ = self.http("GET", "/?token=" + self.token)
        self.assertEqual((status, headers["Location"]), (303, "/"))
        self.assertEqual(self.run_action({}), 403)
        self.assertEqual(self.http("POST", "/api/waveform", b"1\n2\n",
                                   {"Content-Type": "application/octet-stream"})[0], 403)

    def test_the_printed_address_signs_in_with_a_session_cookie(self):
        self.browser.get(self.address)
        self.assertTrue(self.wait_until(self.signed_in))
        cookie = self.browser.get_cookie(self.cookie_name)
        self.assertEqual((cookie["httpOnly"], cookie["sameSite"], cookie["path"]),
                         (True, "Strict", "/"))
        self.assertNotIn("expiry", cookie)
        self.assertEqual(len(cookie["value"]), 22)
        self.assertEqual(self.run_action({"Cookie": f"{self.cookie_name}={cookie['value']}"}), 200)
        self.assertEqual(self.scpi.query("OUTP?"), "1")
        # A later run of serve knows no session of this one.
        self.assertEqual(self.server.stop(), 0)
        later = self.serve()
        replayed = {"Cookie": f"varnolt_session_{later.web_port}={cookie['value']}"}
        self.assertEqual(self.run_action(replayed, later.web_port), 403)
        # The token goes nowhere but its lines.
        self.assertEqual([line for line in self.server.lines if self.token in line],
                         [f"varnoltctl: web panel {self.address}"])

    def test_the_form_with_a_wrong_then_the_right_token_then_the_limit(self):
        # The refusal by its own words: the panel's picture holds "403" among its points.
        refused = "403 Forbidden: not this panel's access token"
        for token, done in (("badtoken", lambda: refused in self.browser.page_source),
                            (self.token, self.signed_in)):
            self.browser.get(self.server.url)
            self.assertTrue(self.wait_until(lambda: self.find("Access token").is_displayed()))
            self.find("Access token").send_keys(token)
            self.find("Sign in").click()
            self.assertTrue(self.wait_until(done), token)
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
    HOLDERS = network()  # the router's, the neighbour's and the stranger's namespaces
    rig.main()
