"""The normal path: unpack, then start the inner setup with the argument
vector that reports what the stub found."""
import os
import re
import shutil
import unittest

from e2e_support import (INNER_SETUP, PrefixTestCase, Signer, basic_payload, infozip_zip,
                         log_head, record_run_bytes, write_installer)

TIMING = re.compile(r"^/timing:(0|[1-9][0-9]*)$")


class NormalPath(PrefixTestCase):

    def run_installer(self, exe, *args):
        self.assertEqual(self.prefix.run(exe, *args), 0)
        record = self.prefix.wait_record()
        self.assertIsNotNone(record, "the inner setup was not started")
        return record

    def assertStarted(self, record, middle):
        """argv is the inner setup, `middle`, then the timing element; both
        splitting rules agree; it runs from the work area."""
        argv = record["argv"]
        self.assertEqual(argv[:-1], [INNER_SETUP] + middle)
        self.assertRegex(argv[-1], TIMING)
        self.assertEqual(record["crt_argv"], argv)
        self.assertEqual(record["cwd"].lower(), self.prefix.work_area.lower())
        self.assertEqual(record["exe"].lower(), (self.prefix.work_area + "\\" + INNER_SETUP).lower())
        return int(argv[-1][len("/timing:"):])

    def test_plain_run_logs_every_step(self):
        size = write_installer(self.prefix, "C:\\dl\\plain\\Setup.exe",
                               basic_payload([("data/readme.txt", b"new content")]))
        record = self.run_installer("C:\\dl\\plain\\Setup.exe")
        elapsed = self.assertStarted(record, [])
        self.assertTrue(record["raw"].startswith('"%s" "/timing:' % INNER_SETUP), record["raw"])
        with open(os.path.join(self.prefix.work_area_unix, "data", "readme.txt"), "rb") as f:
            self.assertEqual(f.read(), b"new content")
        records = self.assertLogTexts(log_head(self.prefix) + [
            "Embedded zip contains 2 entries.  Total size: %d" % size,
            "Archive unpacked successfully.",
            "Running from folder: C:\\dl\\plain",
            "Unpack time = %d ms." % elapsed,
            "Launching DiveRozadOrovaver.",
            "Finished.",
        ])
        self.assertEqual({level for level, _ in records}, {"Event"})

    def test_own_arguments_pass_unchanged_whatever_their_quoting(self):
        write_installer(self.prefix, "C:\\dl\\args\\Setup.exe", basic_payload())
        own = ["plain", "with space", 'quote"inside', "trail\\", 'back\\\\"quote',
               "C:\\Some Folder\\", "", "/Beta", "tab\there", "%PATH%", "^caret&|<>",
               "Ünïcødé €", "/timing:5", "/authToken=secret1", "/PERSONA:secret2"]
        record = self.run_installer("C:\\dl\\args\\Setup.exe", *own)
        self.assertStarted(record, own)
        # Passed on unread, but credentials stay out of the log.
        dump = self.prefix.log_records()[3]
        self.assertEqual(dump[0], "Event")
        self.assertIn("plain", dump[1])
        self.assertNotIn("secret", dump[1])
        self.assertTrue(record["raw"].startswith('"%s" "plain" "with space"' % INNER_SETUP),
                        record["raw"])

    def test_all_optional_elements_in_their_fixed_order(self):
        folder = "C:\\dl\\all options"
        write_installer(self.prefix, folder + "\\Setup_beta.exe",
                        basic_payload([("ZevozoDezuda_full.zip", b"PK staged")]))
        config = self.prefix.unix(folder + "\\Autorun\\vozedozav.json")
        os.makedirs(os.path.dirname(config), exist_ok=True)
        with open(config, "w") as f:
            f.write("{}")
        record = self.run_installer(folder + "\\Setup_beta.exe", "first", "/Beta")
        elapsed = self.assertStarted(record, [
            "/UseStagedUpdate", "/Beta", "/SetupConfig:" + folder + "\\Autorun\\vozedozav.json",
            "first", "/Beta"])
        self.assertLogTexts(log_head(self.prefix) + [
            None,
            "Found staged update: ZevozoDezuda_full.zip",
            "Archive unpacked successfully.",
            "Detected Thick Setup mode.",
            "Detected Beta mode.",
            "Setup config detected.",
            "Running from folder: " + folder,
            "Unpack time = %d ms." % elapsed,
            "Launching DiveRozadOrovaver.",
            "Finished.",
        ])
        with open(os.path.join(self.prefix.work_area_unix, "ZevozoDezuda_full.zip"), "rb") as f:
            self.assertEqual(f.read(), b"PK staged")

    def test_beta_is_read_from_the_file_name_only(self):
        cases = [
            ("C:\\dl\\b1", "Setup_beta.exe", True),
            ("C:\\dl\\b2", "SETUP-BETA.EXE", True),
            ("C:\\dl\\b3", "setupbOi.exe", True),
            ("C:\\dl\\b4", "Setup.boi", True),   # the extension counts too
            ("C:\\dl\\Beta", "Setup.exe", False),
            ("C:\\dl\\BOI builds", "Setup.exe", False),
            ("C:\\dl\\b5", "Bet-a.exe", False),
        ]
        for folder, name, beta in cases:
            with self.subTest(name=folder + "\\" + name):
                self.prefix.clear_work_area()
                write_installer(self.prefix, folder + "\\" + name, basic_payload())
                record = self.run_installer(folder + "\\" + name)
                self.assertStarted(record, ["/Beta"] if beta else [])
                texts = [text for _, text in self.prefix.log_records()]
                self.assertEqual("Detected Beta mode." in texts, beta)

    def test_setup_config_file_folder_or_absent(self):
        cases = [
            # (exe folder, what to make at Autorun\vozedozav.json)
            ("C:\\dl\\cfg file", "file"),
            ("C:\\dl\\cfg folder", "folder"),
            ("C:\\dl\\cfg wrong name", "other"),
            ("C:", "file"),   # a wrapper at the root of a drive
        ]
        for folder, kind in cases:
            with self.subTest(folder=folder, kind=kind):
                self.prefix.clear_work_area()
                exe = folder + "\\Cfg.exe"
                write_installer(self.prefix, exe, basic_payload())
                autorun = self.prefix.unix(folder + "\\Autorun")
                os.makedirs(autorun, exist_ok=True)
                target = os.path.join(autorun, "vozedozav.json")
                if kind == "folder":
                    os.makedirs(target, exist_ok=True)
                elif kind == "file":
                    open(target, "w").close()
                else:
                    open(os.path.join(autorun, "vozedozav.json.txt"), "w").close()
                try:
                    record = self.run_installer(exe)
                    present = kind != "other"
                    self.assertStarted(
                        record, ["/SetupConfig:" + folder + "\\Autorun\\vozedozav.json"]
                        if present else [])
                    texts = [text for _, text in self.prefix.log_records()]
                    self.assertEqual("Setup config detected." in texts, present)
                    self.assertIn("Running from folder: " + folder, texts)
                finally:
                    shutil.rmtree(autorun)

    def test_staged_update_marks(self):
        cases = [
            # (entries besides the inner setup, staged names expected)
            ([("zevozodezuda-2.ZIP", b"1")], ["zevozodezuda-2.ZIP"]),
            ([("updates/ZEVOZODEZUDA/pkg.Zip", b"2")], ["updates/ZEVOZODEZUDA/pkg.Zip"]),
            ([("pkg.zip.zevozoDezuda", b"3")], ["pkg.zip.zevozoDezuda"]),
            ([("ZevozoDezuda.txt", b"4"), ("update.zip", b"5")], []),
            ([("ZevozoDezuda.zip/", None)], []),   # a directory entry does not count
            ([("a/ZevozoDezuda1.zip", b"6"), ("b/ZevozoDezuda2.zip", b"7")],
             ["a/ZevozoDezuda1.zip", "b/ZevozoDezuda2.zip"]),
        ]
        for entries, staged in cases:
            with self.subTest(entries=[name for name, _ in entries]):
                self.prefix.clear_work_area()
                write_installer(self.prefix, "C:\\dl\\staged\\Setup.exe", basic_payload(entries))
                record = self.run_installer("C:\\dl\\staged\\Setup.exe")
                self.assertStarted(record, ["/UseStagedUpdate"] if staged else [])
                texts = [text for _, text in self.prefix.log_records()]
                self.assertEqual([t for t in texts if t.startswith("Found staged update: ")],
                                 ["Found staged update: " + name for name in staged])
                self.assertEqual("Detected Thick Setup mode." in texts, bool(staged))
                for name, data in entries:
                    path = os.path.join(self.prefix.work_area_unix, name)
                    if data is None:
                        self.assertTrue(os.path.isdir(path), name)
                    else:
                        with open(path, "rb") as f:
                            self.assertEqual(f.read(), data)

    def test_existing_work_area_keeps_other_files_and_rewrites_entries(self):
        area = self.prefix.work_area_unix
        os.makedirs(os.path.join(area, "data"))
        with open(os.path.join(area, "old.txt"), "wb") as f:
            f.write(b"from an earlier run")
        with open(os.path.join(area, "data", "readme.txt"), "wb") as f:
            f.write(b"an older and much longer text than the new one")
        with open(os.path.join(area, INNER_SETUP), "wb") as f:
            f.write(b"\0" * (len(record_run_bytes()) + 100000))
        with open(os.path.join(area, "DuzoRizedAroriva_Log.txt"), "wb") as f:
            f.write(b"an earlier run's line\r\n")
        write_installer(self.prefix, "C:\\dl\\again\\Setup.exe",
                        basic_payload([("data/readme.txt", b"new")]))
        record = self.run_installer("C:\\dl\\again\\Setup.exe")
        self.assertStarted(record, [])
        with open(os.path.join(area, "old.txt"), "rb") as f:
            self.assertEqual(f.read(), b"from an earlier run")
        with open(os.path.join(area, "data", "readme.txt"), "rb") as f:
            self.assertEqual(f.read(), b"new")
        with open(os.path.join(area, INNER_SETUP), "rb") as f:
            self.assertEqual(f.read(), record_run_bytes())
        with open(os.path.join(area, "DuzoRizedAroriva_Log.txt"), "rb") as f:
            self.assertTrue(f.read().startswith(b"an earlier run's line\r\n\r\n****"))

    def test_entry_paths_past_the_classic_limit(self):
        # Windows takes such paths only in their \\?\ form; Wine takes any, so
        # this shows that form works end to end, not that it is needed.
        name = "/".join(["deep folder %d " % i + "y" * 40 for i in range(6)]) + "/file.txt"
        self.assertGreater(len(self.prefix.work_area) + 1 + len(name), 300)
        write_installer(self.prefix, "C:\\dl\\deep\\Setup.exe", basic_payload([(name, b"deep")]))
        self.assertStarted(self.run_installer("C:\\dl\\deep\\Setup.exe"), [])
        with open(os.path.join(self.prefix.work_area_unix, *name.split("/")), "rb") as f:
            self.assertEqual(f.read(), b"deep")

    def test_signed_installers_whatever_the_signature_size(self):
        signer = Signer()
        try:
            for padding in (0, 24):
                with self.subTest(padding_certificates=padding):
                    self.prefix.clear_work_area()
                    exe = "C:\\dl\\signed%d\\Setup.exe" % padding
                    size = write_installer(self.prefix, exe, basic_payload(), signer, padding)
                    with open(self.prefix.unix(exe), "rb") as f:
                        image = f.read()
                    tail = len(image) - image.rindex(b"PK\x05\x06")
                    # Beyond the reader's search window only for the padded one.
                    self.assertEqual(tail > 16384, padding > 0, tail)
                    record = self.run_installer(exe)
                    self.assertStarted(record, [])
                    texts = [text for _, text in self.prefix.log_records()]
                    self.assertIn("Embedded zip contains 1 entries.  Total size: %d" % size, texts)
        finally:
            signer.close()

    def test_installer_path_longer_than_1023_characters(self):
        # A cut path would name no file: the payload would not be found and
        # the setup configuration beside the installer would be missed.
        folder = "C:\\dl\\" + "\\".join(["long folder %d " % i + "x" * 190 for i in range(6)])
        exe = folder + "\\Setup.exe"
        self.assertGreater(len(exe), 1100)
        write_installer(self.prefix, exe, basic_payload())
        config = self.prefix.unix(folder + "\\Autorun\\vozedozav.json")
        os.makedirs(os.path.dirname(config))
        open(config, "w").close()
        record = self.run_installer(exe)
        self.assertStarted(record, ["/SetupConfig:" + folder + "\\Autorun\\vozedozav.json"])
        self.assertIn("Running from folder: " + folder,
                      [text for _, text in self.prefix.log_records()])

    def test_infozip_payload_with_folders(self):
        def tree(root):
            with open(os.path.join(root, INNER_SETUP), "wb") as f:
                f.write(record_run_bytes())
            os.makedirs(os.path.join(root, "platforms"))
            os.makedirs(os.path.join(root, "empty", "nested"))
            with open(os.path.join(root, "platforms", "qwindows.dll"), "wb") as f:
                f.write(b"MZ" + bytes(range(256)) * 40)

        payload = infozip_zip(tree, [INNER_SETUP, "platforms/", "platforms/qwindows.dll",
                                     "empty/", "empty/nested/"])
        write_installer(self.prefix, "C:\\dl\\infozip\\Setup.exe", payload)
        record = self.run_installer("C:\\dl\\infozip\\Setup.exe")
        self.assertStarted(record, [])
        area = self.prefix.work_area_unix
        with open(os.path.join(area, "platforms", "qwindows.dll"), "rb") as f:
            self.assertEqual(f.read(), b"MZ" + bytes(range(256)) * 40)
        self.assertTrue(os.path.isdir(os.path.join(area, "empty", "nested")))
        texts = [text for _, text in self.prefix.log_records()]
        self.assertIn("Embedded zip contains 5 entries.  Total size: %d"
                      % os.path.getsize(self.prefix.unix("C:\\dl\\infozip\\Setup.exe")), texts)


if __name__ == "__main__":
    unittest.main(verbosity=2)
