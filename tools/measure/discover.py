#!/usr/bin/env python3
"""Measures how soon `varnoltctl discover` gives its first generator, against `avahi-browse -rtp`
(resolving, ending when all is listed) in the same place: a network and mount namespace of the
measurement's own, with its own D-Bus bus and avahi-daemon on a veth pair, as the announcement
tests make it (nothing reaches the machine's own interfaces, bus or responder). One
`varnoltctl serve` on the veth address is announced; then, in alternating runs, the time from
each program's start to its first resolved result line, and to its end. Needs root.

Usage (Debian's python3, which has PyVISA): /usr/bin/python3 tools/measure/discover.py
       [--build BUILD] [--runs N] [--with-panel]
  --with-panel  also announce an _http._tcp service of the same name (as a web listener would)
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
sys.path.insert(0, os.path.join(ROOT, "tests"))
from rig import mdns  # noqa: E402
from rig.generator import Generator  # noqa: E402
from rig.process import die_with_parent  # noqa: E402
from rig.serve import Server  # noqa: E402


def first_line_and_end(command, is_result):
    """Seconds from the start to the first line is_result accepts, and to the program's end."""
    started = time.perf_counter()
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                               text=True, preexec_fn=die_with_parent)
    first = None
    for line in process.stdout:
        if first is None and is_result(line):
            first = time.perf_counter() - started
    process.wait(timeout=30)
    return first, time.perf_counter() - started


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "native"))
    parser.add_argument("--runs", type=int, default=10)
    parser.add_argument("--with-panel", action="store_true")
    arguments = parser.parse_args()
    tool = os.path.abspath(os.path.join(arguments.build, "cli", "varnoltctl"))
    generator_program = os.path.abspath(
        os.path.join(arguments.build, "tools", "virtual_generator", "varnolt-virtual-generator"))
    mdns.enter_network()
    with tempfile.TemporaryDirectory() as folder:
        responder = mdns.Responder(folder)
        responder.start()
        generator = Generator(program=generator_program)
        serve = Server("--port", generator.pty, "--http", "off", listen=mdns.ADDRESS + ":5025",
                       tool=tool, preexec_fn=die_with_parent)
        panel = None
        try:
            announced = serve.wait_for(mdns.ANNOUNCED)
            if not announced:
                sys.exit("discover.py: the server was not announced: " + " ".join(serve.lines))
            name = announced.group(1)
            if arguments.with_panel:
                panel = subprocess.Popen(["avahi-publish", "-s", name, "_http._tcp", "8025",
                                          "path=/"], preexec_fn=die_with_parent,
                                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                time.sleep(2)
            times = {"discover": [], "avahi-browse": []}
            for _ in range(arguments.runs):
                times["discover"].append(first_line_and_end(
                    [tool, "discover"], lambda line: line.startswith(name + "  ")))
                times["avahi-browse"].append(first_line_and_end(
                    ["avahi-browse", "-rtp", "_scpi-raw._tcp"],
                    lambda line: line.startswith("=;")))
        finally:
            if panel is not None:
                panel.terminate()
                panel.wait()
            serve.stop()
            generator.stop()
            responder.close()
    print(f"discover.py: {arguments.runs} runs each, one generator announced on a veth pair"
          f"{' with a panel (_http._tcp)' if arguments.with_panel else ''}")
    for program, runs in times.items():
        firsts = [first for first, _ in runs if first is not None]
        ends = [end for _, end in runs]
        print(f"  {program:13} first result: median {statistics.median(firsts) * 1000:6.0f} ms, "
              f"max {max(firsts) * 1000:6.0f} ms ({len(firsts)} of {len(runs)} found it); "
              f"ended after median {statistics.median(ends) * 1000:6.0f} ms")


if __name__ == "__main__":
    main()
