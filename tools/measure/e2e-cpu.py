#!/usr/bin/env python3
"""Processor time of an idle varnolt.exe under Wine, per thread, over 10 s: unconnected, then
connected to the virtual generator (through the rig, with the pty shim preloaded), beside the
prefix's wineserver.

Threads are read from /proc/PID/task: utime + stime in clock ticks. The process's first thread is
the program's main thread; a thread that appears with CONNECT is Wine's (the program starts none
then: its receiver exists from start-up), and is where Wine waits for serial events on the pty.
Every thread is listed with its name and when it started, so the attribution can be checked.

Usage: e2e-cpu.py --windows-build DIR --native-build DIR [--seconds 10]
"""

import argparse
import os
import signal
import subprocess
import sys
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import e2e_harness as harness  # noqa: E402

TICKS = os.sysconf("SC_CLK_TCK")


def read_stat(path):
    with open(path) as stat:
        text = stat.read()
    # The name may hold spaces and parentheses: split after the last ")".
    name = text[text.index("(") + 1:text.rindex(")")]
    fields = text[text.rindex(")") + 2:].split()
    # fields[0] is field 3 (state); utime is field 14, stime 15, starttime 22.
    return {"name": name, "cpu": int(fields[11]) + int(fields[12]), "start": int(fields[19])}


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
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            if os.path.basename(os.readlink(f"/proc/{entry}/cwd")) == wanted and \
                    "wineserver" in os.readlink(f"/proc/{entry}/exe"):
                return int(entry)
        except OSError:
            continue
    return None


def program_pid(launcher_pid):
    """wine-run.sh execs wine, which execs the loader: the launcher's pid ends up running
    varnolt.exe; its children are searched too, in case a wrapper forked."""
    candidates = [launcher_pid]
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open(f"/proc/{entry}/stat") as stat:
                    text = stat.read()
                if int(text[text.rindex(")") + 2:].split()[1]) == launcher_pid:
                    candidates.append(int(entry))
            except (OSError, ValueError):
                continue
    for pid in candidates:
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as cmdline:
                if b"varnolt.exe" in cmdline.read():
                    return pid
        except OSError:
            continue
    return None


def measure(pid, server, seconds):
    before = thread_times(pid)
    server_before = read_stat(f"/proc/{server}/stat")["cpu"] if server else None
    time.sleep(seconds)
    after = thread_times(pid)
    server_after = read_stat(f"/proc/{server}/stat")["cpu"] if server else None
    usage = {}
    for tid, info in after.items():
        start_cpu = before[tid]["cpu"] if tid in before else 0
        usage[tid] = (info, 100.0 * (info["cpu"] - start_cpu) / TICKS / seconds)
    server_usage = None if server is None else 100.0 * (server_after - server_before) / TICKS / seconds
    return usage, server_usage


def report(title, pid, usage, server_usage, known_before_connect, process_start):
    print(f"{title}:")
    program_total = 0.0
    from_start = [tid for tid in usage if tid != pid and
                  (known_before_connect is None or tid in known_before_connect)]
    for tid in sorted(usage):
        info, percent = usage[tid]
        if tid == pid:
            role = "program: main thread"
        elif tid in from_start and len(from_start) == 1:
            role = "program: receiver thread (the only other thread since start-up)"
        elif tid in from_start:
            role = "since start-up: the program's receiver or a Wine service thread"
        else:
            role = "new with CONNECT: Wine's serial event wait"
        if known_before_connect is None or tid in known_before_connect:
            program_total += percent
        started = (info["start"] - process_start) / TICKS
        print(f"  tid {tid:7d} {info['name']:16s} +{started:5.2f}s {percent:6.2f}% of a core  {role}")
    print(f"  threads from start-up together: {program_total:.2f}% of a core")
    if server_usage is not None:
        print(f"  wineserver: {server_usage:.2f}% of a core")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--windows-build", required=True)
    parser.add_argument("--native-build", required=True)
    parser.add_argument("--seconds", type=float, default=10.0)
    parser.add_argument("--display", type=int, default=75)
    args = parser.parse_args()
    prefix = os.environ.get("WINEPREFIX", "")
    if not os.path.isfile(os.path.join(prefix, "system.reg")):
        print("WINEPREFIX must name a prefix made by tools/wine/make-prefix.sh", file=sys.stderr)
        return 2
    build = os.path.abspath(args.windows_build)
    work = os.path.join(build, "measure-cpu")
    os.makedirs(work, exist_ok=True)
    wine_run = os.path.join(ROOT, "tools", "wine", "wine-run.sh")
    xvfb, display = harness.start_xvfb(args.display, os.path.join(work, "xvfb.log"))
    env = dict(os.environ, WINEARCH="win32", WINEDEBUG="-all", DISPLAY=display)
    harness.restart_wineserver(env, wine_run, work)
    shell = None
    driver = None
    program = None
    try:
        shell = harness.rig_shell_start(ROOT, os.path.abspath(args.native_build), env, work)
        harness.rig_run(shell, "rig_remove_devices")
        harness.rig_run(shell, f"rig_add_device 'VID_1209&PID_7A3C' SN0001 '{harness.HARDWARE_IDS}' COM5")
        harness.rig_run(shell, f"rig_start_generator '{os.path.join(work, 'generator')}'")
        env["LD_PRELOAD"] = harness.rig_run(shell, 'printf "%s\\n" "$LD_PRELOAD"')[0]
        driver = harness.driver_start(wine_run, os.path.join(build, "tests", "e2e", "e2e_panel_driver.exe"),
                                      env, work)
        log = open(os.path.join(work, "program.err"), "w")
        program = subprocess.Popen([wine_run, os.path.join(build, "app", "varnolt.exe")], env=env,
                                   stdout=log, stderr=log)
        answer = harness.drive(driver, "wait 20000", timeout=40)
        if not answer.startswith("ok wait"):
            print(f"the panel did not come up: {answer}", file=sys.stderr)
            return 1
        pid = program_pid(program.pid)
        server = wineserver_pid(prefix)
        process_start = read_stat(f"/proc/{pid}/stat")["start"]
        time.sleep(1.0)  # start-up's own work is not idling
        usage, server_usage = measure(pid, server, args.seconds)
        report(f"unconnected, idle {args.seconds:.0f} s (pid {pid})", pid, usage, server_usage, None,
               process_start)
        known = set(thread_times(pid))
        print(f"CONNECT: {harness.get_status(driver) if harness.drive(driver, 'click 1008') else ''}")
        time.sleep(1.0)
        usage, server_usage = measure(pid, server, args.seconds)
        report(f"connected, idle {args.seconds:.0f} s", pid, usage, server_usage, known, process_start)
        harness.drive(driver, "close 10000")
        program.wait(timeout=20)
    finally:
        if program is not None and program.poll() is None:
            program.kill()
            program.wait()
        if driver is not None:
            harness.driver_stop(driver)
        if shell is not None:
            harness.rig_shell_stop(shell)
        xvfb.send_signal(signal.SIGTERM)
        xvfb.wait()
    return 0


if __name__ == "__main__":
    sys.exit(main())
