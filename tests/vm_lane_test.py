#!/usr/bin/env python3
"""The virtual-machine lane's own logic: telling a host that runs 32-bit code
from one that only pretends to, and carrying a guest's result out.

`vm_lane_test.py` checks the detection; `vm_lane_test.py --boot` also boots a
lane's guest (as root, its image built or made here) for each job: Wine 8's,
or the lane that TRAYMARK_BOOT_LANE names.
"""
import os
import subprocess
import sys
import tempfile
import unittest

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(TOP, "tools", "lib"))
import host32  # noqa: E402


def elf_for_machine(machine):
    image = bytearray(host32.probe_image())
    image[18:20] = machine.to_bytes(2, "little")
    return bytes(image)


class Detection(unittest.TestCase):
    def test_only_a_program_the_kernel_runs_itself_counts(self):
        cases = [
            # A binfmt_misc handler (qemu-user) runs the program, as a "#!"
            # line does: the process then executes the interpreter.
            ("through an interpreter", b"#!/bin/sh\nread x\nexit 42\n", "only under emulation"),
            ("a machine no kernel knows", elf_for_machine(0x7777), "refuses"),
        ]
        with tempfile.TemporaryDirectory(dir=os.path.join(TOP, "build")) as folder:
            for name, image, reason in cases:
                with self.subTest(name):
                    ok, why = host32.check(folder, image)
                    self.assertFalse(ok)
                    self.assertIn(reason, why)
            self.assertEqual(os.listdir(folder), [], "the probe was left behind")

    def test_a_probe_that_dies_early_is_no_proof(self):
        ok, why = host32.verdict(None, "/x/probe", "/x/probe", -11)
        self.assertFalse(ok)
        self.assertIn("exit code -11", why)


@unittest.skipUnless("--boot" in sys.argv, "boots a guest only with --boot")
class GuestJob(unittest.TestCase):
    def run_in_guest(self, bound, job, kernel_options):
        script = ('top=$1; . "$top/tools/lib/vm.sh"; lane_root_init "$4" || exit 99; '
                  'vm_run "$2" build/vm-test-out bash -c "$3"')
        lane = os.environ.get("TRAYMARK_BOOT_LANE", "8")
        env = dict(os.environ)
        if kernel_options is not None:
            env["VM_KERNEL_OPTIONS"] = kernel_options
        return subprocess.run(["bash", "-c", script, "vm-test", TOP, str(bound), job, lane],
                              capture_output=True, text=True, timeout=bound + 600, env=env)

    def test_exit_status_and_outputs_come_back_and_a_hang_is_stopped(self):
        out = os.path.join(TOP, "build", "vm-test-out")
        carry = "mkdir -p build/vm-test-out && echo carried >build/vm-test-out/note; exit 7"
        cases = [
            ("status and output", 300, carry, None, 7, "carried\n", None),
            ("a job that never ends", 60, "sleep 100000", None, 1, None, "did not finish within 60 s"),
            # No such first process: the kernel cannot mount the disk by
            # itself and panics every time, so the one retry must give up.
            # (The first row has made the image, with the usual options.)
            ("a kernel that dies while starting", 300, carry, "rdinit=/no/such/init", 1, None,
             "stopped again while it started"),
        ]
        for name, bound, job, kernel_options, status, note, message in cases:
            with self.subTest(name):
                subprocess.run(["rm", "-rf", out], check=True)
                r = self.run_in_guest(bound, job, kernel_options)
                self.assertEqual(r.returncode, status, r.stdout + r.stderr)
                if message is not None:
                    self.assertIn(message, r.stderr)
                if kernel_options is not None:
                    self.assertEqual(r.stdout.count("booting the Wine"), 2, r.stdout)
                    self.assertIn("Kernel panic", r.stdout + r.stderr)
                if note is None:
                    self.assertFalse(os.path.exists(out))
                else:
                    with open(os.path.join(out, "note")) as f:
                        self.assertEqual(f.read(), note)
        subprocess.run(["rm", "-rf", out], check=True)


if __name__ == "__main__":
    argv = [a for a in sys.argv if a != "--boot"]
    unittest.main(argv=argv, verbosity=2)
