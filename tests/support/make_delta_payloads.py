#!/usr/bin/env python3
"""Makes a base file, a newer build of it and their payloads with the zstd command line, as a studio's
publishing host would: delta.zst (the base as --patch-from reference, --long=31, level 19) and
whole.zst (the target alone), plus target.sha256 (hex, by hashlib). The base is a given real file or,
without one, deterministic pseudo-random bytes; the target is a realistic rebuild of it: small changes
every 64 KiB, a few inserted bytes that shift everything after them, and a new tail.

usage: make_delta_payloads.py OUT_DIR [BASE_FILE [TARGET_FILE]]"""
import hashlib
import os
import random
import shutil
import subprocess
import sys

STRIDE = 64 * 1024


def rebuilt(base, seed=11):
    rng = random.Random(seed)
    pieces = []
    for start in range(0, len(base), STRIDE):
        chunk = bytearray(base[start:start + STRIDE])
        if len(chunk) > 64:
            at = rng.randrange(len(chunk) - 32)
            chunk[at:at + 8] = rng.randbytes(8)
            if rng.random() < 0.3:
                chunk[at:at] = rng.randbytes(rng.randrange(1, 40))
        pieces.append(bytes(chunk))
    pieces.append(rng.randbytes(len(base) // 50 + 1000))
    return b"".join(pieces)


def zstd(args, out):
    with open(out, "wb") as f:
        subprocess.run(["zstd", "-q", "-c"] + args, check=True, stdout=f)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    base_path = os.path.join(out, "base.bin")
    target_path = os.path.join(out, "target.bin")
    if len(sys.argv) > 2:
        shutil.copyfile(sys.argv[2], base_path)
    else:
        with open(base_path, "wb") as f:
            f.write(random.Random(3).randbytes(3 << 20))
    if len(sys.argv) > 3:
        shutil.copyfile(sys.argv[3], target_path)
    else:
        with open(base_path, "rb") as f:
            target = rebuilt(f.read())
        with open(target_path, "wb") as f:
            f.write(target)
    zstd(["-19", "--long=31", "--patch-from=" + base_path, target_path], os.path.join(out, "delta.zst"))
    zstd(["-19", target_path], os.path.join(out, "whole.zst"))
    with open(target_path, "rb") as f:
        digest = hashlib.sha256(f.read()).hexdigest()
    with open(os.path.join(out, "target.sha256"), "w") as f:
        f.write(digest)


if __name__ == "__main__":
    main()
