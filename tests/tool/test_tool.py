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
import pki  # noqa: E402
import test_verify_crafted  # noqa: E402
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

    def packed_on(self, source, stem, threads, *options):
        """The installer's bytes packed with each -j of `threads`; the last one stays at stem-jN.exe."""
        outputs = []
        for count in threads:
            out = self.path(f"{stem}-j{count}.exe")
            self.pack(source, out, *options, "-j", count, "--quiet")
            with open(out, "rb") as f:
                outputs.append(f.read())
        return outputs, out

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
        if case == "name that is not UTF-8":
            toolkit.write_file(source, "caf\udce9/menu.txt", b"x")  # the byte 0xE9 alone
            return source, "caf"
        if case == "device name":
            toolkit.write_file(source, "sub/CON.txt", b"x")
            return source, "sub/CON.txt"
        if case == "backslash in name":
            toolkit.write_file(source, "back\\slash.txt", b"x")
            return source, "back\\slash.txt"
        if case == "control character in name":
            toolkit.write_file(source, "tab\there.txt", b"x")
            return source, "tab"
        raise AssertionError(case)

    def test_refused_folders(self):
        cases = ["missing inner setup", "inner setup only in a subfolder", "inner setup is a folder",
                 "file symlink", "folder symlink", "name that is not UTF-8", "device name",
                 "backslash in name", "control character in name"]
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

    def test_only_the_stub_is_packed_or_verified(self):
        """The stub is told by its version block: pack refuses any other PE,
        verify fails an installer built on one and prints the stub's version."""
        product, version = toolkit.STUB_IDENTITY
        shown = f"stub:          {product} {version}"
        # case, stub (identity to fake, or a built file), pack's exit and text, verify's exit and text
        cases = [("this stub", (product, version), 0, "", 0, shown),
                 ("no version block", None, 1, "no version block", 1, "not packed on the stub"),
                 ("another product", ("DemoSetup", version), 1, "names 'DemoSetup' version " + version,
                  1, "stub:          DemoSetup"),
                 ("another release", (product, "10.98.0.7"), 1, "version 10.98.0.7", 0,
                  "warning:       another stub release")]
        built = os.path.join(ROOT, "build", "bin")
        if os.path.exists(os.path.join(built, "ZuvidaDiroVivuv.exe")):
            cases.append(("the built stub", os.path.join(built, "ZuvidaDiroVivuv.exe"), 0, "", 0, shown))
        if os.path.exists(os.path.join(built, "demo-setup.exe")):
            cases.append(("demo-setup.exe", os.path.join(built, "demo-setup.exe"), 1, "version block", 1,
                          "not packed on the stub"))
        for case, stub, pack_code, pack_text, verify_code, verify_text in cases:
            with self.subTest(case=case):
                if not isinstance(stub, str):
                    toolkit.make_pe(self.path("candidate.exe"), identity=stub)
                    stub = self.path("candidate.exe")
                out = self.path("packed.exe")
                result = run_tool("pack", stub, self.path("in"), "-o", out)
                self.assertEqual(result.returncode, pack_code, result.stderr)
                self.assertIn(f"refused '{stub}': " if pack_code else "", result.stderr)
                self.assertIn(pack_text, result.stderr)
                self.assertEqual(os.path.exists(out), pack_code == 0)
                # The same PE carrying the archive of a good installer, as another packer would make it.
                with open(stub, "rb") as f, open(self.installer, "rb") as good, open(out, "wb") as spliced:
                    spliced.write(f.read() + good.read()[os.path.getsize(self.stub):])
                report = run_tool("verify", out)
                self.assertEqual(report.returncode, verify_code, report.stdout + report.stderr)
                self.assertIn(verify_text, report.stdout)
                os.remove(out)

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

    def test_utf8_names_pack_list_and_extract(self):
        source = self.path("in")
        toolkit.make_payload(source, {"\u00c4rger.txt": b"Verdruss", "donn\u00e9es/\u00e9.txt": b"e"})
        out = self.path("out.exe")
        self.pack(source, out)
        entries = self.entries_by_name(out)
        for name in ("\u00c4rger.txt", "donn\u00e9es/\u00e9.txt"):
            self.assertEqual((entries[name]["kind"], entries[name]["action"], entries[name]["utf8"]),
                             ("file", "write_file", True), name)
        self.assertFalse(entries[INNER_SETUP]["utf8"])   # plain names stay as they were
        with zipfile.ZipFile(out) as archive:
            self.assertEqual(archive.getinfo("\u00c4rger.txt").flag_bits & 0x800, 0x800)
        self.assertIn("\u00c4rger.txt", self.ok("list", out).stdout)
        self.ok("verify", out)
        self.ok("extract", out, self.path("x"))
        self.assertEqual(toolkit.tree_bytes(source), toolkit.tree_bytes(self.path("x")))

    def test_names_windows_cannot_hold(self):
        for bad in ("CON.txt", "sub/nul", "lpt1.log", "dot.", "space ", "a?b", "a*b"):
            with self.subTest(name=bad):
                installer = self.path("installer.exe")
                shutil.copy(self.stub, installer)
                with zipfile.ZipFile(installer, "a") as archive:
                    archive.writestr(INNER_SETUP, "MZ")
                    archive.writestr(bad, "x")
                entry = self.listing(installer)["entries"][1]
                self.assertEqual((entry["kind"], entry["refusal"]), ("refused", "windows_name"))
                verify = run_tool("verify", installer)
                self.assertEqual(verify.returncode, 1)
                self.assertIn(f"entry 1 '{bad}'", verify.stderr)
                self.assertIn("Windows cannot hold", verify.stderr)
                result = run_tool("extract", installer, self.path("x"))
                self.assertEqual(result.returncode, 1)
                self.assertEqual(os.listdir(self.path("x")), [INNER_SETUP])
                shutil.rmtree(self.path("x"))

    def test_json_names_are_escaped(self):
        installer = self.path("installer.exe")
        shutil.copy(self.stub, installer)
        with zipfile.ZipFile(installer, "a") as archive:
            archive.writestr(INNER_SETUP, "MZ")
            archive.writestr('quote"back\\slash.txt', "x")
            archive.writestr("caf\u00e9.txt", "x")
        names = [e["name"] for e in self.listing(installer)["entries"]]
        # zipfile marks the UTF-8 name (bit 11): it comes out as the text it is.
        self.assertEqual(names, [INNER_SETUP, 'quote"back\\slash.txt', "caf\u00e9.txt"])


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
        # Past Windows' 259 characters under a typical work area: the stub
        # makes such paths through \\?\ names, so they pack and verify as they are.
        fits, longer = "d" * 100 + "/" + "f" * 83, "d" * 100 + "/" + "g" * 84
        source = self.path("in")
        toolkit.make_payload(source, {fits: b"fits"})
        self.pack(source, self.path("fits.exe"))
        self.assertNotIn("warning:", self.ok("verify", self.path("fits.exe")).stdout)
        toolkit.write_file(source, longer, b"longer")
        out = self.path("long.exe")
        self.pack(source, out)
        self.pack(source, out, "--allow-long-paths")   # still accepted, no longer needed
        verify = self.ok("verify", out).stdout
        self.assertNotIn("warning:", verify)
        self.assertIn("result:        OK", verify)

    def test_installer_past_one_32_bit_view(self):
        # Sparse: 1.6 GB of nothing between the stub and a small payload. The
        # stub reads it through bounded views, so verify has nothing to warn of.
        archive = io.BytesIO()
        with zipfile.ZipFile(archive, "w") as z:
            z.writestr(INNER_SETUP, b"MZ")
        installer = self.path("big.exe")
        shutil.copy(self.stub, installer)
        with open(installer, "r+b") as f:
            f.truncate(1_600_000_000)
            f.seek(0, 2)
            f.write(archive.getvalue())
        verify = self.ok("verify", installer).stdout
        self.assertNotIn("warning:", verify)
        self.assertIn("result:        OK", verify)
        os.remove(installer)

    def test_the_stubs_length_limit(self):
        # createDirectories takes names of up to 1,023 characters.
        def name(length):
            parts, left = [], length
            while left > 0:
                parts.append("p" * min(200, left - (1 if parts else 0)))
                left -= len(parts[-1]) + (1 if len(parts) > 1 else 0)
            return "/".join(parts)
        for length, fits in ((1023, True), (1024, False), (1099, False)):
            with self.subTest(length=length):
                entry = name(length)
                self.assertEqual(len(entry), length)
                source = self.path(f"in{length}")
                toolkit.make_payload(source, {entry: b"deep"})
                out = self.path(f"pack{length}.exe")
                if fits:
                    self.pack(source, out)
                    self.ok("verify", out)
                    self.ok("extract", out, self.path(f"x{length}"))
                    self.assertEqual(toolkit.tree_bytes(source), toolkit.tree_bytes(self.path(f"x{length}")))
                    continue
                self.assertIn(entry, self.assertRefused(["pack", self.stub, source, "-o", out], "1,024").stderr)
                archive = io.BytesIO()
                with zipfile.ZipFile(archive, "w") as z:
                    z.writestr(INNER_SETUP, b"MZ")
                    z.writestr(entry, b"deep")
                installer = self.installer_with(archive.getvalue())
                report = json.loads(run_tool("verify", installer, "--json").stdout)
                self.assertEqual(report["result"], "failed")
                self.assertEqual(report["first_failure"], 1)
                self.assertEqual(report["entries"][1]["refusal"], "too_long")
                self.assertIn("entry 1", self.assertRefused(["verify", installer], "1,024").stderr)
                target = self.path(f"x{length}")
                self.assertRefused(["extract", installer, target], "1,024")
                self.assertEqual(os.listdir(target), [INNER_SETUP])

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
                outputs, out = self.packed_on(source, f"l{level}", (1, 3), "--level", level)
                self.assertEqual(outputs[0], outputs[1], "-j 1 and -j 3 differ")
                self.assertIn("result:        OK", self.ok("verify", out).stdout)
                target = self.path(f"x{level}")
                self.ok("extract", out, target)
                self.assertEqual(toolkit.tree_bytes(source), toolkit.tree_bytes(target))
                methods = {e["method"] for e in self.listing(out)["entries"] if not e["name"].endswith("/")}
                self.assertEqual(methods, {0} if level == 0 else {0, 8})

    def test_chunked_entry_same_bytes_on_any_thread_count(self):
        """A big entry is deflated in chunks on all threads: the same bytes
        for any -j, a chunk index in its central record, and it extracts."""
        source = self.path("in")
        rng = random.Random(3)
        big = b"".join(struct.pack("<I", i) for i in range(1500000)) + rng.randbytes(1 << 20)
        toolkit.make_payload(source, {"big.bin": big, "small.txt": b"small"})
        for level in ("6", "10", "12"):
            with self.subTest(level=level):
                outputs, out = self.packed_on(source, f"c{level}", ("1", "3"), "--level", level)
                self.assertEqual(outputs[0], outputs[1], "-j 1 and -j 3 differ")
                with zipfile.ZipFile(out) as z:
                    self.assertEqual(z.getinfo("big.bin").extra[:2], b"\x43\x49")
                    self.assertLess(z.getinfo("big.bin").compress_size, len(big))
                self.ok("extract", out, self.path(f"x{level}"))
                with open(self.path(f"x{level}", "big.bin"), "rb") as f:
                    self.assertEqual(f.read(), big)

    def test_lying_chunk_index_never_gives_a_wrong_file(self):
        """A chunk index that fails its checks leaves the entry to one stream;
        one that passes them but lies about the data fails the entry, naming
        the chunk, and the file already there stays."""
        source = self.path("in")
        big = b"".join(struct.pack("<I", i) for i in range(1500000)) + random.Random(5).randbytes(1 << 20)
        toolkit.make_payload(source, {"big.bin": big})
        packed = self.path("good.exe")
        self.pack(source, packed, "--quiet")
        with open(packed, "rb") as f:
            image = f.read()
        with zipfile.ZipFile(packed) as z:
            info = z.getinfo("big.bin")
        self.assertEqual(info.extra[:2], b"\x43\x49")  # the index is the record's first extra block
        at = image.rindex(info.extra)
        records = at + 8  # past the block's ID, length and chunk size
        names, extras = struct.unpack_from("<HH", image, info.header_offset + 26)
        data = info.header_offset + 30 + names + extras
        second = data + struct.unpack_from("<Q", image, records + 12)[0]

        def patch(edits):
            out = bytearray(image)
            for offset, value in edits:
                out[offset:offset + len(value)] = value
            return bytes(out)

        crc = lambda i: image[records + 12 * i + 8:records + 12 * i + 12]
        cases = [  # what the lie is, edits (offset, bytes), None: extracts right, else the error's text
            ("CRC-32s swapped", [(records + 8, crc(1)), (records + 20, crc(0))], None),
            ("chunk size doubled", [(at + 4, struct.pack("<I", 2 * struct.unpack_from("<I", image, at + 4)[0]))], None),
            ("offsets out of order", [(records + 12, struct.pack("<Q", 0))], None),
            ("a boundary moved by a byte", [(records + 12, struct.pack("<Q", second - data + 1))], "chunk 1 of 4"),
            ("a chunk's data damaged", [(second + 1000, bytes([image[second + 1000] ^ 0x55]))], "chunk 2 of 4"),
        ]
        for what, edits, refused in cases:
            with self.subTest(what):
                installer = self.path("lying.exe")
                with open(installer, "wb") as f:
                    f.write(patch(edits))
                target = self.path("x-" + what.replace(" ", "-").replace("'", ""))
                toolkit.make_payload(target, {"big.bin": b"the old file"})
                result = run_tool("extract", installer, target, "--overwrite")
                tested = run_tool("extract", installer, "--test")
                verified = run_tool("verify", installer, "--json")
                report = json.loads(verified.stdout)
                with open(os.path.join(target, "big.bin"), "rb") as f:
                    kept = f.read()
                if refused is None:
                    self.assertEqual((result.returncode, tested.returncode, verified.returncode), (0, 0, 0),
                                     result.stderr + tested.stderr + verified.stdout)
                    self.assertEqual(kept, big)
                    continue
                for run in (result, tested):
                    self.assertEqual(run.returncode, 1, run.stdout + run.stderr)
                    self.assertIn("'big.bin': " + refused, run.stderr)
                self.assertEqual(verified.returncode, 1)
                self.assertEqual(report["problems"], ["entry 1 'big.bin': cannot be decompressed, or its size or "
                                                      "CRC-32 does not match"])
                self.assertTrue(any("'big.bin': " + refused in w for w in report["warnings"]), report["warnings"])
                self.assertEqual(kept, b"the old file")
                self.assertEqual(sorted(os.listdir(target)), sorted(os.listdir(self.path("in"))))

    def test_exclude(self):
        source = self.path("in")
        files = ["app.dll", "app.pdb", "sub/x.pdb", "sub/C.PDB", ".DS_Store", "sub/.DS_Store", "docs/drafts/n.txt",
                 "docs/keep.txt", "docs/a.txt", "sub/docs"]
        toolkit.make_payload(source, {name: b"x" for name in files})
        everything = {INNER_SETUP, "docs/", "docs/drafts/", "sub/", *files}
        listed = self.path("excludes.txt")
        with open(listed, "w") as f:
            f.write("# build leftovers\n*.PDB\n\n  docs/drafts  \nstale-name\n")
        pdbs = {"app.pdb", "sub/x.pdb", "sub/C.PDB"}
        # arguments, entries left out (None: nothing left, refused), patterns warned of as unmatched
        cases = [(["--exclude", "*.pdb", "--exclude", ".DS_Store"], pdbs | {".DS_Store", "sub/.DS_Store"}, []),
                 (["--exclude", "docs/drafts"], {"docs/drafts/", "docs/drafts/n.txt"}, []),  # a folder goes whole
                 (["--exclude", "docs/*.txt"], {"docs/keep.txt", "docs/a.txt"}, []),        # '*' stops at '/'
                 (["--exclude", "?.txt"], {"docs/a.txt", "docs/drafts/n.txt"}, []),
                 (["--exclude", "**/*.txt"], {"docs/keep.txt", "docs/a.txt", "docs/drafts/n.txt"}, []),
                 (["--exclude", "docs/"], {"docs/", "docs/drafts/", "docs/drafts/n.txt", "docs/keep.txt",
                                           "docs/a.txt"}, []),                              # not the file sub/docs
                 (["--exclude-from", listed], pdbs | {"docs/drafts/", "docs/drafts/n.txt"}, ["stale-name"]),
                 (["--exclude", "*"], None, []),
                 (["--exclude", "nothing-matches", "--exclude", "app.dll/"], set(), ["nothing-matches", "app.dll/"])]
        for args, left_out, unmatched in cases:
            with self.subTest(args=args):
                out = self.path("out.exe")
                result = run_tool("pack", self.stub, source, "-o", out, "--json", *args)
                if left_out is None:
                    self.assertEqual(result.returncode, 1)
                    self.assertIn("no " + INNER_SETUP, result.stderr)
                    continue
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(set(self.entries_by_name(out)), everything - left_out)
                self.assertEqual([w for w in json.loads(result.stdout)["warnings"] if "matched nothing" in w],
                                 [f"exclude pattern '{p}' matched nothing in '{source}'" for p in unmatched])
        missing = run_tool("pack", self.stub, source, "-o", self.path("out.exe"), "--exclude-from", self.path("no"))
        self.assertEqual(missing.returncode, 3)
        self.assertIn(f"'{self.path('no')}': No such file or directory", missing.stderr)

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
        self.assertIn("stub " + toolkit.STUB_IDENTITY[1], version)


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
                 ("installer as stub", installer, self.path("o.exe"), "already carries a payload"),
                 ("output is a folder", self.stub, self.path("folder"), "is a folder")]
        os.makedirs(self.path("folder"))
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
        for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGPIPE):
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
        # `pack ... 2>&1 | head -n1`: the reader quits after the first progress line.
        process = subprocess.Popen(TOOL + ["pack", self.stub, source, "-o", out, "--level", "12", "-j", "1"],
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        process.stdout.readline()
        process.stdout.close()
        self.assertEqual(process.wait(timeout=60), -signal.SIGPIPE)
        self.assertEqual(sorted(os.listdir(self.dir)), ["in", "out.exe", "stub.exe"])


class ExtractSafetyTest(ToolTestCase):
    """extract writes only inside DIR, keeps what is there unless told, removes
    a file that fails its check, and --test writes nothing."""

    def setUp(self):
        super().setUp()
        self.data = b"D" * 5000 + b"end-of-data"
        toolkit.make_payload(self.path("in"), {"empty.txt": b"", "sub/deeper/inner.txt": b"inner",
                                               "data.bin": self.data})
        self.installer = self.path("installer.exe")
        self.pack(self.path("in"), self.installer, "--level", "0")

    def test_planted_links_are_not_followed(self):
        outside = self.path("outside")
        toolkit.write_file(outside, "victim.txt", b"victim")
        victim = os.path.join(outside, "victim.txt")
        cases = [("file link", "empty.txt", "../outside/victim.txt", [], 1),
                 ("file link, --overwrite", "empty.txt", "../outside/victim.txt", ["--overwrite"], 0),
                 ("folder link", "sub/deeper", "../../outside", [], 1),
                 ("folder link, --overwrite", "sub/deeper", "../../outside", ["--overwrite"], 1),
                 ("folder link, --skip-existing", "sub/deeper", "../../outside", ["--skip-existing"], 1)]
        for number, (name, link, target, options, code) in enumerate(cases):
            with self.subTest(case=name):
                dest = self.path(f"x{number}")
                planted = os.path.join(dest, *link.split("/"))
                os.makedirs(os.path.dirname(planted), exist_ok=True)
                os.symlink(target, planted)
                result = run_tool("extract", self.installer, dest, *options)
                self.assertEqual(result.returncode, code, result.stderr)
                if code:
                    self.assertIn(os.path.join(dest, link), result.stderr)
                else:  # the link itself was replaced by the entry's file
                    self.assertFalse(os.path.islink(planted))
                    with open(planted, "rb") as f:
                        self.assertEqual(f.read(), b"")
                with open(victim, "rb") as f:
                    self.assertEqual(f.read(), b"victim")
                self.assertEqual(os.listdir(outside), ["victim.txt"])

    def test_existing_files(self):
        cases = [([], 1, b"old", "--overwrite"),
                 (["--skip-existing"], 0, b"old", "kept 1 existing"),
                 (["--overwrite"], 0, None, "extracted"),
                 (["--overwrite", "--skip-existing"], 2, b"old", "not both")]
        for number, (options, code, expected, message) in enumerate(cases):
            with self.subTest(options=options):
                dest = self.path(f"x{number}")
                toolkit.write_file(dest, "data.bin", b"old")
                result = run_tool("extract", self.installer, dest, *options)
                self.assertEqual(result.returncode, code, result.stderr)
                self.assertIn(message, result.stdout + result.stderr)
                if code == 1:
                    self.assertIn(os.path.join(dest, "data.bin"), result.stderr)
                with open(os.path.join(dest, "data.bin"), "rb") as f:
                    self.assertEqual(f.read(), expected or self.data)

    def test_failed_check_keeps_the_old_file_and_test_writes_nothing(self):
        with open(self.installer, "rb") as f:
            image = bytearray(f.read())
        image[image.index(b"end-of-data") - 100] ^= 0x55
        damaged = self.path("damaged.exe")
        with open(damaged, "wb") as f:
            f.write(image)
        # A later, smaller entry damaged too: it fails first on another thread,
        # yet the first failing entry by index is the one reported.
        image[image.index(b"inner.txtinner") + len("inner.txt")] ^= 0x55  # its data follows its local name
        twice = self.path("twice.exe")
        with open(twice, "wb") as f:
            f.write(image)
        toolkit.write_file(self.path("old"), "data.bin", b"old data")
        # (arguments, exit code, folders made, what data.bin holds after: None = absent)
        cases = [(["extract", damaged, self.path("x")], 1, ["x"], None),
                 (["extract", twice, self.path("x3")], 1, ["x3"], None),
                 (["extract", twice, "--test"], 1, [], None),
                 (["extract", damaged, self.path("old"), "--overwrite"], 1, [], b"old data"),
                 (["extract", self.installer, self.path("old"), "--overwrite"], 0, [], self.data),
                 (["extract", self.installer, "--test"], 0, [], None),
                 (["extract", damaged, "--test"], 1, [], None),
                 (["extract", self.installer, self.path("x2"), "--test"], 2, [], None)]
        for args, code, created, data in cases:
            with self.subTest(args=args):
                before = set(os.listdir(self.dir))
                result = run_tool(*args)
                self.assertEqual(result.returncode, code, result.stdout + result.stderr)
                self.assertEqual(sorted(set(os.listdir(self.dir)) - before), created)
                dest = args[2] if len(args) > 2 and args[2] != "--test" else self.path("x")
                if code == 1:
                    self.assertIn("data.bin", result.stderr)
                    self.assertNotIn("inner.txt", result.stderr)
                    for later in ("empty.txt", "sub/deeper/inner.txt"):  # entries after it: not placed
                        self.assertFalse(os.path.exists(os.path.join(dest, later)), later)
                target = os.path.join(dest, "data.bin")
                if data is None:
                    self.assertFalse(os.path.exists(target))
                else:
                    with open(target, "rb") as f:
                        self.assertEqual(f.read(), data)
                # No temporary is left beside any file.
                self.assertEqual([n for _, _, names in os.walk(dest) for n in names if ".tmp" in n], [])
        self.assertTrue(os.path.exists(self.path("x", INNER_SETUP)))  # written before it, and kept


# A signer that only SIGKILL stops: it starts a grandchild that holds its
# output pipe, logs both process IDs, writes half an output, then hangs, or
# with FAKE_SIGNER_FAIL exits at once, leaving the grandchild behind.
FAKE_SIGNER = """#!{python}
import os, signal, sys, time
for number in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
    signal.signal(number, signal.SIG_IGN)
grandchild = os.fork()
if grandchild == 0:
    time.sleep(120)
    os._exit(0)
with open(os.environ["FAKE_SIGNER_LOG"] + ".part", "w") as log:
    log.write(repr(sys.argv) + "\\n" + sys.stdin.read() + "\\n" + str(os.getpid()) + " " + str(grandchild))
os.rename(os.environ["FAKE_SIGNER_LOG"] + ".part", os.environ["FAKE_SIGNER_LOG"])
with open(sys.argv[sys.argv.index("-out") + 1], "wb") as out:
    out.write(b"half-signed")
if os.environ.get("FAKE_SIGNER_FAIL"):
    print("Failed: the stand-in refuses", flush=True)
    sys.exit(1)
time.sleep(120)
"""


def running(pid):
    """Whether `pid`, or any process of its group, still runs (zombies are dead)."""
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        if fields[0] != "Z" and (int(entry) == pid or int(fields[2]) == pid):
            return True
    return False


class SignalTest(ToolTestCase):
    """Whatever ends sign (a signal, the deadline, the signer's own exit)
    leaves no temporary, no password anywhere, and no process of the
    signer's group running; the password reaches the signer on its standard
    input only."""

    def test_sign_ends_with_every_process_it_started(self):
        toolkit.make_payload(self.path("in"), {"a.txt": b"alpha"})
        installer = self.path("installer.exe")
        self.pack(self.path("in"), installer)
        toolkit.write_file(self.dir, "key.p12", b"not really a key")
        logs = tempfile.mkdtemp(prefix="fake-signer-")
        self.addCleanup(shutil.rmtree, logs, True)
        bin_dir = os.path.join(logs, "bin")
        toolkit.write_file(bin_dir, "osslsigncode", FAKE_SIGNER.format(python=sys.executable).encode())
        os.chmod(os.path.join(bin_dir, "osslsigncode"), 0o755)
        password = "pa55-Secret-word"
        # (case, signal sent once the signer runs, extra environment, exit code, part of the error)
        cases = [(name, number, {}, -number, None)
                 for name, number in (("SIGINT", signal.SIGINT), ("SIGTERM", signal.SIGTERM),
                                      ("SIGHUP", signal.SIGHUP), ("SIGPIPE", signal.SIGPIPE))]
        cases += [("deadline", None, {"WRAPPER_PROGRAM_TIMEOUT": "2"}, 3,
                   "osslsigncode did not finish within 2 s and was stopped"),
                  ("signer fails, grandchild holds its output", None, {"FAKE_SIGNER_FAIL": "1"}, 3,
                   "Failed: the stand-in refuses")]
        for name, number, extra, code, message in cases:
            with self.subTest(case=name):
                before = toolkit.tree_bytes(self.dir)
                log = os.path.join(logs, name.replace(" ", "-"))
                env = dict(os.environ, PATH=bin_dir, SIGN_PASS=password, FAKE_SIGNER_LOG=log, **extra)
                started = time.monotonic()
                process = subprocess.Popen(TOOL + ["sign", installer, "--pkcs12", self.path("key.p12"),
                                                   "--password-env", "SIGN_PASS", "-o", self.path("out.exe")],
                                           env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
                deadline = time.monotonic() + 30
                while not os.path.exists(log) and process.poll() is None and time.monotonic() < deadline:
                    time.sleep(0.01)
                self.assertTrue(os.path.exists(log), "the signer never started")
                if number is not None:
                    time.sleep(0.2)  # the signer has written its half of the output
                    process.send_signal(number)
                _, errors = process.communicate(timeout=30)
                self.assertEqual(process.returncode, code, errors)
                self.assertLess(time.monotonic() - started, 20)  # the grandchild's 120 s were not waited for
                if message:
                    self.assertIn(message, errors)
                self.assertEqual(toolkit.tree_bytes(self.dir), before)
                with open(log) as f:
                    argv, given, pids = f.read().split("\n")
                self.assertNotIn(password, argv)
                self.assertEqual(given, password)
                # SIGKILL is sent before the tool exits, but the kernel takes a moment to end
                # a process; one that was never killed still runs (the stand-in sleeps 120 s).
                for pid in pids.split():
                    settle = time.monotonic() + 5
                    while running(int(pid)) and time.monotonic() < settle:
                        time.sleep(0.05)
                    self.assertFalse(running(int(pid)), f"process {pid} of the signer's group outlived sign")


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
        """An environment whose PATH has only openssl and python3."""
        bin_dir = self.path("bin")
        os.makedirs(bin_dir, exist_ok=True)
        for program in ("openssl", "python3"):
            if not os.path.lexists(os.path.join(bin_dir, program)):
                os.symlink(shutil.which(program), os.path.join(bin_dir, program))
        return dict(os.environ, PATH=bin_dir)

    def flipped_copy(self, source, position, name):
        with open(source, "rb") as f:
            data = bytearray(f.read())
        data[position] ^= 0x55
        target = self.path(name)
        with open(target, "wb") as f:
            f.write(data)
        return target

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
        tampered = self.flipped_copy(signed, os.path.getsize(self.stub) + 40, "tampered.exe")
        # Inside the signature value, the signer info's last field: the digests still match.
        broken = self.flipped_copy(signed, os.path.getsize(signed) - 40, "broken.exe")
        other_cert, other_key = toolkit.make_certificate(self.dir, "other")
        other = self.path("other.exe")
        self.ok("sign", self.installer, "--cert", other_cert, "--key", other_key, "-o", other)
        missing = self.path("no-such.pem")
        keys = self.path("chain")
        os.makedirs(keys)
        chain, leaf_key, leaf_cert, root = toolkit.make_chain(keys)
        chained = self.path("chained.exe")
        self.ok("sign", self.installer, "--cert", chain, "--key", leaf_key, "-o", chained)
        with open(chained, "rb") as f:
            leaf_at = f.read().index(toolkit.certificate_der(leaf_cert))
        altered_leaf = self.flipped_copy(chained, leaf_at + 120, "altered-leaf.exe")
        cases = [("issued by a trusted root", chained, ["--ca", root], None, 0, "valid"),
                 ("issued by a root not trusted here", chained, [], None, 0, "untrusted"),
                 ("signer's certificate altered", altered_leaf, [], None, 1, "invalid"),
                 ("valid", signed, ["--ca", self.cert], None, 0, "valid"),
                 ("valid from PKCS#12", from_p12, ["--ca", self.cert], None, 0, "valid"),
                 ("untrusted signer is a note", signed, [], None, 0, "untrusted"),
                 ("untrusted signer, signature required", signed, ["--require-signature"], None, 1, "untrusted"),
                 ("signed by another key", other, ["--ca", self.cert], None, 1, "untrusted"),
                 ("tampered", tampered, ["--ca", self.cert], None, 1, "invalid"),
                 ("signature value flipped", broken, [], None, 1, "invalid"),
                 # Checked in process: no program is needed, none is run.
                 ("osslsigncode not on PATH", signed, ["--ca", self.cert], self.without_osslsigncode(), 0, "valid"),
                 ("unsigned", self.installer, [], None, 0, "none"),
                 ("unsigned, signature required", self.installer, ["--require-signature"], None, 1, "none"),
                 ("missing --ca file", signed, ["--ca", missing], None, 3, None)]
        for name, target, extra, env, code, state in cases:
            with self.subTest(case=name):
                result = subprocess.run(TOOL + ["verify", target, "--json"] + extra, env=env,
                                        capture_output=True, text=True)
                self.assertEqual(result.returncode, code, result.stdout + result.stderr)
                if state is None:
                    self.assertIn(missing, result.stderr)
                    self.assertIn("No such file", result.stderr)
                    continue
                report = json.loads(result.stdout)
                self.assertEqual(report["signature"], state)
                self.assertEqual(report["result"], "ok" if code == 0 else "failed")
        self.assertIn("signature:     valid", self.ok("verify", signed, "--ca", self.cert).stdout)

    def test_signer_details(self):
        tsa = pki.issue(self.dir, "test TSA", usage="tsa")
        # Inside the signer's two days: the stamp is the time its certificate is checked at.
        stamp_time = int(time.time()) + 5
        tsa_key, tsa_cert = tsa.key_file, tsa.cert
        plain, stamped = self.path("plain.exe"), self.path("stamped.exe")
        self.ok("sign", self.installer, "--cert", self.cert, "--key", self.key, "-o", plain)
        # osslsigncode's built-in time-stamping authority, at a fixed time.
        subprocess.run(["osslsigncode", "sign", "-certs", self.cert, "-key", self.key, "-h", "sha256",
                        "-TSA-certs", tsa_cert, "-TSA-key", tsa_key, "-TSA-time", str(stamp_time),
                        "-in", self.installer, "-out", stamped], check=True, capture_output=True)
        thumbprints = {}
        for digest in ("sha1", "sha256"):
            line = subprocess.run(["openssl", "x509", "-in", self.cert, "-noout", "-fingerprint", "-" + digest],
                                  check=True, capture_output=True, text=True).stdout
            thumbprints[digest] = line.strip().split("=", 1)[1].replace(":", "")
        trusted = self.path("trusted.pem")
        with open(trusted, "w") as out:
            for name in (self.cert, tsa_cert):
                with open(name) as f:
                    out.write(f.read())
        stamp = {"kind": "RFC 3161", "authority": "/CN=test TSA", "verified": True,
                 "time": time.strftime("%Y-%m-%d %H:%M:%S UTC", time.gmtime(stamp_time)), "problem": None}
        for target, timestamp in ((plain, None), (stamped, stamp)):
            with self.subTest(timestamp=timestamp):
                signer = json.loads(self.ok("verify", target, "--json", "--ca", trusted).stdout)["signer"]
                self.assertEqual(signer["subject"], "/CN=wrapper-tool test")
                self.assertEqual((signer["sha1"], signer["sha256"]), (thumbprints["sha1"], thumbprints["sha256"]))
                self.assertRegex(signer["signing_time"], r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d UTC$")
                self.assertEqual(signer["timestamp"], timestamp)
                text = self.ok("verify", target, "--ca", trusted).stdout
                self.assertIn("thumbprint:    SHA-1 " + thumbprints["sha1"], text)
                self.assertIn("timestamp:     " + (stamp["time"] if timestamp else "none"), text)

    def test_sign_refusals_keep_the_input(self):
        signed = self.path("signed.exe")
        self.ok("sign", self.installer, "--cert", self.cert, "--key", self.key, "-o", signed)
        p12 = self.path("test.p12")
        subprocess.run(["openssl", "pkcs12", "-export", "-in", self.cert, "-inkey", self.key, "-out", p12,
                        "-passout", "pass:right"], check=True, capture_output=True)
        os.makedirs(self.path("folder"))
        wrong_password = dict(os.environ, SIGN_PASS="wrong")
        cases = [("already signed", [signed, "--cert", self.cert, "--key", self.key], None, 1, "signed already"),
                 ("bare stub", [self.stub, "--cert", self.cert, "--key", self.key], None, 1, "no archive"),
                 ("wrong key", [self.installer, "--cert", self.cert, "--key", self.cert], None, 3, "osslsigncode"),
                 ("wrong password", [self.installer, "--pkcs12", p12, "--password-env", "SIGN_PASS"],
                  wrong_password, 3, "(Wrong password?)"),
                 ("output is a folder", [self.installer, "--cert", self.cert, "--key", self.key,
                                         "-o", self.path("folder")], None, 1, "is a folder"),
                 ("--ca file missing", [self.installer, "--cert", self.cert, "--key", self.key,
                                        "--ca", self.path("none.pem")], None, 3, "No such file"),
                 ("tool missing", [self.installer, "--cert", self.cert, "--key", self.key],
                  self.without_osslsigncode(), 3, "not found"),
                 ("password variable unset", [self.installer, "--pkcs12", self.cert, "--password-env", "NO_SUCH_VAR"],
                  None, 2, "NO_SUCH_VAR"),
                 ("store off Windows", [self.installer, "--thumbprint", "ab" * 20], None, 2, "certificate store"),
                 ("no key given", [self.installer], None, 2, "give one of")]
        for name, args, env, code, message in cases:
            with self.subTest(case=name):
                before = toolkit.tree_bytes(self.dir)
                result = subprocess.run(TOOL + ["sign"] + args, env=env, capture_output=True, text=True)
                self.assertEqual(result.returncode, code, result.stderr)
                self.assertIn(message, result.stderr)
                self.assertEqual(toolkit.tree_bytes(self.dir), before)


@unittest.skipUnless(shutil.which("cmake"), "cmake needed")
class CMakeModuleTest(ToolTestCase):
    """cmake/WrapperInstaller.cmake in a small product build."""

    def cmake(self, *args):
        result = subprocess.run(["cmake", *args], capture_output=True, text=True, timeout=300)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        return result.stdout

    def product(self, project, build, sign_args, *configure):
        with open(os.path.join(project, "CMakeLists.txt"), "w") as f:
            f.write(f"""cmake_minimum_required(VERSION 3.20)
project(Product NONE)
list(APPEND CMAKE_MODULE_PATH [==[{os.path.join(ROOT, "cmake")}]==])
include(WrapperInstaller)
wrapper_add_installer(ProductSetup STUB [==[{self.stub}]==] PAYLOAD_DIR payload OUTPUT ProductSetup.exe
                      LEVEL 6 EXCLUDE "*.pdb" {sign_args})
""")
        self.cmake("-S", project, "-B", build, f"-DWRAPPER_TOOL={TOOL[-1]}", *configure)

    def test_build_repacks_exactly_when_the_payload_changes(self):
        signing = toolkit.have_signing_tools()
        sign_args = ""
        if signing:
            cert, key = toolkit.make_certificate(self.dir)
            subprocess.run(["openssl", "pkcs12", "-export", "-in", cert, "-inkey", key, "-out",
                            self.path("sign.p12"), "-passout", "pass:pw"], check=True, capture_output=True)
            sign_args = f'SIGN_PKCS12 "{self.path("sign.p12")}" PASSWORD_ENV PRODUCT_SIGN_PASSWORD'
        os.environ["PRODUCT_SIGN_PASSWORD"] = "pw"
        self.addCleanup(os.environ.pop, "PRODUCT_SIGN_PASSWORD", None)
        generators = [[]] + ([["-G", "Ninja"]] if shutil.which("ninja") else [])
        # Folder names that regular expressions and shells stumble over.
        for folder, generator in [("b++", generators[0]), ("b(1)", generators[-1])]:
            with self.subTest(folder=folder, generator=generator):
                project = self.path(folder, "product")
                payload = os.path.join(project, "payload")
                toolkit.make_payload(payload, {"app.dll": b"MZ app " * 3000, "app.pdb": b"symbols",
                                               "gone.txt": b"soon removed", "old.txt": b"soon renamed"})
                build = self.path(folder, "build")
                self.product(project, build, sign_args, *generator)
                self.check_rebuilds(build, payload, signing)

    def check_rebuilds(self, build, payload, signing):
        installer = os.path.join(build, "ProductSetup.exe")

        def build_once():
            result = subprocess.run(["cmake", "--build", build], capture_output=True, text=True, timeout=300)
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
            return "Packing" in result.stdout

        self.assertTrue(build_once())
        report = json.loads(self.ok("verify", installer, "--json").stdout)
        self.assertEqual(report["result"], "ok")
        self.assertEqual(report["signature"], "untrusted" if signing else "none")  # self-signed, not trusted here
        self.assertEqual(sorted(e["name"] for e in report["entries"]),
                         sorted([INNER_SETUP, "app.dll", "gone.txt", "old.txt"]))
        self.assertFalse(build_once(), "the second build repacked")
        changes = [("edit", lambda: toolkit.write_file(payload, "app.dll", b"changed"), "app.dll"),
                   ("add", lambda: toolkit.write_file(payload, "new.txt", b"new"), "new.txt"),
                   ("add a folder", lambda: os.makedirs(os.path.join(payload, "empty")), "empty/"),
                   ("remove", lambda: os.remove(os.path.join(payload, "gone.txt")), "-gone.txt"),
                   ("rename", lambda: os.rename(os.path.join(payload, "old.txt"),
                                                os.path.join(payload, "new-name.txt")), "new-name.txt")]
        for change, apply, expected in changes:
            apply()
            self.assertTrue(build_once(), change)
            names = set(self.entries_by_name(installer))
            if expected.startswith("-"):
                self.assertNotIn(expected[1:], names, change)
            else:
                self.assertIn(expected, names, change)
        self.assertNotIn("old.txt", names)
        self.assertNotIn("app.pdb", names)
        self.assertEqual(sorted(n for n in os.listdir(build) if "ProductSetup.exe" in n), ["ProductSetup.exe"])
        if signing:
            # A failed signing leaves no installer and no temporary, and the next build tries again.
            os.environ["PRODUCT_SIGN_PASSWORD"] = "wrong"
            toolkit.write_file(payload, "app.dll", b"changed again")
            failed = subprocess.run(["cmake", "--build", build], capture_output=True, text=True, timeout=300)
            self.assertNotEqual(failed.returncode, 0)
            self.assertEqual([n for n in os.listdir(build) if "ProductSetup.exe" in n], [])
            os.environ["PRODUCT_SIGN_PASSWORD"] = "pw"
            self.assertTrue(build_once())
            self.assertEqual(json.loads(self.ok("verify", installer, "--json").stdout)["signature"], "untrusted")


class PackageTest(ToolTestCase):
    """The installed package (cmake --install, cpack -G DEB) of the build tree
    in WRAPPER_BUILD_DIR, used as another product would."""

    def setUp(self):
        super().setUp()
        self.build = os.environ.get("WRAPPER_BUILD_DIR")
        if not self.build:
            self.skipTest("WRAPPER_BUILD_DIR names no build tree")

    def run_ok(self, *args, **kwargs):
        result = subprocess.run(list(args), capture_output=True, text=True, timeout=300, **kwargs)
        self.assertEqual(result.returncode, 0, f"{args}: {result.stdout}{result.stderr}")
        return result.stdout

    def test_outside_product_builds_against_the_installed_package(self):
        prefix = self.path("prefix")
        self.run_ok("cmake", "--install", self.build, "--prefix", prefix)
        shipped = os.path.join(prefix, "share", "WrapperInstaller", "ZuvidaDiroVivuv.exe")
        # Without a cross-built stub in the package, the product names a stand-in.
        stub = "" if os.path.exists(shipped) else f"STUB [==[{self.stub}]==]"
        product = self.path("outside")
        toolkit.make_payload(os.path.join(product, "payload"), {"data/app.cfg": b"key=value\n"})
        with open(os.path.join(product, "CMakeLists.txt"), "w") as f:
            f.write(f"""cmake_minimum_required(VERSION 3.20)
project(Outside NONE)
find_package(WrapperInstaller {toolkit.STUB_IDENTITY[1]} CONFIG REQUIRED)
if(NOT TARGET WrapperInstaller::wrapper-tool OR ({"TRUE" if not stub else "FALSE"} AND NOT TARGET WrapperInstaller::stub))
  message(FATAL_ERROR "imported targets missing")
endif()
wrapper_add_installer(OutsideSetup {stub} PAYLOAD_DIR payload OUTPUT OutsideSetup.exe)
""")
        build = self.path("outside-build")
        self.run_ok("cmake", "-S", product, "-B", build, f"-DCMAKE_PREFIX_PATH={prefix}")
        self.assertIn("Packing OutsideSetup", self.run_ok("cmake", "--build", build))
        installed_tool = os.path.join(prefix, "bin", "wrapper-tool")
        report = self.run_ok(installed_tool, "verify", os.path.join(build, "OutsideSetup.exe"))
        self.assertIn("result:        OK", report)

    @unittest.skipUnless(shutil.which("cpack") and shutil.which("dpkg"), "cpack and dpkg needed")
    def test_debian_package_holds_a_working_tool(self):
        self.run_ok("cpack", "-G", "DEB", "-B", self.path("deb"), "--config",
                    os.path.join(self.build, "CPackConfig.cmake"), cwd=self.build)
        debs = [n for n in os.listdir(self.path("deb")) if n.endswith(".deb")]
        self.assertEqual(len(debs), 1, debs)
        root = self.path("root")
        self.run_ok("dpkg", "-x", self.path("deb", debs[0]), root)
        version = self.run_ok(os.path.join(root, "usr", "bin", "wrapper-tool"), "--version")
        self.assertIn("stub " + toolkit.STUB_IDENTITY[1], version)
        files = {os.path.relpath(os.path.join(d, f), root) for d, _, names in os.walk(root) for f in names}
        for module in ("WrapperInstallerConfig.cmake", "WrapperInstaller.cmake", "WrapperInstallerStep.cmake"):
            self.assertTrue(any(f.endswith("/cmake/WrapperInstaller/" + module) for f in files), (module, files))


WINE_DLLS = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows"


def solid_payload():
    """Text, code (real PE files when Wine's are here, for the branch filter), noise, an empty file
    and a name beyond ASCII: about 4 MiB, so blocks of 1 MiB give several."""
    rng = random.Random(11)
    files = {
        "Ärger.txt": "größer\n".encode() * 3000,
        "docs/readme.txt": b"install me, then run the setup\n" * 10000,
        "empty.txt": b"",
        "z-empty/after.txt": b"",
    }
    for i in range(4):
        files[f"noise/random-{i}.bin"] = rng.randbytes(600000)
    if os.path.isdir(WINE_DLLS):
        dlls = sorted(n for n in os.listdir(WINE_DLLS) if n.endswith(".dll") and
                      40000 <= os.path.getsize(os.path.join(WINE_DLLS, n)) <= 250000)[:5]
        for name in dlls:
            with open(os.path.join(WINE_DLLS, name), "rb") as f:
                files["code/" + name] = f.read()
    else:
        files["code/fake.dll"] = b"MZ" + bytes(rng.getrandbits(3) for _ in range(200000))
    return files


def solid_records(data):
    """Each 0x4253 record in the central directory: name -> (offset of its fields in `data`, fields)."""
    found = {}
    end = data.rindex(b"PK\x05\x06")
    count, directory_size = struct.unpack_from("<HI", data, end + 10)
    record = end - directory_size
    for _ in range(count):
        assert data[record:record + 4] == b"PK\x01\x02"
        name_length, extra_length, comment_length = struct.unpack_from("<HHH", data, record + 28)
        name = data[record + 46:record + 46 + name_length].decode("utf-8")
        cursor = extra = record + 46 + name_length
        while cursor + 4 <= extra + extra_length:
            block_id, size = struct.unpack_from("<HH", data, cursor)
            if block_id == 0x4253:
                found[name] = (cursor + 4, list(struct.unpack_from("<IIQQQB", data, cursor + 4)))
            cursor += 4 + size
        record = extra + extra_length + comment_length
    return found


class SolidTest(ToolTestCase):
    """pack --solid: the blocks come back byte for byte on any core count, and a damaged
    frame or a lying record fails at its block's first file, never giving a wrong file."""

    def setUp(self):
        super().setUp()
        self.files = solid_payload()
        self.source = self.path("in")
        toolkit.make_payload(self.source, self.files)
        os.makedirs(self.path("in", "empty-folder"))
        self.expected = toolkit.tree_bytes(self.source)
        self.options = ("--solid", "--level", "3", "--solid-block", "1")
        self.installer = self.path("solid.exe")
        self.pack(self.source, self.installer, *self.options, "--quiet")
        self.entries = self.listing(self.installer)["entries"]

    def first_of_block(self, block):
        return next(e for e in self.entries if e["solid_block"] == block)

    def check_stopped_at(self, installer, entry, cores=None):
        """extract and verify of `installer` fail at `entry`; files before it are right, none from it on."""
        prefix = ["taskset", "-c", cores] if cores else []
        dest = tempfile.mkdtemp(dir=self.dir)
        result = subprocess.run(prefix + TOOL + ["extract", installer, dest], capture_output=True, text=True,
                                timeout=300)
        self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
        self.assertIn(entry["name"], result.stderr)
        got = toolkit.tree_bytes(dest)
        self.assertFalse([n for n in got if ".tmp" in n], got.keys())
        for e in self.entries:
            if e["kind"] != "file":
                continue
            name = e["name"]
            if e["index"] < entry["index"]:
                self.assertEqual(got.get(name), self.expected[name], name)
            else:
                self.assertNotIn(name, got)
        verify = subprocess.run(prefix + TOOL + ["verify", installer], capture_output=True, text=True, timeout=300)
        self.assertEqual(verify.returncode, 1, verify.stdout + verify.stderr)
        self.assertIn(entry["name"], verify.stdout + verify.stderr)
        self.assertIn("FAILED", verify.stdout)

    def test_round_trip(self):
        blocks = {e["solid_block"] for e in self.entries} - {None}
        self.assertGreaterEqual(len(blocks), 3)
        for e in self.entries:
            in_block = e["kind"] == "file" and e["uncompressed_size"] > 0
            self.assertEqual(e["solid_block"] is not None, in_block, e)
            self.assertEqual(e["method_name"] == "solid", in_block, e)
        self.assertIn("result:        OK", self.ok("verify", self.installer).stdout)
        tested = json.loads(self.ok("extract", self.installer, "--test", "--json").stdout)
        self.assertEqual((tested["test"], tested["destination"]), (True, None))
        dest = self.path("x")
        report = json.loads(self.ok("extract", self.installer, dest, "--json").stdout)
        self.assertEqual(toolkit.tree_bytes(dest), self.expected)
        self.assertEqual(report, {"installer": self.installer, "destination": dest, "test": False,
                                  "entries": len(self.entries), "kept_existing": 0, "solid_blocks": len(blocks),
                                  "bytes": sum(e["uncompressed_size"] for e in self.entries)})
        # Output as documented: --quiet prints nothing, --json stays one document with kept files.
        quiet = self.ok("extract", self.installer, self.path("q"), "--quiet")
        self.assertEqual((quiet.stdout, quiet.stderr), ("", ""))
        kept = json.loads(self.ok("extract", self.installer, dest, "--skip-existing", "--json").stdout)
        self.assertEqual(kept["kept_existing"], sum(1 for e in self.entries if e["kind"] == "file"))
        outputs, _ = self.packed_on(self.source, "threads", (1, 2), *self.options)
        self.assertEqual(outputs[0], outputs[1])
        with open(self.installer, "rb") as f:
            self.assertEqual(outputs[0], f.read())

    def test_damaged_frame_fails_at_its_block(self):
        with open(self.installer, "rb") as f:
            data = bytearray(f.read())
        with zipfile.ZipFile(self.installer) as archive:
            infos = {i.filename: i for i in archive.infolist()}
        last = max(e["solid_block"] for e in self.entries if e["solid_block"] is not None)
        for block in (0, 1, last):
            entry = self.first_of_block(block)
            info = infos[entry["name"]]
            self.assertGreater(info.compress_size, 0)
            name_length, extra_length = struct.unpack_from("<HH", data, info.header_offset + 26)
            middle = info.header_offset + 30 + name_length + extra_length + info.compress_size // 2
            damaged = self.path(f"damaged-{block}.exe")
            with open(damaged, "wb") as f:
                f.write(data[:middle] + bytes([data[middle] ^ 0x40]) + data[middle + 1:])
            for cores in ("0", None):
                with self.subTest(block=block, cores=cores or "all"):
                    self.check_stopped_at(damaged, entry, cores)

    def test_lying_records_are_refused_at_their_block(self):
        with open(self.installer, "rb") as f:
            data = f.read()
        records = solid_records(data)
        # (case, the block lied about, whether every record of it lies alike, field, change)
        block_size, prefix, offset, length, filter_ = 2, 1, 3, 4, 5
        cases = [("offset + 1", 1, False, offset, lambda v: v + 1),
                 ("length - 1", 1, False, length, lambda v: v - 1),
                 ("block size, one record", 1, False, block_size, lambda v: v + 1),
                 ("block size, every record", 2, True, block_size, lambda v: v - 1),
                 ("prefix pointing forward", 1, True, prefix, lambda v: 2),
                 ("prefix to itself", 2, True, prefix, lambda v: 2),
                 ("unknown filter", 2, False, filter_, lambda v: 9)]
        for case, block, every, field, change in cases:
            with self.subTest(case=case):
                members = [e["name"] for e in self.entries if e["solid_block"] == block]
                # A lone record lies on the block's second file, so its offset is not 0 anyway.
                targets = members if every else [members[min(1, len(members) - 1)]]
                edited = bytearray(data)
                for name in targets:
                    where, fields = records[name]
                    fields[field] = change(fields[field])
                    struct.pack_into("<IIQQQB", edited, where, *fields)
                lying = self.path("lying.exe")
                with open(lying, "wb") as f:
                    f.write(edited)
                entry = self.first_of_block(block)
                listed = {e["name"]: e for e in json.loads(run_tool("list", lying, "--json").stdout)["entries"]}
                self.assertEqual(listed[entry["name"]]["refusal"], "bad_solid_block", case)
                self.assertEqual([n for n, e in listed.items() if e["refusal"]], [entry["name"]])
                self.check_stopped_at(lying, entry)

    def test_prefix_kept_for_any_later_block(self):
        """A block of noise needs no prefix: made standalone, the layout is still one the stub takes,
        and the blocks after it still find block 0."""
        with open(self.installer, "rb") as f:
            data = bytearray(f.read())
        blocks = sorted({e["solid_block"] for e in self.entries} - {None})
        noise = [b for b in blocks[1:-1] if all(e["name"].startswith("noise/") for e in self.entries
                                                   if e["solid_block"] == b)]
        if not noise:
            self.skipTest("no block of noise alone before the last")
        for name, (where, fields) in solid_records(bytes(data)).items():
            if fields[0] == noise[0]:
                fields[1] = 0xFFFFFFFF
                struct.pack_into("<IIQQQB", data, where, *fields)
        installer = self.path("standalone.exe")
        with open(installer, "wb") as f:
            f.write(data)
        self.assertIn("result:        OK", self.ok("verify", installer).stdout)
        # Whether block 0 is gone before a later block decodes depends on timing: a few runs each.
        for cores in ("0", "0,1"):
            for _ in range(3):
                result = subprocess.run(["taskset", "-c", cores] + TOOL + ["extract", installer, "--test"],
                                        capture_output=True, text=True, timeout=300)
                self.assertEqual(result.returncode, 0, result.stderr)
        self.ok("extract", installer, self.path("x"))
        self.assertEqual(toolkit.tree_bytes(self.path("x")), self.expected)

    def test_usage_errors(self):
        cases = [(["--solid", "--solid-block", "0"], "--solid-block"),
                 (["--solid", "--level", "23"], "1 to 22"),
                 (["--solid-prefix", "10"], "go with --solid"),
                 (["--solid-block", "4"], "go with --solid")]
        for options, message in cases:
            with self.subTest(options=options):
                result = run_tool("pack", self.stub, self.source, "-o", self.path("bad.exe"), *options)
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertIn(message, result.stderr)
                self.assertFalse(os.path.exists(self.path("bad.exe")))


class WindowsSmokeTest(ToolTestCase):
    """The Windows build of the tool (zlib), under Wine: round trips, and the
    same bytes on one thread and on two."""

    def test_round_trip(self):
        source = self.path("in")
        # big.bin is deflated in chunks (zlib's output joined as libdeflate's is).
        big = b"".join(struct.pack("<I", i) for i in range(1500000))
        toolkit.make_payload(source, dict(mixed_payload(), **{"big.bin": big}))
        self.assertIn("usage: wrapper-tool", self.ok("--help").stdout)
        for level in ("10", "12"):
            with self.subTest(level=level):
                outputs, out = self.packed_on(source, f"out{level}", ("1", "2"), "--level", level)
                self.assertEqual(outputs[0], outputs[1])
                self.assertIn("result:        OK", self.ok("verify", out).stdout)
                self.ok("extract", out, self.path("x" + level))
                self.assertEqual(toolkit.tree_bytes(source), toolkit.tree_bytes(self.path("x" + level)))

    @unittest.skipUnless(toolkit.have_signing_tools(), "openssl and osslsigncode needed")
    def test_signature_states(self):
        """WinVerifyTrust's verdict, its signer and --ca, on installers signed
        natively. Wine trusts any self-signed root WinVerifyTrust is shown,
        so a signer trusted by nobody is only told apart with --ca here."""
        toolkit.make_payload(self.path("in"), {"a.txt": b"alpha " * 4000})
        unsigned = self.path("unsigned.exe")
        self.pack(self.path("in"), unsigned, "--quiet")
        cert, key = toolkit.make_certificate(self.dir)
        other_cert, other_key = toolkit.make_certificate(self.dir, "other")
        chain, leaf_key, leaf_cert, root = toolkit.make_chain(self.dir)

        def osslsigncode(target, *args, source=unsigned):
            subprocess.run(["osslsigncode", "sign", *args, "-in", source, "-out", self.path(target)],
                           check=True, capture_output=True)
            return self.path(target)

        def flipped(source, position, target):
            with open(source, "rb") as f:
                data = bytearray(f.read())
            data[position if position >= 0 else len(data) + position] ^= 0x55
            with open(self.path(target), "wb") as f:
                f.write(data)
            return self.path(target)

        signed = osslsigncode("signed.exe", "-certs", cert, "-key", key, "-h", "sha256")
        chained = osslsigncode("chained.exe", "-certs", chain, "-key", leaf_key, "-h", "sha256")
        # A second signature by another key nested inside the first.
        nested = osslsigncode("nested.exe", "-nest", "-certs", other_cert, "-key", other_key, "-h", "sha1",
                              source=signed)
        tampered = flipped(signed, os.path.getsize(self.stub) + 40, "tampered.exe")
        broken = flipped(signed, -40, "broken.exe")  # inside the signature value
        # Wine's WinVerifyTrust, as Windows' without the padding check, passes this one.
        padded = test_verify_crafted.data_inside_table(signed, self.path("padded.exe"))
        ours, leaf = toolkit.certificate_der(cert), toolkit.certificate_der(leaf_cert)
        # (case, installer, options, exit code, state, signer's certificate or None)
        cases = [("signed, its certificate given", signed, ["--ca", cert], 0, "valid", ours),
                 ("signed, another certificate given", signed, ["--ca", other_cert], 1, "untrusted", ours),
                 ("issued by the root given", chained, ["--ca", root], 0, "valid", leaf),
                 ("the leaf given, not its root", chained, ["--ca", leaf_cert], 1, "untrusted", leaf),
                 ("nested signer given, not the primary's", nested, ["--ca", other_cert], 1, "untrusted", ours),
                 ("primary signer given, nested beside it", nested, ["--ca", cert], 0, "valid", ours),
                 ("code changed after signing", tampered, ["--ca", cert], 1, "invalid", None),
                 ("signature value changed", broken, [], 1, "invalid", None),
                 ("data inside the table after the signature", padded, ["--ca", cert], 1, "invalid", None),
                 ("not a PEM file as --ca", signed, ["--ca", unsigned], 1, "untrusted", ours),
                 ("unsigned", unsigned, [], 0, "none", None),
                 ("unsigned, --ca given", unsigned, ["--ca", cert], 1, "none", None)]
        for name, target, extra, code, state, signer in cases:
            with self.subTest(case=name):
                result = run_tool("verify", target, "--json", *extra)
                self.assertEqual(result.returncode, code, result.stdout + result.stderr)
                report = json.loads(result.stdout)
                self.assertEqual(report["signature"], state, report.get("signature_detail"))
                if signer is None:
                    self.assertIsNone(report["signer"])
                    continue
                self.assertEqual(report["signer"]["sha1"], hashlib.sha1(signer).hexdigest().upper())
                self.assertEqual(report["signer"]["sha256"], hashlib.sha256(signer).hexdigest().upper())
                self.assertEqual(report["signer"]["subject"],
                                 "/CN=wrapper-tool test" + (" leaf" if signer == leaf else ""))
                self.assertRegex(report["signer"]["signing_time"], r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d UTC$")

    def test_signer_past_its_deadline_ends_with_its_job(self):
        """A signtool that hangs, with a grandchild holding its output: sign
        stops at the deadline, names it, and neither process is left."""
        toolkit.make_payload(self.path("in"), {"a.txt": b"alpha"})
        unsigned = self.path("unsigned.exe")
        self.pack(self.path("in"), unsigned, "--quiet")
        os.makedirs(self.path("bin"))
        shutil.copyfile(os.environ["WRAPPER_STAND_IN_SIGNER"], self.path("bin/signtool.exe"))
        toolkit.write_file(self.dir, "k.p12", b"not really a key")
        before = toolkit.tree_bytes(self.dir)
        log = self.path("stand-in.log")
        env = dict(os.environ, WINEPATH=self.path("bin"), WRAPPER_PROGRAM_TIMEOUT="3", STAND_IN_LOG=log)
        started = time.monotonic()
        result = subprocess.run(TOOL + ["sign", unsigned, "--pkcs12", self.path("k.p12"), "-o", self.path("out.exe")],
                                env=env, capture_output=True, text=True, timeout=100)
        self.assertEqual(result.returncode, 3, result.stdout + result.stderr)
        self.assertIn("signtool did not finish within 3 s and was stopped", result.stderr)
        self.assertLess(time.monotonic() - started, 60)  # not the stand-in's 120 s
        self.assertTrue(os.path.exists(log), "the stand-in never ran")
        os.remove(log)
        self.assertEqual(toolkit.tree_bytes(self.dir), before)

        def left():  # Wine runs each Windows process as a host process showing its command line
            found = []
            for entry in filter(str.isdigit, os.listdir("/proc")):
                try:
                    with open(f"/proc/{entry}/cmdline", "rb") as f:
                        program = f.read().split(b"\0")[0].split(b" ")[0].strip(b'"').lower()
                        if program.endswith((b"signtool", b"signtool.exe")):
                            found.append(entry)
                except OSError:
                    pass
            return found
        deadline = time.monotonic() + 10
        while left() and time.monotonic() < deadline:
            time.sleep(0.2)
        self.assertEqual(left(), [])

    def test_windows_refusals(self):
        """What only the Windows build decides: signtool never gets a password,
        and extract keeps existing files there too."""
        toolkit.make_payload(self.path("in"), {"a.txt": b"alpha"})
        out = self.path("out.exe")
        self.pack(self.path("in"), out, "--quiet")
        self.ok("extract", out, self.path("x"))
        cases = [(["sign", out, "--pkcs12", self.path("k.p12"), "--password-env", "PASS"], 2, "--thumbprint"),
                 (["sign", out, "--cert", self.path("c.pem"), "--key", self.path("k.pem")], 2, "no PEM key"),
                 # A token signs through the store there: its minidriver puts the certificate in.
                 (["sign", out, "--pkcs11-module", "p11.dll", "--key", "pkcs11:object=k", "--cert", "pkcs11:object=c"],
                  2, "--thumbprint"),
                 (["extract", out, self.path("x")], 1, "--overwrite"),
                 (["extract", out, self.path("x"), "--overwrite"], 0, ""),
                 (["extract", out, "--test"], 0, "")]
        for args, code, message in cases:
            with self.subTest(args=args[:1] + args[2:]):
                result = run_tool(*args)
                self.assertEqual(result.returncode, code, result.stdout + result.stderr)
                self.assertIn(message, result.stderr)
        # An entry that fails its check under --overwrite keeps the old file, and no temporary.
        self.pack(self.path("in"), out, "--quiet", "--level", "0")
        with open(out, "rb") as f:
            image = bytearray(f.read())
        image[image.index(b"alpha")] ^= 0x55
        with open(out, "wb") as f:
            f.write(image)
        toolkit.write_file(self.path("x"), "a.txt", b"old")
        self.assertEqual(run_tool("extract", out, self.path("x"), "--overwrite").returncode, 1)
        with open(self.path("x", "a.txt"), "rb") as f:
            self.assertEqual(f.read(), b"old")
        self.assertEqual([n for n in os.listdir(self.path("x")) if ".tmp" in n], [])


if __name__ == "__main__":
    unittest.main()
