"""scripts/zstd-source.sh against fake apt-config and apt-get: the deb-src
entry it derives from the entries apt has, when it updates, and what lands in
DEST. No network, no real apt folder.
"""
import os
import stat
import subprocess
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCRIPT = os.path.join(ROOT, "scripts", "zstd-source.sh")

FAKES = {
    "apt-config": r'''#!/bin/sh
echo "sources_list='$FAKE_ETC/sources.list'"
echo "sources_parts='$FAKE_ETC/sources.list.d/'"
''',
    # `apt-get source` unpacks the way dpkg-source does: a folder and the .dsc beside it.
    "apt-get": r'''#!/bin/sh
echo "apt-get $*" >>"$FAKE_LOG"
case $* in
*source*)
  # FAKE_SOURCE_FAILS: how many times `source` fails first, as a mirror mid-sync does.
  failed=$(cat "$FAKE_LOG.fails" 2>/dev/null || echo 0)
  if [ "$failed" -lt "${FAKE_SOURCE_FAILS:-0}" ]; then
    echo $((failed + 1)) >"$FAKE_LOG.fails"
    echo "E: Failed to fetch libzstd_1.5.4+dfsg2-5.dsc  Hash Sum mismatch"
    exit 100
  fi
  mkdir -p libzstd-1.5.4+dfsg2/lib/decompress
  : >libzstd-1.5.4+dfsg2/lib/zstd.h
  printf 'Source: libzstd\nVersion: 1.5.4+dfsg2-5\n' >libzstd_1.5.4+dfsg2-5.dsc ;;
esac
''',
}

DEB822 = """Types: deb
URIs: http://mirror.invalid/debian
Suites: bookworm bookworm-updates
Components: main contrib
Signed-By: /usr/share/keyrings/archive.gpg

Types: deb
URIs: http://mirror.invalid/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/archive.gpg
"""
DEB822_SRC = """Types: deb-src
URIs: http://mirror.invalid/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/archive.gpg
"""
ONE_LINE = ("deb [signed-by=/k.gpg] http://mirror.invalid/debian bookworm main non-free\n"
            "deb http://mirror.invalid/debian-security bookworm-security main\n")


class ZstdSourceTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix="zstd-source-test.")
        self.bin = os.path.join(self.dir.name, "bin")
        self.etc = os.path.join(self.dir.name, "etc")
        os.makedirs(self.bin)
        os.makedirs(os.path.join(self.etc, "sources.list.d"))
        for name, text in FAKES.items():
            path = os.path.join(self.bin, name)
            with open(path, "w") as f:
                f.write(text)
            os.chmod(path, stat.S_IRWXU)
        self.log = os.path.join(self.dir.name, "calls.log")
        self.dest = os.path.join(self.dir.name, "build", "zstd-source")

    def tearDown(self):
        self.dir.cleanup()

    def write(self, name, text):
        with open(os.path.join(self.etc, name), "w") as f:
            f.write(text)

    def run_script(self, fails=0):
        env = {"PATH": self.bin + ":/usr/bin:/bin", "FAKE_ETC": self.etc, "FAKE_LOG": self.log,
               "FAKE_SOURCE_FAILS": str(fails), "INSTALL_DEPS_PAUSE": "0"}
        done = subprocess.run(["bash", SCRIPT, self.dest], env=env, capture_output=True, text=True,
                              timeout=60)
        calls = open(self.log).read().splitlines() if os.path.exists(self.log) else []
        return done, calls

    def added(self):
        folder = os.path.join(self.etc, "sources.list.d")
        found = {n: open(os.path.join(folder, n)).read() for n in os.listdir(folder) if n.startswith("wrapper-")}
        return found

    def test_deb_src_entry_and_fetch(self):
        # (case, files apt has, the entry written (None: none), exit code, words of the output)
        cases = [
            ("deb822: the release's main, no pockets", {"sources.list.d/debian.sources": DEB822},
             ("wrapper-deb-src.sources", DEB822_SRC), 0, ["fetched", "libzstd 1.5.4+dfsg2-5"]),
            ("one-line entries keep their options", {"sources.list": ONE_LINE},
             ("wrapper-deb-src.list", "deb-src [signed-by=/k.gpg] http://mirror.invalid/debian bookworm main\n"),
             0, ["fetched"]),
            ("a deb-src entry is there already",
             {"sources.list.d/debian.sources": DEB822, "sources.list.d/src.sources": DEB822_SRC}, None, 0,
             ["fetched"]),
            ("no main component to derive from",
             {"sources.list": "deb http://mirror.invalid/debian bookworm contrib\n"}, None, 1,
             ["no deb entry for a main component"]),
        ]
        src = {"sources.list.d/debian.sources": DEB822, "sources.list.d/src.sources": DEB822_SRC}
        # (case, files, how often `source` fails first, exit code, words, updates)
        retries = [
            ("a mirror mid-sync, once", src, 1, 0, ["try 1 of 3", "Hash Sum mismatch", "fetched"], 1),
            ("a mirror that stays broken", src, 9, 1, ["failed 3 times", "Hash Sum mismatch"], 2),
        ]
        rows = [(n, f, e, c, w, 0, 1 if e else 0) for n, f, e, c, w in cases]
        rows += [(n, f, None, c, w, fails, updates) for n, f, fails, c, w, updates in retries]
        for name, files, entry, code, words, fails, updates in rows:
            with self.subTest(name):
                self.tearDown()
                self.setUp()
                for path, text in files.items():
                    self.write(path, text)
                done, calls = self.run_script(fails)
                self.assertEqual(done.returncode, code, done.stderr)
                for word in words:
                    self.assertIn(word, done.stdout + done.stderr)
                self.assertEqual(self.added(), dict([entry]) if entry else {})
                self.assertEqual(sum(c.startswith("apt-get update") for c in calls), updates, calls)
                self.assertEqual(os.path.isfile(os.path.join(self.dest, "lib", "zstd.h")), code == 0)
                self.assertEqual([p for p in os.listdir(os.path.dirname(self.dest)) if p.startswith(".")]
                                 if os.path.isdir(os.path.dirname(self.dest)) else [], [])

    def test_sources_already_there_ask_apt_nothing(self):
        self.write("sources.list.d/debian.sources", DEB822)
        self.assertEqual(self.run_script()[0].returncode, 0)
        os.remove(self.log)
        done, calls = self.run_script()
        self.assertEqual((done.returncode, calls, done.stdout), (0, [], ""))


if __name__ == "__main__":
    unittest.main()
