#!/usr/bin/env python3
"""Fuzzes the remote protocol of a running host program over TCP on loopback.

Starts the built program in a fresh root folder of its own, then sends mutated requests from several
clients at once: valid lines with mangled paths and JSON, random bytes, thousands of lines, requests
split over many segments, connections closed early or never read. Bounded by a request count and a
time limit. Reports requests, connections, replies, crashes, memory, and whether the stored files
changed. It waits for the program to answer as long as the program runs, and removes the root folder
afterwards unless the run failed.

Default: a login password is set first and the fuzzing clients never log in, so nothing may change
any stored file, and no reply may carry a secret. With --open no password is set: every verb is
served (writes change files), and only crashes and hangs count.

    scripts/remote_fuzz.py [--program build/kestrun] [--requests 20000] [--seconds 120] [--open]
"""
import argparse
import os
import random
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

from remote import free_port, read_reply

SECRET = "fuzz-wifi-secret"
PASSWORD = "fuzz-login"
# The TCP server takes requests up to this many bytes, NUL included.
MAX_REQUEST = 65535
VERBS = ["browse ", "read ", "write ", "dwrite ", "dread ", "dswap ", "dmove ", "supd ", "upd ", "token "]


def exchange(port, request, timeout=5.0):
    """One connection, one request, its reply (b"" when none came)."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(request + b"\0")
        reply = b""
        while not reply.endswith(b"\0"):
            chunk = s.recv(1 << 20)
            if not chunk:
                break
            reply += chunk
        return reply


def answers(port):
    """Whether the program answers a request on the port now."""
    try:
        return exchange(port, b"browse root\\nothing", timeout=5).endswith(b"\0")
    except OSError:
        return False


def resident_kb(pid, field="VmRSS"):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith(field + ":"):
                    return int(line.split()[1])
    except OSError:
        pass
    return -1


def snapshot(folder):
    files = {}
    for name in sorted(os.listdir(folder)):
        with open(os.path.join(folder, name), "rb") as f:
            files[name] = f.read()
    return files


class Generator:
    def __init__(self, rng, paths):
        self.rng = rng
        self.paths = paths

    def path(self):
        r = self.rng
        p = r.choice(self.paths)
        roll = r.random()
        if roll < 0.1:
            p = p[: r.randrange(len(p) + 1)]
        elif roll < 0.2:
            p = p.replace("\\", r.choice(["\\\\", "/", "", "\\\\\\"]), 1)
        elif roll < 0.25:
            p += "\\" + "x" * r.randrange(1, 300)
        return p

    def json(self):
        r = self.rng
        forms = [
            '{"value":%s}' % r.choice(['"x"', "1.5", "-1e309", "nan", '""', '"' + "y" * r.randrange(0, 6000) + '"',
                                       "{", '"\\"', "99999999999999999999", '"ON"', '"OFF"']),
            '{"index":%d,"chunk":%d,"value":"%s"}' % (r.randrange(-3, 70), r.randrange(-3, 600),
                                                     "".join(r.choice("0123456789abcdefxyz") for _ in range(r.randrange(0, 300)))),
            '{"index":%d,"index2":%d}' % (r.randrange(-3, 70), r.randrange(-3, 70)),
            '{"name":"%s","index":%d}' % ("n" * r.randrange(0, 200), r.randrange(-3, 70)),
            "",
            "{" * r.randrange(1, 50),
        ]
        return r.choice(forms)

    def line(self):
        r = self.rng
        verb = r.choice(VERBS)
        if verb in ("browse ", "read "):
            return verb + self.path()
        if verb == "supd ":
            return verb + r.choice(["0", "10", "4096", "-5", "x", str(r.randrange(0, 1 << 40))])
        if verb == "upd ":
            return verb + "".join(r.choice("0123456789abcdefg") for _ in range(r.randrange(0, 5000)))
        if verb == "token ":
            return verb + "".join(r.choice("0123456789ABCDEF") for _ in range(r.choice([0, 15, 16, 17])))
        return verb + self.path() + ":" + self.json()

    def request(self):
        r = self.rng
        roll = r.random()
        if roll < 0.05:
            return bytes(r.randrange(1, 256) for _ in range(r.randrange(0, 3000)))
        if roll < 0.08:
            line = self.line()
            return ((line + "\r\n") * (65000 // (len(line) + 2) + 1)).encode()[: r.randrange(1000, 70000)]
        lines = [self.line() for _ in range(r.choice([1, 1, 1, 2, 3, 10, 50]))]
        sep = r.choice(["\r\n", "\r\n", "\n", "\r", ""])
        text = sep.join(lines)
        if r.random() < 0.1:
            text = text.replace(":", "", 1)
        return text.encode("utf-8", "surrogateescape")


class Stats:
    def __init__(self):
        self.lock = threading.Lock()
        self.requests = self.connections = self.replies = self.reply_bytes = self.timeouts = 0
        self.leaks = []
        self.max_reply = 0

    def add(self, **counts):
        with self.lock:
            for key, value in counts.items():
                setattr(self, key, getattr(self, key) + value)


def client(port, seed, paths, stats, budget, deadline, check_secrets):
    rng = random.Random(seed)
    gen = Generator(rng, paths)
    sock = None
    while time.monotonic() < deadline:
        with budget["lock"]:
            if budget["left"] <= 0:
                break
            budget["left"] -= 1
        try:
            if sock is None or rng.random() < 0.3:
                if sock:
                    sock.close()
                sock = socket.create_connection(("127.0.0.1", port), timeout=10)
                stats.add(connections=1)
            request = gen.request()
            roll = rng.random()
            data = request + b"\0" if roll > 0.02 else request  # sometimes no NUL at all
            if rng.random() < 0.1:
                step = max(1, len(data) // rng.randrange(2, 8))
                for i in range(0, len(data), step):
                    sock.sendall(data[i : i + step])
            else:
                sock.sendall(data)
            stats.add(requests=1)
            if roll <= 0.02 or len(data) >= MAX_REQUEST or rng.random() < 0.03:
                # Goes away without its reply, or sent what can have none: a request without its NUL,
                # or one longer than the server takes, which it drops.
                sock.close()
                sock = None
                continue
            reply = read_reply(sock) + b"\0"
            stats.add(replies=1, reply_bytes=len(reply))
            with stats.lock:
                stats.max_reply = max(stats.max_reply, len(reply))
            if check_secrets and (SECRET.encode() in reply or PASSWORD.encode() in reply):
                with stats.lock:
                    stats.leaks.append(request[:200])
        except socket.timeout:
            stats.add(timeouts=1)
            sock.close()
            sock = None
        except (OSError, ConnectionError):
            if sock:
                sock.close()
            sock = None
    if sock:
        sock.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--program", default=os.path.join(os.path.dirname(__file__), "..", "build", "kestrun"))
    parser.add_argument("--requests", type=int, default=20000)
    parser.add_argument("--seconds", type=float, default=120)
    parser.add_argument("--clients", type=int, default=4)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--open", action="store_true", help="no login password: every verb is served")
    args = parser.parse_args()

    root = tempfile.mkdtemp(prefix="kestrun-fuzz-")
    port = free_port()
    env = dict(os.environ, KESTRUN_ROOT=root, KESTRUN_TCP_PORT=str(port))
    env.pop("KESTRUN_DBUS_ADDRESS", None)
    log = open(os.path.join(root, "kestrun.log"), "w")
    try:
        unit = subprocess.Popen([args.program], env=env, stdout=log, stderr=subprocess.STDOUT)
    except OSError as e:
        print(f"remote_fuzz: cannot start {args.program}: {e.strerror}")
        shutil.rmtree(root, ignore_errors=True)
        return 1
    failed = True
    try:
        # A fresh root on a loaded machine may take far longer than usual: wait as long as the program
        # runs, until it answers.
        while not answers(port):
            if unit.poll() is not None:
                print(f"remote_fuzz: the program ended before it answered (exit {unit.returncode}); "
                      f"its log: {os.path.join(root, 'kestrun.log')}")
                return 1
            time.sleep(0.2)
        storage = os.path.join(root, "home", "storage")
        setup = 'write root\\sys\\wifi\\password:{"value":"%s"}' % SECRET
        if not args.open:
            setup += '\r\nwrite root\\sys\\pwd:{"value":"%s"}' % PASSWORD
        exchange(port, setup.encode())
        browse = exchange(port, b"browse root").decode("utf-8", "replace")
        paths = [line.split(":{", 1)[0].split(" ", 2)[-1] for line in browse.split("\r\n") if ":{" in line]
        # Let the storage cycle write the settings, then take what must not change.
        time.sleep(6)
        before = snapshot(storage)
        rss_start = resident_kb(unit.pid)

        stats = Stats()
        budget = {"left": args.requests, "lock": threading.Lock()}
        deadline = time.monotonic() + args.seconds
        started = time.monotonic()
        threads = [threading.Thread(target=client, args=(port, args.seed * 1000 + i, paths, stats, budget, deadline,
                                                          not args.open))
                   for i in range(args.clients)]
        peak = rss_start

        for t in threads:
            t.start()
        while any(t.is_alive() for t in threads):
            peak = max(peak, resident_kb(unit.pid))
            if unit.poll() is not None:
                break
            time.sleep(0.2)
        for t in threads:
            t.join()
        elapsed = time.monotonic() - started

        crashed = unit.poll() is not None
        probe_ms = -1
        if not crashed:
            t0 = time.monotonic()
            try:
                if exchange(port, b"browse root\\sys\\_name", timeout=5).endswith(b"\0"):
                    probe_ms = int((time.monotonic() - t0) * 1000)
            except OSError:
                pass
            time.sleep(6)  # anything changed would be written by now
        after = snapshot(storage) if os.path.isdir(storage) else {}
        changed = sorted(k for k in set(before) | set(after) if before.get(k) != after.get(k))
        image = os.path.exists(os.path.join(root, "home", "app_run"))

        print(f"requests sent       {stats.requests}")
        print(f"connections         {stats.connections}")
        print(f"replies received    {stats.replies} ({stats.reply_bytes} bytes, largest {stats.max_reply})")
        print(f"replies missing     {stats.timeouts} (none within 10 s)")
        print(f"time                {elapsed:.1f} s")
        print(f"crashes             {1 if crashed else 0}" + (f" (exit {unit.returncode})" if crashed else ""))
        print(f"answer after run    {probe_ms} ms")
        print(f"resident memory     {rss_start} kB at start, {peak} kB peak, {resident_kb(unit.pid)} kB at end")
        if not args.open:
            print(f"stored files        {len(before)} compared, {len(changed)} changed{': ' + ', '.join(changed) if changed else ''}")
            print(f"program image       {'written' if image else 'not written'}")
            print(f"secrets in replies  {len(stats.leaks)}")
        failed = crashed or probe_ms < 0 or stats.timeouts or (not args.open and (changed or image or stats.leaks))
        print("remote_fuzz: " + ("FAILED" if failed else "passed"))
        return 1 if failed else 0
    finally:
        if unit.poll() is None:
            unit.send_signal(signal.SIGKILL)
            unit.wait()
        log.close()
        # The root holds every list element (tens of MB): kept only when something is to be looked at.
        if failed:
            print(f"remote_fuzz: root kept for a look: {root}")
        else:
            shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
