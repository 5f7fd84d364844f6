"""Installers packed by the native wrapper-tool (libdeflate, worker threads)
unpack in the real stub under Wine: every level family, the literals-only
encoding of the strongest level and an entry deflated in chunks."""
import os
import random
import subprocess
import tempfile
import unittest

from e2e_support import INNER_SETUP, PrefixTestCase, env_path, record_run_bytes


def tool_payload(root):
    rng = random.Random(11)
    files = {
        INNER_SETUP: record_run_bytes(),
        "data/text.txt": b"the stub reads what the tool wrote\n" * 3000,
        "data/tables.bin": bytes(rng.getrandbits(2) for _ in range(60000)),  # literals-only wins
        "data/noise.bin": rng.randbytes(40000),                              # stored
        "data/empty.txt": b"",
        # Deflated in chunks that join into one stream, with the chunk index.
        "data/chunked.bin": b"the stub reads chunks too\n" * 200000 + rng.randbytes(1 << 20),
    }
    for name, data in files.items():
        path = os.path.join(root, *name.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    return files


class ToolPacked(PrefixTestCase):

    def test_every_level_family_unpacks(self):
        tool = env_path("E2E_NATIVE_TOOL")
        if not os.path.exists(tool):
            self.skipTest("the native wrapper-tool is not built")
        with tempfile.TemporaryDirectory() as scratch:
            payload = os.path.join(scratch, "payload")
            files = tool_payload(payload)
            for level in ("1", "10", "12"):
                with self.subTest(level=level):
                    self.prefix.clear_work_area()
                    exe_win = "C:\\dl\\level%s\\Setup.exe" % level
                    target = self.prefix.unix(exe_win)
                    os.makedirs(os.path.dirname(target), exist_ok=True)
                    subprocess.run([tool, "pack", env_path("E2E_STUB"), payload, "-o", target,
                                    "--level", level, "-j", "2", "--quiet"], check=True)
                    self.assertEqual(self.prefix.run(exe_win), 0)
                    self.assertIsNotNone(self.prefix.wait_record(), "the inner setup was not started")
                    for name, data in files.items():
                        with open(os.path.join(self.prefix.work_area_unix, *name.split("/")), "rb") as f:
                            self.assertEqual(f.read(), data, name)


if __name__ == "__main__":
    unittest.main()
