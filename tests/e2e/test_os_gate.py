"""The operating-system gate: Windows Vista is refused before anything is
made; Windows 7 and every later version run."""
import os
import unittest

from e2e_support import INNER_SETUP, PrefixTestCase, basic_payload, write_installer

SETUP = "C:\\dl\\gate\\Setup.exe"


class OsGate(PrefixTestCase):

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        write_installer(cls.prefix, SETUP, basic_payload())

    @classmethod
    def tearDownClass(cls):
        if cls.prefix is not None:
            cls.prefix.set_windows_version("win7")
        super().tearDownClass()

    def test_vista_is_refused_and_nothing_is_made(self):
        self.prefix.set_windows_version("vista")
        # A registered client must not be started either.
        self.prefix.set_client_path("C:\\dl\\gate\\Setup.exe")
        try:
            self.assertEqual(self.prefix.run(SETUP, "/Beta"), 1)
            self.assertTrue(self.prefix.no_record(settle=1.0))
            self.assertFalse(os.path.exists(self.prefix.unix(self.prefix.local_appdata + "\\Norvik")))
        finally:
            self.prefix.set_client_path(None)

    def test_windows_7_and_later_run(self):
        for version in ("win7", "win8", "win81", "win10"):
            with self.subTest(version=version):
                self.prefix.clear_work_area()
                self.prefix.set_windows_version(version)
                self.assertEqual(self.prefix.run(SETUP), 0)
                record = self.prefix.wait_record()
                self.assertIsNotNone(record, "the inner setup was not started")
                self.assertEqual(record["argv"][0], INNER_SETUP)
                self.assertRegex(record["argv"][1], r"^/timing:\d+$")


if __name__ == "__main__":
    unittest.main(verbosity=2)
