"""A test's network in namespaces of its own: a veth pair va/vb (10.231.0.1/10.231.0.2), a private
/run, and a D-Bus system bus and an avahi-daemon of its own on that pair only."""
import os
import re
import signal
import subprocess
import time

from rig.process import die_with_parent, enter_namespaces

ADDRESS = "10.231.0.1"
ANNOUNCED = re.compile(r'^varnoltctl: announced as "(.+)"$')
AVAHI_CONF = """[server]
use-ipv4=yes
use-ipv6=no
allow-interfaces={}
enable-dbus=yes
[publish]
publish-workstation=no
"""


def run(*command, timeout=10):
    return subprocess.run(command, capture_output=True, text=True, timeout=timeout,
                          preexec_fn=die_with_parent)


LO_UP = ["ip", "link", "set", "lo", "up"]
VB_UP = (["ip", "addr", "add", "10.231.0.2/24", "dev", "vb"],
         ["ip", "link", "set", "vb", "up", "multicast", "on"])
# A private /run: the bus's and the responder's sockets are the test's own.
PRIVATE_RUN = (["mount", "-t", "tmpfs", "-o", "mode=755", "tmpfs", "/run"],
               ["mkdir", "/run/dbus", "/run/avahi-daemon"])


def configure(*commands, enter=(), check=True):
    """Runs each command, in the namespaces that enter (an nsenter command) leads to."""
    for command in commands:
        subprocess.run([*enter, *command], check=check, timeout=10)


def enter_network():
    """Runs this program again in a network and mount namespace of its own with the pair."""
    enter_namespaces("--net", "--mount", "--propagation", "private")
    configure(LO_UP, ["ip", "link", "add", "va", "type", "veth", "peer", "name", "vb"],
              ["ip", "addr", "add", ADDRESS + "/24", "dev", "va"],
              ["ip", "link", "set", "va", "up", "multicast", "on"], *VB_UP, *PRIVATE_RUN)


class Responder:
    """A D-Bus system bus and an avahi-daemon (start(), stop()) on these interfaces, in the
    namespaces that enter leads to (root: their / seen from here), or in the test's own."""

    def __init__(self, folder, interfaces="va,vb", enter=(), root="/"):
        self.enter, self.root = list(enter), root
        self.conf = os.path.join(folder, "avahi-daemon-" + interfaces.replace(",", "-") + ".conf")
        with open(self.conf, "w") as conf:
            conf.write(AVAHI_CONF.format(interfaces))
        self.bus = subprocess.Popen([*self.enter, "dbus-daemon", "--system", "--nofork",
                                     "--nopidfile"], preexec_fn=die_with_parent,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while not os.path.exists(os.path.join(root, "run/dbus/system_bus_socket")):
            if time.monotonic() > deadline or self.bus.poll() is not None:
                raise RuntimeError("the test's D-Bus system bus did not start")
            time.sleep(0.02)
        self.daemon = None

    def start(self):
        pid_file = os.path.join(self.root, "run/avahi-daemon/pid")
        if os.path.exists(pid_file):
            os.remove(pid_file)
        self.daemon = subprocess.Popen(
            [*self.enter, "avahi-daemon", "-f", self.conf, "--no-drop-root", "--no-rlimits",
             "--no-chroot"], preexec_fn=die_with_parent, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        # Running once it owns its name on the bus (avahi-browse fails before).
        deadline = time.monotonic() + 10
        while run(*self.enter, "avahi-browse", "-atp", "-k").returncode != 0:
            if time.monotonic() > deadline:
                raise RuntimeError("the test's avahi-daemon did not start")
            time.sleep(0.1)

    def stop(self, signal_number=signal.SIGTERM):
        if self.daemon is not None and self.daemon.poll() is None:
            self.daemon.send_signal(signal_number)
            self.daemon.wait(timeout=10)
        self.daemon = None

    def close(self):
        self.stop()
        self.bus.terminate()
        self.bus.wait(timeout=10)
