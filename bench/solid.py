#!/usr/bin/env python3
"""Solid bench: real Windows binaries packed solid, beside the packers users know.

On the real-PE payload (bench/pe_payload.py: Debian's Wine PE files, stripped),
in one paired run (REPS times each, median), on CORES cores:
  pack   wrapper-tool pack --solid (when the tool has it), wrapper-tool pack,
         zip -9 -r, 7z a -t7z -mx9, an NSIS installer (solid LZMA, 64 MB
         dictionary) and tar | zstd --ultra -22 --long=27: bytes of the whole
         file, ratio to NSIS, wall time;
  extract  wrapper-tool extract of the solid and the default installer and
         7z x of the 7z archive, each into a fresh folder on the same file system;
  stub   the stub's logged unpack under Wine of the solid and the default installer.
Then the goals, MET or MISSED. The peers' figures are kept in the cache folder:
--skip-peers reuses them (7z and NSIS take a minute each).

usage: solid.py --tool PATH --stub ZuvidaDiroVivuv.exe [--reps 3] [--cores 2]
                [--solid-args "..."] [--skip-peers] [--cache build/bench]
"""
import argparse
import json
import os
import shlex
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import pe_payload  # noqa: E402
from run import MB, PROGRAM_TIMEOUT, STUB_MAX_SIZE, WineStub, manifest, timed, wine_env  # noqa: E402

SOLID, DEFAULT, NSIS, SEVEN = "wrapper-tool pack --solid", "wrapper-tool pack", "NSIS solid lzma", "7z a -t7z -mx9"
NSI = """Unicode true
SetCompressor /SOLID lzma
SetCompressorDictSize 64
OutFile "{out}"
InstallDir "$LOCALAPPDATA\\solid-bench"
RequestExecutionLevel user
Section
  SetOutPath "$INSTDIR"
  File /r "{payload}/*"
SectionEnd
"""
# What the stub and the demo inner setup leave in the work area beside the payload.
INNER_DONE = "received-arguments.txt"


def has_solid(tool):
    done = subprocess.run([tool, "pack", "--solid"], capture_output=True, text=True, timeout=60)
    return "unknown option '--solid'" not in done.stderr


def packers(args, work, payload, cores):
    """(name, output, command, working folder) of every packer to run."""
    out = lambda name: os.path.join(work, name)  # noqa: E731
    tool = [args.tool, "pack", args.stub, payload, "--quiet", "-j", str(cores), "-o"]
    rows = []
    if args.solid:
        rows.append((SOLID, out("solid.exe"), tool + [out("solid.exe"), "--solid"] + shlex.split(args.solid_args),
                     None))
    rows.append((DEFAULT, out("default.exe"), tool + [out("default.exe")], None))
    if args.skip_peers:
        return rows
    nsi = out("bench.nsi")
    with open(nsi, "w") as f:
        f.write(NSI.format(out=out("nsis.exe"), payload=payload))
    tar_zstd = f'set -o pipefail; tar -C "$1" -cf - . | zstd -q -f --ultra -22 --long=27 -T{cores} -o "$2"'
    return rows + [
        ("zip -9 -r", out("peer.zip"), ["zip", "-q", "-r", "-X", "-9", out("peer.zip"), "."], payload),
        (SEVEN, out("peer.7z"), ["7z", "a", "-t7z", "-mx9", f"-mmt{cores}", "-bso0", "-bsp0", out("peer.7z"), "."],
         payload),
        (NSIS, out("nsis.exe"), ["makensis", "-V1", "-NOCD", nsi], None),
        ("tar | zstd --ultra -22 --long=27", out("peer.tar.zst"), ["bash", "-c", tar_zstd, "bash", payload,
                                                                    out("peer.tar.zst")], None),
    ]


def paired(runners, reps, check=None):
    """Each runner once a repetition, in turn; the median of each. check(name)
    is called after a runner's first run."""
    times = {name: [] for name, _ in runners}
    for rep in range(reps):
        for name, run in runners:
            times[name].append(run())
            if rep == 0 and check:
                check(name)
        print(f"repetition {rep + 1} of {reps} done", file=sys.stderr)
    return {name: statistics.median(t) for name, t in times.items()}


def fresh(folder):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    return folder


def same_files(folder, expected, name):
    got = manifest(folder)
    wrong = sorted(k for k in expected if got.get(k) != expected[k])
    if wrong:
        raise RuntimeError(f"{name}: {len(wrong)} files differ from the payload, e.g. {wrong[0]}")


def stub_runner(wine, installer):
    def run():
        area = wine.work_area()
        if area:
            shutil.rmtree(area)
        # No installed client to fall back to: exit 1 when the inner setup cannot start.
        timed([wine.env["WINE"], installer], env=wine.env, accepted=(0, 1))
        seconds = wine.logged_unpack_time()
        # The stub does not wait for the inner setup; the demo's file says it is done.
        done = os.path.join(wine.work_area(), INNER_DONE)
        deadline = time.monotonic() + 10
        while not os.path.exists(done) and time.monotonic() < deadline:
            time.sleep(0.1)
        return seconds
    return run


def goal(text, value, limit):
    if value is None:
        print(f"  {text}: not measured")
    else:
        print(f"  {text}: {value:.3f} (at most {limit}) -> {'MET' if value <= limit else 'MISSED'}")


def ratio(a, b):
    return a / b if a is not None and b else None


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tool", required=True)
    parser.add_argument("--stub", required=True)
    parser.add_argument("--reps", type=int, default=3)
    parser.add_argument("--cores", type=int, default=2)
    parser.add_argument("--solid-args", default="", help="more arguments for pack --solid")
    parser.add_argument("--skip-peers", action="store_true", help="reuse the peers' cached figures")
    parser.add_argument("--cache", default=os.path.dirname(pe_payload.DEFAULT_CACHE))
    parser.add_argument("--work", default="/dev/shm/wrapper-solid" if os.path.isdir("/dev/shm") else None)
    args = parser.parse_args()
    sys.stdout.reconfigure(line_buffering=True)
    cpus = sorted(os.sched_getaffinity(0))[:args.cores]
    os.sched_setaffinity(0, cpus)  # every program started inherits it
    cores = len(cpus)

    inner = os.path.join(os.path.dirname(os.path.abspath(args.stub)), "demo-setup.exe")
    payload, count, total = pe_payload.build(os.path.join(args.cache, "pe-payload"),
                                             inner if os.path.isfile(inner) else None, cores)
    print(f"payload: {count} files, {total:,d} bytes ({payload})")
    expected = manifest(payload)
    peers_file = os.path.join(args.cache, "solid-peers.json")
    cached = None
    if args.skip_peers and os.path.isfile(peers_file):
        with open(peers_file) as f:
            cached = json.load(f)
        if cached.get("payload") != [count, total]:
            print("the cached peers' figures are of another payload: measuring them again")
            cached = None
    args.skip_peers = cached is not None
    args.solid = has_solid(args.tool)
    if not args.solid:
        print(f"{SOLID}: skipped, the tool has no --solid yet")
    work = fresh(args.work or os.path.join(args.cache, "solid-work"))

    rows = packers(args, work, payload, cores)
    pack = paired([(name, lambda o=o, c=c, d=d: (os.path.exists(o) and os.remove(o), timed(c, cwd=d))[1])
                   for name, o, c, d in rows], args.reps)
    sizes = {name: os.path.getsize(o) for name, o, _, _ in rows}
    out = os.path.join(work, "out")
    extractors = [(f"wrapper-tool extract ({n})", [args.tool, "extract", o, out])
                  for n, o in (("solid", os.path.join(work, "solid.exe")),
                               ("default", os.path.join(work, "default.exe"))) if os.path.exists(o)]
    if not args.skip_peers:
        extractors.append(("7z x", ["7z", "x", "-y", "-bso0", "-bsp0", "-o" + out, os.path.join(work, "peer.7z")]))
    extract = paired([(n, lambda c=c: (fresh(out), timed(c))[1]) for n, c in extractors], args.reps,
                     lambda n: same_files(out, expected, n))
    if args.skip_peers:
        pack.update(cached["pack"])
        sizes.update(cached["bytes"])
        extract["7z x"] = cached["7z x"]
    else:
        peers = [name for name, _, _, _ in rows if not name.startswith("wrapper-tool")]
        with open(peers_file, "w") as f:
            json.dump({"payload": [count, total], "reps": args.reps, "pack": {n: pack[n] for n in peers},
                       "bytes": {n: sizes[n] for n in peers}, "7z x": extract["7z x"]}, f, indent=1)

    stub = {}
    wines = []
    if shutil.which(wine_env().get("WINE", "wine")):
        try:
            runners = []
            for label in ("solid", "default"):
                installer = os.path.join(work, label + ".exe")
                if os.path.exists(installer):
                    wines.append(WineStub(fresh(os.path.join(work, "wine-" + label)), installer))
                    runners.append((label, stub_runner(wines[-1], installer)))
            checks = {label: wine for (label, _), wine in zip(runners, wines)}
            stub = paired(runners, args.reps, lambda n: same_files(checks[n].work_area(), expected, "stub " + n))
        finally:
            for wine in wines:
                wine.close()

    nsis = sizes.get(NSIS)
    print(f"\nmedian of {args.reps} paired runs, {count} files, {total / MB:.1f} MB, {cores} cores, on {work}"
          f"{' (peers from ' + peers_file + ', ' + str(cached['reps']) + ' runs)' if args.skip_peers else ''}\n")
    print(f"{'packer':<36} {'bytes':>13} {'/ NSIS':>7} {'pack s':>8}")
    for name in sizes:
        print(f"{name:<36} {sizes[name]:13,d} {ratio(sizes[name], nsis) or 0:7.3f} {pack[name]:8.2f}")
    print(f"\n{'extractor':<36} {'s':>8}")
    for name, seconds in extract.items():
        print(f"{name:<36} {seconds:8.3f}")
    for name, seconds in stub.items():
        print(f"{'stub under Wine, logged (' + name + ')':<36} {seconds:8.3f}")

    solid_x, default_x = extract.get("wrapper-tool extract (solid)"), extract.get("wrapper-tool extract (default)")
    size = os.path.getsize(args.stub)
    print("\ngoals")
    goal("solid bytes / NSIS (stretch 1.00)", ratio(sizes.get(SOLID), nsis), 1.04)
    goal("extract solid / extract default", ratio(solid_x, default_x), 1.3)
    goal("extract solid / 7z x", ratio(solid_x, extract.get("7z x")), 0.25)
    goal("pack --solid wall / 7z a wall", ratio(pack.get(SOLID), pack.get(SEVEN)), 1.0)
    goal("stub unpack solid / default", ratio(stub.get("solid"), stub.get("default")), 1.3)
    print(f"  stub size: {size:,d} bytes (at most {STUB_MAX_SIZE:,d}) -> "
          f"{'MET' if size <= STUB_MAX_SIZE else 'MISSED'}")
    print(f"(every program had at most {PROGRAM_TIMEOUT} s)")
    shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
