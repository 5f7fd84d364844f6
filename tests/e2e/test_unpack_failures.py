"""Entries that end the unpack (a symbolic link, a file that cannot be
written, a name that would leave the work area or that Windows cannot hold)
and names beyond ASCII."""
import os
import subprocess
import unittest
import zipfile

from e2e_support import (INNER_SETUP, PrefixTestCase, basic_payload, env_path, infozip_zip,
                         log_head, record_run_bytes, write_installer)

CLIENT = "C:\\client\\Client.exe"
FALLBACK = ["Falling back to existing client: " + CLIENT, "Launching DiveRozadOrovaver.",
            "Finished."]


class UnpackFailures(PrefixTestCase):

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.prefix.install_client(CLIENT)
        cls.prefix.set_client_path(CLIENT)

    def assertFellBack(self):
        record = self.prefix.wait_record()
        self.assertIsNotNone(record, "the client was not started")
        self.assertEqual(record["argv"], [CLIENT, "/noUpdate", "/vozeDozavError"])

    def test_symlink_at_index_k_ends_the_unpack(self):
        def tree(root):
            with open(os.path.join(root, INNER_SETUP), "wb") as f:
                f.write(record_run_bytes())
            with open(os.path.join(root, "ZevozoDezuda.zip"), "wb") as f:
                f.write(b"staged")
            os.makedirs(os.path.join(root, "links"))
            os.symlink("../ZevozoDezuda.zip", os.path.join(root, "links", "link"))
            with open(os.path.join(root, "z_after.txt"), "wb") as f:
                f.write(b"after")

        members = [INNER_SETUP, "ZevozoDezuda.zip", "links/link", "z_after.txt"]
        size = write_installer(self.prefix, "C:\\dl\\symlink\\Setup.exe",
                               infozip_zip(tree, members, ["-y"]))
        self.assertEqual(self.prefix.run("C:\\dl\\symlink\\Setup.exe"), 0)
        # The staged update seen before the failure is not passed to the client.
        self.assertFellBack()
        area = self.prefix.work_area_unix
        self.assertTrue(os.path.isfile(os.path.join(area, INNER_SETUP)))
        self.assertTrue(os.path.isfile(os.path.join(area, "ZevozoDezuda.zip")))
        self.assertTrue(os.path.isdir(os.path.join(area, "links")))
        self.assertFalse(os.path.lexists(os.path.join(area, "links", "link")))
        self.assertFalse(os.path.exists(os.path.join(area, "z_after.txt")))
        records = self.assertLogTexts(log_head(self.prefix) + [
            "Embedded zip contains 4 entries.  Total size: %d" % size,
            "Found staged update: ZevozoDezuda.zip",
            "Unable to create symlink.  i = 2 Filename = links/link",
        ] + FALLBACK)
        self.assertEqual(records[6][0], "Error")

    def test_entry_that_cannot_be_written(self):
        write_installer(self.prefix, "C:\\dl\\blocked\\Setup.exe",
                        basic_payload([("blocked/x.txt", b"x"), ("after.txt", b"y")]))
        # A file stands where the entry's folder should be, and another
        # program holds it, so that it cannot be moved aside either.
        os.makedirs(self.prefix.work_area_unix)
        with open(os.path.join(self.prefix.work_area_unix, "blocked"), "wb") as f:
            f.write(b"someone's file")
        ready = "C:\\record\\blocked.ready"
        if os.path.exists(self.prefix.unix(ready)):
            os.remove(self.prefix.unix(ready))
        holder = subprocess.Popen(
            [self.prefix.env["WINE"], env_path("E2E_HOLD_FILE"),
             self.prefix.work_area + "\\blocked", "15000", ready],
            env=self.prefix.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            self.assertTrue(self.prefix.wait_file(ready), "the file was never held")
            self.assertEqual(self.prefix.run("C:\\dl\\blocked\\Setup.exe"), 0)
        finally:
            holder.kill()
            holder.wait(timeout=30)
        self.assertFellBack()
        records = self.assertLogTexts(log_head(self.prefix) + [
            None, "Unable to decompress file.  i = 1 Filename = blocked/x.txt",
            "Unable to create folder.  Error = 183 (a file stands where the folder goes).",
            "Unable to create file.  Error = 3."] + FALLBACK)
        self.assertEqual([r[0] for r in records[5:8]], ["Error"] * 3)
        # Nothing of the entry is left: no temporary file either. The entry
        # after it may have been written by another worker meanwhile.
        left = [name for name in os.listdir(self.prefix.work_area_unix) if name != "after.txt"]
        self.assertEqual(sorted(left), sorted([INNER_SETUP, "DuzoRizedAroriva_Log.txt", "blocked"]))

    def test_names_that_would_leave_the_work_area_are_refused(self):
        local = self.prefix.local_appdata
        parent = self.prefix.work_area.rsplit("\\", 1)[0]
        cases = [
            # (entry name, places outside the work area that must not appear)
            ("../escape.txt", [parent + "\\escape.txt"]),
            ("..\\escape.txt", [parent + "\\escape.txt"]),
            ("sub/../../escape.txt", [parent + "\\escape.txt"]),
            ("sub/..", []),
            ("/rooted.txt", ["C:\\rooted.txt"]),
            ("\\rooted.txt", ["C:\\rooted.txt"]),
            ("C:/drive.txt", ["C:\\drive.txt"]),
            ("C:drive.txt", []),
            ("data/name:stream.txt", []),
            (local.replace("\\", "/") + "/absolute.txt", [local + "\\absolute.txt"]),
            # Names Windows cannot hold, and one too long for the stub, fail the same way.
            ("sub/CON.txt", []),
            ("sub/nul", []),
            ("sub/what?.txt", []),
            ("sub/dot./a.txt", []),
            ("/".join(["d" * 200] * 5) + "/" + "f" * 94, []),   # 1,099 characters
        ]
        for name, places in cases:
            with self.subTest(name=name):
                self.prefix.clear_work_area()
                size = write_installer(self.prefix, "C:\\dl\\refused\\Unsafe.exe", basic_payload(
                    [(name, b"must not be written"), ("after.txt", b"after")]))
                self.assertEqual(self.prefix.run("C:\\dl\\refused\\Unsafe.exe"), 0)
                self.assertFellBack()
                records = self.assertLogTexts(log_head(self.prefix) + [
                    "Embedded zip contains 3 entries.  Total size: %d" % size,
                    "Unable to decompress file.  i = 1 Filename = " + name] + FALLBACK)
                self.assertEqual(records[5][0], "Error")
                # Nothing was made for the entry, inside the work area or out.
                self.assertEqual(sorted(os.listdir(self.prefix.work_area_unix)),
                                 sorted([INNER_SETUP, "DuzoRizedAroriva_Log.txt"]))
                for place in places:
                    self.assertFalse(os.path.exists(self.prefix.unix(place)), place)

    def test_names_beyond_ascii_land_in_their_folder(self):
        entries = [("Dossier é ü/Fichier ß.txt", b"accents"), ("平台/文件.txt", b"cjk")]
        for producer in ("python", "infozip"):
            with self.subTest(producer=producer):
                self.prefix.clear_work_area()
                if producer == "python":
                    payload = basic_payload(entries)
                else:
                    def tree(root):
                        with open(os.path.join(root, INNER_SETUP), "wb") as f:
                            f.write(record_run_bytes())
                        for name, data in entries:
                            os.makedirs(os.path.join(root, os.path.dirname(name)))
                            with open(os.path.join(root, name), "wb") as f:
                                f.write(data)
                    payload = infozip_zip(tree, [INNER_SETUP] + [name for name, _ in entries])
                write_installer(self.prefix, "C:\\dl\\names\\Setup.exe", payload)
                self.assertEqual(self.prefix.run("C:\\dl\\names\\Setup.exe"), 0)
                record = self.prefix.wait_record()
                self.assertIsNotNone(record)
                self.assertEqual(record["argv"][0], INNER_SETUP)
                # However the code page reads the bytes, each file sits in the
                # one folder made for it.
                area = self.prefix.work_area_unix
                folders = sorted(d for d in os.listdir(area) if os.path.isdir(os.path.join(area, d)))
                self.assertEqual(len(folders), 2, folders)
                found = []
                for folder in folders:
                    files = os.listdir(os.path.join(area, folder))
                    self.assertEqual(len(files), 1, files)
                    with open(os.path.join(area, folder, files[0]), "rb") as f:
                        found.append(f.read())
                self.assertEqual(sorted(found), [b"accents", b"cjk"])
                self.assertIn("Archive unpacked successfully.",
                              [text for _, text in self.prefix.log_records()])

    def test_utf8_names_land_as_their_text(self):
        # zipfile sets bit 11 for these names; "emptydir\\" is a folder by its
        # name alone, as Windows tools write it.
        folder = zipfile.ZipInfo("emptydir\\")
        folder.external_attr = 0
        payload = basic_payload([("donn\u00e9es/\u00e9.txt", b"accents"),
                                 ("\u65e5\u672c\u8a9e.txt", b"cjk"), (folder, b"")])
        write_installer(self.prefix, "C:\\dl\\utf8\\Setup.exe", payload)
        self.assertEqual(self.prefix.run("C:\\dl\\utf8\\Setup.exe"), 0)
        record = self.prefix.wait_record()
        self.assertIsNotNone(record, "the inner setup was not started")
        self.assertEqual(record["argv"][0], INNER_SETUP)
        area = self.prefix.work_area_unix
        with open(os.path.join(area, "donn\u00e9es", "\u00e9.txt"), "rb") as f:
            self.assertEqual(f.read(), b"accents")
        with open(os.path.join(area, "\u65e5\u672c\u8a9e.txt"), "rb") as f:
            self.assertEqual(f.read(), b"cjk")
        self.assertTrue(os.path.isdir(os.path.join(area, "emptydir")))
        self.assertEqual(sorted(os.listdir(area)),
                         sorted([INNER_SETUP, "DuzoRizedAroriva_Log.txt", "donn\u00e9es", "emptydir",
                                 "\u65e5\u672c\u8a9e.txt"]))
        self.assertIn("Archive unpacked successfully.", [text for _, text in self.prefix.log_records()])


if __name__ == "__main__":
    unittest.main(verbosity=2)
