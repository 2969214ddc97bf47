#!/usr/bin/env python3
"""Adds up the GoogleTest results that ctest's runs left in a folder, one line
per run (a sharded run's shards merged) and a total, with the figures the tests
recorded (RecordProperty).

Usage: summarize_tests.py FOLDER [--note TEXT] RUN...
Each RUN is a run that was asked for; it leaves FOLDER/RUN.xml, or one
FOLDER/RUN.shard-K-of-N.xml per shard. A run or shard that left no results
(killed at its time limit, or crashed) counts as one failed test, by name."""
import glob
import os
import re
import sys
import xml.etree.ElementTree as ET

STANDARD = {"tests", "failures", "disabled", "errors", "time", "timestamp", "name"}


def counts(root):
    p = f = s = 0
    for case in root.iter("testcase"):
        if case.find("failure") is not None:
            f += 1
        elif case.get("result") == "skipped" or case.find("skipped") is not None:
            s += 1
        else:
            p += 1
    return p, f, s


def figures(root):
    found = [(k, v) for k, v in root.attrib.items() if k not in STANDARD]
    found += [(e.get("name"), e.get("value")) for e in root.iter("property")]
    return found


def summarize(folder, runs):
    """Returns the lines to print and whether every run passed whole."""
    lines, total, missing = [], [0, 0, 0], []
    for run in runs:
        files = {}
        whole = os.path.join(folder, run + ".xml")
        if os.path.exists(whole):
            files[None] = whole
        shards = 0
        for path in glob.glob(os.path.join(folder, glob.escape(run) + ".shard-*-of-*.xml")):
            m = re.search(r"\.shard-(\d+)-of-(\d+)\.xml$", path)
            if m:
                files[int(m.group(1))] = path
                shards = max(shards, int(m.group(2)))
        absent = [f"{run} shard {k} of {shards}" for k in range(1, shards + 1) if k not in files]
        if not files:
            absent = [run]
        run_counts, run_figures, unreadable, took = [0, 0, 0], {}, [], []
        for key in sorted(files, key=lambda k: k or 0):
            try:
                root = ET.parse(files[key]).getroot()
            except ET.ParseError:
                unreadable.append(run if key is None else f"{run} shard {key} of {shards}")
                continue
            run_counts = [a + b for a, b in zip(run_counts, counts(root))]
            took.append(root.get("time"))
            for name, value in figures(root):
                run_figures.setdefault(name, []).append(value)
        absent += unreadable
        run_counts[1] += len(absent)
        line = f"  {run}: {run_counts[0]} passed, {run_counts[1]} failed, {run_counts[2]} skipped"
        if shards and took and None not in took:
            # How even the deal was: the slowest shard sets the run's time.
            line += f" ({shards} shards: " + ", ".join(f"{float(t):.0f} s" for t in took) + ")"
        elif shards:
            line += f" ({shards} shards)"
        if absent:
            line += "; no results from " + ", ".join(absent)
        lines.append(line)
        if run_figures:
            joined = " ".join(f"{k}={','.join(v)}" for k, v in run_figures.items())
            lines.append(f"    {run} figures: {joined}")
        total = [a + b for a, b in zip(total, run_counts)]
        missing += absent
    line = f"tests: {total[0]} passed, {total[1]} failed, {total[2]} skipped"
    if missing:
        line += "; no results from " + ", ".join(missing)
    return lines, line, not missing and total[1] == 0


def main(argv):
    args, note = list(argv), None
    if len(args) >= 3 and args[1] == "--note":
        note = args.pop(2)
        args.pop(1)
    if not args:
        print(__doc__, file=sys.stderr)
        return 2
    lines, last, ok = summarize(args[0], args[1:])
    for line in lines:
        print(line)
    if note:
        print(note)
    print(last)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
