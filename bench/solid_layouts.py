#!/usr/bin/env python3
"""Chooses the solid layout by figures: packs one payload with pack --solid
under each level, prefix share and block size given, and prints the
installer's bytes, the pack's wall and CPU time and extract --test's wall
time (the decode on all cores). Not a test: run by hand.

  bench/solid_layouts.py --tool build/bin/wrapper-tool --stub build/bin/ZuvidaDiroVivuv.exe \
      --payload build/bench/pe-payload --config 19:25:32 --config 22:25:56 ...
"""
import argparse
import os
import resource
import subprocess
import sys
import tempfile
import time

TIMEOUT = 1800


def timed(command):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    subprocess.run(command, check=True, timeout=TIMEOUT, stdout=subprocess.DEVNULL)
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
    args = parser.parse_args()
    print("level  prefix  block    installer bytes   pack wall  pack cpu  test wall")
    with tempfile.TemporaryDirectory(dir=args.scratch) as scratch:
        out = os.path.join(scratch, "solid.exe")
        for config in args.config:
            level, prefix, block = config.split(":")
            pack_wall, pack_cpu = timed([args.tool, "pack", args.stub, args.payload, "-o", out, "--quiet",
                                         "--solid", "--level", level, "--solid-prefix", prefix,
                                         "--solid-block", block])
            test_wall, _ = timed([args.tool, "extract", out, "--test", "--quiet"])
            print("%5s  %5s%%  %5s  %17s  %8.1f s  %6.1f s  %7.2f s" % (
                level, prefix, block, format(os.path.getsize(out), ","), pack_wall, pack_cpu, test_wall))
            sys.stdout.flush()


if __name__ == "__main__":
    main()
