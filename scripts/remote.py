#!/usr/bin/env python3
"""A client of the unit's remote text protocol over TCP, shared by the upload tools; run by itself, it
sends requests and prints their replies:

    scripts/remote.py [--host ADDRESS] [--port PORT] [--password PASSWORD] REQUEST...

Each REQUEST is one line of the protocol, e.g. 'read root\\app\\amp\\gain' (quoted for the shell), sent
as a request of its own; its reply is printed with one fragment a line. Once a login password is set
the tool logs in with --password (or $KESTRUN_PASSWORD) before every request that needs it.

A request is one text ended by a NUL byte, and so is its reply; several lines of one request are
joined by CR LF, and their replies come back joined with nothing between them. The connection stays
open for the next request (the unit closes it after 5 s without one).

Once a login password is set, every reply starts with a line "token T y" or "token T n": the next
request answers T on its first line ("token " and the login hash of the password followed by T),
or only browse and read are served.
"""
import argparse
import os
import re
import socket
import sys

# Requests stay well below the unit's 64 KiB request buffer.
REQUEST_BYTES = 60000


REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
_tables = None


def login_hash(text):
    """The unit's login hash of `text` (the password followed by the token), in upper-case hex."""
    global _tables
    if _tables is None:
        # The published tables, taken from the program's source in this clone.
        source = open(os.path.join(REPO, "src/params/Security.cpp")).read()

        def table(name):
            body = re.search(r"Security::%s\[\d+\] = \{([^}]*)\}" % name, source).group(1)
            return [int(v) for v in body.replace("\n", " ").split(",") if v.strip()]

        salt = re.search(r'Security::salt = "([^"]*)"', source).group(1)
        _tables = (table("keys1"), table("keys2"), table("rKeys1"), table("rKeys2"), table("initialState"), salt)
    t1, t2, p1, p2, initial, salt = _tables
    s = list(initial)
    for index, byte in enumerate((text + salt).encode()):
        i = index & 0xFF
        a = index % 8
        p, q = p1[a], p2[a]
        s[a] = (s[a] + t1[s[q]] + i + byte) & 0xFF
        s[a] = (s[a] + t2[(s[p] + i) & 0xFF]) & 0xFF
        s[a] = (s[a] + t1[s[p1[i & 6]]]) & 0xFF
        s[a] = (s[a] + t2[s[p2[i & 5]]]) & 0xFF
        s[p] = (s[p] + t1[s[i & 2]]) & 0xFF
        s[p] = (s[p] + t2[s[i & 3]]) & 0xFF
        s[q] = (s[q] + t1[s[i & 5]]) & 0xFF
        s[q] = (s[q] + t2[s[a]] + ((32 - i) & 0xFF)) & 0xFF
    return "".join("%02X" % v for v in s)


def free_port():
    """A TCP port on loopback that nothing listens on now (for a program started by a tool or test)."""
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def read_reply(sock):
    """One reply from `sock`, without its NUL; ConnectionResetError when the connection closes before
    the reply's end."""
    reply = b""
    while not reply.endswith(b"\0"):
        chunk = sock.recv(1 << 16)
        if not chunk:
            raise ConnectionResetError("closed before the end of the reply")
        reply += chunk
    return reply[:-1]


class RemoteError(Exception):
    """Something the user has to act on; its text says what."""


class Remote:
    def __init__(self, host, port, timeout=30.0, password=None):
        self.address = (host, port)
        self.timeout = timeout
        self.password = password
        self.token = None
        self.sock = None

    def _connect(self):
        try:
            self.sock = socket.create_connection(self.address, timeout=self.timeout)
        except OSError as e:
            raise RemoteError(f"cannot reach the unit at {self.address[0]} port {self.address[1]}: {e.strerror or e} "
                              "(is the program running? KESTRUN_TCP_PORT or --port chooses the port)")

    def _exchange(self, request):
        for attempt in (1, 2):
            if self.sock is None:
                self._connect()
            try:
                self.sock.sendall(request.encode("latin-1") + b"\0")
                return read_reply(self.sock).decode("latin-1")
            except (ConnectionError, BrokenPipeError):
                # Closed after 5 s without a request: connect again once.
                self.close()
                if attempt == 2:
                    raise RemoteError("the unit closed the connection twice in a row")
            except socket.timeout:
                raise RemoteError(f"no reply within {self.timeout:.0f} s")

    def ask(self, request):
        """Sends one request (text) and returns its reply (text, without the NUL or a token line)."""
        for attempt in (1, 2):
            answer = ""
            if self.password is not None and self.token is not None:
                answer = "token " + login_hash(self.password + self.token) + "\r\n"
            text = self._exchange(answer + request)
            if not text.startswith("token "):
                return text
            first, _, text = text.partition("\r\n")
            self.token, _, granted = first[6:].partition(" ")
            if granted == "y":
                return text
            if self.password is None:
                raise RemoteError("the unit asks for a login (a password is set in root\\sys\\pwd): "
                                  "give it with --password or $KESTRUN_PASSWORD")
            # The first request only fetches the token to answer.
            if attempt == 2 or answer:
                raise RemoteError("the unit refused the password (after several wrong ones it makes a "
                                  "client wait up to a minute before it looks at the next)")

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
    parser.add_argument("--password", default=os.environ.get("KESTRUN_PASSWORD"),
                        help="the login password, when one is set (default: $KESTRUN_PASSWORD)")


def connect(args):
    port = args.port
    if port is None:
        text = os.environ.get("KESTRUN_TCP_PORT", "")
        port = int(text) if text.isdigit() else 8080
    return Remote(args.host, port, password=args.password)


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


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("requests", nargs="+", metavar="REQUEST", help="one line of the protocol")
    add_connection_options(parser)
    args = parser.parse_args()
    remote = connect(args)
    for request in args.requests:
        # The client carries bytes as Latin-1 characters: the command line's bytes (UTF-8 names) go out
        # and come back as they are.
        reply = remote.ask(os.fsencode(request).decode("latin-1")).rstrip("\r\n").replace("\r\n", "\n")
        sys.stdout.buffer.write(reply.encode("latin-1") + b"\n")
        sys.stdout.flush()
    remote.close()


if __name__ == "__main__":
    run(main)
