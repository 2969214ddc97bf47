#!/usr/bin/env python3
"""Whether a lane runs its own Wine: lane 8 Wine 8.0.x and lane 10 Wine 10.0.x,
release versions only. A lane that ran another Wine would report passes for a
Wine it never tried.

Usage: lane_wine.py LANE "$(wine --version)"
Prints the version and exits 0, or says which version it found and exits 1."""
import re
import sys


def check(lane, reported):
    """(ok, line): the version line of a lane's summary, or why it is not the lane's."""
    reported = reported.strip()
    m = re.match(r"wine-(\S+)", reported)
    if not m:
        return False, f"lane {lane}: `wine --version` printed {reported!r}, not a Wine version"
    if re.fullmatch(rf"{re.escape(lane)}\.0(\.\d+)?", m.group(1)):
        return True, reported
    return False, f"lane {lane} needs Wine {lane}.0.x, but its Wine is {reported}"


def main(argv):
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    ok, line = check(*argv)
    print(line, file=sys.stdout if ok else sys.stderr)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
