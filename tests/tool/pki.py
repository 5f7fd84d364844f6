"""Throwaway certificates with chosen validity, and a local time-stamping
authority on 127.0.0.1, for the signing and timestamp tests. Everything is
written into the scratch folder the test gives."""
import base64
import datetime
import http.server
import os
import subprocess
import threading
import time

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import rsa
from cryptography.x509.oid import ExtendedKeyUsageOID, NameOID


def utc(text):
    """'2019-06-01' as an aware datetime at midnight UTC."""
    return datetime.datetime.fromisoformat(text).replace(tzinfo=datetime.timezone.utc)


def unix(text):
    return int(utc(text).timestamp())


class Issued:
    """A certificate and its key, as PEM files in the scratch folder."""

    def __init__(self, folder, name, certificate, key):
        self.certificate, self.key = certificate, key
        self.cert = os.path.join(folder, name + "-cert.pem")
        self.key_file = os.path.join(folder, name + "-key.pem")
        with open(self.cert, "wb") as f:
            f.write(certificate.public_bytes(serialization.Encoding.PEM))
        with open(self.key_file, "wb") as f:
            f.write(key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                                      serialization.NoEncryption()))


def issue(folder, name, issuer=None, start="2018-01-01", end="2040-01-01", usage=None, ca=False):
    """A certificate for /CN=`name` valid from `start` to `end`, issued by
    `issuer` (an Issued) or self-signed; `usage` is 'code' or 'tsa' (critical,
    as RFC 3161 wants it)."""
    key = rsa.generate_private_key(public_exponent=65537, key_size=2048)
    subject = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, name)])
    builder = (x509.CertificateBuilder().subject_name(subject)
               .issuer_name(issuer.certificate.subject if issuer else subject)
               .public_key(key.public_key()).serial_number(x509.random_serial_number())
               .not_valid_before(utc(start)).not_valid_after(utc(end))
               .add_extension(x509.BasicConstraints(ca=ca, path_length=None), critical=True))
    if ca:
        builder = builder.add_extension(x509.KeyUsage(False, False, False, False, False, True, True, False, False),
                                        critical=True)
    if usage:
        oid = ExtendedKeyUsageOID.CODE_SIGNING if usage == "code" else ExtendedKeyUsageOID.TIME_STAMPING
        builder = builder.add_extension(x509.ExtendedKeyUsage([oid]), critical=usage == "tsa")
    certificate = builder.sign(issuer.key if issuer else key, hashes.SHA256())
    return Issued(folder, name.replace(" ", "-"), certificate, key)


def bundle(path, *issued):
    """One PEM file holding the certificates of `issued`, in order."""
    with open(path, "wb") as out:
        for item in issued:
            out.write(item.certificate.public_bytes(serialization.Encoding.PEM))
    return path


TSA_CONFIG = """[tsa]
default_tsa = local
[local]
dir = {folder}
serial = {folder}/serial
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256, sha384, sha512, sha1
ess_cert_id_alg = sha256
ess_cert_id_chain = no
accuracy = secs:1
ordering = no
tsa_name = no
"""


def der_item(data, at):
    """(offset of the value, its length) of the DER item at `at`."""
    length, at = data[at + 1], at + 2
    if length & 0x80:
        count = length & 0x7F
        length, at = int.from_bytes(data[at:at + count], "big"), at + count
    return at, length


def legacy_request_value(request):
    """The bytes an Authenticode (pre-RFC 3161) time-stamp request asks to
    be countersigned: SEQUENCE { type, SEQUENCE { data, [0] { OCTET STRING } } }."""
    at, _ = der_item(request, 0)
    at = sum(der_item(request, at))  # past the request's type
    at, _ = der_item(request, at)
    at = sum(der_item(request, at))  # past the content type
    at, _ = der_item(request, at)
    at, length = der_item(request, at)
    return request[at:at + length]


class TimestampAuthority:
    """A time-stamping service on 127.0.0.1 signing with `tsa` (an Issued):
    RFC 3161 queries are answered by `openssl ts -reply`, Authenticode's
    older base64 requests with a countersignature from `openssl cms -sign`.
    `mode` 'fail' answers 500, 'hang' never answers within a signer's
    deadline. Use as a context manager; `url` is its address."""

    def __init__(self, folder, tsa, mode="ok"):
        self.folder, self.tsa, self.mode = folder, tsa, mode
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "serial"), "w") as f:
            f.write("01\n")
        self.config = os.path.join(folder, "tsa.cnf")
        with open(self.config, "w") as f:
            f.write(TSA_CONFIG.format(folder=folder))
        self.stop = threading.Event()

    def reply(self, query):
        query_file, reply_file = os.path.join(self.folder, "query.tsq"), os.path.join(self.folder, "reply.tsr")
        with open(query_file, "wb") as f:
            f.write(query)
        subprocess.run(["openssl", "ts", "-reply", "-config", self.config, "-queryfile", query_file,
                        "-signer", self.tsa.cert, "-inkey", self.tsa.key_file, "-out", reply_file],
                       check=True, capture_output=True, timeout=30)
        with open(reply_file, "rb") as f:
            return f.read()

    def countersign(self, request):
        value = os.path.join(self.folder, "value.bin")
        with open(value, "wb") as f:
            f.write(legacy_request_value(base64.b64decode(request)))
        signed = subprocess.run(["openssl", "cms", "-sign", "-binary", "-nodetach", "-nosmimecap", "-md", "sha256",
                                 "-in", value, "-signer", self.tsa.cert, "-inkey", self.tsa.key_file,
                                 "-outform", "DER"], check=True, capture_output=True, timeout=30).stdout
        return base64.b64encode(signed)

    def __enter__(self):
        authority = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                query = self.rfile.read(int(self.headers.get("Content-Length", 0)))
                if authority.mode == "hang":
                    authority.stop.wait(60)
                    return
                if authority.mode == "fail":
                    self.send_error(500, "time-stamping service unavailable")
                    return
                rfc3161 = self.headers.get("Content-Type") == "application/timestamp-query"
                body = authority.reply(query) if rfc3161 else authority.countersign(query)
                self.send_response(200)
                self.send_header("Content-Type", "application/timestamp-reply" if rfc3161 else "application/octet-stream")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.server.daemon_threads = True
        self.server.handle_error = lambda *args: None  # a signer that hangs up early is no failure of ours
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()
        self.url = "http://127.0.0.1:%d/" % self.server.server_address[1]
        return self

    def __exit__(self, *exc):
        self.stop.set()
        self.server.shutdown()
        self.server.server_close()


def wait_until(condition, seconds=10):
    end = time.monotonic() + seconds
    while not condition() and time.monotonic() < end:
        time.sleep(0.02)
    return condition()
