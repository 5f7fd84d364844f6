"""A work area that an earlier run, another program or the user left in some
state: leftovers in the way of the payload's files, a second run while the
first one's inner setup still runs, and a file that a scanner holds."""
import os
import re
import subprocess
import time
import unittest

from e2e_support import (INNER_SETUP, PrefixTestCase, basic_payload, env_path,
                         write_installer)

CLIENT = "C:\\client\\Client.exe"
SETUP = "C:\\dl\\stale\\Setup.exe"
RETRIED = re.compile(r"^Retried a file held by another program \d+ times over (\d+) ms: "
                     r"data/item\.txt$")


class StaleState(PrefixTestCase):

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.prefix.install_client(CLIENT)
        cls.prefix.set_client_path(CLIENT)

    def tearDown(self):
        self.prefix.env.pop("RECORD_RUN_STAY_MS", None)

    def area(self, *parts):
        return os.path.join(self.prefix.work_area_unix, *parts)

    def run_setup(self, item=b"new item"):
        """One run over a payload with data/item.txt; the inner setup's record."""
        write_installer(self.prefix, SETUP, basic_payload([("data/item.txt", item)]))
        self.assertEqual(self.prefix.run(SETUP), 0)
        record = self.prefix.wait_record()
        self.assertIsNotNone(record, "nothing was started")
        self.assertEqual(record["argv"][0], INNER_SETUP, "fell back: %s" % record["argv"])
        return record

    def texts(self):
        return [text for _, text in self.prefix.log_records()]

    def put(self, relative, content=b"old"):
        path = self.area(*relative.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(content)
        return path

    def test_leftovers_in_the_way_are_replaced_moved_aside_or_removed(self):
        item = self.prefix.work_area + "\\data\\item.txt"
        temporaries = ["data/item.txt.~1f4", "data/item.txt.~2a-3", INNER_SETUP + ".~99"]
        cases = [
            # (what stands there, how it is made, the log line it brings, what
            #  the folder data/ holds afterwards, files whose content is kept)
            ("read-only file", lambda: os.chmod(self.put("data/item.txt"), 0o444),
             None, ["item.txt"], {}),
            ("hidden system file",
             lambda: (self.put("data/item.txt"), self.prefix.wine("attrib", "+h", "+s", item)),
             None, ["item.txt"], {}),
            ("folder where the file goes", lambda: self.put("data/item.txt/mine.txt", b"mine"),
             "Moved a folder out of the way of a file: data/item.txt -> data/item.txt.moved-1",
             ["item.txt", "item.txt.moved-1"], {"data/item.txt.moved-1/mine.txt": b"mine"}),
            # An older version had a file where this one has a folder.
            ("file where the folder goes", lambda: self.put("data", b"mine"),
             "Moved a file out of the way of a folder: data -> data.moved-1",
             ["item.txt"], {"data.moved-1": b"mine"}),
            # A killed run's temporaries of the payload's own files go; a
            # look-alike of another file, or of another form, stays.
            ("killed run's temporaries",
             lambda: [self.put(name) for name in temporaries +
                      ["data/other.txt.~1f4", "data/item.txt.~zz", "data/item.txt.~1f4.bak"]],
             "Removed 3 temporary files left by an interrupted run.",
             ["item.txt", "item.txt.~1f4.bak", "item.txt.~zz", "other.txt.~1f4"],
             {"data/other.txt.~1f4": b"old"}),
        ]
        for what, make, logged, listing, kept in cases:
            with self.subTest(leftover=what):
                self.prefix.clear_work_area()
                make()
                self.run_setup()
                with open(self.area("data", "item.txt"), "rb") as f:
                    self.assertEqual(f.read(), b"new item")
                moves = [text for text in self.texts()
                         if text.startswith(("Moved a ", "Removed "))]
                self.assertEqual(moves, [logged] if logged else [])
                for name, content in kept.items():
                    with open(self.area(*name.split("/")), "rb") as f:
                        self.assertEqual(f.read(), content)
                self.assertEqual(sorted(os.listdir(self.area("data"))), listing)
                self.assertNotIn(INNER_SETUP + ".~99", os.listdir(self.area()))

    def test_second_run_during_the_inner_setup_rewrites_nothing(self):
        self.prefix.env["RECORD_RUN_STAY_MS"] = "20000"
        self.run_setup()
        names = [INNER_SETUP, os.path.join("data", "item.txt")]
        times = {name: os.stat(self.area(name)).st_mtime_ns for name in names}
        time.sleep(1.1)
        self.prefix.env["RECORD_RUN_STAY_MS"] = "0"
        # The first inner setup is still running: its file cannot be replaced.
        self.run_setup()
        self.assertEqual({name: os.stat(self.area(name)).st_mtime_ns for name in names}, times)
        texts = self.texts()
        self.assertIn("Kept 2 files already in place.", texts)
        self.assertEqual(texts[texts.index("Kept 2 files already in place.") + 1],
                         "Archive unpacked successfully.")

    def test_file_held_for_three_seconds_is_waited_for(self):
        self.run_setup(b"first version")
        ready = "C:\\record\\held.ready"
        if os.path.exists(self.prefix.unix(ready)):
            os.remove(self.prefix.unix(ready))
        item = self.prefix.work_area + "\\data\\item.txt"
        holder = subprocess.Popen(
            [self.prefix.env["WINE"], env_path("E2E_HOLD_FILE"), item, "3000", ready],
            env=self.prefix.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            self.assertTrue(self.prefix.wait_file(ready), "the file was never held")
            self.run_setup(b"second version")
        finally:
            self.assertEqual(holder.wait(timeout=30), 0)
        with open(self.area("data", "item.txt"), "rb") as f:
            self.assertEqual(f.read(), b"second version")
        waits = [RETRIED.match(text) for text in self.texts()]
        waits = [int(match.group(1)) for match in waits if match]
        self.assertEqual(len(waits), 1, self.texts())
        self.assertGreater(waits[0], 500)


if __name__ == "__main__":
    unittest.main(verbosity=2)
