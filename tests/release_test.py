#!/usr/bin/env python3
"""tools/release end to end, in a fresh clone of the last commit: unsigned
(twice, for a byte-identical package), signed with a throwaway certificate made
here, the refusals that must leave no package, and the checks of the exe. It
runs in the Wine 8 lane's tree, as tools/release does (.ci/run)."""
import hashlib
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zipfile

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ZIP = "traymark-8.1-4319.zip"
BUILDINFO = "traymark-8.1-4319.buildinfo"
results = []


def check(name, ok, detail=""):
    results.append(ok)
    print(f"  {'ok  ' if ok else 'FAIL'} {name}" + (f": {detail}" if detail and not ok else ""))


def run(cmd, cwd=None, env=None):
    full = dict(os.environ)
    for k in ("TRAYMARK_SIGN_CERT", "TRAYMARK_SIGN_KEY", "SOURCE_DATE_EPOCH"):
        full.pop(k, None)
    full.update(env or {})
    p = subprocess.run(cmd, cwd=cwd, env=full, capture_output=True, text=True)
    return p.returncode, p.stdout + p.stderr


def read(path):
    with open(path, "rb") as f:
        return f.read()


def main():
    work = tempfile.mkdtemp(prefix="release-test-")
    try:
        return test(work)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def test(work):
    src = os.path.join(work, "src")
    commit = subprocess.check_output(["git", "-C", TOP, "rev-parse", "HEAD"], text=True).strip()
    subprocess.check_call(["git", "clone", "-q", "--no-checkout", TOP, src])
    subprocess.check_call(["git", "-C", src, "checkout", "-q", "--detach", commit])
    print(f"release test of commit {commit[:12]}")
    release = os.path.join(src, "tools", "release")
    dist = os.path.join(src, "build", "dist")

    # A throwaway signer, and a second key that is not its own.
    cert, key, other = (os.path.join(work, n) for n in ("cert.pem", "key.pem", "other.pem"))
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-keyout", key, "-out", cert, "-subj", "/CN=Traymark release test",
                    "-addext", "extendedKeyUsage=codeSigning"], check=True, capture_output=True)
    other_cert = os.path.join(work, "other-cert.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-keyout", other, "-out", other_cert, "-subj", "/CN=Someone else"],
                   check=True, capture_output=True)

    # Unsigned: the exe, the zip holding it and a note, and sums that cover both.
    rc, out = run([release])
    check("unsigned release succeeds", rc == 0, out)
    if rc != 0:
        return 1
    check("unsigned release says so", "NOT signed" in out, out)
    check("build/dist holds the zip, the exe, SHA256SUMS and the buildinfo",
          sorted(os.listdir(dist)) == sorted(["SHA256SUMS", "traymark.exe", ZIP, BUILDINFO]), str(os.listdir(dist)))
    exe = read(os.path.join(dist, "traymark.exe"))
    sums = {}
    for line in read(os.path.join(dist, "SHA256SUMS")).decode().splitlines():
        digest, name = line.split("  ", 1)
        sums[name] = digest
    actual = {n: hashlib.sha256(read(os.path.join(dist, n))).hexdigest() for n in ("traymark.exe", ZIP)}
    check("SHA256SUMS gives the digests of the zip and the exe", sums == actual, f"{sums} vs {actual}")
    check("both digests are printed", all(d in out for d in actual.values()), out)
    epoch = int(subprocess.check_output(["git", "-C", src, "log", "-1", "--format=%ct"], text=True))
    with zipfile.ZipFile(os.path.join(dist, ZIP)) as z:
        infos = z.infolist()
        check("the zip holds traymark.exe then README.txt",
              [i.filename for i in infos] == ["traymark.exe", "README.txt"], str(z.namelist()))
        check("the zipped exe is the one beside it", z.read("traymark.exe") == exe)
        # A zip keeps seconds in steps of two.
        stamp = time.gmtime(epoch - epoch % 2)[:6]
        check("zip members carry the commit's time", all(i.date_time == stamp for i in infos),
              f"{[i.date_time for i in infos]} vs {stamp}")
        note = z.read("README.txt").decode("ascii")
        lacking = [w for w in ("8.1 (4319)", "Startup folder", "/remove", "/clear", commit, "not signed")
                   if w not in note]
        check("the note gives version, start-up, options, commit and signing", not lacking, str(lacking))
    first_sums = read(os.path.join(dist, "SHA256SUMS"))

    # The buildinfo: the compiler that made the bytes, at the version installed, and what it made.
    info = read(os.path.join(dist, BUILDINFO)).decode()
    compiler = subprocess.run(["dpkg-query", "-W", "-f=${Package} (= ${Version})", "g++-mingw-w64-i686-posix"],
                              capture_output=True, text=True).stdout
    lacking = [w for w in (f"Source-Date-Epoch: {epoch}\n", f"Git-Commit: {commit}\n", f" {compiler}",
                           f" {actual['traymark.exe']} {len(exe)} traymark.exe\n") if w not in info]
    check("the buildinfo names the toolchain, the source date, the commit and the sums",
          compiler and not lacking, f"{lacking} not in:\n{info}")

    # A later run gives the same bytes: the build and the zip keep nothing of the hour.
    time.sleep(2)
    rc, out = run([release])
    check("a second unsigned release gives the same zip and exe",
          rc == 0 and read(os.path.join(dist, "SHA256SUMS")) == first_sums, out)

    # Signed: verifies against the certificate, and is the unsigned exe plus a signature.
    rc, out = run([release], env={"TRAYMARK_SIGN_CERT": cert, "TRAYMARK_SIGN_KEY": key})
    check("signed release succeeds", rc == 0 and "signed (Authenticode, SHA-256)" in out, out)
    if rc == 0:
        signed = os.path.join(dist, "traymark.exe")
        vrc, vout = run(["osslsigncode", "verify", "-CAfile", cert, "-in", signed])
        check("osslsigncode verify passes against the certificate",
              vrc == 0 and "Signature verification: ok" in vout, vout)
        vrc, vout = run(["osslsigncode", "verify", "-CAfile", other_cert, "-in", signed])
        check("osslsigncode verify fails against another certificate", vrc != 0, vout)
        stripped = os.path.join(work, "stripped.exe")
        run(["osslsigncode", "remove-signature", "-in", signed, "-out", stripped])
        check("without its signature the signed exe is the unsigned one",
              os.path.exists(stripped) and read(stripped) == exe)
        with zipfile.ZipFile(os.path.join(dist, ZIP)) as z:
            check("the zip holds the signed exe", z.read("traymark.exe") == read(signed))

    # Refusals: a clear message and no package, not even the one made before.
    missing = os.path.join(work, "missing.pem")
    refusals = [
        ("certificate without key", {"TRAYMARK_SIGN_CERT": cert}, "TRAYMARK_SIGN_KEY is not"),
        ("key without certificate", {"TRAYMARK_SIGN_KEY": key}, "TRAYMARK_SIGN_CERT is not"),
        ("missing certificate file", {"TRAYMARK_SIGN_CERT": missing, "TRAYMARK_SIGN_KEY": key},
         "cannot be read"),
        ("missing key file", {"TRAYMARK_SIGN_CERT": cert, "TRAYMARK_SIGN_KEY": missing}, "cannot be read"),
        ("certificate file holding a key", {"TRAYMARK_SIGN_CERT": key, "TRAYMARK_SIGN_KEY": key},
         "not a PEM certificate"),
        ("key file holding a certificate", {"TRAYMARK_SIGN_CERT": cert, "TRAYMARK_SIGN_KEY": cert},
         "not an unencrypted PEM private key"),
        ("key of another certificate", {"TRAYMARK_SIGN_CERT": cert, "TRAYMARK_SIGN_KEY": other},
         "does not belong"),
        ("uncommitted changes", {}, "uncommitted changes"),
    ]
    for name, env, message in refusals:
        stray = os.path.join(src, "stray.txt")
        if name == "uncommitted changes":
            with open(stray, "w") as f:
                f.write("not committed\n")
        rc, out = run([release], env=env)
        if os.path.exists(stray):
            os.remove(stray)
        check(f"refuses: {name}", rc != 0 and message in out and not os.path.exists(dist), out)

    # The checks before packaging, on altered copies of the unsigned exe.
    pe = struct.unpack_from("<I", exe, 0x3C)[0]
    optional = pe + 24
    at = exe.index(b"WinExec\0")
    user32 = exe.index(b"USER32.dll\0")

    def patched(offset, data):
        return exe[:offset] + data + exe[offset + len(data):]

    cases = [
        ("exe as built", exe, None),
        ("one byte over 64 KiB", exe + bytes(65537 - len(exe)), "size check failed"),
        ("subsystem version 5.0", patched(optional + 48, struct.pack("<H", 5)), "subsystem check failed"),
        ("subsystem version 4.10", patched(optional + 50, struct.pack("<H", 10)), "subsystem check failed"),
        ("console program", patched(optional + 68, struct.pack("<H", 3)), "subsystem check failed"),
        ("import outside the allow-list", patched(at, b"WinExeX\0"), "import check failed"),
        ("imports from a C runtime DLL", patched(user32, b"msvcrt.dll"), "from a C runtime DLL"),
        ("not a PE file", b"MZ" + bytes(200), "subsystem check failed"),
    ]
    for name, data, message in cases:
        path = os.path.join(work, "case.exe")
        with open(path, "wb") as f:
            f.write(data)
        rc, out = run([release, "--check", path])
        if message is None:
            check(f"check passes: {name}", rc == 0, out)
        else:
            check(f"check refuses: {name}", rc != 0 and message in out, out)

    failed = results.count(False)
    print(f"release: {len(results) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
