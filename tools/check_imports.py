#!/usr/bin/env python3
"""Fails when traymark.exe imports anything outside the allow-list, or anything
at all from a C runtime DLL.

The allow-list names every function the program may import, each present on
the first Windows 95 and on Windows NT 4.0; a new import has to be added there
knowingly. A C runtime DLL is refused even when the list names it: the first
Windows 95 releases ship without one.
"""
import re
import subprocess
import sys


def imports(exe):
    out = subprocess.run(["i686-w64-mingw32-objdump", "-p", exe], check=True,
                         capture_output=True, text=True).stdout
    found, dll = set(), None
    for line in out.splitlines():
        m = re.match(r"\s*DLL Name: (\S+)", line)
        if m:
            dll = m.group(1).lower()
            continue
        m = re.match(r"\s*[0-9a-f]+\s+\d+\s+(\S+)\s*$", line)
        if dll and m:
            found.add(f"{dll}!{m.group(1)}")
        if line.strip() == "" and dll and found:
            pass
    return found


# msvcrt.dll, msvcr71.dll, ucrtbase.dll, api-ms-win-crt-*.dll, vcruntime140.dll, crtdll.dll
C_RUNTIME = re.compile(r"^(msvcr|ucrt|api-ms-win-crt-|vcruntime|crtdll)")


def allowed(path):
    names = set()
    with open(path) as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if line:
                dll, _, func = line.partition("!")
                names.add(f"{dll.lower()}!{func}")
    return names


def main():
    exe, allow_path = sys.argv[1], sys.argv[2]
    got, ok = imports(exe), allowed(allow_path)
    if not got:
        print(f"no imports read from {exe}")
        return 1
    runtime = sorted(name for name in got if C_RUNTIME.match(name))
    extra = sorted(got - ok - set(runtime))
    dlls = sorted({name.split("!")[0] for name in got})
    print(f"{exe}: {len(got)} imported functions from {', '.join(dlls)}")
    if runtime:
        print("imports from a C runtime DLL:")
        for name in runtime:
            print("  " + name)
    if extra:
        print("imports outside the allow-list:")
        for name in extra:
            print("  " + name)
    return 1 if runtime or extra else 0


if __name__ == "__main__":
    sys.exit(main())
