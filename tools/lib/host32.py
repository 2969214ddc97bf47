#!/usr/bin/env python3
"""Tells whether this machine's kernel runs 32-bit x86 programs itself.

Wine's 32-bit loader needs that. It is not enough that an i386 program
"runs": a binfmt_misc handler (qemu-user) runs it under emulation, which is
no use to Wine. So a tiny i386 program is started, and while it waits on its
standard input the kernel is asked which file the process really executes:
the program itself, or an interpreter standing in for it.

Exit 0 and "native" when it runs natively; exit 1 and the reason otherwise.
`host32.py DIR` writes the probe into DIR (a folder that allows exec).
"""
import os
import struct
import subprocess
import sys
import tempfile

PROBE_EXIT = 42


def probe_image():
    """A static i386 ELF: read(0, esp, 1), then exit(42)."""
    code = bytes([
        0xB8, 3, 0, 0, 0,        # mov eax, 3 (read)
        0x31, 0xDB,              # xor ebx, ebx (stdin)
        0x89, 0xE1,              # mov ecx, esp
        0xBA, 1, 0, 0, 0,        # mov edx, 1
        0xCD, 0x80,              # int 0x80
        0xB8, 1, 0, 0, 0,        # mov eax, 1 (exit)
        0xBB, PROBE_EXIT, 0, 0, 0,
        0xCD, 0x80,
    ])
    base, ehsize, phsize = 0x08048000, 52, 32
    total = ehsize + phsize + len(code)
    ident = b"\x7fELF" + bytes([1, 1, 1, 0]) + bytes(8)
    header = ident + struct.pack("<HHIIIIIHHHHHH", 2, 3, 1, base + ehsize + phsize,
                                 ehsize, 0, 0, ehsize, phsize, 1, 0, 0, 0)
    program = struct.pack("<IIIIIIII", 1, 0, base, base, total, total, 5, 0x1000)
    return header + program + code


def verdict(start_error, running_exe, probe_path, exit_code):
    """What the three observations say. start_error: the OSError of the start,
    or None; running_exe: where /proc/PID/exe pointed while it waited."""
    if start_error is not None:
        return False, f"the kernel refuses i386 programs ({start_error.strerror})"
    if running_exe != probe_path:
        return False, f"i386 programs run only under emulation ({running_exe})"
    if exit_code != PROBE_EXIT:
        return False, f"an i386 program did not run to its end (exit code {exit_code})"
    return True, "native"


def check(folder, image=None):
    if folder:
        os.makedirs(folder, exist_ok=True)
    fd, path = tempfile.mkstemp(prefix="host32-probe-", dir=folder)
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(image or probe_image())
        os.chmod(path, 0o700)
        path = os.path.realpath(path)
        try:
            proc = subprocess.Popen([path], stdin=subprocess.PIPE,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        except OSError as e:
            return verdict(e, None, path, None)
        try:
            running = os.readlink(f"/proc/{proc.pid}/exe")
        except OSError:
            running = None
        proc.stdin.close()
        try:
            code = proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            proc.kill()
            code = proc.wait()
        return verdict(None, running, path, code)
    finally:
        os.unlink(path)


if __name__ == "__main__":
    ok, why = check(sys.argv[1] if len(sys.argv) > 1 else None)
    print(why)
    sys.exit(0 if ok else 1)
