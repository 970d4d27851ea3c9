#!/usr/bin/env python3
"""Who may connect to varnoltctl serve (--allow), in the rig's four network namespaces: the server
in the test's own on network A, a neighbour on A, and a stranger on B, routed to A. Needs root.

Usage: allow_netns_test.py VARNOLTCTL GENERATOR [unittest arguments]
"""
import ast
import os
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import rig  # noqa: E402
from rig.generator import DeviceTree  # noqa: E402
from rig.netns import HERE as SERVER, STRANGER, close, enter, network  # noqa: E402
from rig.process import enter_namespaces  # noqa: E402


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
    @classmethod
    def setUpClass(cls):
        cls.holders = network()
        cls.neighbour, cls.stranger = cls.holders[1:]

    @classmethod
    def tearDownClass(cls):
        close(cls.holders)

    def setUp(self):
        super().setUp()
        self.generator = self.plug_in()

    def serve(self, *options, listen="0.0.0.0:0"):
        return super().serve("--no-announce", *options, listen=listen)

    def connect(self, client, port, text):
        """What the server answered a connection from the client's namespace (b"": nothing)."""
        result = subprocess.run([*enter(client), sys.executable,
                                 "-c", CLIENT, SERVER, str(port), text],
                                capture_output=True, text=True, timeout=20)
        self.assertEqual(result.returncode, 0, result.stderr)
        return ast.literal_eval(result.stdout)

    def answers(self, client, server):
        """The start of the SCPI and the web answers to the client."""
        get = f"GET / HTTP/1.1\r\nHost: {SERVER}:{server.web_port}\r\nConnection: close\r\n\r\n"
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
        self.assertEqual(self.answers(self.neighbour, server), (b"VARNOLT,", b"HTTP/1.1 200"))
        before = self.generator.settle()
        # Refused at accept: nothing of the stranger's command reaches the generator. Its refusal
        # by the web panel within the second gets no line of its own.
        self.assertEqual(self.connect(self.stranger, server.port, "APPL:SQU 1KHZ\n*IDN?\n"), b"")
        self.assertEqual(self.connect(self.stranger, server.web_port, "GET / HTTP/1.1\r\n\r\n"),
                         b"")
        self.assertEqual(self.generator.settle(), before)
        time.sleep(1)
        self.assertEqual(self.connect(self.stranger, server.web_port, "GET / HTTP/1.1\r\n\r\n"),
                         b"")
        self.assertTrue(server.wait_for(r"\(web panel\): not on"), server.lines)
        refused = f"varnoltctl: refused {STRANGER} (%s): not on a network served; --allow " \
                  f"{STRANGER} or its network would serve it"
        self.assertEqual([line for line in server.lines if "refused" in line],
                         [refused % "SCPI", refused % "web panel"])

    def test_https_and_its_redirect_admit_as_http_does(self):
        server = self.serve("--https", "0", "--http", "0")
        self.assertEqual(subprocess.run([*enter(self.neighbour), "openssl", "s_client", "-connect",
                                         f"{SERVER}:{server.web_port}"],
                                        stdin=subprocess.DEVNULL, capture_output=True,
                                        timeout=20).returncode, 0)
        # Refused before the handshake: the hello gets nothing back.
        hello = "\x16\x03\x01\x01\x01\x01\x01\x01\x01\x01"
        self.assertEqual(self.connect(self.stranger, server.web_port, hello), b"")
        self.assertEqual(self.connect(self.stranger, server.http_port, "GET / HTTP/1.1\r\n\r\n"),
                         b"")
        self.assertTrue(server.wait_for(f"refused {STRANGER} \\(web panel\\)"), server.lines)

    def test_allowed_by_its_network_or_by_any_and_with_auth_off(self):
        # On an IPv6 wildcard, an IPv4 client is an IPv4-mapped address, matched as IPv4.
        for options, listen in ((("--allow", "10.232.2.0/24"), "[::]:0"),
                                (("--allow", "any", "--auth", "off"), "0.0.0.0:0")):
            with self.subTest(options=options):
                server = self.serve(*options, listen=listen)
                before = self.generator.settle()
                self.assertEqual(self.connect(self.stranger, server.port, "APPL:SQU 1KHZ\n"
                                              "*OPC?\n"), b"1\n")
                self.assertGreater(self.generator.settle(), before)
                self.assertEqual(self.answers(self.stranger, server),
                                 (b"VARNOLT,", b"HTTP/1.1 200"))
                self.assertEqual(self.answers(self.neighbour, server),
                                 (b"VARNOLT,", b"HTTP/1.1 200"))
                if options[1] == "any":
                    self.assertIn("varnoltctl: warning: --allow any: anyone who can reach this "
                                  "machine can drive the generator", server.lines)
                    self.assertTrue(server.wait_for(r"warning: serving the web panel on "
                                                    r"0\.0\.0\.0:\d+ with --auth off: anyone"))
                    self.assertFalse([line for line in server.lines if "token" in line])
                self.assertEqual(server.stop(), 0)


if __name__ == "__main__":
    enter_namespaces("--net")
    rig.main()
