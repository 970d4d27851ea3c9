#!/usr/bin/env python3
"""varnoltctl serve announced with DNS-SD and varnoltctl discover finding it, in a network of the
test's own (rig.mdns): never on the machine's own interfaces, bus or responder. Needs root.
Usage: dns_sd_netns_test.py VARNOLTCTL GENERATOR [unittest arguments]"""
import json
import os
import re
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import rig  # noqa: E402
from rig.generator import DeviceTree  # noqa: E402
from rig.mdns import (ADDRESS, ANNOUNCED, LO_UP, PRIVATE_RUN, VB_UP, Responder,  # noqa: E402
                      configure, enter_network, run)
from rig.netns import enter, namespace  # noqa: E402
from rig.scpi import Client  # noqa: E402

NAME = "VARNOLT DDS generator SN0001"
ABSENT = re.compile(r"^varnoltctl: no mDNS responder \(start avahi-daemon\)")


class Neighbour:
    """Another machine on the wire: vb moved into namespaces of its own with a responder."""

    def __init__(self, folder):
        self.holder = namespace("--mount", "--propagation", "private")
        pid = str(self.holder.pid)
        self.enter = enter(self.holder, "-m")
        subprocess.run(["ip", "link", "set", "vb", "netns", pid], check=True, timeout=10)
        configure(LO_UP, *VB_UP, *PRIVATE_RUN, enter=self.enter)
        self.responder = Responder(folder, "vb", self.enter, f"/proc/{pid}/root")
        self.responder.start()

    def close(self):
        self.responder.close()
        run(*self.enter, "ip", "link", "set", "vb", "netns", str(os.getpid()))
        self.holder.kill()
        self.holder.wait(timeout=10)
        configure(*VB_UP, check=False)


def browse(service_type="_scpi-raw._tcp"):
    """avahi-browse's resolved services of the type: (interface, name, host, address, port, TXT)."""
    result = run("avahi-browse", "-rtp", "-k", service_type, timeout=30)
    found = set()
    for line in result.stdout.splitlines():
        fields = line.split(";")
        if fields[0] == "=" and fields[2] == "IPv4":
            texts = re.findall(r'"((?:[^"\\]|\\.)*)"', fields[9])
            # -p escapes a name's dots, backslashes and blanks as \DDD (decimal).
            name = re.sub(r"\\(\d{3})", lambda m: chr(int(m.group(1))), fields[3])
            found.add((fields[1], name, fields[6], fields[7], int(fields[8]), tuple(sorted(texts))))
    return sorted(found)


def browse_until(condition, limit=5.0):
    deadline = time.monotonic() + limit
    while not condition(found := browse()) and time.monotonic() < deadline:
        time.sleep(0.1)
    return found


class AnnounceTest(DeviceTree, unittest.TestCase):
    responder = None

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.responder = Responder(cls.folder.name)

    @classmethod
    def tearDownClass(cls):
        cls.responder.close()
        cls.folder.cleanup()

    def setUp(self):
        super().setUp()
        if self.responder.daemon is None:
            self.responder.start()
        # The last test's services are withdrawn (a goodbye leaves the cache within a second).
        browse_until(lambda found: not found)
        self.plug_in()

    def server(self, *options, listen=ADDRESS + ":0", tool=None):
        return self.serve(*options, listen=listen, tool=tool)

    def announced(self, server):
        match = server.wait_for(ANNOUNCED)
        self.assertIsNotNone(match, server.lines)
        return match.group(1)

    def discover(self, *options):
        result = run(rig.TOOL, "discover", *options, timeout=30)
        return result.returncode, result.stdout, result.stderr

    def test_found_by_avahi_browse_and_discover(self):
        server = self.server()
        self.assertEqual(self.announced(server), NAME)
        version = run(rig.TOOL, "--version").stdout.split()[-1]
        host = run("hostname").stdout.strip() + ".local"
        texts = ("FirmwareVersion=" + version, "Manufacturer=VARNOLT", "Model=DDS generator",
                 "SerialNumber=SN0001", "txtvers=1")
        self.assertEqual(browse(), [("va", NAME, host, ADDRESS, server.port, texts)])
        for service_type in ("_http._tcp", "_lxi._tcp"):
            self.assertEqual(browse(service_type), [("va", NAME, host, ADDRESS, server.web_port,
                                                     tuple(sorted(texts + ("path=/",))))])
        resource = f"TCPIP::{ADDRESS}::{server.port}::SOCKET"
        panel = f"http://{ADDRESS}:{server.web_port}/"
        _, out, err = self.discover("--json")
        self.assertEqual(json.loads(out), {"instruments": [{
            "name": NAME, "host": host, "address": ADDRESS, "scpiPort": server.port,
            "resource": resource, "panelUrl": panel}]})
        code, out, err = self.discover()
        self.assertEqual((code, err), (0, ""))
        self.assertEqual(out.splitlines(), ["  ".join(
            [NAME, host, ADDRESS, str(server.port), resource, panel])])

    def test_a_wildcard_on_every_interface(self):
        # (An address on its interface alone: test_found_by_avahi_browse_and_discover.)
        self.announced(self.server(listen="0.0.0.0:0"))
        found = browse_until(lambda found: len(found) >= 2)
        self.assertEqual([entry[0] for entry in found], ["va", "vb"])

    def test_nothing_announced_when_told_not_to(self):
        # (Nor from loopback: the plan's own test.) A name would be established within a second;
        # none may be found after 2 s.
        self.server("--no-announce")
        code, out, err = self.discover("--json")
        self.assertEqual((code, out), (0, '{"instruments":[]}\n'), err)

    def test_responder_absent_at_start_then_gone_and_back(self):
        self.responder.stop()
        server = self.server("--https", "0", "--http", "0")
        self.assertTrue(server.wait_for(ABSENT), server.lines)
        self.responder.start()
        self.assertEqual(self.announced(server), NAME)
        self.responder.stop(signal.SIGKILL)
        self.assertTrue(server.wait_for(ABSENT, count=2), server.lines)
        # Serving goes on without it; discover has no one to ask.
        with Client(server.port, host=ADDRESS) as scpi:
            self.assertEqual(scpi.query("*IDN?").split(",")[2], "SN0001")
        code, out, err = self.discover()
        self.assertEqual((code, err), (69, "varnoltctl: no mDNS responder to ask (Daemon not "
                         "running): start avahi-daemon (sudo systemctl start avahi-daemon)\n"), out)
        code, out, _ = self.discover("--json")
        self.assertEqual(json.loads(out)["exitCode"], 69)
        self.responder.start()
        self.assertTrue(server.wait_for(ANNOUNCED, count=2), server.lines)
        # Its absence told once each time.
        self.assertEqual(len([line for line in server.lines if ABSENT.match(line)]), 2)
        self.assertEqual([found[4] for found in browse("_https._tcp")], [server.web_port])
        code, out, err = self.discover("--json")
        self.assertEqual([i["panelUrl"] for i in json.loads(out)["instruments"]],
                         [f"https://{ADDRESS}:{server.web_port}/"], err)

    def test_two_servers_with_one_serial_get_two_names(self):
        first = self.server()
        self.assertEqual(self.announced(first), NAME)
        # Another generator with the same serial: a second pty in the same tree.
        self.plug_in()
        second = self.server("--http", "off")
        name = self.announced(second)
        self.assertRegex(name, "^" + re.escape(NAME) + ".")
        code, out, err = self.discover("--json")
        self.assertEqual(sorted((i["name"], i["scpiPort"], i["panelUrl"])
                                for i in json.loads(out)["instruments"]),
                         sorted([(NAME, first.port, f"http://{ADDRESS}:{first.web_port}/"),
                                 (name, second.port, None)]))

    def test_a_name_taken_on_the_network_gets_the_alternative(self):
        neighbour = Neighbour(self.folder.name)
        self.addCleanup(neighbour.close)
        # Another machine's instrument has the name already.
        other = subprocess.Popen([*neighbour.enter, "avahi-publish", "-s", NAME, "_scpi-raw._tcp",
                                  "5025"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(other.wait)
        self.addCleanup(other.terminate)
        self.assertTrue(browse_until(lambda found: found))
        name = self.announced(self.server())
        self.assertTrue(name.startswith(NAME + " #"), name)
        found = browse_until(lambda found: len(found) >= 2, limit=10)
        self.assertEqual(sorted(entry[1] for entry in found), sorted([NAME, name]))


if __name__ == "__main__":
    enter_network()
    rig.main()
