#!/usr/bin/env python3
"""Counts the instructions the unit's build executes: the device target's benchmarks (aarch64, built
for the Cortex-A72) run under qemu-aarch64 -cpu cortex-a72 with our plugin (scripts/count/), and
each case is counted by class: every instruction, SIMD/FP arithmetic, SIMD/FP loads and stores.

    scripts/count_device.py [--build DIR] [--against DIR] [--no-build] [--only nam,chain,dsp] [--jobs N]

Amp models per sample (bench_nam, 16-sample frames), the chain per frame on the audio thread
(bench_chain, every block off and on, and every frame tripping the output guard; split by block with
the engine's marks) and on the amp-model players' workers per frame they ran (no model: their
hand-over, gains, tone stages and checks; a worker late for a frame skips it), the kernels per frame
(bench_dsp). The players' hand-over on the audio thread depends on how qemu runs the threads, by some
tens of instructions per frame. Every case runs twice, for two numbers of
iterations (KESTRUN_BENCH_ITERATIONS): the difference of the two counts divided by the difference of
the lengths is the cost of one iteration, without loading, set-up and warm-up.

--build DIR (default build-device) is made by scripts/device.sh --configure-only when it does not
exist; the three programs are then built in it unless --no-build. --against DIR counts a second
configured device build (another branch built in a folder of its own) and prints both, with their
ratio. Counts are not times: they weigh a division like an addition and know nothing of caches or of
the core's pipelines; they move with the time on the unit, and are exact and repeatable anywhere.
"""
import argparse
import concurrent.futures
import os
import re
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
PLUGIN_SOURCE = ROOT / "scripts" / "count" / "insn_count.c"
CLASSES = ("all", "simd/fp arith", "simd/fp ld/st")
MODELS = ("wavenet_standard", "wavenet_lite", "wavenet_feather", "wavenet_nano", "lstm_1x16", "lstm_2x8")
CHAIN_CASES = {"BM_ChainAllOff": "every block off", "BM_ChainAllOn": "every block on",
               "BM_ChainGuardTrip": "every block on, each frame tripping the output guard"}
FRAME = 16
# bench_chain's threads besides the audio thread: the players' workers, started by the application's
# constructor in this order.
WORKERS = {1: '"Nam Amp" worker', 2: '"Nam Drive" worker'}
# Iterations of the two runs of each case: long enough that timing effects between threads (the chain's
# hand-over to the players' workers) average out, short enough for qemu.
LENGTHS = {"nam": (32, 96), "chain": (200, 600), "dsp": (200, 600)}


def fail(message):
    print(f"count_device: {message}", file=sys.stderr)
    sys.exit(1)


def cache_value(build, key):
    cache = build / "CMakeCache.txt"
    if not cache.exists():
        return None
    for line in cache.read_text().splitlines():
        if line.startswith(key + ":"):
            return line.split("=", 1)[1]
    return None


def build_plugin(folder):
    """The plugin, compiled for the host into `folder` when missing or older than its sources."""
    plugin = Path(folder) / "insn_count.so"
    if not plugin.exists() or plugin.stat().st_mtime < max(p.stat().st_mtime for p in PLUGIN_SOURCE.parent.iterdir()):
        plugin.parent.mkdir(parents=True, exist_ok=True)
        command = ["cc", "-std=gnu11", "-O2", "-Wall", "-Wextra", "-shared", "-fPIC", "-o", str(plugin), str(PLUGIN_SOURCE)]
        if subprocess.run(command).returncode != 0:
            fail("cannot build the counting plugin")
    return plugin


def prepare(build, make):
    if not (build / "CMakeCache.txt").exists():
        if build != ROOT / "build-device":
            fail(f"{build} is not configured")
        if subprocess.run([str(ROOT / "scripts" / "device.sh"), "--configure-only"]).returncode != 0:
            fail("scripts/device.sh --configure-only failed")
    if cache_value(build, "KESTRUN_TARGET") != "device":
        fail(f"{build} is not a device build")
    if make:
        targets = ["bench_nam", "bench_chain", "bench_dsp"]
        if subprocess.run(["cmake", "--build", str(build), "--target", *targets]).returncode != 0:
            fail(f"cannot build {' '.join(targets)} in {build}")
    sysroot = cache_value(build, "KESTRUN_SYSROOT")
    if not sysroot or not Path(sysroot).is_dir():
        fail(f"{build} names no sysroot")
    return build_plugin(build / "count"), sysroot


def run_counted(plugin, sysroot, argv, env):
    """Runs argv under qemu with the plugin: {(thread, bucket): [all, arith, ldst]}, with bucket -1
    holding [frame marks, 0, 0], and its output."""
    with tempfile.TemporaryDirectory(prefix="count-") as scratch:
        out = Path(scratch) / "counts"
        env = dict(os.environ, KESTRUN_ROOT=scratch, **env)
        command = ["qemu-aarch64", "-cpu", "cortex-a72", "-L", sysroot, "-plugin", f"{plugin},out={out}", *argv]
        done = subprocess.run(command, env=env, capture_output=True, text=True)
        if done.returncode != 0 or not out.exists():
            fail(f"{' '.join(argv)} failed ({done.returncode}):\n{done.stdout[-2000:]}{done.stderr[-2000:]}")
        counts = {}
        for line in out.read_text().split("\n"):
            if line:
                thread, bucket, *n = (int(v) for v in line.split())
                counts[(thread, bucket)] = n
        return counts, done.stdout


def per_iteration(a, b, short, long):
    """The difference of two runs' counts over the difference of their lengths."""
    per = {}
    for k in set(a) | set(b):
        na, nb = a.get(k, [0, 0, 0]), b.get(k, [0, 0, 0])
        per[k] = [(y - x) / (long - short) for x, y in zip(na, nb)]
    return per


def count_case(build, plugin, sysroot, part, program, name):
    """Per iteration: {(thread, bucket): [all, arith, ldst]} (fractions), the longer run's output and its
    counts."""
    short, long = LENGTHS[part]
    argv = [str(build / "bench" / program), f"--benchmark_filter=^{re.escape(name)}/iterations:"]
    runs = []
    for n in (short, long):
        counts, text = run_counted(plugin, sysroot, argv, {"KESTRUN_BENCH_ITERATIONS": str(n)})
        if f"{name}/" not in text:
            fail(f"{program} has no benchmark {name}")
        runs.append(counts)
    return per_iteration(runs[0], runs[1], short, long), text, runs[1]


def chain_names(text):
    names = {}
    for m in re.finditer(r"Chain item (\d+): (.*) \(0x[0-9a-f]+\)", text):
        names[int(m.group(1))] = m.group(2)
    return names


def listed(build, sysroot, bench):
    """The benchmark names a program of the build holds."""
    out = subprocess.run(["qemu-aarch64", "-cpu", "cortex-a72", "-L", sysroot, str(build / "bench" / bench),
                          "--benchmark_list_tests"], capture_output=True, text=True)
    if out.returncode != 0:
        fail(f"{bench} --benchmark_list_tests failed")
    return out.stdout.split()


def collect(build, plugin, sysroot, parts, jobs):
    cases = []
    if "nam" in parts:
        cases += [("nam", "bench_nam", m) for m in MODELS]
    if "chain" in parts:
        # A frame that trips the output guard, where the build has that case.
        cases += [("chain", "bench_chain", n) for n in CHAIN_CASES if n in listed(build, sysroot, "bench_chain")]
    if "dsp" in parts:
        cases += [("dsp", "bench_dsp", n) for n in listed(build, sysroot, "bench_dsp")
                  if "Scalar" not in n and "VsScalar" not in n]
    with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
        futures = {c: pool.submit(count_case, build, plugin, sysroot, *c) for c in cases}
        return {c: f.result() for c, f in futures.items()}


def fmt(v):
    return f"{v:,.0f}" if abs(v) >= 100 else f"{v:,.1f}"


def row(cells):
    return "| " + " | ".join(cells) + " |"


def sum_threads(per, thread=None, bucket=None):
    total = [0.0, 0.0, 0.0]
    for (t, b), n in per.items():
        if b >= 0 and (thread is None or t == thread) and (bucket is None or b == bucket):
            total = [x + y for x, y in zip(total, n)]
    return total


def per_frame_run(counts, thread):
    """A thread's counts in one run per frame it ran (by its frame marks), its start and the set-up's
    frames included: a difference of two runs would hold the difference of the frames a late worker
    skipped while the set-up ran. None when the thread marks no frames."""
    frames = counts.get((thread, -1), [0])[0]
    return [v / frames for v in sum_threads(counts, thread=thread)] if frames > 0 else None


def cells(this, other, which):
    """Columns of one row: this build's counts, and with --against the other's and this/other."""
    out = [fmt(v) for v in (this[i] for i in which)]
    if other is not None:
        out += [fmt(other[0]), f"{this[0] / other[0]:.2f}" if other[0] else "-"]
    return out


def header(first, against):
    h = [first, "all", "SIMD/FP arith", "SIMD/FP ld/st"]
    if against:
        h += ["all, other build", "this / other"]
    return row(h) + "\n" + row(["---"] * len(h))


def report(this, other, parts):
    against = other is not None
    if "nam" in parts:
        print("Amp models, instructions per sample (16-sample frames, one thread):\n")
        print(header("model", against))
        for m in MODELS:
            key = ("nam", "bench_nam", m)
            a = [v / FRAME for v in sum_threads(this[key][0], thread=0)]
            b = [v / FRAME for v in sum_threads(other[key][0], thread=0)] if against else None
            print(row([m] + cells(a, b, range(3))))
        print()
    if "chain" in parts:
        for bench, title in CHAIN_CASES.items():
            key = ("chain", "bench_chain", bench)
            if key not in this:
                continue
            per, text, last = this[key]
            names = chain_names(text)
            print(f"Chain, {title}: instructions per frame on the audio thread, by block (bucket 0: the frame road):\n")
            print(header("part", against))
            oper, olast = (other[key][0], other[key][2]) if against and key in other else (None, None)
            # A build without the engine's marks counts everything in the road: compare only totals.
            split = oper is not None and any(b > 0 for (t, b) in oper if t == 0)
            for bucket in sorted({b for (t, b) in per if t == 0 and b >= 0}):
                label = "frame road" if bucket == 0 else f"{bucket}. {names.get(bucket, '?')}"
                b = sum_threads(oper, thread=0, bucket=bucket) if split else None
                line = cells(sum_threads(per, thread=0, bucket=bucket), b, range(3))
                print(row([label] + line + (["-", "-"] if against and not split else [])))
            b = sum_threads(oper, thread=0) if oper is not None else None
            print(row(["**audio thread**"] + cells(sum_threads(per, thread=0), b, range(3)) +
                      (["-", "-"] if against and b is None else [])))
            print()
            # A build whose workers mark no frames is counted per frame of the chain (a late worker's
            # skipped frames then move it).
            workers = sorted({t for (t, b) in per if t != 0})
            if workers:
                print(f"Chain, {title}: instructions per frame each of the other threads ran:\n")
                print(header("thread", against))
                for t in workers:
                    a = per_frame_run(last, t) or sum_threads(per, thread=t)
                    b = (per_frame_run(olast, t) or sum_threads(oper, thread=t)) if oper is not None else None
                    print(row([WORKERS.get(t, f"thread {t}")] + cells(a, b, range(3)) +
                              (["-", "-"] if against and b is None else [])))
                print()
    if "dsp" in parts:
        print("Kernels, instructions per iteration (a 16-sample frame unless the name says otherwise):\n")
        print(header("kernel", against))
        for key in sorted(k for k in this if k[0] == "dsp"):
            b = sum_threads(other[key][0], thread=0) if against and key in other else None
            print(row([key[2]] + cells(sum_threads(this[key][0], thread=0), b, range(3))))
        print()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=str(ROOT / "build-device"))
    parser.add_argument("--against")
    parser.add_argument("--no-build", action="store_true")
    parser.add_argument("--only", default="nam,chain,dsp")
    parser.add_argument("--jobs", type=int, default=max(1, min(4, (os.cpu_count() or 2) // 2)))
    args = parser.parse_args()
    parts = set(args.only.split(","))
    if not parts <= {"nam", "chain", "dsp"}:
        fail("--only takes nam, chain and dsp")
    build = Path(args.build).resolve()
    plugin, sysroot = prepare(build, not args.no_build)
    this = collect(build, plugin, sysroot, parts, args.jobs)
    other = None
    if args.against:
        against = Path(args.against).resolve()
        oplugin, osysroot = prepare(against, not args.no_build)
        other = collect(against, oplugin, osysroot, parts, args.jobs)
    report(this, other, parts)


if __name__ == "__main__":
    main()
