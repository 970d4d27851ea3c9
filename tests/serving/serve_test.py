#!/usr/bin/env python3
"""varnoltctl serve on the virtual generator over loopback. ServeTest: SCPI, driven by PyVISA and
raw sockets. WebTest: the web panel over plain HTTP (beyond loopback: netns_test.py) and over
HTTPS, in Chromium too; serve's bad options and files.
Usage: serve_test.py VARNOLTCTL GENERATOR [unittest arguments]"""
import hashlib
import json
import os
import random
import re
import select
import signal
import socket
import ssl
import stat
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.support.ui import WebDriverWait  # noqa: E402

import rig  # noqa: E402
from rig.browser import chromium  # noqa: E402
from rig.generator import DeviceTree  # noqa: E402
from rig.process import processor_seconds  # noqa: E402
from rig.scpi import Client, visa  # noqa: E402
from rig.serve import SERVING, Server, request  # noqa: E402

FINGERPRINT = r"web panel certificate SHA-256 fingerprint: ([0-9A-F:]{95})$"


def handshake(port, *options):
    result = subprocess.run(["openssl", "s_client", "-connect", f"127.0.0.1:{port}", *options],
                            stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=20)
    return result.returncode == 0 and "Cipher is (NONE)" not in result.stdout


class ServeTest(DeviceTree, unittest.TestCase):
    def serving(self, *options):
        """A generator plugged in, a server with these options and a client of it."""
        generator = self.plug_in()
        server = self.serve(*options)
        return generator, server, visa(self, server.port)

    def test_every_error_class_and_the_queue(self):
        scpi = self.serving()[2]
        # A line for each error, all sent before the queue is read oldest first. It keeps the
        # oldest 15, then -350; so the lines past the 15th are sent once more.
        lines = [(b"FREQ\x01 1", -101), (b"FREQ \xe9", -101), (b"FREQ,1", -102),
                 (b"FREQ 1 2", -103), (b"FUNC 5", -104), (b"FREQ? 1", -108), (b"FREQ 1,", -109),
                 (b"FREQUENCYFREQ 1", -112), (b"FREQU 1", -113), (b"FREQ 1E999", -123),
                 (b"FREQ " + b"1" * 257, -124), (b"VOLT:OFFS 1 VPP", -131),
                 (b"FREQ 1 ABCDEFGHIJKLM", -134), (b"FUNC:SQU:DCYC 20 PCT", -138),
                 (b"FUNC ABCDEFGHIJKLM", -144), (b'FUNC "SIN', -151), (b"DATA:DAC VOL,#0", -161),
                 (b"FUNC USER", -221), (b"FREQ 1E6", -222), (b"DATA:DAC VOL" + b",1" * 361, -223),
                 (b"VOLT:JUMP J5", -224)]
        for sent in (lines, lines[15:]):
            for line, _ in sent:
                scpi.write_raw(line + b"\n")
            codes = [code for _, code in sent]
            codes = codes[:15] + [-350] if len(codes) > 16 else codes
            read = [scpi.query("SYST:ERR?") for _ in range(len(codes) + 1)]
            self.assertEqual([int(answer.split(",")[0]) for answer in read], codes + [0], read)
            for answer in read:  # each with its text
                self.assertRegex(answer, r'^-?\d+,"[A-Z][a-z]+( [a-z]+)*"$')
                self.assertNotIn("Unknown error", answer)

    def test_two_clients_share_one_instrument(self):
        _, server, first = self.serving("--jumper", "j3")
        second = visa(self, server.port)
        self.assertEqual(second.query("VOLT:JUMP?"), "J3")
        # Two connections have no order of their own: *OPC? makes the first one's change done.
        self.assertEqual(first.query("FREQ 2000;*OPC?"), "1")
        self.assertEqual(second.query("FREQ?"), "+2.00000000000000E+03")
        second.write("FREQU 1")
        self.assertEqual(second.query("*OPC?"), "1")
        self.assertEqual(first.query("SYST:ERR?"), '-113,"Undefined header"')
        # Each answer goes to the client that asked.
        first.write("*IDN?")
        second.write("FUNC:SQU:DCYC?")
        self.assertEqual(second.read(), "50")
        self.assertTrue(first.read().startswith("VARNOLT,"))
        # 32 clients at once are served; the 33rd is closed, with a line on stderr.
        others = [socket.create_connection(("127.0.0.1", server.port)) for _ in range(31)]
        for other in others:
            self.addCleanup(other.close)
        for other in others[:-1]:
            other.sendall(b"*OPC?\n")
            self.assertEqual(other.recv(10), b"1\n")
        others[-1].settimeout(5)
        self.assertEqual(others[-1].recv(10), b"")
        self.assertIsNotNone(server.wait_for("refused: 32 clients are connected$"))
        self.assertEqual(first.query("*OPC?"), "1")

    def test_clients_that_drop_mid_line_mid_answer_or_send_anything(self):
        self.plug_in()
        server = self.serve("--verbose")

        def send_and_leave(data):
            with socket.create_connection(("127.0.0.1", server.port)) as client:
                client.sendall(data)
                where = "127.0.0.1:%d" % client.getsockname()[1]
            self.assertIsNotNone(server.wait_for("^varnoltctl: %s disconnected$" % where))

        send_and_leave(b"FREQ 2")  # mid-line: the part never runs
        send_and_leave(b"*IDN?;" * 10000 + b"\n")  # mid-answer: an answer nobody reads
        send_and_leave(random.Random(13).randbytes(1 << 18) + b"\n")  # anything, LFs among it
        scpi = visa(self, server.port)
        self.assertEqual(scpi.query("*CLS;FREQ?"), "+1.00000000000000E+03")
        # DATA's values, read apart from the line, reach the instrument.
        self.assertEqual(scpi.query("DATA VOL,1,-0.5,0;:DATA:ATTR:POIN?"), "3")
        # A line of 1 MiB: dropped up to its LF with -223; the next line is whole.
        scpi.write("FREQ " + "1" * (1 << 20))
        self.assertEqual(scpi.query("SYST:ERR?;SYST:ERR?"), '-223,"Too much data";0,"No error"')
        # --verbose: each command and answer with the client's address.
        with socket.create_connection(("127.0.0.1", server.port)) as raw:
            raw.sendall(b"FREQ?\r\n")
            self.assertEqual(raw.recv(100), b"+1.00000000000000E+03\n")
            where = re.escape("127.0.0.1:%d" % raw.getsockname()[1])
        self.assertIsNotNone(server.wait_for("^varnoltctl: %s > FREQ\\?$" % where))
        self.assertIsNotNone(server.wait_for("^varnoltctl: %s < \\+1\\.0+E\\+03$" % where))

    def test_a_client_that_does_not_read_its_answers_or_reads_them_late(self):
        _, server, scpi = self.serving()
        # A client's lines are read only while its answers go out: the sending soon stalls.
        line = b"*IDN?;" * 10000 + b"\n"
        sent, limit = 0, 48 << 20
        with socket.create_connection(("127.0.0.1", server.port)) as greedy:
            greedy.setblocking(False)
            while sent < limit:
                try:
                    sent += greedy.send(line)
                except BlockingIOError:
                    if not select.select([], [greedy], [], 1.0)[1]:
                        break
            self.assertLess(sent, limit)
            # The others are served all the while.
            self.assertTrue((identity := scpi.query("*IDN?")).startswith("VARNOLT,"))
        # Answers of 12 MB go out in many parts, as the client takes them.
        line, count = b"*IDN?;" * 2000 + b"\n", 200
        with socket.create_connection(("127.0.0.1", server.port)) as late:
            late.settimeout(10)
            sender = threading.Thread(target=late.sendall, args=(line * count,))
            sender.start()
            time.sleep(0.5)
            parts, lines = [], 0
            while lines < count:
                part = late.recv(1 << 20)
                self.assertTrue(part, "the server closed before the last answer")
                parts.append(part)
                lines += part.count(b"\n")
            sender.join()
        self.assertEqual(b"".join(parts), ((";".join([identity] * 2000) + "\n") * count).encode())

    def test_a_generator_that_goes_away_and_comes_back(self):
        first, server, scpi = self.serving()
        self.assertEqual(scpi.query("OUTP ON;OUTP?"), "1")
        # Unplugged while idle: noticed, -241 once, the output off, no spinning on the dead line.
        self.unplug(first)
        self.assertIsNotNone(server.wait_for("the generator went away"))
        self.assertEqual(scpi.query("OUTP?;SYST:ERR?;SYST:ERR?"),
                         '0;-241,"Hardware missing";0,"No error"')
        cpu, started = processor_seconds(server.process.pid), time.monotonic()
        time.sleep(1.0)
        self.assertLess(processor_seconds(server.process.pid) - cpu,
                        0.2 * (time.monotonic() - started))
        # Each command that needs the line gives -241 again; queries answer from the state.
        scpi.write("FREQ 2000;OUTP ON")
        self.assertEqual(scpi.query("FREQ?;SYST:ERR?;SYST:ERR?"),
                         '+2.00000000000000E+03;-241,"Hardware missing";0,"No error"')
        # Plugged in again: found while idle and opened again, with the state as it is now.
        second = self.plug_in()
        self.assertIsNotNone(server.wait_for("^varnoltctl: serving .* again$", limit=5.0))
        self.assertEqual(scpi.query("OUTP ON;OUTP?"), "1")
        self.assertEqual([r["ok"] for r in second.log("start")], [True])
        self.assertEqual(second.log("settings")[0]["frequencyCode"], 50)

    def test_a_silent_generator(self):
        self.plug_in("--report", "none")
        scpi = visa(self, self.serve().port, timeout=10000)
        self.assertEqual(scpi.query("OUTP ON;OUTP?;SYST:ERR?"), '0;-240,"Hardware error"')

    def test_start_up_and_exits(self):
        self.assertEqual(Server(env=self.env).stop(), 69)
        self.plug_in()
        server = Server(env=self.env)  # (SIGTERM: every other test's stop)
        self.assertEqual(server.stop(signal.SIGINT), 0, server.lines)
        # The generator is left as it is, and free for the next program.
        self.assertEqual(subprocess.run([rig.TOOL, "stop"], env=self.env,
                                        capture_output=True).returncode, 0)
        # IPv6 loopback: no warning (beyond it: netns_test.py); the address in brackets.
        server = Server(env=self.env, listen="[::1]:0")
        self.assertIsNotNone(server.port, server.lines)
        with Client(server.port, host="::1") as client:
            self.assertEqual(client.query("*OPC?"), "1")
        self.assertEqual(server.stop(), 0)
        self.assertEqual([line for line in server.lines if "warning" in line], [])
        # Its log is no condition of serving: a reader of stderr that goes away costs nothing.
        process = subprocess.Popen([rig.TOOL, "serve", "--listen", "127.0.0.1:0", "--http", "off",
                                    "--verbose"], env=self.env, stderr=subprocess.PIPE)
        serving = SERVING.search(process.stderr.readline().decode().strip())
        self.assertIsNone(serving.group(4))  # --http off: the serving line names no web panel
        process.stderr.close()
        with Client(int(serving.group(3))) as client:
            self.assertEqual(client.query("*OPC?"), "1")
        process.terminate()
        self.assertEqual(process.wait(timeout=10), 0)


class WebTest(DeviceTree, unittest.TestCase):
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
        # No client of Debian's offers TLS 1.0 or 1.1 at its default security level.
        legacy = "DEFAULT@SECLEVEL=0"
        for options, accepted in ((("-tls1_3",), True), (("-tls1_2",), True),
                                  (("-tls1_1", "-cipher", legacy), False),
                                  (("-tls1", "-cipher", legacy), False),
                                  (("-tls1_2", "-cipher", "ECDHE-ECDSA-AES128-SHA"), False),
                                  (("-tls1_2", "-cipher", "ECDHE-ECDSA-CHACHA20-POLY1305"), True)):
            self.assertEqual(handshake(server.web_port, *options), accepted, options)
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
        der = ssl.PEM_cert_to_DER_cert(ssl.get_server_certificate(("127.0.0.1", server.web_port)))
        self.assertEqual(":".join(f"{byte:02X}" for byte in hashlib.sha256(der).digest()),
                         server.wait_for(FINGERPRINT).group(1))

    def test_the_self_signed_certificate_and_the_token_are_kept_in_the_state_folder(self):
        state = os.path.join(self.folder.name, "state")
        token = os.path.join(state, "token")
        fingerprints, tokens = [], []
        for _ in range(2):
            server = self.serve("--state-dir", state, "--auth", "on")
            fingerprints.append(server.wait_for(FINGERPRINT).group(1))
            # The access token is kept there too, unless --token-file says otherwise.
            with open(token) as file:
                tokens.append(file.read())
            self.assertRegex(tokens[-1], r"^[\w-]{32}\n$")
            self.assertIsNotNone(server.wait_for("token=" + tokens[-1].strip() + "$"))
            self.assertEqual(server.stop(), 0)
        self.assertEqual((fingerprints[0], tokens[0]), (fingerprints[1], tokens[1]))
        for name in ("tls-key.pem", "token"):
            self.assertEqual(stat.S_IMODE(os.stat(os.path.join(state, name)).st_mode), 0o600)
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
        port = server.http_port
        status, headers, _ = request(port, "POST", "/api/action?x=1", b'{"do":"run"}',
                                     {"Host": f"127.0.0.1:{port}"})
        self.assertEqual((status, headers["Location"], headers["Cache-Control"]),
                         (307, f"https://127.0.0.1:{server.web_port}/api/action?x=1", "no-store"))
        status, headers, _ = request(port, "POST", "/", headers={"Host": f"evil.example:{port}"})
        self.assertEqual((status, headers["Location"]), (403, None))

    def test_chromium_signs_in_and_starts(self):
        # (Its certificate is taken as it is: what the server sends is the openssl checks'.)
        server = self.serve("--auth", "on")
        browser = chromium(any_certificate=True)
        self.addCleanup(browser.quit)
        scpi = Client(server.port)
        self.addCleanup(scpi.close)
        # The printed address, https:// now, signs in; its session cookie travels over HTTPS only.
        address = server.wait_for(
            rf"web panel (https://127\.0\.0\.1:{server.web_port}/\?token=\S+)$")
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
        with Client(self.served.port) as scpi:
            self.assertEqual(scpi.query("OUTP?;:SYST:ERR?"), '0;0,"No error"')
        port = self.served.web_port
        run = json.dumps({"do": "run"}).encode()
        for method, path, headers in (
                ("POST", "/api/action", {"Host": f"evil.example:{port}"}),  # DNS rebinding
                ("GET", "/api/state", {"Host": "evil.example"}),
                ("POST", "/api/action", {"Origin": "http://evil.example"})):  # another site's form
            status, answer_headers, _ = self.web(method, path, run, headers)
            self.assertEqual(status, 403, headers)
            self.assertNotIn("Access-Control-Allow-Origin", answer_headers)
        status, headers, _ = self.web("GET", "/api/action")
        self.assertEqual(status, 404)
        self.assertEqual(headers["Content-Security-Policy"],
                         "default-src 'self'; frame-ancestors 'none'")
        self.assertEqual(headers["X-Content-Type-Options"], "nosniff")
        self.assertEqual(self.generator.received(), [])
        # The page's own origin, a script without one, and localhost's name all may.
        for headers in ({"Origin": f"http://127.0.0.1:{port}"}, {},
                        {"Host": f"localhost:{port}", "Origin": f"http://localhost:{port}"}):
            status, answer = self.action({"do": "run"}, headers)
            self.assertEqual(status, 200, headers)
        self.assertEqual(len(self.generator.received()), 14 + 1 + 14)

    def test_bad_input_gets_a_clear_answer_and_costs_nothing(self):
        self.served = super().serve()  # plain HTTP
        before = json.loads(self.web("GET", "/api/state")[2])
        for body in (b"OUTP ON", b'{"do":"set","field":"wave"}',
                     b'{"do":"step","field":"duty","dir":"up"}', b"[" * 100000):
            status, _, _ = self.web("POST", "/api/action", body,
                                    {"Content-Type": "application/json"})
            self.assertEqual(status, 400, body[:40])
        status, _, _ = self.web("POST", "/api/action", b" " * (1024 * 1024 + 1))
        self.assertEqual(status, 413)
        # Not a number: the instrument's error text, nothing changed, nothing queued for SCPI.
        status, answer = self.action({"do": "set", "field": "offset", "text": "volts"})
        self.assertEqual((status, answer["error"]), (422, '-104,"Data type error"'))
        after = json.loads(self.web("GET", "/api/state")[2])
        self.assertEqual({k: v for k, v in after.items() if k != "seq"},
                         {k: v for k, v in before.items() if k != "seq"})
        with Client(self.served.port) as scpi:
            self.assertEqual(scpi.query("SYST:ERR?"), '0,"No error"')

    def test_many_idle_connections_leave_scpi_and_the_page_served(self):
        self.served = super().serve()  # plain HTTP
        # Its queue of connections is the system's own: a burst waits for no retry of a dropped one.
        listening = subprocess.run(["ss", "-Hltn", f"sport = :{self.served.web_port}"],
                                   capture_output=True, text=True, check=True).stdout.split()
        with open("/proc/sys/net/core/somaxconn") as limit:
            self.assertEqual(listening[2], limit.read().strip())
        opened = time.monotonic()
        idle = [socket.create_connection(("127.0.0.1", self.served.web_port))]
        idle[0].sendall(b"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n")  # headers that never end
        for _ in range(199):
            idle.append(socket.create_connection(("127.0.0.1", self.served.web_port)))
        for connection in idle:
            self.addCleanup(connection.close)
        with Client(self.served.port, timeout=3) as scpi:
            self.assertTrue(scpi.query("*IDN?").startswith("VARNOLT,"))
        self.assertEqual(self.web("GET", "/")[0], 200)
        # A connection that says nothing is closed after 5 s; one whose headers did not come
        # within 10 s hears 400, and then it is closed too.
        time.sleep(max(0.0, opened + 11.5 - time.monotonic()))
        answers = []
        for connection in idle:
            connection.settimeout(8)
            answers.append(b"".join(iter(lambda: connection.recv(4096), b"")).split(b"\r\n")[0])
        self.assertEqual(answers, [b"HTTP/1.1 400 Bad Request"] + [b""] * 199)

if __name__ == "__main__":
    rig.main()
