#!/usr/bin/env python3
"""The web panel on loopback. Over plain HTTP: what may change the generator, bad input, idle
connections (beyond loopback: ../serving/netns_test.py). Over HTTPS: protocols and suites, its certificate,
the redirecting HTTP listener, and Chromium over HTTPS. serve's bad options and files.
Usage: https_test.py VARNOLTCTL GENERATOR [unittest arguments]"""
import hashlib
import json
import os
import socket
import ssl
import stat
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.support.ui import WebDriverWait  # noqa: E402

import rig  # noqa: E402
from rig.browser import chromium  # noqa: E402
from rig.generator import DeviceTree  # noqa: E402
from rig.scpi import Client  # noqa: E402
from rig.serve import request  # noqa: E402

FINGERPRINT = r"web panel certificate SHA-256 fingerprint: ([0-9A-F:]{95})$"


def handshake(port, *options):
    result = subprocess.run(["openssl", "s_client", "-connect", f"127.0.0.1:{port}", *options],
                            stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=20)
    return result.returncode == 0 and "Cipher is (NONE)" not in result.stdout


def served_fingerprint(port):
    der = ssl.PEM_cert_to_DER_cert(ssl.get_server_certificate(("127.0.0.1", port)))
    return ":".join(f"{byte:02X}" for byte in hashlib.sha256(der).digest())


class HttpsTest(DeviceTree, unittest.TestCase):
    def setUp(self):
        super().setUp()
        self.generator = self.plug_in()
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)

    def serve(self, *options):
        server = super().serve("--http", "0", "--https", "0", "--no-announce", *options)
        self.assertTrue(server.url.startswith("https://"), server.lines)
        return server

    def test_only_tls_1_2_and_1_3_with_forward_secret_aead_suites(self):
        server = self.serve()
        port = server.web_port
        # No client of Debian's offers TLS 1.0 or 1.1 at its default security level.
        legacy = "DEFAULT@SECLEVEL=0"
        for options, accepted in ((("-tls1_3",), True), (("-tls1_2",), True),
                                  (("-tls1_1", "-cipher", legacy), False),
                                  (("-tls1", "-cipher", legacy), False),
                                  (("-tls1_2", "-cipher", "ECDHE-ECDSA-AES128-SHA"), False),
                                  (("-tls1_2", "-cipher", "ECDHE-ECDSA-CHACHA20-POLY1305"), True)):
            self.assertEqual(handshake(port, *options), accepted, options)
        self.assertEqual(server.stop(), 0)
        # An RSA key: the suites without forward secrecy that OpenSSL would offer with it.
        cert, key = (os.path.join(self.folder.name, name) for name in ("rsa.pem", "rsa-key.pem"))
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                        "-out", cert, "-subj", "/CN=localhost", "-days", "1"],
                       check=True, capture_output=True, timeout=60)
        server = self.serve("--tls-cert", cert, "--tls-key", key)
        for suite, accepted in (("AES128-GCM-SHA256", False), ("AES256-GCM-SHA384", False),
                                ("ECDHE-RSA-AES128-SHA", False),
                                ("ECDHE-RSA-AES128-GCM-SHA256", True)):
            self.assertEqual(handshake(server.web_port, "-tls1_2", "-cipher", suite), accepted,
                             suite)
        self.assertEqual(served_fingerprint(server.web_port),
                         server.wait_for(FINGERPRINT).group(1))

    def test_the_self_signed_certificate_and_the_token_are_kept_in_the_state_folder(self):
        state = os.path.join(self.folder.name, "state")
        token = os.path.join(state, "token")
        fingerprints, tokens = [], []
        for _ in range(2):
            server = self.serve("--state-dir", state, "--auth", "on")
            fingerprint = server.wait_for(FINGERPRINT).group(1)
            # The access token is kept there too, unless --token-file says otherwise.
            with open(token) as file:
                tokens.append(file.read())
            self.assertRegex(tokens[-1], r"^[\w-]{32}\n$")
            self.assertIsNotNone(server.wait_for("token=" + tokens[-1].strip() + "$"))
            self.assertEqual(served_fingerprint(server.web_port), fingerprint)
            fingerprints.append(fingerprint)
            self.assertEqual(server.stop(), 0)
        self.assertEqual((fingerprints[0], tokens[0]), (fingerprints[1], tokens[1]))
        for name in ("tls-key.pem", "token"):
            self.assertEqual(stat.S_IMODE(os.stat(os.path.join(state, name)).st_mode), 0o600)
        # A token file others may read is refused.
        os.chmod(token, 0o640)
        result = subprocess.run([rig.TOOL, "serve", "--listen", "127.0.0.1:0", "--http", "0",
                                 "--auth", "on", "--token-file", token], env=self.env,
                                capture_output=True, text=True, timeout=10)
        self.assertEqual((result.returncode, result.stderr), (64, f"varnoltctl: --token-file "
                         f"{token}: mode 0640: others than its owner may read or change it\n"))
        text = subprocess.run(["openssl", "x509", "-noout", "-text", "-in",
                               os.path.join(state, "tls-cert.pem")],
                              check=True, capture_output=True, text=True, timeout=10).stdout
        for part in ("ASN1 OID: prime256v1", "IP Address:127.0.0.1", "DNS:localhost",
                     "TLS Web Server Authentication", "CA:FALSE"):
            self.assertIn(part, text)
        # Without the folder, each start makes a new one.
        self.assertNotEqual(self.serve().wait_for(FINGERPRINT).group(1), fingerprints[0])

    def test_bad_options_and_files_are_named(self):
        other = os.path.join(self.folder.name, "other.pem")
        server = self.serve()
        with open(other, "w") as file:  # a certificate with another key
            file.write(ssl.get_server_certificate(("127.0.0.1", server.web_port)))
        self.assertEqual(server.stop(), 0)
        key = os.path.join(self.folder.name, "key.pem")
        subprocess.run(["openssl", "genpkey", "-algorithm", "EC", "-pkeyopt",
                        "ec_paramgen_curve:P-256", "-out", key], check=True, timeout=30)
        missing = os.path.join(self.folder.name, "missing.pem")
        holder = socket.create_server(("127.0.0.1", 0))
        self.addCleanup(holder.close)
        taken = holder.getsockname()[1]
        in_use = "cannot listen: Address already in use (another program listens there)"
        http = "not PORT, ADDR:PORT with a numeric address (127.0.0.1:8025) or off"
        for options, code, message in (
                (("--listen", f"127.0.0.1:{taken}"), 75, f"127.0.0.1:{taken}: {in_use}"),
                (("--listen", "localhost:5025"), 64,
                 "--listen localhost:5025: not ADDR:PORT with a numeric address (127.0.0.1:5025)"),
                (("--listen", "127.0.0.1:65536"), 64,
                 "--listen 127.0.0.1:65536: not ADDR:PORT (127.0.0.1:5025)"),
                (("--http", str(taken)), 75, f"--http 127.0.0.1:{taken}: {in_use}"),
                (("--http", "127.0.0.1:x"), 64, f"--http 127.0.0.1:x: {http}"),
                (("--http", "localhost:80"), 64, f"--http localhost:80: {http}"),
                (("--allow", "any", "--allow", "fe80::1%sa"), 64, "--allow fe80::1%sa: not an "
                 "address, a prefix (10.1.2.0/24, fd00::/64) or any"),
                (("--https", "localhost:0"), 64, "--https localhost:0: not PORT or ADDR:PORT "
                 "with a numeric address (127.0.0.1:8443)"),
                (("--https", "0", "--tls-cert", other), 64,
                 "--tls-cert and --tls-key go together, with --https"),
                (("--tls-cert", other, "--tls-key", key), 64,
                 "--tls-cert and --tls-key go together, with --https"),
                (("--https", "0", "--tls-cert", missing, "--tls-key", key), 66,
                 f"--tls-cert {missing} --tls-key {key}: cannot be read"),
                (("--https", "0", "--tls-cert", other, "--tls-key", key), 65,
                 f"--tls-cert {other} --tls-key {key}: not a PEM certificate and its private key")):
            listen = () if "--listen" in options else ("--listen", "127.0.0.1:0")
            result = subprocess.run([rig.TOOL, "serve", *listen, *options], env=self.env,
                                    capture_output=True, text=True, timeout=30)
            self.assertEqual((result.returncode, result.stderr),
                             (code, f"varnoltctl: {message}\n"), options)

    def test_plain_http_redirects(self):
        server = self.serve()
        before = self.generator.settle()
        for host, status in ((f"127.0.0.1:{server.http_port}", 307),
                             (f"localhost:{server.http_port}", 307),
                             (f"evil.example:{server.http_port}", 403),
                             (f"127.0.0.1:{server.web_port}", 403)):
            got, headers, _ = request(server.http_port, "POST", "/api/action?x=1",
                                      b'{"do":"run"}', {"Host": host})
            location = host.split(":")[0] + f":{server.web_port}/api/action?x=1"
            self.assertEqual((got, headers["Location"]),
                             (status, "https://" + location if status == 307 else None), host)
            if status == 307:
                self.assertEqual(headers["Cache-Control"], "no-store")
        self.assertEqual(self.generator.settle(), before)  # nothing ran

    def test_chromium_through_the_redirect_signs_in_and_starts(self):
        # (Its certificate is taken as it is: what the server sends is the openssl checks'.)
        server = self.serve("--auth", "on")
        browser = chromium(any_certificate=True)
        self.addCleanup(browser.quit)
        scpi = Client(server.port)
        self.addCleanup(scpi.close)
        # Through the redirect.
        browser.get(f"http://localhost:{server.http_port}/")
        self.assertEqual(browser.current_url, f"https://localhost:{server.web_port}/")
        # The printed address, https:// now, signs in; its session cookie travels over HTTPS only.
        address = server.wait_for(
            rf"web panel (https://127\.0\.0\.1:{server.web_port}/\?token=\S+)$")
        self.assertIsNotNone(address, server.lines)
        browser.get(address.group(1))
        self.assertEqual(browser.current_url, f"https://127.0.0.1:{server.web_port}/")
        self.assertEqual([cookie["secure"] for cookie in browser.get_cookies()], [True])
        # START, enabled only with the session, posts with the page's own https:// origin.
        start = WebDriverWait(browser, 10).until(lambda _: [
            element for element in browser.find_elements(By.TAG_NAME, "button")
            if element.accessible_name == "START"])
        start[0].click()
        WebDriverWait(browser, 10).until(lambda _: scpi.query("OUTP?") == "1")

    def web(self, method, path, body=None, headers=None):
        return request(self.served.web_port, method, path, body, headers)

    def action(self, body, headers=None):
        status, _, answer = self.web("POST", "/api/action", json.dumps(body).encode(),
                                     {"Content-Type": "application/json", **(headers or {})})
        return status, json.loads(answer) if answer.startswith(b"{") else answer

    def state(self):
        return json.loads(self.web("GET", "/api/state")[2])

    def client(self, timeout=5):
        client = Client(self.served.port, timeout=timeout)
        self.addCleanup(client.close)
        return client

    def test_only_the_servers_own_names_and_pages_change_anything(self):
        self.served = super().serve()  # plain HTTP
        # What a browser sends when a page of any site posts a form to the instrument's port.
        request = (b"POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: text/plain\r\n"
                   b"Content-Length: 8\r\n\r\nOUTP ON\n")
        with socket.create_connection(("127.0.0.1", self.served.port)) as client:
            client.sendall(request)
            client.settimeout(5)
            self.assertEqual(client.recv(100), b"")  # closed at once, nothing answered
        self.assertIsNotNone(self.served.wait_for(r"127\.0\.0\.1:\d+ closed: it sent an HTTP"))
        scpi = self.client()
        self.assertEqual(scpi.query("OUTP?;:SYST:ERR?"), '0;0,"No error"')
        port = self.served.web_port
        run = json.dumps({"do": "run"}).encode()
        refused = [
            ("POST", "/api/action", {"Host": f"evil.example:{port}"}),  # DNS rebinding
            ("GET", "/api/state", {"Host": "evil.example"}),
            ("POST", "/api/action", {"Origin": "http://evil.example"}),  # another site's form
            ("POST", "/api/action", {"Origin": f"http://127.0.0.1:{port + 1}"})]
        for method, path, headers in refused:
            status, answer_headers, _ = self.web(method, path, run, headers)
            self.assertEqual(status, 403, headers)
            self.assertNotIn("Access-Control-Allow-Origin", answer_headers)
        # GET never changes anything, whatever it names.
        for path in ("/api/action", "/api/action?do=run", "/api/state?do=run", "/events/run"):
            self.web("GET", path)
        status, headers, _ = self.web("GET", "/api/action")
        self.assertEqual(status, 404)
        self.assertEqual(headers["Content-Security-Policy"],
                         "default-src 'self'; frame-ancestors 'none'")
        self.assertEqual(headers["X-Content-Type-Options"], "nosniff")
        self.assertEqual(self.generator.received(), [])
        self.assertFalse(self.state()["running"])
        # The page's own origin, a script without one, and localhost's name all may.
        for headers in ({"Origin": f"http://127.0.0.1:{port}"}, {},
                        {"Host": f"localhost:{port}", "Origin": f"http://localhost:{port}"}):
            status, answer = self.action({"do": "run"}, headers)
            self.assertEqual(status, 200, headers)
        self.assertEqual(len(self.generator.received()), 14 + 1 + 14)
        self.assertEqual(answer["state"]["button"], "STOP")

    def test_bad_input_gets_a_clear_answer_and_costs_nothing(self):
        self.served = super().serve()  # plain HTTP
        before = self.state()
        for body in (b"", b"OUTP ON", b"[]", b'{"do":"fly"}', b'{"do":"set","field":"wave"}',
                     b'{"do":"step","field":"duty","dir":"up"}', b"[" * 100000,
                     b'{"do":"set","field":"spw","value":"2"}'):
            status, _, _ = self.web("POST", "/api/action", body,
                                    {"Content-Type": "application/json"})
            self.assertEqual(status, 400, body[:40])
        status, _, _ = self.web("POST", "/api/action", b" " * (1024 * 1024 + 1))
        self.assertEqual(status, 413)
        # Out of range: the instrument's error text, nothing changed, nothing queued for SCPI.
        status, answer = self.action({"do": "set", "field": "frequency", "text": "1M"})
        self.assertEqual((status, answer["field"], answer["error"]),
                         (422, "frequency", '-222,"Data out of range"'))
        status, answer = self.action({"do": "set", "field": "offset", "text": "volts"})
        self.assertEqual((status, answer["error"]), (422, '-104,"Data type error"'))
        after = self.state()
        self.assertEqual({k: v for k, v in after.items() if k != "seq"},
                         {k: v for k, v in before.items() if k != "seq"})
        self.assertEqual(self.client().query("SYST:ERR?"), '0,"No error"')

    def test_many_idle_connections_leave_scpi_and_the_page_served(self):
        self.served = super().serve()  # plain HTTP
        idle = []
        for _ in range(200):
            connection = socket.create_connection(("127.0.0.1", self.served.web_port))
            self.addCleanup(connection.close)
            idle.append(connection)
        opened = time.monotonic()
        idle[0].sendall(b"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n")  # headers that never end
        scpi = self.client(timeout=3)
        self.assertTrue(scpi.query("*IDN?").startswith("VARNOLT,"))
        status, _, page = self.web("GET", "/")
        self.assertEqual(status, 200)
        self.assertIn(b"/panel.js", page)
        # Their headers did not come within 10 s: every one of them is closed.
        time.sleep(max(0.0, opened + 11.5 - time.monotonic()))
        for connection in idle:
            connection.settimeout(5)
            self.assertEqual(connection.recv(100), b"")


if __name__ == "__main__":
    rig.main()
