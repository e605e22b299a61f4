#!/usr/bin/env python3
"""Soak of the host program: audio running, three TCP clients, a computer on the serial
pseudo-terminal and a MIDI device changing presets, parameters and block switches for a chosen
time. Prints requests, reply latencies, memory, descriptors, threads and audio overruns over time,
then kills the program with SIGKILL, starts it again and checks what it stored.

Exit status 0 when no reply was missed, the program never died, memory, descriptors and threads
stayed flat and the stored state came back; 1 otherwise.
"""
import argparse
import os
import random
import re
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import tty

from remote import free_port

REPLY_TIMEOUT_S = 10.0
PRESETS = ["soak one", "soak two", "soak three"]
# Parameters the clients change; values are picked from their ranges.
PARAMETERS = [
    ("root\\app\\output\\vol", 0.0, 100.0),
    ("root\\app\\output\\aux", 0.0, 100.0),
    ("root\\settings\\input\\gain1", 0.0, 12.0),
    ("root\\settings\\input\\gain2", 0.0, 12.0),
]
VALUE = re.compile(r'"value":("([^"]*)"|[^,}]*)')


class Missed(Exception):
    pass


class Endpoint:
    """One remote-protocol client; ask() returns the reply without its NUL."""

    def __init__(self, name):
        self.name = name
        self.requests = 0
        self.missed = 0
        self.latencies = []
        self.lock = threading.Lock()

    def ask(self, request):
        started = time.monotonic()
        self.send((request + "\0").encode())
        reply = bytearray()
        deadline = started + REPLY_TIMEOUT_S
        while not reply.endswith(b"\0"):
            left = deadline - time.monotonic()
            if left <= 0:
                with self.lock:
                    self.missed += 1
                raise Missed(f"{self.name}: no reply to {request!r} within {REPLY_TIMEOUT_S} s")
            reply += self.receive(left)
        with self.lock:
            self.requests += 1
            self.latencies.append(time.monotonic() - started)
        return reply[:-1].decode(errors="replace")

    def take_latencies(self):
        with self.lock:
            taken, self.latencies = self.latencies, []
        return taken


class TcpEndpoint(Endpoint):
    def __init__(self, name, port):
        super().__init__(name)
        # The program logs its listen socket before it binds and listens: try for a while.
        deadline = time.monotonic() + 15
        while True:
            try:
                self.sock = socket.create_connection(("127.0.0.1", port), timeout=5)
                break
            except ConnectionRefusedError:
                if time.monotonic() > deadline:
                    raise
                time.sleep(0.05)
        self.sock.setblocking(False)

    def send(self, data):
        try:
            self.sock.setblocking(True)
            self.sock.sendall(data)
            self.sock.setblocking(False)
        except OSError as e:
            raise Missed(f"{self.name}: the connection failed: {e}") from e

    def receive(self, timeout):
        ready, _, _ = select.select([self.sock], [], [], timeout)
        if not ready:
            return b""
        try:
            data = self.sock.recv(65536)
        except OSError as e:
            raise Missed(f"{self.name}: the connection failed: {e}") from e
        if not data:
            raise Missed(f"{self.name}: connection closed")
        return data

    def close(self):
        self.sock.close()


class Pty:
    """A pseudo-terminal linked where the program opens a serial port, as the tests plug one."""

    def __init__(self, link):
        self.master, self.hold = os.openpty()
        tty.setraw(self.master)
        tty.setraw(self.hold)
        os.set_blocking(self.master, False)
        self.link = link
        if os.path.lexists(link):
            os.unlink(link)
        os.symlink(os.ttyname(self.hold), link)

    def close(self):
        if os.path.lexists(self.link):
            os.unlink(self.link)
        os.close(self.master)
        os.close(self.hold)


class SerialEndpoint(Endpoint):
    def __init__(self, name, pty):
        super().__init__(name)
        self.pty = pty

    def send(self, data):
        view = memoryview(data)
        while view:
            try:
                view = view[os.write(self.pty.master, view):]
            except BlockingIOError:
                select.select([], [self.pty.master], [], 0.1)

    def receive(self, timeout):
        ready, _, _ = select.select([self.pty.master], [], [], timeout)
        if not ready:
            return b""
        try:
            return os.read(self.pty.master, 65536)
        except (BlockingIOError, OSError):
            return b""


def value_of(reply):
    match = VALUE.search(reply)
    if not match:
        return None
    return match.group(2) if match.group(2) is not None else match.group(1)


class Program:
    def __init__(self, command, root, port):
        self.command, self.root, self.port = command, root, port
        self.process = None
        self.starts = 0
        self.log_path = None

    def start(self, audio_in):
        self.starts += 1
        self.log_path = os.path.join(self.root, f"kestrun.{self.starts}.log")
        env = dict(os.environ, KESTRUN_ROOT=self.root, KESTRUN_TCP_PORT=str(self.port),
                   KESTRUN_AUDIO_IN=audio_in, KESTRUN_AUDIO_OUT="none", KESTRUN_AUDIO_PACE="realtime")
        env.pop("KESTRUN_DBUS_ADDRESS", None)
        with open(self.log_path, "wb") as log:
            self.process = subprocess.Popen(self.command, env=env, stdout=log, stderr=subprocess.STDOUT,
                                            stdin=subprocess.DEVNULL)
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            if "I (Wifi): Listen socket created" in self.log():
                return
            if self.process.poll() is not None:
                break
            time.sleep(0.05)
        raise SystemExit(f"soak: the program did not start\n{self.log()[-3000:]}")

    def log(self):
        with open(self.log_path, "rb") as f:
            return f.read().decode(errors="replace")

    def alive(self):
        return self.process is not None and self.process.poll() is None

    def kill(self):
        if self.alive():
            self.process.send_signal(signal.SIGKILL)
        if self.process is not None:
            self.process.wait()

    def sample(self):
        pid = self.process.pid
        status = {}
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                key, _, value = line.partition(":")
                status[key] = value.strip()
        # A file the storage or shell log has open for a moment is no leak: the least of a few looks.
        fds = []
        for _ in range(5):
            fds.append(len(os.listdir(f"/proc/{pid}/fd")))
            time.sleep(0.02)
        return {
            "rss_kib": int(status["VmRSS"].split()[0]),
            "threads": int(status["Threads"]),
            "fds": min(fds),
        }

    def thread_states(self):
        """Each thread's name, scheduler state and kernel wait channel: where a stalled one waits."""
        lines = []
        task = f"/proc/{self.process.pid}/task"
        for tid in sorted(os.listdir(task), key=int):
            try:
                with open(f"{task}/{tid}/comm") as f:
                    name = f.read().strip()
                with open(f"{task}/{tid}/stat") as f:
                    state = f.read().rsplit(")", 1)[1].split()[0]
                with open(f"{task}/{tid}/wchan") as f:
                    wchan = f.read().strip()
            except OSError:
                continue
            lines.append(f"{name}:{state}:{wchan}")
        return " ".join(lines)

    def sanitizer_reports(self):
        """Reports of an instrumented build (ThreadSanitizer, AddressSanitizer, UBSan) in every log."""
        found = []
        for start in range(1, self.starts + 1):
            with open(os.path.join(self.root, f"kestrun.{start}.log"), "rb") as f:
                text = f.read().decode(errors="replace")
            found += re.findall(r"WARNING: ThreadSanitizer: [^\n]*|ERROR: AddressSanitizer: [^\n]*|runtime error: [^\n]*",
                                text)
        return found

    def overruns(self):
        """The audio frame's and each amp-model player's overrun counts from the latest statistics."""
        found = {}
        for tag in ("cycle ", "cpu 1", "cpu 2"):
            lines = re.findall(r"^W \(" + re.escape(tag) + r"\): .* - (\d+)$", self.log(), re.M)
            found[tag.strip()] = int(lines[-1]) if lines else 0
        return found


class Load:
    """The clients, each on its own thread, until stop is set."""

    def __init__(self, endpoints, midi, on_missed):
        self.endpoints = endpoints
        self.on_missed = on_missed
        self.midi = midi
        self.stop = threading.Event()
        self.errors = []
        self.midi_messages = 0
        self.midi_sent = 0
        self.midi_thru = 0
        self.threads = [threading.Thread(target=self.client, args=(e, i), daemon=True)
                        for i, e in enumerate(endpoints)]
        self.threads.append(threading.Thread(target=self.midi_device, daemon=True))

    def start(self):
        for t in self.threads:
            t.start()

    def finish(self):
        self.stop.set()
        for t in self.threads:
            t.join(REPLY_TIMEOUT_S + 5)

    def client(self, endpoint, number):
        rng = random.Random(number * 7919 + 1)
        try:
            while not self.stop.is_set():
                roll = rng.random()
                if roll < 0.35:
                    endpoint.ask("read root")
                elif roll < 0.70:
                    path, low, high = rng.choice(PARAMETERS)
                    value = round(rng.uniform(low, high), 1)
                    endpoint.ask(f"write {path}:{{\"value\":{value}}}")
                elif roll < 0.80:
                    endpoint.ask(f"write root\\app\\preset:{{\"value\":\"{rng.choice(PRESETS)}\"}}")
                elif roll < 0.90:
                    endpoint.ask("browse root\\sys")
                else:
                    # Two verbs in one request, as the companion application sends them.
                    endpoint.ask("read root\\app\r\nbrowse root\\app\\output\\vol")
                time.sleep(rng.uniform(0.005, 0.03))
        except Missed as e:
            self.errors.append(f"{e} (threads: {self.on_missed()})")
            self.stop.set()

    def midi_device(self):
        """Program changes over the saved presets and control changes switching blocks, with the
        timing clock between them; the program's MIDI thru is drained."""
        rng = random.Random(4242)
        fd = self.midi.master
        # Control changes 1, 2, 3, 5, 6 switch amp models, modulation and reverb; the tuner (11) would
        # mute the chain and is left alone.
        controllers = [1, 2, 3, 5, 6, 8, 9, 10]
        while not self.stop.is_set():
            roll = rng.random()
            if roll < 0.3:
                message = bytes([0xC0, rng.randrange(len(PRESETS))])
            elif roll < 0.8:
                message = bytes([0xB0, rng.choice(controllers), rng.choice([0, 127])])
            else:
                message = bytes([0xF8])
            try:
                self.midi_sent += os.write(fd, message)
                self.midi_messages += 1
            except BlockingIOError:
                pass
            try:
                while True:
                    thru = os.read(fd, 4096)
                    if not thru:
                        break
                    self.midi_thru += len(thru)
            except (BlockingIOError, OSError):
                pass
            time.sleep(rng.uniform(0.02, 0.1))


def percentiles(values):
    if not values:
        return "-"
    values = sorted(values)

    def at(p):
        return values[min(len(values) - 1, int(p / 100.0 * len(values)))] * 1000.0

    return f"{at(50):6.1f} {at(90):6.1f} {at(99):6.1f} {values[-1] * 1000.0:7.1f}"


def connect_serial(pty, seconds):
    """The program opens the port on its own schedule (every 2 s): ask until it answers."""
    endpoint = SerialEndpoint("serial", pty)
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        endpoint.send(b"browse root\\sys\\_name\0")
        got = bytearray()
        until = time.monotonic() + 1.0
        while time.monotonic() < until and not got.endswith(b"\0"):
            got += endpoint.receive(0.2)
        if got.endswith(b"\0"):
            return endpoint
    raise SystemExit("soak: the program never opened the serial port")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--program", required=True, help="the host build's kestrun")
    parser.add_argument("--emulator", default="",
                        help="runs the program under this command (a cross build: qemu-aarch64 and its options)")
    parser.add_argument("--seconds", type=float, default=120)
    parser.add_argument("--interval", type=float, default=0, help="seconds between samples (default: a tenth)")
    parser.add_argument("--audio-in", default="sine:110:0.3")
    parser.add_argument("--rss-growth-kib", type=int, default=4096,
                        help="largest allowed RSS growth after the first quarter of the run")
    parser.add_argument("--keep", action="store_true", help="keep the root folder")
    args = parser.parse_args()
    interval = args.interval or max(5.0, args.seconds / 10)

    root = tempfile.mkdtemp(prefix="kestrun-soak.")
    os.makedirs(os.path.join(root, "dev"), exist_ok=True)
    program = Program(args.emulator.split() + [os.path.abspath(args.program)], root, free_port())
    failures = []
    serial_pty = Pty(os.path.join(root, "dev", "ttyGS0"))
    midi_pty = Pty(os.path.join(root, "dev", "ttyS0"))
    try:
        program.start(args.audio_in)
        print(f"soak: {args.seconds:.0f} s, program pid {program.process.pid}, root {root}", flush=True)
        tcp = [TcpEndpoint("tcp1", program.port)]
        serial = connect_serial(serial_pty, 30)
        # The presets the program changes and the MIDI program changes select.
        for i, name in enumerate(PRESETS):
            tcp[0].ask(f"write root\\app\\output\\vol:{{\"value\":{20 + 20 * i}}}")
            tcp[0].ask(f"write root\\app\\preset:{{\"value\":\"{name}\",\"save\":\"save\"}}")
        # The other two only now: a connection without a request for 2 s is dropped.
        tcp += [TcpEndpoint(f"tcp{i + 1}", program.port) for i in (1, 2)]

        endpoints = tcp + [serial]
        load = Load(endpoints, midi_pty, program.thread_states)
        samples = []
        started = time.monotonic()
        load.start()
        print("   time  requests  missed   RSS KiB  fds  threads  overruns(frame,player1,player2)  "
              "latency ms p50 p90 p99 max", flush=True)
        next_sample = started
        all_latencies = {e.name: [] for e in endpoints}
        while True:
            now = time.monotonic()
            if not program.alive():
                failures.append("the program died")
                break
            if now >= next_sample:
                sample = program.sample()
                sample["t"] = now - started
                window = []
                for e in endpoints:
                    taken = e.take_latencies()
                    all_latencies[e.name] += taken
                    window += taken
                sample["requests"] = sum(e.requests for e in endpoints)
                sample["missed"] = sum(e.missed for e in endpoints)
                over = program.overruns()
                samples.append(sample)
                print(f"{sample['t']:7.0f}  {sample['requests']:8d}  {sample['missed']:6d}  {sample['rss_kib']:8d}"
                      f"  {sample['fds']:3d}  {sample['threads']:7d}  {over['cycle']:5d} {over['cpu 1']:5d} "
                      f"{over['cpu 2']:5d}                   {percentiles(window)}", flush=True)
                next_sample += interval
            if now - started >= args.seconds or load.stop.is_set():
                break
            time.sleep(min(0.5, max(0.0, next_sample - time.monotonic())))
        load.finish()
        failures += load.errors

        for e in endpoints:
            print(f"soak: {e.name:7s} {e.requests:7d} requests, {e.missed} missed, latency ms "
                  f"p50 p90 p99 max {percentiles(all_latencies[e.name] + e.take_latencies())}")
        total = sum(e.requests for e in endpoints)
        print(f"soak: {total} requests, {total / max(1.0, time.monotonic() - started):.0f} requests/s; "
              f"{load.midi_messages} MIDI messages, {load.midi_sent} bytes sent, {load.midi_thru} came back thru")
        # The program echoes every MIDI byte it reads: the thru shows that the stream reached it.
        if load.midi_thru < load.midi_sent // 2:
            failures.append(f"only {load.midi_thru} of {load.midi_sent} MIDI bytes came back thru")
        over = program.overruns()
        print(f"soak: audio overruns: frame {over['cycle']}, amp-model players {over['cpu 1']} and {over['cpu 2']}")

        # Flat: after the first quarter (start-up, first preset loads, caches) nothing may grow.
        settled = [s for s in samples if s["t"] >= args.seconds / 4] or samples[-1:]
        if settled:
            first, last = settled[0], samples[-1]
            rss_growth = last["rss_kib"] - first["rss_kib"]
            print(f"soak: RSS {samples[0]['rss_kib']} -> {first['rss_kib']} -> {last['rss_kib']} KiB "
                  f"(max {max(s['rss_kib'] for s in samples)}), descriptors {first['fds']} -> {last['fds']}, "
                  f"threads {first['threads']} -> {last['threads']}")
            if rss_growth > args.rss_growth_kib:
                failures.append(f"RSS grew by {rss_growth} KiB after the first quarter")
            if last["fds"] > first["fds"]:
                failures.append(f"descriptors grew from {first['fds']} to {last['fds']}")
            if last["threads"] != first["threads"]:
                failures.append(f"threads changed from {first['threads']} to {last['threads']}")
        if not program.alive():
            raise SystemExit("soak: FAILED: " + "; ".join(failures or ["the program died"]))

        # The last word, then a power cut once the storage cycle has written it.
        expected = {"root\\app\\preset": PRESETS[1],
                    "root\\settings\\input\\gain1": "3.500000",
                    "root\\settings\\input\\gain2": "9.000000"}
        tcp[0].ask(f"write root\\app\\preset:{{\"value\":\"{PRESETS[1]}\"}}")
        tcp[1].ask("write root\\settings\\input\\gain1:{\"value\":3.5}")
        serial.ask("write root\\settings\\input\\gain2:{\"value\":9}")
        wanted = {k: v for k, v in expected.items()}
        before = {path: value_of(tcp[2].ask(f"browse {path}")) for path in wanted}
        if before != wanted:
            failures.append(f"values before the kill: {before}")
        time.sleep(15)
        for e in tcp:
            e.close()
        program.kill()
        program.start(args.audio_in)
        probe = TcpEndpoint("after restart", program.port)
        after = {path: value_of(probe.ask(f"browse {path}")) for path in wanted}
        names = probe.ask("browse root\\presets")
        probe.close()
        missing = [name for name in PRESETS if f'"{name}"' not in names]
        print(f"soak: after kill -9 and restart: {after}")
        if after != wanted:
            failures.append(f"stored state after restart {after}, expected {wanted}")
        if missing:
            failures.append(f"presets missing after restart: {missing}")
    except Missed as e:
        failures.append(str(e))
    finally:
        program.kill()
        reports = program.sanitizer_reports()
        if reports:
            failures.append(f"{len(reports)} sanitizer reports, the first: {reports[0]}")
        serial_pty.close()
        midi_pty.close()
        if args.keep or failures:
            print(f"soak: root kept in {root}")
        else:
            shutil.rmtree(root, ignore_errors=True)

    if failures:
        print("soak: FAILED: " + "; ".join(failures))
        return 1
    print("soak: passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
