"""wrapper-tool, end to end: pack, verify, list, extract on real files.

The tool under test comes from WRAPPER_TOOL (a command, split on ';' so an
emulator can precede it). Run one group: python3 test_tool.py RoundTripTest
"""
import hashlib
import io
import json
import os
import random
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import hostile_zips  # noqa: E402
import toolkit  # noqa: E402
from toolkit import INNER_SETUP  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TOOL = [part for part in os.environ.get("WRAPPER_TOOL", "wrapper-tool").split(";") if part]


# Memory-backed when the machine has it: the many-entries case makes 66,000 files.
SCRATCH = "/dev/shm" if os.path.isdir("/dev/shm") and os.access("/dev/shm", os.W_OK) else None


def run_tool(*args):
    return subprocess.run(TOOL + [str(a) for a in args], capture_output=True, text=True, timeout=300)


class ToolTestCase(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="wrapper-tool-test-", dir=SCRATCH)
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.stub = self.path("stub.exe")
        toolkit.make_pe(self.stub)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def ok(self, *args):
        result = run_tool(*args)
        self.assertEqual(result.returncode, 0, f"{args}: {result.stdout}{result.stderr}")
        return result

    def pack(self, folder, out, *options):
        return self.ok("pack", self.stub, folder, "-o", out, *options)

    def listing(self, installer):
        return json.loads(self.ok("list", installer, "--json").stdout)

    def entries_by_name(self, installer):
        return {e["name"]: e for e in self.listing(installer)["entries"]}


def mixed_payload():
    rng = random.Random(7)
    return {
        "empty.txt": b"",
        "readme.txt": b"install me\n" * 500,
        "bin/random.bin": bytes(rng.getrandbits(8) for _ in range(70000)),
        "bin/big.dat": b"".join(struct.pack("<I", i) for i in range(150000)),
        "data/deep/er/still/file.cfg": b"key=value\n",
        "platforms/qwindows.dll": b"MZ" + bytes(rng.getrandbits(2) for _ in range(30000)),
    }


class RoundTripTest(ToolTestCase):
    def round_trip(self, *options):
        source = self.path("in")
        toolkit.make_payload(source, mixed_payload())
        os.makedirs(self.path("in", "empty-folder"))
        out = self.path("out.exe")
        self.pack(source, out, *options)
        self.assertIn("result:        OK", self.ok("verify", out).stdout)
        self.ok("extract", out, self.path("x"))
        self.assertEqual(toolkit.tree_bytes(source), toolkit.tree_bytes(self.path("x")))
        # Another reader sees the same archive.
        with zipfile.ZipFile(out) as archive:
            self.assertIsNone(archive.testzip())
            self.assertEqual(archive.read("bin/big.dat"), toolkit.tree_bytes(source)["bin/big.dat"])
        return out

    def test_round_trip(self):
        listing = self.listing(self.round_trip())
        self.assertFalse(listing["zip64"])
        self.assertEqual(listing["archive_offset"], os.path.getsize(self.stub))

    def test_round_trip_forced_zip64(self):
        out = self.round_trip("--zip64")
        self.assertTrue(self.listing(out)["zip64"])
        with open(out, "rb") as f:
            end = f.read()[-22:]
        # Every field of the classic end record defers to the Zip64 one.
        self.assertEqual(struct.unpack("<IHHHHIIH", end)[3:7], (0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF))

    def test_entry_order_is_sorted_and_times_fixed(self):
        source = self.path("in")
        toolkit.make_payload(source, {"b/z.txt": b"z", "a.txt": b"a", "B.txt": b"B"})
        out = self.path("out.exe")
        self.pack(source, out)
        names = [e["name"] for e in self.listing(out)["entries"]]
        self.assertEqual(names, sorted(names))
        with zipfile.ZipFile(out) as archive:
            self.assertEqual({i.date_time for i in archive.infolist()}, {(1980, 1, 1, 0, 0, 0)})

    def test_same_input_same_bytes(self):
        # Two folders with the same content, created in opposite orders.
        files = mixed_payload()
        for folder, order in (("one", sorted(files)), ("two", sorted(files, reverse=True))):
            toolkit.make_payload(self.path(folder), {name: files[name] for name in order})
        self.pack(self.path("one"), self.path("1.exe"))
        self.pack(self.path("two"), self.path("2.exe"))
        with open(self.path("1.exe"), "rb") as a, open(self.path("2.exe"), "rb") as b:
            self.assertEqual(a.read(), b.read())

    def test_stored_or_deflated(self):
        rng = random.Random(3)
        source = self.path("in")
        toolkit.make_payload(source, {
            "text.txt": b"abcdefgh" * 10000,
            "noise.bin": bytes(rng.getrandbits(8) for _ in range(50000)),
            "empty.txt": b"",
            "one.txt": b"x",
        })
        cases = [("", {"text.txt": 8, "noise.bin": 0, "empty.txt": 0, "one.txt": 0}),
                 ("0", {"text.txt": 0, "noise.bin": 0, "empty.txt": 0, "one.txt": 0})]
        for level, expected in cases:
            with self.subTest(level=level or "default"):
                out = self.path(f"out{level}.exe")
                self.pack(source, out, *(["--level", level] if level else []))
                entries = self.entries_by_name(out)
                for name, method in expected.items():
                    self.assertEqual(entries[name]["method"], method, name)
                    if method == 8:
                        self.assertLess(entries[name]["compressed_size"], entries[name]["uncompressed_size"])
                    else:
                        self.assertEqual(entries[name]["compressed_size"], entries[name]["uncompressed_size"])

    def test_more_than_65535_entries(self):
        source = self.path("in")
        toolkit.make_payload(source)
        count = 66000
        for folder in range(66):
            os.makedirs(self.path("in", f"d{folder:02}"))
            for i in range(1000):
                with open(self.path("in", f"d{folder:02}", f"{i:03}"), "wb") as f:
                    f.write(b"%d" % i)
        out = self.path("out.exe")
        self.pack(source, out, "--level", "1")
        listing = self.listing(out)
        self.assertTrue(listing["zip64"])
        self.assertEqual(len(listing["entries"]), count + 66 + 1)
        self.assertIn("result:        OK", self.ok("verify", out).stdout)
        self.ok("extract", out, self.path("x"))
        with open(self.path("x", "d65", "999"), "rb") as f:
            self.assertEqual(f.read(), b"999")
        with zipfile.ZipFile(out) as archive:
            self.assertEqual(len(archive.infolist()), count + 66 + 1)


class RefusalTest(ToolTestCase):
    def make_case(self, case):
        source = self.path("in")
        if case == "missing inner setup":
            toolkit.write_file(source, "data.txt", b"data")
            return source, "RezuviZiduRuzudUvovovaz.exe"
        if case == "inner setup only in a subfolder":
            toolkit.write_file(source, "sub/" + INNER_SETUP, b"MZ")
            return source, "RezuviZiduRuzudUvovovaz.exe"
        if case == "inner setup is a folder":
            os.makedirs(os.path.join(source, INNER_SETUP))
            return source, "RezuviZiduRuzudUvovovaz.exe"
        toolkit.make_payload(source, {"ok.txt": b"fine"})
        if case == "file symlink":
            os.symlink("ok.txt", os.path.join(source, "link.txt"))
            return source, "link.txt"
        if case == "folder symlink":
            os.makedirs(os.path.join(source, "real"))
            os.symlink("real", os.path.join(source, "sub-link"))
            return source, "sub-link"
        if case == "non-ASCII name":
            toolkit.write_file(source, "caf\u00e9/menu.txt", b"x")
            return source, "caf"
        if case == "backslash in name":
            toolkit.write_file(source, "back\\slash.txt", b"x")
            return source, "back\\slash.txt"
        if case == "control character in name":
            toolkit.write_file(source, "tab\there.txt", b"x")
            return source, "tab"
        raise AssertionError(case)

    def test_refused_folders(self):
        cases = ["missing inner setup", "inner setup only in a subfolder", "inner setup is a folder",
                 "file symlink", "folder symlink", "non-ASCII name", "backslash in name",
                 "control character in name"]
        for case in cases:
            with self.subTest(case=case):
                shutil.rmtree(self.path("in"), ignore_errors=True)
                source, offending = self.make_case(case)
                out = self.path("out.exe")
                result = run_tool("pack", self.stub, source, "-o", out)
                self.assertEqual(result.returncode, 1, result.stderr)
                self.assertIn(offending, result.stderr)
                self.assertEqual(result.stderr.count("\n"), 1, result.stderr)
                self.assertEqual(sorted(os.listdir(self.dir)), ["in", "stub.exe"])

    def test_signed_stub_is_refused(self):
        signed = self.path("signed-stub.exe")
        toolkit.make_pe(signed, certificate=b"\x30" * 200)
        toolkit.make_payload(self.path("in"))
        result = run_tool("pack", signed, self.path("in"), "-o", self.path("out.exe"))
        self.assertEqual(result.returncode, 1)
        self.assertIn("signature", result.stderr)
        self.assertFalse(os.path.exists(self.path("out.exe")))

    def test_failure_keeps_the_old_output_and_leaves_no_temporary(self):
        # A tiny stub and payload make a file the stub would not search: the
        # check runs after the archive is written, so the temporary existed.
        tiny = self.path("tiny.exe")
        toolkit.make_pe(tiny, size=1024)
        source = self.path("in")
        toolkit.write_file(source, INNER_SETUP, b"MZ")
        out = self.path("out.exe")
        with open(out, "wb") as f:
            f.write(b"previous installer")
        result = run_tool("pack", tiny, source, "-o", out)
        self.assertEqual(result.returncode, 1)
        self.assertIn("16384", result.stderr)
        with open(out, "rb") as f:
            self.assertEqual(f.read(), b"previous installer")
        self.assertEqual(sorted(os.listdir(self.dir)), ["in", "out.exe", "stub.exe", "tiny.exe"])

    def test_usage_errors(self):
        toolkit.make_payload(self.path("in"))
        cases = [["pack", self.stub, self.path("in")],
                 ["pack", self.stub, "-o", self.path("o.exe")],
                 ["pack", self.stub, self.path("in"), "-o", self.path("o.exe"), "--level", "13"],
                 ["pack", self.stub, self.path("in"), "-o", self.path("o.exe"), "--bogus"],
                 ["verify"], ["list", "a", "b"], ["extract", "a"], ["frobnicate"], []]
        for args in cases:
            with self.subTest(args=args):
                result = run_tool(*args)
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertTrue(result.stderr.strip())
        for command in ("pack", "verify", "list", "extract"):
            self.assertIn("usage: wrapper-tool " + command, self.ok(command, "--help").stdout)

    def test_unreadable_inputs_are_io_errors(self):
        toolkit.make_payload(self.path("in"))
        missing = self.path("missing.exe")
        for args in (["pack", missing, self.path("in"), "-o", self.path("o.exe")],
                     ["pack", self.stub, self.path("no-such-folder"), "-o", self.path("o.exe")],
                     ["verify", missing], ["list", missing], ["extract", missing, self.path("x")]):
            with self.subTest(args=args[0]):
                self.assertEqual(run_tool(*args).returncode, 3)


class VerifyTest(ToolTestCase):
    def setUp(self):
        super().setUp()
        toolkit.make_payload(self.path("in"), {"a.txt": b"alpha " * 4000, "b.bin": bytes(range(256)) * 40})
        self.installer = self.path("installer.exe")
        self.pack(self.path("in"), self.installer)

    def damaged_copy(self, name, position):
        """A copy with one byte flipped inside entry `name`'s data."""
        entry = self.entries_by_name(self.installer)[name]
        with zipfile.ZipFile(self.installer) as archive:
            info = archive.getinfo(name)
        with open(self.installer, "rb") as f:
            data = bytearray(f.read())
        base = info.header_offset  # zipfile counts it from the file start
        name_length, extra_length = struct.unpack_from("<HH", data, base + 26)
        data[base + 30 + name_length + extra_length + position(entry)] ^= 0x55
        damaged = self.path("damaged-" + name + ".exe")
        with open(damaged, "wb") as f:
            f.write(data)
        return damaged

    @unittest.skipUnless(toolkit.have_signing_tools(), "openssl and osslsigncode needed")
    def test_signed_installer(self):
        signed = self.path("signed.exe")
        toolkit.sign(self.installer, signed, keep_certificate=self.path("cert.pem"))
        result = self.ok("verify", signed, "--ca", self.path("cert.pem"))
        self.assertIn("certificate table", result.stdout)
        self.assertIn("before the signature block", result.stdout)
        listing = self.listing(signed)
        self.assertTrue(listing["signed"])
        self.assertEqual(listing["entries"], self.listing(self.installer)["entries"])
        self.ok("extract", signed, self.path("x"))
        self.assertEqual(toolkit.tree_bytes(self.path("in")), toolkit.tree_bytes(self.path("x")))

    @unittest.skipUnless(toolkit.have_signing_tools(), "openssl and osslsigncode needed")
    def test_archive_after_an_earlier_signature(self):
        signed_stub = self.path("signed-stub.exe")
        toolkit.sign(self.stub, signed_stub)
        with open(self.installer, "rb") as f:
            archive = f.read()[os.path.getsize(self.stub):]
        late = self.path("late.exe")
        with open(signed_stub, "rb") as f, open(late, "wb") as out:
            out.write(f.read() + archive)
        # Bytes after the certificate table are outside the signature: the
        # stub does not look at them, so it finds no archive.
        result = run_tool("verify", late)
        self.assertEqual(result.returncode, 1)
        self.assertIn("archive:       not found", result.stdout)
        self.assertIn("pack first, then sign", result.stderr)

    def test_damaged_entries_fail(self):
        cases = [("a.txt", lambda e: e["compressed_size"] // 2),   # deflated: inflate or CRC fails
                 ("b.bin", lambda e: 100),                         # deflated, regular data
                 (INNER_SETUP, lambda e: 0)]
        for name, position in cases:
            with self.subTest(entry=name):
                damaged = self.damaged_copy(name, position)
                result = run_tool("verify", damaged)
                self.assertEqual(result.returncode, 1, result.stdout)
                self.assertIn(name, result.stderr)
                extracted = run_tool("extract", damaged, self.path("x-" + name))
                self.assertEqual(extracted.returncode, 1)
                self.assertIn(name, extracted.stderr)

    def test_stored_entry_with_bad_crc_fails(self):
        entries = self.entries_by_name(self.installer)
        self.assertEqual(entries[INNER_SETUP]["method"], 8)
        rng = random.Random(1)
        toolkit.write_file(self.path("in"), "noise.bin", bytes(rng.getrandbits(8) for _ in range(4000)))
        self.pack(self.path("in"), self.installer)
        self.assertEqual(self.entries_by_name(self.installer)["noise.bin"]["method"], 0)
        result = run_tool("verify", self.damaged_copy("noise.bin", lambda e: 1234))
        self.assertEqual(result.returncode, 1)
        self.assertIn("noise.bin", result.stderr)

    def test_no_archive(self):
        for name, content in (("plain PE", None), ("truncated", "cut")):
            with self.subTest(case=name):
                target = self.stub
                if content == "cut":
                    target = self.path("cut.exe")
                    with open(self.installer, "rb") as f, open(target, "wb") as out:
                        out.write(f.read()[:-10])
                result = run_tool("verify", target)
                self.assertEqual(result.returncode, 1)
                self.assertIn("archive:       not found", result.stdout)
                self.assertEqual(run_tool("list", target).returncode, 1)

    def test_staged_update_and_missing_inner_setup(self):
        toolkit.write_file(self.path("in"), "updates/ZevozoDezuda-10.99.ZIP", b"PK")
        self.pack(self.path("in"), self.installer)
        self.assertIn("staged update: updates/ZevozoDezuda-10.99.ZIP", self.ok("verify", self.installer).stdout)
        without = self.path("without.exe")
        shutil.copy(self.stub, without)
        with zipfile.ZipFile(without, "a") as archive:
            archive.writestr("a.txt", "only data")
        result = run_tool("verify", without)
        self.assertEqual(result.returncode, 1)
        self.assertIn("inner setup:   MISSING", result.stdout)


class ForeignArchiveTest(ToolTestCase):
    """Archives made by other producers, appended to a stub."""

    def info_zip_installer(self, adjust_offsets, *zip_args, names=None):
        source = self.path("in")
        toolkit.make_payload(source, {"a.txt": b"alpha\n" * 300, "sub/b.txt": b"beta\n" * 50})
        archive = self.path("payload.zip")
        subprocess.run(["zip", "-q", "-X", *zip_args, archive, *(names or [INNER_SETUP, "a.txt", "sub/b.txt"])],
                       cwd=source, check=True)
        installer = self.path("installer.exe")
        with open(self.stub, "rb") as s, open(archive, "rb") as z, open(installer, "wb") as out:
            out.write(s.read() + z.read())
        if adjust_offsets:
            subprocess.run(["zip", "-q", "-A", installer], check=True)
        return installer

    def test_info_zip_payloads(self):
        for adjust in (False, True):
            with self.subTest(offsets_from_file_start=adjust):
                shutil.rmtree(self.path("in"), ignore_errors=True)
                installer = self.info_zip_installer(adjust)
                listing = self.listing(installer)
                self.assertEqual(listing["archive_offset"], 0 if adjust else os.path.getsize(self.stub))
                with zipfile.ZipFile(installer) as archive:
                    expected = [(i.filename, i.file_size, i.compress_size, i.CRC, i.compress_type)
                                for i in archive.infolist()]
                got = [(e["name"], e["uncompressed_size"], e["compressed_size"], e["crc32"], e["method"])
                       for e in listing["entries"]]
                self.assertEqual(got, expected)
                self.ok("verify", installer)
                x = self.path(f"x{adjust}")
                self.ok("extract", installer, x)
                self.assertEqual(toolkit.tree_bytes(self.path("in")), toolkit.tree_bytes(x))

    def test_symlink_entry_stops_extraction(self):
        source = self.path("in")
        toolkit.make_payload(source, {"a.txt": b"a", "z.txt": b"z"})
        os.symlink("a.txt", os.path.join(source, "m-link"))
        archive = self.path("payload.zip")
        subprocess.run(["zip", "-q", "-X", "-y", archive, INNER_SETUP, "a.txt", "m-link", "z.txt"],
                       cwd=source, check=True)
        installer = self.path("installer.exe")
        with open(self.stub, "rb") as s, open(archive, "rb") as z, open(installer, "wb") as out:
            out.write(s.read() + z.read())
        kinds = {e["name"]: e["kind"] for e in self.listing(installer)["entries"]}
        self.assertEqual(kinds, {INNER_SETUP: "file", "a.txt": "file", "m-link": "symlink", "z.txt": "file"})
        verify = run_tool("verify", installer)
        self.assertEqual(verify.returncode, 1)
        self.assertIn("m-link", verify.stderr)
        result = run_tool("extract", installer, self.path("x"))
        self.assertEqual(result.returncode, 1)
        self.assertIn("m-link", result.stderr)
        self.assertEqual(sorted(os.listdir(self.path("x"))), sorted([INNER_SETUP, "a.txt"]))

    def test_unsafe_names_are_refused(self):
        for bad in ("../escape.txt", "/absolute.txt", "c:/drive.txt", "sub/../../up.txt", "a\\..\\..\\b.txt"):
            with self.subTest(name=bad):
                installer = self.path("installer.exe")
                shutil.copy(self.stub, installer)
                with zipfile.ZipFile(installer, "a") as archive:
                    archive.writestr(INNER_SETUP, "MZ")
                    archive.writestr("first.txt", "1")
                    info = zipfile.ZipInfo("placeholder")
                    info.filename = bad  # zipfile would clean the name otherwise
                    archive.writestr(info, "evil")
                    archive.writestr("last.txt", "2")
                entry = self.listing(installer)["entries"][2]
                self.assertEqual((entry["name"], entry["kind"]), (bad, "refused"))
                self.assertEqual(run_tool("verify", installer).returncode, 1)
                target = self.path("deep", "x")
                shutil.rmtree(self.path("deep"), ignore_errors=True)
                result = run_tool("extract", installer, target)
                self.assertEqual(result.returncode, 1)
                self.assertEqual(sorted(os.listdir(target)), sorted([INNER_SETUP, "first.txt"]))
                self.assertEqual(os.listdir(self.path("deep")), ["x"])

    def test_json_names_are_escaped(self):
        installer = self.path("installer.exe")
        shutil.copy(self.stub, installer)
        with zipfile.ZipFile(installer, "a") as archive:
            archive.writestr(INNER_SETUP, "MZ")
            archive.writestr('quote"back\\slash.txt', "x")
            archive.writestr("caf\u00e9.txt", "x")
        names = [e["name"] for e in self.listing(installer)["entries"]]
        # Non-ASCII bytes come out one \u00XX each, as stored (UTF-8 here).
        self.assertEqual(names, [INNER_SETUP, 'quote"back\\slash.txt', "caf\u00c3\u00a9.txt"])


class HardeningTest(ToolTestCase):
    """Payloads that would fill the disk, lose a file, hide behind the
    signature or be too deep for Windows: refused, or warned of."""

    def installer_with(self, archive):
        installer = self.path("installer.exe")
        with open(self.stub, "rb") as s, open(installer, "wb") as out:
            out.write(s.read() + archive)
        return installer

    def assertRefused(self, args, text):
        result = run_tool(*args)
        self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
        self.assertIn(text, result.stderr)
        self.assertEqual(result.stderr.count("\n"), 1, result.stderr)
        return result

    def test_overlapping_entries_are_refused(self):
        content = b"\0" * (1 << 20)
        for build in (hostile_zips.shared_record_zip, hostile_zips.overlapping_chain_zip):
            with self.subTest(construction=build.__name__):
                installer = self.installer_with(build(40, content))
                self.assertRefused(["verify", installer], "overlap")
                target = self.path("x-" + build.__name__)
                self.assertRefused(["extract", installer, target], "overlap")
                self.assertFalse(os.path.exists(target))

    def test_refusals_say_why_no_archive_was_found(self):
        buffer = io.BytesIO()
        with zipfile.ZipFile(buffer, "w") as archive:
            archive.writestr(INNER_SETUP, b"MZ" * 100)
        listed = buffer.getvalue()
        # The first directory header's signature, damaged.
        at = listed.rindex(b"PK\x01\x02")
        damaged = listed[:at] + b"PK\x01\x09" + listed[at + 4:]
        cases = [(b"", "(no end of central directory record near the end)"),
                 (damaged, "(a central directory header is damaged or cut off)")]
        for payload, reason in cases:
            with self.subTest(reason=reason):
                installer = self.installer_with(payload)
                for command in (["verify", installer], ["list", installer],
                                ["extract", installer, self.path("out")]):
                    self.assertRefused(command, reason)

    def test_names_that_differ_only_in_case(self):
        cases = [({"Lib/Core.dll": b"c" * 1000, "lib/core.dll": b"c" * 10}, "'lib/core.dll'"),
                 ({"app.cfg": b"1", "APP.CFG": b"2"}, "'app.cfg'"),
                 ({"lib": b"file", "LIB/x": b"in a folder"}, "'lib'"),
                 ({"Lib/a": b"a", "lib/b": b"b"}, None)]   # the folders merge: nothing lost
        for files, named in cases:
            with self.subTest(names=sorted(files)):
                source = self.path("in")
                shutil.rmtree(source, ignore_errors=True)
                toolkit.make_payload(source, files)
                out = self.path("out.exe")
                if named is None:
                    self.pack(source, out)
                    self.ok("verify", out)
                    continue
                self.assertIn(named, self.assertRefused(["pack", self.stub, source, "-o", out],
                                                        "letter case").stderr)
                self.assertFalse(os.path.exists(out))
                # The same names in an archive made elsewhere.
                archive = io.BytesIO()
                with zipfile.ZipFile(archive, "w") as z:
                    z.writestr(INNER_SETUP, b"MZ")
                    for name, data in files.items():
                        z.writestr(name, data)
                installer = self.installer_with(archive.getvalue())
                self.assertIn(named, self.assertRefused(["verify", installer], "letter case").stderr)
                target = self.path("x")
                self.assertRefused(["extract", installer, target], "letter case")
                self.assertFalse(os.path.exists(target))

    def test_long_paths(self):
        # 75 characters of typical work area, then the name: 259 fit.
        fits, too_long = "d" * 100 + "/" + "f" * 83, "d" * 100 + "/" + "g" * 84
        source = self.path("in")
        toolkit.make_payload(source, {fits: b"fits"})
        self.pack(source, self.path("fits.exe"))
        self.assertNotIn("warning:", self.ok("verify", self.path("fits.exe")).stdout)
        toolkit.write_file(source, too_long, b"too long")
        out = self.path("long.exe")
        self.assertIn("260 characters", self.assertRefused(["pack", self.stub, source, "-o", out],
                                                           "--allow-long-paths").stderr)
        self.pack(source, out, "--allow-long-paths")
        verify = self.ok("verify", out).stdout
        warnings = [line for line in verify.splitlines() if line.startswith("warning:")]
        self.assertEqual(len(warnings), 1, verify)
        self.assertIn(too_long, warnings[0])
        self.assertIn("result:        OK", verify)

    @unittest.skipUnless(toolkit.have_signing_tools(), "openssl and osslsigncode needed")
    def test_bytes_after_the_signature(self):
        toolkit.make_payload(self.path("in"), {"a.txt": b"signed"})
        self.pack(self.path("in"), self.path("unsigned.exe"))
        signed = self.path("signed.exe")
        toolkit.sign(self.path("unsigned.exe"), signed)
        extra = io.BytesIO()
        with zipfile.ZipFile(extra, "w") as z:
            z.writestr(INNER_SETUP, b"MZ not signed")
            z.writestr("planted.txt", b"x")
        tampered = self.path("tampered.exe")
        with open(signed, "rb") as f, open(tampered, "wb") as out:
            out.write(f.read() + extra.getvalue())
        self.assertRefused(["verify", tampered], "follow the certificate table")
        # What the stub unpacks is still the signed payload, never the appended one.
        self.assertEqual(self.listing(tampered)["entries"], self.listing(signed)["entries"])
        self.ok("extract", tampered, self.path("x"))
        self.assertEqual(toolkit.tree_bytes(self.path("in")), toolkit.tree_bytes(self.path("x")))


class PackerTest(ToolTestCase):
    """The threaded packer: every level and thread count, exclusions, reports."""

    def test_levels_and_threads_round_trip_and_agree(self):
        source = self.path("in")
        toolkit.make_payload(source, mixed_payload())
        for level in range(0, 13):
            with self.subTest(level=level):
                outputs = []
                for threads in (1, 3):
                    out = self.path(f"l{level}-j{threads}.exe")
                    self.pack(source, out, "--level", level, "-j", threads, "--quiet")
                    with open(out, "rb") as f:
                        outputs.append(f.read())
                self.assertEqual(outputs[0], outputs[1], "-j 1 and -j 3 differ")
                self.assertIn("result:        OK", self.ok("verify", out).stdout)
                target = self.path(f"x{level}")
                self.ok("extract", out, target)
                self.assertEqual(toolkit.tree_bytes(source), toolkit.tree_bytes(target))
                methods = {e["method"] for e in self.listing(out)["entries"] if not e["name"].endswith("/")}
                self.assertEqual(methods, {0} if level == 0 else {0, 8})

    def test_exclude(self):
        source = self.path("in")
        files = ["app.dll", "app.pdb", "sub/x.pdb", ".DS_Store", "sub/.DS_Store", "docs/drafts/n.txt",
                 "docs/keep.txt", "docs/a.txt"]
        toolkit.make_payload(source, {name: b"x" for name in files})
        everything = {INNER_SETUP, "docs/", "docs/drafts/", "sub/", *files}
        cases = [(["*.pdb", ".DS_Store"], {"app.pdb", "sub/x.pdb", ".DS_Store", "sub/.DS_Store"}),
                 (["docs/drafts"], {"docs/drafts/", "docs/drafts/n.txt"}),  # a folder goes whole
                 (["docs/*.txt"], {"docs/keep.txt", "docs/a.txt"}),        # '*' stops at '/'
                 (["?.txt"], {"docs/a.txt", "docs/drafts/n.txt"}),
                 (["*"], None),                                            # nothing left: refused
                 (["nothing-matches"], set())]
        for patterns, left_out in cases:
            with self.subTest(patterns=patterns):
                out = self.path("out.exe")
                args = [arg for pattern in patterns for arg in ("--exclude", pattern)]
                result = run_tool("pack", self.stub, source, "-o", out, *args)
                if left_out is None:
                    self.assertEqual(result.returncode, 1)
                    self.assertIn("no " + INNER_SETUP, result.stderr)
                    continue
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(set(self.entries_by_name(out)), everything - left_out)

    def test_reports(self):
        source = self.path("in")
        toolkit.make_payload(source, mixed_payload())
        out = self.path("out.exe")
        text = self.pack(source, out).stdout
        with open(out, "rb") as f:
            digest = hashlib.sha256(f.read()).hexdigest()
        self.assertIn("sha256:  " + digest, text)
        self.assertRegex(text, r"archive: \d+ bytes, \d+\.\d % of the input")
        report = json.loads(self.pack(source, out, "--json").stdout)
        self.assertEqual((report["sha256"], report["size"], report["archive_offset"]),
                         (digest, os.path.getsize(out), os.path.getsize(self.stub)))
        self.assertEqual([(e["name"], e["crc32"], e["compressed_size"]) for e in report["entries"]],
                         [(e["name"], e["crc32"], e["compressed_size"]) for e in self.listing(out)["entries"]])
        self.assertEqual(report["signature"], "none")
        quiet = self.pack(source, out, "--quiet")
        self.assertEqual((quiet.stdout, quiet.stderr), ("", ""))
        # Not a terminal: nothing for less than 1 MiB, else one line per tenth.
        quick = run_tool("pack", self.stub, source, "-o", out)
        self.assertNotIn("packing:", quick.stderr)
        toolkit.write_file(source, "big.bin", bytes(2 << 20))
        logged = run_tool("pack", self.stub, source, "-o", out)
        percents = [int(line.split()[1].rstrip("%")) for line in logged.stderr.splitlines()]
        self.assertEqual(percents[-1], 100, logged.stderr)
        self.assertEqual(percents, sorted(set(percents)))
        self.assertTrue(all(p % 10 == 0 for p in percents), logged.stderr)
        version = self.ok("--version").stdout
        self.assertRegex(version, r"wrapper-tool \d+\.\d+\.\d+")
        self.assertIn("stub 10.99.0.21465", version)


class SafeOutputTest(ToolTestCase):
    """Refusals before anything is written, every offender named, interruption."""

    def test_refused_inputs_and_outputs(self):
        toolkit.make_payload(self.path("in"))
        not_pe = self.path("notes.txt")
        with open(not_pe, "wb") as f:
            f.write(b"just some text, " * 2000)
        installer = self.path("installer.exe")
        self.pack(self.path("in"), installer)
        cases = [("stub is the output", self.stub, self.stub, "the stub itself"),
                 ("output inside the payload", self.stub, self.path("in", "out.exe"), "inside the payload"),
                 ("stub not a PE file", not_pe, self.path("o.exe"), "not a Windows executable"),
                 ("installer as stub", installer, self.path("o.exe"), "already carries a payload")]
        for name, stub, out, message in cases:
            with self.subTest(case=name):
                before = toolkit.tree_bytes(self.dir)
                result = run_tool("pack", stub, self.path("in"), "-o", out)
                self.assertEqual(result.returncode, 1, result.stderr)
                self.assertIn(message, result.stderr)
                self.assertEqual(toolkit.tree_bytes(self.dir), before)

    def test_every_offender_named_and_fixes_suggested(self):
        source = self.path("in")
        toolkit.make_payload(source, {"ok.txt": b"fine", "sub/real.txt": b"r"})
        for link in ("a-link", "sub/b-link", "z-link"):
            os.symlink("ok.txt", os.path.join(source, *link.split("/")))
        result = run_tool("pack", self.stub, source, "-o", self.path("o.exe"))
        self.assertEqual(result.returncode, 1)
        self.assertEqual([line.split("'")[1] for line in result.stderr.splitlines()],
                         ["a-link", "sub/b-link", "z-link"])
        lower = self.path("lower")
        toolkit.write_file(lower, INNER_SETUP.lower(), b"MZ")
        result = run_tool("pack", self.stub, lower, "-o", self.path("o.exe"))
        self.assertIn("rename it to " + INNER_SETUP, result.stderr)
        result = run_tool("pack", self.stub, source, self.path("o.exe"))
        self.assertEqual(result.returncode, 2)
        self.assertIn("did you mean: -o " + self.path("o.exe"), result.stderr)

    def test_verify_refuses_non_pe_and_two_archives(self):
        toolkit.make_payload(self.path("in"))
        installer = self.path("installer.exe")
        self.pack(self.path("in"), installer)
        with open(installer, "rb") as f:
            image = f.read()
        archive = image[os.path.getsize(self.stub):]
        cases = [("not PE", b"XX" + image[2:], "not a Windows executable"),
                 ("two archives", image + archive, "two archives")]
        for name, data, message in cases:
            with self.subTest(case=name):
                target = self.path(name.replace(" ", "-") + ".exe")
                with open(target, "wb") as f:
                    f.write(data)
                result = run_tool("verify", target)
                self.assertEqual(result.returncode, 1, result.stdout)
                self.assertIn(message, result.stdout + result.stderr)

    def test_interrupt_leaves_no_temporary(self):
        rng = random.Random(5)
        source = self.path("in")
        toolkit.make_payload(source, {f"text{i}.txt": rng.randbytes(4 << 20).translate(bytes(range(48, 58)) * 25
                                                                                     + bytes(range(48, 54)))
                                      for i in range(8)})
        out = self.path("out.exe")
        for number in (signal.SIGINT, signal.SIGTERM):
            with self.subTest(signal=number.name):
                with open(out, "wb") as f:
                    f.write(b"previous installer")
                process = subprocess.Popen(TOOL + ["pack", self.stub, source, "-o", out, "--level", "12", "-j", "1"],
                                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                temporary = f"{out}.tmp{process.pid}"
                deadline = time.monotonic() + 30
                while not os.path.exists(temporary) and process.poll() is None and time.monotonic() < deadline:
                    time.sleep(0.01)
                self.assertTrue(os.path.exists(temporary), "the packer never started writing")
                process.send_signal(number)
                self.assertEqual(process.wait(timeout=30), -number)
                self.assertEqual(sorted(os.listdir(self.dir)), ["in", "out.exe", "stub.exe"])
                with open(out, "rb") as f:
                    self.assertEqual(f.read(), b"previous installer")


@unittest.skipUnless(toolkit.have_signing_tools(), "openssl and osslsigncode needed")
class SignTest(ToolTestCase):
    """wrapper-tool sign, and the signature states verify reports."""

    def setUp(self):
        super().setUp()
        toolkit.make_payload(self.path("in"), {"a.txt": b"alpha " * 4000})
        self.installer = self.path("installer.exe")
        self.pack(self.path("in"), self.installer)
        self.cert, self.key = toolkit.make_certificate(self.dir)

    def without_osslsigncode(self):
        """An environment whose PATH has everything but osslsigncode."""
        bin_dir = self.path("bin")
        os.makedirs(bin_dir, exist_ok=True)
        for program in ("openssl", "python3"):
            os.symlink(shutil.which(program), os.path.join(bin_dir, program))
        return dict(os.environ, PATH=bin_dir)

    def test_sign_and_signature_states(self):
        p12 = self.path("test.p12")
        subprocess.run(["openssl", "pkcs12", "-export", "-in", self.cert, "-inkey", self.key, "-out", p12,
                        "-passout", "pass:s3cret"], check=True, capture_output=True)
        signed = self.path("signed.exe")
        self.ok("sign", self.installer, "--cert", self.cert, "--key", self.key, "-o", signed)
        from_p12 = self.path("p12.exe")
        result = subprocess.run(TOOL + ["sign", self.installer, "--pkcs12", p12, "--password-env", "SIGN_PASS",
                                        "-o", from_p12, "--ca", self.cert],
                                env=dict(os.environ, SIGN_PASS="s3cret"), capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(signed, "rb") as f:
            tampered_bytes = bytearray(f.read())
        tampered_bytes[os.path.getsize(self.stub) + 40] ^= 0x55
        tampered = self.path("tampered.exe")
        with open(tampered, "wb") as f:
            f.write(tampered_bytes)
        cases = [("valid", signed, ["--ca", self.cert], None, 0, "valid"),
                 ("valid from PKCS#12", from_p12, ["--ca", self.cert], None, 0, "valid"),
                 ("untrusted signer", signed, [], None, 0, "invalid"),
                 ("tampered", tampered, ["--ca", self.cert], None, 1, "invalid"),
                 ("tool missing", signed, [], self.without_osslsigncode(), 0,
                  "present but not checked (tool missing)"),
                 ("unsigned", self.installer, [], None, 0, "none")]
        for name, target, extra, env, code, state in cases:
            with self.subTest(case=name):
                result = subprocess.run(TOOL + ["verify", target, "--json"] + extra, env=env,
                                        capture_output=True, text=True)
                self.assertEqual(result.returncode, code, result.stdout + result.stderr)
                report = json.loads(result.stdout)
                self.assertEqual(report["signature"], state)
                self.assertEqual(report["result"], "ok" if code == 0 else "failed")
        self.assertIn("signature:     valid", self.ok("verify", signed, "--ca", self.cert).stdout)

    def test_sign_refusals_keep_the_input(self):
        signed = self.path("signed.exe")
        self.ok("sign", self.installer, "--cert", self.cert, "--key", self.key, "-o", signed)
        cases = [("already signed", [signed, "--cert", self.cert, "--key", self.key], None, 1),
                 ("bare stub", [self.stub, "--cert", self.cert, "--key", self.key], None, 1),
                 ("wrong key", [self.installer, "--cert", self.cert, "--key", self.cert], None, 3),
                 ("tool missing", [self.installer, "--cert", self.cert, "--key", self.key],
                  self.without_osslsigncode(), 3),
                 ("password variable unset", [self.installer, "--pkcs12", self.cert, "--password-env", "NO_SUCH_VAR"],
                  None, 2),
                 ("no key given", [self.installer], None, 2)]
        for name, args, env, code in cases:
            with self.subTest(case=name):
                before = toolkit.tree_bytes(self.dir)
                result = subprocess.run(TOOL + ["sign"] + args, env=env, capture_output=True, text=True)
                self.assertEqual(result.returncode, code, result.stderr)
                self.assertTrue(result.stderr.strip())
                self.assertEqual(toolkit.tree_bytes(self.dir), before)


@unittest.skipUnless(shutil.which("cmake"), "cmake needed")
class CMakeModuleTest(ToolTestCase):
    """cmake/WrapperInstaller.cmake in a small product build."""

    def cmake(self, *args):
        result = subprocess.run(["cmake", *args], capture_output=True, text=True, timeout=300)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        return result.stdout

    def test_build_packs_once_and_again_on_change(self):
        project = self.path("product")
        payload = os.path.join(project, "payload")
        toolkit.make_payload(payload, {"app.dll": b"MZ app " * 3000, "app.pdb": b"symbols"})
        signing = toolkit.have_signing_tools()
        sign_args = ""
        if signing:
            cert, key = toolkit.make_certificate(self.dir)
            subprocess.run(["openssl", "pkcs12", "-export", "-in", cert, "-inkey", key, "-out",
                            self.path("sign.p12"), "-passout", "pass:pw"], check=True, capture_output=True)
            sign_args = f'SIGN_PKCS12 "{self.path("sign.p12")}" PASSWORD_ENV PRODUCT_SIGN_PASSWORD'
        with open(os.path.join(project, "CMakeLists.txt"), "w") as f:
            f.write(f"""cmake_minimum_required(VERSION 3.20)
project(Product NONE)
list(APPEND CMAKE_MODULE_PATH "{os.path.join(ROOT, "cmake")}")
include(WrapperInstaller)
wrapper_add_installer(ProductSetup STUB "{self.stub}" PAYLOAD_DIR payload OUTPUT ProductSetup.exe
                      LEVEL 6 EXCLUDE "*.pdb" {sign_args})
""")
        build = self.path("build")
        os.environ["PRODUCT_SIGN_PASSWORD"] = "pw"
        self.addCleanup(os.environ.pop, "PRODUCT_SIGN_PASSWORD", None)
        self.cmake("-S", project, "-B", build, f"-DWRAPPER_TOOL={TOOL[-1]}")
        installer = os.path.join(build, "ProductSetup.exe")

        def build_once():
            output = self.cmake("--build", build)
            return "Packing" in output, os.stat(installer).st_mtime_ns

        packed, first = build_once()
        self.assertTrue(packed)
        report = json.loads(self.ok("verify", installer, "--json").stdout)
        self.assertEqual(report["result"], "ok")
        self.assertEqual(sorted(e["name"] for e in report["entries"]), sorted([INNER_SETUP, "app.dll"]))
        self.assertEqual(report["signature"], "invalid" if signing else "none")  # self-signed, not trusted here
        packed, second = build_once()
        self.assertEqual((packed, second), (False, first), "the second build repacked")
        time.sleep(0.01)
        for change in ("edit", "add"):
            with self.subTest(change=change):
                toolkit.write_file(payload, "app.dll" if change == "edit" else "new.txt", b"changed")
                packed, _ = build_once()
                self.assertTrue(packed)
        self.assertIn("new.txt", self.entries_by_name(installer))


class WindowsSmokeTest(ToolTestCase):
    """The Windows build of the tool (zlib), under Wine: round trips, and the
    same bytes on one thread and on two."""

    def test_round_trip(self):
        source = self.path("in")
        toolkit.make_payload(source, mixed_payload())
        self.assertIn("usage: wrapper-tool", self.ok("--help").stdout)
        for level in ("10", "12"):
            with self.subTest(level=level):
                outputs = []
                for threads in ("1", "2"):
                    out = self.path(f"out{level}-{threads}.exe")
                    self.pack(source, out, "--level", level, "-j", threads, "--quiet")
                    with open(out, "rb") as f:
                        outputs.append(f.read())
                self.assertEqual(outputs[0], outputs[1])
                self.assertIn("result:        OK", self.ok("verify", out).stdout)
                self.ok("extract", out, self.path("x" + level))
                self.assertEqual(toolkit.tree_bytes(source), toolkit.tree_bytes(self.path("x" + level)))


if __name__ == "__main__":
    unittest.main()
