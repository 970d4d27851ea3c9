#!/usr/bin/env python3
"""Time from launch to the first drawn preview of varnolt.exe under Wine, beside the same figure
for a minimal dialog program (tools/measure/e2e-minimal-dialog.cpp) under the same Wine.

"Drawn" is the moment the panel's period readout 1037 has a text: the preview writes it right
after painting the picture, and nothing else writes it at start-up. The minimal dialog writes its
field 1037 right after painting its one rectangle. The driver (tests/e2e/panel_driver.exe) polls
for that text from the moment the program is launched; the time is taken here, from just before
the launch to the driver's answer.

Runs on an Xvfb display of its own with the prefix in WINEPREFIX (its wineserver running, as
tools/wine/make-prefix.sh leaves it). Programs run alternately, one warm-up run each first.

Usage: e2e-startup.py --windows-build DIR [--runs 5]
"""

import argparse
import os
import signal
import statistics
import subprocess
import sys
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import e2e_harness as harness  # noqa: E402


def one_launch(env, driver, wine_run, program, caption, log_path):
    """Seconds from launch to the field's text, or None when it did not come."""
    driver["process"].stdin.write(f"waitready 30000 1037 {caption}\n".encode())
    driver["process"].stdin.flush()
    with open(log_path, "w") as log:
        start = time.monotonic()
        process = subprocess.Popen([wine_run, program], env=env, stdout=log, stderr=log)
        answer = harness.read_line(driver, 60, f"waitready {caption}")
        elapsed = time.monotonic() - start
    closed = harness.drive(driver, f"close 10000 {caption}")
    try:
        process.wait(timeout=20)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
    if not answer.startswith("ready") or not closed.startswith("closed"):
        print(f"  {caption}: {answer} / {closed}", flush=True)
        return None
    return elapsed


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--windows-build", required=True)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--display", type=int, default=74)
    args = parser.parse_args()
    if not os.path.isfile(os.path.join(os.environ.get("WINEPREFIX", "/nonexistent"), "system.reg")):
        print("WINEPREFIX must name a prefix made by tools/wine/make-prefix.sh", file=sys.stderr)
        return 2
    build = os.path.abspath(args.windows_build)
    programs = [("varnolt.exe", os.path.join(build, "app", "varnolt.exe"), "varnolt.example"),
                ("minimal dialog", os.path.join(build, "tests", "e2e", "e2e_minimal_dialog.exe"),
                 "e2e-minimal.example")]
    work = os.path.join(build, "measure-startup")
    os.makedirs(work, exist_ok=True)
    wine_run = os.path.join(ROOT, "tools", "wine", "wine-run.sh")
    xvfb, display = harness.start_xvfb(args.display, os.path.join(work, "xvfb.log"))
    env = dict(os.environ, WINEARCH="win32", WINEDEBUG="-all", DISPLAY=display)
    harness.restart_wineserver(env, wine_run, work)
    driver = harness.driver_start(wine_run, os.path.join(build, "tests", "e2e", "e2e_panel_driver.exe"),
                                  env, work)
    times = {name: [] for name, _, _ in programs}
    load_before = os.getloadavg()[0]
    try:
        for run in range(args.runs + 1):
            for name, program, caption in programs:
                elapsed = one_launch(env, driver, wine_run, program, caption,
                                     os.path.join(work, f"{name.replace(' ', '-')}-{run}.log"))
                label = "warm-up" if run == 0 else f"run {run}"
                print(f"{name:15s} {label:8s} {elapsed * 1000:7.1f} ms" if elapsed is not None
                      else f"{name:15s} {label:8s} failed", flush=True)
                if run > 0 and elapsed is not None:
                    times[name].append(elapsed)
    finally:
        harness.driver_stop(driver)
        xvfb.send_signal(signal.SIGTERM)
        xvfb.wait()
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
