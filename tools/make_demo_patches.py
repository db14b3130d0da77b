#!/usr/bin/env python3
"""Makes the demo's sample game and patch set: a game folder at version 10001 and, below a web root,
the manifest and patch files that bring it to 10005 (plain files, zips with nested folders, one with
directory entries and a delete list, a mixed-case ".ZIP", a step without files). Some files carry the
patch server's "slow" fault so that the progress bars visibly move. Safe to run again: both folders are
made afresh.
"""
import argparse
import os
import random
import shutil
import subprocess
import zipfile

PLAYER = "Setup/live/StandaloneWindows64/Player"
MANIFEST = "Setup/live/StandaloneWindows64/LauncherPatchInfo.txt"
CONFIG_KEY_TEXT = b"q7Rv#Lomxet"
BASE_VERSION = 10001
LATEST_VERSION = 10005


def sample_bytes(seed, size):
    """Incompressible bytes, so archives stay as big as their content and the bars have work to show."""
    return random.Random(seed).randbytes(size)


def write(path, data):
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def write_zip(path, entries):
    """entries: (name, bytes or None for a directory entry)."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data in entries:
            if data is None:
                archive.writestr(zipfile.ZipInfo(name), b"")
            else:
                archive.writestr(name, data)


def enciphered_config(version):
    """The launcher's "config" made with openssl alone: salt (21 bytes) | pad count | AES-256-ECB of the
    zero-filled text under the key text followed by the salt."""
    text = b"[Version] %d\n" % version
    pad = (16 - len(text) % 16) % 16
    salt = os.urandom(32 - len(CONFIG_KEY_TEXT))
    key = (CONFIG_KEY_TEXT + salt).hex()
    blocks = subprocess.run(["openssl", "enc", "-aes-256-ecb", "-nopad", "-K", key],
                            input=text + b"\0" * pad, capture_output=True, check=True).stdout
    return salt + bytes([pad]) + blocks


def read_config_version(path):
    """The version in a launcher "config" (0 when absent or unreadable), deciphered with openssl."""
    try:
        with open(path, "rb") as f:
            content = f.read()
    except OSError:
        return 0
    salt_length = 32 - len(CONFIG_KEY_TEXT)
    if len(content) < salt_length + 1 + 16:
        return 0
    salt, blocks = content[:salt_length], content[salt_length + 1:]
    key = (CONFIG_KEY_TEXT + salt).hex()
    result = subprocess.run(["openssl", "enc", "-d", "-aes-256-ecb", "-nopad", "-K", key],
                            input=blocks, capture_output=True)
    words = result.stdout.rstrip(b"\0").split()
    if result.returncode != 0 or len(words) < 2 or words[0].lower() != b"[version]":
        return 0
    try:
        return int(words[1])
    except ValueError:
        return 0


def make_game(game):
    """The installed game at 10001: files that later patches replace or retire. The launcher and the
    game executable are copied in by the demo script."""
    write(os.path.join(game, "config"), enciphered_config(BASE_VERSION))
    write(os.path.join(game, "Data", "Table.dat"), b"table of version 10001\n")
    write(os.path.join(game, "Movies", "old_intro.dat"), sample_bytes(1, 200000))
    write(os.path.join(game, "readme_10001.txt"), b"Norvane sample game, version 10001\n")


def make_patches(www):
    player = os.path.join(www, PLAYER)
    mb = 1 << 20
    # 10002: a plain file in a folder (slow) and an archive with nested folders, no directory entries.
    write(os.path.join(player, "Data", "Table.dat"), sample_bytes(2, 3 * mb))
    write(os.path.join(player, "Data", "Table.dat.fault"), b"slow\n")
    write_zip(os.path.join(player, "Patch10002.zip"), [
        ("Maps/World/region1.map", sample_bytes(3, 2 * mb)),
        ("Maps/World/Caves/cave1.map", sample_bytes(4, mb)),
        ("Sounds/theme.ogg", sample_bytes(5, mb)),
    ])
    # 10003: a mixed-case ".ZIP" with directory entries and a delete list that retires a 10001 file.
    write_zip(os.path.join(player, "Patch10003.ZIP"), [
        ("Movies/", None),
        ("Movies/New/", None),
        ("Movies/New/intro.dat", sample_bytes(6, 4 * mb)),
        ("delete.txt", b"Movies/old_intro.dat\nreadme_10001.txt\n"),
    ])
    write(os.path.join(player, "Patch10003.ZIP.fault"), b"slow\n")
    # 10004: a step without files only moves the version on.
    # 10005: one more archive and a plain file at the top.
    write_zip(os.path.join(player, "Patch10005.zip"), [
        ("Data/Items/items.dat", sample_bytes(7, 2 * mb)),
        ("Data/Items/Icons/icons.pak", sample_bytes(8, 2 * mb)),
    ])
    write(os.path.join(player, "readme_10005.txt"), b"Norvane sample game, version 10005\n")
    manifest = "\n".join([
        "[INSTALLER]",
        "1.0.0.0",
        "[LAUNCHER]",
        "0.0.0.5",
        "[PLAYER]",
        "10001 Patch10001.zip",
        "10002 Data/Table.dat Patch10002.zip",
        "10003 Patch10003.ZIP",
        "10004",
        "10005 Patch10005.zip readme_10005.txt",
        "",
    ])
    write(os.path.join(www, MANIFEST), manifest.encode("ascii"))


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--www", help="web root the patch server serves")
    parser.add_argument("--game", help="game folder to create at version 10001")
    parser.add_argument("--read-config", metavar="FILE", help="only print the version held in a config file")
    args = parser.parse_args()
    if args.read_config:
        print(read_config_version(args.read_config))
        return
    if not args.www or not args.game:
        parser.error("--www and --game are required")
    for folder in (args.www, args.game):
        shutil.rmtree(folder, ignore_errors=True)
    make_game(args.game)
    make_patches(args.www)
    print("sample game %d in %s, patches up to %d in %s" % (BASE_VERSION, args.game, LATEST_VERSION, args.www))


if __name__ == "__main__":
    main()
