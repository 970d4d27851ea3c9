#!/usr/bin/env python3
"""Processor time of varnolt.exe under Wine over 10 s idle, per thread and for the whole process,
beside the prefix's wineserver: unconnected, connected to the virtual generator (through the rig,
with the pty shim preloaded), and after a lost link (the generator hung up while running).

Threads are read from /proc/PID/task: utime + stime in clock ticks. The process's first thread is
the program's main thread; every thread is listed with its name and when it started, so that the
part of Wine's own threads (such as its wait for serial events, new with CONNECT) can be told.

Usage: e2e-cpu.py [--windows-build DIR] --native-build DIR [--seconds 10]
Runs the build this host runs unless one is named, in WINEPREFIX or a prefix of the measurements'
own (windows_build.sh); its first line names the build and the Wine.
"""

import argparse
import os
import sys
import time

import windows_build

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "rig"))
import panel  # noqa: E402
from process import TICKS, read_stat  # noqa: E402

def thread_times(pid):
    threads = {}
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            threads[int(tid)] = read_stat(f"/proc/{pid}/task/{tid}/stat")
        except (OSError, ValueError):
            pass
    return threads


def wineserver_pid(prefix):
    """The wineserver of this prefix: its working folder is server-<dev>-<inode> of the prefix."""
    info = os.stat(prefix)
    wanted = f"server-{info.st_dev:x}-{info.st_ino:x}"
    for entry in filter(str.isdigit, os.listdir("/proc")):
        try:
            if os.path.basename(os.readlink(f"/proc/{entry}/cwd")) == wanted and \
                    "wineserver" in os.readlink(f"/proc/{entry}/exe"):
                return int(entry)
        except OSError:
            continue
    return None


def measure(title, pid, server, seconds):
    """Prints each thread's share of a core over the window, the process's and the server's."""
    before = thread_times(pid)
    process_before = read_stat(f"/proc/{pid}/stat")["cpu"]
    server_before = read_stat(f"/proc/{server}/stat")["cpu"] if server else 0
    time.sleep(seconds)
    after = thread_times(pid)
    process_start = read_stat(f"/proc/{pid}/stat")["start"]
    print(f"{title}, {seconds:.0f} s:")
    for tid, info in sorted(after.items()):
        used = info["cpu"] - before.get(tid, {"cpu": 0})["cpu"]
        role = "main thread" if tid == pid else "new in this window" if tid not in before else ""
        print(f"  tid {tid:7d} {info['name']:16s} +{(info['start'] - process_start) / TICKS:6.2f}s "
              f"{100.0 * used / TICKS / seconds:6.2f}% of a core  {role}")
    used = read_stat(f"/proc/{pid}/stat")["cpu"] - process_before
    print(f"  whole process: {used / TICKS:.2f} s of processor time, "
          f"{100.0 * used / TICKS / seconds:.2f}% of a core")
    if server:
        used = read_stat(f"/proc/{server}/stat")["cpu"] - server_before
        print(f"  wineserver: {100.0 * used / TICKS / seconds:.2f}% of a core")


def wait_status(session, wanted, timeout=10.0):
    deadline = time.monotonic() + timeout
    while True:
        status = session.ask("get 102").removeprefix("text ")
        if status == wanted or time.monotonic() > deadline:
            return status
        time.sleep(0.05)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--windows-build", help="default: the build this host runs")
    parser.add_argument("--native-build", required=True)
    parser.add_argument("--seconds", type=float, default=10.0)
    args = parser.parse_args()
    build = windows_build.choose(args.windows_build)
    prefix = os.environ["WINEPREFIX"]
    work = os.path.join(build, "measure-cpu")
    os.makedirs(work, exist_ok=True)
    # A display, the prefix's server on it, the fake USB device and the generator.
    session = panel.Session(work, os.path.join(build, "tests", "e2e", "e2e_panel_driver.exe"),
                            args.native_build)
    program = None
    try:
        # wine-run.sh and wine exec: the process started is the one that runs varnolt.exe.
        program = session.start_program(os.path.join(build, "app", "varnolt.exe"), "program.err")
        if not session.ask("wait 102 30000", timeout=60).startswith("ready"):
            print("the panel did not come up", file=sys.stderr)
            return 1
        pid, server = program.pid, wineserver_pid(prefix)
        time.sleep(1.0)  # start-up's own work is not idling
        measure(f"unconnected, idle (pid {pid})", pid, server, args.seconds)
        session.ask_ok("click 1008")
        print(f"CONNECT: {wait_status(session, 'Device is connected as COM5')}")
        time.sleep(1.0)
        measure("connected, idle", pid, server, args.seconds)
        session.ask_ok("click 1012")
        print(f"START: {wait_status(session, 'Device is RUNNING!')}")
        session.stop_generator()  # a hang-up while running
        print(f"hang-up: {wait_status(session, 'Device NOT connected->Connection lost')}")
        time.sleep(1.0)
        measure("after a lost link, idle", pid, server, args.seconds)
        session.ask("close")
        program.wait(timeout=20)
    finally:
        if program is not None and program.poll() is None:
            program.kill()
            program.wait()
        session.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
