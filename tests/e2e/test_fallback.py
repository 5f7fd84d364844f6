"""The fallback path: when the work area or the unpack fails, the client
named by HKLM\\Software\\Norvik ClientPath is started instead, or the stub
ends with exit code 1 when there is none."""
import os
import re
import unittest

from e2e_support import (PrefixTestCase, basic_payload, log_head,
                         write_installer)

CLIENT = "C:\\Program Files\\Norvik Client\\Client.exe"
NO_PAYLOAD = "C:\\dl\\fallback\\NoPayload.exe"
NO_PAYLOAD_BETA = "C:\\dl\\fallback\\NoPayload_Beta.exe"


class Fallback(PrefixTestCase):

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.prefix.install_client(CLIENT)
        write_installer(cls.prefix, NO_PAYLOAD, b"")
        write_installer(cls.prefix, NO_PAYLOAD_BETA, b"")

    def test_registered_client_is_started_with_the_failure_flags(self):
        cases = [
            (NO_PAYLOAD, ["/noUpdate", "/vozeDozavError"]),
            (NO_PAYLOAD_BETA, ["/noUpdate", "/vozeDozavError", "/Beta"]),
        ]
        self.prefix.set_client_path(CLIENT)
        for exe, flags in cases:
            with self.subTest(exe=exe):
                self.prefix.clear_work_area()
                # Own arguments are not passed on this path.
                self.assertEqual(self.prefix.run(exe, "own", "/Beta"), 0)
                record = self.prefix.wait_record()
                self.assertIsNotNone(record, "the client was not started")
                self.assertEqual(record["argv"], [CLIENT] + flags)
                self.assertEqual(record["crt_argv"], [CLIENT] + flags)
                self.assertEqual(record["exe"].lower(), CLIENT.lower())
                records = self.assertLogTexts(log_head(self.prefix) + [
                    "Unable to initialize zip reader.",
                    "Falling back to existing client: " + CLIENT,
                    "Launching DiveRozadOrovaver.",
                    "Finished.",
                ])
                self.assertEqual(records[4][0], "Error")
                self.assertNotIn("Detected Beta mode.", [text for _, text in records])

    def test_client_path_values(self):
        exactly_fits = "C:\\" + "x" * 507      # 510 characters
        too_long = "C:\\" + "x" * 508          # 511: with its NUL over 1,023 bytes
        # Both values that are read name no program: the start fails, which
        # is logged with the system's error code, and the run ends with 1.
        cases = [
            # (ClientPath, last log texts, None standing for the failed start)
            ("", ["Falling back to existing client: ", "Launching DiveRozadOrovaver.", None]),
            (exactly_fits, ["Falling back to existing client: " + exactly_fits,
                            "Launching DiveRozadOrovaver.", None]),
            (too_long, ["No fallback available."]),
            (None, ["No fallback available."]),
        ]
        for value, tail in cases:
            with self.subTest(length=None if value is None else len(value)):
                self.prefix.clear_work_area()
                self.prefix.set_client_path(value)
                self.assertEqual(self.prefix.run(NO_PAYLOAD), 1)
                records = self.assertLogTexts(
                    log_head(self.prefix) + ["Unable to initialize zip reader."] + tail)
                self.assertEqual(records[-1][0], "Error")
                if tail[-1] is None:
                    self.assertRegex(records[-1][1], r"^Unable to start process\.  Error = "
                                     r"[1-9][0-9]* Filename = " + re.escape(value) + "$")
                self.assertTrue(self.prefix.no_record(settle=0.5))

    def test_work_area_that_cannot_be_made(self):
        # A file where the version folder belongs: no log, no unpack, fallback.
        write_installer(self.prefix, "C:\\dl\\blocked\\Setup.exe", basic_payload())
        for client, code in ((CLIENT, 0), (None, 1)):
            with self.subTest(client=client):
                self.prefix.clear_work_area()
                blocker = self.prefix.work_area_unix
                os.makedirs(os.path.dirname(blocker))
                with open(blocker, "wb") as f:
                    f.write(b"not a folder")
                self.prefix.set_client_path(client)
                self.assertEqual(self.prefix.run("C:\\dl\\blocked\\Setup.exe", "own"), code)
                if client:
                    record = self.prefix.wait_record()
                    self.assertIsNotNone(record, "the client was not started")
                    self.assertEqual(record["argv"], [CLIENT, "/noUpdate", "/vozeDozavError"])
                else:
                    self.assertTrue(self.prefix.no_record(settle=0.5))
                with open(blocker, "rb") as f:
                    self.assertEqual(f.read(), b"not a folder")
                self.assertEqual(os.listdir(os.path.dirname(blocker)), ["10.99.0.21465"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
