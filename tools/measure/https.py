#!/usr/bin/env python3
"""Measures the web panel of varnoltctl serve over HTTPS (its self-signed certificate), on the
virtual generator, over loopback:
- a TLS handshake's time (TCP connect and handshake, TLS 1.3 and TLS 1.2), median of N each;
- the time from a SCPI change to the page showing it in headless Chromium, over 100 changes
  (goal: p99 under 100 ms);
- the server's processor time over 10 s with four pages open and nothing happening (goal: under
  0.02 s).

Usage: https.py [VARNOLTCTL GENERATOR] [--handshakes N] [--changes N] [--idle SECONDS]
(the paths default to the native build's)
"""
import os
import socket
import ssl
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests"))
sys.path.insert(0, HERE)
from rig.browser import chromium  # noqa: E402
from rig.generator import Generator  # noqa: E402
from rig.process import processor_seconds  # noqa: E402
from rig.scpi import Client  # noqa: E402
from rig.serve import Server  # noqa: E402
from web_panel import change_latencies, load_page, percentile, program_arguments  # noqa: E402


def handshakes(port, version, count):
    """count connections with a full handshake (no resumption), each one's time in ms."""
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
    context.check_hostname, context.verify_mode = False, ssl.CERT_NONE
    context.minimum_version = context.maximum_version = version
    times = []
    for _ in range(count):
        started = time.perf_counter_ns()
        with socket.create_connection(("127.0.0.1", port)) as raw:
            with context.wrap_socket(raw):
                times.append((time.perf_counter_ns() - started) / 1e6)
    return times


def main():
    parser = program_arguments(__doc__)
    parser.add_argument("--handshakes", type=int, default=500)
    parser.add_argument("--changes", type=int, default=100)
    parser.add_argument("--idle", type=float, default=10.0)
    options = parser.parse_args()
    print(f"measure: {os.path.abspath(options.tool)} (native), "
          f"{subprocess.run(['openssl', 'version'], capture_output=True, text=True).stdout.strip()}",
          flush=True)
    generator = Generator(program=options.generator)
    server = Server("--port", generator.pty, "--http", "0", "--https", "0", tool=options.tool)
    browser = None
    try:
        if server.url is None:
            sys.exit("https.py: the server did not start: " + " ".join(server.lines))
        for name, version in (("TLS 1.3", ssl.TLSVersion.TLSv1_3),
                              ("TLS 1.2", ssl.TLSVersion.TLSv1_2)):
            times = handshakes(server.web_port, version, options.handshakes)
            print(f"{name} connect and handshake (ECDSA P-256), {len(times)} on loopback: median "
                  f"{statistics.median(times):.2f} ms, p99 {percentile(times, 0.99):.2f} ms")
        browser = chromium(any_certificate=True)
        scpi = Client(server.port, timeout=None)
        dom, frame = change_latencies(browser, server.url, scpi, options.tool, options.changes)
        print(f"SCPI change to the page over HTTPS, {len(dom)} changes: readout updated median "
              f"{statistics.median(dom):.1f} ms, p99 {percentile(dom, 0.99):.1f} ms; next frame "
              f"median {statistics.median(frame):.1f} ms, p99 {percentile(frame, 0.99):.1f} ms "
              f"(goal: p99 under 100 ms)")
        scpi.close()
        for index in range(4):
            if index:
                browser.switch_to.new_window("tab")
            load_page(browser, server.url)
        # Past the 5 s after which the server closes the pages' idle kept-alive connections: until
        # then the HTTP library looks at each of them every 10 ms.
        time.sleep(6.0)
        before, started = processor_seconds(server.process.pid), time.monotonic()
        time.sleep(options.idle)
        used = processor_seconds(server.process.pid) - before
        print(f"server processor time, four HTTPS pages open, idle: {used:.3f} s in "
              f"{time.monotonic() - started:.1f} s (goal: under 0.02 s)")
    finally:
        if browser:
            browser.quit()
        server.stop()
        generator.stop()


if __name__ == "__main__":
    main()
