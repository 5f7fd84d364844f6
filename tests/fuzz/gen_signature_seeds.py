#!/usr/bin/env python3
"""Writes the signature fuzzer's seeds into OUT/seeds (small images signed
every way osslsigncode signs, their tables alone, and broken tables), the
root they chain to as OUT/anchor.pem, and empties OUT/corpus.

usage: gen_signature_seeds.py OUT
"""
import os
import shutil
import struct
import subprocess
import sys
import time
import types

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tool"))
import pki  # noqa: E402
import toolkit  # noqa: E402


def main(out):
    seeds, keys = os.path.join(out, "seeds"), os.path.join(out, "keys")
    for folder in (seeds, os.path.join(out, "corpus"), keys):
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
    image = os.path.join(keys, "image.exe")
    toolkit.make_pe(image, size=2048)
    chain, key, _, root = toolkit.make_chain(keys)
    shutil.copy(root, os.path.join(out, "anchor.pem"))

    def sign(name, source, *options):
        target = os.path.join(seeds, name)
        subprocess.run(["osslsigncode", "sign", "-certs", chain, "-key", key, *options, "-in", source,
                        "-out", target], check=True, capture_output=True)
        return target

    signed = sign("sha256.exe", image, "-h", "sha256")
    sign("nested.exe", sign("sha1.exe", image, "-h", "sha1"), "-nest", "-h", "sha256")
    sign("md5.exe", image, "-h", "md5")
    # Timestamps that verify against the anchor, so mutations reach every
    # check of both kinds: an RFC 3161 token, and a countersignature.
    tsa_key, tsa_cert = os.path.join(keys, "tsa-key.pem"), os.path.join(keys, "tsa-cert.pem")
    with open(os.path.join(keys, "tsa.cnf"), "w") as f:
        f.write("basicConstraints=CA:FALSE\nextendedKeyUsage=critical,timeStamping\n")
    subprocess.run(["openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", tsa_key, "-out",
                    os.path.join(keys, "tsa.csr"), "-subj", "/CN=seed TSA"], check=True, capture_output=True)
    subprocess.run(["openssl", "x509", "-req", "-in", os.path.join(keys, "tsa.csr"), "-CA", root,
                    "-CAkey", os.path.join(keys, "root-key.pem"), "-CAcreateserial", "-days", "2",
                    "-extfile", os.path.join(keys, "tsa.cnf"), "-out", tsa_cert], check=True, capture_output=True)
    # Inside the certificates' two days, which began when they were made.
    sign("stamped.exe", image, "-h", "sha256", "-TSA-certs", tsa_cert, "-TSA-key", tsa_key,
         "-TSA-time", str(int(time.time()) + 60))
    authority = types.SimpleNamespace(cert=tsa_cert, key_file=tsa_key)
    with pki.TimestampAuthority(os.path.join(keys, "tsa"), authority) as service:
        sign("countersigned.exe", image, "-h", "sha256", "-t", service.url)
    with open(signed, "rb") as f:
        data = f.read()
    offset, size = struct.unpack_from("<II", data, 0x40 + 24 + 96 + 32)
    table = data[offset:offset + size]
    broken = {"table.bin": table, "truncated.bin": table[:len(table) // 2],
              "too-long.bin": struct.pack("<I", len(table) + 64) + table[4:],
              "garbage.bin": table[:8] + b"\x30\x82\x01\x00" + b"\xA5" * 256}
    for name, content in broken.items():
        with open(os.path.join(seeds, name), "wb") as f:
            f.write(content)
    shutil.rmtree(keys)


if __name__ == "__main__":
    main(sys.argv[1])
