"""Helpers for the wrapper-tool tests: fake stubs, payload folders, signing."""
import base64
import os
import re
import shutil
import struct
import subprocess
import tempfile

INNER_SETUP = "RezuviZiduRuzudUvovovaz.exe"


def project_version():
    """The version project() gives in the top-level CMakeLists.txt."""
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    with open(os.path.join(root, "CMakeLists.txt")) as f:
        return re.search(r"project\(\w+ VERSION ([0-9.]+)", f.read()).group(1)


STUB_PRODUCT = "ZuvidaDiroVivuv"
STUB_IDENTITY = (STUB_PRODUCT, project_version())


def _version_node(key, value=b"", text=False, children=b""):
    """One node of a VS_VERSION_INFO tree, 4-byte aligned."""
    pad = lambda data: data + b"\0" * (-len(data) % 4)  # noqa: E731
    value_length = len(value) // 2 if text else len(value)
    body = pad(struct.pack("<HHH", 0, value_length, 1 if text else 0) + key.encode("utf-16-le") + b"\0\0")
    body = pad(body + value) + children
    return struct.pack("<H", len(body)) + body[2:]


def version_resource(product, version, rva):
    """A resource section at `rva` holding only a version block for `product` `version`."""
    numbers = [int(n) for n in version.split(".")]
    fixed = struct.pack("<13I", 0xFEEF04BD, 0x10000, numbers[0] << 16 | numbers[1], numbers[2] << 16 | numbers[3],
                        numbers[0] << 16 | numbers[1], numbers[2] << 16 | numbers[3], 0x3F, 0, 4, 1, 0, 0, 0)
    text = lambda key, value: _version_node(key, (value + "\0").encode("utf-16-le"), True)  # noqa: E731
    strings = _version_node("040904b0", text=True, children=text("ProductName", product) +
                            text("ProductVersion", version.replace(".", ",")))
    block = _version_node("VS_VERSION_INFO", fixed, children=_version_node("StringFileInfo", text=True,
                                                                           children=strings))
    directory = lambda entry_id, target: struct.pack("<IIHHHHII", 0, 0, 0, 0, 0, 1, entry_id, target)  # noqa: E731
    tree = directory(16, 0x80000000 | 24) + directory(1, 0x80000000 | 48) + directory(0x409, 72)
    return tree + struct.pack("<IIII", rva + 88, len(block), 0, 0) + block


def make_pe(path, size=20480, certificate=None, identity=STUB_IDENTITY):
    """Writes a small but well-formed PE32 image of `size` bytes (a multiple of
    512) whose version block names `identity` (product, version), as the stub's
    does; None leaves the resources out. With `certificate` (bytes) a
    certificate table holding them is appended and declared in the security
    directory, as a signed file has."""
    assert size % 512 == 0 and size >= 1024
    sections = 2 if identity else 1
    raw_size = size - 0x200 - (0x200 if identity else 0)
    image_end = 0x1000 + ((raw_size + 0xFFF) & ~0xFFF)
    dos = bytearray(0x40)
    dos[0:2] = b"MZ"
    struct.pack_into("<I", dos, 0x3C, 0x40)
    coff = struct.pack("<HHIIIHH", 0x14C, sections, 0, 0, 0, 224, 0x0102)
    optional = bytearray(struct.pack(
        "<HBBIIIIIIIIIHHHHHHIIIIHHIIIIII",
        0x10B, 14, 0, raw_size, 0, 0, 0x1000, 0x1000, 0x1000 + raw_size,
        0x400000, 0x1000, 0x200, 6, 0, 0, 0, 6, 0, 0,
        image_end + (0x1000 if identity else 0), 0x200, 0, 2, 0,
        0x100000, 0x1000, 0x100000, 0x1000, 0, 16))
    directories = bytearray(16 * 8)
    section = struct.pack("<8sIIIIIIHHI", b".text", raw_size, 0x1000, raw_size, 0x200,
                          0, 0, 0, 0, 0x60000020)
    resources = b""
    if identity:
        resources = version_resource(*identity, image_end)
        struct.pack_into("<II", directories, 2 * 8, image_end, len(resources))
        section += struct.pack("<8sIIIIIIHHI", b".rsrc", len(resources), image_end, 0x200,
                               0x200 + raw_size, 0, 0, 0, 0, 0x40000040)
        assert len(resources) <= 0x200
        resources += b"\0" * (0x200 - len(resources))
    header = bytes(dos) + b"PE\0\0" + coff + bytes(optional)
    if certificate is not None:
        table = struct.pack("<IHH", 8 + len(certificate), 0x0200, 0x0002) + certificate
        table += b"\0" * (-len(table) % 8)
        struct.pack_into("<II", directories, 4 * 8, size, len(table))
    header += bytes(directories) + section
    image = header + b"\0" * (0x200 - len(header))
    image += bytes((i * 7 + 3) & 0xFF for i in range(raw_size)) + resources
    if certificate is not None:
        image += table
    with open(path, "wb") as f:
        f.write(image)


def write_file(root, name, data):
    path = os.path.join(root, *name.split("/"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def make_payload(root, files=None):
    """A payload folder: the inner setup plus `files` (name -> bytes)."""
    os.makedirs(root, exist_ok=True)
    write_file(root, INNER_SETUP, b"MZ inner setup " * 200)
    for name, data in (files or {}).items():
        write_file(root, name, data)


def tree_bytes(root):
    """Every file and folder below `root`: relative name -> bytes (None for folders)."""
    found = {}
    for folder, dirs, files in os.walk(root):
        for d in dirs:
            found[os.path.relpath(os.path.join(folder, d), root) + "/"] = None
        for f in files:
            with open(os.path.join(folder, f), "rb") as handle:
                found[os.path.relpath(os.path.join(folder, f), root)] = handle.read()
    return found


def have_signing_tools():
    return shutil.which("osslsigncode") is not None and shutil.which("openssl") is not None


def make_certificate(folder, name="test"):
    """A throwaway self-signed code-signing certificate: (cert.pem, key.pem)."""
    key = os.path.join(folder, name + "-key.pem")
    cert = os.path.join(folder, name + "-cert.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                    "-out", cert, "-days", "2", "-subj", "/CN=wrapper-tool test"],
                   check=True, capture_output=True)
    return cert, key


def make_chain(folder, root_name="wrapper-tool test root", leaf_name="wrapper-tool test leaf",
               leaf_extensions=(), leaf_key=("-newkey", "rsa:2048"), serial=None):
    """A throwaway root and a code-signing certificate it issued:
    (chain.pem with both, leaf-key.pem, leaf-cert.pem, root-cert.pem).
    `leaf_extensions` adds lines to the leaf's extensions, `leaf_key` says how
    its key is made, `serial` fixes its serial number (hex), and a root
    already in `folder` (root-key.pem, root-cert.pem) is reused."""
    def path(name):
        return os.path.join(folder, name)

    def openssl(*args):
        subprocess.run(["openssl", *args], check=True, capture_output=True)

    if not os.path.exists(path("root-key.pem")):
        openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", path("root-key.pem"), "-out",
                path("root-cert.pem"), "-days", "2", "-subj", "/CN=" + root_name,
                "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign")
    openssl("req", *leaf_key, "-nodes", "-keyout", path("leaf-key.pem"), "-out", path("leaf.csr"),
            "-subj", "/CN=" + leaf_name)
    with open(path("leaf.cnf"), "w") as f:
        f.write("\n".join(["extendedKeyUsage=codeSigning", *leaf_extensions]) + "\n")
    numbering = ["-set_serial", "0x" + serial] if serial else ["-CAcreateserial"]
    openssl("x509", "-req", "-in", path("leaf.csr"), "-CA", path("root-cert.pem"), "-CAkey", path("root-key.pem"),
            *numbering, "-out", path("leaf-cert.pem"), "-days", "2", "-extfile", path("leaf.cnf"))
    with open(path("chain.pem"), "w") as chain:
        for name in ("leaf-cert.pem", "root-cert.pem"):
            with open(path(name)) as f:
                chain.write(f.read())
    return path("chain.pem"), path("leaf-key.pem"), path("leaf-cert.pem"), path("root-cert.pem")


def certificate_der(pem_path):
    with open(pem_path) as f:
        body = f.read().split("-----")[2]
    return base64.b64decode("".join(body.split()))


def sign(source, target, keep_certificate=None):
    """Signs `source` into `target` with a throwaway self-signed certificate,
    copied to `keep_certificate` when given (to trust it when verifying)."""
    with tempfile.TemporaryDirectory() as keys:
        cert, key = make_certificate(keys)
        subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-h", "sha256",
                        "-in", source, "-out", target], check=True, capture_output=True)
        if keep_certificate:
            shutil.copy(cert, keep_certificate)
