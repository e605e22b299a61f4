#!/usr/bin/env python3
"""Replays a stranger's attacks on the remote protocol of the host program over TCP on loopback,
while a probe client asks "read root\\sys\\_name" on a new connection every 0.5 s, and prints the
probe's waits per attack.

Starts the built program in a fresh root folder of its own (twice: the wall-clock step needs its own
start). The attackers use loopback addresses 127.0.0.10 and up, the probe 127.0.0.1, so that each is
a client of its own as on a network. Every phase is bounded in connections and seconds.

  login     guesses a 4-digit password: first as fast as three connections go (how many answers the
            unit looked at, from its log), then measuring the back-off (how long the right password
            is refused after each failure)
  idle      200 connections that send nothing, from 8 addresses
  reconnect 200 connections from 8 addresses, reconnecting whenever dropped
  slow      20 clients sending a request one byte a second, from 5 addresses
  clock     the wall clock set back an hour: idle connections still go, a poll still sees changes

    scripts/remote_attack.py [--program build/kestrun] [--seconds 10]
"""
import argparse
import atexit
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

from remote import free_port, login_hash

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PASSWORD = "4711"
NAME_REQUEST = b"read root\\sys\\_name"


def connect(port, host, timeout=5.0):
    s = socket.socket()
    s.settimeout(timeout)
    s.bind(("127.0.0.%d" % host, 0))
    s.connect(("127.0.0.1", port))
    return s


def ask(port, host, request, timeout=10.0):
    """One request on a new connection; the reply without its NUL, or None."""
    try:
        with connect(port, host, timeout) as s:
            s.sendall(request + b"\0")
            reply = b""
            while not reply.endswith(b"\0"):
                chunk = s.recv(1 << 16)
                if not chunk:
                    return None
                reply += chunk
            return reply[:-1]
    except OSError:
        return None


def token_of(reply):
    m = re.match(rb"token ([0-9A-F]{16}) ", reply or b"")
    return m.group(1).decode() if m else ""


class Unit:
    # Every program started, so that one the script leaves behind (an exception, a closed pipe) is killed
    # at its exit.
    started_units = []

    def __init__(self, program, steps=None):
        self.root = tempfile.mkdtemp(prefix="kestrun-attack-")
        self.port = free_port()
        env = dict(os.environ, KESTRUN_ROOT=self.root, KESTRUN_TCP_PORT=str(self.port))
        if steps:
            env["KESTRUN_CLOCK_STEPS"] = steps
        self.log = open(os.path.join(self.root, "program.log"), "wb")
        self.process = subprocess.Popen([program], env=env, stdout=self.log, stderr=subprocess.STDOUT)
        Unit.started_units.append(self)
        self.started = time.monotonic()
        deadline = time.monotonic() + 30
        while ask(self.port, 1, NAME_REQUEST, 1.0) is None:
            if time.monotonic() > deadline or self.process.poll() is not None:
                raise SystemExit("the program did not answer")
            time.sleep(0.2)

    def text(self):
        with open(os.path.join(self.root, "program.log"), "rb") as f:
            return f.read()

    def stop(self, failed=False):
        """Kills the program; whether it was still alive. Its root folder is removed, unless it had
        died or the caller's check failed (then its path is printed)."""
        alive = self.process.poll() is None
        self.process.kill()
        self.process.wait()
        self.log.close()
        if failed or not alive:
            print("the program's root folder and log are kept in %s" % self.root)
        else:
            shutil.rmtree(self.root, ignore_errors=True)
        return alive


class Probe(threading.Thread):
    """Asks every 0.5 s on a new connection; waits are recorded under the current phase."""

    def __init__(self, port):
        super().__init__(daemon=True)
        self.port, self.phase, self.waits, self.stopping = port, "start", {}, False

    def run(self):
        while not self.stopping:
            phase, start = self.phase, time.monotonic()
            reply = ask(self.port, 1, NAME_REQUEST, 10.0)
            wait = time.monotonic() - start if reply and b"_name" in reply else float("inf")
            self.waits.setdefault(phase, []).append(wait)
            time.sleep(max(0.0, 0.5 - (time.monotonic() - start)))


def crowd(port, hosts, count, seconds, reconnect):
    """`count` connections from `hosts`, sending nothing; reconnected when dropped if `reconnect`."""
    sockets, end, made = [], time.monotonic() + seconds, 0
    while time.monotonic() < end:
        alive = []
        for s in sockets:
            try:
                s.setblocking(False)
                if s.recv(1) == b"":
                    s.close()
                    continue
            except BlockingIOError:
                pass
            except OSError:
                s.close()
                continue
            alive.append(s)
        sockets = alive
        while len(sockets) < count and (reconnect or made < count):
            try:
                sockets.append(connect(port, hosts[made % len(hosts)], 1.0))
            except OSError:
                pass
            made += 1
        time.sleep(0.02)
    for s in sockets:
        s.close()
    return made


def slow_sender(port, host, seconds):
    end = time.monotonic() + seconds
    request = NAME_REQUEST + b"\0"
    s, at = None, 0
    while time.monotonic() < end:
        try:
            if s is None:
                s = connect(port, host, 1.0)
            s.send(request[at:at + 1])
            at = (at + 1) % len(request)
        except OSError:
            if s:
                s.close()
            s = None
        time.sleep(1.0)
    if s:
        s.close()


def brute_force(unit, seconds):
    port = unit.port
    ask(port, 1, b'write root\\sys\\pwd:{"value":"%s"}' % PASSWORD.encode())
    # As fast as three connections go, with the right password once in every hundred guesses. Whether
    # it is accepted depends only on whether it happens to be an answer the unit looks at (the first
    # after a wait); what the back-off shows is how few answers are looked at.
    found, guesses, rights, lock = [False], [0], [0], threading.Lock()
    end = time.monotonic() + seconds

    def guesser(first):
        token = token_of(ask(port, 10, b"read root\\none"))
        n = first
        while time.monotonic() < end and not found[0]:
            guess = "%04d" % (n % 10000) if n % 100 != 42 else PASSWORD
            reply = ask(port, 10, b"token " + login_hash(guess + token).encode())
            with lock:
                guesses[0] += 1
                rights[0] += guess == PASSWORD
            if reply is None:
                continue
            if b" y\r\n" in reply:
                found[0] = True
            token = token_of(reply)
            n += 3

    threads = [threading.Thread(target=guesser, args=(i,)) for i in range(3)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    # Each wrong answer the unit looked at is a failure; the log names the count at the first refusal
    # after each of them (the last one may not be named yet).
    failures = [int(n) for n in re.findall(rb"from 127\.0\.0\.10 throttled after (\d+) failures", unit.text())]
    looked = max(failures, default=0) + found[0]
    print("login    %d guesses from one address, %d of them looked at; the right password, sent %d times, %s" %
          (guesses[0], looked, rights[0],
           "was accepted (the first answer looked at after a wait)" if found[0] else
           "was never looked at (%.0f s of guessing)" % seconds))

    # The back-off as a patient guesser meets it: after k wrong answers, each made once the previous
    # wait was over, how long the right one is refused (tried every 0.2 s; a refused try is not looked
    # at and does not lengthen the wait). Each k from an address of its own.
    waits = []
    for k, host in ((3, 11), (4, 12), (5, 13)):
        token = token_of(ask(port, host, b"read root\\none"))
        pause = 0.0
        for failure in range(k):
            time.sleep(pause)
            token = token_of(ask(port, host, b"token " + login_hash("0000" + token).encode()))
            pause = 0.0 if failure < 2 else 2 ** (failure - 2) + 0.2
        failed = time.monotonic()
        while True:
            reply = ask(port, host, b"token " + login_hash(PASSWORD + token).encode())
            token = token_of(reply)
            if reply and b" y\r\n" in reply:
                break
            time.sleep(0.2)
        waits.append(time.monotonic() - failed)
    print("login    the right answer refused after 3, 4, 5 wrong ones for: %s s" % ", ".join("%.1f" % w for w in waits))
    # 3 free failures, then 1 s doubling to 60 s: the whole 4-digit space.
    total = sum(0 if k < 3 else min(2 ** (k - 3), 60) for k in range(10000))
    print("login    trying all 10,000 4-digit passwords takes at least %.1f days (half that on average)" %
          (total / 86400))


def phase(probe, name, action):
    probe.phase = name
    action()
    time.sleep(0.6)


def report(waits):
    worst = 0.0
    for name, values in waits.items():
        if name == "start" or not values:
            continue
        answered = [w for w in values if w != float("inf")]
        w = max(values)
        worst = max(worst, w)
        print("probe    %-10s %2d asked, %2d answered, worst wait %s" %
              (name, len(values), len(answered), "none in 10 s" if w == float("inf") else "%.3f s" % w))
    return worst


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--program", default=os.path.join(REPO, "build/kestrun"))
    parser.add_argument("--seconds", type=float, default=10.0, help="length of each crowd phase")
    args = parser.parse_args()
    seconds = max(2.0, min(args.seconds, 60.0))

    unit = Unit(args.program)
    probe = Probe(unit.port)
    probe.start()
    phase(probe, "login", lambda: brute_force(unit, seconds))
    phase(probe, "idle", lambda: crowd(unit.port, list(range(20, 28)), 200, seconds, False))
    phase(probe, "reconnect", lambda: crowd(unit.port, list(range(30, 38)), 200, seconds, True))

    def slow():
        threads = [threading.Thread(target=slow_sender, args=(unit.port, 40 + i % 5, seconds)) for i in range(20)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()

    phase(probe, "slow", slow)
    probe.stopping = True
    probe.join()
    waits = dict(probe.waits)
    alive = unit.stop()

    # The wall clock set back an hour 3 s after start: idle clients still go, polls still see changes.
    unit = Unit(args.program, steps="3000:-3600")
    probe = Probe(unit.port)
    probe.start()
    ask(unit.port, 12, b"read root")
    time.sleep(max(0.0, unit.started + 3.5 - time.monotonic()))
    ask(unit.port, 13, b'write root\\sys\\alias:{"value":"after the step"}')
    seen = b"after the step" in (ask(unit.port, 12, b"read root\\sys") or b"")
    phase(probe, "clock", lambda: crowd(unit.port, list(range(50, 53)), 20, seconds, False))
    probe.stopping = True
    probe.join()
    waits["clock"] = probe.waits.get("clock", [])
    alive = unit.stop(failed=not seen) and alive
    print("clock    a change made after the step reached a poll made before it: %s" % ("yes" if seen else "NO"))

    worst = report(waits)
    print("probe    worst wait over all attacks: %s" % ("none in 10 s" if worst == float("inf") else "%.3f s" % worst))
    if not alive:
        print("the program died")
    return 0 if alive and seen and worst < 1.0 else 1


@atexit.register
def kill_left_behind():
    for unit in Unit.started_units:
        if unit.process.poll() is None:
            unit.process.kill()
            unit.process.wait()


if __name__ == "__main__":
    sys.exit(main())
