#!/usr/bin/env python3
"""Makes the demo's sample game builds and the installed game: builds 10001 to 10005 of a small game
(nested folders, files changed, added and retired, a build that changes nothing), from which scripts/demo
publishes the patch set with vyr-publish, and a game folder holding build 10001 with its config. Also the
zip and config helpers other tests use. Safe to run again: the folders are made afresh.
"""
import argparse
import os
import random
import shutil
import subprocess
import zipfile

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


def build_files(version):
    """The files of one game build, by name below the game folder."""
    mb = 1 << 20
    files = {
        "Data/Table.dat": b"table of version 10001\n",
        "Movies/old_intro.dat": sample_bytes(1, 200000),
        "readme_10001.txt": b"Norvane sample game, version 10001\n",
    }
    if version >= 10002:
        files.update({"Data/Table.dat": sample_bytes(2, 3 * mb), "Maps/World/region1.map": sample_bytes(3, 2 * mb),
                      "Maps/World/Caves/cave1.map": sample_bytes(4, mb), "Sounds/theme.ogg": sample_bytes(5, mb)})
    if version >= 10003:
        files["Movies/New/intro.dat"] = sample_bytes(6, 4 * mb)
        del files["Movies/old_intro.dat"]
        del files["readme_10001.txt"]
    # 10004 changes nothing: its step only moves the version on.
    if version >= 10005:
        files.update({"Data/Items/items.dat": sample_bytes(7, 2 * mb),
                      "Data/Items/Icons/icons.pak": sample_bytes(8, 2 * mb),
                      "readme_10005.txt": b"Norvane sample game, version 10005\n"})
    return files


def make_builds(builds):
    for version in range(BASE_VERSION, LATEST_VERSION + 1):
        for name, data in build_files(version).items():
            write(os.path.join(builds, str(version), *name.split("/")), data)


def make_game(game):
    """The installed game at 10001. The launcher and the game executable are copied in by the demo script."""
    for name, data in build_files(BASE_VERSION).items():
        write(os.path.join(game, *name.split("/")), data)
    write(os.path.join(game, "config"), enciphered_config(BASE_VERSION))


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--builds", help="folder to hold one folder per game build, 10001 to 10005")
    parser.add_argument("--game", help="game folder to create at version 10001")
    parser.add_argument("--read-config", metavar="FILE", help="only print the version held in a config file")
    args = parser.parse_args()
    if args.read_config:
        print(read_config_version(args.read_config))
        return
    if not args.builds or not args.game:
        parser.error("--builds and --game are required")
    for folder in (args.builds, args.game):
        shutil.rmtree(folder, ignore_errors=True)
    make_builds(args.builds)
    make_game(args.game)
    print("sample game %d in %s, builds up to %d in %s" % (BASE_VERSION, args.game, LATEST_VERSION, args.builds))


if __name__ == "__main__":
    main()
