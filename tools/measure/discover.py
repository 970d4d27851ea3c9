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
sys.path.insert(0, os.path.join(ROOT, "tests", "dns_sd"))
sys.path.insert(0, os.path.join(ROOT, "tests", "serving"))
sys.path.insert(0, os.path.join(ROOT, "tests", "cli"))
import dns_sd_netns_test as netns  # noqa: E402
import varnoltctl_test  # noqa: E402


def first_line_and_end(command, is_result):
    """Seconds from the start to the first line is_result accepts, and to the program's end."""
    started = time.perf_counter()
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                               text=True, preexec_fn=netns.die_with_parent)
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
    varnoltctl_test.GENERATOR = os.path.abspath(
        os.path.join(arguments.build, "tools", "virtual_generator", "varnolt-virtual-generator"))
    netns.enter_namespaces()
    netns.make_network()
    with tempfile.TemporaryDirectory() as folder:
        responder = netns.Responder(folder)
        responder.start()
        generator = varnoltctl_test.Generator()
        serve = subprocess.Popen([tool, "serve", "--port", generator.pty, "--listen",
                                  netns.ADDRESS + ":5025"], stderr=subprocess.PIPE, text=True,
                                 preexec_fn=netns.die_with_parent)
        panel = None
        try:
            for line in serve.stderr:
                if netns.ANNOUNCED.match(line.strip()):
                    name = netns.ANNOUNCED.match(line.strip()).group(1)
                    break
            if arguments.with_panel:
                panel = subprocess.Popen(["avahi-publish", "-s", name, "_http._tcp", "8025",
                                          "path=/"], preexec_fn=netns.die_with_parent,
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
            serve.terminate()
            serve.wait()
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
