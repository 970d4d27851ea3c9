#!/usr/bin/env python3
"""Runs the virtual generator on its pty and talks to it as the host does.

Usage: virtual_generator_test.py GENERATOR [unittest arguments, e.g. GeneratorTest.test_stop]
"""
import json
import os
import select
import signal
import subprocess
import sys
import tempfile
import time
import tty
import unittest

GENERATOR = None

DEFAULT_PACKET = bytes([0x00, 0x64, 0x7F, 0xFF, 0x1F, 0x32, 0x00, 0x00])


def table_samples():
    """A table with a different value in every sample, so a byte out of place shows."""
    return [(32767 + 97 * i * (1 if i % 2 else -1)) & 0xFFFF for i in range(360)]


def table_image(samples):
    return b"".join(bytes([s >> 8, s & 0xFF]) for s in samples)


def table_blocks(samples, indexes=range(12)):
    image = table_image(samples)
    return [image[60 * j:60 * j + 60] + bytes([index]) for j, index in enumerate(indexes)]


def start_sequence(samples, packet=DEFAULT_PACKET):
    return b"".join(table_blocks(samples)) + packet + b"\x55"


class Generator:
    """One generator process, its log and the host's end of its line."""

    def __init__(self, *options):
        self.dir = tempfile.TemporaryDirectory()
        self.log_path = os.path.join(self.dir.name, "log.jsonl")
        self.link = os.path.join(self.dir.name, "port")
        self.process = subprocess.Popen(
            [GENERATOR, "--log", self.log_path, "--link", self.link, *options],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.slave_path = self.process.stdout.readline().decode().strip()
        if not self.slave_path.startswith("/dev/pts/"):
            raise AssertionError("no pty path on the first line: %r" % self.slave_path)
        self.fd = os.open(self.link, os.O_RDWR | os.O_NOCTTY)
        tty.setraw(self.fd)

    def write(self, data):
        os.write(self.fd, data)

    def reads(self, quiet=0.25, limit=3.0):
        """Every read of the host's end until it stays quiet: a list of byte strings."""
        chunks = []
        deadline = time.monotonic() + limit
        while time.monotonic() < deadline:
            ready, _, _ = select.select([self.fd], [], [], quiet)
            if not ready:
                break
            try:
                chunk = os.read(self.fd, 4096)
            except OSError:
                break
            if not chunk:
                break
            chunks.append(chunk)
        return chunks

    def log(self, count=None, limit=3.0):
        """The log's lines as records; waits until there are `count` of them."""
        deadline = time.monotonic() + limit
        while True:
            with open(self.log_path) as log_file:
                records = [json.loads(line) for line in log_file if line.strip()]
            if count is None or len(records) >= count or time.monotonic() > deadline:
                return records
            time.sleep(0.02)

    def stop(self, sig=signal.SIGTERM):
        self.process.send_signal(sig)
        status = self.process.wait(timeout=5)
        self.stderr = self.process.stderr.read().decode()
        return status

    def close(self):
        try:
            os.close(self.fd)
        except OSError:
            pass
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        self.process.stdout.close()
        self.process.stderr.close()
        self.dir.cleanup()


class GeneratorCase(unittest.TestCase):
    def generator(self, *options):
        generator = Generator(*options)
        self.addCleanup(generator.close)
        return generator

    def kinds(self, records):
        return [record["kind"] for record in records]


class StartAndStopTest(GeneratorCase):
    def test_start_sequence_is_logged_decoded_and_answered_with_a_lone_55(self):
        generator = self.generator()
        samples = table_samples()
        data = start_sequence(samples)
        self.assertEqual(len(data), 741)
        generator.write(data)
        self.assertEqual(generator.reads(), [b"\x55"])
        records = generator.log(17)
        self.assertEqual(self.kinds(records), ["block"] * 12 + ["settings", "run", "start", "sent"])
        for j, record in enumerate(records[:12]):
            self.assertEqual((record["index"], record["expected"], record["ok"]), (j, j, True))
            self.assertEqual(bytes.fromhex(record["bytes"]), data[61 * j:61 * j + 61])
        settings = records[12]
        self.assertEqual(settings["bytes"], "00647fff1f320000")
        self.assertEqual((settings["frequencyCode"], settings["amplitudeCode"],
                          settings["offsetCode"], settings["dutyPercent"], settings["spwIndex"],
                          settings["jumperIndex"], settings["ok"]), (100, 32767, 31, 50, 0, 0, True))
        self.assertEqual(records[13]["bytes"], "55")
        start = records[14]
        self.assertTrue(start["ok"])
        self.assertEqual((start["blocks"], start["length"], start["settings"]), (12, 741, True))
        self.assertEqual(start["samples"], samples)
        self.assertEqual((records[15]["bytes"], records[15]["cause"]), ("55", "report"))
        self.assertEqual({record["burst"] for record in records[:15]}, {0})

    def test_start_written_piece_by_piece_with_pauses_is_split_the_same(self):
        generator = self.generator("--gap-ms", "30")
        samples = table_samples()
        pieces = table_blocks(samples) + [DEFAULT_PACKET, b"\x55"]
        for piece in pieces:
            generator.write(piece)
            time.sleep(0.15)
        self.assertEqual(generator.reads(), [b"\x55"])
        records = generator.log(16)
        self.assertEqual(self.kinds(records), ["block"] * 12 + ["settings", "run", "start", "sent"])
        self.assertEqual([record["burst"] for record in records[:14]], list(range(14)))
        self.assertTrue(records[14]["ok"])
        self.assertEqual(records[14]["samples"], samples)

    def test_line_rate_paces_the_reads(self):
        generator = self.generator("--line-rate", "9600", "--gap-ms", "5")
        started = time.monotonic()
        generator.write(start_sequence(table_samples()))
        self.assertEqual(generator.reads(quiet=1.0), [b"\x55"])
        # 741 bytes of 10 bits at 9600 baud cannot have crossed the line in under 0.7719 s.
        self.assertGreaterEqual(time.monotonic() - started, 741 * 10 / 9600)
        self.assertTrue([r for r in generator.log(16) if r["kind"] == "start"][0]["ok"])

    def test_settings_codes_are_decoded_most_significant_byte_first(self):
        generator = self.generator()
        packet = bytes([0x12, 0x34, 0xAB, 0xCD, 0x3E, 0x64, 0x04, 0x03])
        generator.write(start_sequence(table_samples(), packet))
        settings = [r for r in generator.log(16) if r["kind"] == "settings"][0]
        self.assertEqual((settings["frequencyCode"], settings["amplitudeCode"],
                          settings["offsetCode"], settings["dutyPercent"], settings["spwIndex"],
                          settings["jumperIndex"]), (0x1234, 0xABCD, 0x3E, 100, 4, 3))

    def test_stop_is_answered_with_a_lone_aa(self):
        generator = self.generator()
        generator.write(b"\xaa")
        self.assertEqual(generator.reads(), [b"\xaa"])
        records = generator.log(2)
        self.assertEqual(self.kinds(records), ["stop", "sent"])
        self.assertEqual(records[1]["bytes"], "aa")

    def test_two_starts_in_a_row_are_both_answered(self):
        generator = self.generator()
        for _ in range(2):
            generator.write(start_sequence(table_samples()))
            self.assertEqual(generator.reads(), [b"\x55"])
        starts = [r for r in generator.log(32) if r["kind"] == "start"]
        self.assertEqual([s["ok"] for s in starts], [True, True])


class BadInputTest(GeneratorCase):
    def assert_rejected_start(self, generator, data, problem):
        generator.write(data)
        self.assertEqual(generator.reads(), [], "a bad start must get no report")
        records = generator.log()
        start = [r for r in records if r["kind"] == "start"]
        self.assertEqual(len(start), 1)
        self.assertFalse(start[0]["ok"])
        self.assertEqual(start[0]["problem"], problem)
        self.assertNotIn("sent", self.kinds(records))
        return records

    def test_wrong_block_index_is_flagged(self):
        generator = self.generator()
        blocks = table_blocks(table_samples(), [0, 1, 2, 5, 4, 5, 6, 7, 8, 9, 10, 11])
        records = self.assert_rejected_start(generator, b"".join(blocks) + DEFAULT_PACKET + b"\x55",
                                             "a table block carried the wrong index")
        bad = [r for r in records if r["kind"] == "block" and not r["ok"]]
        self.assertEqual([(r["index"], r["expected"]) for r in bad], [(5, 3)])
        start = [r for r in records if r["kind"] == "start"][0]
        self.assertEqual((start["indexesOk"], start["firstBadIndex"]), (False, 3))
        settings = [r for r in records if r["kind"] == "settings"][0]
        self.assertFalse(settings["ok"])

    def test_missing_block_is_flagged(self):
        generator = self.generator()
        blocks = table_blocks(table_samples())[:11]
        records = self.assert_rejected_start(generator, b"".join(blocks) + DEFAULT_PACKET + b"\x55",
                                             "wrong number of table blocks")
        start = [r for r in records if r["kind"] == "start"][0]
        self.assertEqual((start["blocks"], start["length"], start["samples"]), (11, 680, []))

    def test_missing_settings_packet_is_flagged(self):
        generator = self.generator()
        self.assert_rejected_start(generator, b"".join(table_blocks(table_samples())) + b"\x55",
                                   "no settings packet")

    def test_run_byte_alone_is_no_valid_start(self):
        generator = self.generator()
        self.assert_rejected_start(generator, b"\x55", "run byte without table blocks")

    def test_short_block_is_unknown_and_spoils_the_start(self):
        generator = self.generator()
        blocks = table_blocks(table_samples())
        generator.write(b"".join(blocks[:11]))
        time.sleep(0.2)
        generator.write(blocks[11][:40])
        time.sleep(0.2)
        records = self.assert_rejected_start(generator, DEFAULT_PACKET + b"\x55",
                                             "wrong number of table blocks")
        unknown = [r for r in records if r["kind"] == "unknown"]
        self.assertEqual([u["length"] for u in unknown], [40])

    def test_bytes_of_no_message_are_logged_as_unknown(self):
        generator = self.generator()
        for data in (b"\x01\x02\x03", b"\x12", b"\x55\xaa"):
            generator.write(data)
            time.sleep(0.2)
        records = generator.log(3)
        self.assertEqual(self.kinds(records), ["unknown"] * 3)
        self.assertEqual([r["bytes"] for r in records], ["010203", "12", "55aa"])
        self.assertEqual(generator.reads(), [])

    def test_bytes_within_the_gap_are_one_burst(self):
        generator = self.generator("--gap-ms", "200")
        generator.write(b"\xaa")
        time.sleep(0.02)
        generator.write(b"\xaa")
        records = generator.log(1)
        self.assertEqual(self.kinds(records), ["unknown"])
        self.assertEqual(records[0]["bytes"], "aaaa")


class ReportModeTest(GeneratorCase):
    def test_none_sends_nothing(self):
        generator = self.generator("--report", "none")
        generator.write(start_sequence(table_samples()))
        time.sleep(0.1)
        generator.write(b"\xaa")
        self.assertEqual(generator.reads(quiet=0.4), [])
        records = generator.log(16)
        self.assertTrue([r for r in records if r["kind"] == "start"][0]["ok"])
        self.assertNotIn("sent", self.kinds(records))

    def test_delayed_answers_after_the_delay(self):
        generator = self.generator("--report", "delayed", "--delay-ms", "400")
        sent_at = time.monotonic()
        generator.write(b"\xaa")
        self.assertEqual(generator.reads(quiet=0.2), [], "nothing before the delay")
        self.assertEqual(generator.reads(quiet=1.0), [b"\xaa"])
        self.assertGreaterEqual(time.monotonic() - sent_at, 0.4)
        records = generator.log(2)
        self.assertGreaterEqual(records[1]["ms"] - records[0]["ms"], 400)

    def test_glued_sends_the_report_with_another_byte_in_one_write(self):
        generator = self.generator("--report", "glued")
        generator.write(start_sequence(table_samples()))
        self.assertEqual(generator.reads(), [b"\x55\x00"])
        generator.write(b"\xaa")
        self.assertEqual(generator.reads(), [b"\xaa\x00"])

    def test_table_sends_the_image_of_the_table_received(self):
        generator = self.generator("--report", "table")
        samples = table_samples()
        generator.write(start_sequence(samples))
        self.assertEqual(b"".join(generator.reads()), table_image(samples))
        generator.write(b"\xaa")
        self.assertEqual(b"".join(generator.reads()), table_image(samples))

    def test_table_before_any_start_is_mid_scale(self):
        generator = self.generator("--report", "table")
        generator.write(b"\xaa")
        self.assertEqual(b"".join(generator.reads()), b"\x7f\xff" * 360)

    def replies_with_seed(self, seed, count):
        generator = self.generator("--report", "random", "--seed", str(seed))
        replies = []
        for _ in range(count):
            generator.write(b"\xaa")
            replies.append(b"".join(generator.reads(quiet=0.1)))
            time.sleep(0.05)
        return replies

    def test_random_is_reproducible_from_the_seed_and_never_a_lone_report(self):
        first = self.replies_with_seed(7, 12)
        self.assertEqual(first, self.replies_with_seed(7, 12))
        self.assertNotEqual(first, self.replies_with_seed(8, 12))
        for reply in first:
            self.assertTrue(1 <= len(reply) <= 32, reply)
            self.assertNotIn(reply, (b"\x55", b"\xaa"))

    def test_hangup_after_n_messages_closes_the_line(self):
        generator = self.generator("--hangup-after", "2")
        generator.write(b"\xaa")
        self.assertEqual(generator.reads(), [b"\xaa"])
        generator.write(b"\xaa")
        time.sleep(0.2)
        records = generator.log(5)
        self.assertEqual(self.kinds(records), ["stop", "sent", "stop", "sent", "hangup"])
        self.assertEqual(records[-1]["messages"], 2)
        poll = select.poll()
        poll.register(generator.fd, select.POLLIN)
        events = poll.poll(1000)
        self.assertTrue(events and events[0][1] & select.POLLHUP, "host end sees the hang-up")
        self.assertIsNone(generator.process.poll(), "still serving after the hang-up")
        self.assertEqual(generator.stop(), 0)


class ControlTest(GeneratorCase):
    def test_each_control_line_is_one_write(self):
        fifo = tempfile.mktemp(prefix="varnolt-control-")
        generator = self.generator("--control", fifo)
        self.assertTrue(os.path.exists(fifo))
        with open(fifo, "w") as control:
            control.write("55\n")
            control.flush()
            self.assertEqual(generator.reads(), [b"\x55"])
            control.write("55aa\n")
            control.flush()
            self.assertEqual(generator.reads(), [b"\x55\xaa"])
            control.write("01 02 03\n")
            control.flush()
            self.assertEqual(generator.reads(), [b"\x01\x02\x03"])
            control.write("table\n")
            control.flush()
            self.assertEqual(b"".join(generator.reads()), b"\x7f\xff" * 360)
            control.write("5g\nzz\n")
            control.flush()
            self.assertEqual(generator.reads(), [])
        sent = [r for r in generator.log(4) if r["kind"] == "sent"]
        self.assertEqual([(r["bytes"][:8], r["cause"]) for r in sent],
                         [("55", "control"), ("55aa", "control"), ("010203", "control"),
                          ("7fff7fff", "control")])
        self.assertEqual(generator.stop(), 0)
        self.assertIn("neither hex bytes", generator.stderr)
        self.assertFalse(os.path.exists(fifo), "the pipe is removed at exit")


class CommandLineTest(GeneratorCase):
    def run_generator(self, *arguments):
        return subprocess.run([GENERATOR, *arguments], capture_output=True, timeout=5)

    def test_help_lists_every_option_and_exits_0(self):
        result = self.run_generator("--help")
        self.assertEqual(result.returncode, 0)
        text = result.stdout.decode()
        for option in ("--link", "--log", "--report", "--delay-ms", "--hangup-after", "--gap-ms",
                       "--seed", "--control", "--line-rate", "--help"):
            self.assertIn(option, text)
        for mode in ("normal", "none", "delayed", "glued", "table", "random"):
            self.assertIn(mode, text)

    def test_bad_options_exit_2_with_a_clear_error(self):
        cases = [
            (["--bogus"], "unknown option"),
            (["--report", "loud"], "--report must be"),
            (["--report"], "needs a value"),
            (["--delay-ms", "-1"], "--delay-ms needs a whole number"),
            (["--gap-ms", "0"], "--gap-ms needs a whole number"),
            (["--gap-ms", "12x"], "--gap-ms needs a whole number"),
            (["--hangup-after", "0"], "--hangup-after needs a whole number"),
            (["--seed", "x"], "--seed needs a whole number"),
            (["--line-rate", "0"], "--line-rate needs a whole number"),
            (["stray"], "unexpected argument"),
        ]
        for arguments, message in cases:
            with self.subTest(arguments=arguments):
                result = self.run_generator(*arguments)
                self.assertEqual(result.returncode, 2)
                self.assertIn(message, result.stderr.decode())
                self.assertEqual(result.stdout, b"")

    def test_sigterm_and_sigint_end_it_cleanly(self):
        for sig in (signal.SIGTERM, signal.SIGINT):
            with self.subTest(signal=sig):
                generator = self.generator()
                self.assertTrue(os.path.islink(generator.link))
                self.assertEqual(os.path.realpath(generator.link), generator.slave_path)
                self.assertEqual(generator.stop(sig), 0)
                self.assertFalse(os.path.lexists(generator.link), "the link is removed at exit")

    def test_idle_generator_uses_no_processor_time(self):
        generator = self.generator()
        generator.write(b"\xaa")
        generator.reads()
        with open("/proc/%d/stat" % generator.process.pid) as stat:
            before = sum(int(v) for v in stat.read().split(")")[1].split()[11:13])
        time.sleep(1.0)
        with open("/proc/%d/stat" % generator.process.pid) as stat:
            after = sum(int(v) for v in stat.read().split(")")[1].split()[11:13])
        self.assertLessEqual(after - before, 2, "clock ticks used while idle for 1 s")


if __name__ == "__main__":
    GENERATOR = os.path.abspath(sys.argv[1])
    unittest.main(argv=[sys.argv[0]] + sys.argv[2:], verbosity=2)
