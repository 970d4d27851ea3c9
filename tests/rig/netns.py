"""Two networks in namespaces of the test's own (after process.enter_namespaces("--net")): HERE, the
test's own namespace, on network A; a neighbour on A; a router on A (a bridge) and on B; a
stranger on B, which reaches A through the router."""
import os
import subprocess
import time

from rig.process import die_with_parent

HERE, NEIGHBOUR, STRANGER = "10.232.1.1", "10.232.1.2", "10.232.2.2"


def enter(holder, *namespaces):
    """The command prefix that runs a program in the holder's network namespace (and in its other
    namespaces named by nsenter's options, such as -m)."""
    return ["nsenter", "-t", str(holder.pid), "-n", *namespaces, "--"]


def ip(*words, into=None):
    subprocess.run([*(enter(into) if into else []), "ip", *words], check=True, timeout=10)


def namespace(*unshare_options):
    """A process holding a network namespace of its own, with loopback up (and the other
    namespaces that unshare's options ask for)."""
    holder = subprocess.Popen(["unshare", "--net", *unshare_options, "sleep", "3600"],
                              preexec_fn=die_with_parent)
    own = os.readlink("/proc/self/ns/net")
    deadline = time.monotonic() + 10
    while os.readlink(f"/proc/{holder.pid}/ns/net") == own:  # until unshare has made it
        if time.monotonic() > deadline:
            raise RuntimeError("no namespace")
        time.sleep(0.01)
    ip("link", "set", "lo", "up", into=holder)
    return holder


def wire(name, address, into, router, bridge=None, route=None):
    """A veth link from a namespace (into; None: this one) to the router, its router end on
    bridge, or with the router's address on it when there is no bridge."""
    ip("link", "add", name, "type", "veth", "peer", "name", name + "r", "netns", str(router.pid),
       into=into)
    ip("addr", "add", address, "dev", name, into=into)
    ip("link", "set", name, "up", into=into)
    if bridge:
        ip("link", "set", name + "r", "master", bridge, into=router)
    ip("link", "set", name + "r", "up", into=router)
    if route:
        ip("route", "add", *route, into=into)


def network():
    """Networks A and B, with the router between them: the holders of the router's, the
    neighbour's and the stranger's namespaces (HERE's link is named sa)."""
    ip("link", "set", "lo", "up")
    router, neighbour, stranger = namespace(), namespace(), namespace()
    ip("link", "add", "ba", "type", "bridge", into=router)
    ip("addr", "add", "10.232.1.254/24", "dev", "ba", into=router)
    ip("link", "set", "ba", "up", into=router)
    subprocess.run([*enter(router), "sysctl", "-qw", "net.ipv4.ip_forward=1"], check=True,
                   timeout=10)
    wire("sa", HERE + "/24", None, router, "ba", ("10.232.2.0/24", "via", "10.232.1.254"))
    wire("na", NEIGHBOUR + "/24", neighbour, router, "ba")
    wire("sb", STRANGER + "/24", stranger, router, route=("10.232.1.0/24", "via", "10.232.2.254"))
    ip("addr", "add", "10.232.2.254/24", "dev", "sbr", into=router)
    return router, neighbour, stranger
