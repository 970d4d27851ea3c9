#!/usr/bin/env python3
"""The package's systemd service: systemd-analyze, the udev rule's name, and the unit's command
line from the default file serving the virtual generator (in a network namespace: root).
Usage: serve_unit_test.py VARNOLTCTL GENERATOR [unittest arguments]"""
import os
import re
import shlex
import signal
import socket
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "..", "..")
sys.path.insert(0, os.path.join(HERE, ".."))
import rig  # noqa: E402
from rig.generator import Generator  # noqa: E402
from rig.process import enter_namespaces  # noqa: E402
from rig.serve import Server  # noqa: E402

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


def unit_settings():
    settings = {}
    for section, key, value in assignments(UNIT):
        settings.setdefault((section, key), []).append(value)
    return settings


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
            self.assertFalse(os.path.lexists(alias))
            for action, exists in (("enable", True), ("disable", False)):
                subprocess.run(["systemctl", "--root=" + root, action,
                                "varnoltctl-serve@.service"], check=True, capture_output=True,
                               timeout=60)
                self.assertEqual(os.path.lexists(alias), exists, action)

    def test_command_line_with_the_default_file(self):
        settings = unit_settings()
        values = environment(settings)
        # Restarted on failure, not after a bad option (64) or a taken address (75, below); a
        # generator that hung up (74) is worth another try.
        kept = settings[("[Service]", "RestartPreventExitStatus")][0].split()
        self.assertEqual((settings[("[Service]", "Restart")], "64" in kept, "74" in kept),
                         (["on-failure"], True, False))
        first = Generator()
        self.addCleanup(first.stop)
        # The instance is the device's name below /dev: the pty's.
        instance = os.path.relpath(first.pty, "/dev")
        words = command_line(settings, instance, values)
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
        # A second generator's instance: one line, and an exit code that is not restarted.
        second = Generator()
        self.addCleanup(second.stop)
        words = command_line(settings, os.path.relpath(second.pty, "/dev"), values)
        words[0] = rig.TOOL
        result = subprocess.run(words, capture_output=True, text=True, timeout=30)
        self.assertEqual(len(result.stderr.splitlines()), 1, result.stderr)
        self.assertIn("127.0.0.1:5025", result.stderr)
        self.assertEqual(result.returncode, 75)
        self.assertIn(str(result.returncode), kept)
        # The first goes on serving and ends with 0 on SIGTERM; nothing announced from loopback.
        with socket.create_connection(("127.0.0.1", 5025), timeout=5) as client:
            client.sendall(b"*IDN?\n")
            self.assertTrue(client.makefile().readline().startswith("VARNOLT,"))
        self.assertEqual(server.stop(signal.SIGTERM), 0)
        self.assertEqual(len(server.lines), 1, server.lines)


if __name__ == "__main__":
    enter_namespaces("--net")
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True, timeout=10)
    rig.main()
