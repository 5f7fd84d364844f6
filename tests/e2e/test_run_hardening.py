"""Runs that meet trouble from outside: a second run of the same installer at
the same time, a program that cannot be started, and links planted at the
log's path."""
import io
import os
import re
import subprocess
import unittest
import zipfile

from e2e_support import (BANNER, INNER_SETUP, LINE, LOG_NAME, PrefixTestCase, basic_payload,
                         log_head, python_zip, record_run_bytes, write_installer)

CLIENT = "C:\\client\\Client.exe"
MISSING_CLIENT = "C:\\client\\Missing.exe"
FALLBACK_FLAGS = ["/noUpdate", "/vozeDozavError"]


def log_runs(data):
    """(level, text) records of every run in a log, one list per banner;
    each run must be whole: numbered from 0 without a gap."""
    text = data.decode("latin-1")
    runs = []
    for section in text.split(BANNER)[1:]:
        lines = section.split("\r\n")
        assert lines[-1] == "", "run does not end in a line end"
        records = []
        for number, line in enumerate(lines[:-1]):
            match = LINE.match(line)
            assert match, "malformed log line: %r" % line
            assert int(match.group(1)) == number, "line %r out of sequence" % line
            records.append((match.group(2), match.group(3)))
        runs.append(records)
    return runs


def start_failed(code, name):
    return "Unable to start process.  Error = %d Filename = %s" % (code, name)


class RunHardening(PrefixTestCase):

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.prefix.install_client(CLIENT)

    def tearDown(self):
        self.prefix.set_client_path(None)

    def start_run(self, exe, tag):
        """Starts the installer without waiting; it, and what it starts,
        record into a file of their own, the started program listing the work
        area's files as it finds them."""
        record = "C:\\record\\%s.json" % tag
        if os.path.exists(self.prefix.unix(record)):
            os.remove(self.prefix.unix(record))
        env = dict(self.prefix.env, RECORD_RUN_OUTPUT=record, RECORD_RUN_LIST_FILES="1")
        return subprocess.Popen([env["WINE"], exe, tag], env=env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def test_two_runs_at_once_take_turns(self):
        # Incompressible and large, so that a file being written is seen short.
        sizes = {INNER_SETUP: len(record_run_bytes())}
        buffer = io.BytesIO()
        with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED, compresslevel=1) as archive:
            archive.writestr(INNER_SETUP, record_run_bytes())
            for i in range(1, 5):
                name = "big%d.bin" % i
                sizes[name] = 32 << 20
                archive.writestr(name, os.urandom(sizes[name]))
        exe = "C:\\dl\\together\\Setup.exe"
        write_installer(self.prefix, exe, buffer.getvalue())
        self.prefix.set_client_path(CLIENT)

        tags = ("runAlpha", "runBravo")
        waited = re.compile(r"^Waited for another run in this work area: \d+ ms\.$")
        # Wine's start-up time varies: the pair is tried again until the
        # second run met the first one at work (it says so in the log).
        for attempt in range(4):
            self.prefix.clear_work_area()
            runs = [self.start_run(exe, tag) for tag in tags]
            for run in runs:
                self.assertEqual(run.wait(timeout=120), 0)
            # The stub does not wait for what it starts: a program of this
            # attempt still starting could list the next attempt's emptied
            # work area into its record. Each has written its record once done.
            for tag in tags:
                self.assertIsNotNone(self.prefix.wait_json("C:\\record\\%s.json" % tag), tag)
            with open(os.path.join(self.prefix.work_area_unix, LOG_NAME), "rb") as f:
                logged = log_runs(f.read())
            self.assertEqual(len(logged), 2)
            if any(waited.match(text) for _, text in logged[1]):
                break
        else:
            self.fail("the two runs never overlapped")

        for order, records in enumerate(logged):
            texts = [text for _, text in records]
            with self.subTest(run=order):
                head = log_head(self.prefix)
                self.assertEqual((texts[0], texts[2]), (head[0], head[2]))
                # Only the second waits, and says so once, after its command line.
                self.assertEqual([t for t in texts if waited.match(t)],
                                 [texts[4]] if order else [])
                self.assertEqual(texts[-1], "Finished.")
                tag = [t for t in tags if t in texts[3]]
                self.assertEqual(len(tag), 1, texts[3])
                started = self.prefix.wait_json("C:\\record\\%s.json" % tag[0])
                self.assertIsNotNone(started, "nothing was started")
                if started["argv"][0] == INNER_SETUP:
                    found = dict(entry.split("\t") for entry in started["files"])
                    self.assertEqual({name: int(found.get(name, -1)) for name in sizes}, sizes)
                else:
                    # The second run cannot replace the first one's inner
                    # setup while that runs, and falls back.
                    self.assertEqual(order, 1)
                    self.assertEqual(started["argv"], [CLIENT] + FALLBACK_FLAGS)
                    self.assertIn("Unable to decompress file.  i = 0 Filename = " + INNER_SETUP,
                                  texts)

    def test_program_that_cannot_be_started(self):
        no_setup = python_zip([("data.txt", b"x")])
        unpacked = ["Embedded zip contains 1 entries.  Total size: %d", "Archive unpacked successfully."]
        setup_failed = ["Running from folder: C:\\dl\\launch", None, "Launching DiveRozadOrovaver.",
                        start_failed(2, INNER_SETUP)]
        client_started = ["Falling back to existing client: " + CLIENT,
                          "Launching DiveRozadOrovaver.", "Finished."]
        cases = [
            # (installer, payload, ClientPath, exit code, argv of the client or None, log tail)
            ("Setup.exe", no_setup, CLIENT, 0, [CLIENT] + FALLBACK_FLAGS,
             unpacked + setup_failed + client_started),
            ("Setup_beta.exe", python_zip([]), CLIENT, 0, [CLIENT] + FALLBACK_FLAGS + ["/Beta"],
             ["Embedded zip contains 0 entries.  Total size: %d", "Archive unpacked successfully.",
              "Detected Beta mode."] + setup_failed + client_started),
            ("Setup.exe", no_setup, MISSING_CLIENT, 1, None,
             unpacked + setup_failed + ["Falling back to existing client: " + MISSING_CLIENT,
                                        "Launching DiveRozadOrovaver.",
                                        start_failed(2, MISSING_CLIENT)]),
            ("Setup.exe", no_setup, None, 1, None,
             unpacked + setup_failed + ["No fallback available."]),
        ]
        for name, payload, client, code, argv, tail in cases:
            with self.subTest(name=name, client=client, code=code):
                self.prefix.clear_work_area()
                exe = "C:\\dl\\launch\\" + name
                size = write_installer(self.prefix, exe, payload)
                self.prefix.set_client_path(client)
                self.assertEqual(self.prefix.run(exe, "own"), code)
                if argv is None:
                    self.assertTrue(self.prefix.no_record(settle=0.5))
                else:
                    record = self.prefix.wait_record()
                    self.assertIsNotNone(record, "the client was not started")
                    self.assertEqual(record["argv"], argv)
                tail = [tail[0] % size] + tail[1:]
                records = self.assertLogTexts(log_head(self.prefix) + tail)
                errors = [text for level, text in records if level == "Error"]
                self.assertEqual(errors, [t for t in tail if t and t.startswith(("Unable", "No "))])

    def test_links_planted_at_the_log(self):
        exe = "C:\\dl\\links\\Setup.exe"
        write_installer(self.prefix, exe, basic_payload())
        victim = self.prefix.unix("C:\\victim\\secret.txt")
        absent = self.prefix.unix("C:\\victim\\absent.txt")
        os.makedirs(os.path.dirname(victim), exist_ok=True)
        plant = {
            "symbolic link": lambda log: os.symlink(victim, log),
            "relative symbolic link": lambda log: os.symlink(
                os.path.relpath(victim, os.path.dirname(log)), log),
            "dangling symbolic link": lambda log: os.symlink(absent, log),
            "hard link": lambda log: os.link(victim, log),
        }
        for kind, make in plant.items():
            with self.subTest(kind=kind):
                self.prefix.clear_work_area()
                with open(victim, "wb") as f:
                    f.write(b"not the log's\n")
                os.chmod(victim, 0o600)
                os.makedirs(self.prefix.work_area_unix)
                log = os.path.join(self.prefix.work_area_unix, LOG_NAME)
                make(log)
                # The run goes on without a log: unpacks and starts the inner setup.
                self.assertEqual(self.prefix.run(exe), 0)
                record = self.prefix.wait_record()
                self.assertIsNotNone(record, "the inner setup was not started")
                self.assertEqual(record["argv"][0], INNER_SETUP)
                with open(victim, "rb") as f:
                    self.assertEqual(f.read(), b"not the log's\n")
                self.assertEqual(os.stat(victim).st_mode & 0o777, 0o600)
                self.assertFalse(os.path.exists(absent))
                # The link itself is left as it was.
                if kind == "hard link":
                    self.assertTrue(os.path.samefile(log, victim))
                else:
                    self.assertTrue(os.path.islink(log))


if __name__ == "__main__":
    unittest.main(verbosity=2)
