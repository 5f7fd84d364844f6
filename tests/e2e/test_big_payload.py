"""Installers larger than the stub's 64 MiB view of its own file: entries and
the central directory beyond the first window, one entry spanning two, and an
archive that begins past 4 GiB (a sparse file, so it costs no disk)."""
import hashlib
import os
import unittest
import zipfile

from e2e_support import (INNER_SETUP, PrefixTestCase, log_head, python_zip, record_run_bytes,
                         write_installer)

WINDOW = 64 << 20
FAR = (9 << 30) // 2


class BigPayload(PrefixTestCase):

    def test_payload_past_one_window_unpacks_whole(self):
        # Stored random data: quick to make, and no deflate stream to hide a
        # misplaced window behind a data error.
        spanning = os.urandom(WINDOW + (5 << 20))
        after = os.urandom(3 << 20)
        payload = python_zip([(INNER_SETUP, record_run_bytes()), ("data/spanning.bin", spanning),
                              ("data/after.bin", after)], zipfile.ZIP_STORED)
        self.assertGreater(len(payload), WINDOW + (8 << 20))
        size = write_installer(self.prefix, "C:\\dl\\big\\Setup.exe", payload)
        self.assertEqual(self.prefix.run("C:\\dl\\big\\Setup.exe", timeout=120), 0)
        record = self.prefix.wait_record(timeout=60)
        self.assertIsNotNone(record, "the inner setup was not started")
        self.assertEqual(record["argv"][0], INNER_SETUP)
        for name, data in (("spanning.bin", spanning), ("after.bin", after)):
            with open(os.path.join(self.prefix.work_area_unix, "data", name), "rb") as f:
                self.assertEqual(hashlib.sha256(f.read()).digest(),
                                 hashlib.sha256(data).digest(), name)
        elapsed = int(record["argv"][-1][len("/timing:"):])
        records = self.assertLogTexts(log_head(self.prefix) + [
            "Embedded zip contains 3 entries.  Total size: %d" % size,
            "Archive unpacked successfully.",
            "Running from folder: C:\\dl\\big",
            "Unpack time = %d ms." % elapsed,
            "Launching DiveRozadOrovaver.",
            "Finished.",
        ])
        self.assertEqual({level for level, _ in records}, {"Event"})

    def test_archive_past_four_gib_unpacks(self):
        data = os.urandom(1 << 20)
        payload = python_zip([(INNER_SETUP, record_run_bytes()), ("far.bin", data)])
        exe = "C:\\dl\\far\\Setup.exe"
        target = self.prefix.unix(exe)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(os.environ["E2E_STUB"], "rb") as f:
            stub = f.read()
        # The archive follows a hole: it begins at 4.5 GiB, so every offset
        # the stub maps at needs the high half of a 64-bit file position.
        with open(target, "wb") as f:
            f.write(stub)
            f.seek(FAR)
            f.write(payload)
        try:
            self.assertEqual(self.prefix.run(exe, timeout=120), 0)
            record = self.prefix.wait_record(timeout=60)
            self.assertIsNotNone(record, "the inner setup was not started")
            with open(os.path.join(self.prefix.work_area_unix, "far.bin"), "rb") as f:
                self.assertEqual(f.read(), data)
            size = FAR + len(payload)
            logged = (size + (1 << 31)) % (1 << 32) - (1 << 31)  # the log's 32-bit size
            texts = [text for _, text in self.prefix.log_records()]
            self.assertIn("Embedded zip contains 2 entries.  Total size: %d" % logged, texts)
            self.assertIn("Archive unpacked successfully.", texts)
        finally:
            os.remove(target)


if __name__ == "__main__":
    unittest.main()
