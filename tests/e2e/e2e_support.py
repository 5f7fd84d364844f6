"""Shared pieces of the end-to-end tests: a throwaway Wine prefix per group,
installers made from the built stub and a real ZIP, runs of the stub, and the
stub's log and the recorded command line of the program it started.

Environment (set by CTest):
  E2E_STUB            the built stub (ZuvidaDiroVivuv.exe)
  E2E_RECORD_RUN      the test inner setup (record_run.exe)
  E2E_HOLD_FILE       holds a file for a while, as a scanner does (hold_file.exe)
  E2E_WORK_DIR        a folder of this group's own for prefixes and files
  WRAPPER_WINE_TEMPLATE  the build tree's still prefix, copied for each group
"""
import io
import json
import os
import re
import subprocess
import tempfile
import time
import unittest
import zipfile

INNER_SETUP = "RezuviZiduRuzudUvovovaz.exe"
VERSION = "10.99.0.21465"
WORK_AREA_TAIL = "Norvik\\VozeDozav\\" + VERSION
LOG_NAME = "DuzoRizedAroriva_Log.txt"
RECORD_WIN = "C:\\record\\run.json"


def wine_env():
    """The Wine to use, as scripts/wine-env.sh decides it (WRAPPER_WINE_ARCH,
    set by CTest to the tree's word size, takes precedence)."""
    script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                          "scripts", "wine-env.sh")
    lines = subprocess.run(["bash", script, "--env"], check=True, capture_output=True,
                           text=True).stdout.splitlines()
    return dict(line.split("=", 1) for line in lines)


def env_path(name):
    value = os.environ.get(name)
    if not value:
        raise unittest.SkipTest(name + " is not set; run the group through CTest")
    return value


class WinePrefix:
    """A copy of the build tree's prefix with a persistent wineserver."""

    def __init__(self, name):
        template = env_path("WRAPPER_WINE_TEMPLATE")
        work = env_path("E2E_WORK_DIR")
        self.root = os.path.join(work, name)
        if os.path.exists(self.root):
            self._remove_tree(self.root)
        os.makedirs(os.path.dirname(self.root), exist_ok=True)
        subprocess.run(["cp", "-a", template, self.root], check=True)
        self.env = dict(os.environ)
        for key in ("DISPLAY", "WAYLAND_DISPLAY"):
            self.env.pop(key, None)  # message boxes then return at once
        self.env.update(wine_env())
        self.env.update(WINEPREFIX=self.root, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=",
                        RECORD_RUN_OUTPUT=RECORD_WIN)
        self.start_server()
        users = [u for u in os.listdir(self.unix("C:\\users")) if u != "Public"]
        self.user = users[0]
        self.default_local_appdata = "C:\\users\\%s\\AppData\\Local" % self.user
        self.local_appdata = self.default_local_appdata
        os.makedirs(self.unix("C:\\record"), exist_ok=True)

    def start_server(self):
        """A persistent server keeps Wine's start-up cost out of every run."""
        subprocess.run([self.env["WINESERVER"], "-p"], env=self.env, check=True)

    def stop_server(self):
        """Ends every process of the prefix, and the server."""
        subprocess.run([self.env["WINESERVER"], "-k"], env=self.env)
        subprocess.run([self.env["WINESERVER"], "-w"], env=self.env)

    def close(self):
        self.stop_server()
        if not os.environ.get("E2E_KEEP"):
            self._remove_tree(self.root)

    @staticmethod
    def _remove_tree(path):
        # A disk left mounted by an interrupted run would stop the removal.
        with open("/proc/mounts") as mounts:
            points = [line.split()[1].replace("\\040", " ") for line in mounts]
        for point in sorted(points, reverse=True):
            if point.startswith(path + os.sep):
                subprocess.run(["umount", "-l", point])
        subprocess.run(["rm", "-rf", path], check=True)

    # Paths -----------------------------------------------------------------

    def unix(self, win_path):
        """C:\\a\\b -> <prefix>/drive_c/a/b"""
        assert win_path[1:3] == ":\\" or win_path[1:] == ":", win_path
        rest = win_path[3:].replace("\\", "/")
        return os.path.join(self.root, "drive_" + win_path[0].lower(), rest)

    def install_client(self, win_path):
        """Puts the recording program at win_path, as an installed client."""
        client = self.unix(win_path)
        os.makedirs(os.path.dirname(client), exist_ok=True)
        with open(client, "wb") as f:
            f.write(record_run_bytes())

    @property
    def work_area(self):
        return self.local_appdata + "\\" + WORK_AREA_TAIL

    @property
    def work_area_unix(self):
        return self.unix(self.work_area)

    def clear_work_area(self):
        """Removes the whole Norvik folder, so each case starts from nothing."""
        path = self.unix(self.local_appdata + "\\Norvik")
        if os.path.exists(path):
            self._remove_tree(path)

    # Registry ----------------------------------------------------------------

    def wine(self, *args, check=True):
        return subprocess.run([self.env["WINE"]] + list(args), env=self.env, check=check,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def reg_add(self, key, name, value, kind="REG_SZ"):
        self.wine("reg", "add", key, "/v", name, "/t", kind, "/d", value, "/f", "/reg:32")

    def reg_delete(self, key, name):
        self.wine("reg", "delete", key, "/v", name, "/f", "/reg:32", check=False)

    def set_windows_version(self, version):
        self.reg_add("HKCU\\Software\\Wine", "Version", version)

    def set_client_path(self, value):
        if value is None:
            self.reg_delete("HKLM\\Software\\Norvik", "ClientPath")
        else:
            self.reg_add("HKLM\\Software\\Norvik", "ClientPath", value)

    def redirect_local_appdata(self, win_path):
        key = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders"
        self.reg_add(key, "Local AppData", win_path, "REG_EXPAND_SZ")
        self.local_appdata = win_path

    def restore_local_appdata(self):
        self.redirect_local_appdata("%USERPROFILE%\\AppData\\Local")
        self.local_appdata = self.default_local_appdata

    # Runs --------------------------------------------------------------------

    def run(self, exe_win, *args, timeout=60):
        """Runs the stub; returns its exit code. The record of an earlier
        started program is removed first."""
        record = self.unix(RECORD_WIN)
        if os.path.exists(record):
            os.remove(record)
        # Output goes nowhere: Wine's own service processes, started by the
        # first run, inherit it and would hold a pipe open.
        done = subprocess.run([self.env["WINE"], exe_win] + list(args), env=self.env, timeout=timeout,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return done.returncode

    def wait_record(self, timeout=30):
        """The command line that the started program recorded (it writes the
        file whole, by rename), or None when nothing arrives in time."""
        return self.wait_json(RECORD_WIN, timeout)

    def wait_json(self, win_path, timeout=30):
        """The JSON file at `win_path` once it exists, or None after `timeout`."""
        if not self.wait_file(win_path, timeout):
            return None
        with open(self.unix(win_path), encoding="utf-8") as f:
            return json.load(f)

    def wait_file(self, win_path, timeout=30):
        """True once a file exists at `win_path`, False after `timeout`."""
        path = self.unix(win_path)
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if os.path.exists(path):
                return True
            time.sleep(0.05)
        return False

    def no_record(self, settle=1.5):
        """True when no program records a start within `settle` seconds."""
        return self.wait_record(timeout=settle) is None

    # Log ---------------------------------------------------------------------

    def log_records(self):
        """(level, text) of every line of the last run in the work area's log."""
        path = os.path.join(self.work_area_unix, LOG_NAME)
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            return parse_last_run(f.read())


BANNER = "\r\n*************************\r\nNorvik VozeDozav Wrapper\r\n*************************\r\n\r\n"
LINE = re.compile(r"^(\d+):\t\[[A-Z][a-z]{2} \d\d \d\d:\d\d:\d\d\] ([A-Za-z]*)\t(.*)$")


def parse_last_run(data):
    text = data.decode("latin-1")
    assert BANNER in text, "log without banner"
    last = text[text.rindex(BANNER) + len(BANNER):]
    assert last.endswith("\r\n"), "log does not end in a line end"
    records = []
    for number, line in enumerate(last[:-2].split("\r\n")):
        match = LINE.match(line)
        assert match, "malformed log line: %r" % line
        assert int(match.group(1)) == number, "sequence number %s at line %d" % (match.group(1), number)
        records.append((match.group(2), match.group(3)))
    return records


# Payloads and installers ---------------------------------------------------

def record_run_bytes():
    with open(env_path("E2E_RECORD_RUN"), "rb") as f:
        return f.read()


def python_zip(entries, compression=zipfile.ZIP_DEFLATED):
    """A ZIP made by Python's zipfile. `entries`: (name, data) pairs, data
    None for a directory entry, or a ZipInfo in place of the name."""
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", compression) as archive:
        for name, data in entries:
            if data is None:
                info = name if isinstance(name, zipfile.ZipInfo) else zipfile.ZipInfo(name)
                info.external_attr = 0o40755 << 16 | 0x10
                archive.writestr(info, b"")
            else:
                archive.writestr(name, data)
    return buffer.getvalue()


def infozip_zip(build_tree, members, extra_args=()):
    """A ZIP made by Info-ZIP zip from a tree that `build_tree(root)` makes;
    `members` are added in that order (so the central directory keeps it)."""
    with tempfile.TemporaryDirectory() as tree:
        build_tree(tree)
        out = os.path.join(tree, "..", os.path.basename(tree) + ".zip")
        try:
            subprocess.run(["zip", "-q", "-X"] + list(extra_args) + [out] + list(members),
                           cwd=tree, check=True)
            with open(out, "rb") as f:
                return f.read()
        finally:
            if os.path.exists(out):
                os.remove(out)


class Signer:
    """A throwaway self-signed code-signing certificate, made per group."""

    def __init__(self):
        self.dir = tempfile.TemporaryDirectory()
        self.key = os.path.join(self.dir.name, "key.pem")
        self.cert = os.path.join(self.dir.name, "cert.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes",
                        "-keyout", self.key, "-out", self.cert, "-days", "2",
                        "-subj", "/CN=Throwaway Test Signer"],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def sign(self, unsigned, signed, padding_certificates=0):
        """Signs; extra copies of the certificate make the signature larger."""
        command = ["osslsigncode", "sign", "-certs", self.cert, "-key", self.key]
        if padding_certificates:
            extra = os.path.join(self.dir.name, "extra.pem")
            with open(self.cert) as f:
                pem = f.read()
            with open(extra, "w") as f:
                f.write(pem * padding_certificates)
            command += ["-ac", extra]
        subprocess.run(command + ["-in", unsigned, "-out", signed], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def close(self):
        self.dir.cleanup()


def write_installer(prefix, exe_win, payload, signer=None, padding_certificates=0):
    """The built stub with `payload` appended (and signed when asked), placed
    at `exe_win` in the prefix. Returns the installer's size in bytes."""
    target = prefix.unix(exe_win)
    os.makedirs(os.path.dirname(target), exist_ok=True)
    with open(env_path("E2E_STUB"), "rb") as f:
        image = f.read() + payload
    if signer is None:
        with open(target, "wb") as f:
            f.write(image)
    else:
        unsigned = target + ".unsigned"
        with open(unsigned, "wb") as f:
            f.write(image)
        if os.path.exists(target):
            os.remove(target)
        signer.sign(unsigned, target, padding_certificates)
        os.remove(unsigned)
    return os.path.getsize(target)


def basic_payload(extra=()):
    """The inner setup and whatever else is asked for, deflated."""
    return python_zip([(INNER_SETUP, record_run_bytes())] + list(extra))


class PrefixTestCase(unittest.TestCase):
    """One prefix for the whole class; every test starts without a work area."""

    prefix = None

    @classmethod
    def setUpClass(cls):
        cls.prefix = WinePrefix(cls.__name__)

    @classmethod
    def tearDownClass(cls):
        if cls.prefix is not None:
            cls.prefix.close()

    def setUp(self):
        self.prefix.clear_work_area()

    def assertLogTexts(self, expected):
        """The last run's log texts equal `expected`; None matches any text."""
        records = self.prefix.log_records()
        self.assertIsNotNone(records, "no log file")
        texts = [text for _, text in records]
        self.assertEqual(len(texts), len(expected), texts)
        for got, want in zip(texts, expected):
            if want is not None:
                self.assertEqual(got, want, texts)
        return records


def log_head(prefix):
    """What every run with a started log writes first."""
    return ["LogFile: " + latin1_view(prefix.work_area + "\\DuzoRizedAroriva_Log"), None,
            "Version: " + VERSION, None]


def latin1_view(text):
    """How the log shows a wide string: Latin-1 as is, any other character '?'."""
    return "".join(c if ord(c) <= 0xFF else "?" for c in text)
