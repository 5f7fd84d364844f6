#!/usr/bin/env python3
"""Pack and extract on every core, against their goals, in one paired run.

On the installer-like payload of run.py (about 150 MB in about 800 files, one
compressible binary of 54 MB): wrapper-tool pack at its default level, at 12
and at 6, beside zip -9 and 7z -tzip -mx9; the big binary alone on all cores
and on one (byte-identical) beside pigz -9 on it; the longest single
compression task against the total task time; peak memory of packing binaries
of two sizes; and extract against the single-thread floor (bench/floor.cpp).
Every figure is a ratio from this one run on this machine.

usage: pack_goals.py --tool PATH --floor PATH [--reps 3] [--memory-mb 50,400]
"""
import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run  # noqa: E402
from run import MB, toolkit  # noqa: E402


def measure(command, cwd=None, stdout=False):
    """Wall and CPU seconds, peak resident KiB of the command and, when asked,
    its standard output. The peak comes from GNU time: a child of this
    process would inherit the high-water mark of this big one across exec."""
    with tempfile.NamedTemporaryFile("r") as peak:
        start = time.perf_counter()
        child = subprocess.Popen(["timeout", str(run.PROGRAM_TIMEOUT), "/usr/bin/time", "-f", "%M", "-o", peak.name]
                                 + command, cwd=cwd,
                                 stdout=subprocess.PIPE if stdout else subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        output = child.stdout.read() if stdout else b""
        _, status, usage = os.wait4(child.pid, 0)
        wall = time.perf_counter() - start
        if os.waitstatus_to_exitcode(status) != 0:
            raise RuntimeError(f"{command[0]} failed ({os.waitstatus_to_exitcode(status)})")
        return wall, usage.ru_utime + usage.ru_stime, int(peak.read().split()[-1]), output


def goal(text, met):
    print(f"  {text} -> {'met' if met else 'MISSED'}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tool", required=True)
    parser.add_argument("--floor", required=True)
    parser.add_argument("--reps", type=int, default=3)
    parser.add_argument("--seed", type=int, default=20465)
    parser.add_argument("--memory-mb", default="50,400", help="binary sizes, multiples of 50")
    parser.add_argument("--work", default="/dev/shm/wrapper-goals" if os.path.isdir("/dev/shm") else "goals-work")
    args = parser.parse_args()
    sys.stdout.reconfigure(line_buffering=True)
    work = args.work
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    payload = os.path.join(work, "payload")
    files = run.make_payload(payload, args.seed)
    total = sum(len(d) for d in files.values())
    expected = {name.replace("/", os.sep): run.zlib.crc32(d) for name, d in files.items()}
    del files
    stub = os.path.join(work, "stub.exe")
    toolkit.make_pe(stub)
    offset = os.path.getsize(stub)
    cores = len(os.sched_getaffinity(0))
    print(f"payload: {len(expected)} files, {total / MB:.1f} MB; {cores} cores")

    def pack(folder, out, *options):
        wall, cpu, rss, text = measure([args.tool, "pack", stub, folder, "-o", out, "--json", *options], stdout=True)
        report = json.loads(text)
        return {"wall": wall, "cpu": cpu, "rss": rss, "size": os.path.getsize(out) - offset, "report": report}

    rows = {}
    out = os.path.join(work, "packed.exe")
    for label, options in (("default", []), ("default -j 1", ["-j", "1"]), ("level 12", ["--level", "12"]),
                           ("level 6", ["--level", "6"])):
        rows[label] = pack(payload, out, *options)
        if label == "default":
            shutil.copy(out, os.path.join(work, "installer.exe"))
    for label, command in (("zip -9", ["zip", "-q", "-r", "-X", "-9"]),
                           ("7z -mx9", ["7z", "a", "-tzip", "-mx9", "-bso0", "-bsp0"])):
        archive = os.path.join(work, "peer.zip")
        wall, cpu, rss, _ = measure(command + [archive, "."], cwd=payload)
        rows[label] = {"wall": wall, "cpu": cpu, "rss": rss, "size": os.path.getsize(archive)}
        os.remove(archive)

    big = os.path.join(work, "big")
    os.makedirs(big)
    os.link(os.path.join(payload, "bin", "core_engine.dll"), os.path.join(big, "core_engine.dll"))
    shutil.copy(os.path.join(payload, toolkit.INNER_SETUP), big)
    alone = {}
    for threads in (str(cores), "1"):
        target = os.path.join(work, f"big-j{threads}.exe")
        alone[threads] = pack(big, target, "-j", threads)
        with open(target, "rb") as f:
            alone[threads]["bytes"] = f.read()
    pigz_out = os.path.join(work, "big.gz")
    wall, cpu, rss, _ = measure(["sh", "-c", f"pigz -9 -p {cores} -c {big}/core_engine.dll > {pigz_out}"])
    pigz = {"wall": wall, "cpu": cpu, "size": os.path.getsize(pigz_out)}

    memory = {}
    for size_mb in (int(v) for v in args.memory_mb.split(",")):
        folder = os.path.join(work, f"mem{size_mb}")
        toolkit.write_file(folder, toolkit.INNER_SETUP, b"MZ")
        generator = run.Generator(size_mb)
        with open(os.path.join(folder, "big.dll"), "wb") as f:
            for _ in range(0, size_mb, 50):  # randbytes takes at most 256 MB at once
                f.write(generator.binary(50 * MB))
        memory[size_mb] = pack(folder, os.path.join(work, "mem.exe"), "--level", "6")["rss"]
        shutil.rmtree(folder)

    installer = os.path.join(work, "installer.exe")
    x = os.path.join(work, "x")
    times = {"floor": [], "extract": []}
    for rep in range(args.reps):
        for name, command in (("floor", [args.floor, installer, x]), ("extract", [args.tool, "extract", installer, x])):
            shutil.rmtree(x, ignore_errors=True)
            os.makedirs(x)
            times[name].append(measure(command)[0])
            if rep == 0 and run.manifest(x) != expected:
                raise RuntimeError(f"{name}: the unpacked files differ from the payload")
    shutil.rmtree(x, ignore_errors=True)

    print(f"\n{'':<16} {'wall s':>8} {'CPU s':>8} {'peak MB':>8} {'archive bytes':>14}")
    for label, row in rows.items():
        print(f"{label:<16} {row['wall']:8.2f} {row['cpu']:8.2f} {row['rss'] / 1024:8.0f} {row['size']:14,d}")
    print(f"{'54 MB -j ' + str(cores):<16} {alone[str(cores)]['wall']:8.2f} {alone[str(cores)]['cpu']:8.2f} "
          f"{alone[str(cores)]['rss'] / 1024:8.0f} {alone[str(cores)]['size']:14,d}")
    print(f"{'54 MB -j 1':<16} {alone['1']['wall']:8.2f} {alone['1']['cpu']:8.2f} {alone['1']['rss'] / 1024:8.0f} "
          f"{alone['1']['size']:14,d}")
    print(f"{'pigz -9 -p ' + str(cores):<16} {pigz['wall']:8.2f} {pigz['cpu']:8.2f} {'':>8} {pigz['size']:14,d}")
    tasks = rows["default"]["report"]["compression_tasks"]
    zip9, seven, default = rows["zip -9"], rows["7z -mx9"], rows["default"]
    print(f"\nthreads used by default: {default['report']['threads']}; compression tasks: {tasks['count']}, "
          f"{tasks['seconds']:.2f} s in all, the longest {tasks['longest_seconds']:.3f} s")
    print(f"extract median {statistics.median(times['extract']):.3f} s, floor {statistics.median(times['floor']):.3f} s")
    print(f"peak memory packing one binary: " + ", ".join(f"{k} MB -> {v / 1024:.0f} MB" for k, v in memory.items()))

    print("\ngoals (ratios of this run):")
    ratio = alone[str(cores)]["wall"] / alone["1"]["wall"]
    same = alone[str(cores)]["bytes"] == alone["1"]["bytes"]
    goal(f"54 MB alone -j {cores} / -j 1 wall: {ratio:.2f} (<= 0.55), byte-identical: {same}", ratio <= 0.55 and same)
    print(f"  54 MB alone vs pigz -9: wall {alone[str(cores)]['wall'] / pigz['wall']:.2f}x, "
          f"size {alone[str(cores)]['size'] / pigz['size']:.4f}x")
    ratio = default["wall"] / zip9["wall"]
    smaller = 1 - default["size"] / zip9["size"]
    goal(f"default / zip -9 wall: {ratio:.2f} (<= 0.36), {100 * smaller:.2f} % smaller (>= 3 %)",
         ratio <= 0.36 and smaller >= 0.03)
    ratio = rows["level 12"]["wall"] / seven["wall"]
    larger = rows["level 12"]["size"] / seven["size"] - 1
    goal(f"level 12 / 7z -mx9 wall: {ratio:.2f} (<= 0.28), size {100 * larger:+.3f} % (within 0.2 %)",
         ratio <= 0.28 and larger <= 0.002)
    ratio = rows["level 6"]["wall"] / zip9["wall"]
    goal(f"level 6 / zip -9 wall: {ratio:.2f} (<= 0.1), size {rows['level 6']['size'] / zip9['size']:.4f}x (<= 1)",
         ratio <= 0.1 and rows["level 6"]["size"] <= zip9["size"])
    helpers = tasks["seconds"] / tasks["longest_seconds"] if tasks["longest_seconds"] else float("inf")
    goal(f"total task time / longest task: {helpers:.1f} (>= 16)", helpers >= 16)
    ratio = statistics.median(times["extract"]) / statistics.median(times["floor"])
    goal(f"extract / floor: {ratio:.2f} (<= 0.6)", ratio <= 0.6)
    low, high = min(memory.values()), max(memory.values())
    goal(f"peak memory {min(memory)} MB vs {max(memory)} MB entry: {(high - low) / 1024:+.0f} MB (within a few MB)",
         high - low <= 8 * 1024)
    shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
