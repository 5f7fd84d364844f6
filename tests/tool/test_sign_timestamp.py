"""Timestamps: a signature outlives its certificate only through a timestamp
that verifies, and a timestamp that does not is never shown as a time.

The tool under test comes from WRAPPER_TOOL. With WRAPPER_TABLE_OUT=FILE the
table's rows (state, exit code, shown time, osslsigncode's verdict) are also
written there, for any build of the tool.
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pki  # noqa: E402
import toolkit  # noqa: E402

TOOL = [part for part in os.environ.get("WRAPPER_TOOL", "wrapper-tool").split(";") if part]
VALIDITY = "2019-01-01 00:00:00 UTC to 2020-01-01 00:00:00 UTC"  # the expired signer's, as reasons name it


def shown_time(signer):
    """The timestamp verify shows: its time, 'failed', or None."""
    stamp = (signer or {}).get("timestamp")
    if isinstance(stamp, dict):
        return stamp["time"] if stamp["verified"] else "failed"
    return stamp  # a build that gave the time as text


class TimestampCase(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="wrapper-tool-ts-")
        self.addCleanup(shutil.rmtree, self.dir, True)
        stub = self.path("stub.exe")
        toolkit.make_pe(stub)
        toolkit.make_payload(self.path("in"), {"a.txt": b"alpha " * 100})
        self.installer = self.path("installer.exe")
        subprocess.run(TOOL + ["pack", stub, self.path("in"), "-o", self.installer, "--quiet"], check=True)
        self.root = pki.issue(self.dir, "ts root", ca=True)
        self.tsa = pki.issue(self.dir, "ts authority", self.root, usage="tsa")

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def tool(self, *args, env=None):
        return subprocess.run(TOOL + [str(a) for a in args], capture_output=True, text=True, timeout=120, env=env)


@unittest.skipUnless(toolkit.have_signing_tools(), "openssl and osslsigncode needed")
class TimestampTableTest(TimestampCase):
    def osslsigncode(self, name, signer, tsa=None, at=None, legacy=None, source=None):
        """`source` (the installer) signed by osslsigncode, stamped at `at` by its
        built-in authority from `tsa`, or countersigned by the authority at `legacy`."""
        target = self.path(name + ".exe")
        if os.path.exists(target):
            os.remove(target)  # osslsigncode writes no file that is there
        stamp = ["-TSA-certs", tsa.cert, "-TSA-key", tsa.key_file, "-TSA-time", str(pki.unix(at))] if tsa else []
        stamp += ["-t", legacy] if legacy else []
        subprocess.run(["osslsigncode", "sign", "-certs", signer.cert, "-key", signer.key_file, "-h", "sha256",
                        *stamp, "-in", source or self.installer, "-out", target], check=True, capture_output=True)
        return target

    def transplanted(self, signer):
        """An installer whose genuine token was taken from another installer's
        signature, so only what the token stamps differs."""
        other = self.path("other.exe")
        toolkit.make_payload(self.path("other"), {"a.txt": b"bravo " * 100})
        subprocess.run(TOOL + ["pack", self.path("stub.exe"), self.path("other"), "-o", other, "--quiet"], check=True)

        def token(name, source):
            """The image and where its token lies in it: after the attribute's OID and SET."""
            with open(self.osslsigncode(name, signer, self.tsa, "2019-06-01", source=source), "rb") as f:
                image = f.read()
            start, _ = pki.der_item(image, image.index(bytes.fromhex("060a2b060104018237030301")) + 12)
            value, length = pki.der_item(image, start)
            return image, start, value + length

        mine, start, end = token("mine", self.installer)
        # The authority's serial numbers are random, so its tokens differ in size now and then.
        for attempt in range(20):
            theirs, their_start, their_end = token("theirs", other)
            if their_end - their_start == end - start:
                break
        with open(self.path("transplanted.exe"), "wb") as f:
            f.write(mine[:start] + theirs[their_start:their_end] + mine[end:])
        return self.path("transplanted.exe")

    def test_states_exit_codes_and_shown_times(self):
        current = pki.issue(self.dir, "current signer", self.root, "2020-01-01", "2039-01-01", "code")
        expired = pki.issue(self.dir, "expired signer", self.root, "2019-01-01", "2020-01-01", "code")
        rogue = pki.issue(self.dir, "rogue authority", pki.issue(self.dir, "other root", ca=True), usage="tsa")
        # Trusted and valid at the stamp's time, but not for time stamping.
        code_signer = pki.issue(self.dir, "code signer as authority", self.root, usage="code")
        with pki.TimestampAuthority(self.path("tsa"), self.tsa) as authority, \
                pki.TimestampAuthority(self.path("rogue"), rogue) as rogue_authority, \
                pki.TimestampAuthority(self.path("code"), code_signer) as code_authority:
            stamped_now = self.path("current-stamped.exe")
            result = self.tool("sign", self.installer, "--cert", current.cert, "--key", current.key_file,
                               "--timestamp", authority.url, "--ca", self.root.cert, "-o", stamped_now)
            self.assertEqual(result.returncode, 0, result.stderr)
            countersigned = self.osslsigncode("countersigned", current, legacy=authority.url)
            rogue_countersigned = self.osslsigncode("rogue-countersigned", expired, legacy=rogue_authority.url)
            code_countersigned = self.osslsigncode("code-countersigned", current, legacy=code_authority.url)
        inside = self.osslsigncode("inside", expired, self.tsa, "2019-06-01")

        def altered(source, name):
            """`source` with its token's genTime moved a day on, after signing."""
            with open(source, "rb") as f:
                data = f.read()
            self.assertEqual(data.count(b"20190601000000Z"), 1)  # the genTime, nothing else
            with open(self.path(name), "wb") as f:
                f.write(data.replace(b"20190601000000Z", b"20190602000000Z"))
            return self.path(name)
        now = time.strftime("%Y-%m-%d %H:%M", time.gmtime())
        # (row, file, state, exit code, shown time: text, "now", "failed" or None)
        rows = [("current, no timestamp", self.osslsigncode("current", current), "valid", 0, None),
                ("current, local authority's timestamp", stamped_now, "valid", 0, "now"),
                # Still valid now, but the altered time is never shown.
                ("current, timestamp token altered",
                 altered(self.osslsigncode("current-2019", current, self.tsa, "2019-06-01"), "current-altered.exe"),
                 "valid", 0, "failed"),
                ("expired, trusted timestamp inside its validity", inside, "valid", 0, "2019-06-01 00:00:00 UTC"),
                ("expired, no timestamp", self.osslsigncode("expired", expired), "invalid", 1, None),
                ("expired, timestamp after it expired", self.osslsigncode("late", expired, self.tsa, "2021-01-01"),
                 "invalid", 1, "2021-01-01 00:00:00 UTC"),
                ("expired, timestamp from an untrusted authority",
                 self.osslsigncode("rogue", expired, rogue, "2019-06-01"), "invalid", 1, "failed"),
                ("expired, timestamp token altered", altered(inside, "altered.exe"), "invalid", 1, "failed"),
                ("expired, genuine token of another signature", self.transplanted(expired), "invalid", 1, "failed"),
                ("current, Authenticode countersignature", countersigned, "valid", 0, "now"),
                ("expired, countersignature from an untrusted authority", rogue_countersigned, "invalid", 1,
                 "failed"),
                ("current, countersignature by a certificate not for time stamping", code_countersigned, "valid", 0,
                 "failed")]
        table = []
        for name, target, state, code, shown in rows:
            result = self.tool("verify", target, "--json", "--ca", self.root.cert)
            report = json.loads(result.stdout) if result.stdout.startswith("{") else {}
            got = shown_time(report.get("signer"))
            ossl = subprocess.run(["osslsigncode", "verify", "-in", target, "-CAfile", self.root.cert,
                                   "-TSA-CAfile", self.root.cert, "-ignore-cdp"], capture_output=True, text=True)
            table.append((name, report.get("signature"), result.returncode, got,
                          "ok" if ossl.returncode == 0 else "failed"))
            with self.subTest(row=name):
                self.assertEqual((report.get("signature"), result.returncode), (state, code), result.stdout)
                self.assertEqual(got[:16] if shown == "now" and got else got, now if shown == "now" else shown)
                self.assertEqual(ossl.returncode == 0, code == 0, "osslsigncode disagrees: " + ossl.stdout)
                text = self.tool("verify", target, "--ca", self.root.cert).stdout
                line = next(line for line in text.splitlines() if line.startswith("timestamp:"))
                self.assertTrue(line[15:].startswith(got if got and shown != "failed" else shown or "none"), line)
                if code:
                    self.assertIn(VALIDITY, report["signature_detail"])
                if shown == "failed":
                    # Never shown as a time, and its authority and reason told.
                    self.assertNotIn("2019-06-01 00:00:00", text + result.stdout)
                    stamp = report["signer"]["timestamp"]
                    self.assertTrue(stamp["authority"] and stamp["problem"] and stamp["time"] is None, stamp)
        if os.environ.get("WRAPPER_TABLE_OUT"):
            with open(os.environ["WRAPPER_TABLE_OUT"], "a") as out:
                for row in table:
                    out.write("| " + " | ".join(str(cell) for cell in row) + " |\n")


@unittest.skipUnless(toolkit.have_signing_tools(), "openssl and osslsigncode needed")
class SignTimestampFailureTest(TimestampCase):
    """An authority that fails or hangs: a clear error within the deadline, nothing written."""

    def test_failing_authorities_leave_nothing(self):
        signer = pki.issue(self.dir, "signer", self.root, usage="code")
        # (mode, the signer's deadline in seconds, part of the error)
        for mode, deadline, message in (("fail", "60", "osslsigncode could not sign"),
                                        ("hang", "3", "did not finish within 3 s")):
            with self.subTest(mode=mode), pki.TimestampAuthority(self.path("tsa-" + mode), self.tsa, mode) as tsa:
                before = toolkit.tree_bytes(self.dir)
                started = time.monotonic()
                result = self.tool("sign", self.installer, "--cert", signer.cert, "--key", signer.key_file,
                                   "--timestamp", tsa.url, "-o", self.path("out.exe"),
                                   env=dict(os.environ, WRAPPER_PROGRAM_TIMEOUT=deadline))
                self.assertEqual(result.returncode, 3, result.stderr)
                self.assertIn(message, result.stderr)
                self.assertLess(time.monotonic() - started, 30)
                self.assertEqual(toolkit.tree_bytes(self.dir), before)


if __name__ == "__main__":
    unittest.main()
