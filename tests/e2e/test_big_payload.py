"""A payload larger than the stub's 64 MiB view of its own file: entries, and
the central directory, lie beyond the first window and one entry spans two."""
import hashlib
import os
import unittest
import zipfile

from e2e_support import (INNER_SETUP, PrefixTestCase, log_head, python_zip, record_run_bytes,
                         write_installer)

WINDOW = 64 << 20


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


if __name__ == "__main__":
    unittest.main()
