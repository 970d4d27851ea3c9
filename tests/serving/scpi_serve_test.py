#!/usr/bin/env python3
"""varnoltctl serve on the virtual generator, driven by PyVISA and raw sockets over loopback.
Usage: scpi_serve_test.py VARNOLTCTL GENERATOR [unittest arguments]"""
import os
import random
import re
import select
import signal
import socket
import subprocess
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import rig  # noqa: E402
from rig.generator import DeviceTree  # noqa: E402
from rig.process import processor_seconds  # noqa: E402
from rig.scpi import Client, visa  # noqa: E402
from rig.serve import SERVING, Server  # noqa: E402


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
        first.write("FREQ 2000")
        self.assertEqual(first.query("*OPC?"), "1")
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
        self.assertIsNone(server.process.poll())

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
        self.assertEqual(len(first.log("start")), 1)
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
                                    "--verbose"],
                                   env=self.env, stderr=subprocess.PIPE)
        serving = SERVING.search(process.stderr.readline().decode().strip())
        self.assertIsNone(serving.group(4))  # --http off: the serving line names no web panel
        port = int(serving.group(3))
        process.stderr.close()
        with Client(port) as client:
            self.assertEqual(client.query("*OPC?"), "1")
        process.terminate()
        self.assertEqual(process.wait(timeout=10), 0)


if __name__ == "__main__":
    rig.main()
