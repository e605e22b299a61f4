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
  idle-N, trickle-N, per-request-N, reader-N
            N addresses (64 by default), one connection each, reopened at once when dropped: held
            idle; 1,100 bytes without a NUL, then a byte every 0.2 s; a connection per request in a
            loop; "browse root" (about 45 kB) read 16 bytes every 10 ms through a 2 kB receive buffer
  guess-80  80 addresses guessing at full speed, while an editor logged in before polls every 0.5 s
            on a kept connection and fresh addresses log in with the right password
  clock     the wall clock set back an hour: idle connections still go, a poll still sees changes

The probe moves to a fresh address for each phase. The run fails unless every probe is answered
within a second, the editor keeps 95 % of its polls, and each fresh login takes under 2 s.

    scripts/remote_attack.py [--program build/kestrun] [--seconds 10] [--addresses 64]
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

from remote import free_port, login_hash, read_reply

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PASSWORD = "4711"
NAME_REQUEST = b"read root\\sys\\_name"


def address(host):
    """Loopback address number `host` (127.0.0.1 is 1, 127.0.1.0 is 256)."""
    return "127.0.%d.%d" % (host >> 8, host & 255)


def connect(port, host, timeout=5.0):
    s = socket.socket()
    s.settimeout(timeout)
    s.bind((address(host), 0))
    s.connect(("127.0.0.1", port))
    return s


def ask(port, host, request, timeout=10.0):
    """One request on a new connection; the reply without its NUL, or None."""
    try:
        with connect(port, host, timeout) as s:
            s.sendall(request + b"\0")
            return read_reply(s)
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
    """Asks every 0.5 s on a new connection, from the address of the current phase; waits are
    recorded under the phase."""

    def __init__(self, port):
        super().__init__(daemon=True)
        self.port, self.phase, self.host, self.waits, self.stopping = port, "start", 100, {}, False

    def run(self):
        while not self.stopping:
            phase, start = self.phase, time.monotonic()
            reply = ask(self.port, self.host, NAME_REQUEST, 10.0)
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


def many(port, kind, first_host, addresses, seconds):
    """One connection from each of `addresses` hosts, reopened at once when dropped, behaving as
    `kind` says (see the module's help); all driven by one loop. Returns the connections made."""
    conns, made, end = {}, 0, time.monotonic() + seconds
    request = (b"browse root" if kind == "reader" else NAME_REQUEST) + b"\0"
    tick = 0
    while time.monotonic() < end:
        for host in range(first_host, first_host + addresses):
            s = conns.get(host)
            if s is None:
                try:
                    s = socket.socket()
                    if kind == "reader":
                        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 2048)
                    s.settimeout(1.0)
                    s.bind((address(host), 0))
                    s.connect(("127.0.0.1", port))
                    s.setblocking(False)
                    made += 1
                    if kind == "trickle":
                        s.send(b"x" * 1100)
                    elif kind in ("per-request", "reader"):
                        s.send(request)
                except OSError:
                    s.close()
                    continue
                conns[host] = s
            done = False
            try:
                chunk = s.recv(16 if kind == "reader" else 4096)
                done = not chunk or chunk.endswith(b"\0")
                if kind == "per-request" and chunk and not done:
                    s.setblocking(True)
                    while not chunk.endswith(b"\0"):
                        more = s.recv(4096)
                        if not more:
                            break
                        chunk += more
                    done = True
                if kind == "trickle" and tick % 20 == 0:
                    s.send(b"x")
            except BlockingIOError:
                pass
            except OSError:
                done = True
            if done:
                s.close()
                del conns[host]
        tick += 1
        time.sleep(0.01)
    for s in conns.values():
        s.close()
    return made


def guessing_crowd(unit, seconds, addresses=80):
    """`addresses` guessers at full speed; meanwhile an editor logged in before polls on a kept
    connection and fresh addresses log in with the right password. Returns whether both held."""
    port, end = unit.port, time.monotonic() + seconds
    ask(port, 1, b'write root\\sys\\pwd:{"value":"%s"}' % PASSWORD.encode())

    def login_line(token):
        return b"token " + login_hash(PASSWORD + token).encode() + b"\r\n"

    editor = connect(port, 3)

    def editor_ask(request):
        nonlocal editor
        try:
            if editor is None:
                editor = connect(port, 3)
            editor.sendall(request + b"\0")
            return read_reply(editor)
        except OSError:
            if editor:
                editor.close()
            editor = None
            return None

    token = token_of(editor_ask(b"read root\\none"))
    token = token_of(editor_ask(login_line(token) + b"read root\\none"))

    def guesser(host):
        n = 0
        while time.monotonic() < end:
            t = token_of(ask(port, host, b"read root\\none", 3.0))
            ask(port, host, b"token " + login_hash("%04d" % (n % 10000) + t).encode(), 3.0)
            n += 1

    threads = [threading.Thread(target=guesser, args=(200 + i,)) for i in range(addresses)]
    for t in threads:
        t.start()
    logins = []

    def newcomers():
        for host in range(300, 306):
            time.sleep(max(0.5, seconds / 7))
            start = time.monotonic()
            reply = ask(port, host, login_line(token_of(ask(port, host, b"read root\\none", 5.0))), 5.0)
            logins.append(time.monotonic() - start if reply and b" y\r\n" in reply else float("inf"))

    fresh = threading.Thread(target=newcomers)
    fresh.start()
    polls = accepted = refused = 0
    while time.monotonic() < end:
        start = time.monotonic()
        reply = editor_ask(login_line(token) + NAME_REQUEST)
        polls += 1
        accepted += bool(reply) and b" y\r\n" in reply
        refused += bool(reply) and b" n\r\n" in reply
        if reply:
            token = token_of(reply)
        time.sleep(max(0.0, 0.5 - (time.monotonic() - start)))
    fresh.join()
    for t in threads:
        t.join()
    if editor:
        editor.close()
    counted = b"from 127.0.0.3 throttled" in unit.text()
    print("guess    %d addresses guessing: the editor's polls %d, accepted %d, refused %d%s; fresh logins "
          "with the right password took %s s" %
          (addresses, polls, accepted, refused, ", COUNTED AS FAILURES" if counted else "",
           ", ".join("%.2f" % w for w in logins)))
    return accepted >= 0.95 * polls and not refused and not counted and max(logins, default=0) < 2.0


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
    """Runs `action` with the probe asking from a fresh address; returns what the action returned."""
    probe.phase = name
    probe.host += 1
    result = action()
    time.sleep(0.6)
    return result


def report(waits):
    worst = 0.0
    for name, values in waits.items():
        if name == "start" or not values:
            continue
        answered = [w for w in values if w != float("inf")]
        w = max(values)
        worst = max(worst, w)
        print("probe    %-15s %2d asked, %2d answered, worst wait %s" %
              (name, len(values), len(answered), "none in 10 s" if w == float("inf") else "%.3f s" % w))
    return worst


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--program", default=os.path.join(REPO, "build/kestrun"))
    parser.add_argument("--seconds", type=float, default=10.0, help="length of each crowd phase")
    parser.add_argument("--addresses", type=int, default=64, help="addresses of each many-address crowd")
    args = parser.parse_args()
    seconds = max(2.0, min(args.seconds, 60.0))
    addresses = max(1, min(args.addresses, 1000))

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
    first = 1000
    for kind in ("idle", "trickle", "per-request", "reader"):
        phase(probe, "%s-%d" % (kind, addresses), lambda: many(unit.port, kind, first, addresses, seconds))
        first += addresses
    guarded = phase(probe, "guess-80", lambda: guessing_crowd(unit, seconds))
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
    return 0 if alive and seen and guarded and worst < 1.0 else 1


@atexit.register
def kill_left_behind():
    for unit in Unit.started_units:
        if unit.process.poll() is None:
            unit.process.kill()
            unit.process.wait()


if __name__ == "__main__":
    sys.exit(main())
