#!/usr/bin/env python3
"""Adds up the GoogleTest results that ctest's runs left in a folder, and
prints the figures the tests recorded (RecordProperty)."""
import glob
import os
import sys
import xml.etree.ElementTree as ET

folder = sys.argv[1]
passed = failed = skipped = 0
for path in sorted(glob.glob(os.path.join(folder, "*.xml"))):
    p = f = s = 0
    for case in ET.parse(path).getroot().iter("testcase"):
        if case.find("failure") is not None:
            f += 1
        elif case.get("result") == "skipped" or case.find("skipped") is not None:
            s += 1
        else:
            p += 1
    name = os.path.basename(path)[:-4]
    print(f"  {name}: {p} passed, {f} failed, {s} skipped")
    root = ET.parse(path).getroot()
    standard = {"tests", "failures", "disabled", "errors", "time", "timestamp", "name"}
    figures = [f"{k}={v}" for k, v in root.attrib.items() if k not in standard]
    figures += [f"{e.get('name')}={e.get('value')}" for e in root.iter("property")]
    if figures:
        print(f"    {name} figures: {' '.join(figures)}")
    passed, failed, skipped = passed + p, failed + f, skipped + s
print(f"tests: {passed} passed, {failed} failed, {skipped} skipped")
