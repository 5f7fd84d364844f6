#!/usr/bin/env python3
"""Many small files: the stub's logged unpack against a plain
create/write/close loop (bench/write_loop_win.cpp) over the same files, in the
same Wine prefix, in paired runs; and a re-run over the unchanged work area.

Makes a payload of FILES small files (100 B to 6 KB of text, 100 to a folder,
from a seed), packs it with wrapper-tool and, REPS times: runs the stub into
an empty work area, runs it again over what it left, and runs the loop.
Prints the medians and the ratios (goals: stub / loop at most 1.3, re-run /
first run at most 0.3).

usage: stub_files.py --tool PATH --stub ZuvidaDiroVivuv.exe --loop write_loop.exe
                     [--files 70000] [--reps 3] [--seed 21]
"""
import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from run import PROGRAM_TIMEOUT, WineStub, timed  # noqa: E402

INNER_SETUP = "RezuviZiduRuzudUvovovaz.exe"


def make_payload(root, count, seed):
    """The payload folder, and the loop's list and data files beside it."""
    rng = random.Random(seed)
    words = [bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9)))
             for _ in range(3000)]
    names = [INNER_SETUP] + [f"pkg{i // 2000:02d}/dir{i // 100 % 20:02d}/file{i:05d}.txt"
                             for i in range(count - 1)]
    with open(root + ".list", "w") as listing, open(root + ".data", "wb") as data:
        for name in names:
            size = rng.randint(100, 6000)
            content = b" ".join(rng.choice(words) for _ in range(size // 5))[:size]
            path = os.path.join(root, *name.split("/"))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(content)
            listing.write(f"{len(content)}\t{name}\n")
            data.write(content)
    return len(names)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tool", required=True)
    parser.add_argument("--stub", required=True)
    parser.add_argument("--loop", required=True)
    parser.add_argument("--files", type=int, default=70000)
    parser.add_argument("--reps", type=int, default=3)
    parser.add_argument("--seed", type=int, default=21)
    parser.add_argument("--work", default="/dev/shm/wrapper-bench-files"
                        if os.path.isdir("/dev/shm") else None)
    args = parser.parse_args()
    sys.stdout.reconfigure(line_buffering=True)
    work = args.work or os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "build",
                                     "bench-files")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    payload = os.path.join(work, "payload")
    count = make_payload(payload, args.files, args.seed)
    installer = os.path.join(work, "installer.exe")
    timed([args.tool, "pack", args.stub, payload, "-o", installer])
    print(f"payload: {count} files, installer {os.path.getsize(installer) / 1e6:.1f} MB")

    wine = WineStub(work, installer)
    loop_dir = os.path.join(wine.env["WINEPREFIX"], "drive_c", "loop")
    firsts, agains, loops = [], [], []
    try:
        for rep in range(args.reps):
            first, again = wine.first_and_again()
            shutil.rmtree(loop_dir, ignore_errors=True)
            done = subprocess.run([wine.env["WINE"], args.loop, "Z:" + payload + ".list",
                                   "Z:" + payload + ".data", "C:\\loop"],
                                  env=wine.env, capture_output=True, text=True, check=True,
                                  timeout=PROGRAM_TIMEOUT)
            loops.append(int(done.stdout.strip().splitlines()[-1]) / 1000)
            firsts.append(first)
            agains.append(again)
            print(f"run {rep + 1}: stub {first:.3f} s, re-run {again:.3f} s, loop {loops[-1]:.3f} s",
                  file=sys.stderr)
    finally:
        wine.close()
        shutil.rmtree(loop_dir, ignore_errors=True)
    first, again, loop = (statistics.median(v) for v in (firsts, agains, loops))
    print(f"median of {args.reps} paired runs, {count} files, {os.cpu_count()} cores")
    print(f"stub logged unpack {first:.3f} s, plain create/write/close loop {loop:.3f} s: "
          f"{first / loop:.2f}x (goal at most 1.3)")
    print(f"re-run over the unchanged work area {again:.3f} s: {again / first:.2f} of the first run "
          f"(goal at most 0.3)")
    shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    started = time.perf_counter()
    main()
    print(f"(took {time.perf_counter() - started:.0f} s)", file=sys.stderr)
