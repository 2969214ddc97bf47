#!/usr/bin/env python3
"""A lane's floor and time factor. Times a command that starts a Windows
program which ends at once, under the lane's Wine, and prints the median
start-to-end time and how many times slower that is than the same start on
this project's build machine, alone, natively; never below 1. Whole-run limits
(a test run's, a guest's) are multiplied by the factor, so that a loaded or
emulated host gets the time it needs, and a quiet native one no more.

Usage: time_floor.py LANE COMMAND...  (prints shell assignments)"""
import statistics
import subprocess
import sys
import time

# The stand-in Corvex started by `wine`, median of 5, on the 2-core x86_64
# build machine with nothing else running (2026-12-09): Wine 10 starts a
# program more slowly than Wine 8 does.
REFERENCE_MS = {"8": 95, "10": 155}
SAMPLES = 5


def factor(floor_ms, reference_ms):
    return max(1.0, round(floor_ms / reference_ms, 1))


def floor_of(samples_ms):
    return round(statistics.median(samples_ms))


def main(argv):
    if len(argv) < 2 or argv[0] not in REFERENCE_MS:
        print(__doc__, file=sys.stderr)
        return 2
    lane, command = argv[0], argv[1:]
    samples = []
    # The first start also brings up the lane's Wine server: not counted.
    for i in range(SAMPLES + 1):
        start = time.monotonic()
        if subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode != 0:
            print(f"time_floor: {' '.join(command)} failed", file=sys.stderr)
            return 1
        if i:
            samples.append((time.monotonic() - start) * 1000)
    floor = floor_of(samples)
    print(f"TRAYMARK_FLOOR_MS={floor} TRAYMARK_TIME_FACTOR={factor(floor, REFERENCE_MS[lane])}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
