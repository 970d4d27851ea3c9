#!/usr/bin/env python3
"""Time from launch to the first drawn preview of varnolt.exe under Wine, beside the same figure
for a minimal dialog program (tools/measure/e2e-minimal-dialog.cpp) under the same Wine.

"Drawn" is the moment the panel's period readout 1037 has a text: the preview writes it right
after painting the picture, and nothing else writes it at start-up. The minimal dialog writes its
field 1037 right after painting its one rectangle. The driver (tests/e2e/panel_driver.cpp) polls
for that text from the moment the program is launched; the time is taken here, from just before
the launch to the driver's answer.

Runs on an Xvfb display of its own, on the build this host runs unless one is named, in
WINEPREFIX or a prefix of the measurements' own (windows_build.sh, whose line names the build and
the Wine). Programs run alternately, one warm-up run each first.

Usage: e2e-startup.py [--windows-build DIR] [--runs 5]
"""

import argparse
import os
import statistics
import subprocess
import sys
import time

import windows_build

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "rig"))
import panel  # noqa: E402


def one_launch(session, program, caption, log_name):
    """Seconds from launch to the field's text, or None when it did not come."""
    session.ask_ok(f"dialog {caption}")
    session.driver.send("wait 1037 30000\n")
    start = time.monotonic()
    process = session.start_program(program, log_name)
    answer = session.driver.read_line(60, "wait 1037")
    elapsed = time.monotonic() - start
    closed = session.ask("close")
    try:
        process.wait(timeout=20)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
    if not answer.startswith("ready") or closed != "closed":
        print(f"  {caption}: {answer} / {closed}", flush=True)
        return None
    return elapsed


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--windows-build", help="default: the build this host runs")
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    build = windows_build.choose(args.windows_build)
    programs = [("varnolt.exe", os.path.join(build, "app", "varnolt.exe"), "varnolt.example"),
                ("minimal dialog", os.path.join(build, "tools", "measure", "e2e_minimal_dialog.exe"),
                 "e2e-minimal.example")]
    work = os.path.join(build, "measure-startup")
    os.makedirs(work, exist_ok=True)
    # A display of its own, and the prefix's server restarted so that Wine's desktop is made on it.
    session = panel.Session(work, os.path.join(build, "tests", "e2e", "e2e_panel_driver.exe"),
                            generator=False)
    times = {name: [] for name, _, _ in programs}
    load_before = os.getloadavg()[0]
    try:
        session.start_driver()
        for run in range(args.runs + 1):
            for name, program, caption in programs:
                log_name = f"{name.replace(' ', '-')}-{run}.log"
                elapsed = one_launch(session, program, caption, log_name)
                label = "warm-up" if run == 0 else f"run {run}"
                print(f"{name:15s} {label:8s} {elapsed * 1000:7.1f} ms" if elapsed is not None
                      else f"{name:15s} {label:8s} failed", flush=True)
                if run > 0 and elapsed is not None:
                    times[name].append(elapsed)
    finally:
        session.close()
    print("load average before/after: %.2f / %.2f" % (load_before, os.getloadavg()[0]))
    medians = {name: statistics.median(values) for name, values in times.items() if values}
    for name, values in times.items():
        if values:
            print(f"{name:15s} median of {len(values)}: {medians[name] * 1000:.1f} ms "
                  f"(min {min(values) * 1000:.1f}, max {max(values) * 1000:.1f})")
    if len(medians) == 2:
        print(f"ratio varnolt.exe / minimal dialog: {medians['varnolt.exe'] / medians['minimal dialog']:.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
