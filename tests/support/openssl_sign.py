#!/usr/bin/env python3
"""P-256 keys and signatures made by the openssl command line alone, for checking the launcher's CNG
verification against an independent implementation. DER signatures are re-encoded as r||s here.

  openssl_sign.py keygen KEY.pem          prints the public key as 128 hex (X||Y)
  openssl_sign.py fixture DIR             writes keys, a signed blob and a signed PatchIndex.txt to DIR
Imported: keygen(path), public_hex(path), sign(path, data) -> 64 bytes, signed_index(path, body) -> text
"""
import hashlib
import os
import subprocess
import sys


def keygen(path):
    subprocess.run(["openssl", "ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out", path], check=True)
    return public_hex(path)


def public_hex(path):
    der = subprocess.run(["openssl", "ec", "-in", path, "-pubout", "-outform", "DER"], check=True,
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout
    point = der[-65:]  # the uncompressed point ends the SubjectPublicKeyInfo: 04 || X || Y
    if point[0] != 4:
        raise ValueError("not an uncompressed P-256 point")
    return point[1:].hex()


def _der_integer(der, at):
    if der[at] != 0x02:
        raise ValueError("DER: INTEGER expected")
    length = der[at + 1]
    value = int.from_bytes(der[at + 2:at + 2 + length], "big")
    return value, at + 2 + length


def der_to_raw(der):
    """ECDSA-Sig-Value ::= SEQUENCE { r INTEGER, s INTEGER } (short lengths only, as P-256 needs)."""
    if der[0] != 0x30 or der[1] != len(der) - 2:
        raise ValueError("DER: SEQUENCE expected")
    r, at = _der_integer(der, 2)
    s, at = _der_integer(der, at)
    if at != len(der):
        raise ValueError("DER: trailing bytes")
    return r.to_bytes(32, "big") + s.to_bytes(32, "big")


def sign(key_path, data):
    der = subprocess.run(["openssl", "dgst", "-sha256", "-sign", key_path], input=data, check=True,
                         stdout=subprocess.PIPE).stdout
    return der_to_raw(der)


def signed_index(key_path, body):
    """body: the index text before its signature line; answers the whole index text."""
    return body + "signature %s\n" % sign(key_path, body.encode("ascii")).hex()


def index_body(manifest_bytes, files):
    """files: {path: bytes}. Written here by hand, independent of the launcher's own formatter."""
    lines = ["VYR-PATCH-INDEX 1", "manifest " + hashlib.sha256(manifest_bytes).hexdigest()]
    for path in sorted(files):
        lines.append("file %s %d %s" % (hashlib.sha256(files[path]).hexdigest(), len(files[path]), path))
    return "\n".join(lines) + "\n"


def write_fixture(folder):
    os.makedirs(folder, exist_ok=True)
    key = os.path.join(folder, "key.pem")
    other = os.path.join(folder, "other-key.pem")
    with open(os.path.join(folder, "key.hex"), "w") as f:
        f.write(keygen(key))
    with open(os.path.join(folder, "other-key.hex"), "w") as f:
        f.write(keygen(other))
    data = b"Norvane patch data signed by openssl\n" * 3
    with open(os.path.join(folder, "data.bin"), "wb") as f:
        f.write(data)
    with open(os.path.join(folder, "data.sig"), "w") as f:
        f.write(sign(key, data).hex())
    body = index_body(b"[PLAYER]\n10005\n", {"Player/Patch10005.zip": b"zip", "Launcher/VYRLauncher.exe": b"MZ"})
    with open(os.path.join(folder, "PatchIndex.txt"), "w", newline="\n") as f:
        f.write(signed_index(key, body))


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "keygen":
        print(keygen(sys.argv[2]))
    elif len(sys.argv) == 3 and sys.argv[1] == "fixture":
        write_fixture(sys.argv[2])
    else:
        sys.exit(__doc__)
