#!/usr/bin/env python3
"""Measures the web panel of varnoltctl serve on the virtual generator, over loopback, in
headless Chromium (Debian's chromium and chromium-driver, through python3-selenium):
- the page's total weight: every response that the page loads, the state included (goal: under
  64 KiB);
- the time from a SCPI change to the page showing it, over 100 changes (goal: p99 under 100 ms):
  from just before the SCPI line is sent to the page's period readout holding the new text, and
  to the next frame drawn after it;
- the server's processor time over 10 s with four pages open and nothing happening (goal: under
  0.02 s), and again with four read-only pages (--auth on, no session: every control disabled);
- the SCPI *IDN? round trip with four pages open against none, in alternating blocks (goal:
  within 10 %);
- a SCPI *IDN? (a new connection) and a page load while 200 HTTP connections are open and idle,
  against the same with none.

Usage: web_panel.py [VARNOLTCTL GENERATOR] [--changes N] [--queries N] [--idle SECONDS]
(the paths default to the native build's)
"""
import argparse
import json
import os
import socket
import statistics
import subprocess
import sys
import time
import urllib.error
import urllib.request

from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tests"))
from rig import built_programs  # noqa: E402
from rig.browser import chromium  # noqa: E402
from rig.generator import Generator  # noqa: E402
from rig.process import processor_seconds  # noqa: E402
from rig.scpi import Client  # noqa: E402
from rig.serve import Server  # noqa: E402


def percentile(values, share):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(share * len(ordered)))]


def idn_round_trips(port, count):
    """count round trips of *IDN? on one connection, in microseconds."""
    client = Client(port, timeout=None)
    times = []
    for _ in range(count):
        started = time.perf_counter_ns()
        client.query("*IDN?")
        times.append((time.perf_counter_ns() - started) / 1000.0)
    client.close()
    return times


def named(browser, name):
    """The element whose accessible name is name."""
    for element in browser.find_elements(By.CSS_SELECTOR, "input, output, select, button"):
        if element.accessible_name == name:
            return element
    sys.exit(f"web_panel.py: the page has no control named {name!r}")


def load_page(browser, url):
    """Opens the panel; returns the seconds until it shows the state."""
    started = time.perf_counter()
    browser.get(url)
    field = named(browser, "Frequency")
    WebDriverWait(browser, 30, poll_frequency=0.005).until(
        lambda _: field.get_attribute("value") != "")
    return time.perf_counter() - started


def idle_processor_time(server, seconds):
    """The server's processor seconds over seconds of nothing happening, after a second's rest;
    and the seconds it took."""
    time.sleep(1.0)
    before, started = processor_seconds(server.process.pid), time.monotonic()
    time.sleep(seconds)
    return processor_seconds(server.process.pid) - before, time.monotonic() - started


def page_weight(browser, url):
    """Every response the page loaded (as the browser lists them), fetched again to count the
    bytes with their headers; the event stream is counted as its first event, the state."""
    load_page(browser, url)
    loaded = browser.execute_script(
        "return performance.getEntriesByType('resource').map(e => e.name)")
    total = 0
    lines = []
    # The event stream is still open, so the browser does not list it among the finished ones.
    for address in [url] + [a for a in loaded if not a.endswith("/events")] + [url + "events"]:
        if address.endswith("/events"):
            address = url + "api/state"
        try:
            response = urllib.request.urlopen(address)
        except urllib.error.HTTPError as error:  # counted too: the browser loaded it
            response = error
        with response:
            body = response.read()
            head = sum(len(k) + len(v) + 4 for k, v in response.getheaders()) + 17
        total += len(body) + head
        lines.append(f"  {address[len(url) - 1:]}: {response.status}, {len(body)} bytes + {head} "
                     f"of headers")
    return total, lines


def change_latencies(browser, url, scpi, tool, count):
    """Milliseconds from sending FREQ over SCPI to the period readout's new text, and to the
    next frame after it."""
    load_page(browser, url)
    scpi.query("FREQ:SPW 360;*OPC?")
    period = named(browser, "Period")
    browser.execute_script("""
        const period = arguments[0];
        window.seen = {};
        new MutationObserver(() => {
          const text = period.value, at = performance.timeOrigin + performance.now();
          if (window.seen[text]) return;
          window.seen[text] = {dom: at};
          requestAnimationFrame(() => {
            window.seen[text].frame = performance.timeOrigin + performance.now(); });
        }).observe(period, {childList: true, characterData: true, subtree: true});""", period)
    dom, frame = [], []
    for index in range(count):
        frequency = 100 + index  # each a code of its own, so each a period text of its own
        expected = json.loads(subprocess.run(
            [tool, "show", "--json", "--spw", "360", "--freq", str(frequency)],
            capture_output=True, text=True, check=True).stdout)["periodText"]
        sent = time.time() * 1000.0
        scpi.query(f"FREQ {frequency};*OPC?")
        deadline = time.monotonic() + 5
        seen = None
        while time.monotonic() < deadline:
            seen = browser.execute_script("return window.seen[arguments[0]]", expected)
            if seen and "frame" in seen:
                break
            time.sleep(0.002)
        if not seen or "frame" not in seen:
            sys.exit(f"web_panel.py: the page did not show {expected} within 5 s")
        dom.append(seen["dom"] - sent)
        frame.append(seen["frame"] - sent)
    return dom, frame


def program_arguments(doc):
    """The measures' parser, with varnoltctl and the virtual generator (the native build's)."""
    parser = argparse.ArgumentParser(description=doc.splitlines()[0])
    tool, generator = built_programs(os.path.join(ROOT, "build", "native"))
    parser.add_argument("tool", nargs="?", default=tool)
    parser.add_argument("generator", nargs="?", default=generator)
    return parser


def main():
    parser = program_arguments(__doc__)
    parser.add_argument("--changes", type=int, default=100)
    parser.add_argument("--queries", type=int, default=20000)
    parser.add_argument("--idle", type=float, default=10.0)
    options = parser.parse_args()
    print(f"measure: {os.path.abspath(options.tool)} (native, no Wine), "
          f"{subprocess.run(['/usr/bin/chromium', '--version'], capture_output=True, text=True).stdout.strip()}",
          flush=True)

    generator = Generator(program=options.generator)
    server = Server("--port", generator.pty, tool=options.tool)
    browser = None
    idle_sockets = []
    try:
        if server.url is None:
            sys.exit("web_panel.py: the server did not start: " + " ".join(server.lines))
        scpi_port, url, http_port = server.port, server.url, server.web_port
        browser = chromium()

        total, lines = page_weight(browser, url)
        print(f"page weight: {total} bytes ({total / 1024:.1f} KiB) in {len(lines)} responses "
              f"(goal: under 64 KiB)")
        for line in lines:
            print(line)

        scpi = Client(scpi_port, timeout=None)
        dom, frame = change_latencies(browser, url, scpi, options.tool, options.changes)
        print(f"SCPI change to the page, {len(dom)} changes: readout updated median "
              f"{statistics.median(dom):.1f} ms, p99 {percentile(dom, 0.99):.1f} ms; next frame "
              f"median {statistics.median(frame):.1f} ms, p99 {percentile(frame, 0.99):.1f} ms "
              f"(goal: p99 under 100 ms)")

        # *IDN? with no page open and with four, in alternating blocks (the host is shared:
        # each block's median is compared with the one just before it).
        browser.get("about:blank")
        rounds = 5
        block = max(1, options.queries // (2 * rounds))
        idn_round_trips(scpi_port, 200)  # warm-up
        none, four, ratios = [], [], []
        tabs = []
        for round_index in range(rounds):
            time.sleep(1.0)
            none += idn_round_trips(scpi_port, block)
            for index in range(4):
                if index:
                    browser.switch_to.new_window("tab")
                load_page(browser, url)
                tabs.append(browser.current_window_handle)
            time.sleep(1.0)
            four += idn_round_trips(scpi_port, block)
            ratios.append(statistics.median(four[-block:]) / statistics.median(none[-block:]))
            if round_index < rounds - 1:
                for handle in tabs[1:]:
                    browser.switch_to.window(handle)
                    browser.close()
                browser.switch_to.window(tabs[0])
                browser.get("about:blank")
                tabs = []
        print(f"*IDN? round trip, no page open: median {statistics.median(none):.1f} us, "
              f"p99 {percentile(none, 0.99):.1f} us ({len(none)} queries)")
        print(f"*IDN? round trip, four pages open: median {statistics.median(four):.1f} us, "
              f"p99 {percentile(four, 0.99):.1f} us ({len(four)} queries); ratio of the "
              f"medians {statistics.median(four) / statistics.median(none):.3f}, of each "
              f"round's {' '.join(f'{r:.3f}' for r in ratios)} (goal: within 10 %)")

        # Four pages open (still), nothing happening.
        used, elapsed = idle_processor_time(server, options.idle)
        print(f"server processor time, four pages open, idle: {used:.2f} s in {elapsed:.1f} s "
              f"(goal: under 0.02 s)")
        for handle in tabs[1:]:
            browser.switch_to.window(handle)
            browser.close()
        browser.switch_to.window(tabs[0])

        # A new SCPI client's *IDN? and a page load, without and with 200 idle connections.
        def one_idn():
            started = time.perf_counter()
            client = Client(scpi_port, timeout=None)
            client.query("*IDN?")
            client.close()
            return (time.perf_counter() - started) * 1000.0

        browser.get("about:blank")
        plain_idn, plain_load = one_idn(), load_page(browser, url) * 1000.0
        browser.get("about:blank")
        for _ in range(200):
            idle_sockets.append(socket.create_connection(("127.0.0.1", http_port)))
        time.sleep(0.5)
        loaded_idn, loaded_load = one_idn(), load_page(browser, url) * 1000.0
        print(f"with 200 idle HTTP connections: a new SCPI client's *IDN? {loaded_idn:.1f} ms "
              f"(none open: {plain_idn:.1f} ms); a page load to the state shown "
              f"{loaded_load:.0f} ms (none open: {plain_load:.0f} ms)")
        scpi.close()

        # Four read-only pages: a server that asks for its token, pages without a session.
        server.stop()
        server = Server("--port", generator.pty, "--auth", "on", tool=options.tool)
        if server.url is None:
            sys.exit("web_panel.py: the server with --auth on did not start: " +
                     " ".join(server.lines))
        browser.delete_all_cookies()
        for index in range(4):
            if index:
                browser.switch_to.new_window("tab")
            load_page(browser, server.url)
            if named(browser, "START").is_enabled():
                sys.exit("web_panel.py: a page without a session has its controls enabled")
        used, elapsed = idle_processor_time(server, options.idle)
        print(f"server processor time, four read-only pages open, idle: {used:.2f} s in "
              f"{elapsed:.1f} s (goal: under 0.02 s)")
    finally:
        for idle in idle_sockets:
            idle.close()
        if browser:
            browser.quit()
        server.stop()
        generator.stop()


if __name__ == "__main__":
    main()
