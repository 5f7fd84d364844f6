#!/usr/bin/env python3
"""Chooses the solid layout by figures: packs one payload with pack --solid
under each level, prefix share and block size given, and prints the
installer's bytes, the pack's wall and CPU time and extract --test's wall
time (the decode on all cores). With --paired-7z, `7z a -t7z -mx9` of the
same folder runs just before each pack and the pack's wall is also given as
a share of it (the machine's speed drifts between runs). Not a test: run by hand.

  bench/solid_layouts.py --tool build/bin/wrapper-tool --stub build/bin/ZuvidaDiroVivuv.exe \
      --payload build/bench/pe-payload --config 19:25:32 --config 22:25:56 ... [--paired-7z]
"""
import argparse
import os
import resource
import subprocess
import sys
import tempfile
import time

TIMEOUT = 1800


def timed(command, cwd=None):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    subprocess.run(command, check=True, timeout=TIMEOUT, stdout=subprocess.DEVNULL, cwd=cwd)
    wall = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return wall, (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tool", required=True)
    parser.add_argument("--stub", required=True)
    parser.add_argument("--payload", required=True)
    parser.add_argument("--config", action="append", required=True,
                        help="LEVEL:PREFIX_PERCENT:BLOCK_MIB")
    parser.add_argument("--scratch", default="/dev/shm" if os.path.isdir("/dev/shm") else None)
    parser.add_argument("--paired-7z", action="store_true", help="time 7z a -t7z -mx9 before each pack")
    args = parser.parse_args()
    print("level  prefix  block    installer bytes   pack wall  pack cpu  test wall" +
          ("   7z a wall  pack/7z" if args.paired_7z else ""))
    with tempfile.TemporaryDirectory(dir=args.scratch) as scratch:
        out = os.path.join(scratch, "solid.exe")
        for config in args.config:
            level, prefix, block = config.split(":")
            seven = None
            if args.paired_7z:
                archive = os.path.join(scratch, "paired.7z")
                if os.path.exists(archive):
                    os.remove(archive)
                seven, _ = timed(["7z", "a", "-t7z", "-mx9", archive, "."], cwd=args.payload)
            pack_wall, pack_cpu = timed([args.tool, "pack", args.stub, args.payload, "-o", out, "--quiet",
                                         "--solid", "--level", level, "--solid-prefix", prefix,
                                         "--solid-block", block])
            test_wall, _ = timed([args.tool, "extract", out, "--test", "--quiet"])
            line = "%5s  %5s%%  %5s  %17s  %8.1f s  %6.1f s  %7.2f s" % (
                level, prefix, block, format(os.path.getsize(out), ","), pack_wall, pack_cpu, test_wall)
            if seven is not None:
                line += "  %8.1f s  %7.2f" % (seven, pack_wall / seven)
            print(line)
            sys.stdout.flush()


if __name__ == "__main__":
    main()
