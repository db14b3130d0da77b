#!/usr/bin/env python3
"""Serves one small signed release per case below <www>/Setup/live/StandaloneWindows64/verify/<case>/,
signed by openssl alone with the build's test key, and then spoiled the way the case's name says
("cache-lag" is served as good is; its test puts an older manifest in front of it for a moment).

  make_signed_patch_cases.py KEY.pem WWW-ROOT
"""
import io
import os
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


def main():
    key, root = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as scratch:
        other_key = os.path.join(scratch, "other.pem")
        openssl_sign.keygen(other_key)
        for case in ("good", "flipped-file", "flipped-manifest", "flipped-index", "flipped-signature", "wrong-key",
                     "no-index", "unlisted", "cache-lag"):
            serve_case(root, case, key, other_key)


if __name__ == "__main__":
    main()
