#!/usr/bin/env python3
"""Pack and unpack benchmark: one installer-like payload, every packer and extractor.

Makes a payload (about 150 MB in about 800 files, one of about 54 MB; binaries,
text and incompressible data, all from a seed), packs it with wrapper-tool and
times, several times each (median), extracting that same archive with:
wrapper-tool extract, Info-ZIP unzip, bsdtar, 7z, Python's zipfile, the floor
(bench/floor.cpp: inflate + CRC-32 + write, nothing else) and the stub itself
under Wine (wall time, and the "Unpack time" it logs). Everything lives on
/dev/shm when there is one, so no contender waits for a disk.

First, the pack table: in one paired run on that payload, wrapper-tool pack
at its default level and at the highest (on all cores and on one thread),
beside Info-ZIP's zip -9 and 7z -tzip -mx9, with wall and CPU time and the
archive's size. Every wrapper-tool archive is checked by extracting it.

usage: run.py --tool PATH --floor PATH [--stub ZuvidaDiroVivuv.exe] [--reps 5]
              [--pack-levels default,12] [--pack-only]
"""
import argparse
import glob
import math
import os
import random
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "tool"))
sys.path.insert(0, os.path.join(ROOT, "tests", "stub"))
import toolkit  # noqa: E402
from check_pe_header import MAX_SIZE as STUB_MAX_SIZE  # noqa: E402

MB = 1000 * 1000
# The longest any one program of the bench may take (7z -mx9 of the real-PE
# payload takes about a minute); past it the bench stops with an error.
PROGRAM_TIMEOUT = 900
# Byte values of "binary" files: half of them zero, a quarter small numbers,
# the rest anything, like code and tables.
SKEW = bytes([0] * 128 + [v % 16 + 1 for v in range(64)] + list(range(192, 256)))
FOLDERS = ["", "bin", "bin/plugins", "bin/plugins/codecs", "platforms", "imageformats", "qml",
           "qml/Controls", "qml/Controls/Styles", "qml/Layouts", "resources", "resources/icons",
           "resources/sounds", "resources/fonts", "translations", "locales", "data", "data/maps",
           "data/maps/tiles", "licenses", "docs", "docs/help", "scripts", "web", "web/js", "web/css"]


class Generator:
    def __init__(self, seed):
        self.rng = random.Random(seed)
        letters = "abcdefghijklmnopqrstuvwxyz"
        self.words = ["".join(self.rng.choice(letters) for _ in range(self.rng.randint(2, 11)))
                      for _ in range(6000)]

    def binary(self, size):
        data = self.rng.randbytes(size).translate(SKEW)
        # A few repeated strings, as import tables and resources have.
        marker = b"KERNEL32.dll\0CreateFileW\0ReadFile\0" * 4
        step = 65536
        parts = [data[i:i + step - len(marker)] + marker for i in range(0, size, step)]
        return b"".join(parts)[:size]

    def text(self, size):
        chunks, total = [], 0
        while total < size:
            line_words = self.rng.choices(self.words, k=50000)
            chunk = (" ".join(line_words)).replace(" " + line_words[0] + " ", "\n").encode()
            chunks.append(chunk)
            total += len(chunk)
        return b"".join(chunks)[:size]

    def noise(self, size):
        return self.rng.randbytes(size)


def make_payload(root, seed):
    gen = Generator(seed)
    files = {toolkit.INNER_SETUP: gen.binary(2 * MB), "bin/core_engine.dll": gen.binary(54 * MB)}
    count = 798
    raw = [math.exp(gen.rng.uniform(math.log(200), math.log(3 * MB))) for _ in range(count)]
    scale = 94 * MB / sum(raw)
    kinds = [("dll", gen.binary), ("txt", gen.text), ("js", gen.text), ("pak", gen.noise),
             ("so", gen.binary), ("png", gen.noise), ("json", gen.text), ("dat", gen.binary)]
    for i, size in enumerate(raw):
        ext, make = kinds[i % len(kinds)]
        folder = FOLDERS[gen.rng.randrange(len(FOLDERS))]
        name = (folder + "/" if folder else "") + f"file{i:03}.{ext}"
        files[name] = make(max(1, int(size * scale)))
    for name, data in files.items():
        toolkit.write_file(root, name, data)
    return files


def manifest(root):
    found = {}
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            with open(path, "rb") as f:
                found[os.path.relpath(path, root)] = zlib.crc32(f.read())
    return found


def timed_cpu(command, cwd=None):
    """Wall and CPU seconds (user + system of the command and its children)."""
    before = os.times()
    start = time.perf_counter()
    result = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, cwd=cwd,
                            timeout=PROGRAM_TIMEOUT)
    wall = time.perf_counter() - start
    after = os.times()
    if result.returncode != 0:
        raise RuntimeError(f"{command[0]} failed ({result.returncode}): {result.stderr.decode()[-300:]}")
    return wall, (after.children_user - before.children_user) + (after.children_system - before.children_system)


def pack_table(args, work, payload, stub, total, expected):
    """One paired run of every packer on the same payload; returns the rows."""
    offset = os.path.getsize(stub)
    cores = os.cpu_count() or 1
    rows = []
    check = os.path.join(work, "pack-check")

    def tool_row(label, level, threads):
        out = os.path.join(work, "pack-tool.exe")
        command = [args.tool, "pack", stub, payload, "-o", out, "--quiet", "-j", str(threads)]
        if level != "default":
            command += ["--level", level]
        wall, cpu = timed_cpu(command)
        shutil.rmtree(check, ignore_errors=True)
        timed([args.tool, "extract", out, check])
        if manifest(check) != expected:
            raise RuntimeError(f"{label}: the unpacked files differ from the payload")
        rows.append((label, wall, cpu, os.path.getsize(out) - offset))

    for level in args.pack_levels.split(","):
        tool_row(f"wrapper-tool --level {level} -j {cores}", level, cores)
        if level == "default" and cores > 1:
            tool_row(f"wrapper-tool --level {level} -j 1", level, 1)
    peers = [("zip -9", ["zip", "-q", "-r", "-X", "-9"], "zip"),
             ("7z -tzip -mx9", ["7z", "a", "-tzip", "-mx9", "-bso0", "-bsp0"], "7z")]
    for label, command, program in peers:
        if not shutil.which(program):
            continue
        archive = os.path.join(work, "peer.zip")
        if os.path.exists(archive):
            os.remove(archive)
        target = [archive, "."]
        wall, cpu = timed_cpu(command + target, cwd=payload)
        rows.append((label, wall, cpu, os.path.getsize(archive)))
        os.remove(archive)
    shutil.rmtree(check, ignore_errors=True)

    print(f"\npack, one paired run, {total / MB:.1f} MB in {len(expected)} files, {cores} cores\n")
    print(f"{'packer':<34} {'wall s':>8} {'CPU s':>8} {'archive bytes':>14} {'% of input':>10}")
    for label, wall, cpu, size in rows:
        print(f"{label:<34} {wall:8.2f} {cpu:8.2f} {size:14,d} {100 * size / total:10.2f}")
    by = {label: (wall, size) for label, wall, cpu, size in rows}
    default = by.get(f"wrapper-tool --level default -j {cores}")
    zip9 = by.get("zip -9")
    seven = by.get("7z -tzip -mx9")
    strongest = by.get(f"wrapper-tool --level 12 -j {cores}")
    print()
    if default and zip9:
        met = default[0] * 4 <= zip9[0] and default[1] <= zip9[1]
        print(f"default vs zip -9: {zip9[0] / default[0]:.1f}x faster (goal 4x), "
              f"{default[1] - zip9[1]:+,d} bytes (goal <= 0) -> {'met' if met else 'MISSED'}")
    if strongest and seven:
        met = strongest[0] * 3 < seven[0] and strongest[1] < seven[1]
        print(f"level 12 vs 7z -mx9: {seven[0] / strongest[0]:.1f}x faster (goal 3x), "
              f"{strongest[1] - seven[1]:+,d} bytes (goal < 0) -> {'met' if met else 'MISSED'}")
    return rows


def timed(command, env=None, accepted=(0,), cwd=None):
    # stderr goes to a file, not a pipe: Wine's helper processes inherit it
    # and would hold a pipe open long after the program itself has exited.
    with tempfile.TemporaryFile() as errors:
        start = time.perf_counter()
        result = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=errors, env=env, cwd=cwd,
                                timeout=PROGRAM_TIMEOUT)
        elapsed = time.perf_counter() - start
        if result.returncode not in accepted:
            errors.seek(0)
            raise RuntimeError(f"{command[0]} failed ({result.returncode}): {errors.read().decode()[-300:]}")
    return elapsed


def wine_env():
    """The Wine scripts/wine-env.sh picks for this host (wine32, or wine64 for
    the x86_64 build); empty when it cannot tell."""
    done = subprocess.run(["bash", os.path.join(ROOT, "scripts", "wine-env.sh"), "--env"],
                          capture_output=True, text=True, timeout=60)
    return dict(line.split("=", 1) for line in done.stdout.splitlines()) if done.returncode == 0 else {}


class WineStub:
    """Runs the installer under Wine in a prefix of its own; reads the log."""

    def __init__(self, work, installer):
        self.installer = installer
        self.env = dict(os.environ, **wine_env())
        self.env.update(WINEPREFIX=os.path.join(work, "prefix"), WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=")
        subprocess.run([os.path.join(ROOT, "scripts", "wine-prefix.sh"), self.env["WINEPREFIX"]],
                       check=True, stdout=subprocess.DEVNULL, timeout=PROGRAM_TIMEOUT)
        # A resident wineserver keeps its start-up out of the measurements.
        subprocess.run([self.env["WINESERVER"], "-p"], env=self.env, check=True, timeout=60)
        self.logged = []

    def work_area(self):
        found = glob.glob(os.path.join(self.env["WINEPREFIX"], "drive_c", "users", "*", "AppData",
                                       "Local", "Norvik", "VozeDozav", toolkit.project_version()))
        return found[0] if found else None

    def run(self, out):
        area = self.work_area()
        if area:
            shutil.rmtree(area)
        # The stub has finished unpacking when it exits; the resident server
        # keeps running, so "wineserver -w" would wait for ever here.
        # The payload's inner setup is filler, not a program: its start fails
        # and, with no installed client to fall back to, the stub exits 1. The
        # unpack it times is checked through the log below.
        elapsed = timed([self.env["WINE"], self.installer], env=self.env, accepted=(0, 1))
        area = self.work_area()
        self.logged.append(self.logged_unpack_time())
        os.remove(os.path.join(area, "DuzoRizedAroriva_Log.txt"))
        os.rmdir(out)
        shutil.move(area, out)
        return elapsed

    def logged_unpack_time(self):
        with open(os.path.join(self.work_area(), "DuzoRizedAroriva_Log.txt"), "rb") as f:
            times = re.findall(rb"Unpack time = (\d+) ms\.", f.read())
        if not times:
            raise RuntimeError("the stub logged no unpack time (did the unpack fail?)")
        return int(times[-1]) / 1000

    def first_and_again(self):
        """Logged unpack times of a run into an empty work area and of a
        second run over the work area the first one left."""
        area = self.work_area()
        if area:
            shutil.rmtree(area)
        times = []
        for _ in range(2):
            timed([self.env["WINE"], self.installer], env=self.env, accepted=(0, 1))
            times.append(self.logged_unpack_time())
        shutil.rmtree(self.work_area())
        return times

    def close(self):
        subprocess.run([self.env["WINESERVER"], "-k"], env=self.env, timeout=60)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tool", required=True)
    parser.add_argument("--floor", required=True)
    parser.add_argument("--stub", help="the stub; without it a plain PE prefix is used and Wine is skipped")
    parser.add_argument("--reps", type=int, default=5)
    parser.add_argument("--seed", type=int, default=20465)
    parser.add_argument("--work", default="/dev/shm/wrapper-bench" if os.path.isdir("/dev/shm") else None)
    parser.add_argument("--level", help="deflate level for packing (default: the tool's own)")
    parser.add_argument("--pack-levels", default="default,12",
                        help="wrapper-tool levels for the pack table, comma-separated")
    parser.add_argument("--pack-only", action="store_true", help="the pack table alone")
    args = parser.parse_args()
    sys.stdout.reconfigure(line_buffering=True)
    work = args.work or os.path.join(ROOT, "build", "bench-work")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)

    payload = os.path.join(work, "payload")
    started = time.perf_counter()
    files = make_payload(payload, args.seed)
    total = sum(len(d) for d in files.values())
    expected = {name.replace("/", os.sep): zlib.crc32(d) for name, d in files.items()}
    del files
    print(f"payload: {len(expected)} files, {total / MB:.1f} MB, largest "
          f"{os.path.getsize(os.path.join(payload, 'bin', 'core_engine.dll')) / MB:.1f} MB "
          f"(made in {time.perf_counter() - started:.1f} s)")

    have_stub = args.stub and os.path.isfile(args.stub)
    stub = args.stub if have_stub else os.path.join(work, "stub.exe")
    if not have_stub:
        toolkit.make_pe(stub)
    pack_table(args, work, payload, stub, total, expected)
    if args.pack_only:
        shutil.rmtree(work, ignore_errors=True)
        return
    installer = os.path.join(work, "installer.exe")
    pack_time = timed([args.tool, "pack", stub, payload, "-o", installer]
                      + (["--level", args.level] if args.level else []))
    offset = os.path.getsize(stub)
    archive = os.path.join(work, "payload.zip")  # the same archive without the stub, for the peers
    with open(installer, "rb") as f, open(archive, "wb") as out:
        f.seek(offset)
        shutil.copyfileobj(f, out)
    print(f"installer: {os.path.getsize(installer) / MB:.1f} MB (packed in {pack_time:.1f} s), "
          f"archive {os.path.getsize(archive) / MB:.1f} MB")

    out = os.path.join(work, "out")
    contenders = [
        ("floor", lambda: [args.floor, installer, out]),
        ("wrapper-tool extract", lambda: [args.tool, "extract", installer, out]),
        ("unzip", lambda: ["unzip", "-q", "-o", archive, "-d", out]),
        ("bsdtar", lambda: ["bsdtar", "-xf", archive, "-C", out]),
        ("7z", lambda: ["7z", "x", "-y", "-bso0", "-bsp0", "-mmt=1", "-o" + out, archive]),
        ("python zipfile", lambda: [sys.executable, "-c",
                                    "import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])",
                                    archive, out]),
    ]
    runners = [(name, (lambda make=make: timed(make()))) for name, make in contenders if shutil.which(make()[0])]
    wine = None
    if have_stub and shutil.which(wine_env().get("WINE", "wine")):
        wine = WineStub(work, installer)
        runners.append(("stub under Wine (wall)", lambda: wine.run(out)))

    results = {name: [] for name, _ in runners}
    try:
        for rep in range(args.reps):
            for name, run in runners:
                shutil.rmtree(out, ignore_errors=True)
                os.makedirs(out)
                results[name].append(run())
                if rep == 0 and manifest(out) != expected:
                    raise RuntimeError(f"{name}: the unpacked files differ from the payload")
            print(f"repetition {rep + 1} of {args.reps} done", file=sys.stderr)
        # A second click, or a re-run after a failed setup, finds the files in
        # place: the stub keeps what is already right instead of rewriting it.
        rerun = [wine.first_and_again() for _ in range(args.reps)] if wine else []
    finally:
        if wine:
            wine.close()
        shutil.rmtree(out, ignore_errors=True)
    if wine:
        results["stub under Wine (logged)"] = wine.logged

    floor = statistics.median(results["floor"])
    print(f"\nmedian of {args.reps} runs, {total / MB:.0f} MB unpacked, on {work}\n")
    print(f"{'extractor':<26} {'median s':>9} {'min s':>8} {'MB/s':>7} {'x floor':>8}")
    for name, times in results.items():
        median = statistics.median(times)
        print(f"{name:<26} {median:9.3f} {min(times):8.3f} {total / MB / median:7.0f} {median / floor:8.2f}")

    if rerun:
        first = statistics.median(t[0] for t in rerun)
        again = statistics.median(t[1] for t in rerun)
        print(f"stub re-run over an unchanged work area: {again:.3f} s logged, first run "
              f"{first:.3f} s ({again / first:.2f} of it; stub first run / floor {first / floor:.2f})")

    tool = statistics.median(results["wrapper-tool extract"])
    peers = {n: statistics.median(t) for n, t in results.items()
             if n not in ("floor", "wrapper-tool extract") and not n.startswith("stub")}
    print()
    print(f"wrapper-tool / floor: {tool / floor:.3f} (target at most 1.05)"
          f" -> {'met' if tool <= 1.05 * floor else 'MISSED'}")
    slower = [n for n, t in peers.items() if t <= tool]
    print("wrapper-tool faster than every peer: " + ("yes" if not slower else "NO (" + ", ".join(slower) + ")"))
    if have_stub:
        size = os.path.getsize(args.stub)
        print(f"stub size: {size} bytes ({size / 1024:.1f} KiB; target at most {STUB_MAX_SIZE // 1024} KiB)"
              f" -> {'met' if size <= STUB_MAX_SIZE else 'MISSED'}")
    shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
