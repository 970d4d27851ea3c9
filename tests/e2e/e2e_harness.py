#!/usr/bin/env python3
"""End-to-end tests of varnolt.exe, started by tools/run.sh, under Wine and Xvfb on the virtual
generator (rig/panel.py): xdotool clicks, panel_driver.cpp reads, screenshots. Exit 1: a check
failed; 2: no rig. Usage: e2e_harness.py SCENARIO VARNOLT_EXE DRIVER_EXE NATIVE_BUILD WORK_FOLDER"""

import os
import re
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "rig"))
import panel  # noqa: E402
from panel import SetupError  # noqa: E402
import rig  # noqa: E402 (tests/, through panel)
from rig.generator import DeviceTree, dry_run  # noqa: E402

GREY, BLACK, RED = (224, 224, 224), (0, 0, 0), (255, 0, 0)
failures = []


def check(condition, what, detail):
    print(f"PASS: {what}" if condition else f"FAIL: {what} ({detail})", flush=True)
    if not condition:
        failures.append(what)


def check_equal(actual, expected, what):
    check(actual == expected, what, f"expected {expected!r}, got {actual!r}")


def wait_for(read, expected, timeout=5.0):
    deadline = time.monotonic() + timeout
    while True:
        value = read()
        if value == expected or time.monotonic() > deadline:
            return value
        time.sleep(0.05)


def text(ctx, control_id):
    return ctx["rig"].ask(f"get {control_id}").removeprefix("text ")


def check_shows(ctx, control_id, expected, what):
    check_equal(wait_for(lambda: text(ctx, control_id), expected), expected, what)


def xdotool(ctx, *args):
    subprocess.run(["xdotool", *args], env=ctx["env"], check=True, timeout=10)


def click(ctx, control_id, height_fraction=0.5):
    rect = ctx["rig"].ask_ok(f"rect {control_id}")
    left, top, right, bottom = (int(v) for v in rect.split()[1:])
    xdotool(ctx, "mousemove", str((left + right) // 2),
            str(top + int((bottom - top) * height_fraction)), "click", "1")


def choose(ctx, list_id, entry):
    click(ctx, list_id)
    time.sleep(0.3)
    xdotool(ctx, "key", *(["Down"] * entry), "Return")


def picture(ctx):
    """A screenshot's rows of the picture, x 18 to 737 and y 122 to 379 of the panel's client area,
    readout fields included."""
    data = subprocess.run(["import", "-display", ctx["env"]["DISPLAY"], "-window", "root", "-depth",
                           "8", "ppm:-"], check=True, capture_output=True, timeout=30).stdout
    header = re.match(rb"P6\s+(\d+)\s+\d+\s+255\s", data)
    if header is None:
        raise SetupError("import did not give an 8-bit PPM")
    with open(os.path.join(ctx["work"], "last-screenshot.ppm"), "wb") as last:
        last.write(data)  # for a look after a failed check
    left, top = (int(v) for v in ctx["rig"].ask_ok("rect 0").split()[1:3])
    width = int(header.group(1))
    starts = (header.end() + ((top + y) * width + left + 18) * 3 for y in range(122, 380))
    return [data[start:start + 720 * 3] for start in starts]


def pixel(rows, x, y):
    return tuple(rows[y - 122][(x - 18) * 3:(x - 18) * 3 + 3])


def settled_picture(ctx):
    """Screenshots 0.2 s apart until two agree: Wine shows a drawing a little after it is made."""
    previous = None
    for _ in range(25):
        time.sleep(0.2)
        rows = picture(ctx)
        if rows == previous:
            return rows
        previous = rows
    raise SetupError("the picture did not settle")


def check_same_picture(before, after, what):
    changed = sum(1 for a, b in zip(before, after) for i in range(0, len(a), 3) if a[i:i + 3] != b[i:i + 3])
    check(changed == 0, what, f"{changed} pixels of the picture changed")


def program_start(ctx):
    """run.sh --device auto; twice, as Wine now and then fails with error 1400."""
    for attempt in (1, 2):
        err_path = ctx["err_path"] = os.path.join(ctx["work"], f"program-{attempt}.err")
        run_sh = ["bash", panel.ROOT + "/tools/run.sh", "--device", "auto"]
        ctx["program"] = subprocess.Popen(run_sh, env=ctx["run_env"], stdout=open(err_path, "w"),
                                          stderr=subprocess.STDOUT, start_new_session=True)
        # run.sh restarts the prefix's server, which ends every program of the prefix: the driver
        # starts once the panel is on its way.
        wait_for(lambda: "run: starting" in open(err_path).read(), True, timeout=120)
        ctx["rig"].start_driver()
        if ctx["rig"].ask("wait 102 20000", timeout=40).startswith("ready"):
            return
        program_kill(ctx)
    raise SetupError("the panel did not come up twice in a row")


def program_kill(ctx):
    process = ctx.get("program")
    if process is not None and process.poll() is None:
        os.killpg(process.pid, signal.SIGTERM)  # run.sh and its wine: its trap cleans up
        process.wait(timeout=30)


def received(ctx):
    return ctx["rig"].generator.received()


def scenario_startup(ctx):
    with open(os.path.join(panel.ROOT, "res", "list_texts.h")) as texts:
        entries = re.findall(r'#define VARNOLT_TEXT_(\w+) "(.*)"', texts.read())
    waves = [entry for name, entry in entries if not name.startswith(("SPW", "J"))]
    rates = [entry for name, entry in entries if name.startswith("SPW")]
    check_equal([ctx["rig"].ask("list 1013"), ctx["rig"].ask("list 1014")],
                ["list 0 " + "|".join(waves), "list 0 " + "|".join(rates)],
                "the two lists in the order of res/list_texts.h, the first entries chosen")
    check_equal([ctx["rig"].ask(f"check {i}") for i in (1032, 1033, 1034, 1035)],
                ["check 1", "check 0", "check 0", "check 0"], "jumper J1 on, the others off")
    texts = {102: "Hi there :)", 1012: "START", 1029: "50", 1015: "1000.", 1020: "0.", 1023: "6.6",
             1028: "3.3", 1030: "0.", 1036: "-3.3", 1037: "T=1.ms"}
    # The readouts come from the start-up's drawing (its pixels: draw_preview_win32_test).
    check_equal({i: text(ctx, i) for i in texts}, texts, "start-up texts")
    click(ctx, 1007)
    check_equal(wait_for(lambda: ctx["rig"].ask("about 1038"), "text 0.1"), "text 0.1",
                "? opens the About box, version 0.1")
    xdotool(ctx, "key", "Return")
    time.sleep(0.7)
    check_equal(ctx["rig"].ask("about 1038"), "text 0.1", "Enter leaves the About box open")
    xdotool(ctx, "key", "Escape")
    check_equal(wait_for(lambda: ctx["rig"].ask("about 1038"), "none"), "none", "Escape closes it")
    # Every panel here is started by run.sh --device auto, on the generator of the device tree.
    bits, why = {"win32": ("32", "this machine runs 32-bit programs"),
                 "win64": ("64", "this machine runs no 32-bit programs (exec of an i386 program: "
                                 "Exec format error)")}[ctx["env"]["WINEARCH"]]
    said = [line for line in open(ctx["err_path"]).read().splitlines() if "-bit panel" in line]
    check_equal(said, [f"run: the {bits}-bit panel ({why})"], "run.sh says which panel it started")


def scenario_controls(ctx):
    choose(ctx, 1013, 1)
    # At duty 50 samples 0..179 are low (y 379) and 180..359 high (y 122); at 51 the high part
    # starts at sample 176. Sample 177 is drawn at x 195.
    for fraction, duty, high, low in ((0.75, "51", RED, GREY), (0.25, "50", BLACK, RED)):
        click(ctx, 1031, fraction)
        check_shows(ctx, 1029, duty, f"duty arrow click: field {duty}")
        rows = settled_picture(ctx)
        points = ((195, 122), (195, 379), (555, 122), (555, 379))
        check_equal([pixel(rows, x, y) for x, y in points], [high, low, high, low],
                    f"duty {duty}: the square wave's sample 177")
    # The random wave's picture is drawn from its table, not a new one: Enter (the dialog's
    # default button) and a repaint leave it as it was.
    choose(ctx, 1013, 4)
    check_shows(ctx, 1013, "Random Wave", "random wave chosen")
    before = settled_picture(ctx)
    xdotool(ctx, "key", "Return")
    time.sleep(0.5)
    check_same_picture(before, settled_picture(ctx), "Enter leaves the random wave's picture")
    choose(ctx, 1014, 4)
    check_shows(ctx, 1037, "T=66.67\u00b5s", "24SPW chosen: the period")
    check_equal(text(ctx, 1015), "15000.", "24SPW: Frq")
    click(ctx, 1033)
    check_shows(ctx, 1023, "4.95", "jumper J2: Vpp 4.95")
    check_equal([ctx["rig"].ask(f"check {i}") for i in (1032, 1033)], ["check 0", "check 1"],
                "jumper J2: J2 on, J1 off")
    click(ctx, 1017)
    check_shows(ctx, 1015, "15151.515", "frequency + at 24SPW: code 99, 15151.515")


def scenario_link(ctx):
    stopped = settled_picture(ctx)
    connect_and_start(ctx, "link")
    check_equal(text(ctx, 1012), "STOP", "START: the button reads STOP")
    ctx["rig"].ask_ok("redraw")
    check_same_picture(stopped, settled_picture(ctx), "running: a repaint keeps the red trace")
    click(ctx, 1012)
    check_shows(ctx, 102, "Device is STOPPED!", "STOP: the generator's 0xAA shows")
    check_equal([received(ctx)[14:], text(ctx, 1012)], [["aa"], "START"],
                "STOP: the byte AA alone, the button reads START")
    click(ctx, 1012)
    check_shows(ctx, 102, "Device is RUNNING!", "START again")
    ctx["rig"].stop_generator()  # a hang-up while running
    check_shows(ctx, 1012, "START", "hang-up: the button reads START")
    ctx["rig"].start_generator()  # back on the same COM port
    click(ctx, 1012)
    time.sleep(0.5)
    check_equal([received(ctx), text(ctx, 1012)], [[], "START"],
                "START with no link: nothing sent, the button still reads START")
    connect_and_start(ctx, "after the reconnect")
    xdotool(ctx, "key", "alt+F4")
    check_equal(wait_for(ctx["program"].poll, 0, timeout=15), 0,
                "closing the panel: run.sh ends with it, exit code 0")


def connect_and_start(ctx, what):
    """CONNECT, then START at the defaults: the 14 writes that varnoltctl start --dry-run prints."""
    click(ctx, 1008)
    check_shows(ctx, 102, "Device is connected as COM5", f"{what}: CONNECT")
    click(ctx, 1012)
    check_shows(ctx, 102, "Device is RUNNING!", f"{what}: START, the generator's 0x55 shows")
    wait_for(lambda: len(received(ctx)) >= 14, True)
    check_equal(received(ctx), dry_run(), f"{what}: START, the writes of start --dry-run")


def device_tree(ctx):
    """run.sh's environment: a sysfs tree with ttyACM0 (1209:7A3C) on the generator's pty."""
    tree = DeviceTree()
    tree.make_tree(os.path.join(ctx["work"], "tree"), ctx["env"])
    tree.tty("ttyACM0", "usb1/1-2/1-2:1.0", ("1209", "7a3c"), "SN0001")
    os.symlink(ctx["rig"].generator.pty, tree.path("dev/ttyACM0"))
    run_env = dict(tree.env, VARNOLT_RUN_DIR=ctx["work"] + "/run",
                   VARNOLT_RUN_PREFIX=os.environ["WINEPREFIX"],
                   VARNOLT_RUN_NATIVE_BUILD=ctx["env"]["RIG_NATIVE_BUILD"], VARNOLT_RUN_EXE=ctx["exe"])
    if ctx["env"]["WINEARCH"] == "win64":
        # run.sh takes the 64-bit panel only where an i386 probe cannot run: a bare ELF header.
        probe = os.path.join(ctx["work"], "not-runnable-probe")
        with open(probe, "wb") as probe_file:
            probe_file.write(b"\x7fELF\x01\x01\x01" + bytes(57))
        os.chmod(probe, 0o755)
        run_env["VARNOLT_I386_PROBE"] = probe
    return run_env


SCENARIOS = {name[9:]: run for name, run in globals().items() if name.startswith("scenario_")}


def main():
    scenario, program, driver, native_build, work = sys.argv[1:]
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))  # a time-out still cleans up
    work = os.path.abspath(work)
    subprocess.run(["rm", "-rf", work], check=True)
    os.makedirs(work)
    ctx = {"work": work, "exe": os.path.abspath(program)}
    code = 0
    try:
        ctx["rig"] = panel.Session(work, os.path.abspath(driver), native_build)
        ctx["env"] = ctx["rig"].env
        rig.TOOL, rig.GENERATOR = rig.built_programs(ctx["env"]["RIG_NATIVE_BUILD"])
        ctx["run_env"] = device_tree(ctx)
        program_start(ctx)
        SCENARIOS[scenario](ctx)
    except SetupError as error:
        print(f"SETUP FAILED: {error}", flush=True)
        code = 2
    finally:
        program_kill(ctx)
        if "rig" in ctx:
            ctx["rig"].close()
    print(f"{scenario}: {len(failures)} failed", flush=True)
    return code or (1 if failures else 0)


if __name__ == "__main__":
    sys.exit(main())
