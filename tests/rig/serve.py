"""varnoltctl serve as a process: its stderr lines collected as they come, its serving line read
once for the device, the SCPI port and the web panel's address; one request to the web panel."""
import http.client
import re
import signal
import subprocess
import threading
import time

import rig

SERVING = re.compile(r"varnoltctl: serving (\S+) on (\S+):(\d+)"
                     r"(?: \(SCPI\) and (https?://\S+:(\d+)/) \(web panel\)"
                     r"(?:, redirected to from http://\S+:(\d+)/)?)?$")


class Server:
    """varnoltctl serve with these options, listening on listen, with the web panel on a free
    loopback port unless an --http option says otherwise, run through the command prefix enter (a
namespace's nsenter); or the whole command line given.
    device, port, url, web_port and http_port come from its serving line (port None: it did not
    serve, url and web_port None: no web panel; http_port: the redirecting listener beside
    HTTPS)."""

    def __init__(self, *options, listen="127.0.0.1:0", env=None, tool=None, command=None,
                 preexec_fn=None, enter=()):
        if command is None:
            web = () if any(option.startswith("--http") for option in options) else ("--http", "0")
            command = [*enter, tool or rig.TOOL, "serve", "--listen", listen, *web, *options]
        self.process = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                        preexec_fn=preexec_fn)
        self.lines = []
        self.reader = threading.Thread(target=self._collect, daemon=True)
        self.reader.start()
        match = self.wait_for(SERVING)
        self.device, self.port, self.url, self.web_port, self.http_port = (
            (match.group(1), int(match.group(3)), match.group(4),
             match.group(5) and int(match.group(5)), match.group(6) and int(match.group(6)))
            if match else (None,) * 5)

    def _collect(self):
        for line in self.process.stderr:
            self.lines.append(line.decode(errors="replace").rstrip("\r\n"))

    def wait_for(self, pattern, limit=10.0, count=1):
        """The count-th stderr line matching pattern, waiting up to limit s (None once it ended)."""
        deadline = time.monotonic() + limit
        while time.monotonic() < deadline:
            found = [match for match in (re.search(pattern, line) for line in list(self.lines))
                     if match]
            if len(found) >= count:
                return found[count - 1]
            if self.process.poll() is not None and not self.reader.is_alive():
                return None
            time.sleep(0.02)
        return None

    def stop(self, signal_number=signal.SIGTERM):
        """Its exit code, once the signal ended it."""
        if self.process.poll() is None:
            self.process.send_signal(signal_number)
        code = self.process.wait(timeout=10)
        self.reader.join(timeout=5)
        self.process.stderr.close()
        return code


def request(port, method, path, body=b"", headers=None, host="127.0.0.1", timeout=10):
    """(status, headers, body) of one request to a web panel over plain HTTP."""
    connection = http.client.HTTPConnection(host, port, timeout=timeout)
    try:
        connection.request(method, path, body=body, headers=headers or {})
        response = connection.getresponse()
        return response.status, response.headers, response.read()
    finally:
        connection.close()
