#!/usr/bin/env python3
"""How a lane is entered: telling a host that runs 32-bit code from one that
only pretends to, the Debian mirror taken from the host's apt sources, and a
guest's result carried out.

`vm_lane_test.py` checks the detection and the mirror; `vm_lane_test.py --boot`
also boots a lane's guest for each job: Wine 8's, or the lane that
TRAYMARK_BOOT_LANE names. That runs in the Wine 8 lane's tree as the root of
its namespace (`tree_run --root 8`, as .ci/run does), with the guest's tree built.
"""
import os
import subprocess
import sys
import tempfile
import unittest

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def bash(script, *args, **kw):
    """Runs script with the source tree as $top and args as $1..."""
    return subprocess.run(["bash", "-c", 'top=$0; ' + script, TOP, *args], capture_output=True, **kw)


def probe_for_machine(machine):
    image = bytearray(bash('. "$top/tools/lib/host32.sh"; host32_image').stdout)
    image[18:20] = machine.to_bytes(2, "little")
    return bytes(image)


class Detection(unittest.TestCase):
    def test_only_a_program_the_kernel_runs_itself_counts(self):
        cases = [
            # A binfmt_misc handler (qemu-user) runs the program, as a "#!"
            # line does: the process then executes the interpreter.
            ("through an interpreter", b"#!/bin/sh\nread x\nexit 42\n", "only under emulation"),
            ("a machine no kernel knows", probe_for_machine(0x7777), "refuses"),
        ]
        os.makedirs(os.path.join(TOP, "build"), exist_ok=True)
        with tempfile.TemporaryDirectory(dir=os.path.join(TOP, "build")) as folder:
            for name, image, reason in cases:
                with self.subTest(name):
                    path = os.path.join(folder, "..", "image-" + str(os.getpid()))
                    with open(path, "wb") as f:
                        f.write(image)
                    r = bash('. "$top/tools/lib/host32.sh"; host32_check "$1" "$2"', folder, path, text=True)
                    os.unlink(path)
                    self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
                    self.assertIn(reason, r.stdout)
            self.assertEqual(os.listdir(folder), [], "the probe was left behind")

    def test_a_probe_that_dies_early_is_no_proof(self):
        r = bash('. "$top/tools/lib/host32.sh"; host32_verdict "" /x/probe /x/probe 139', text=True)
        self.assertEqual(r.returncode, 1)
        self.assertIn("exit code 139", r.stdout)


class Mirror(unittest.TestCase):
    def test_the_mirror_is_the_first_deb_source_of_the_debian_archive(self):
        cases = [
            # name, files under the apt folder, mirror (None: there is none)
            ("no sources at all", {}, None),
            ("a one-line source with options", {
                "sources.list": "deb [arch=amd64 signed-by=/usr/share/keyrings/k.gpg] http://ftp.de.debian.org/debian/ bookworm main\n",
            }, "http://ftp.de.debian.org/debian"),
            ("comments, sources and security first", {
                "sources.list.d/a.list": "# deb http://old.example/debian bookworm main\n"
                                         "deb-src http://src.example/debian bookworm main\n"
                                         "deb http://security.debian.org/debian-security bookworm-security main\n"
                                         "deb https://mirror.example.org/debian bookworm main\n",
            }, "https://mirror.example.org/debian"),
            ("deb822 stanzas: sources only, disabled, then two archives", {
                "sources.list.d/debian.sources": "Types: deb-src\nURIs: http://src.example/debian\nSuites: trixie\n\n"
                                                 "Enabled: no\nTypes: deb\nURIs: http://off.example/debian\n\n"
                                                 "# the archive\nTypes: deb deb-src\n"
                                                 "URIs: http://deb.debian.org/debian-security http://deb.debian.org/debian\n"
                                                 "Suites: trixie\nComponents: main\n",
            }, "http://deb.debian.org/debian"),
            ("only other archives", {
                "sources.list.d/node.list": "deb https://deb.nodesource.com/node_20.x nodistro main\n",
            }, None),
            # Debian's cloud images: the URI is a local list of mirrors.
            ("a mirror+file: list", {
                "sources.list.d/debian.sources": "Types: deb\nURIs: mirror+file://{etc}/mirrors/debian.list\n"
                                                 "Suites: bookworm bookworm-updates\nComponents: main\n",
                "mirrors/debian.list": "# the nearest first\nmirror+file:/nested.list\n"
                                       "https://cdn.example.net/debian/\tpriority:1\nhttp://deb.debian.org/debian\n",
            }, "https://cdn.example.net/debian"),
            # Docker's repository: a Debian suite's name, but not Debian's archive.
            ("a vendor repository beside Debian's", {
                "sources.list.d/debian.sources": "Types: deb\nURIs: http://deb.debian.org/debian\n"
                                                 "Suites: trixie trixie-updates\nComponents: main\n",
                "sources.list.d/docker.list": "deb [arch=amd64 signed-by=/etc/apt/keyrings/docker.asc] "
                                              "https://download.docker.com/linux/debian trixie stable\n",
            }, "http://deb.debian.org/debian"),
            ("Enabled: no, in any case", {
                "sources.list.d/debian.sources": "Types: deb\nURIs: http://off.example/debian\nSuites: bookworm\n"
                                                 "Components: main\nenabled: No\n\n"
                                                 "Types: deb\nURIs:\n http://on.example/debian\n"
                                                 "Suites: bookworm\nComponents: contrib\n main\n",
            }, "http://on.example/debian"),
            # apt reads sources.list.d by name, whatever the format.
            ("a .sources file before a .list file", {
                "sources.list.d/a-mirror.sources": "Types: deb\nURIs: http://first.example/debian\n"
                                                   "Suites: bookworm-updates\nComponents: main\n",
                "sources.list.d/b-debian.list": "deb http://second.example/debian bookworm main\n",
                "sources.list.d/c~backup.list": "deb http://ignored.example/debian bookworm main\n",
            }, "http://first.example/debian"),
            ("security and other suites only, named in the one line", {
                "sources.list": "deb http://deb.debian.org/debian-security bookworm-security main\n"
                                "deb http://deb.debian.org/debian bookworm-backports main\n"
                                "deb https://download.docker.com/linux/debian bookworm stable\n",
            }, None),
        ]
        for name, files, mirror in cases:
            with self.subTest(name), tempfile.TemporaryDirectory() as etc:
                os.makedirs(os.path.join(etc, "sources.list.d"))
                for path, text in files.items():
                    os.makedirs(os.path.dirname(os.path.join(etc, path)), exist_ok=True)
                    with open(os.path.join(etc, path), "w") as f:
                        f.write(text.replace("{etc}", etc))
                r = bash('. "$top/tools/lib/trees.sh"; tree_mirror "$1"', etc, text=True)
                if mirror is None:
                    self.assertEqual(r.returncode, 1, r.stdout)
                    self.assertEqual(r.stderr.count("\n"), 1, r.stderr)
                    self.assertIn("name no Debian mirror", r.stderr)
                    # What was found is named, so the user sees why it was passed over.
                    for line in files.get("sources.list", "").splitlines():
                        self.assertIn(line.split(None, 1)[1], r.stderr)
                else:
                    self.assertEqual((r.returncode, r.stdout), (0, mirror + "\n"), r.stderr)


@unittest.skipUnless("--boot" in sys.argv, "boots a guest only with --boot")
class GuestJob(unittest.TestCase):
    def run_in_guest(self, bound, job, kernel_options):
        lane = os.environ.get("TRAYMARK_BOOT_LANE", "8")
        env = dict(os.environ)
        if kernel_options is not None:
            env["VM_KERNEL_OPTIONS"] = kernel_options
        return subprocess.run([os.path.join(TOP, "tools", "lib", "guest"), lane, str(bound), "build/vm-test-out",
                               "bash", "-c", job], capture_output=True, text=True, timeout=bound + 600, env=env)

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
