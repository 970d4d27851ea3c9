"""SCPI clients: one on a raw TCP socket, and PyVISA's."""
import socket


def visa(test, port, host="127.0.0.1", timeout=5000, resource=None):
    """A PyVISA (pure-Python backend) client of the socket resource, closed at the test's end."""
    import pyvisa
    manager = pyvisa.ResourceManager("@py")
    test.addCleanup(manager.close)
    client = manager.open_resource(resource or f"TCPIP::{host}::{port}::SOCKET",
                                   read_termination="\n", write_termination="\n", timeout=timeout)
    test.addCleanup(client.close)
    return client


class Client:
    def __init__(self, port, host="127.0.0.1", timeout=5):
        self.socket = socket.create_connection((host, port), timeout=timeout)
        self.socket.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.buffer = b""

    def write(self, line):
        self.socket.sendall((line if isinstance(line, bytes) else line.encode()) + b"\n")

    def read(self):
        while b"\n" not in self.buffer:
            chunk = self.socket.recv(65536)
            if not chunk:
                raise ConnectionError("the server closed the connection")
            self.buffer += chunk
        line, _, self.buffer = self.buffer.partition(b"\n")
        return line.decode(errors="replace")

    def query(self, line):
        self.write(line)
        return self.read()

    def close(self):
        self.socket.close()

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()
