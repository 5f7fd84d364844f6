"""Where the local application-data folder lies: a profile path with spaces
and letters beyond ASCII, and a disk that fills up during the unpack."""
import os
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

    def test_profile_path_with_spaces_and_letters_beyond_ascii(self):
        local = "C:\\users\\Jürgen Łódź Åsa\\App Data\\Local"
        os.makedirs(self.prefix.unix(local))
        self.prefix.redirect_local_appdata(local)
        size = write_installer(self.prefix, SETUP, basic_payload([("sub dir/ä.txt", b"x")]))
        self.assertEqual(self.prefix.run(SETUP), 0)
        record = self.prefix.wait_record()
        self.assertIsNotNone(record, "the inner setup was not started")
        area = local + "\\Norvik\\VozeDozav\\10.99.0.21465"
        self.assertEqual(record["cwd"], area)
        self.assertEqual(record["exe"], area + "\\" + INNER_SETUP)
        self.assertTrue(os.path.isfile(os.path.join(self.prefix.unix(area), INNER_SETUP)))
        # log_head expects the low byte of each character of the path.
        self.assertLogTexts(log_head(self.prefix) + [
            "Embedded zip contains 2 entries.  Total size: %d" % size,
            "Archive unpacked successfully.", "Running from folder: C:\\dl\\profile", None,
            "Launching DiveRozadOrovaver.", "Finished."])

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
            # The partial file stays; nothing after it is written.
            self.assertLess(os.path.getsize(os.path.join(area, "big.bin")), len(big))
            self.assertFalse(os.path.exists(os.path.join(area, INNER_SETUP)))
            self.assertLogTexts(log_head(self.prefix) + [
                "Embedded zip contains 3 entries.  Total size: %d" % size,
                "Unable to decompress file.  i = 1 Filename = big.bin",
                "Falling back to existing client: " + CLIENT,
                "Launching DiveRozadOrovaver.", "Finished."])
        finally:
            # Wine's processes may still use the folder (the client was
            # started there); end them before the disk goes away.
            self.prefix.stop_server()
            subprocess.run(["umount", mount_point], check=True)
            os.rmdir(mount_point)
            self.prefix.start_server()


if __name__ == "__main__":
    unittest.main(verbosity=2)
