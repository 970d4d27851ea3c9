#!/usr/bin/env bash
# Usage: varnoltctl_wine.sh VARNOLTCTL_EXE NATIVE_BUILD_DIR SOURCE_DIR PYTHON. varnoltctl.exe under
# Wine finds the virtual generator's COM5 through SetupAPI, beside another maker's adapter; then
# serve's Windows halves: the port's report wait, the sockets, the web panel's wake-ups, the access
# token (BCryptGenRandom), Ctrl+C, and no DNS-SD registration.
set -euo pipefail
export RIG_NATIVE_BUILD=$2
# shellcheck source=../../tools/wine/rig.sh
source "$3/tools/wine/rig.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/varnoltctl-wine.XXXXXX")
trap 'rig_stop_generator; rig_remove_devices; rm -f "$WINEPREFIX/dosdevices/com5"; rm -rf "$work"' EXIT
rig_start_generator "$work"
rig_add_device 'VID_0403&PID_6001' SN0009 'USB\VID_0403&PID_6001' COM8
rig_add_device 'VID_1209&PID_7A3C' SN0001 'USB\VID_1209&PID_7A3C&REV_0100\0USB\VID_1209&PID_7A3C' COM5

# rig_start_generator exported WINELOADER: the loader itself is the server's process, the one that
# Ctrl+C (SIGINT, which Wine hands to the program as CTRL_C_EVENT) must end.
PYTHONPATH="$3/tests" "$4" - "$1" "$work" <<'EOF'
import os, signal, socket, subprocess, sys, threading, time, wave
from rig.process import die_with_parent
from rig.scpi import Client
from rig.serve import Server, request

exe, work = sys.argv[1:]
os.chdir(work)  # where the WAV file and the token's file are made
wine = [os.environ["WINELOADER"], exe]
server = None


def failed(*error):
    print("\n".join("  server: " + line for line in (server.lines if server else [])),
          file=sys.stderr)
    sys.__excepthook__(*error)


def ctl(*args, prefix=(), **options):
    """Exit code, standard output and error, without Windows' CRs."""
    done = subprocess.run([*prefix, *wine, *args], capture_output=True, **options)
    return done.returncode, *(out.decode().replace("\r", "") for out in (done.stdout, done.stderr))


def serve(*options, prefix=()):
    return Server(command=[*prefix, *wine, "serve", *options], preexec_fn=die_with_parent)


sys.excepthook = failed
said = ctl("list", "--json")
assert said[:2] == (0, '{"generators":[{"port":"COM5","serial":"SN0001","byId":null}]}\n'), said

# A WAV file on standard input is read as bytes (CR, LF and 0x1A kept): as the file read by name.
frames = bytes([0x0d, 0x0a, 0x1a, 0x00, 0x0a, 0x0d, 0x00, 0x80, 0x0d, 0x0a, 0xff, 0x7f])
with wave.open("cycle.wav", "wb") as wav:
    wav.setparams((1, 2, 8000, 0, "NONE", ""))  # mono, 16 bits, 8000 Hz
    wav.writeframes(frames)
with open("cycle.wav", "rb") as wav:
    piped = ctl("table", "--shape", "-", stdin=wav)
assert piped[1].count("\n") == 360 and piped == ctl("table", "--shape", "cycle.wav"), piped

# Wine has no DnsServiceBrowse: the program, which looks it up at run time, loads and says so.
# In a network namespace of its own, so that a Wine that had it would browse only loopback.
said = ctl("discover", "--timeout", "0.2", "--json", prefix=("unshare", "-n"))
message = "this system has no DNS-SD to ask (DnsServiceBrowse: Windows 10 1809 or later is needed)"
assert said[:2] == (69, f'{{"error":"{message}","exitCode":69}}\n'), said
# The Windows build carries no TLS: each HTTPS option is refused before anything is opened.
for option in ("--https", "--tls-cert", "--tls-key"):
    said = ctl("serve", option, "0")
    assert said == (64, "", f"varnoltctl: {option}: the Windows build serves HTTP only\n"), said

server = serve("--listen", "127.0.0.1:0", "--http", "0", "--auth", "on", "--token-file", "token")
with Client(server.port, timeout=10) as scpi:
    scpi.write("VOLT:JUMP J2;:APPL:TRI 2.5KHZ,1,-0.5")
    # The start went out whole (the generator answers 0x55 only to a valid one) and its 0x55
    # came back.
    answer = scpi.query("OUTP?;:FUNC?;:FREQ?;SYST:ERR?")
    assert answer == '1;TRI;+2.50000000000000E+03;0,"No error"', answer

# The token printed is the one in the file; 32 characters of 64 from 192 random bits show fewer
# than 18 distinct ones once in 30,000 runs, a token with half its bytes left zero at most 17.
token = server.wait_for(r"web panel http://127\.0\.0\.1:\d+/\?token=([\w-]{32})$").group(1)
with open("token") as kept:
    assert kept.read() == token + "\n", "the token printed is not the one in --token-file"
assert len(set(token)) >= 18, token


# The token signs in, and an action waits for the serving loop's wake-up.
cookie = request(server.web_port, "GET", "/?token=" + token)[1]["Set-Cookie"].split(";")[0]
said = request(server.web_port, "POST", "/api/action", b'{"do":"set","field":"jumper","value":1}',
               {"Cookie": cookie})
assert said[0] == 200, said

# The sockets of the Windows half: answers that outgrow the buffers go out in parts as a late
# reader takes them (FD_WRITE); a client that ends its sending is answered, then closed (FD_CLOSE).
with (socket.create_connection(("127.0.0.1", server.port), timeout=20) as client,
      client.makefile("rb") as replies):
    client.sendall(b"*IDN?\n")
    identity = replies.readline().rstrip(b"\n")
    line, count = b"*IDN?;" * 2000 + b"\n", 200
    sender = threading.Thread(target=client.sendall, args=(line * count,))
    sender.start()
    time.sleep(0.5)
    answer = b"".join(replies.readline() for _ in range(count))
    sender.join()
    assert answer == (b";".join([identity] * 2000) + b"\n") * count, len(answer)
with socket.create_connection(("127.0.0.1", server.port), timeout=20) as client:
    client.sendall(b"*OPC?\n*OPC?\n")
    client.shutdown(socket.SHUT_WR)
    answer = b"".join(iter(lambda: client.recv(100), b""))
    assert answer == b"1\n1\n", answer
assert server.stop(signal.SIGINT) == 0, "Ctrl+C: not exit code 0"

# Beyond loopback it would announce itself: Wine has no DnsServiceRegister, so it says so and
# serves on. In a network namespace of its own: the wildcard address reaches only its loopback.
server = serve("--listen", "0.0.0.0:0", "--http", "off", prefix=("unshare", "-n"))
assert server.wait_for("^varnoltctl: this system has no DNS-SD registration \\(Windows 10 1809 or "
                       "later\\): serving without announcing$"), "no line about DNS-SD"
time.sleep(0.5)
assert server.process.poll() is None, "the server beyond loopback ended after its DNS-SD line"
assert server.stop(signal.SIGINT) == 0, "beyond loopback: not exit code 0 after Ctrl+C"
print("varnoltctl_wine.sh: passed")
EOF
