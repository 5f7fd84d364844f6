"""Where the local application-data folder lies: profile paths with spaces
and letters beyond ASCII or Latin-1, one not made yet, and a disk that fills
up during the unpack."""
import os
import re
import subprocess
import unittest

from e2e_support import (INNER_SETUP, PrefixTestCase, basic_payload, log_head,
                         python_zip, record_run_bytes, write_installer)

CLIENT = "C:\\client\\Client.exe"
SETUP = "C:\\dl\\profile\\Setup.exe"


class Profile(PrefixTestCase):

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.prefix.install_client(CLIENT)

    def tearDown(self):
        self.prefix.clear_work_area()
        self.prefix.restore_local_appdata()
        self.prefix.set_client_path(None)

    def test_profile_paths_beyond_ascii_and_not_made_yet(self):
        cases = [
            # (local application data, made before the run, how the log shows it)
            ("C:\\users\\Jürgen Łódź Åsa\\App Data\\Local", True,
             "C:\\users\\Jürgen ?ód? Åsa\\App Data\\Local"),
            ("C:\\users\\山田\\AppData\\Local", True, "C:\\users\\??\\AppData\\Local"),
            # A profile whose folder is not there yet gets it made.
            ("C:\\users\\新人 Neu\\AppData\\Local", False,
             "C:\\users\\?? Neu\\AppData\\Local"),
        ]
        for local, made, logged in cases:
            with self.subTest(local=local):
                if made:
                    os.makedirs(self.prefix.unix(local), exist_ok=True)
                self.prefix.redirect_local_appdata(local)
                self.prefix.clear_work_area()
                size = write_installer(self.prefix, SETUP,
                                       basic_payload([("sub dir/ä.txt", b"x")]))
                self.assertEqual(self.prefix.run(SETUP), 0)
                record = self.prefix.wait_record()
                self.assertIsNotNone(record, "the inner setup was not started")
                area = local + "\\Norvik\\VozeDozav\\10.99.0.21465"
                self.assertEqual(record["cwd"], area)
                self.assertEqual(record["exe"], area + "\\" + INNER_SETUP)
                self.assertTrue(os.path.isfile(os.path.join(self.prefix.unix(area), INNER_SETUP)))
                # A character the log's 8-bit text cannot hold is a '?', never
                # another character; the rest of the line stays.
                records = self.assertLogTexts(log_head(self.prefix) + [
                    "Embedded zip contains 2 entries.  Total size: %d" % size,
                    "Archive unpacked successfully.", "Running from folder: C:\\dl\\profile",
                    None, "Launching DiveRozadOrovaver.", "Finished."])
                self.assertEqual(records[0][1], "LogFile: " + logged +
                                 "\\Norvik\\VozeDozav\\10.99.0.21465\\DuzoRizedAroriva_Log")

    def test_disk_that_fills_up_during_the_unpack(self):
        mount_point = self.prefix.unix("C:\\small disk")
        os.makedirs(mount_point)
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=2m", "tmpfs", mount_point],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if mounted.returncode != 0:
            os.rmdir(mount_point)
            self.skipTest("mounting a small tmpfs is not permitted here; disk-full case skipped")
        try:
            local = "C:\\small disk\\Local"
            os.makedirs(self.prefix.unix(local))
            self.prefix.redirect_local_appdata(local)
            self.prefix.set_client_path(CLIENT)
            big = os.urandom(3 * 1024 * 1024)   # incompressible, larger than the disk
            size = write_installer(self.prefix, SETUP, python_zip(
                [("small.txt", b"fits"), ("big.bin", big), (INNER_SETUP, record_run_bytes())]))
            self.assertEqual(self.prefix.run(SETUP), 0)
            record = self.prefix.wait_record()
            self.assertIsNotNone(record, "the client was not started")
            self.assertEqual(record["argv"], [CLIENT, "/noUpdate", "/vozeDozavError"])
            area = self.prefix.unix(local + "\\Norvik\\VozeDozav\\10.99.0.21465")
            with open(os.path.join(area, "small.txt"), "rb") as f:
                self.assertEqual(f.read(), b"fits")
            # No partial file is left. The entry after it may have been written
            # by another worker meanwhile; the next run checks it like any other.
            left = sorted(name for name in os.listdir(area) if name != INNER_SETUP)
            self.assertEqual(left, ["DuzoRizedAroriva_Log.txt", "small.txt"])
            records = self.assertLogTexts(log_head(self.prefix) + [
                "Embedded zip contains 3 entries.  Total size: %d" % size,
                "Unable to decompress file.  i = 1 Filename = big.bin", None,
                "Falling back to existing client: " + CLIENT,
                "Launching DiveRozadOrovaver.", "Finished."])
            self.assertEqual(records[6][0], "Error")
            full = re.match(r"^Unable to write file\.  Error = 112 \(the disk is full: "
                            r"([1-9][0-9]*) more bytes needed\)\.$", records[6][1])
            self.assertIsNotNone(full, records[6][1])
            self.assertLessEqual(int(full.group(1)), len(big))

            # With room made, the next run writes everything whole.
            subprocess.run(["mount", "-o", "remount,size=16m", mount_point], check=True)
            self.assertEqual(self.prefix.run(SETUP), 0)
            record = self.prefix.wait_record()
            self.assertIsNotNone(record, "the inner setup was not started")
            self.assertEqual(record["argv"][0], INNER_SETUP)
            with open(os.path.join(area, "big.bin"), "rb") as f:
                self.assertEqual(f.read(), big)
        finally:
            # Wine's processes may still use the folder (the client was
            # started there); end them before the disk goes away.
            self.prefix.stop_server()
            subprocess.run(["umount", mount_point], check=True)
            os.rmdir(mount_point)
            self.prefix.start_server()


if __name__ == "__main__":
    unittest.main(verbosity=2)
