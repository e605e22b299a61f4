"""A client of the unit's remote text protocol over TCP, shared by the upload tools.

A request is one text ended by a NUL byte, and so is its reply; several lines of one request are
joined by CR LF, and their replies come back joined with nothing between them. The connection stays
open for the next request (the unit drops it after 5 s without one).
"""
import os
import socket
import sys

# Requests stay well below the unit's 64 KiB request buffer.
REQUEST_BYTES = 60000


class RemoteError(Exception):
    """Something the user has to act on; its text says what."""


class Remote:
    def __init__(self, host, port, timeout=30.0):
        self.address = (host, port)
        self.timeout = timeout
        self.sock = None

    def _connect(self):
        try:
            self.sock = socket.create_connection(self.address, timeout=self.timeout)
        except OSError as e:
            raise RemoteError(f"cannot reach the unit at {self.address[0]} port {self.address[1]}: {e.strerror or e} "
                              "(is the program running? KESTRUN_TCP_PORT or --port chooses the port)")

    def ask(self, request):
        """Sends one request (text) and returns its reply (text, without the NUL)."""
        for attempt in (1, 2):
            if self.sock is None:
                self._connect()
            try:
                self.sock.sendall(request.encode("latin-1") + b"\0")
                reply = b""
                while not reply.endswith(b"\0"):
                    chunk = self.sock.recv(1 << 16)
                    if not chunk:
                        raise ConnectionResetError("closed")
                    reply += chunk
                break
            except (ConnectionError, BrokenPipeError):
                # Dropped after 5 s idle, or to let a waiting client in: connect again once.
                self.close()
                if attempt == 2:
                    raise RemoteError("the unit closed the connection twice in a row")
            except socket.timeout:
                raise RemoteError(f"no reply within {self.timeout:.0f} s")
        text = reply[:-1].decode("latin-1")
        if text.startswith("token "):
            raise RemoteError("the unit asks for a login (a password is set in root\\sys\\pwd): "
                              "these tools do not log in; remove the password to use them")
        return text

    def ask_lines(self, lines):
        """Sends the lines in as few requests as fit; yields (number of lines sent, reply) per request."""
        batch = []
        size = 0
        for line in lines:
            if batch and size + len(line) + 2 > REQUEST_BYTES:
                yield len(batch), self.ask("\r\n".join(batch))
                batch, size = [], 0
            batch.append(line)
            size += len(line) + 2
        if batch:
            yield len(batch), self.ask("\r\n".join(batch))

    def close(self):
        if self.sock is not None:
            self.sock.close()
            self.sock = None


class Progress:
    """One line on standard error, rewritten as the work goes on."""

    def __init__(self, total, unit):
        self.total = total
        self.unit = unit
        self.done = 0

    def add(self, count):
        self.done += count
        percent = 100 * self.done // max(self.total, 1)
        sys.stderr.write(f"\r  {self.done} of {self.total} {self.unit} ({percent} %)")
        sys.stderr.flush()

    def end(self):
        sys.stderr.write("\n")


def add_connection_options(parser):
    parser.add_argument("--host", default="127.0.0.1", help="the unit's address (default: this PC, the host build)")
    parser.add_argument("--port", type=int, default=None,
                        help="TCP port (default: $KESTRUN_TCP_PORT, else 8080)")


def connect(args):
    port = args.port
    if port is None:
        text = os.environ.get("KESTRUN_TCP_PORT", "")
        port = int(text) if text.isdigit() else 8080
    return Remote(args.host, port)


def run(main):
    """Runs a tool's main: a RemoteError ends it with its text and status 1."""
    try:
        sys.exit(main())
    except RemoteError as e:
        sys.stderr.write(f"\n{os.path.basename(sys.argv[0])}: {e}\n")
        sys.exit(1)
    except KeyboardInterrupt:
        sys.stderr.write("\nstopped\n")
        sys.exit(130)
