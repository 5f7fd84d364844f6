#!/usr/bin/env python3
"""Archives made by real ZIP producers on this machine, appended to other data
and followed by a signature-like block, must extract byte for byte.

And the other way round: installers packed by wrapper-tool, with entries
deflated in chunks and carrying the chunk index, read by every one of those
tools; solid installers listed by them with every file and its size, and
never extracted without an error.

usage: run_compat.py EXTRACT_ALL WORKDIR [WRAPPER_TOOL]
"""
import os
import random
import shutil
import subprocess
import sys
import zipfile

TRAILER = b"\0" * 3 + random.Random(7).randbytes(3344)  # fill + a signature block


def make_tree(root):
    rnd = random.Random(1234)
    words = [b"alpha", b"beta", b"gamma", b"delta", b"setup", b"payload", b"\n"]
    text = b" ".join(rnd.choice(words) for _ in range(60000))
    files = {
        "empty.txt": b"",
        "small.txt": b"hello, world\n",
        "text/words.txt": text,
        "bin/random.bin": rnd.randbytes(300000),
        "bin/six_hundred_k.bin": rnd.randbytes(200000) + text[:400000],
        "bin/one_buffer.bin": rnd.randbytes(262144),
        "deep/a/b/c/d.dat": rnd.randbytes(1000) * 50,
        "name with spaces.txt": b"spaces\r\n" * 100,
    }
    for rel, data in files.items():
        path = os.path.join(root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    return files


def run(cmd, cwd, **kw):
    subprocess.run(cmd, cwd=cwd, check=True, **kw)


def infozip(*flags):
    def make(src, out):
        run(["zip", "-qrX", *flags, out, "."], src)
    return make


def infozip_streamed(src, out):
    # Writing to a pipe makes zip put the sizes in data descriptors.
    data = subprocess.run(["zip", "-qrX", "-", "."], cwd=src, check=True,
                          stdout=subprocess.PIPE).stdout
    with open(out, "wb") as f:
        f.write(data)


def infozip_stdin(src, out):
    # Input of unknown size: one entry named "-", Zip64 local header.
    with open(os.path.join(src, "text/words.txt"), "rb") as f:
        run(["zip", "-q", out, "-"], src, stdin=f)
    with open(os.path.join(src, "text/words.txt"), "rb") as f:
        return {"-": f.read()}


def sevenzip(*flags):
    def make(src, out):
        run(["7z", "a", "-tzip", "-bd", "-bso0", *flags, out, "."], src)
    return make


def bsdtar(*flags):
    def make(src, out):
        run(["bsdtar", "--format", "zip", *flags, "-cf", out, "."], src)
    return make


def python_forced(method):
    def make(src, out):
        with zipfile.ZipFile(out, "w", method) as z:
            for rel in sorted(walk(src)):
                with open(os.path.join(src, rel), "rb") as f, \
                        z.open(rel, "w", force_zip64=True) as w:
                    w.write(f.read())
    return make


def python_zip64_everywhere(src, out):
    # Lowered limits make zipfile write Zip64 blocks for every size and offset
    # and the Zip64 end record, as it would for a huge archive.
    saved = zipfile.ZIP64_LIMIT, zipfile.ZIP_FILECOUNT_LIMIT
    zipfile.ZIP64_LIMIT, zipfile.ZIP_FILECOUNT_LIMIT = 0, 0
    try:
        with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
            for rel in sorted(walk(src)):
                with open(os.path.join(src, rel), "rb") as f, \
                        z.open(rel, "w", force_zip64=True) as w:
                    w.write(f.read())
    finally:
        zipfile.ZIP64_LIMIT, zipfile.ZIP_FILECOUNT_LIMIT = saved


PRODUCERS = {
    "infozip-deflated": infozip(),
    "infozip-stored": infozip("-0"),
    "infozip-streamed": infozip_streamed,
    "infozip-stdin": infozip_stdin,
    "infozip-zip64": infozip("-fz"),
    "7z-deflated": sevenzip(),
    "7z-stored": sevenzip("-mx=0"),
    "bsdtar-deflated": bsdtar(),
    "bsdtar-stored": bsdtar("--options", "zip:compression=store"),
    "python-zip64-deflated": python_forced(zipfile.ZIP_DEFLATED),
    "python-zip64-stored": python_forced(zipfile.ZIP_STORED),
    "python-zip64-everywhere": python_zip64_everywhere,
}


def walk(root):
    for base, _, names in os.walk(root):
        for name in names:
            yield os.path.relpath(os.path.join(base, name), root).replace(os.sep, "/")


def read_tree(root):
    out = {}
    for rel in walk(root):
        with open(os.path.join(root, rel), "rb") as f:
            out[os.path.normpath(rel).replace(os.sep, "/")] = f.read()
    return out


def prefixes():
    with open(shutil.which("true"), "rb") as f:
        program = f.read()
    return {"bare": b"", "program": program, "random100k": random.Random(5).randbytes(100000)}


def check(driver, work, name, image, expected, want_offset, want_symlinks=0):
    image_path = os.path.join(work, name + ".img")
    with open(image_path, "wb") as f:
        f.write(image)
    target = os.path.join(work, name + ".out")
    shutil.rmtree(target, ignore_errors=True)
    os.makedirs(target)
    result = subprocess.run([driver, image_path, target], capture_output=True, text=True)
    problems = []
    if result.returncode != 0:
        problems.append("driver exit %d: %s" % (result.returncode, result.stderr.strip()))
    summary = dict(kv.split("=") for kv in result.stdout.split())
    if summary.get("offset") != str(want_offset):
        problems.append("offset %s, expected %d" % (summary.get("offset"), want_offset))
    if summary.get("symlinks") != str(want_symlinks):
        problems.append("symlinks %s, expected %d" % (summary.get("symlinks"), want_symlinks))
    got = read_tree(target)
    for rel in sorted(set(expected) | set(got)):
        if rel not in got:
            problems.append("missing " + rel)
        elif rel not in expected:
            problems.append("unexpected " + rel)
        elif got[rel] != expected[rel]:
            problems.append("differs " + rel)
    print("%-40s %s %s" % (name, "ok" if not problems else "FAIL", result.stdout.strip()))
    for p in problems:
        print("    " + p)
    if not problems:
        os.remove(image_path)
        shutil.rmtree(target)
    return not problems


READERS = {
    "unzip": lambda archive, out: ["unzip", "-qo", archive, "-d", out],
    "7z": lambda archive, out: ["7z", "x", "-y", "-bd", "-bso0", "-o" + out, archive],
    "bsdtar": lambda archive, out: ["bsdtar", "-xf", archive, "-C", out],
    "python": lambda archive, out: [sys.executable, "-m", "zipfile", "-e", archive, out],
}


def read_by_others(tool, work, src, tree):
    """Chunked entries (a file of several chunks at every level that chunks)
    come out byte for byte from every standard reader."""
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tool"))
    import toolkit
    big = random.Random(9).randbytes(1 << 20) * 3 + tree["text/words.txt"] * 20
    with open(os.path.join(src, "big.bin"), "wb") as f:
        f.write(big)
    expected = dict(tree, **{"big.bin": big, toolkit.INNER_SETUP: b"MZ"})
    with open(os.path.join(src, toolkit.INNER_SETUP), "wb") as f:
        f.write(b"MZ")
    stub = os.path.join(work, "stub.exe")
    toolkit.make_pe(stub)
    ok = True
    for level in ("1", "10", "12"):
        installer = os.path.join(work, "packed-%s.exe" % level)
        run([tool, "pack", stub, src, "-o", installer, "--level", level, "--quiet"], work)
        with zipfile.ZipFile(installer) as z:
            extra = z.getinfo("big.bin").extra
        if extra[:2] != b"\x43\x49":
            print("packed-%s: big.bin carries no chunk index" % level)
            ok = False
        for reader, command in READERS.items():
            out = os.path.join(work, "packed-%s.%s" % (level, reader))
            shutil.rmtree(out, ignore_errors=True)
            os.makedirs(out)
            result = subprocess.run(command(installer, out), capture_output=True, text=True)
            got = read_tree(out)
            good = got == expected and result.returncode in (0, 1)  # unzip: 1 = warning (bytes in front)
            print("%-40s %s %s" % ("packed-%s by %s" % (level, reader), "ok" if good else "FAIL",
                                   result.stderr.strip()[-200:] if not good else ""))
            ok &= good
    return ok


def listed_sizes(reader, installer):
    """name -> size of every file as `reader` lists the installer; None when it cannot list it."""
    if reader == "python":
        with zipfile.ZipFile(installer) as z:
            return {i.filename: i.file_size for i in z.infolist() if not i.is_dir()}
    command = {"unzip": ["unzip", "-l", installer], "7z": ["7z", "l", "-slt", installer],
               "bsdtar": ["bsdtar", "-tvf", installer]}[reader]
    result = subprocess.run(command, capture_output=True, text=True)
    if result.returncode not in (0, 1):  # unzip: 1 = warning (bytes in front)
        return None
    sizes = {}
    if reader == "unzip":
        # "  Length      Date    Time    Name", a dashed line, the rows, a dashed line.
        rows = result.stdout.split("\n")
        dashes = [i for i, row in enumerate(rows) if row.startswith("---------")]
        for row in rows[dashes[0] + 1:dashes[1]]:
            length, _, _, name = row.split(None, 3)
            sizes[name] = int(length)
    elif reader == "7z":
        for item in result.stdout.split("\n\n"):
            fields = dict(line.split(" = ", 1) for line in item.split("\n") if " = " in line)
            if "Path" in fields and "Size" in fields and fields.get("Folder") != "+":
                sizes[fields["Path"]] = int(fields["Size"])
    else:
        for row in result.stdout.splitlines():
            parts = row.split(None, 8)
            if not parts[0].startswith("d"):
                sizes[parts[8]] = int(parts[4])
    return {name: size for name, size in sizes.items() if not name.endswith("/")}


def solid_by_others(tool, work, src, tree):
    """A solid installer: every reader lists each file with its size, and none
    extracts it without reporting an error (its files have no data of their own)."""
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tool"))
    import toolkit
    stub = os.path.join(work, "stub.exe")
    toolkit.make_pe(stub)
    installer = os.path.join(work, "packed-solid.exe")
    run([tool, "pack", stub, src, "-o", installer, "--solid", "--level", "3", "--solid-block", "1", "--quiet"],
        work)
    files = read_tree(src)
    expected = {name: len(data) for name, data in files.items()}
    ok = True
    for reader, command in READERS.items():
        sizes = listed_sizes(reader, installer)
        good = sizes == expected
        print("%-40s %s" % ("packed-solid listed by " + reader, "ok" if good else "FAIL %s" % sizes))
        out = os.path.join(work, "packed-solid." + reader)
        shutil.rmtree(out, ignore_errors=True)
        os.makedirs(out)
        result = subprocess.run(command(installer, out), capture_output=True, text=True)
        wrong = sorted(name for name, data in read_tree(out).items() if data != files.get(name))
        # unzip's 1 is a warning about the bytes in front, not an error.
        refused = result.returncode not in ((0, 1) if reader == "unzip" else (0,))
        print("%-40s %s" % ("packed-solid extracted by " + reader,
                            "ok (refused)" if refused else "FAIL: exit %d, wrong %s" % (result.returncode, wrong)))
        ok &= good and refused
    return ok


def main():
    driver, work = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    shutil.rmtree(work, ignore_errors=True)
    src = os.path.join(work, "src")
    os.makedirs(src)
    tree = make_tree(src)
    ok = True

    for producer, make in PRODUCERS.items():
        archive = os.path.join(work, producer + ".zip")
        expected = make(src, archive) or tree
        with open(archive, "rb") as f:
            data = f.read()
        for label, prefix in prefixes().items():
            ok &= check(driver, work, "%s+%s" % (producer, label), prefix + data + TRAILER,
                        expected, len(prefix))

    # zip -A rewrites the offsets to count from the start of the whole file.
    plain = os.path.join(work, "infozip-deflated.zip")
    for label, prefix in prefixes().items():
        if not prefix:
            continue
        sfx = os.path.join(work, "adjusted-%s.exe" % label)
        with open(plain, "rb") as f, open(sfx, "wb") as out:
            out.write(prefix + f.read())
        run(["zip", "-qA", sfx], work)
        with open(sfx, "rb") as f:
            ok &= check(driver, work, "infozip-adjusted+" + label, f.read() + TRAILER, tree, 0)

    # Symbolic links stored as links are recognised and left alone.
    linked = os.path.join(work, "linked")
    shutil.copytree(src, linked)
    os.symlink("small.txt", os.path.join(linked, "link-to-small"))
    for producer, flags in (("zip", ["-qrXy"]), ("bsdtar", None)):
        archive = os.path.join(work, "links-%s.zip" % producer)
        if flags:
            run(["zip", *flags, archive, "."], linked)
        else:
            run(["bsdtar", "--format", "zip", "-cf", archive, "."], linked)
        with open(archive, "rb") as f:
            ok &= check(driver, work, "symlink-" + producer, f.read() + TRAILER, tree, 0,
                        want_symlinks=1)

    if len(sys.argv) > 3:
        ok &= read_by_others(os.path.abspath(sys.argv[3]), work, src, tree)
        ok &= solid_by_others(os.path.abspath(sys.argv[3]), work, src, tree)
    print("all ok" if ok else "FAILURES")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
