"""sign with a key in a token: SoftHSM2, initialised in a scratch folder
(SOFTHSM2_CONF), reached through its PKCS#11 library as a USB token or an
HSM would be. The PIN is never on a command line.

The tool under test comes from WRAPPER_TOOL.
"""
import json
import os
import pty
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pki  # noqa: E402
import toolkit  # noqa: E402

TOOL = [part for part in os.environ.get("WRAPPER_TOOL", "wrapper-tool").split(";") if part]
MODULES = ["/usr/lib/softhsm/libsofthsm2.so", "/usr/lib/x86_64-linux-gnu/softhsm/libsofthsm2.so"]
MODULE = next((m for m in MODULES if os.path.exists(m)), None)
PIN = "739-token-PIN-582"
KEY = "pkcs11:token=release;object=signer;type=private"
CERT = "pkcs11:token=release;object=signer;type=cert"


def wanted():
    return MODULE and all(shutil.which(p) for p in ("softhsm2-util", "p11tool", "osslsigncode"))


@unittest.skipUnless(wanted(), "softhsm2, gnutls-bin (p11tool) and osslsigncode needed")
class Pkcs11Test(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="wrapper-tool-p11-")
        self.addCleanup(shutil.rmtree, self.dir, True)
        os.makedirs(self.path("tokens"))
        with open(self.path("softhsm2.conf"), "w") as f:
            f.write("directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n" % self.path("tokens"))
        self.env = dict(os.environ, SOFTHSM2_CONF=self.path("softhsm2.conf"), TOKEN_PIN=PIN)
        self.signer = pki.issue(self.dir, "token signer", usage="code")
        key8 = self.path("key8.pem")
        subprocess.run(["openssl", "pkcs8", "-topk8", "-nocrypt", "-in", self.signer.key_file, "-out", key8],
                       check=True, capture_output=True)

        def setup(*command, **extra):
            subprocess.run(command, check=True, capture_output=True, env=dict(self.env, **extra), timeout=60)

        setup("softhsm2-util", "--init-token", "--free", "--label", "release", "--pin", PIN, "--so-pin", "5678")
        setup("softhsm2-util", "--import", key8, "--token", "release", "--label", "signer", "--id", "01",
              "--pin", PIN)
        setup("p11tool", "--provider", MODULE, "--login", "--write", "--load-certificate", self.signer.cert,
              "--label", "signer", "--id", "01", "pkcs11:token=release", GNUTLS_PIN=PIN)
        # The key was only ever in the scratch folder; the token holds it now.
        os.remove(key8)
        stub = self.path("stub.exe")
        toolkit.make_pe(stub)
        toolkit.make_payload(self.path("in"), {"a.txt": b"alpha"})
        self.installer = self.path("installer.exe")
        subprocess.run(TOOL + ["pack", stub, self.path("in"), "-o", self.installer, "--quiet"], check=True)
        os.makedirs(self.path("out"))

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def sign(self, *args, env=None, module=None):
        return subprocess.run(TOOL + ["sign", self.installer, "--pkcs11-module", module or MODULE, *args,
                                      "-o", self.path("out", "signed.exe")],
                              capture_output=True, text=True, env=env or self.env, timeout=60)

    def test_sign_and_refusals(self):
        pin = ["--pin-env", "TOKEN_PIN"]
        # (case, options, environment, exit code, part of the error)
        cases = [("certificate in the token", ["--key", KEY, "--cert", CERT, *pin, "--quiet"], None, 0, None),
                 ("certificate from a file", ["--key", KEY, "--cert", self.signer.cert, *pin, "--json"], None, 0,
                  None),
                 ("wrong PIN", ["--key", KEY, "--cert", CERT, *pin], dict(self.env, TOKEN_PIN="0000"), 3,
                  "the token refused the PIN (PIN incorrect)"),
                 ("key not in the token", ["--key", KEY.replace("signer", "missing"), "--cert", CERT, *pin], None, 3,
                  "not found at: pkcs11:token=release;object=missing"),
                 ("module missing", ["--key", KEY, "--cert", CERT, *pin], None, 3, "/nonexistent/p11.so"),
                 ("no PIN and no terminal", ["--key", KEY, "--cert", CERT], None, 2, "--pin-env")]
        for name, options, env, code, message in cases:
            with self.subTest(case=name):
                result = self.sign(*options, env=env, module="/nonexistent/p11.so" if "module" in name else None)
                self.assertEqual(result.returncode, code, result.stderr)
                if code:
                    self.assertIn(message, result.stderr)
                    self.assertEqual(os.listdir(self.path("out")), [])
                    continue
                if "--quiet" in options:
                    self.assertEqual(result.stdout, "")
                else:  # --json: what sign checked, as verify reports it
                    signed = json.loads(result.stdout)
                    self.assertEqual((signed["signature"], signed["signer"]["subject"]), ("valid", "/CN=token signer"))
                verified = subprocess.run(TOOL + ["verify", self.path("out", "signed.exe"), "--json",
                                                  "--ca", self.signer.cert], capture_output=True, text=True)
                self.assertEqual(verified.returncode, 0, verified.stdout)
                self.assertEqual(json.loads(verified.stdout)["signer"]["subject"], "/CN=token signer")
                os.remove(self.path("out", "signed.exe"))

    def test_pin_is_on_no_command_line(self):
        """Every /proc/*/cmdline is read while sign runs (a slow osslsigncode
        stand-in in front of the real one, so it is seen running)."""
        bin_dir = self.path("bin")
        toolkit.write_file(bin_dir, "osslsigncode", b'#!/bin/sh\nsleep 1\nexec "%s" "$@"\n'
                           % shutil.which("osslsigncode").encode())
        os.chmod(os.path.join(bin_dir, "osslsigncode"), 0o755)
        env = dict(self.env, PATH=bin_dir + os.pathsep + os.environ["PATH"])
        seen, signer_seen, done = [], [], threading.Event()

        def scan():
            while not done.is_set():
                for entry in os.listdir("/proc"):
                    try:
                        with open("/proc/%s/cmdline" % entry, "rb") as f:
                            line = f.read()
                    except OSError:
                        continue
                    if PIN.encode() in line:
                        seen.append(line)
                    if b"osslsigncode\0sign" in line:
                        signer_seen.append(line)

        scanner = threading.Thread(target=scan)
        scanner.start()
        try:
            result = self.sign("--key", KEY, "--cert", CERT, "--pin-env", "TOKEN_PIN", env=env)
        finally:
            done.set()
            scanner.join()
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(signer_seen, "the signer was never seen running")
        self.assertEqual(seen, [])

    def test_pin_typed_on_the_terminal(self):
        pid, terminal = pty.fork()
        if pid == 0:
            os.execvpe(TOOL[0], TOOL + ["sign", self.installer, "--pkcs11-module", MODULE, "--key", KEY,
                                        "--cert", CERT, "-o", self.path("out", "signed.exe")], self.env)
        output = b""
        deadline = time.monotonic() + 30
        while b"PIN of the token: " not in output and time.monotonic() < deadline:
            output += os.read(terminal, 1024)
        os.write(terminal, PIN.encode() + b"\n")
        while True:
            try:
                chunk = os.read(terminal, 1024)
            except OSError:
                break
            if not chunk:
                break
            output += chunk
        _, status = os.waitpid(pid, 0)
        self.assertEqual(os.waitstatus_to_exitcode(status), 0, output)
        self.assertNotIn(PIN.encode(), output)  # not echoed
        self.assertTrue(os.path.exists(self.path("out", "signed.exe")))


if __name__ == "__main__":
    unittest.main()
