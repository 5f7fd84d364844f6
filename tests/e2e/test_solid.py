"""Solid installers (pack --solid) in the real stub under Wine: one block, a
prefix block and several blocks over real PE files, a second run over the
unpacked work area, a damaged block and a frame that declares too large a
window. The stub's log, the files it leaves and the tool's extract of the same
installer agree; the unpack with 1 and with 4 workers ends the same way."""
import os
import random
import shutil
import struct
import subprocess
import tempfile
import unittest
import zipfile
import zlib

from e2e_support import (INNER_SETUP, LOG_NAME, PrefixTestCase, env_path, log_head,
                         parse_last_run, record_run_bytes)

WINE_DLLS = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows"
CLIENT = "C:\\client\\Client.exe"
SOLID_ID = 0x4253
METHOD_SOLID = 0x5A53
NOT_DECODED = "its block does not decode (damaged or not what its records say)"
WINDOW_TOO_LARGE = "its block's frame declares a window beyond the limit"
PROBE_LOG = "C:\\probe\\unpack"


def wine_dlls(count=8):
    """The smallest DLLs above 100 KB that Wine ships: real x86-64 code."""
    if not os.path.isdir(WINE_DLLS):
        return []
    found = [(os.path.getsize(os.path.join(WINE_DLLS, n)), n)
             for n in os.listdir(WINE_DLLS) if n.endswith(".dll")]
    return [name for _, name in sorted(t for t in found if t[0] > 100_000)[:count]]


def payload_files():
    """name -> bytes: the inner setup, PE files, text, noise and an empty file."""
    words = [b"block", b"frame", b"window", b"prefix", b"entry", b"stub", b"zstd", b"Wine"]
    seed = 7
    files = {INNER_SETUP: record_run_bytes(), "data/empty.txt": b""}
    for i in range(4):
        text = bytearray()
        while len(text) < 300_000:
            seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
            text += words[seed % 8] + (b"\n" if seed % 11 == 0 else b" ")
        files["data/text%d.txt" % i] = bytes(text)
    files["data/noise.bin"] = random.Random(5).randbytes(200_000)
    for name in wine_dlls():
        with open(os.path.join(WINE_DLLS, name), "rb") as f:
            files["bin/" + name] = f.read()
    return files


def pe_filter(image):
    """The filter pack gives a PE image: 2 for x86-64, 1 for i386."""
    machine = struct.unpack_from("<H", image, struct.unpack_from("<I", image, 0x3C)[0] + 4)[0]
    return {0x8664: 2, 0x014C: 1}[machine]


def solid_records(installer):
    """(entries in directory order, {index: (block, prefix, size, offset, length, filter)})."""
    with zipfile.ZipFile(installer) as archive:
        entries = archive.infolist()
    records = {}
    for index, info in enumerate(entries):
        extra = info.extra
        while len(extra) >= 4:
            tag, size = struct.unpack_from("<HH", extra)
            if tag == SOLID_ID:
                records[index] = struct.unpack_from("<IIQQQB", extra, 4)
            extra = extra[4 + size:]
    return entries, records


def damage_block(installer, block):
    """Flips a byte in the middle of `block`'s frame; returns its carrier's index."""
    entries, records = solid_records(installer)
    carrier = next(i for i, r in sorted(records.items()) if r[0] == block and r[3] == 0)
    info = entries[carrier]
    assert info.compress_size > 0, info.filename
    with open(installer, "r+b") as f:
        f.seek(info.header_offset + 26)
        name_length, extra_length = struct.unpack("<HH", f.read(4))
        at = info.header_offset + 30 + name_length + extra_length + info.compress_size // 2
        f.seek(at)
        byte = f.read(1)[0]
        f.seek(at)
        f.write(bytes([byte ^ 0x5A]))
    return carrier


# A frame and an archive made by hand ---------------------------------------

def xxh64(data, seed=0):
    """XXH64, for the frame's content checksum (its low 32 bits)."""
    p1, p2, p3, p4, p5 = (11400714785074694791, 14029467366897019727, 1609587929392839161,
                          9650029242287828579, 2870177450012600261)
    mask = (1 << 64) - 1

    def rotl(x, r):
        return ((x << r) | (x >> (64 - r))) & mask

    def rnd(acc, lane):
        return rotl((acc + lane * p2) & mask, 31) * p1 & mask

    at, length = 0, len(data)
    if length >= 32:
        v = [(seed + p1 + p2) & mask, (seed + p2) & mask, seed, (seed - p1) & mask]
        while at + 32 <= length:
            for lane in range(4):
                v[lane] = rnd(v[lane], struct.unpack_from("<Q", data, at + 8 * lane)[0])
            at += 32
        h = (rotl(v[0], 1) + rotl(v[1], 7) + rotl(v[2], 12) + rotl(v[3], 18)) & mask
        for lane in v:
            h = ((h ^ rnd(0, lane)) * p1 + p4) & mask
    else:
        h = (seed + p5) & mask
    h = (h + length) & mask
    while at + 8 <= length:
        h = (rotl(h ^ rnd(0, struct.unpack_from("<Q", data, at)[0]), 27) * p1 + p4) & mask
        at += 8
    if at + 4 <= length:
        h = (rotl(h ^ (struct.unpack_from("<I", data, at)[0] * p1 & mask), 23) * p2 + p3) & mask
        at += 4
    for byte in data[at:]:
        h = rotl(h ^ (byte * p5 & mask), 11) * p1 & mask
    h = ((h ^ (h >> 33)) * p2) & mask
    h = ((h ^ (h >> 29)) * p3) & mask
    return h ^ (h >> 32)


def raw_frame(content, window_exponent):
    """A zstd frame: 8-byte content size, checksum, no single segment, a
    window of 2^(10 + exponent), the content as one raw last block."""
    assert len(content) < 128 << 10
    header = b"\x28\xb5\x2f\xfd" + bytes([0xC4, window_exponent << 3]) + struct.pack("<Q", len(content))
    block = struct.pack("<I", len(content) << 3 | 1)[:3]
    return header + block + content + struct.pack("<I", xxh64(content) & 0xFFFFFFFF)


def hand_zip(entries):
    """A ZIP of (name, method, data, uncompressed bytes, central extra)."""
    local, central = bytearray(), bytearray()
    for name, method, data, content, extra in entries:
        name = name.encode()
        fixed = struct.pack("<HHHHHIIIHH", 20, 0, method, 0, 0x21, zlib.crc32(content),
                            len(data), len(content), len(name), 0)
        central += struct.pack("<IH", 0x02014B50, 20) + fixed[:-2] + struct.pack(
            "<HHHHII", len(extra), 0, 0, 0, 0, len(local)) + name + extra
        local += struct.pack("<I", 0x04034B50) + fixed + name + data
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(entries), len(entries), len(central),
                      len(local), 0)
    return bytes(local + central + end)


def one_file_solid_installer(target, window_exponent):
    """The stub, its inner setup stored, then one file as a solid block of its own."""
    content = b"a block whose frame is made by hand\n" * 150
    record = struct.pack("<IIQQQB", 0, 0xFFFFFFFF, len(content), 0, len(content), 0)
    archive = hand_zip([
        (INNER_SETUP, 0, record_run_bytes(), record_run_bytes(), b""),
        ("data/hand.bin", METHOD_SOLID, raw_frame(content, window_exponent), content,
         struct.pack("<HH", SOLID_ID, len(record)) + record),
    ])
    with open(env_path("E2E_STUB"), "rb") as f:
        stub = f.read()
    with open(target, "wb") as f:
        f.write(stub + archive)
    return {INNER_SETUP: record_run_bytes(), "data/hand.bin": content}


# The test -------------------------------------------------------------------

def tree_files(root):
    """relative name -> bytes of every file under root."""
    found = {}
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            with open(path, "rb") as f:
                found[os.path.relpath(path, root).replace(os.sep, "/")] = f.read()
    return found


class Solid(PrefixTestCase):

    @classmethod
    def setUpClass(cls):
        cls.tool = env_path("E2E_NATIVE_TOOL")
        if not os.path.exists(cls.tool):
            raise unittest.SkipTest("the native wrapper-tool is not built")
        super().setUpClass()
        cls.prefix.install_client(CLIENT)
        cls.scratch = tempfile.TemporaryDirectory()
        cls.payload = os.path.join(cls.scratch.name, "payload")
        cls.files = payload_files()
        for name, data in cls.files.items():
            path = os.path.join(cls.payload, *name.split("/"))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)

    @classmethod
    def tearDownClass(cls):
        super().tearDownClass()
        cls.scratch.cleanup()

    def pack(self, exe_win, options):
        target = self.prefix.unix(exe_win)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        subprocess.run([self.tool, "pack", env_path("E2E_STUB"), self.payload, "-o", target,
                        "--solid", "--level", "3", "-j", "2", "--quiet"] + options, check=True)
        return self.files

    def assertFilesAsExpected(self, found, files, fails_at, names, label):
        """Before the failing entry every file is there and right; its block's
        files are absent; after it any file is absent or right."""
        entries, records = names
        blocked = set()
        if fails_at is not None and fails_at in records:
            block = records[fails_at][0]
            blocked = {entries[i].filename for i, r in records.items() if r[0] == block}
        for index, info in enumerate(entries):
            name = info.filename
            if info.is_dir():
                continue
            if fails_at is None or index < fails_at:
                self.assertEqual(found.get(name), files[name], "%s: %s" % (label, name))
            elif name in blocked or index == fails_at:
                self.assertNotIn(name, found, "%s: %s" % (label, name))
            elif name in found:
                self.assertEqual(found[name], files[name], "%s: %s" % (label, name))
        self.assertLessEqual(set(found), set(files), label)

    def extract_agrees(self, installer, files, fails_at, why, names):
        with tempfile.TemporaryDirectory() as out:
            done = subprocess.run([self.tool, "extract", installer, out, "--quiet"],
                                  capture_output=True, text=True)
            if fails_at is None:
                self.assertEqual(done.returncode, 0, done.stderr)
            else:
                self.assertEqual(done.returncode, 1, done.stderr)
                self.assertIn("entry %d '%s': %s" % (fails_at, names[0][fails_at].filename, why),
                              done.stderr)
            self.assertFilesAsExpected(tree_files(out), files, fails_at, names, "extract")

    def probe(self, installer_win, workers):
        """The unpack with `workers` workers into a fresh folder: (exit code,
        log texts after the logger's own two, files)."""
        area_win = "C:\\probe\\w%d" % workers
        area = self.prefix.unix(area_win)
        if os.path.exists(area):
            shutil.rmtree(area)
        os.makedirs(area)
        log = self.prefix.unix(PROBE_LOG + ".txt")
        if os.path.exists(log):
            os.remove(log)
        done = subprocess.run([self.prefix.env["WINE"], env_path("E2E_UNPACK_PROBE"), installer_win,
                               area_win, str(workers), PROBE_LOG], env=self.prefix.env, timeout=60,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(log, "rb") as f:
            texts = [text for _, text in parse_last_run(f.read())]
        return done.returncode, texts[2:], tree_files(area)

    def assertWorkersAgree(self, installer_win, stub_texts, stub_code_ok, files, fails_at, names):
        outcomes = [self.probe(installer_win, workers) for workers in (1, 4)]
        self.assertEqual(outcomes[0][0], 0 if stub_code_ok else 1)
        self.assertEqual(outcomes[0][1], outcomes[1][1])
        # The stub's unpack records, from the archive's size on.
        start = next(i for i, t in enumerate(stub_texts) if t.startswith("Embedded zip contains"))
        self.assertEqual(outcomes[0][1], stub_texts[start:start + len(outcomes[0][1])])
        for code, _, found in outcomes:
            self.assertEqual(code, outcomes[0][0])
            self.assertFilesAsExpected(found, files, fails_at, names, "probe")
        # Up to the failing block's end both leave the same files; past it a
        # worker may have written files before the failure was seen.
        if fails_at is None:
            self.assertEqual(outcomes[0][2], outcomes[1][2])

    def test_solid_layouts(self):
        several = ["--solid-block", "1", "--solid-prefix", "25"]
        rows = [
            # (name, how it is made, damaged block, client, failing reason)
            ("one block", ["--solid-prefix", "0", "--solid-block", "56"], None, False, None),
            ("prefix and blocks", several, None, False, None),
            ("block 1 damaged", several, 1, False, NOT_DECODED),
            ("hand frame in limit", 7, None, True, None),
            ("hand frame 2 GiB window", 21, None, True, WINDOW_TOO_LARGE),
        ]
        for name, how, damaged, client, why in rows:
            with self.subTest(row=name):
                self.prefix.clear_work_area()
                self.prefix.set_client_path(CLIENT if client else None)
                exe_win = "C:\\dl\\%s\\Setup.exe" % name.replace(" ", "_")
                target = self.prefix.unix(exe_win)
                os.makedirs(os.path.dirname(target), exist_ok=True)
                if isinstance(how, int):
                    files = one_file_solid_installer(target, how)
                else:
                    files = self.pack(exe_win, how)
                fails_at = damage_block(target, damaged) if damaged is not None else None
                names = solid_records(target)
                entries, records = names
                if why is not None and fails_at is None:
                    fails_at = min(records)
                self.check_layout(name, records, entries)

                code = self.prefix.run(exe_win)
                head = log_head(self.prefix) + [
                    "Embedded zip contains %d entries.  Total size: %d"
                    % (len(entries), os.path.getsize(target))]
                if why is None:
                    self.assertEqual(code, 0)
                    record = self.prefix.wait_record()
                    self.assertIsNotNone(record, "the inner setup was not started")
                    self.assertEqual(record["argv"][0], INNER_SETUP)
                    tail = ["Archive unpacked successfully.",
                            "Running from folder: " + exe_win.rsplit("\\", 1)[0], None,
                            "Launching DiveRozadOrovaver.", "Finished."]
                else:
                    self.assertEqual(code, 0 if client else 1)
                    if client:
                        record = self.prefix.wait_record()
                        self.assertIsNotNone(record, "the client was not started")
                        self.assertEqual(record["argv"], [CLIENT, "/noUpdate", "/vozeDozavError"])
                        after = ["Falling back to existing client: " + CLIENT,
                                 "Launching DiveRozadOrovaver.", "Finished."]
                    else:
                        self.assertTrue(self.prefix.no_record(settle=0.5))
                        after = ["No fallback available."]
                    tail = ["Unable to decompress file.  i = %d Filename = %s"
                            % (fails_at, entries[fails_at].filename),
                            "Unable to unpack the entry's data: %s." % why] + after
                records_seen = self.assertLogTexts(head + tail)
                stub_texts = [text for _, text in records_seen]
                if why is not None:
                    self.assertEqual([level for level, _ in records_seen[len(head):len(head) + 2]],
                                     ["Error", "Error"])
                found = tree_files(self.prefix.work_area_unix)
                found.pop(LOG_NAME, None)
                self.assertFilesAsExpected(found, files, fails_at, names, "stub")
                self.extract_agrees(target, files, fails_at, why or "", names)
                if name != "one block":
                    self.assertWorkersAgree(exe_win, stub_texts, why is None, files, fails_at, names)
                if name == "prefix and blocks":
                    self.second_runs(exe_win, files, entries, records)

    def check_layout(self, name, records, entries):
        """What each row is meant to exercise is really in the installer."""
        blocks = {r[0] for r in records.values()}
        if name == "one block":
            self.assertEqual(blocks, {0})
            self.assertEqual({r[1] for r in records.values()}, {0xFFFFFFFF})
        elif not name.startswith("hand"):
            self.assertGreaterEqual(len(blocks), 3, "too few blocks")
            self.assertTrue(any(r[1] == 0 for r in records.values()), "no block refers to block 0")
            # The PE files (the DLLs and the inner setup), and only they, went
            # through a filter: the x86-64 one for x86-64 images, the branch
            # split alone for i386 ones.
            filtered = {entries[i].filename: r[5] for i, r in records.items() if r[5] != 0}
            images = {n: pe_filter(data) for n, data in self.files.items() if data[:2] == b"MZ"}
            self.assertGreater(len(images), 1)
            self.assertIn(2, images.values())
            self.assertEqual(filtered, images)

    def second_runs(self, exe_win, files, entries, records):
        """Over the unpacked work area: every file is kept as it is; a file
        changed meanwhile is rewritten and the rest are still kept."""
        area = self.prefix.work_area_unix
        count = sum(1 for info in entries if not info.is_dir())
        # The last file of a later block: kept files before it in its block
        # still need the block decoded past them.
        changed = max(i for i, r in records.items() if r[0] == max(b[0] for b in records.values()))
        changed = entries[changed].filename
        for label, kept in (("untouched", count), ("one file changed", count - 1)):
            with self.subTest(second_run=label):
                if kept != count:
                    with open(os.path.join(area, *changed.split("/")), "r+b") as f:
                        f.write(b"\0changed")
                times = {name: os.stat(os.path.join(area, *name.split("/"))).st_mtime_ns
                         for name in files}
                self.assertEqual(self.prefix.run(exe_win), 0)
                record = self.prefix.wait_record()
                self.assertIsNotNone(record, "the inner setup was not started again")
                self.assertEqual(record["argv"][0], INNER_SETUP)
                texts = [text for _, text in self.prefix.log_records()]
                self.assertIn("Kept %d files already in place." % kept, texts)
                self.assertEqual(texts[texts.index("Kept %d files already in place." % kept) + 1],
                                 "Archive unpacked successfully.")
                found = tree_files(area)
                found.pop(LOG_NAME, None)
                self.assertEqual(found, files)
                for name, before in times.items():
                    now = os.stat(os.path.join(area, *name.split("/"))).st_mtime_ns
                    if kept != count and name == changed:
                        continue
                    self.assertEqual(now, before, name)


if __name__ == "__main__":
    unittest.main(verbosity=2)
