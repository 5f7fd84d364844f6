"""Payloads built to hurt: overlapping entries that would fill the disk,
names that Windows takes for one file, an archive appended after the
signature, a data descriptor that disagrees with the directory."""
import io
import os
import struct
import unittest
import zipfile

from e2e_support import (INNER_SETUP, LOG_NAME, PrefixTestCase, Signer, basic_payload, log_head,
                         record_run_bytes, write_installer)
from hostile_zips import overlapping_chain_zip, shared_record_zip

CLIENT = "C:\\client\\Client.exe"
FALLBACK = ["Falling back to existing client: " + CLIENT, "Launching DiveRozadOrovaver.",
            "Finished."]
EXE = "C:\\dl\\hostile\\Setup.exe"


class _Unseekable(io.BytesIO):
    """Makes zipfile write each entry's sizes in a data descriptor."""

    def seek(self, *args):
        raise OSError("not seekable")


def descriptor_zip(entries, damaged=None):
    """A ZIP whose entries carry data descriptors; the CRC-32 in the
    descriptor of entry `damaged` is changed."""
    buffer = _Unseekable()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data in entries:
            archive.writestr(name, data)
    data = bytearray(buffer.getvalue())
    if damaged is not None:
        info = zipfile.ZipFile(io.BytesIO(bytes(data))).infolist()[damaged]
        assert info.flag_bits & 0x08
        name_length, extra_length = struct.unpack_from("<HH", data, info.header_offset + 26)
        descriptor = info.header_offset + 30 + name_length + extra_length + info.compress_size
        assert struct.unpack_from("<I", data, descriptor)[0] == 0x08074B50
        data[descriptor + 4] ^= 0x01
    return bytes(data)


class HostilePayloads(PrefixTestCase):

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.prefix.install_client(CLIENT)
        cls.prefix.set_client_path(CLIENT)

    def run_stub(self):
        self.assertEqual(self.prefix.run(EXE), 0)
        record = self.prefix.wait_record()
        self.assertIsNotNone(record, "nothing was started")
        return record["argv"]

    def assertFellBackAfter(self, texts):
        self.assertEqual(self.run_stub(), [CLIENT, "/noUpdate", "/vozeDozavError"])
        records = self.assertLogTexts(log_head(self.prefix) + texts + FALLBACK)
        self.assertEqual(records[4 + len(texts) - 1][0], "Error")

    def area(self, *parts):
        return os.path.join(self.prefix.work_area_unix, *parts)

    def test_overlapping_entries_are_not_unpacked(self):
        # Unrefused, each would write 40 MiB or more from an archive of kilobytes.
        for build in (shared_record_zip, overlapping_chain_zip):
            with self.subTest(construction=build.__name__):
                self.prefix.clear_work_area()
                write_installer(self.prefix, EXE, build(40, b"\0" * (1 << 20)))
                self.assertFellBackAfter(["Unable to initialize zip reader."])
                self.assertEqual(os.listdir(self.area()), [LOG_NAME])

    def test_names_that_differ_only_in_case(self):
        colliding = [("Lib/Core.dll", b"c" * 1000), ("lib/core.dll", b"c" * 10), ("after.txt", b"a")]
        self.prefix.clear_work_area()
        size = write_installer(self.prefix, EXE, basic_payload(colliding))
        self.assertFellBackAfter(["Embedded zip contains 4 entries.  Total size: %d" % size,
                                  "Unable to decompress file.  i = 2 Filename = lib/core.dll"])
        self.assertEqual(os.path.getsize(self.area("Lib", "Core.dll")), 1000)
        self.assertEqual(sorted(os.listdir(self.area())), sorted([INNER_SETUP, LOG_NAME, "Lib"]))
        # Folders that only differ in case merge; nothing is lost.
        self.prefix.clear_work_area()
        write_installer(self.prefix, EXE, basic_payload([("Lib/a", b"a"), ("lib/b", b"b")]))
        self.assertEqual(self.run_stub()[0], INNER_SETUP)
        self.assertEqual(sorted(os.listdir(self.area("Lib"))), ["a", "b"])

    def test_archive_after_the_certificate_table_is_not_unpacked(self):
        planted = basic_payload([("planted.txt", b"not signed")])
        signer = Signer()
        self.addCleanup(signer.close)
        cases = [
            # (signed payload, what starts)
            (b"", CLIENT),
            (basic_payload([("signed.txt", b"signed")]), INNER_SETUP),
        ]
        for payload, started in cases:
            with self.subTest(started=started):
                self.prefix.clear_work_area()
                write_installer(self.prefix, EXE, payload, signer)
                with open(self.prefix.unix(EXE), "ab") as f:
                    f.write(planted)
                if started == CLIENT:
                    self.assertFellBackAfter(["Unable to initialize zip reader."])
                else:
                    self.assertEqual(self.run_stub()[0], INNER_SETUP)
                    self.assertTrue(os.path.exists(self.area("signed.txt")))
                self.assertFalse(os.path.exists(self.area("planted.txt")))

    def test_data_descriptor_must_agree_with_the_directory(self):
        entries = [(INNER_SETUP, record_run_bytes()), ("described.txt", b"sizes after the data" * 50)]
        for damaged in (None, 1):
            with self.subTest(damaged=damaged):
                self.prefix.clear_work_area()
                size = write_installer(self.prefix, EXE, descriptor_zip(entries, damaged))
                if damaged is None:
                    self.assertEqual(self.run_stub()[0], INNER_SETUP)
                    continue
                self.assertFellBackAfter([
                    "Embedded zip contains 2 entries.  Total size: %d" % size,
                    "Unable to decompress file.  i = 1 Filename = described.txt"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
