"""scripts/install-deps.sh and scripts/wine-env.sh against a package manager
that fails the way a mirror caught mid-sync does, without the network: fake
apt-get, dpkg, dpkg-query and id come first on PATH and log what they were
asked.
"""
import os
import stat
import subprocess
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
INSTALL_DEPS = os.path.join(ROOT, "scripts", "install-deps.sh")
WINE_ENV = os.path.join(ROOT, "scripts", "wine-env.sh")

INDEX_ERROR = ("E: Failed to fetch http://mirror.invalid/dists/security/main/binary-i386/Packages.xz"
               "  File has unexpected size (374820 != 376004). Mirror sync in progress?\n"
               "E: Some index files failed to download. They have been ignored, or old ones used instead.")
WINE32_ERROR = ("The following packages have unmet dependencies:\n"
                " libc6:i386 : Depends: libgcc-s1:i386 but it is not going to be installed\n"
                "E: Unable to correct problems, you have held broken packages.")

# The fakes read their behaviour from the environment: FAKE_UPDATE (ok or
# fail), FAKE_REFUSE (packages apt cannot give, with FAKE_REFUSE_TEXT as
# apt's words), FAKE_INSTALLED (a file, one installed package a line).
FAKES = {
    "apt-get": r'''#!/bin/sh
echo "apt-get $*" >>"$FAKE_LOG"
case $1 in
update) [ "$FAKE_UPDATE" = fail ] && { printf '%s\n' "$FAKE_UPDATE_TEXT"; exit 100; }; exit 0 ;;
install)
  for p in "$@"; do
    for r in $FAKE_REFUSE; do
      [ "$p" = "$r" ] && { printf '%s\n' "$FAKE_REFUSE_TEXT"; exit 100; }
    done
  done
  for p in "$@"; do case $p in -*|install) ;; *) echo "$p" >>"$FAKE_INSTALLED" ;; esac; done ;;
esac
''',
    "dpkg-query": r'''#!/bin/sh
for p; do :; done
grep -qx "$p" "$FAKE_INSTALLED" 2>/dev/null && printf 'install ok installed' && exit 0
exit 1
''',
    "dpkg": r'''#!/bin/sh
echo "dpkg $*" >>"$FAKE_LOG"
[ "$1" = --print-foreign-architectures ] && cat "$FAKE_ARCHS" 2>/dev/null
[ "$1" = --add-architecture ] && echo "$2" >>"$FAKE_ARCHS"
exit 0
''',
    "id": "#!/bin/sh\necho 0\n",
    "sleep": "#!/bin/sh\nexit 0\n",
}


def read_lines(path):
    if not os.path.exists(path):
        return []
    with open(path) as f:
        return f.read().splitlines()


class InstallDepsTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix="install-deps-test.")
        self.bin = os.path.join(self.dir.name, "bin")
        os.mkdir(self.bin)
        for name, text in FAKES.items():
            path = os.path.join(self.bin, name)
            with open(path, "w") as f:
                f.write(text)
            os.chmod(path, stat.S_IRWXU)
        self.log = os.path.join(self.dir.name, "calls.log")
        self.installed = os.path.join(self.dir.name, "installed")

    def tearDown(self):
        self.dir.cleanup()

    def run_install(self, update="ok", refuse="", refuse_text="", arch=None):
        env = {"PATH": self.bin + ":/usr/bin:/bin", "FAKE_LOG": self.log, "FAKE_INSTALLED": self.installed,
               "FAKE_ARCHS": os.path.join(self.dir.name, "archs"), "FAKE_UPDATE": update,
               "FAKE_UPDATE_TEXT": INDEX_ERROR, "FAKE_REFUSE": refuse, "FAKE_REFUSE_TEXT": refuse_text,
               "TMPDIR": self.dir.name}
        if arch:
            env["WRAPPER_WINE_ARCH"] = arch
        done = subprocess.run(["bash", INSTALL_DEPS], env=env, capture_output=True, text=True, timeout=60)
        return done, read_lines(self.log)

    def test_failures(self):
        # (case, update, refused, apt's words, arch, exit code, words the output must hold,
        #  whether apt is asked for wine32:i386)
        cases = [
            ("index mid-sync, wine32 uninstallable", "fail", "wine32:i386", WINE32_ERROR, None, 0,
             ["apt-get update failed 3 times", "Mirror sync in progress?",
              "the 32-bit part (wine32:i386) cannot be installed now",
              "libc6:i386 : Depends: libgcc-s1:i386", "under wine64"], True),
            ("win64 asked for: nothing 32-bit", "fail", "wine32:i386", WINE32_ERROR, "win64", 0,
             ["going on with the indexes apt has"], False),
            ("a package the build needs is missing", "fail", "libdeflate-dev",
             "E: Unable to locate package libdeflate-dev", None, 1,
             ["cannot install what the build needs", "Unable to locate package libdeflate-dev"], False),
        ]
        for name, update, refuse, text, arch, code, words, asks32 in cases:
            with self.subTest(name):
                for path in (self.log, self.installed, os.path.join(self.dir.name, "archs")):
                    if os.path.exists(path):
                        os.remove(path)
                done, calls = self.run_install(update, refuse, text, arch)
                self.assertEqual(done.returncode, code, done.stderr)
                for word in words:
                    self.assertIn(word, done.stderr)
                self.assertEqual(sum(c == "apt-get update -qq" for c in calls), 3 if update == "fail" else 1)
                self.assertEqual(any(c.startswith("apt-get install") and "wine32:i386" in c for c in calls),
                                 asks32, calls)
                if arch == "win64":
                    self.assertFalse([c for c in calls if "i386" in c], calls)
                if code == 0:
                    installed = read_lines(self.installed)
                    self.assertIn("cmake", installed)
                    self.assertIn("wine64", installed)

    def test_nothing_to_do_asks_apt_nothing(self):
        self.run_install()
        self.assertTrue(os.path.exists(self.installed))
        os.remove(self.log)
        done, calls = self.run_install(update="fail")
        self.assertEqual((done.returncode, calls, done.stderr), (0, [], ""))

    def test_wine_env_names_a_missing_wine32(self):
        # A Wine folder without the wine32 loader, as install-deps leaves it when apt said no.
        lib = os.path.join(self.dir.name, "wine")
        os.mkdir(lib)
        env = dict(os.environ, WRAPPER_WINE_LIB=lib)
        env.pop("WRAPPER_WINE_ARCH", None)
        line = subprocess.run(["bash", WINE_ENV], env=env, capture_output=True, text=True, timeout=30).stdout
        self.assertIn("wine: win64", line)
        self.assertIn("wine32 is not installed", line)


if __name__ == "__main__":
    unittest.main()
