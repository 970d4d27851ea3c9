#!/usr/bin/env bash
# Usage: scpi_serve_wine.sh VARNOLTCTL_EXE NATIVE_BUILD_DIR SOURCE_DIR PYTHON. varnoltctl.exe serve
# under Wine holds the virtual generator's COM5; PyVISA on Linux drives it over loopback, and the
# start that APPLy sends arrives as start --dry-run prints it; the web panel's page and its
# identification document load from Linux, and the page shows the change; with --auth on its
# access token (BCryptGenRandom) is printed and kept in --token-file, and signs in; Ctrl+C then
# ends the server with 0. Served beyond loopback it says that Wine has no DNS-SD registration, and serves.
set -euo pipefail
exe=$1 python=$4
export RIG_NATIVE_BUILD=$2
# shellcheck source=../../tools/wine/rig.sh
source "$3/tools/wine/rig.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/scpi-serve-wine.XXXXXX")
server=
cleanup() {
  [ -z "$server" ] || kill "$server" 2>/dev/null || true
  [ -z "$server" ] || wait "$server" 2>/dev/null || true
  rig_stop_generator
  rig_remove_devices
  rm -f "$WINEPREFIX/dosdevices/com5"
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "scpi_serve_wine.sh: $*" >&2
  sed 's/^/  server: /' "$work/serve.err" >&2 || true
  exit 1
}
# Wine hands SIGINT to the program as Ctrl+C (CTRL_C_EVENT); the server closes everything
# and exits 0 within 5 s.
stop_server() {
  local status=0
  kill -INT "$server"
  for _ in $(seq 1 50); do
    kill -0 "$server" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$server" 2>/dev/null && fail "$1 still runs 5 s after Ctrl+C"
  wait "$server" || status=$?
  server=
  [ "$status" -eq 0 ] || fail "$1 exited $status after Ctrl+C"
}

rig_start_generator "$work"
rig_add_device 'VID_1209&PID_7A3C' SN0001 'USB\VID_1209&PID_7A3C&REV_0100\0USB\VID_1209&PID_7A3C' COM5

# The loader itself in the background (rig_start_generator set WINELOADER), so that its process
# is the one to end.
# The token's file is named relative to the folder it runs in.
(cd "$work" && exec "$WINELOADER" "$exe" serve --listen 127.0.0.1:0 --http 0 --auth on \
  --token-file token 2>"$work/serve.err") &
server=$!
port= web= token=
serving='s/^varnoltctl: serving COM5 on 127\.0\.0\.1:([0-9]+) \(SCPI\) and http:\/\/127\.0\.0\.1:([0-9]+)\/ \(web panel\)\r?$/\1 \2/p'
for _ in $(seq 1 200); do
  read -r port web < <(sed -nE "$serving" "$work/serve.err") || true
  token=$(sed -nE 's/^varnoltctl: web panel http:\/\/127\.0\.0\.1:[0-9]+\/\?token=([A-Za-z0-9_-]{32})\r?$/\1/p' \
    "$work/serve.err")
  [ -n "$port" ] && [ -n "$token" ] && break
  kill -0 "$server" 2>/dev/null || fail "the server ended at once"
  sleep 0.1
done
[ -n "$port" ] || fail "the server did not say where it listens"
[ -n "$token" ] && [ "$(cat "$work/token")" = "$token" ] ||
  fail "the access token was not printed as the one in --token-file"

"$python" - "$port" <<'EOF' || fail "the PyVISA client failed"
import sys
import pyvisa

resources = pyvisa.ResourceManager("@py")
scpi = resources.open_resource(f"TCPIP::127.0.0.1::{sys.argv[1]}::SOCKET", read_termination="\n",
                               write_termination="\n", timeout=10000)
identity = scpi.query("*IDN?")
assert identity.startswith("VARNOLT,DDS generator,SN0001,"), identity
scpi.write("VOLT:JUMP J2;:APPL:TRI 2.5KHZ,1,-0.5")
answer = scpi.query("OUTP?;:FUNC?;:FREQ?;SYST:ERR?")
assert answer == '1;TRI;+2.50000000000000E+03;0,"No error"', answer
scpi.close()
resources.close()
EOF

expected=$(rig_wine "$exe" start --wave triangle --freq 2.5k --vpp 1 --offset -0.5 --jumper J2 \
  --dry-run | tr -d '\r ')
received=$(PYTHONPATH="$3/tests" python3 -m rig.generator "$RIG_GENERATOR_LOG")
[ "$(wc -l <<<"$expected")" -eq 14 ] && [ "$received" = "$expected" ] ||
  fail "the generator received other bytes than --dry-run prints"

# The web panel of the Windows build: the page, and the state and identification it serves.
"$python" - "$web" "$token" <<'EOF' || fail "the web panel did not answer as it should"
import http.client, json, sys, urllib.request
import xml.etree.ElementTree as ElementTree

base = f"http://127.0.0.1:{sys.argv[1]}"
with urllib.request.urlopen(base + "/") as page:
    assert page.headers["Content-Type"].startswith("text/html"), page.headers["Content-Type"]
    assert b"/panel.js" in page.read()
state = json.load(urllib.request.urlopen(base + "/api/state"))
assert (state["wave"], state["frequency"], state["jumper"], state["button"]) == (2, "2500.", 1, "STOP"), state
with urllib.request.urlopen(base + "/lxi/identification") as answer:
    lxi = "{http://www.lxistandard.org/InstrumentIdentification/1.0}"
    document = ElementTree.fromstring(answer.read())
assert document.find(lxi + "SerialNumber").text == "SN0001"
assert state["session"] is False, state


def request(method, path, headers=None):
    connection = http.client.HTTPConnection("127.0.0.1", int(sys.argv[1]), timeout=10)
    body = b'{"do":"set","field":"jumper","value":1}' if method == "POST" else None
    connection.request(method, path, body=body, headers=headers or {})
    response = connection.getresponse()
    response.read()
    return response


# 192 random bits as 32 characters of 64 show 25 distinct ones on average, fewer than 18 once in
# 30,000 runs; a token half of whose bytes are left zero shows at most 17.
assert len(set(sys.argv[2])) >= 18, sys.argv[2]
assert request("POST", "/api/action").status == 403
assert request("GET", "/?token=" + sys.argv[2][::-1]).status == 403
signed = request("GET", "/?token=" + sys.argv[2])
cookie = signed.headers["Set-Cookie"].split(";")[0]
assert signed.status == 303 and cookie.startswith(f"varnolt_session_{sys.argv[1]}="), cookie
assert request("POST", "/api/action", {"Cookie": cookie}).status == 200
EOF
# The sockets of the Windows half: answers that outgrow the buffers go out in parts as a late
# reader takes them (FD_WRITE); a client that ends its sending is answered, then closed (FD_CLOSE).
"$python" - "$port" <<'EOF' || fail "a late reader or a client that ended its sending was not served whole"
import socket, sys, threading, time

address = ("127.0.0.1", int(sys.argv[1]))


def read_lines(client, count):
    parts, lines = [], 0
    while lines < count:
        part = client.recv(1 << 20)
        assert part, "closed before the last answer"
        parts.append(part)
        lines += part.count(b"\n")
    return b"".join(parts)


with socket.create_connection(address, timeout=20) as client:
    client.sendall(b"*IDN?\n")
    identity = read_lines(client, 1).rstrip(b"\n")
    line, count = b"*IDN?;" * 2000 + b"\n", 200
    sender = threading.Thread(target=client.sendall, args=(line * count,))
    sender.start()
    time.sleep(0.5)
    answer = read_lines(client, count)
    sender.join()
    assert answer == (b";".join([identity] * 2000) + b"\n") * count, len(answer)
with socket.create_connection(address, timeout=20) as client:
    client.sendall(b"*OPC?\n*OPC?\n")
    client.shutdown(socket.SHUT_WR)
    answer = b"".join(iter(lambda: client.recv(100), b""))
    assert answer == b"1\n1\n", answer
EOF
stop_server "the server"

# Beyond loopback the server would announce itself: Wine has no DNS-SD registration
# (DnsServiceRegister), so it says so once and serves on. In a network namespace of its own, so
# that the wildcard address reaches nothing but that namespace's loopback.
: >"$work/serve.err"
unshare -n "$WINELOADER" "$exe" serve --listen 0.0.0.0:0 --http off 2>"$work/serve.err" &
server=$!
absent="varnoltctl: this system has no DNS-SD registration (Windows 10 1809 or later): serving without announcing"
for _ in $(seq 1 200); do
  grep -qxF "$absent" < <(tr -d '\r' <"$work/serve.err") && break
  kill -0 "$server" 2>/dev/null || fail "the server beyond loopback ended at once"
  sleep 0.1
done
grep -qxF "$absent" < <(tr -d '\r' <"$work/serve.err") ||
  fail "the server beyond loopback did not say that there is no DNS-SD registration"
sleep 0.5
kill -0 "$server" 2>/dev/null || fail "the server beyond loopback ended after its DNS-SD line"
stop_server "the server beyond loopback"
echo "scpi_serve_wine.sh: served COM5; APPLy's start arrived as --dry-run prints it; the web panel answered, its token signed in; a late reader got every byte, an ended client its answers; Ctrl+C ended it; beyond loopback it serves without DNS-SD"
