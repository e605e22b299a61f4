#!/usr/bin/env python3
"""The counting plugin and scripts/count_device.py's method on a program of known counts
(CountProbe.cpp): two run lengths, their difference per loop, by thread, block and class.

    check_counts.py PROBE SYSROOT WORK_FOLDER
"""
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "scripts"))
import count_device  # noqa: E402

# Per loop of the probe's length N: (thread, bucket) -> [all, SIMD/FP arith, SIMD/FP ld/st].
EXPECTED = {
    (0, 0): [20, 8, 4],  # N + N loops in the frame road
    (0, 1): [20, 8, 4],  # 2N in the first block
    (0, 2): [30, 12, 6],  # 3N in the second
    (1, 0): [50, 20, 10],  # 5N on the other thread
    (1, -1): [5, 0, 0],  # its 5N frame marks
}


def main():
    probe, sysroot, work = sys.argv[1:4]
    plugin = count_device.build_plugin(work)
    short, long = 1000, 3000
    runs = [count_device.run_counted(plugin, sysroot, [probe, str(n)], {})[0] for n in (short, long)]
    per = count_device.per_iteration(runs[0], runs[1], short, long)
    got = {k: v for k, v in per.items() if any(v)}
    failed = False
    for key in sorted(set(got) | set(EXPECTED)):
        want, have = EXPECTED.get(key, [0, 0, 0]), got.get(key, [0, 0, 0])
        # Exact but for the join, which may or may not wait for the other thread.
        ok = all(abs(w - h) < 0.05 for w, h in zip(want, have))
        failed |= not ok
        print(f"thread {key[0]} bucket {key[1]}: {have} per loop, expected {want}{'' if ok else '  <-- WRONG'}")
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
