"""wrapper-tool verify against installers edited after signing, the way an
attacker would edit them: one table of crafted cases, each with the state,
exit code and signer verify must give. Everything is made here from scratch:
throwaway certificates (openssl), signatures (osslsigncode), byte edits.

The tool under test comes from WRAPPER_TOOL, as in test_tool.py.
"""
import hashlib
import json
import os
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import toolkit  # noqa: E402

TOOL = [part for part in os.environ.get("WRAPPER_TOOL", "wrapper-tool").split(";") if part]
# A verify that waits on the network never ends: the deadline makes that a failure.
DEADLINE = 60


def read(path):
    with open(path, "rb") as f:
        return bytearray(f.read())


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)
    return path


def table_fields(data):
    """(offset of the certificate table's directory entry, table offset, table size)."""
    optional = struct.unpack_from("<I", data, 0x3C)[0] + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    entry = optional + (96 if magic == 0x10B else 112) + 4 * 8
    offset, size = struct.unpack_from("<II", data, entry)
    return entry, offset, size


def authenticode_digest(data):
    """SHA-256 over all but the checksum, the table's directory entry and the table."""
    entry, offset, _ = table_fields(data)
    checksum = struct.unpack_from("<I", data, 0x3C)[0] + 24 + 64
    digest = hashlib.sha256(data[:checksum])
    digest.update(data[checksum + 4:entry])
    digest.update(data[entry + 8:offset or len(data)])
    return digest.digest()


def code_changed_digest_matched(source, target, upper_issuer=None):
    """A code byte changed and the signed image digest edited to match it, as
    if the SignerInfo's messageDigest were not checked; with `upper_issuer`
    the SignerInfo's issuer name (its last copy) differs from the
    certificate's in letter case only."""
    data = read(source)
    old = authenticode_digest(data)
    assert data.count(old) == 1
    data[0x300] ^= 0xFF  # inside the stub's .text
    at = data.index(old)
    data[at:at + len(old)] = authenticode_digest(data)
    if upper_issuer:
        name = upper_issuer.encode()
        at = data.rindex(name)
        data[at:at + len(name)] = name.upper()
    return write(target, data)


def data_inside_table(source, target):
    """Bytes added inside the certificate table after the PKCS#7, the table's
    lengths grown to hold them."""
    data = read(source)
    entry, offset, size = table_fields(data)
    extra = b"not signed, but inside the table!" * 8
    extra += b"\0" * (-len(extra) % 8)
    struct.pack_into("<II", data, entry, offset, size + len(extra))
    struct.pack_into("<I", data, offset, struct.unpack_from("<I", data, offset)[0] + len(extra))
    return write(target, data + extra)


def signature_byte_flipped(source, target):
    """A byte of the signature value (the SignerInfo's last field) flipped."""
    data = read(source)
    _, offset, _ = table_fields(data)
    der_length = int.from_bytes(data[offset + 10:offset + 12], "big") + 4  # 30 82 LL LL
    data[offset + 8 + der_length - 20] ^= 0x55
    return write(target, data)


def certificate_subject(pem):
    out = subprocess.run(["openssl", "x509", "-in", pem, "-noout", "-subject", "-nameopt", "compat"],
                         check=True, capture_output=True, text=True).stdout
    return out.strip().split("=", 1)[1]


def certificate_serial(pem):
    out = subprocess.run(["openssl", "x509", "-in", pem, "-noout", "-serial"],
                         check=True, capture_output=True, text=True).stdout
    return out.strip().split("=", 1)[1]


@unittest.skipUnless(toolkit.have_signing_tools(), "openssl and osslsigncode needed")
class CraftedVerifyTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="wrapper-tool-crafted-")
        cls.addClassCleanup(shutil.rmtree, cls.dir, True)
        # Bound before the certificate naming it is made; never accepted.
        cls.server = socket.socket()
        cls.addClassCleanup(cls.server.close)
        cls.server.bind(("127.0.0.1", 0))
        cls.server.listen(8)
        stub = cls.path("stub.exe")
        toolkit.make_pe(stub)
        toolkit.make_payload(cls.path("in"), {"a.txt": b"alpha " * 4000})
        cls.unsigned = cls.path("unsigned.exe")
        subprocess.run(TOOL + ["pack", stub, cls.path("in"), "-o", cls.unsigned, "--quiet"], check=True)
        cls.chain_a = cls.make_chain("a", "crafted root A", "crafted signer A")
        cls.chain_b = cls.make_chain("b", "crafted root B", "crafted signer B")
        cls.root_a, cls.signer_a = cls.chain_a[3], certificate_subject(cls.chain_a[2])
        cls.signer_b = certificate_subject(cls.chain_b[2])
        cls.signed_a = cls.sign(cls.unsigned, "signed-a.exe", cls.chain_a)

    @classmethod
    def path(cls, *parts):
        return os.path.join(cls.dir, *parts)

    @classmethod
    def make_chain(cls, folder, root, leaf, root_of=None, **options):
        """A chain in its own folder, under the root of folder `root_of` when given."""
        os.makedirs(cls.path(folder))
        if root_of:
            for name in ("root-key.pem", "root-cert.pem"):
                shutil.copy(cls.path(root_of, name), cls.path(folder, name))
        return toolkit.make_chain(cls.path(folder), root, leaf, **options)

    @classmethod
    def sign(cls, source, name, chain, *options):
        target = cls.path(name)
        subprocess.run(["osslsigncode", "sign", "-certs", chain[0], "-key", chain[1], *options,
                        "-in", source, "-out", target], check=True, capture_output=True)
        return target

    @classmethod
    def spoofed(cls, name, key):
        """Signed by A, with a certificate added that carries A's issuer and
        serial number but another subject and key (`key`: how it is made,
        which decides where it sorts in the certificate set)."""
        serial = certificate_serial(cls.chain_a[2])
        spoof = cls.make_chain(name + "-cert", "crafted root A", "spoofed signer", leaf_key=key, serial=serial)
        return cls.sign(cls.unsigned, name + ".exe", cls.chain_a, "-h", "sha256", "-ac", spoof[2])

    @classmethod
    def with_forty_certificates(cls):
        """Signed by A, carrying 40 more certificates (names enough to make
        them large, as a real chain's cross-certificates are)."""
        extra = cls.path("forty.pem")
        with open(extra, "w") as out:
            for i in range(40):
                key, cert = cls.path(f"x{i}-key.pem"), cls.path(f"x{i}.pem")
                subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                                "-nodes", "-keyout", key, "-out", cert, "-days", "2", "-subj", f"/CN=extra {i}",
                                "-addext", "subjectAltName=" + ",".join(f"DNS:n{j}.extra{i}.test" for j in range(80))],
                               check=True, capture_output=True)
                with open(cert) as f:
                    out.write(f.read())
        return cls.sign(cls.unsigned, "forty.exe", cls.chain_a, "-ac", extra)

    def verify(self, target, *options):
        """(exit code, the --json report or None when it hung or printed none)."""
        try:
            result = subprocess.run(TOOL + ["verify", target, "--json", *options], capture_output=True, text=True,
                                    timeout=DEADLINE)
        except subprocess.TimeoutExpired:
            return "hang", None
        try:
            return result.returncode, json.loads(result.stdout)
        except ValueError:
            return result.returncode, None

    def test_crafted_installers(self):
        crl = self.server.getsockname()[1]
        chain_c = self.make_chain("c", "crafted root A", "crafted signer C", root_of="a", leaf_extensions=[
            f"crlDistributionPoints=URI:http://127.0.0.1:{crl}/root.crl",
            f"authorityInfoAccess=OCSP;URI:http://127.0.0.1:{crl}/ocsp,caIssuers;URI:http://127.0.0.1:{crl}/a.crt"])
        primary_b = self.sign(self.unsigned, "primary-b.exe", self.chain_b)
        primary_a = self.sign(self.unsigned, "primary-a.exe", self.chain_a)
        stripped = self.path("stripped.exe")
        subprocess.run(["osslsigncode", "remove-signature", "-in", self.signed_a, "-out", stripped],
                       check=True, capture_output=True)
        ca = ["--ca", self.root_a]
        # name, installer, options, expected state, exit code, signer subject (None: not shown)
        cases = [
            ("signed by A, A trusted", self.signed_a, ca, "valid", 0, self.signer_a),
            ("signed by A, nothing trusted", self.signed_a, [], "untrusted", 0, self.signer_a),
            ("1: spoofed signer sorted after the real one", self.spoofed("spoof-after", ("-newkey", "rsa:4096")),
             ca, "valid", 0, self.signer_a),
            ("1: spoofed signer sorted first",
             self.spoofed("spoof-first", ("-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256")),
             ca, "invalid", 1, None),
            ("2: code and digest edited, 40 extra certificates",
             code_changed_digest_matched(self.with_forty_certificates(), self.path("forty-edited.exe")),
             [], "invalid", 1, None),
            ("2: code and digest edited, issuer in another case",
             code_changed_digest_matched(self.signed_a, self.path("case-edited.exe"), "crafted root A"),
             [], "invalid", 1, None),
            ("2: data inside the table after the PKCS#7",
             data_inside_table(self.signed_a, self.path("inside.exe")), [], "invalid", 1, None),
            ("3: CRL and OCSP addresses at a local server",
             self.sign(self.unsigned, "crl.exe", chain_c), ca, "valid", 0, certificate_subject(chain_c[2])),
            ("4: --ca with an unsigned installer", self.unsigned, ca, "none", 1, None),
            ("4: --ca with the signature stripped", stripped, ca, "none", 1, None),
            ("8: trusted nested under an untrusted primary",
             self.sign(primary_b, "nested-a.exe", self.chain_a, "-nest", "-h", "sha1"), ca, "untrusted", 1,
             self.signer_b),
            ("8: untrusted nested under a trusted primary",
             self.sign(primary_a, "nested-b.exe", self.chain_b, "-nest", "-h", "sha1"), ca, "valid", 0,
             self.signer_a),
            ("signature byte flipped", signature_byte_flipped(self.signed_a, self.path("flipped.exe")), ca,
             "invalid", 1, None),
            ("bytes appended after the table", write(self.path("appended.exe"), read(self.signed_a) + b"tail" * 4),
             [], "invalid", 1, None),
            ("digest algorithm not allowed (MD5)", self.sign(self.unsigned, "md5.exe", self.chain_a, "-h", "md5"),
             [], "invalid", 1, None),
        ]
        for name, target, options, state, code, signer in cases:
            with self.subTest(case=name):
                got_code, report = self.verify(target, *options)
                got = (report or {}).get("signature"), got_code, ((report or {}).get("signer") or {}).get("subject")
                self.assertEqual(got, (state, code, signer))
                if state == "invalid":
                    self.assertTrue(report["signature_detail"])
        self.server.setblocking(False)
        with self.assertRaises(BlockingIOError, msg="verify connected to the CRL or OCSP address"):
            self.server.accept()

    def test_no_signed_byte_changes_unnoticed(self):
        """A byte changed anywhere the image digest covers (the checksum field
        aside), or in the table's directory entry, makes the signature invalid,
        or the file no Windows executable at all; never exit 0."""
        data = read(self.signed_a)
        entry, offset, _ = table_fields(data)
        checksum = struct.unpack_from("<I", data, 0x3C)[0] + 24 + 64
        positions = sorted((set(range(0, offset, 97)) | set(range(entry, entry + 8))) -
                           set(range(checksum, checksum + 4)))
        changed = []
        for position in positions:
            edited = bytearray(data)
            edited[position] ^= 0x55
            code, report = self.verify(write(self.path("edited.exe"), edited))
            not_pe = any("not a Windows executable" in p for p in report["problems"])
            if code == 0 or (report["signature"] != "invalid" and not not_pe):
                changed.append((position, code, report["signature"]))
        self.assertEqual(changed, [])

    def test_nested_signatures_are_listed_with_their_own_verdicts(self):
        primary_b = self.sign(self.unsigned, "listed-b.exe", self.chain_b)
        nested = self.sign(primary_b, "listed.exe", self.chain_a, "-nest", "-h", "sha1")
        _, report = self.verify(nested, "--ca", self.root_a)
        listed = [(n["signature"], n["signer"]["subject"]) for n in report["nested_signatures"]]
        self.assertEqual(listed, [("valid", self.signer_a)])
        self.assertEqual(report["signer"]["subject"], self.signer_b)

    def test_osslsigncode_agrees_where_it_speaks_of_the_primary(self):
        """Where osslsigncode's verdict is about the primary signature alone, it
        and verify agree on it and on the signer."""
        cases = [self.signed_a, signature_byte_flipped(self.signed_a, self.path("peer-flipped.exe")),
                 self.spoofed("peer-spoof", ("-newkey", "rsa:4096"))]
        for target in cases:
            with self.subTest(installer=os.path.basename(target)):
                peer = subprocess.run(["osslsigncode", "verify", "-CAfile", self.root_a, "-in", target],
                                      capture_output=True, text=True, timeout=DEADLINE)
                code, report = self.verify(target, "--ca", self.root_a)
                self.assertEqual(peer.returncode == 0, code == 0, peer.stdout + peer.stderr)
                primary = peer.stdout.split("(Primary Signature)", 1)[1]
                peer_signer = primary.split("Subject: ", 1)[1].split("\n", 1)[0].strip()
                if report["signer"]:
                    self.assertEqual(report["signer"]["subject"], peer_signer)


if __name__ == "__main__":
    unittest.main()
