#!/usr/bin/env python3
"""Measures what the check of who may connect (--allow) costs varnoltctl serve (native build): the
time of one connection that connects, asks *IDN?, reads the answer and closes, from a client
- on loopback, to a server on 127.0.0.1 (loopback only: the check's quickest way);
- on another network, to a server on 0.0.0.0 with --allow naming that network (target: within
  10 % of loopback only);
- on the server's own network, to the same server (the interfaces are read at each accept);
- on the other network again, to a server on 0.0.0.0 with --allow any: the same way through the
  network without a network to match, which tells the check's share from the link's.
In a network namespace of its own (root), the client in another one, joined by a veth pair: the
server's end 10.233.0.1/24, the client's 10.233.0.2/24 and 10.233.1.2/24, each side routing the
other's network onto the link. The three run in alternating blocks; the medians are compared.

Usage: sudo python3 allow.py [--build BUILD] [--connections N] [--blocks N]
"""
import argparse
import json
import os
import statistics
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tests"))
from rig.generator import Generator  # noqa: E402
from rig.netns import enter, ip, namespace  # noqa: E402
from rig.process import enter_namespaces  # noqa: E402
from rig.serve import Server  # noqa: E402

# The client: count connections from source to host:port, each one's time in microseconds.
CLIENT = """import json, socket, sys, time
host, port, source, count = sys.argv[1], int(sys.argv[2]), sys.argv[3], int(sys.argv[4])
times = []
for _ in range(count):
    started = time.perf_counter_ns()
    with socket.create_connection((host, port), timeout=5, source_address=(source, 0)) as s:
        s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        s.sendall(b"*IDN?\\n")
        answer = b""
        while not answer.endswith(b"\\n"):
            chunk = s.recv(256)
            if not chunk:
                sys.exit("closed without an answer")
            answer += chunk
    times.append((time.perf_counter_ns() - started) / 1000.0)
print(json.dumps(times))
"""


def client_namespace():
    """The client's namespace, joined to this one: its holder, and the nsenter command that runs
    in it."""
    holder = namespace()
    ip("link", "set", "lo", "up")
    ip("link", "add", "va", "type", "veth", "peer", "name", "vb", "netns", str(holder.pid))
    ip("addr", "add", "10.233.0.1/24", "dev", "va")
    ip("link", "set", "va", "up")
    ip("route", "add", "10.233.1.0/24", "dev", "va")
    for address in ("10.233.0.2/24", "10.233.1.2/24"):
        ip("addr", "add", address, "dev", "vb", into=holder)
    ip("link", "set", "vb", "up", into=holder)
    return holder, enter(holder)


def serve(build, generator, *options, listen):
    server = Server("--port", generator.pty, "--http", "off", "--no-announce", *options,
                    listen=listen, tool=os.path.join(build, "cli", "varnoltctl"))
    if server.port is None:
        sys.exit("allow.py: the server did not start: " + " ".join(server.lines))
    return server


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "native"))
    parser.add_argument("--connections", type=int, default=500, help="per block")
    parser.add_argument("--blocks", type=int, default=10)
    args = parser.parse_args()
    enter_namespaces("--net")
    holder, enter = client_namespace()
    generator = os.path.join(args.build, "tools", "virtual_generator",
                             "varnolt-virtual-generator")
    generators = [Generator(program=generator) for _ in range(3)]
    loopback = serve(args.build, generators[0], listen="127.0.0.1:0")
    wide = serve(args.build, generators[1], "--allow", "10.233.1.0/24", listen="0.0.0.0:0")
    anyone = serve(args.build, generators[2], "--allow", "any", listen="0.0.0.0:0")
    cases = {
        "loopback only": ([], "127.0.0.1", loopback.port, "127.0.0.1"),
        "--allow naming the client's network": (enter, "10.233.0.1", wide.port, "10.233.1.2"),
        "the server's own network": (enter, "10.233.0.1", wide.port, "10.233.0.2"),
        "--allow any, from the other network": (enter, "10.233.0.1", anyone.port, "10.233.1.2"),
    }
    times = {name: [] for name in cases}
    try:
        for _ in range(args.blocks):
            for name, (where, host, port, source) in cases.items():
                result = subprocess.run([*where, sys.executable, "-c", CLIENT, host, str(port),
                                         source, str(args.connections)],
                                        capture_output=True, text=True, timeout=600)
                if result.returncode != 0:
                    sys.exit(f"allow.py: {name}: {result.stderr.strip()}")
                times[name] += json.loads(result.stdout)
    finally:
        for server in (loopback, wide, anyone):
            server.stop()
        for each in generators:
            each.stop()
        holder.kill()
        holder.wait()
    base = statistics.median(times["loopback only"])
    print(f"connect, *IDN? and close: median of {len(times['loopback only'])} connections each")
    for name, values in times.items():
        median = statistics.median(values)
        print(f"  {name}: {median:.0f} us ({100 * (median / base - 1):+.1f} % against loopback "
              "only)")
    named = statistics.median(times["--allow naming the client's network"])
    anyone = statistics.median(times["--allow any, from the other network"])
    ratio = named / base
    print(f"--allow naming the client's network against loopback only: {ratio:.3f} (target: "
          f"within 10 %: {'met' if abs(ratio - 1) <= 0.10 else 'NOT met'}); against --allow any "
          f"on the same way: {named / anyone:.3f}")


if __name__ == "__main__":
    main()
