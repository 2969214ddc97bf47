#!/usr/bin/env python3
"""What a lane reports: the summary of what ctest ran (shards merged; a failure
in any shard or check, or a run that left no results, fails the totals), its
time factor, and whether its Wine is the lane's own."""
import os
import sys
import tempfile
import unittest

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(TOP, "tools"))
sys.path.insert(0, os.path.join(TOP, "tools", "lib"))
import lane_wine  # noqa: E402
import summarize_tests  # noqa: E402
import time_floor  # noqa: E402


def results(passed=0, failed=0, skipped=0, figure=None):
    cases = ['<testcase name="p%d"/>' % i for i in range(passed)]
    cases += ['<testcase name="f%d"><failure message="x"/></testcase>' % i for i in range(failed)]
    cases += ['<testcase name="s%d" result="skipped"><skipped/></testcase>' % i for i in range(skipped)]
    props = '<properties><property name="%s" value="%s"/></properties>' % figure if figure else ""
    return '<testsuites><testsuite name="S">%s%s</testsuite></testsuites>' % (props, "".join(cases))


def ctest_report(**outcomes):
    """ctest's JUnit report: name=status, or name=(status, skipped message)."""
    cases = []
    for name, outcome in outcomes.items():
        status, skipped = outcome if isinstance(outcome, tuple) else (outcome, None)
        inner = '<failure message="Failed"/>' if status == "fail" else ""
        inner += '<skipped message="%s"/>' % skipped if skipped else ""
        cases.append('<testcase name="%s" status="%s">%s</testcase>' % (name, status, inner))
    return '<testsuite name="(empty)">%s</testsuite>' % "".join(cases)


class Summary(unittest.TestCase):
    def test_totals_count_every_run_asked_for(self):
        cases = [
            # name, files left, runs asked for, total line, all passed
            ("whole runs", {"unit.xml": results(3, 0, 1), "e2e.xml": results(2)}, ["unit", "e2e"],
             "tests: 5 passed, 0 failed, 1 skipped", True),
            ("shards merged", {"e2e.shard-1-of-2.xml": results(2), "e2e.shard-2-of-2.xml": results(3, 0, 1)},
             ["e2e"], "tests: 5 passed, 0 failed, 1 skipped", True),
            ("a failure in one shard", {"e2e.shard-1-of-2.xml": results(2), "e2e.shard-2-of-2.xml": results(1, 1)},
             ["e2e"], "tests: 3 passed, 1 failed, 0 skipped", False),
            ("a run killed before its results", {"unit.xml": results(4)}, ["unit", "e2e"],
             "tests: 4 passed, 1 failed, 0 skipped; no results from e2e", False),
            ("a shard killed", {"e2e.shard-1-of-3.xml": results(2), "e2e.shard-3-of-3.xml": results(2)}, ["e2e"],
             "tests: 4 passed, 1 failed, 0 skipped; no results from e2e shard 2 of 3", False),
            ("results cut short", {"e2e.xml": "<testsuites><testsuite>"}, ["e2e"],
             "tests: 0 passed, 1 failed, 0 skipped; no results from e2e", False),
            ("nothing asked for", {"stale.xml": results(1, 1)}, [], "tests: 0 passed, 0 failed, 0 skipped", True),
        ]
        # With ctest's own report asked for, each other check counts as one test.
        with_report = [
            ("checks beside the runs", {"unit.xml": results(3), "ctest.xml": ctest_report(
                unit="run", imports="run", lane_report=("notrun", "SKIP_RETURN_CODE=77"))}, ["unit"],
             "tests: 4 passed, 0 failed, 1 skipped", True),
            ("a failed check", {"unit.xml": results(3), "ctest.xml": ctest_report(unit="run", imports="fail")},
             ["unit"], "tests: 3 passed, 1 failed, 0 skipped", False),
            ("a check that could not start", {"ctest.xml": ctest_report(
                imports=("notrun", "Unable to find executable"))}, [], "tests: 0 passed, 1 failed, 0 skipped", False),
            ("a run ctest failed though its results passed", {"unit.xml": results(3), "ctest.xml": ctest_report(
                unit="fail")}, ["unit"], "tests: 3 passed, 1 failed, 0 skipped", False),
            ("no report from ctest", {"unit.xml": results(3)}, ["unit"],
             "tests: 3 passed, 1 failed, 0 skipped; no results from ctest", False),
        ]
        for asked, (name, files, runs, total, ok) in [(False, c) for c in cases] + [(True, c) for c in with_report]:
            with self.subTest(name), tempfile.TemporaryDirectory() as folder:
                for file, text in files.items():
                    with open(os.path.join(folder, file), "w") as f:
                        f.write(text)
                report = os.path.join(folder, "ctest.xml") if asked else None
                lines, last, passed = summarize_tests.summarize(folder, runs, report)
                self.assertEqual(total, last)
                self.assertEqual(ok, passed)
                checks = set(summarize_tests.ctest_outcomes(report) or {}) - set(runs) if asked else set()
                self.assertEqual(len(runs) + len(checks), sum(1 for line in lines if not line.startswith("    ")))

    def test_figures_of_the_shards_stay_apart_by_value(self):
        with tempfile.TemporaryDirectory() as folder:
            for k, value in ((1, "120"), (2, "95")):
                with open(os.path.join(folder, "e2e.shard-%d-of-2.xml" % k), "w") as f:
                    f.write(results(1, figure=("floor_ms", value)))
            lines, _, _ = summarize_tests.summarize(folder, ["e2e"])
            self.assertEqual(["  e2e: 2 passed, 0 failed, 0 skipped (2 shards)", "    e2e figures: floor_ms=120,95"],
                             lines)


class Factor(unittest.TestCase):
    def test_factor_follows_the_floor_and_never_shrinks_a_limit(self):
        cases = [
            # samples (ms), reference, floor, factor
            ([90, 95, 100, 2000, 85], 95, 95, 1.0),   # one slow start does not move it
            ([40, 41, 39], 95, 40, 1.0),               # a faster host keeps the limits
            ([180, 200, 210, 190, 195], 95, 195, 2.1),
            ([1000, 1100, 990, 1050, 1020], 95, 1020, 10.7),
        ]
        for samples, reference, floor, factor in cases:
            with self.subTest(samples=samples):
                self.assertEqual(floor, time_floor.floor_of(samples))
                self.assertEqual(factor, time_floor.factor(floor, reference))


class LaneWine(unittest.TestCase):
    def test_a_lane_takes_only_its_own_wine_release(self):
        cases = [
            # lane, `wine --version`, taken
            ("8", "wine-8.0 (Debian 8.0~repack-4)", True),
            ("8", "wine-8.0.2 (Staging)", True),
            ("10", "wine-10.0 (Debian 10.0~repack-6)", True),
            ("10", "wine-10.0.1\n", True),
            ("8", "wine-10.0 (Debian 10.0~repack-6)", False),  # a Debian 13 host's own Wine
            ("10", "wine-8.0 (Debian 8.0~repack-4)", False),
            ("8", "wine-8.21", False),
            ("10", "wine-10.0-rc3", False),
            ("8", "wine-80.0", False),
            ("8", "bash: wine: command not found", False),
        ]
        for lane, reported, taken in cases:
            with self.subTest(lane=lane, reported=reported):
                ok, line = lane_wine.check(lane, reported)
                self.assertEqual(taken, ok, line)
                self.assertIn(reported.strip(), line)


if __name__ == "__main__":
    unittest.main()
