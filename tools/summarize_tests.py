#!/usr/bin/env python3
"""Adds up what ctest ran: the GoogleTest results its runs left in a folder, one
line per run (a sharded run's shards merged), with the figures the tests
recorded (RecordProperty), then each other check ctest ran as one test, and a
total.

Usage: summarize_tests.py FOLDER [--note TEXT] [--ctest FILE] RUN...
Each RUN is a GoogleTest run that was asked for; it leaves FOLDER/RUN.xml, or
one FOLDER/RUN.shard-K-of-N.xml per shard. A run or shard that left no results
(killed at its time limit, or crashed) counts as one failed test, by name.
FILE is ctest's own JUnit report (ctest --output-junit): every test in it that
is not a RUN counts as one test, and a RUN that ctest failed while its results
show no failure (it crashed on its way out, say) counts one failed test more.
Without the report, when one was asked for, ctest counts as one failed test."""
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


def ctest_outcomes(path):
    """{test name: (passed|failed|skipped, why)} from ctest's JUnit report, or
    None when there is none to read. ctest reports a test it could not start
    (no such program) as not run, like one that asked to be skipped, yet fails
    the run for it."""
    try:
        root = ET.parse(path).getroot()
    except (OSError, ET.ParseError):
        return None
    found = {}
    for case in root.iter("testcase"):
        status, skipped, failure = case.get("status"), case.find("skipped"), case.find("failure")
        if status == "run":
            found[case.get("name")] = ("passed", "")
        elif status == "disabled" or (skipped is not None and skipped.get("message", "").startswith("SKIP_")):
            found[case.get("name")] = ("skipped", "")
        else:
            reason = failure if failure is not None else skipped
            found[case.get("name")] = ("failed", reason.get("message", "") if reason is not None else status or "")
    return found


def summarize(folder, runs, ctest=None):
    """Returns the lines to print and whether everything passed. ctest: the
    path of ctest's report, if one was asked for."""
    lines, total, missing = [], [0, 0, 0], []
    outcomes = ctest_outcomes(ctest) if ctest else {}
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
        outcome, why = (outcomes or {}).get(run, ("", ""))
        ctest_only = outcome == "failed" and run_counts[1] == 0
        run_counts[1] += ctest_only
        line = f"  {run}: {run_counts[0]} passed, {run_counts[1]} failed, {run_counts[2]} skipped"
        if shards and took and None not in took:
            # How even the deal was: the slowest shard sets the run's time.
            line += f" ({shards} shards: " + ", ".join(f"{float(t):.0f} s" for t in took) + ")"
        elif shards:
            line += f" ({shards} shards)"
        if absent:
            line += "; no results from " + ", ".join(absent)
        if ctest_only:
            line += "; ctest failed it" + (f" ({why})" if why else "")
        lines.append(line)
        if run_figures:
            joined = " ".join(f"{k}={','.join(v)}" for k, v in run_figures.items())
            lines.append(f"    {run} figures: {joined}")
        total = [a + b for a, b in zip(total, run_counts)]
        missing += absent
    if outcomes is None:
        total[1] += 1
        missing.append("ctest")
    for name, (outcome, why) in (outcomes or {}).items():
        if name in runs:
            continue
        lines.append(f"  {name}: {outcome}" + (f" ({why})" if why and outcome == "failed" else ""))
        total[("passed", "failed", "skipped").index(outcome)] += 1
    line = f"tests: {total[0]} passed, {total[1]} failed, {total[2]} skipped"
    if missing:
        line += "; no results from " + ", ".join(missing)
    return lines, line, not missing and total[1] == 0


def main(argv):
    args, options = list(argv), {"--note": None, "--ctest": None}
    while len(args) >= 3 and args[1] in options:
        name = args.pop(1)
        options[name] = args.pop(1)
    if not args:
        print(__doc__, file=sys.stderr)
        return 2
    note = options["--note"]
    lines, last, ok = summarize(args[0], args[1:], options["--ctest"])
    for line in lines:
        print(line)
    if note:
        print(note)
    print(last)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
