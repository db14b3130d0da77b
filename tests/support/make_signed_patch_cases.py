#!/usr/bin/env python3
"""Serves one small signed release per case below <www>/Setup/live/StandaloneWindows64/verify/<case>/,
signed by openssl alone with the build's test key, and then spoiled the way the case's name says
("cache-lag" is served as good is; its test puts an older manifest in front of it for a moment).
The "deltas" cases serve two steps, 10006 and 10007, with their archives and a signed delta list whose
payloads the zstd command line made from the 10005 build up; "deltas-bad-target" signs a wrong target
hash for one file. Beside each: Installed/ (the 10005 build), Expected/ (the 10007 build) and
payloads.txt ("<version> <target path> <payload path>" per line) for the test to compare with.

  make_signed_patch_cases.py KEY.pem WWW-ROOT
"""
import hashlib
import io
import os
import random
import subprocess
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import openssl_sign  # noqa: E402

MANIFEST = b"[INSTALLER]\n1.0.0.0\n[LAUNCHER]\n0.0.0.5\n[PLAYER]\n10006 Data/table.dat pack.zip\n"


def pack():
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("Maps/region.map", b"region " * 5000)
    return buffer.getvalue()


def flip(data, at):
    return data[:at] + bytes([data[at] ^ 0x01]) + data[at + 1:]


def write(folder, name, data):
    path = os.path.join(folder, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def serve_case(root, case, key, other_key):
    folder = os.path.join(root, "Setup", "live", "StandaloneWindows64", "verify", case)
    files = {"Player/Data/table.dat": os.urandom(300000), "Player/pack.zip": pack()}
    manifest = MANIFEST
    if case == "unlisted":
        manifest = MANIFEST.replace(b"pack.zip", b"pack.zip extra.bin")
        write(folder, "Player/extra.bin", b"not in the index")
    index = openssl_sign.signed_index(other_key if case == "wrong-key" else key,
                                      openssl_sign.index_body(manifest, files)).encode("ascii")
    if case == "flipped-file":
        files["Player/Data/table.dat"] = flip(files["Player/Data/table.dat"], 150000)
    if case == "flipped-manifest":
        manifest = flip(manifest, manifest.index(b"10006"))
    if case == "flipped-index":
        index = flip(index, index.index(b"file ") + 10)
    if case == "flipped-signature":
        index = flip(index, index.index(b"signature ") + 20)
    write(folder, "LauncherPatchInfo.txt", manifest)
    if case != "no-index":
        write(folder, "PatchIndex.txt", index)
    for path, data in files.items():
        write(folder, path, data)


DELTA_MANIFEST = b"[INSTALLER]\n1.0.0.0\n[LAUNCHER]\n0.0.0.5\n[PLAYER]\n10006 Patch10006.zip\n10007 Patch10007.zip\n"
REGION_MAP = "Maps/r\u00e9gion.map"  # a name beyond ASCII, UTF-8 in the list and flagged so in the archive
NEW_FILE = "N\u00e9o/new.dat"  # shipped whole, into a folder the old build lacks


def changed(data, rng, spans):
    data = bytearray(data)
    for _ in range(spans):
        at = rng.randrange(len(data) - 64)
        data[at:at + 64] = rng.randbytes(64)
    return bytes(data)


def delta_builds():
    """The game build at 10005, 10006 and 10007: {path: bytes}; delete.txt only where a step ships one."""
    rng = random.Random(10005)
    v5 = {"Data/table.dat": rng.randbytes(400000), REGION_MAP: rng.randbytes(120000), "old.bin": b"retired\n"}
    v6 = {"Data/table.dat": changed(v5["Data/table.dat"], rng, 6) + rng.randbytes(1000),
          REGION_MAP: changed(v5[REGION_MAP], rng, 3), NEW_FILE: rng.randbytes(5000),
          "delete.txt": b"old.bin\n"}
    v7 = {"Data/table.dat": changed(v6["Data/table.dat"], rng, 4), REGION_MAP: v6[REGION_MAP],
          NEW_FILE: v6[NEW_FILE]}
    return v5, v6, v7


def zstd_payload(new, old=None):
    """One zstd frame of `new`: with `old`, zstd's patch-from with the old bytes as reference."""
    with tempfile.TemporaryDirectory() as scratch:
        new_path, old_path, out = (os.path.join(scratch, n) for n in ("new", "old", "out"))
        with open(new_path, "wb") as f:
            f.write(new)
        command = ["zstd", "-q", "-f", "-19", "--long=31", new_path, "-o", out]
        if old is not None:
            with open(old_path, "wb") as f:
                f.write(old)
            command.insert(3, "--patch-from=" + old_path)
        subprocess.run(command, check=True, stderr=subprocess.PIPE)  # its tuning notes, or the failure
        with open(out, "rb") as f:
            return f.read()


def archive_of(files):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as z:
        for path in sorted(files):
            z.writestr(path, files[path])
    return buffer.getvalue()


def sha(data):
    return hashlib.sha256(data).hexdigest()


def delta_step(version, archive, before, after, served, payloads, wrong_target=None):
    """The step's block of the list (written by hand, independent of the launcher's formatter); adds
    the payloads to `served` and their names to `payloads`."""
    lines = ["step %d %s Patch%d.zip" % (version, sha(archive), version)]
    for path in sorted(p for p in after if before.get(p) != after[p]):
        base = before.get(path)
        payload = zstd_payload(after[path], base)
        payload_path = "Player/Deltas/%d/%s.zst" % (version, sha(payload))
        served[payload_path] = payload
        payloads.append("%d %s %s" % (version, path, payload_path))
        target = sha(after[path] + b"x") if path == wrong_target else sha(after[path])
        fields = [target, str(len(after[path])), sha(payload), str(len(payload)), payload_path, path]
        lines.append(("delta %s " % sha(base) if base is not None else "whole ") + " ".join(fields))
    return lines


def serve_delta_case(root, case, key):
    folder = os.path.join(root, "Setup", "live", "StandaloneWindows64", "verify", case)
    v5, v6, v7 = delta_builds()
    archives = {10006: archive_of({p: v6[p] for p in v6 if v5.get(p) != v6[p]}),
                10007: archive_of({p: v7[p] for p in v7 if v6.get(p) != v7[p]})}
    served = {"Player/Patch%d.zip" % v: data for v, data in archives.items()}
    index = openssl_sign.signed_index(key, openssl_sign.index_body(DELTA_MANIFEST, served))
    payloads = []
    wrong = "Data/table.dat" if case == "deltas-bad-target" else None
    body = ["VYR-PATCH-DELTAS 1"]
    body += delta_step(10006, archives[10006], v5, v6, served, payloads, wrong)
    body += delta_step(10007, archives[10007], {p: d for p, d in v6.items() if p != "delete.txt"}, v7, served,
                       payloads)
    body = "\n".join(body) + "\n"
    deltas = body + "signature %s\n" % openssl_sign.sign(key, body.encode("utf-8")).hex()
    write(folder, "LauncherPatchInfo.txt", DELTA_MANIFEST)
    write(folder, "PatchIndex.txt", index.encode("ascii"))
    write(folder, "PatchDeltas.txt", deltas.encode("utf-8"))
    write(folder, "payloads.txt", ("\n".join(payloads) + "\n").encode("utf-8"))
    for path, data in served.items():
        write(folder, path, data)
    for path, data in v5.items():
        write(folder, "Installed/" + path, data)
    for path, data in v7.items():
        write(folder, "Expected/" + path, data)


def main():
    key, root = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as scratch:
        other_key = os.path.join(scratch, "other.pem")
        openssl_sign.keygen(other_key)
        for case in ("good", "flipped-file", "flipped-manifest", "flipped-index", "flipped-signature", "wrong-key",
                     "no-index", "unlisted", "cache-lag"):
            serve_case(root, case, key, other_key)
    for case in ("deltas", "deltas-bad-target"):
        serve_delta_case(root, case, key)


if __name__ == "__main__":
    main()
