#!/usr/bin/env python3
"""End-to-end tests of varnolt.exe: the real program under Wine on its own Xvfb display, attached
to the virtual generator through the rig (tools/wine/rig.sh), driven from outside by
panel_driver.exe in the same prefix, checked through the driver's answers, the generator's log and
screenshots of the display.

One scenario per run (--scenario): startup, controls, link, about. Every check prints one line,
PASS or FAIL; the run exits 1 when any check failed and 2 when the rig could not be set up.
Whatever happens, the program, the driver, the generator, the fake device and the display are
cleaned up before it exits.

Needs: WINEPREFIX naming a prefix made by tools/wine/make-prefix.sh, Xvfb and ImageMagick's import.
"""

import argparse
import json
import math
import os
import select
import shutil
import signal
import subprocess
import sys
import time
from decimal import ROUND_HALF_UP, Decimal

CAPTION = "varnolt.example"
GREY = (224, 224, 224)
BLACK = (0, 0, 0)
RED = (255, 0, 0)
GREEN = (0, 255, 0)
HARDWARE_IDS = "USB\\VID_1209&PID_7A3C&REV_0100\\0USB\\VID_1209&PID_7A3C"

# Template 101 in dialog units (x, y, width, height) for every control with an id; the panel is
# laid out at 2 pixels per dialog unit. Combo boxes keep their closed height, so only their x, y
# and width are compared.
PANEL_LAYOUT = {
    1007: (355, 7, 15, 12), 1008: (284, 7, 69, 12), 1012: (253, 21, 117, 37),
    1013: (7, 7, 82, None), 1014: (90, 7, 85, None), 1015: (19, 32, 40, 12),
    1016: (7, 18, 31, 14), 1017: (37, 18, 31, 14), 1018: (7, 44, 31, 14), 1019: (38, 44, 31, 14),
    1020: (89, 32, 40, 12), 1021: (89, 18, 40, 14), 1022: (89, 44, 40, 14),
    1023: (158, 32, 40, 12), 1024: (148, 18, 31, 14), 1025: (178, 18, 31, 14),
    1026: (147, 44, 31, 14), 1027: (178, 44, 31, 14), 1029: (213, 7, 16, 12),
    1031: (229, 7, 8, 12), 1032: (212, 23, 33, 8), 1033: (212, 32, 33, 8),
    1034: (212, 41, 33, 8), 1035: (212, 50, 33, 8), 1028: (334, 61, 36, 12),
    1030: (334, 120, 36, 12), 1036: (334, 177, 36, 12), 1037: (189, 120, 36, 12),
}
READOUT_IDS = (1028, 1030, 1036, 1037)
WAVEFORM_TEXTS = ["Sine Wave", "Square Wave", "Triangle Wave", "Saw Tooth Wave",
                  "Reversed Saw Wave", "Random Wave", "Zero Calibration"]
SPW_TEXTS = ["360SPW ->14kHz max", "180SPW ->28kHz max", "90SPW ->56kHz max",
             "45SPW ->112kHz max", "24SPW ->200kHz max"]


class SetupError(Exception):
    """The rig could not be brought up; not a failed check."""


# ---------------------------------------------------------------------------------------------
# Results

results = {"passed": 0, "failed": 0}


def check(condition, what, detail=""):
    if condition:
        results["passed"] += 1
        print(f"PASS: {what}", flush=True)
    else:
        results["failed"] += 1
        print(f"FAIL: {what}" + (f" ({detail})" if detail else ""), flush=True)
    return condition


def check_equal(actual, expected, what):
    return check(actual == expected, what, f"expected {expected!r}, got {actual!r}")


# ---------------------------------------------------------------------------------------------
# Expected values, computed as the program must compute them (IEEE doubles, one operation at a
# time), and its one number-to-text rule.

SPW_OF_INDEX = {0: 360, 1: 180, 2: 90, 3: 45, 4: 24}
GAIN_OF_JUMPER = {0: 2.0, 1: 1.5, 2: 1.0, 3: 0.5}
STEP_OF_SPW = {0: 1, 1: 2, 2: 4, 3: 8, 4: 15}


def format_significant(value, digits):
    """The text _gcvt_s gives on Windows: n significant digits, halfway away from zero,
    exponential form below 1e-1 or from 10^digits on, trailing zeros dropped, the point kept."""
    if value == 0.0:
        return "0."
    exact = Decimal(value)
    negative = exact < 0
    exact = abs(exact)
    exponent = exact.adjusted()
    rounded = exact.quantize(Decimal(1).scaleb(exponent - digits + 1), rounding=ROUND_HALF_UP)
    exponent = rounded.adjusted()
    sign = "-" if negative else ""
    if exponent < -1 or exponent > digits - 1:
        mantissa = rounded.scaleb(-exponent).quantize(Decimal(1).scaleb(-(digits - 1)))
        text = format(mantissa, "f")
        if "." not in text:
            text += "."
        text = text.rstrip("0")
        return f"{sign}{text}e{'-' if exponent < 0 else '+'}{abs(exponent):03d}"
    text = format(rounded.quantize(Decimal(1).scaleb(-(digits - 1 - exponent))), "f")
    if "." not in text:
        text += "."
    return sign + text.rstrip("0")


def frequency_from_code(code, spw_index):
    return 72000000.0 / ((code * 2.0) * SPW_OF_INDEX.get(spw_index, 1))


def offset_from_code(code, jumper):
    gain = GAIN_OF_JUMPER.get(jumper, 2.0)
    step = 3.3 / 63
    if code >= 31:
        return ((code - 31.0) * step) * gain
    return ((31.0 - code) * (-step)) * gain


def amplitude_from_code(code, jumper):
    return ((3.3 / 32767) * GAIN_OF_JUMPER.get(jumper, 2.0)) * code


def period_text(code, spw_index):
    period = 1.0 / frequency_from_code(code, spw_index)
    text = None
    if 0.001 <= period < 1:
        period = period * 1000
        text = "T=" + format_significant(period, 4) + "ms"
    if 0.000001 <= period < 0.001:
        period = period * 1000000
        text = "T=" + format_significant(period, 4) + "\u00b5s"
    return text


def expected_fields(state):
    """Texts of the three setting fields and the four readouts for a settings state."""
    offset = offset_from_code(state["offset"], state["jumper"])
    vpp = amplitude_from_code(state["amplitude"], state["jumper"])
    return {
        1015: format_significant(frequency_from_code(state["frequency"], state["spw"]), 8),
        1020: format_significant(offset, 3),
        1023: format_significant(vpp, 3),
        1028: format_significant(vpp / 2.0 + offset, 3),
        1030: format_significant(offset, 3),
        1036: format_significant(offset - vpp / 2.0, 3),
        1037: period_text(state["frequency"], state["spw"]),
    }


def wave_table(waveform, amplitude, duty):
    """The 360 samples of one period; None for the random wave (its generator is the program's)."""
    a = amplitude
    if waveform == 0:
        return [int(a * math.sin((i * 3.14159265) / 180.0) + 32767.0) & 0xFFFF for i in range(360)]
    if waveform == 1:
        product = (100 - duty) * 360
        low_count = product // 100 if product >= 0 else -(-product // 100)  # C's truncation
        return [(32767 - a) if i < low_count else (a + 32767) for i in range(360)]
    if waveform == 2:
        k = (a * 2.0) / 179.0
        rising = [int((32767 - a) + k * i) for i in range(180)]
        falling = [int(((a + 32767) - k * (i - 180.0)) + 1.0) for i in range(180, 360)]
        return rising + falling
    if waveform == 3:
        k = (a * 2.0) / 359.0
        return [int((32767 - a) + k * i) for i in range(360)]
    if waveform == 4:
        k = (a * 2.0) / 359.0
        return [int((a + 32767) - k * i) for i in range(360)]
    if waveform == 6:
        return [32767] * 360
    return None


def frequency_band_step(code):
    return 1 if code <= 21 else 15 if code <= 261 else 255 if code <= 4101 else 4095


def step_frequency_up(code, coarse):
    result = (code - (frequency_band_step(code) if coarse else 1)) & 0xFFFF
    return 7 if result < 7 else result


def step_frequency_down(code, coarse):
    if not coarse:
        result = (code + 1) & 0xFFFF
    elif code <= 4101:
        result = code + frequency_band_step(code)
    else:
        result = (code + 4095) & 0xFFFF
        if result < 4095:
            result = 65535
    return 65535 if result < 7 else result


def step_offset_up(code):
    return 62 if code >= 62 else code + 1


def step_offset_down(code):
    return 0 if code == 0 else code - 1


def step_amplitude_up(code, coarse):
    result = (code + (1023 if coarse else 127)) & 0xFFFF
    return 32767 if result > 32767 else result


def step_amplitude_down(code, coarse):
    result = (code - (1023 if coarse else 127)) & 0xFFFF
    return 255 if result < 255 or result > 32767 else result


def sample_y(sample):
    return 122 + (65535 - sample) // 255


def line_pixels(x0, y0, x1, y1):
    """The pixels of LineTo from (x0, y0) to (x1, y1), the end point left out (Bresenham)."""
    pixels = []
    dx, dy = abs(x1 - x0), -abs(y1 - y0)
    sx = 1 if x0 < x1 else -1
    sy = 1 if y0 < y1 else -1
    error = dx + dy
    x, y = x0, y0
    while (x, y) != (x1, y1):
        pixels.append((x, y))
        doubled = 2 * error
        if doubled >= dy:
            error += dy
            x += sx
        if doubled <= dx:
            error += dx
            y += sy
    return pixels


def expected_preview(samples, spw_index, colour):
    """The preview as a list of (pixels, colour, flat) strokes in drawing order."""
    largest = max(samples)
    smallest = min(samples)
    if smallest == 0:
        smallest = 255
    strokes = []

    def polyline(points, stroke_colour):
        for (x0, y0), (x1, y1) in zip(points, points[1:]):
            strokes.append((line_pixels(x0, y0, x1, y1), stroke_colour, y0 == y1 or x0 == x1))

    polyline([(18, sample_y(largest)), (558, sample_y(largest)), (668, 122)], BLACK)
    polyline([(18, 250), (738, 250)], BLACK)
    polyline([(18, sample_y(smallest)), (558, sample_y(smallest)), (668, 378)], BLACK)
    step = STEP_OF_SPW.get(spw_index, 1)
    trace = [(18, sample_y(samples[0]))]
    trace += [(18 + i, sample_y(samples[i])) for i in range(0, 360, step)]
    trace += [(378 + i, sample_y(samples[i])) for i in range(0, 360, step)]
    polyline(trace, colour)
    return strokes


# ---------------------------------------------------------------------------------------------
# Screenshots

def take_screenshot(display):
    data = subprocess.run(["import", "-display", display, "-window", "root", "-depth", "8",
                           "ppm:-"], check=True, capture_output=True, timeout=30).stdout
    # P6 header: magic, width, height, maximum, each after whitespace, then one whitespace byte.
    fields = []
    position = 0
    while len(fields) < 4:
        while data[position:position + 1].isspace():
            position += 1
        start = position
        while not data[position:position + 1].isspace():
            position += 1
        fields.append(data[start:position])
    position += 1
    if fields[0] != b"P6" or fields[3] != b"255":
        raise SetupError("import did not give a binary 8-bit PPM")
    return {"width": int(fields[1]), "height": int(fields[2]), "pixels": data[position:]}


def pixel_at(image, x, y):
    offset = (y * image["width"] + x) * 3
    return tuple(image["pixels"][offset:offset + 3])


def compare_preview(image, origin, strokes, masked_rects, trace_colour):
    """Mismatches between the screenshot and the expected strokes, in client coordinates.
    Flat strokes must sit exactly; slanted ones may be one pixel off; every other pixel of the
    picture must be the grey field. The readout fields' rectangles are left out: they are child
    windows that paint over the picture."""
    ox, oy = origin

    def masked(x, y):
        return any(left <= x < right and top <= y < bottom
                   for left, top, right, bottom in masked_rects)

    expected = {}
    for pixels, colour, _ in strokes:
        for point in pixels:
            expected[point] = colour
    near = {}
    for (x, y), colour in expected.items():
        for ddx in (-1, 0, 1):
            for ddy in (-1, 0, 1):
                near.setdefault((x + ddx, y + ddy), set()).add(colour)
    problems = []
    # Every drawn pixel is explained by a stroke of its colour within one pixel.
    for y in range(122, 380):
        for x in range(18, 738):
            if masked(x, y):
                continue
            actual = pixel_at(image, ox + x, oy + y)
            if actual == GREY:
                continue
            if actual not in (BLACK, trace_colour):
                problems.append(f"({x},{y}) is {actual}, not grey, black or {trace_colour}")
            elif actual not in near.get((x, y), ()):
                problems.append(f"({x},{y}) is {actual} where nothing of that colour is drawn")
    # Every expected pixel is there: exactly on flat strokes (unless another stroke of another
    # colour passes within a pixel), within a pixel on slanted ones.
    for pixels, colour, flat in strokes:
        for x, y in pixels:
            if masked(x, y) or expected.get((x, y)) != colour:
                continue
            if flat and near[(x, y)] == {colour}:
                found = pixel_at(image, ox + x, oy + y) == colour
            else:
                found = any(pixel_at(image, ox + x + ddx, oy + y + ddy) == colour
                            for ddx in (-1, 0, 1) for ddy in (-1, 0, 1)
                            if 18 <= x + ddx < 738 and 122 <= y + ddy < 380)
            if not found:
                problems.append(f"({x},{y}) should be {colour}, is {pixel_at(image, ox + x, oy + y)}")
    return problems


# ---------------------------------------------------------------------------------------------
# Processes: the display, the rig shell, the program and the driver

def start_xvfb(preferred, log_path):
    """Xvfb on the preferred display, or on a free one when that is taken. Returns (process,
    display name)."""
    log = open(log_path, "w")
    number = preferred
    if os.path.exists(f"/tmp/.X{number}-lock"):
        read_end, write_end = os.pipe()
        process = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                                    "1024x768x24", "-nolisten", "tcp"],
                                   stdout=log, stderr=log, pass_fds=(write_end,))
        os.close(write_end)
        ready, _, _ = select.select([read_end], [], [], 15)
        text = os.read(read_end, 32).decode().strip() if ready else ""
        os.close(read_end)
        if not text:
            process.kill()
            raise SetupError("Xvfb gave no display number")
        number = int(text)
    else:
        process = subprocess.Popen(["Xvfb", f":{number}", "-screen", "0", "1024x768x24",
                                    "-nolisten", "tcp"], stdout=log, stderr=log)
    deadline = time.monotonic() + 15
    while not os.path.exists(f"/tmp/.X11-unix/X{number}"):
        if process.poll() is not None or time.monotonic() > deadline:
            raise SetupError(f"Xvfb :{number} did not start (see {log_path})")
        time.sleep(0.05)
    time.sleep(0.2)
    return process, f":{number}"


def restart_wineserver(env, wine_run, work):
    """Restarts the prefix's server and makes its desktop on this run's display: Wine's desktop
    process keeps the display it was made on, and windows of a later program on another display
    are never made. The new server is persistent and detached from this run's pipes (a server
    that Wine starts on its own would take the generator's pty as its controlling terminal)."""
    quiet = {"stdin": subprocess.DEVNULL, "stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}
    subprocess.run(["wineserver", "-k"], env=env, timeout=60, **quiet)
    subprocess.run(["wineserver", "-w"], env=env, timeout=60, **quiet)
    with open(os.path.join(work, "wineserver.log"), "w") as log:
        subprocess.Popen(["wineserver", "-f", "-p"], env=env, stdin=subprocess.DEVNULL, stdout=log,
                         stderr=log, start_new_session=True)
    deadline = time.monotonic() + 30
    while subprocess.run([wine_run, "cmd", "/c", "exit", "0"], env=env, timeout=60,
                         **quiet).returncode != 0:
        if time.monotonic() > deadline:
            raise SetupError("the prefix's wineserver did not come back")
        time.sleep(0.2)


def rig_shell_start(source, native_build, env, work):
    """A bash that has sourced the rig library; commands go in through rig_run."""
    shell_env = dict(env)
    shell_env["RIG_NATIVE_BUILD"] = native_build
    process = subprocess.Popen(["bash", "--norc", "--noprofile"], stdin=subprocess.PIPE,
                               stdout=subprocess.PIPE, stderr=open(os.path.join(work, "rig.err"), "w"),
                               env=shell_env)
    shell = {"process": process, "buffer": b""}
    rig_run(shell, f"source '{os.path.join(source, 'tools', 'wine', 'rig.sh')}'")
    return shell


def read_line(holder, timeout, what):
    """One line from holder["process"]'s stdout, read unbuffered (select sees what is left)."""
    process = holder["process"]
    deadline = time.monotonic() + timeout
    while b"\n" not in holder["buffer"]:
        ready, _, _ = select.select([process.stdout], [], [], max(0.0, deadline - time.monotonic()))
        if not ready:
            raise SetupError(f"no answer to: {what}")
        chunk = os.read(process.stdout.fileno(), 65536)
        if not chunk:
            raise SetupError(f"ended during: {what}")
        holder["buffer"] += chunk
    line, holder["buffer"] = holder["buffer"].split(b"\n", 1)
    return line.decode("utf-8").rstrip("\r")


def rig_run(shell, command, timeout=60):
    """Runs one command in the rig shell; returns its output lines. Raises SetupError on failure."""
    marker = "__e2e_rig_done__"
    process = shell["process"]
    process.stdin.write(f"{command}\necho \"{marker} $?\"\n".encode())
    process.stdin.flush()
    lines = []
    while True:
        line = read_line(shell, timeout, f"rig command {command}")
        if line.startswith(marker):
            status = int(line.split()[1])
            if status != 0:
                raise SetupError(f"rig command failed ({status}): {command}")
            return lines
        lines.append(line)


def rig_shell_stop(shell):
    process = shell["process"]
    try:
        process.stdin.write(b"rig_stop_generator; rig_remove_devices; exit 0\n")
        process.stdin.flush()
        process.wait(timeout=60)
    except (OSError, subprocess.TimeoutExpired, ValueError):
        process.kill()
        process.wait()


def driver_start(wine_run, driver, env, work):
    process = subprocess.Popen([wine_run, driver], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               stderr=open(os.path.join(work, "driver.err"), "w"), env=env)
    return {"process": process, "buffer": b""}


def drive(driver, command, timeout=30):
    """Sends one command to the driver and returns its one answer line."""
    process = driver["process"]
    process.stdin.write((command + "\n").encode("utf-8"))
    process.stdin.flush()
    return read_line(driver, timeout, f"driver command {command}")


def driver_stop(driver):
    process = driver["process"]
    try:
        process.stdin.write(b"quit\n")
        process.stdin.flush()
        process.wait(timeout=15)
    except (OSError, subprocess.TimeoutExpired, ValueError):
        process.kill()
        process.wait()


def get_text(driver, control_id):
    answer = drive(driver, f"get {control_id}")
    prefix = f"text {control_id} "
    if answer.startswith(prefix):
        return answer[len(prefix):]
    if answer == f"text {control_id}":
        return ""
    return f"<{answer}>"


def get_status(driver):
    answer = drive(driver, "status")
    return answer[len("status "):] if answer.startswith("status ") else f"<{answer}>"


def get_check(driver, control_id):
    answer = drive(driver, f"check {control_id}").split()
    return int(answer[2]) if len(answer) == 3 and answer[0] == "check" else None


def get_rect(driver, control_id):
    answer = drive(driver, f"rect {control_id}").split()
    if len(answer) != 6 or answer[0] != "rect":
        return None
    return tuple(int(value) for value in answer[2:])


def get_origin(driver):
    answer = drive(driver, "origin").split()
    if len(answer) != 9 or answer[0] != "origin":
        raise SetupError(f"no client origin: {answer}")
    values = [int(value) for value in answer[1:]]
    return {"origin": (values[0], values[1]), "client": (values[2], values[3]),
            "window": tuple(values[4:8])}


def program_start(context):
    """Starts varnolt.exe and waits for its panel; one retry, since under Wine the dialog's
    creation fails now and then (error 1400)."""
    for attempt in (1, 2):
        log = open(os.path.join(context["work"], f"program-{attempt}.err"), "w")
        process = subprocess.Popen([context["wine_run"], context["program"]], env=context["env"],
                                   stdout=log, stderr=log)
        context["program_process"] = process
        answer = drive(context["driver"], "wait 20000", timeout=40)
        if answer.startswith("ok wait"):
            print(f"program started (attempt {attempt}, {answer.split()[2]} ms)", flush=True)
            return process
        print(f"start-up attempt {attempt} failed: {answer}", flush=True)
        program_kill(context)
    raise SetupError("the program did not start twice in a row")


def program_kill(context):
    process = context.get("program_process")
    if process is not None and process.poll() is None:
        process.kill()
        process.wait()
    context["program_process"] = None


def close_and_check_exit(context, what):
    answer = drive(context["driver"], "close 10000", timeout=20)
    check(answer.startswith("closed"), f"{what}: WM_CLOSE destroys the panel", answer)
    process = context["program_process"]
    try:
        code = process.wait(timeout=15)
    except subprocess.TimeoutExpired:
        code = None
    check_equal(code, 0, f"{what}: the process ends with exit code 0")
    context["program_process"] = None


# ---------------------------------------------------------------------------------------------
# Shared checks

def check_fields(driver, state, what, ids=(1015, 1020, 1023, 1028, 1030, 1036, 1037)):
    expected = expected_fields(state)
    for control_id in ids:
        check_equal(get_text(driver, control_id), expected[control_id],
                    f"{what}: field {control_id}")


def check_preview(context, samples, spw_index, colour, what, attempts=20):
    """Screenshots until the preview matches (Wine puts the drawing on the display a little
    after the handler returns) or the attempts are used up; reports the last mismatches."""
    driver = context["driver"]
    geometry = get_origin(driver)
    masked = []
    for control_id in READOUT_IDS:
        rect = get_rect(driver, control_id)
        if rect is not None:
            masked.append(rect)
    strokes = expected_preview(samples, spw_index, colour)
    problems = []
    for _ in range(attempts):
        image = take_screenshot(context["display"])
        context["last_image"] = image
        problems = compare_preview(image, geometry["origin"], strokes, masked, colour)
        if not problems:
            break
        time.sleep(0.1)
    return check(not problems, f"{what}: preview pixels",
                 f"{len(problems)} mismatches, first: {'; '.join(problems[:4])}")


def save_panel_png(context, path):
    geometry = get_origin(context["driver"])
    left, top, right, bottom = geometry["window"]
    subprocess.run(["import", "-display", context["display"], "-window", "root", "-crop",
                    f"{right - left}x{bottom - top}+{left}+{top}", "+repage", path],
                   check=True, timeout=30)


def default_state():
    return {"frequency": 100, "offset": 31, "amplitude": 32767, "duty": 50, "waveform": 0,
            "spw": 0, "jumper": 0}


# ---------------------------------------------------------------------------------------------
# Scenarios

def scenario_startup(context):
    driver = context["driver"]
    program_start(context)
    check_equal(drive(driver, "list 1013"), "list 1013 0 7 " + "|".join(WAVEFORM_TEXTS),
                "waveform list: 7 entries, Sine Wave selected")
    check_equal(drive(driver, "list 1014"), "list 1014 0 5 " + "|".join(SPW_TEXTS),
                "samples-per-wave list: 5 entries, 360SPW selected")
    check_equal(get_text(driver, 1013), "Sine Wave", "waveform list shows Sine Wave")
    check_equal(get_text(driver, 1014), "360SPW ->14kHz max", "samples-per-wave list shows 360SPW")
    check_equal([get_check(driver, i) for i in (1032, 1033, 1034, 1035)], [1, 0, 0, 0],
                "jumpers: J1 checked, J2..J4 not")
    check_equal(get_text(driver, 1029), "50", "duty field reads 50")
    check_equal(get_status(driver), "Hi there :)", "status bar reads Hi there :)")
    check_equal(get_text(driver, 1012), "START", "START/STOP button reads START")
    # The start-up texts, literally.
    for control_id, text in ((1015, "1000."), (1020, "0."), (1023, "6.6"), (1028, "3.3"),
                             (1030, "0."), (1036, "-3.3"), (1037, "T=1.ms")):
        check_equal(get_text(driver, control_id), text, f"start-up: field {control_id}")
    # Layout at 2 pixels per dialog unit.
    for control_id, (x, y, width, height) in sorted(PANEL_LAYOUT.items()):
        rect = get_rect(driver, control_id)
        if height is None:
            actual = rect[:3] if rect else None
            expected = (2 * x, 2 * y, 2 * (x + width))
        else:
            actual = rect
            expected = (2 * x, 2 * y, 2 * (x + width), 2 * (y + height))
        check_equal(actual, expected, f"layout: control {control_id} at 2 px per dialog unit")
    geometry = get_origin(driver)
    check_equal(geometry["client"][0], 2 * 377, "layout: client width 754 (377 dialog units)")
    check(geometry["client"][1] >= 380, "layout: client area holds the picture (380 px)",
          str(geometry["client"]))
    samples = wave_table(0, 32767, 50)
    check_preview(context, samples, 0, RED, "start-up: full sine, red while stopped")
    # Enter and Escape reach the panel as IDOK and IDCANCEL and do nothing.
    drive(driver, "key panel 13")
    drive(driver, "key panel 27")
    drive(driver, "sleep 500")
    answer = drive(driver, "origin")
    check(answer.startswith("origin"), "Enter and Escape do not close the panel", answer)
    check_fields(driver, default_state(), "after Enter and Escape")
    close_and_check_exit(context, "closing without a connection")


def scenario_controls(context):
    driver = context["driver"]
    program_start(context)
    state = default_state()

    def press(control_id, changes, literal=None, what=None):
        drive(driver, f"click {control_id}")
        state.update(changes)
        label = what or f"button {control_id}"
        check_fields(driver, state, label)
        if literal is not None:
            field_id, text = literal
            check_equal(get_text(driver, field_id), text, f"{label}: field {field_id} reads {text}")

    # Frequency steppers, from the default code 100 and back.
    press(1016, {"frequency": 85}, (1015, "1176.4706"), "+ + + (frequency up, coarse)")
    press(1018, {"frequency": 100}, (1015, "1000."), "- - - from 85 (band step 15)")
    press(1017, {"frequency": 99}, (1015, "1010.101"), "+ (frequency up, fine)")
    press(1019, {"frequency": 100}, (1015, "1000."), "- (frequency down, fine) from 99")
    press(1018, {"frequency": 115}, (1015, "869.56522"), "- - - (frequency down, coarse)")
    press(1016, {"frequency": 100}, (1015, "1000."), "+ + + from 115")
    press(1019, {"frequency": 101}, (1015, "990.09901"), "- (frequency down, fine)")
    press(1017, {"frequency": 100}, (1015, "1000."), "+ from 101")
    check_preview(context, wave_table(0, 32767, 50), 0, RED, "frequency back at 100")

    # Offset steppers.
    press(1021, {"offset": 32}, (1020, "0.105"), "offset +")
    press(1022, {"offset": 31}, (1020, "0."), "offset - back to 31")
    press(1022, {"offset": 30}, (1020, "-0.105"), "offset - to 30")

    # Jumpers: the radio buttons check themselves, and Offs and Vpp follow the gain.
    for jumper_id, jumper, literal in ((1034, 2, (1020, "-5.24e-002")), (1033, 1, (1023, "4.95")),
                                       (1035, 3, (1023, "1.65")), (1032, 0, (1020, "-0.105"))):
        press(jumper_id, {"jumper": jumper}, literal, f"jumper {jumper_id}")
        check_equal([get_check(driver, i) for i in (1032, 1033, 1034, 1035)],
                    [1 if i == jumper_id else 0 for i in (1032, 1033, 1034, 1035)],
                    f"jumper {jumper_id}: only it is checked")
    check_preview(context, wave_table(0, 32767, 50), 0, RED, "jumpers leave the picture")
    press(1021, {"offset": 31}, (1020, "0."), "offset + back to 31")

    # Amplitude steppers.
    press(1027, {"amplitude": 32640}, (1023, "6.57"), "Vpp - (fine)")
    check_preview(context, wave_table(0, 32640, 50), 0, RED, "sine at amplitude 32640")
    press(1025, {"amplitude": 32767}, (1023, "6.6"), "Vpp + (fine) back to the top")
    press(1026, {"amplitude": 31744}, (1023, "6.39"), "Vpp - - (coarse)")
    press(1024, {"amplitude": 32767}, (1023, "6.6"), "Vpp + + (coarse) back to the top")
    press(1024, {"amplitude": 32767}, (1023, "6.6"), "Vpp + + at the top stays")

    # Samples-per-wave list: the Frq text changes for the same code; the preview steps.
    drive(driver, "select 1014 4")
    state["spw"] = 4
    check_fields(driver, state, "24SPW selected")
    check_equal(get_text(driver, 1015), "15000.", "24SPW: Frq reads 15000.")
    check_equal(get_text(driver, 1037), "T=66.67\u00b5s", "24SPW: period reads T=66.67µs")
    check_preview(context, wave_table(0, 32767, 50), 4, RED, "24SPW: every 15th sample")
    drive(driver, "select 1014 0")
    state["spw"] = 0
    check_fields(driver, state, "360SPW selected again")
    # Any other notification of the list rewrites Frq and refreshes.
    drive(driver, "settext 1015 overwritten")
    drive(driver, "settext 1037 overwritten")
    drive(driver, "command 1014 7")
    check_equal(get_text(driver, 1015), "1000.", "a drop-down of the SPW list rewrites Frq")
    check_equal(get_text(driver, 1037), "T=1.ms", "a drop-down of the SPW list refreshes")
    drive(driver, "settext 1037 overwritten")
    drive(driver, "command 1013 7")
    check_equal(get_text(driver, 1037), "T=1.ms", "a drop-down of the waveform list refreshes")
    check_equal(drive(driver, "list 1013").split()[2], "0",
                "a drop-down of the waveform list keeps the selection")
    check_preview(context, wave_table(0, 32767, 50), 0, RED, "waveform list drop-down: still sine")

    # Waveform list, every shape.
    for waveform in (1, 2, 3, 4, 6):
        drive(driver, f"select 1013 {waveform}")
        state["waveform"] = waveform
        check_fields(driver, state, f"waveform {WAVEFORM_TEXTS[waveform]}")
        check_preview(context, wave_table(waveform, 32767, 50), 0, RED,
                      f"waveform {WAVEFORM_TEXTS[waveform]}")
    drive(driver, "select 1013 5")
    first_random = take_screenshot_when_settled(context)
    drive(driver, "click 1021")
    drive(driver, "click 1022")
    second_random = take_screenshot_when_settled(context)
    check(first_random is not None and second_random is not None
          and first_random != second_random, "random wave: each refresh draws a new period")

    # Duty control on a square wave: real clicks on the up-down's arrows, then arrow keys.
    drive(driver, "select 1013 1")
    state["waveform"] = 1
    check_equal(drive(driver, "updown down mouse"), "updown 51", "duty: down arrow click gives 51")
    check_preview(context, wave_table(1, 32767, 51), 0, RED, "square at duty 51")
    check_equal(drive(driver, "updown up mouse"), "updown 50", "duty: up arrow click gives 50")
    check_equal(drive(driver, "updown up mouse"), "updown 49", "duty: up arrow click gives 49")
    check_preview(context, wave_table(1, 32767, 49), 0, RED, "square at duty 49")
    check_equal(drive(driver, "updown down key"), "updown 50", "duty: down arrow key gives 50")
    duty = 50
    while duty < 100:
        answer = drive(driver, "updown down key")
        duty += 1
        if answer != f"updown {duty}":
            break
    check_equal(answer, "updown 100", "duty: the down arrow key reaches 100")
    check_equal(drive(driver, "updown down key 700"), "updown 100", "duty: 100 is the end")
    check_preview(context, wave_table(1, 32767, 100), 0, RED, "square at duty 100: all high")
    check_equal(drive(driver, "updown down mouse 700"), "updown 100",
                "duty: a click past 100 changes nothing")
    # Back by a click first: right after a click on the other arrow, Wine's up-down control
    # takes a second arrow key at the end of its range as a step the other way.
    check_equal(drive(driver, "updown up mouse"), "updown 99", "duty: up arrow click from 100")
    duty = 99
    while duty > 0:
        answer = drive(driver, "updown up key")
        duty -= 1
        if answer != f"updown {duty}":
            break
    check_equal(answer, "updown 0", "duty: the up arrow key reaches 0")
    check_equal(drive(driver, "updown up key 700"), "updown 0", "duty: 0 is the end")
    check_equal(drive(driver, "updown up mouse 700"), "updown 0",
                "duty: a click past 0 changes nothing")
    check_preview(context, wave_table(1, 32767, 0), 0, RED, "square at duty 0: all low")
    check_fields(driver, state, "after the duty changes")

    # The steppers to the ends of their ranges and back, every press checked.
    def press_until(control_id, key, step, presses, what):
        problems = []
        for count in range(1, presses + 1):
            drive(driver, f"click {control_id}")
            state[key] = step(state[key])
            expected = expected_fields(state)
            for field_id in (1015, 1020, 1023, 1028, 1030, 1036, 1037):
                actual = get_text(driver, field_id)
                if actual != expected[field_id]:
                    problems.append(f"press {count}: field {field_id} {actual!r}, "
                                    f"expected {expected[field_id]!r} (code {state[key]})")
        check(not problems, f"{what}: {presses} presses", "; ".join(problems[:3]))

    drive(driver, "select 1013 0")
    state["waveform"] = 0
    press_until(1016, "frequency", lambda c: step_frequency_up(c, True), 11, "+ + + down to code 7")
    check_equal(state["frequency"], 7, "+ + +: the model reaches code 7")
    check_equal(get_text(driver, 1015), "14285.714", "code 7 reads 14285.714")
    press_until(1017, "frequency", lambda c: step_frequency_up(c, False), 1, "+ at code 7")
    drive(driver, "select 1014 4")
    state["spw"] = 4
    check_equal(get_text(driver, 1015), "214285.71", "code 7 at 24SPW reads 214285.71")
    check_equal(get_text(driver, 1037), "T=4.667\u00b5s", "code 7 at 24SPW: T=4.667µs")
    drive(driver, "select 1014 0")
    state["spw"] = 0
    code, presses = 7, 0
    while code != 65535:
        code, presses = step_frequency_down(code, True), presses + 1
    press_until(1018, "frequency", lambda c: step_frequency_down(c, True), presses + 1,
                "- - - up to 65535 and once more")
    check_equal(state["frequency"], 65535, "- - -: the model reaches code 65535")
    check_equal(get_text(driver, 1015), "1.5259022", "code 65535 reads 1.5259022")
    press_until(1019, "frequency", lambda c: step_frequency_down(c, False), 1, "- at code 65535")
    press_until(1021, "offset", step_offset_up, 32, "offset + up to 62 and once more")
    check_equal(get_text(driver, 1020), "3.25", "offset code 62 reads 3.25")
    press_until(1022, "offset", step_offset_down, 63, "offset - down to 0 and once more")
    check_equal(get_text(driver, 1020), "-3.25", "offset code 0 reads -3.25")
    press_until(1026, "amplitude", lambda c: step_amplitude_down(c, True), 31, "Vpp - - 31 times")
    check_equal(state["amplitude"], 1054, "Vpp - -: 31 presses reach 1054")
    press_until(1026, "amplitude", lambda c: step_amplitude_down(c, True), 2, "Vpp - - to 255")
    check_equal(get_text(driver, 1023), "5.14e-002", "amplitude code 255 reads 5.14e-002")
    check_preview(context, wave_table(0, 255, 50), 0, RED, "sine at amplitude 255")
    press_until(1025, "amplitude", lambda c: step_amplitude_up(c, False), 1, "Vpp + from 255")
    press_until(1027, "amplitude", lambda c: step_amplitude_down(c, False), 1, "Vpp - from 382")
    press_until(1024, "amplitude", lambda c: step_amplitude_up(c, True), 33, "Vpp + + to the top")
    check_equal(get_text(driver, 1023), "6.6", "back at the top: 6.6")
    close_and_check_exit(context, "closing after the controls")


def take_screenshot_when_settled(context):
    """Two screenshots 150 ms apart that agree on the picture; its bytes, or None."""
    previous = None
    for _ in range(20):
        time.sleep(0.15)
        image = take_screenshot(context["display"])["pixels"]
        if image == previous:
            return image
        previous = image
    return None


def generator_log(context):
    path = context["generator_log"]
    if not os.path.exists(path):
        return []
    entries = []
    with open(path) as log:
        for line in log:
            line = line.strip()
            if line:
                entries.append(json.loads(line))
    return entries


RECEIVED_KINDS = ("block", "settings", "run", "stop", "unknown")


def received(entries):
    return [entry for entry in entries if entry["kind"] in RECEIVED_KINDS]


def wait_for_log(context, predicate, timeout=5.0):
    deadline = time.monotonic() + timeout
    while True:
        entries = generator_log(context)
        if predicate(entries) or time.monotonic() > deadline:
            return entries
        time.sleep(0.05)


def wait_for_status(driver, text, timeout=5.0):
    deadline = time.monotonic() + timeout
    while True:
        status = get_status(driver)
        if status == text or time.monotonic() > deadline:
            return status
        time.sleep(0.05)


def generator_send(context, hex_bytes):
    """Makes the generator send these bytes to the host in one write (its control pipe)."""
    with open(context["control"], "w") as control:
        control.write(hex_bytes + "\n")


def wait_for_sent(context, count, timeout=5.0):
    return wait_for_log(context, lambda e: len([x for x in e if x["kind"] == "sent"]) >= count,
                        timeout)


def check_start_sequence(context, entries, state, what):
    """The 741 bytes of one start: blocks 0..11 of the table, the settings packet, 0x55."""
    messages = received(entries)
    kinds = [entry["kind"] for entry in messages]
    check_equal(kinds, ["block"] * 12 + ["settings", "run"], f"{what}: 12 blocks, packet, run byte")
    if kinds != ["block"] * 12 + ["settings", "run"]:
        return
    check_equal(sum(entry["length"] for entry in messages), 741, f"{what}: 741 bytes")
    check_equal([entry["index"] for entry in messages[:12]], list(range(12)),
                f"{what}: block indexes 0..11")
    image = b""
    ok = True
    for index, entry in enumerate(messages[:12]):
        data = bytes.fromhex(entry["bytes"])
        ok = ok and len(data) == 61 and data[60] == index
        image += data[:60]
    check(ok, f"{what}: each block 61 bytes ending with its index")
    samples = [image[2 * i] << 8 | image[2 * i + 1] for i in range(360)]
    expected = wave_table(state["waveform"], state["amplitude"], state["duty"])
    if expected is not None:
        check_equal(samples, expected, f"{what}: the blocks carry the table, high byte first")
    packet = bytes([state["frequency"] >> 8, state["frequency"] & 0xFF, state["amplitude"] >> 8,
                    state["amplitude"] & 0xFF, state["offset"], state["duty"], state["spw"],
                    state["jumper"]]).hex()
    check_equal(messages[12]["bytes"], packet, f"{what}: settings packet {packet}")
    check_equal(messages[13]["bytes"], "55", f"{what}: run byte 0x55")


def scenario_link(context):
    driver = context["driver"]
    program_start(context)
    state = default_state()
    # START before CONNECT: nothing at all.
    drive(driver, "click 1012")
    drive(driver, "click 1012")
    drive(driver, "sleep 300")
    check_equal(get_text(driver, 1012), "START", "START before CONNECT: the button keeps START")
    check_equal(get_status(driver), "Hi there :)", "START before CONNECT: no status text")
    check_equal(received(generator_log(context)), [], "START before CONNECT: no bytes on the wire")
    # CONNECT.
    drive(driver, "click 1008")
    check_equal(get_status(driver), "Device is connected as COM5", "CONNECT: status text")
    drive(driver, "sleep 200")
    check_equal(received(generator_log(context)), [], "CONNECT: no bytes on the wire")
    # CONNECT again does nothing: no new status text.
    drive(driver, "settext 102 marker")
    drive(driver, "click 1008")
    check_equal(get_status(driver), "marker", "CONNECT twice: no second connect attempt")
    # START.
    drive(driver, "click 1012")
    check_equal(get_text(driver, 1012), "STOP", "START: the button reads STOP")
    check_equal(wait_for_status(driver, "Device is RUNNING!"), "Device is RUNNING!",
                "START: the generator's 0x55 shows Device is RUNNING!")
    entries = wait_for_log(context, lambda e: any(x["kind"] == "start" for x in e))
    check_start_sequence(context, entries, state, "START at the defaults")
    check_equal(received(entries)[12]["bytes"] if len(received(entries)) > 12 else None,
                "00647fff1f320000", "START at the defaults: packet 00 64 7F FF 1F 32 00 00")
    check_equal([e["bytes"] for e in entries if e["kind"] == "sent"], ["55"],
                "START: the generator answered 0x55")
    # The trace turns green at the next refresh.
    check_preview(context, wave_table(0, 32767, 50), 0, RED, "running, before a refresh: still red")
    drive(driver, "click 1021")
    drive(driver, "click 1022")
    check_preview(context, wave_table(0, 32767, 50), 0, GREEN, "running, after a refresh: green")
    save_panel_png(context, os.path.join(context["work"], "panel-running.png"))
    # STOP.
    before = len(received(generator_log(context)))
    drive(driver, "click 1012")
    check_equal(get_text(driver, 1012), "START", "STOP: the button reads START")
    check_equal(wait_for_status(driver, "Device is STOPPED!"), "Device is STOPPED!",
                "STOP: the generator's 0xAA shows Device is STOPPED!")
    entries = wait_for_log(context, lambda e: len([x for x in e if x["kind"] == "sent"]) >= 2)
    stop_messages = received(entries)[before:]
    check_equal([(e["kind"], e["bytes"]) for e in stop_messages], [("stop", "aa")],
                "STOP: the byte 0xAA alone")
    drive(driver, "click 1021")
    drive(driver, "click 1022")
    check_preview(context, wave_table(0, 32767, 50), 0, RED, "stopped, after a refresh: red again")
    # Another start carries the settings of the moment: 24SPW, J4, duty 51, a square wave.
    drive(driver, "select 1014 4")
    drive(driver, "click 1035")
    drive(driver, "select 1013 1")
    check_equal(drive(driver, "updown down mouse"), "updown 51", "duty 51 for the second start")
    state.update({"spw": 4, "jumper": 3, "waveform": 1, "duty": 51})
    before = len(entries)
    drive(driver, "click 1012")
    check_equal(wait_for_status(driver, "Device is RUNNING!"), "Device is RUNNING!",
                "second START: running again")
    entries = wait_for_log(context, lambda e: len([x for x in e if x["kind"] == "start"]) >= 2)
    check_start_sequence(context, entries[before:], state, "second START (24SPW, J4, duty 51)")
    drive(driver, "click 1012")
    check_equal(wait_for_status(driver, "Device is STOPPED!"), "Device is STOPPED!",
                "second STOP: stopped again")
    # Reports from the generator at any moment: glued to another byte they do not count; a lone
    # 0x55 while the button reads START makes the next press a stop.
    sent = len([e for e in generator_log(context) if e["kind"] == "sent"])
    generator_send(context, "55aa")
    generator_send(context, "00")
    wait_for_sent(context, sent + 2)
    drive(driver, "sleep 500")
    check_equal(get_status(driver), "Device is STOPPED!", "0x55 0xAA in one read, 0x00: no change")
    generator_send(context, "55")
    check_equal(wait_for_status(driver, "Device is RUNNING!"), "Device is RUNNING!",
                "a lone 0x55 from the generator: Device is RUNNING!")
    check_equal(get_text(driver, 1012), "START", "the report leaves the button's text")
    before = len(received(generator_log(context)))
    drive(driver, "click 1012")
    wait_for_log(context, lambda e: len(received(e)) > before)
    drive(driver, "sleep 300")
    check_equal([(e["kind"], e["bytes"]) for e in received(generator_log(context))[before:]],
                [("stop", "aa")], "running by report: the next press sends the stop byte alone")
    check_equal(wait_for_status(driver, "Device is STOPPED!"), "Device is STOPPED!",
                "and the generator's 0xAA shows Device is STOPPED!")
    close_and_check_exit(context, "closing with a connection")


def scenario_about(context):
    driver = context["driver"]
    program_start(context)
    for opening in (1, 2):
        answer = drive(driver, "about 5000")
        check_equal(answer, "about open owner 1 panelenabled 0 at 0 0",
                    f"About box {opening}: opens from ? at the panel's client origin, "
                    "owned by the disabled panel")
        if not answer.startswith("about open"):
            return
        check_equal(drive(driver, "abouttext 1038"), "text 1038 0.1",
                    f"About box {opening}: version 0.1")
        drive(driver, "aboutkey return")
        check_equal(drive(driver, "aboutstate 700"), "about open",
                    f"About box {opening}: stays open on Enter")
        check_equal(drive(driver, "abouttext 1038"), "text 1038 0.1",
                    f"About box {opening}: still 0.1 after Enter")
        if opening == 1:
            drive(driver, "aboutkey escape")
            check_equal(drive(driver, "aboutstate 3000"), "about closed",
                        "About box 1: closes on Escape")
        else:
            drive(driver, "aboutkey sysclose")
            check_equal(drive(driver, "aboutstate 3000"), "about closed",
                        "About box 2: closes from the caption's close")
        check_equal(drive(driver, "enabled"), "enabled 1", f"About box {opening}: panel enabled again")
    check_fields(driver, default_state(), "after the About box: no setting changed")
    drive(driver, "click 1017")
    check_equal(get_text(driver, 1015), "1010.101", "after the About box: the panel responds")
    # The status bar keeps changing under the open box.
    drive(driver, "click 1008")
    check_equal(get_status(driver), "Device is connected as COM5", "CONNECT before the box")
    check(drive(driver, "about 5000").startswith("about open"), "About box 3 opens")
    generator_send(context, "55")
    check_equal(wait_for_status(driver, "Device is RUNNING!"), "Device is RUNNING!",
                "a report while the box is open shows on the status bar")
    drive(driver, "aboutkey escape")
    check_equal(drive(driver, "aboutstate 3000"), "about closed", "About box 3 closes on Escape")
    close_and_check_exit(context, "closing after the About box, connected")


SCENARIOS = {"startup": scenario_startup, "controls": scenario_controls, "link": scenario_link,
             "about": scenario_about}


# ---------------------------------------------------------------------------------------------

def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--scenario", required=True, choices=sorted(SCENARIOS))
    parser.add_argument("--program", required=True, help="varnolt.exe")
    parser.add_argument("--driver", required=True, help="panel_driver.exe")
    parser.add_argument("--native-build", required=True, help="native build with the generator")
    parser.add_argument("--source", required=True, help="the repository")
    parser.add_argument("--work", required=True, help="folder for logs and screenshots")
    parser.add_argument("--display", type=int, default=int(os.environ.get("E2E_DISPLAY", "73")))
    parser.add_argument("--screenshot", help="save the running panel here (link scenario)")
    args = parser.parse_args()

    # A time-out's SIGTERM still cleans up: it ends the run through the finally below.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    prefix = os.environ.get("WINEPREFIX", "")
    if not prefix or not os.path.isfile(os.path.join(prefix, "system.reg")):
        print("e2e: WINEPREFIX must name a prefix made by tools/wine/make-prefix.sh", file=sys.stderr)
        return 2
    work = os.path.abspath(args.work)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    context = {"work": work, "program": os.path.abspath(args.program),
               "wine_run": os.path.join(args.source, "tools", "wine", "wine-run.sh")}
    xvfb = None
    shell = None
    status = 0
    try:
        xvfb, context["display"] = start_xvfb(args.display, os.path.join(work, "xvfb.log"))
        env = dict(os.environ)
        env.update({"WINEARCH": "win32", "WINEDEBUG": env.get("WINEDEBUG", "-all"),
                    "DISPLAY": context["display"]})
        restart_wineserver(env, context["wine_run"], work)
        shell = rig_shell_start(args.source, os.path.abspath(args.native_build), env, work)
        rig_run(shell, "rig_remove_devices")
        rig_run(shell, f"rig_add_device 'VID_1209&PID_7A3C' SN0001 '{HARDWARE_IDS}' COM5")
        context["control"] = os.path.join(work, "generator", "control")
        rig_run(shell, f"rig_start_generator '{os.path.join(work, 'generator')}' "
                       f"--control '{context['control']}'")
        values = rig_run(shell, 'printf "%s\\n%s\\n" "$RIG_GENERATOR_LOG" "$LD_PRELOAD"')
        context["generator_log"] = values[0]
        env["LD_PRELOAD"] = values[1]
        context["env"] = env
        print(f"display {context['display']}, generator log {values[0]}", flush=True)
        context["driver"] = driver_start(context["wine_run"], os.path.abspath(args.driver), env, work)
        SCENARIOS[args.scenario](context)
        if args.screenshot and os.path.exists(os.path.join(work, "panel-running.png")):
            shutil.copyfile(os.path.join(work, "panel-running.png"), args.screenshot)
    except SetupError as error:
        print(f"FAIL: {error}", flush=True)
        results["failed"] += 1
        status = 2
    finally:
        if context.get("last_image") is not None:
            image = context["last_image"]
            with open(os.path.join(work, "last-screenshot.ppm"), "wb") as last:
                last.write(f"P6\n{image['width']} {image['height']}\n255\n".encode() + image["pixels"])
        program_kill(context)
        if context.get("driver") is not None:
            driver_stop(context["driver"])
        if shell is not None:
            rig_shell_stop(shell)
        if xvfb is not None:
            xvfb.send_signal(signal.SIGTERM)
            try:
                xvfb.wait(timeout=10)
            except subprocess.TimeoutExpired:
                xvfb.kill()
                xvfb.wait()
    print(f"{args.scenario}: {results['passed']} passed, {results['failed']} failed", flush=True)
    if status:
        return status
    return 1 if results["failed"] else 0


if __name__ == "__main__":
    sys.exit(main())
