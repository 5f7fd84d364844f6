#!/usr/bin/env python3
"""The real-PE payload of the solid bench, built once into a cache folder:
the x86_64 PE files of Debian's Wine (DLLs, programs, drivers), each stripped
with x86_64-w64-mingw32-strip as a release build ships them, and the inner
setup at the top (pack refuses a folder without it): the demo inner setup of a
Windows tree, else one of the stripped Wine programs under its name.

usage: pe_payload.py [--cache build/bench/pe-payload] [--inner-setup EXE]
Prints the folder, its file count and bytes.
"""
import argparse
import concurrent.futures
import json
import os
import shutil
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WINE_PE = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows"
STRIP = "x86_64-w64-mingw32-strip"
INNER_SETUP = "RezuviZiduRuzudUvovovaz.exe"
DEFAULT_CACHE = os.path.join(ROOT, "build", "bench", "pe-payload")
INNER_CANDIDATES = [os.path.join(ROOT, "build", "bin", "demo-setup.exe"),
                    os.path.join(ROOT, "build", "win64", "bin", "demo-setup.exe")]
# A Wine program that stands in when no Windows tree has built the demo.
FALLBACK_INNER = "hostname.exe"
STRIP_TIMEOUT = 120


def strip_one(source, target):
    """Strips one file; one that strip cannot read is copied as it is."""
    done = subprocess.run([STRIP, "-o", target, source], capture_output=True, timeout=STRIP_TIMEOUT)
    if done.returncode != 0:
        shutil.copyfile(source, target)
        return False
    return True


def summary(folder):
    sizes = [os.path.getsize(os.path.join(d, n)) for d, _, names in os.walk(folder) for n in names]
    return len(sizes), sum(sizes)


def build(cache=DEFAULT_CACHE, inner_setup=None, jobs=None):
    """The payload folder, made when the cache does not hold a finished one;
    returns (folder, file count, bytes)."""
    stamp = cache + ".json"
    if os.path.isdir(cache) and os.path.isfile(stamp):
        with open(stamp) as f:
            known = json.load(f)
        return cache, known["files"], known["bytes"]
    names = sorted(os.listdir(WINE_PE))
    if not names:
        raise RuntimeError(f"no PE files in {WINE_PE}: install wine64")
    partial = cache + ".partial"
    shutil.rmtree(partial, ignore_errors=True)
    os.makedirs(partial)
    with concurrent.futures.ThreadPoolExecutor(jobs or os.cpu_count() or 1) as pool:
        stripped = list(pool.map(lambda n: strip_one(os.path.join(WINE_PE, n), os.path.join(partial, n)),
                                 names))
    unstripped = [n for n, ok in zip(names, stripped) if not ok]
    inner = inner_setup or next((c for c in INNER_CANDIDATES if os.path.isfile(c)), None)
    if inner:
        shutil.copyfile(inner, os.path.join(partial, INNER_SETUP))
    else:
        inner = FALLBACK_INNER + " (stripped, renamed)"
        shutil.copyfile(os.path.join(partial, FALLBACK_INNER), os.path.join(partial, INNER_SETUP))
    shutil.rmtree(cache, ignore_errors=True)
    os.rename(partial, cache)
    files, size = summary(cache)
    with open(stamp, "w") as f:
        json.dump({"files": files, "bytes": size, "inner_setup": os.path.basename(inner),
                   "unstripped": unstripped}, f, indent=1)
    if unstripped:
        print(f"pe-payload: strip could not read {len(unstripped)} files, copied as they are: "
              + ", ".join(unstripped), file=sys.stderr)
    return cache, files, size


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cache", default=DEFAULT_CACHE)
    parser.add_argument("--inner-setup", help="the inner setup to put at the top")
    args = parser.parse_args()
    folder, files, size = build(args.cache, args.inner_setup)
    print(f"pe-payload: {folder}: {files} files, {size:,d} bytes")


if __name__ == "__main__":
    main()
