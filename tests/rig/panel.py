"""The panel under Wine for the e2e tests and measurements: an Xvfb of its own, the fake USB device
of tools/wine/rig.sh with the generator on COM5, and tests/e2e/panel_driver.cpp. Needs WINEPREFIX.
`panel.py COMMAND...` runs a Windows test that draws on such a display."""

import os
import select
import subprocess
import sys
import tempfile
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests"))
from rig.generator import Generator  # noqa: E402

WINE_RUN = os.path.join(ROOT, "tools", "wine", "wine-run.sh")
HARDWARE_IDS = "USB\\VID_1209&PID_7A3C&REV_0100\\0USB\\VID_1209&PID_7A3C"


class SetupError(Exception):
    """The rig, not a check, failed."""


class LineProcess:
    def __init__(self, command, env, err_path):
        self.process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=open(err_path, "w"), env=env)
        self.buffer = b""

    def read_line(self, timeout, what):
        deadline = time.monotonic() + timeout
        while b"\n" not in self.buffer:
            ready, _, _ = select.select([self.process.stdout], [], [],
                                        max(0.0, deadline - time.monotonic()))
            chunk = os.read(self.process.stdout.fileno(), 65536) if ready else b""
            if not chunk:
                raise SetupError(f"no answer to {what}")
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        return line.decode("utf-8").rstrip("\r")

    def send(self, text):
        self.process.stdin.write(text.encode("utf-8"))
        self.process.stdin.flush()

    def end(self, last_words):
        try:
            self.send(last_words)
        except BrokenPipeError:
            pass  # ended already (with the prefix's server, say)
        self.process.wait(timeout=60)


class Session:
    """A bash with tools/wine/rig.sh, the generator and the driver; env has the pty shim."""

    def __init__(self, work, driver_exe, native_build=None, generator=True):
        if not os.path.isfile(os.path.join(os.environ.get("WINEPREFIX", "/none"), "system.reg")):
            raise SetupError("WINEPREFIX must name a prefix made by tools/wine/make-prefix.sh")
        self.work, self.driver_exe = work, driver_exe
        self.driver = self.generator = None
        self.env = dict(os.environ, WINEARCH=os.environ.get("WINEARCH", "win32"),
                        WINEDEBUG=os.environ.get("WINEDEBUG", "-all"),
                        RIG_NATIVE_BUILD=os.path.abspath(native_build or
                                                         os.path.join(ROOT, "build", "native")))
        self.rig = LineProcess(["bash", "--norc", "--noprofile"], self.env,
                               os.path.join(self.work, "rig.err"))
        try:
            self.start(generator)
        except BaseException:
            self.close()
            raise

    def start(self, generator):
        self.run(f"source '{ROOT}/tools/wine/rig.sh' && rig_start_display '{self.work}' && "
                 f"rig_restart_server '{self.work}'")
        self.env["DISPLAY"] = self.run('printf "%s\n" "$DISPLAY"')[0]
        if generator:
            self.run(f"rig_remove_devices && rig_add_device 'VID_1209&PID_7A3C' SN0001 "
                     f"'{HARDWARE_IDS}' COM5")
            self.start_generator()
            self.env["LD_PRELOAD"] = self.run('printf "%s\\n" "$LD_PRELOAD"')[0]

    def run(self, command, timeout=60):
        self.rig.send(f"{command}\necho \"__rig_done__ $?\"\n")
        lines = []
        while True:
            line = self.rig.read_line(timeout, command)
            if line.startswith("__rig_done__"):
                if line != "__rig_done__ 0":
                    raise SetupError(f"rig command failed: {command}")
                return lines
            lines.append(line)

    def start_generator(self):
        if self.generator is not None:
            self.generator.stop()
        self.generator = Generator(program=os.path.join(
            self.env["RIG_NATIVE_BUILD"], "tools", "virtual_generator", "varnolt-virtual-generator"))
        if not self.generator.pty:
            raise SetupError("the generator did not start")
        self.run(f"rig_map_port COM5 '{self.generator.pty}' && rig_wine_env")

    def stop_generator(self):
        self.generator.hang_up()

    def start_driver(self):
        self.driver = LineProcess([WINE_RUN, self.driver_exe], self.env,
                                  os.path.join(self.work, "driver.err"))

    def ask(self, command, timeout=30):
        if self.driver is None:
            self.start_driver()
        self.driver.send(command + "\n")
        return self.driver.read_line(timeout, command)

    def ask_ok(self, command, timeout=30):
        answer = self.ask(command, timeout)
        if answer.startswith("error"):
            raise SetupError(f"{command}: {answer}")
        return answer

    def start_program(self, exe, log_name):
        return subprocess.Popen([WINE_RUN, exe], env=self.env, stderr=subprocess.STDOUT,
                                stdout=open(os.path.join(self.work, log_name), "w"))

    def close(self):
        if self.driver is not None:
            self.driver.end("quit\n")
        self.rig.end('rig_remove_devices; kill "$RIG_XVFB_PID" && wait "$RIG_XVFB_PID"; exit 0\n')
        if self.generator is not None:
            self.generator.stop()


def main(command):
    with tempfile.TemporaryDirectory() as work:
        session = Session(work, None, generator=False)
        try:
            return subprocess.run(command, env=session.env, check=False).returncode
        finally:
            session.close()


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
