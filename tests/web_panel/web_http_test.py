#!/usr/bin/env python3
"""The web panel over plain HTTP on loopback: what may change the generator, bad input, idle
connections (bad options: https_test.py; beyond loopback: allow_netns_test.py).
Usage: web_http_test.py VARNOLTCTL GENERATOR [unittest arguments]"""
import json
import os
import socket
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import rig  # noqa: E402
from rig.generator import DeviceTree  # noqa: E402
from rig.scpi import Client  # noqa: E402
from rig.serve import request  # noqa: E402


class WebHttpTest(DeviceTree, unittest.TestCase):
    def web(self, method, path, body=None, headers=None):
        return request(self.served.web_port, method, path, body, headers)

    def action(self, body, headers=None):
        status, _, answer = self.web("POST", "/api/action", json.dumps(body).encode(),
                                     {"Content-Type": "application/json", **(headers or {})})
        return status, json.loads(answer) if answer.startswith(b"{") else answer

    def state(self):
        return json.loads(self.web("GET", "/api/state")[2])

    def start_serving(self):
        self.generator_ = self.plug_in()
        self.served = self.serve()

    def client(self, timeout=5):
        client = Client(self.served.port, timeout=timeout)
        self.addCleanup(client.close)
        return client

    def test_only_the_servers_own_names_and_pages_change_anything(self):
        self.start_serving()
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
        self.assertEqual(self.generator_.received(), [])
        self.assertFalse(self.state()["running"])
        # The page's own origin, a script without one, and localhost's name all may.
        for headers in ({"Origin": f"http://127.0.0.1:{port}"}, {},
                        {"Host": f"localhost:{port}", "Origin": f"http://localhost:{port}"}):
            status, answer = self.action({"do": "run"}, headers)
            self.assertEqual(status, 200, headers)
        self.assertEqual(len(self.generator_.received()), 14 + 1 + 14)
        self.assertEqual(answer["state"]["button"], "STOP")

    def test_bad_input_gets_a_clear_answer_and_costs_nothing(self):
        self.start_serving()
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
        self.start_serving()
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
