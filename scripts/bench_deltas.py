"""Delta patches on real releases (the host part of scripts/bench): what a player downloads for one release
of a real pair of consecutive public Windows builds, and what publishing it costs.

Each pair is two consecutive versions of an npm package that carries Windows binaries, fetched once with
`npm pack` (the machine's configured registry) into .deps/bench-pairs. vyr-publish releases the older
version to the newer one as a step; the player's bytes are the step's payloads when their sum
is below the archive, else the archive, plus the delta list itself. References: (a) the archive players
download today, (b) the sum of `zstd -19 --long=31 --patch-from=OLD NEW` over the changed files (new
files: `zstd -19 --long=31 NEW`). Publishing is timed and its peak memory read by /usr/bin/time -v."""
import filecmp
import os
import re
import shutil
import subprocess
import tarfile
import tempfile

# Consecutive releases, each a Windows executable or library with its package's small text files.
PAIRS = [
    ("@esbuild/win32-x64", "0.28.1", "0.28.2"),
    ("@biomejs/cli-win32-x64", "2.6.8", "2.6.9"),
    ("@rollup/rollup-win32-x64-msvc", "4.69.3", "4.70.0"),
]
GOAL_OF_REFERENCE = 1.05
MB = 1 << 20


def fetch_release(cache, package, version):
    """The package's files below a folder of the cache, fetched and unpacked once."""
    slug = package.strip("@").replace("/", "-")
    tree = os.path.join(cache, slug, version)
    if os.path.isdir(tree):
        return tree
    if not shutil.which("npm"):
        raise SystemExit("bench: the delta section fetches its pairs with npm; scripts/install-deps installs it")
    staging = tempfile.mkdtemp(dir=cache)
    try:
        packed = subprocess.run(["npm", "pack", "--silent", "%s@%s" % (package, version), "--pack-destination",
                                 staging], check=True, capture_output=True, text=True).stdout.split()[-1]
        unpacked = os.path.join(staging, "tree")
        with tarfile.open(os.path.join(staging, packed)) as archive:
            archive.extractall(unpacked, filter="data")
        os.makedirs(os.path.dirname(tree), exist_ok=True)
        os.replace(os.path.join(unpacked, "package"), tree)
    finally:
        shutil.rmtree(staging, ignore_errors=True)
    return tree


def files_below(root):
    found = {}
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            found[os.path.relpath(path, root)] = path
    return found


def reference_bytes(old, new):
    """(changed bytes, sum of zstd -19 --long=31 --patch-from over the changed files)."""
    old_files, changed, reference = files_below(old), 0, 0
    for name, path in files_below(new).items():
        base = old_files.get(name)
        if base and filecmp.cmp(base, path, shallow=False):
            continue
        changed += os.path.getsize(path)
        args = ["zstd", "-19", "--long=31", "-c", "-q"] + (["--patch-from=" + base] if base else []) + [path]
        reference += len(subprocess.run(args, check=True, capture_output=True).stdout)
    return changed, reference


def timed_release(tool, www, old, new, version, key):
    """(seconds, peak MB) of one release run under /usr/bin/time -v."""
    result = subprocess.run(["/usr/bin/time", "-v", tool, "release", "--www", www, "--from", old, "--to", new,
                             "--version", str(version), "--private", key], capture_output=True, text=True)
    if result.returncode != 0:
        raise SystemExit("bench: vyr-publish release failed:\n" + result.stdout + result.stderr)
    wall = re.search(r"Elapsed \(wall clock\) time.*: (?:(\d+):)?(\d+):([\d.]+)", result.stderr)
    seconds = int(wall.group(1) or 0) * 3600 + int(wall.group(2)) * 60 + float(wall.group(3))
    peak_kb = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", result.stderr).group(1))
    return seconds, peak_kb / 1024.0


def step_payload_bytes(www, version):
    """The sum of the payloads of the step's block, read from the served list; None without a block."""
    total, inside = None, False
    with open(os.path.join(www, "PatchDeltas.txt")) as listing:
        for line in listing:
            fields = line.split(" ")
            if fields[0] == "step":
                inside = int(fields[1]) == version
                total = 0 if inside else total
            elif inside and fields[0] in ("delta", "whole"):
                total += int(fields[5 if fields[0] == "delta" else 4])
    return total


def measure_pair(tool, cache, package, old_version, new_version):
    old = fetch_release(cache, package, old_version)
    new = fetch_release(cache, package, new_version)
    work = tempfile.mkdtemp(prefix="vyr-bench-deltas-")
    try:
        www, key = os.path.join(work, "www"), os.path.join(work, "key.pem")
        subprocess.run([tool, "keygen", "--private", key], check=True, capture_output=True)
        seconds, peak = timed_release(tool, www, old, new, 10002, key)
        verified = subprocess.run([tool, "verify", "--www", www], capture_output=True, text=True)
        if verified.returncode != 0:
            raise SystemExit("bench: verify failed after releasing %s:\n%s" % (package, verified.stderr))
        archive = os.path.getsize(os.path.join(www, "Player", "Patch10002.zip"))
        payloads = step_payload_bytes(www, 10002)
        listing = os.path.getsize(os.path.join(www, "PatchDeltas.txt"))
        player = (payloads if payloads is not None and payloads < archive else archive) + listing
        changed, reference = reference_bytes(old, new)
        return {"name": "%s %s -> %s" % (package, old_version, new_version), "player": player, "archive": archive,
                "reference": reference, "changed": changed, "seconds": seconds, "peak": peak}
    finally:
        shutil.rmtree(work, ignore_errors=True)


def bench_deltas(tool, cache):
    os.makedirs(cache, exist_ok=True)
    return [measure_pair(tool, cache, *pair) for pair in PAIRS]


def print_delta_table(results):
    print()
    print("Delta patches: what a player downloads for one real release (host, vyr-publish)")
    print("| %-52s | %11s | %11s | %6s | %11s | %6s | %7s | %9s | %9s |" %
          ("pair", "player B", "archive B", "ratio", "zstd B", "ratio", "goal", "s/100 MB", "peak MB"))
    print("|%s|%s|%s|%s|%s|%s|%s|%s|%s|" % ("-" * 54, "-" * 13, "-" * 13, "-" * 8, "-" * 13, "-" * 8, "-" * 9,
                                             "-" * 11, "-" * 11))
    for r in results:
        ratio = r["player"] / float(r["reference"])
        print("| %-52s | %11d | %11d | %6.3f | %11d | %6.3f | %7s | %9.1f | %9.0f |" %
              (r["name"], r["player"], r["archive"], r["player"] / float(r["archive"]), r["reference"], ratio,
               "<= %.2f" % GOAL_OF_REFERENCE if ratio <= GOAL_OF_REFERENCE else "MISSED",
               r["seconds"] * 100 * MB / max(r["changed"], 1), r["peak"]))
    print("changed files per pair: " + ", ".join("%.1f MB" % (r["changed"] / MB) for r in results) +
          "; peak MB is the release run's maximum resident set")
