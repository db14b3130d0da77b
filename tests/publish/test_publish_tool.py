#!/usr/bin/env python3
"""vyr-publish run on generated builds: what a release carries (compared by content, stored or deflated,
the delete list), the manifest and the index it keeps, a signature
openssl accepts, verify catching a tampered archive, a missing file and a wrong key, the launcher version
check on real PE files, and every name the formats cannot carry refused with nothing published. The delta
list is read here with a parser of its own and its payloads decoded by the zstd command-line tool."""
import argparse
import glob
import hashlib
import os
import random
import resource
import signal
import stat
import struct
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from signature_der import der_signature, split_index  # noqa: E402

TOOL = None


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode())


def read(path):
    with open(path, "rb") as f:
        return f.read()


def parse_delta_list(text):
    """{version: (archive hex, archive name, {target: line fields})}, launcher lines, signed body, r||s."""
    body, found, signature = text.rpartition(b"\nsignature ")
    body, signature = (body + b"\n", bytes.fromhex(signature.strip().decode())) if found else (text, None)
    lines = body.decode().splitlines()
    assert lines[0] == "VYR-PATCH-DELTAS 1", lines[0]
    steps, launcher, current = {}, [], None
    for line in lines[1:]:
        kind = line.split(" ", 1)[0]
        if kind == "step":
            _, version, archive_hex, archive_name = line.split(" ", 3)
            current = steps.setdefault(int(version), (archive_hex, archive_name, {}))[2]
        elif kind in ("delta", "whole"):
            fields = line.split(" ", 7 if kind == "delta" else 6)
            entry = {"kind": kind, "base": fields[1] if kind == "delta" else None}
            entry.update(zip(["target_hex", "size", "payload_hex", "payload_size", "payload", "target"],
                             fields[-6:]))
            current[entry["target"]] = entry
        else:
            assert kind == "launcher", line
            launcher.append(line.split(" "))
    return steps, launcher, body, signature


def parse_build_list(text):
    """(serial, version, {path: line fields}, signed body, r||s) of a whole-build list."""
    body, found, signature = text.rpartition(b"\nsignature ")
    body, signature = (body + b"\n", bytes.fromhex(signature.strip().decode())) if found else (text, None)
    lines = body.decode().splitlines()
    assert lines[0] == "VYR-PATCH-BUILD 1", lines[0]
    _, serial, version = lines[1].split(" ")
    files = {}
    for line in lines[2:]:
        fields = line.split(" ", 6)
        assert fields[0] == "file", line
        files[fields[6]] = dict(zip(["sha", "size", "payload_hex", "payload_size", "payload"], fields[1:6]))
    return int(serial), int(version), files, body, signature


def zstd_decode(payload_path, base_path=None):
    """The payload decoded by the zstd tool, the way the issue's reference command reads it."""
    args = ["zstd", "-d", "-c", "-q"] + (["--long=31", "--patch-from=" + base_path] if base_path else [])
    return subprocess.run(args + [payload_path], check=True, capture_output=True).stdout


class PublishToolTests(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vyr-publish-test-")
        self.www = os.path.join(self.dir, "www")
        self.key = os.path.join(self.dir, "key.pem")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def run_tool(self, *args, expect=0, before_exec=None):
        result = subprocess.run([TOOL] + list(args), capture_output=True, text=True, preexec_fn=before_exec)
        if expect is not None:
            self.assertEqual(result.returncode, expect, "%s\n%s%s" % (args, result.stdout, result.stderr))
        return result

    def build(self, name, files):
        root = os.path.join(self.dir, name)
        os.makedirs(root, exist_ok=True)
        for path, data in files.items():
            if data is None:
                os.makedirs(os.path.join(root, path), exist_ok=True)
            else:
                write(os.path.join(root, path), data)
        return root

    def release(self, old, new, version, expect=0, signed=True, extra=()):
        args = ["release", "--www", self.www, "--from", old, "--to", new, "--version", str(version)] + list(extra)
        return self.run_tool(*(args + (["--private", self.key] if signed else [])), expect=expect)

    def served(self):
        """Every file of the served folder and its bytes."""
        found = {}
        for folder, _, names in os.walk(self.www):
            for name in names:
                found[os.path.relpath(os.path.join(folder, name), self.www)] = read(os.path.join(folder, name))
        return found

    def reindex(self, path):
        """Makes the (unsigned) index vouch for the file at path as it is now."""
        data = read(os.path.join(self.www, path))
        index = read(os.path.join(self.www, "PatchIndex.txt")).decode().splitlines(True)
        index = ["file %s %d %s\n" % (hashlib.sha256(data).hexdigest(), len(data), path)
                 if line.endswith(" %s\n" % path) else line for line in index]
        write(os.path.join(self.www, "PatchIndex.txt"), "".join(index))

    def test_release_chain_signature_and_verify(self):
        public = self.run_tool("keygen", "--private", self.key).stdout.strip()
        self.assertRegex(public, "^[0-9a-f]{128}$")
        self.assertEqual(self.run_tool("pubkey", "--private", self.key).stdout.strip(), public)
        self.run_tool("keygen", "--private", self.key, expect=1)  # never over an existing key

        noise = os.urandom(300000)
        long_name = "Deep/" + "n" * 120 + " with spaces " + "m" * 100 + ".dat"
        a = self.build("A", {"Data/table.txt": "v1\n" * 1000, "Data/Sub/noise.bin": noise, "same.txt": "same",
                             "Old Folder/gone.dat": "retired", "abcd": "four", "Renamed.TXT": "case"})
        b = self.build("B", {"Data/table.txt": "v2\n" * 1000, "Data/Sub/noise.bin": noise, "same.txt": "same",
                             "New Folder/text file.txt": "t" * 100000, long_name: os.urandom(5000),
                             "renamed.txt": "case", "Empty Folder": None})
        out = self.release(a, b, 10002).stdout
        self.assertIn("Player/Patch10002.zip", out)
        with zipfile.ZipFile(os.path.join(self.www, "Player", "Patch10002.zip")) as z:
            infos = {i.filename: i for i in z.infolist()}
            self.assertEqual(sorted(infos), sorted(["Data/table.txt", "New Folder/text file.txt", long_name,
                                                    "renamed.txt", "Empty Folder/", "delete.txt"]))
            for name in ("Data/table.txt", "New Folder/text file.txt", long_name):
                self.assertEqual(z.read(name), read(os.path.join(b, name)), name)
            self.assertEqual(infos["New Folder/text file.txt"].compress_type, zipfile.ZIP_DEFLATED)
            self.assertEqual(infos[long_name].compress_type, zipfile.ZIP_STORED)  # random bytes do not shrink
            # Renamed only in case: the same file on Windows, so it is shipped and never deleted.
            self.assertEqual(z.read("delete.txt"), b"Old Folder/gone.dat\nabcd\n")
            self.assertIsNone(z.testzip())

        self.release(b, b, 10003)  # an unchanged build: a step without files
        self.release(b, b, 10003, expect=1)
        manifest = read(os.path.join(self.www, "LauncherPatchInfo.txt")).decode()
        self.assertEqual(manifest, "[INSTALLER]\n[LAUNCHER]\n[PLAYER]\n10002 Patch10002.zip\n10003\n")
        self.assertFalse(os.path.exists(os.path.join(self.www, "Player", "Patch10003.zip")))
        self.run_tool("verify", "--www", self.www, "--public", public)

        index = read(os.path.join(self.www, "PatchIndex.txt"))
        body, raw = split_index(index)
        write(os.path.join(self.dir, "body"), body)
        write(os.path.join(self.dir, "sig.der"), der_signature(raw))
        subprocess.run(["openssl", "pkey", "-in", self.key, "-pubout", "-out", os.path.join(self.dir, "pub.pem")],
                       check=True)
        check = subprocess.run(["openssl", "dgst", "-sha256", "-verify", os.path.join(self.dir, "pub.pem"),
                                "-signature", os.path.join(self.dir, "sig.der"), os.path.join(self.dir, "body")],
                               capture_output=True, text=True)
        self.assertEqual(check.stdout.strip(), "Verified OK", check.stderr)

        archive = os.path.join(self.www, "Player", "Patch10002.zip")
        good = read(archive)
        write(archive, good[:1000] + bytes([good[1000] ^ 1]) + good[1001:])
        self.assertIn("Player/Patch10002.zip", self.run_tool("verify", "--www", self.www, expect=1).stderr)
        os.remove(archive)
        self.assertIn("missing", self.run_tool("verify", "--www", self.www, expect=1).stderr)
        write(archive, good)
        # A key made by openssl alone (SEC1 PEM) reads with the public key openssl gives for it.
        other = os.path.join(self.dir, "other.pem")
        subprocess.run(["openssl", "ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out", other], check=True)
        der = subprocess.run(["openssl", "ec", "-in", other, "-pubout", "-outform", "DER"], check=True,
                             capture_output=True).stdout
        other_public = self.run_tool("pubkey", "--private", other).stdout.strip()
        self.assertEqual(other_public, der[-64:].hex())
        self.assertIn("signature", self.run_tool("verify", "--www", self.www, "--public", other_public,
                                                 expect=1).stderr)
        # Forgetting the key over a signed folder is refused with nothing changed; dropping the signature
        # takes --unsigned, and then the folder verifies only without a key, which verify says it did not check.
        before = self.served()
        self.assertIn("--unsigned", self.release(b, b, 10004, signed=False, expect=1).stderr)
        self.assertEqual(self.served(), before)
        self.release(b, b, 10004, expect=1, extra=["--unsigned"])  # not both
        self.release(b, b, 10004, signed=False, extra=["--unsigned"])
        self.assertIn("signature was not checked", self.run_tool("verify", "--www", self.www).stdout)
        self.assertIn("not signed", self.run_tool("verify", "--www", self.www, "--public", public, expect=1).stderr)
        self.release(b, b, 10005, signed=False)  # an unsigned folder stays unsigned without asking
        self.assertNotIn("signature was not checked",
                         self.run_tool("verify", "--www", self.www, "--public", public, expect=1).stdout)

    def check_openssl_signature(self, body, raw):
        write(os.path.join(self.dir, "body"), body)
        write(os.path.join(self.dir, "sig.der"), der_signature(raw))
        subprocess.run(["openssl", "pkey", "-in", self.key, "-pubout", "-out", os.path.join(self.dir, "pub.pem")],
                       check=True)
        check = subprocess.run(["openssl", "dgst", "-sha256", "-verify", os.path.join(self.dir, "pub.pem"),
                                "-signature", os.path.join(self.dir, "sig.der"), os.path.join(self.dir, "body")],
                               capture_output=True, text=True)
        self.assertEqual(check.stdout.strip(), "Verified OK", check.stderr)

    def test_release_deltas_rebuild_the_new_build_and_verify_checks_them(self):
        public = self.run_tool("keygen", "--private", self.key).stdout.strip()
        rng = random.Random(19)
        words = [b"mesh ", b"shader ", b"0x%04x " % 17, b"texture ", b"\n"]
        engine = b"".join(rng.choice(words) + bytes([rng.randrange(256)]) for _ in range(120000))
        engine_b = engine[:200000] + b"patched code" * 40 + engine[200100:500000] + engine[520000:]
        engine_c = engine_b[:300000] + b"second fix" + engine_b[300000:]
        noise = os.urandom(200000)
        a = self.build("A", {"Bin/engine.dll": engine, "noise.bin": noise, "keep.txt": "k", "gone.dat": "old"})
        b = self.build("B", {"Bin/engine.dll": engine_b, "noise.bin": os.urandom(200000), "keep.txt": "k",
                             "Data/new file.dat": "n" * 5000})
        c = self.build("C", dict(zip(["Bin/engine.dll", "noise.bin", "keep.txt", "Data/new file.dat"],
                                     [engine_c, read(os.path.join(b, "noise.bin")), b"k", b"n" * 5000])))
        self.release(a, b, 10002)
        self.assertEqual(read(os.path.join(self.www, "LauncherPatchInfo.txt")).decode(),
                         "[INSTALLER]\n[LAUNCHER]\n[PLAYER]\n10002 Patch10002.zip\n")
        index = read(os.path.join(self.www, "PatchIndex.txt")).decode().splitlines()
        self.assertEqual([line.split(" ")[0] for line in index], ["VYR-PATCH-INDEX", "manifest", "file", "signature"])
        self.assertTrue(index[2].endswith(" Player/Patch10002.zip"))

        archive = read(os.path.join(self.www, "Player", "Patch10002.zip"))
        steps, launcher, body, raw = parse_delta_list(read(os.path.join(self.www, "PatchDeltas.txt")))
        self.check_openssl_signature(body, raw)
        self.assertEqual((list(steps), launcher), ([10002], []))
        archive_hex, archive_name, entries = steps[10002]
        self.assertEqual((archive_hex, archive_name), (hashlib.sha256(archive).hexdigest(), "Patch10002.zip"))
        with zipfile.ZipFile(os.path.join(self.www, "Player", "Patch10002.zip")) as z:
            self.assertEqual(sorted(entries), sorted(z.namelist()))
            targets = {name: z.read(name) for name in z.namelist()}
        self.assertEqual(targets["delete.txt"], b"gone.dat\n")
        kinds = {name: entry["kind"] for name, entry in entries.items()}
        self.assertEqual(kinds, {"Bin/engine.dll": "delta", "noise.bin": "whole", "Data/new file.dat": "whole",
                                 "delete.txt": "whole"})
        for name, entry in entries.items():
            payload_path = os.path.join(self.www, entry["payload"])
            payload = read(payload_path)
            self.assertEqual(entry["payload"], "Player/%s/%s.zst" % (
                ("Deltas/10002", entry["payload_hex"]) if entry["base"] else ("Files", entry["target_hex"])))
            self.assertEqual((hashlib.sha256(payload).hexdigest(), len(payload)),
                             (entry["payload_hex"], int(entry["payload_size"])))
            base = os.path.join(a, name) if entry["base"] else None
            if base:
                self.assertEqual(entry["base"], hashlib.sha256(read(base)).hexdigest())
            rebuilt = zstd_decode(payload_path, base)
            self.assertEqual(rebuilt, targets[name], name)
            self.assertEqual((hashlib.sha256(rebuilt).hexdigest(), len(rebuilt)),
                             (entry["target_hex"], int(entry["size"])))
        self.assertLess(int(entries["Bin/engine.dll"]["payload_size"]), len(archive) // 10)
        self.run_tool("verify", "--www", self.www, "--public", public)

        # A payload changed by one bit, or gone: verify names the file it rebuilds.
        for name, damage in (("Bin/engine.dll", "flip"), ("Data/new file.dat", "remove")):
            payload_path = os.path.join(self.www, entries[name]["payload"])
            good = read(payload_path)
            if damage == "flip":
                write(payload_path, good[:40] + bytes([good[40] ^ 1]) + good[41:])
            else:
                os.remove(payload_path)
            self.assertIn(name, self.run_tool("verify", "--www", self.www, "--public", public, expect=1).stderr)
            write(payload_path, good)

        # The next release keeps the first block as it was; verify applies its delta to the file the
        # first archive put in place.
        self.release(b, c, 10003)
        later, _, body, raw = parse_delta_list(read(os.path.join(self.www, "PatchDeltas.txt")))
        self.check_openssl_signature(body, raw)
        self.assertEqual(later[10002], steps[10002])
        self.assertEqual(sorted(later[10003][2]), ["Bin/engine.dll"])
        self.run_tool("verify", "--www", self.www, "--public", public)

    def store(self):
        """{path below www: mtime} of every payload in the store of whole files."""
        folder = os.path.join(self.www, "Player", "Files")
        return {"Player/Files/" + name: os.stat(os.path.join(folder, name)).st_mtime_ns for name in os.listdir(folder)}

    def check_build_list(self, build, serial, version):
        """The served list names every file of `build` with a payload in the store that rebuilds it."""
        found_serial, found_version, files, body, raw = parse_build_list(read(os.path.join(self.www, "PatchBuild.txt")))
        self.check_openssl_signature(body, raw)
        self.assertEqual((found_serial, found_version), (serial, version))
        expected = sorted(os.path.relpath(os.path.join(folder, name), build).replace(os.sep, "/")
                          for folder, _, names in os.walk(build) for name in names)
        self.assertEqual(sorted(files), expected)
        for path, line in files.items():
            data = read(os.path.join(build, path))
            self.assertEqual((line["sha"], int(line["size"])), (hashlib.sha256(data).hexdigest(), len(data)), path)
            self.assertEqual(line["payload"], "Player/Files/%s.zst" % line["sha"])
            payload = read(os.path.join(self.www, line["payload"]))
            self.assertEqual((hashlib.sha256(payload).hexdigest(), len(payload)),
                             (line["payload_hex"], int(line["payload_size"])), path)
            self.assertEqual(zstd_decode(os.path.join(self.www, line["payload"])), data, path)
        return files

    def test_whole_build_list_stores_each_content_once_verifies_and_prunes(self):
        public = self.run_tool("keygen", "--private", self.key).stdout.strip()
        shared, noise = os.urandom(40000), os.urandom(70000)
        a = self.build("A", {"Bin/engine.dll": b"engine 1 " * 9000, "Data/shared.pak": shared, "copy of shared": shared,
                             "noise.bin": noise, "gone.dat": "retired"})
        b = self.build("B", {"Bin/engine.dll": b"engine 2 " * 9000, "Data/shared.pak": shared, "copy of shared": shared,
                             "noise.bin": noise, "Data/new file.dat": os.urandom(20000)})
        self.release(self.build("Empty", {}), a, 10001)
        first = self.check_build_list(a, 1, 10001)
        before = self.store()
        # Two files of one content share one payload; each content of the build is stored once.
        self.assertEqual(sorted(before), sorted({line["payload"] for line in first.values()}))
        self.assertEqual(len(before), 4)

        out = self.release(a, b, 10002).stdout
        second = self.check_build_list(b, 2, 10002)
        after = self.store()
        steps, _, _, _ = parse_delta_list(read(os.path.join(self.www, "PatchDeltas.txt")))
        whole = {entry["payload"] for step in steps.values() for entry in step[2].values() if not entry["base"]}
        self.assertTrue(whole and all(p == "Player/Files/%s.zst" % h for p, h in
                                      ((e["payload"], e["target_hex"]) for step in steps.values()
                                       for e in step[2].values() if not e["base"])))
        # Only new content was added (the new engine, the new file, the second delete list); nothing
        # stored before was written again.
        self.assertEqual(set(after), set(before) | {line["payload"] for line in second.values()} | whole)
        self.assertEqual(len(after), len(before) + 3)
        self.assertEqual({path: after[path] for path in before}, before)
        self.assertIn("release 2: 5 files; payloads: 2 made", out)
        self.release(b, b, 10003)  # an unchanged build is still a new release
        self.assertEqual(self.check_build_list(b, 3, 10003), second)
        self.assertEqual(self.store(), after)
        self.run_tool("verify", "--www", self.www, "--public", public)

        # A stored payload changed by one bit, or gone: verify names the game file it rebuilds.
        for path, damage in (("Data/new file.dat", "flip"), ("Bin/engine.dll", "remove")):
            stored = os.path.join(self.www, second[path]["payload"])
            good = read(stored)
            if damage == "flip":
                write(stored, good[:30] + bytes([good[30] ^ 4]) + good[31:])
            else:
                os.remove(stored)
            self.assertIn(path + " (", self.run_tool("verify", "--www", self.www, "--public", public, expect=1).stderr)
            if damage == "flip":
                # The next release stops at the damaged store file instead of quietly writing it anew.
                served = self.served()
                self.assertIn(stored + " is stored but does not rebuild", self.release(b, b, 10004, expect=1).stderr)
                self.assertEqual(self.served(), served)
            write(stored, good)

        # prune removes what no list names (the first engine's payload stays: the first step's block
        # names it) and keeps everything listed; a leftover of a running publish is not its business.
        orphans = {"Player/Files/%s.zst" % ("ab" * 32): os.urandom(100), "Player/Deltas/10009/orphan.zst": b"x" * 7}
        for path, data in orphans.items():
            write(os.path.join(self.www, path), data)
        write(os.path.join(self.www, "Player/Files/running.zst.publishing42"), b"partial")
        served = self.served()
        out = self.run_tool("prune", "--www", self.www).stdout
        for path in orphans:
            self.assertIn("removed %s (%d bytes)" % (path, len(orphans[path])), out)
        self.assertIn("2 payloads removed, 107 bytes freed", out)
        self.assertEqual(self.served(), {path: data for path, data in served.items() if path not in orphans})
        self.assertFalse(os.path.exists(os.path.join(self.www, "Player/Deltas/10009")))
        os.remove(os.path.join(self.www, "Player/Files/running.zst.publishing42"))
        self.run_tool("verify", "--www", self.www, "--public", public)

        # A damaged list, or a missing one while its payloads are stored: prune removes nothing.
        write(os.path.join(self.www, "Player/Files/%s.zst" % ("ab" * 32)), b"orphan")
        build_list = os.path.join(self.www, "PatchBuild.txt")
        good_list = read(build_list)
        for name, damaged in (("PatchBuild.txt", good_list.replace(b"release 3 ", b"release x ")),
                              ("PatchBuild.txt", None), ("PatchDeltas.txt", None)):
            with self.subTest(name=name, damaged=damaged is not None):
                path = os.path.join(self.www, name)
                good = read(path)
                if damaged is None:
                    os.remove(path)
                else:
                    write(path, damaged)
                served = self.served()
                self.assertIn(name, self.run_tool("prune", "--www", self.www, expect=1).stderr)
                self.assertEqual(self.served(), served)
                write(path, good)
        write(build_list, good_list.replace(b"release 3 10003", b"release 3 10002"))
        self.assertIn("10002", self.run_tool("verify", "--www", self.www, expect=1).stderr)
        # A list past the 16 MiB launchers read is reported, though every line of it is sound.
        body = parse_build_list(good_list)[3].decode()
        lines = body.splitlines(True)
        fields = " ".join(lines[2].split(" ")[:6])
        files = lines[2:] + ["%s Padding/%s%05d\n" % (fields, "y" * 200, i) for i in range(40000)]
        write(build_list, "".join(lines[:2] + sorted(files, key=lambda f: f.split(" ", 6)[6])))
        self.assertGreater(os.path.getsize(build_list), 16 << 20)
        problems = self.run_tool("verify", "--www", self.www, expect=1).stderr
        self.assertEqual(problems.splitlines(), ["vyr-publish: PatchBuild.txt: %d bytes, above the 16 MiB launchers read; "
                                                 "they ignore it" % os.path.getsize(build_list)])

    def test_verify_finds_blocks_that_do_not_rebuild_their_archive(self):
        words = [b"alpha ", b"beta ", b"gamma ", b"\n"]
        rng = random.Random(7)
        engine = b"".join(rng.choice(words) for _ in range(100000))
        a = self.build("A", {"engine.dll": engine, "gone.dat": "old"})
        b = self.build("B", {"engine.dll": engine[:1000] + b"fix" + engine[1000:], "new.dat": os.urandom(3000)})
        c = self.build("C", {"engine.dll": engine[:2000] + b"fix" + engine[2000:], "new.dat": read(os.path.join(b, "new.dat")),
                             "Empty": None})
        self.release(a, b, 10002, signed=False, extra=["--unsigned"])
        # A new empty folder cannot come from the list: that step has no block, and says so.
        self.assertIn("Empty/ is a folder", self.release(b, c, 10003, signed=False, extra=["--unsigned"]).stdout)
        d = self.build("D", {"engine.dll": engine[:3000] + b"fix" + engine[3000:],
                             "new.dat": read(os.path.join(b, "new.dat"))})
        self.release(c, d, 10004, signed=False, extra=["--unsigned"])
        list_path = os.path.join(self.www, "PatchDeltas.txt")
        good = read(list_path)
        steps, _, _, _ = parse_delta_list(good)
        self.assertEqual(sorted(steps), [10002, 10004])
        self.assertEqual(steps[10004][2]["engine.dll"]["kind"], "delta")
        self.run_tool("verify", "--www", self.www)
        new_whole = steps[10002][2]["new.dat"]
        engine_delta = steps[10004][2]["engine.dll"]
        delete_line = [line for line in good.decode().splitlines(True) if line.endswith(" delete.txt\n")][0]
        damages = {
            # A delta whose payload decodes (with its base from Patch10003.zip) to other bytes than its target.
            "decodes to other bytes": good.replace(
                " ".join([engine_delta["payload_hex"], engine_delta["payload_size"], engine_delta["payload"]]).encode(),
                " ".join([new_whole["payload_hex"], new_whole["payload_size"], new_whole["payload"]]).encode()),
            "delete.txt: in Patch10002.zip but not in the delta list": good.replace(delete_line.encode(), b""),
            "(a block of another release)": good.replace(steps[10004][0].encode(), b"0" * 64),
            "step 10002: Update.DAT: a name the launcher refuses to write": good.replace(b" new.dat\n", b" Update.DAT\n"),
        }
        for expected, damaged in damages.items():
            with self.subTest(expected=expected):
                self.assertNotEqual(damaged, good)
                write(list_path, damaged)
                self.assertIn(expected, self.run_tool("verify", "--www", self.www, expect=1).stderr)
        # A list that cannot be read stops the next release before anything is written.
        write(list_path, b"VYR-PATCH-DELTAS 1\nnonsense\n")
        before = self.served()
        self.assertIn("PatchDeltas.txt", self.release(d, a, 10005, signed=False, extra=["--unsigned"], expect=1).stderr)
        self.assertEqual(self.served(), before)
        # Years of steps pass the 16 MiB launchers read: verify says so, and the next release drops the
        # oldest blocks until the list fits, keeping the launcher lines and the newest blocks.
        cap = 16 << 20
        whole_line = " ".join(["whole", new_whole["target_hex"], new_whole["size"], new_whole["payload_hex"],
                               new_whole["payload_size"], new_whole["payload"], "Data/%s%%d\n" % ("x" * 150)])
        old_blocks = "".join("step %d %s Patch%d.zip\n" % (v, "ab" * 32, v) + "".join(whole_line % i for i in range(100))
                             for v in range(1, 500))
        launcher_line = "launcher %s %s 5 %s 5 Launcher/Deltas/%s.zst\n" % ("cd" * 32, "ef" * 32, "12" * 32, "12" * 32)
        header, rest = good.decode().split("\n", 1)
        write(list_path, header + "\n" + old_blocks + rest + launcher_line)
        self.assertGreater(os.path.getsize(list_path), cap)
        self.assertIn("above the 16 MiB launchers read", self.run_tool("verify", "--www", self.www, expect=1).stderr)
        e = self.build("E", {"engine.dll": engine[:4000] + b"fix" + engine[4000:],
                             "new.dat": read(os.path.join(b, "new.dat"))})
        self.assertIn("dropped the blocks of", self.release(d, e, 10005, signed=False, extra=["--unsigned"]).stdout)
        self.assertLessEqual(os.path.getsize(list_path), cap)
        steps, launcher, _, _ = parse_delta_list(read(list_path))
        self.assertNotIn(1, steps)
        self.assertTrue({499, 10002, 10004, 10005} <= set(steps))
        self.assertEqual(launcher, [launcher_line.split()])

    def test_keys_are_written_whole_with_mode_0600_and_readable_keys_are_refused(self):
        def limited_writes():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (16, 16))
            os.umask(0)
        # A key that cannot be written whole (a full disk) leaves nothing that blocks the next keygen.
        cut = subprocess.run([TOOL, "keygen", "--private", self.key], preexec_fn=limited_writes, capture_output=True)
        self.assertEqual(cut.returncode, 1)
        self.assertFalse(os.path.exists(self.key))
        old_umask = os.umask(0)
        try:
            public = self.run_tool("keygen", "--private", self.key).stdout.strip()
        finally:
            os.umask(old_umask)
        self.assertEqual(stat.S_IMODE(os.stat(self.key).st_mode), 0o600)
        self.assertEqual(self.run_tool("pubkey", "--private", self.key).stdout.strip(), public)
        # A run killed between linking the key into place and removing its temporary name leaves that
        # name as a second link to the key; the next keygen must refuse without touching the key.
        key_bytes = read(self.key)
        os.link(self.key, self.key + ".new")
        self.run_tool("keygen", "--private", self.key, expect=1)
        self.assertEqual(read(self.key), key_bytes)
        a = self.build("A", {"a.dat": "a"})
        for mode in (0o640, 0o604):
            os.chmod(self.key, mode)
            self.assertIn("chmod 600", self.run_tool("pubkey", "--private", self.key, expect=1).stderr)
            self.assertIn("chmod 600", self.release(a, a, 10001, expect=1).stderr)
            self.assertFalse(os.path.exists(self.www))
        os.chmod(self.key, 0o400)
        self.release(a, a, 10001)

    def test_a_step_of_another_major_version_needs_new_major_and_says_what_players_see(self):
        self.run_tool("keygen", "--private", self.key)
        a = self.build("A", {"a.dat": "a"})
        b = self.build("B", {"a.dat": "b"})
        self.release(a, b, 10005)
        before = self.served()
        self.assertIn("--new-major", self.release(b, a, 20001, expect=1).stderr)
        self.assertIn("not above", self.release(b, a, 9999, expect=1).stderr)  # below: refused as ever
        self.assertEqual(self.served(), before)
        out = self.release(b, a, 20001, extra=["--new-major"]).stdout
        self.assertIn("Please download the installer client again.", out)
        self.assertIn("20001 Patch20001.zip", read(os.path.join(self.www, "LauncherPatchInfo.txt")).decode())
        self.assertNotIn("Please download", self.release(a, b, 20002).stdout)

    def test_an_interrupted_release_leaves_a_consistent_pair_and_runs_again(self):
        self.run_tool("keygen", "--private", self.key)
        public = self.run_tool("pubkey", "--private", self.key).stdout.strip()
        a = self.build("A", {"a.dat": "a"})
        b = self.build("B", {"a.dat": "b", "new.dat": "n"})
        self.release(a, a, 10001)
        index_path = os.path.join(self.www, "PatchIndex.txt")
        manifest_path = os.path.join(self.www, "LauncherPatchInfo.txt")
        old_manifest, old_index = read(manifest_path), read(index_path)
        # The index cannot be replaced (a folder holds its name): the manifest must not move without it.
        os.remove(index_path)
        write(os.path.join(index_path, "blocker"), "x")
        stderr = self.release(a, b, 10002, expect=1).stderr
        self.assertEqual(read(manifest_path), old_manifest)
        self.assertIn("run the same command again", stderr)
        shutil.rmtree(index_path)
        write(index_path, old_index)
        self.run_tool("verify", "--www", self.www, "--public", public)
        self.release(a, b, 10002)
        self.run_tool("verify", "--www", self.www, "--public", public)
        # A kill between the two renames leaves the new manifest with the old index: the same release
        # run again completes it.
        write(index_path, old_index)
        self.assertIn("does not match", self.run_tool("verify", "--www", self.www, expect=1).stderr)
        self.assertIn("again", self.release(a, b, 10002).stdout)
        self.assertEqual(read(manifest_path).decode().splitlines()[-2:], ["10001", "10002 Patch10002.zip"])
        self.run_tool("verify", "--www", self.www, "--public", public)
        # A key that cannot be read stops a placement before the placed file changes.
        write(os.path.join(self.dir, "setup.exe"), "installer")
        before = self.served()
        self.run_tool("installer", "--www", self.www, "--file", os.path.join(self.dir, "setup.exe"), "--version",
                      "1.0.0.1", "--private", os.path.join(self.dir, "missing.pem"), expect=1)
        self.assertEqual(self.served(), before)
        # What killed runs leave behind is reported.
        write(manifest_path + ".previous", old_manifest)
        write(os.path.join(self.www, "Player", "Patch10003.zip.publishing4242"), "cut")
        problems = self.run_tool("verify", "--www", self.www, expect=1).stderr
        self.assertIn("LauncherPatchInfo.txt.previous: left by an interrupted run", problems)
        self.assertIn("Player/Patch10003.zip.publishing4242: left by an interrupted run", problems)
        os.remove(manifest_path + ".previous")
        os.remove(os.path.join(self.www, "Player", "Patch10003.zip.publishing4242"))
        # The delta list cannot be written (a folder holds its temporary name, known in the child before
        # exec): the manifest is live, so the build list must follow it all the same, and the run fails.
        c = self.build("C", {"a.dat": "c", "new.dat": "n"})
        deltas_path = os.path.join(self.www, "PatchDeltas.txt")
        old_deltas = read(deltas_path)
        block = lambda: os.makedirs("%s.publishing%d/x" % (deltas_path, os.getpid()))
        args = ["release", "--www", self.www, "--from", b, "--to", c, "--version", "10003", "--private", self.key]
        stderr = self.run_tool(*args, expect=1, before_exec=block).stderr
        self.assertIn("the step is published without deltas", stderr)
        self.assertEqual(read(deltas_path), old_deltas)
        self.assertEqual(parse_build_list(read(os.path.join(self.www, "PatchBuild.txt")))[1], 10003)
        for leftover in glob.glob(deltas_path + ".publishing*"):
            shutil.rmtree(leftover)
        self.run_tool("verify", "--www", self.www, "--public", public)

    def test_archives_of_65536_entries_or_more_read_whole_and_verify_checks_every_entry(self):
        files = {"d%02d/f%05d" % (i // 1000, i): "%d" % i for i in range(65600)}
        a = self.build("A", {"gone.dat": "old"})
        b = self.build("B", files)
        self.release(a, b, 10001, signed=False, extra=["--unsigned"])
        path = "Player/Patch10001.zip"
        archive = os.path.join(self.www, path)
        with zipfile.ZipFile(archive) as z:
            infos = z.infolist()
            self.assertEqual(len(infos), 65601)
            self.assertEqual(infos[-1].filename, "delete.txt")  # last, after every file it may follow
            self.assertEqual(z.read("delete.txt"), b"gone.dat\n")
            self.assertEqual(z.read("d65/f65599"), b"65599")
        self.run_tool("verify", "--www", self.www)
        # The tail minizip alone writes: no zip64 records, the count 0xffff.
        good = read(archive)
        end = good[-22:]
        self.assertEqual(struct.unpack("<HH", end[8:12]), (0xffff, 0xffff))
        write(archive, good[:-22 - 76] + end)
        self.reindex(path)
        self.assertIn("the launcher finds 65535 entries, the directory holds 65601",
                      self.run_tool("verify", "--www", self.www, expect=1).stderr)
        # A stored entry whose bytes changed after packing: its CRC no longer holds.
        with zipfile.ZipFile(archive) as z:
            info = z.getinfo("d10/f10000")
        header = good[info.header_offset:info.header_offset + 30]
        data_at = info.header_offset + 30 + struct.unpack("<H", header[26:28])[0] + struct.unpack("<H", header[28:30])[0]
        write(archive, good[:data_at] + b"X" + good[data_at + 1:])
        self.reindex(path)
        self.assertIn("d10/f10000: its CRC does not match", self.run_tool("verify", "--www", self.www, expect=1).stderr)

    def test_names_the_formats_cannot_carry_are_refused_and_nothing_is_published(self):
        self.run_tool("keygen", "--private", self.key)
        base = {"keep/file.bin": "k", "abc": "three", "thing": "file"}
        a = self.build("A", base)
        self.release(self.build("Empty", {}), a, 10001)
        before = {name: read(os.path.join(self.www, name)) for name in ("LauncherPatchInfo.txt", "PatchIndex.txt")}
        deep = "/".join("d%d" % i for i in range(17)) + "/f.dat"
        cases = {
            "aux.dat": {"aux.dat": "device"},
            "trailing.": {"trailing.": "dot"},
            "back\\slash.txt": {"back\\slash.txt": "a folder on Windows"},
            deep: {deep: "too deep"},
            "delete.txt": {"delete.txt": "a game file"},
            "Patch10002.zip": {"Patch10002.zip": "named like the archive"},
            "File.txt": {"file.txt": "one", "File.txt": "two"},
            "thing": {"thing/inside.dat": "a folder where a file was"},
        }
        for name, extra in cases.items():
            with self.subTest(name=name):
                files = dict(base, **extra)
                if name == "thing":
                    del files["thing"]
                b = self.build("B-%d" % len(os.listdir(self.dir)), files)
                self.assertIn(name, self.release(a, b, 10002, expect=1).stderr)
        # "abc" removed: a delete-list line of 4 characters with its line feed would end the list.
        b = self.build("B-short", {"keep/file.bin": "k", "thing": "file"})
        self.assertIn("abc", self.release(a, b, 10002, expect=1).stderr)
        for name, data in before.items():
            self.assertEqual(read(os.path.join(self.www, name)), data, name)
        # The first release's payloads are all whole files, in the store; no refused run added any.
        self.assertEqual(sorted(os.listdir(os.path.join(self.www, "Player"))), ["Files", "Patch10001.zip"])
        listed = parse_build_list(read(os.path.join(self.www, "PatchBuild.txt")))[2]
        self.assertEqual(sorted(self.store()), sorted({line["payload"] for line in listed.values()}))
        self.release(a, a, 0, expect=1)
        self.release(a, a, "1e5", expect=1)

    def test_names_beyond_ascii_are_shipped_flagged_utf8(self):
        self.run_tool("keygen", "--private", self.key)
        a = self.build("A", {"keep.txt": "k"})
        names = ["caf\u00e9.txt", "\u4e16\u754c/\u540d\u524d.dat", "ascii.txt"]
        b = self.build("B", dict({"keep.txt": "k"}, **{name: name for name in names}))
        self.release(a, b, 10002)
        with zipfile.ZipFile(os.path.join(self.www, "Player", "Patch10002.zip")) as z:
            flags = {i.filename: i.flag_bits & 0x800 for i in z.infolist()}
            self.assertEqual(z.read(names[1]).decode(), names[1])
        self.assertEqual(flags, {"caf\u00e9.txt": 0x800, names[1]: 0x800, "ascii.txt": 0})
        self.run_tool("verify", "--www", self.www)
        # A name that is not UTF-8 cannot be flagged so: refused, with the name.
        c = self.build("C", {"keep.txt": "k", "bad\udcff.txt": "latin-1 name"})
        refused = subprocess.run([TOOL, "release", "--www", self.www, "--from", b, "--to", c, "--version", "10003",
                                  "--private", self.key], capture_output=True)
        self.assertEqual(refused.returncode, 1)
        self.assertIn(b"bad\xff.txt", refused.stderr)

    def test_launcher_and_installer_placement_checks_the_version_resource(self):
        compilers = [c for c in ("x86_64-w64-mingw32", "i686-w64-mingw32") if shutil.which(c + "-windres")]
        if not compilers:
            self.skipTest("no mingw-w64 windres")
        write(os.path.join(self.dir, "main.c"), "int main(void) { return 0; }\n")
        write(os.path.join(self.dir, "version.rc"),
              "1 VERSIONINFO\nFILEVERSION 1,2,3,4\nPRODUCTVERSION 9,9,9,9\nBEGIN\nEND\n")
        for prefix in compilers:  # a 64-bit (PE32+) and a 32-bit (PE32) image
            exe = os.path.join(self.dir, prefix + ".exe")
            res = os.path.join(self.dir, prefix + ".res.o")
            subprocess.run([prefix + "-windres", os.path.join(self.dir, "version.rc"), "-o", res], check=True)
            subprocess.run([prefix + "-gcc", os.path.join(self.dir, "main.c"), res, "-o", exe], check=True)
            self.assertIn("1.2.3.4", self.run_tool("launcher", "--www", self.www, "--file", exe, "--version",
                                                   "1.2.3.5", expect=1).stderr)
            self.run_tool("launcher", "--www", self.www, "--file", exe, "--version", "1.2.3.4")
            self.assertEqual(read(os.path.join(self.www, "Launcher", "VYRLauncher.exe")), read(exe))
            # Cut short anywhere, even by its last byte, the image is refused, by both commands, and never
            # read past its end (the native build runs ASan); what was placed stays.
            image = read(exe)
            cut = os.path.join(self.dir, "cut.exe")
            for length in (64, 512, len(image) // 3, len(image) // 2, len(image) - 1):
                write(cut, image[:length])
                for command in ("launcher", "installer"):
                    result = self.run_tool(command, "--www", self.www, "--file", cut, "--version", "1.2.3.4",
                                           expect=1)
                    self.assertNotIn("Sanitizer", result.stderr)
                    self.assertIn("not a whole Windows executable", result.stderr, (command, length))
            self.assertEqual(read(os.path.join(self.www, "Launcher", "VYRLauncher.exe")), image)
            self.assertFalse(os.path.exists(os.path.join(self.www, "Installer", "NorvaneSetup.exe")))
        if len(compilers) == 2:
            # The second launcher replaced the first: the list carries the delta from one to the other.
            _, launcher, _, _ = parse_delta_list(read(os.path.join(self.www, "PatchDeltas.txt")))
            first, second = (os.path.join(self.dir, prefix + ".exe") for prefix in compilers)
            self.assertEqual(len(launcher), 1)
            self.assertEqual(launcher[0][1:4], [hashlib.sha256(read(first)).hexdigest(),
                                                hashlib.sha256(read(second)).hexdigest(), str(len(read(second)))])
            self.assertEqual(zstd_decode(os.path.join(self.www, launcher[0][6]), first), read(second))
        # A launcher sharing little with the served one gets no delta (Updater fetches it whole), and
        # prune sweeps Launcher/Deltas/ of every payload no line names.
        grown = os.path.join(self.dir, "grown.exe")
        write(grown, read(exe) + os.urandom(3 * len(read(exe))))
        self.run_tool("launcher", "--www", self.www, "--file", grown, "--version", "1.2.3.4")
        deltas = os.path.join(self.www, "PatchDeltas.txt")
        self.assertEqual(parse_delta_list(read(deltas))[1] if os.path.exists(deltas) else [], [])
        orphan = "Launcher/Deltas/%s.zst" % ("ab" * 32)
        write(os.path.join(self.www, orphan), b"orphan")
        self.assertIn("removed " + orphan, self.run_tool("prune", "--www", self.www).stdout)
        self.assertEqual(os.listdir(os.path.join(self.www, "Launcher", "Deltas")), [])
        for command in ("launcher", "installer"):  # not an executable at all
            self.run_tool(command, "--www", self.www, "--file", os.path.join(self.dir, "main.c"), "--version",
                          "1.2.3.4", expect=1)
        self.run_tool("installer", "--www", self.www, "--file", exe, "--version", "7.0", expect=1)
        self.run_tool("installer", "--www", self.www, "--file", exe, "--version", "7.0.0.1")
        manifest = read(os.path.join(self.www, "LauncherPatchInfo.txt")).decode()
        self.assertEqual(manifest, "[INSTALLER]\n7.0.0.1\n[LAUNCHER]\n1.2.3.4\n[PLAYER]\n")
        index = read(os.path.join(self.www, "PatchIndex.txt")).decode()
        self.assertIn(" Installer/NorvaneSetup.exe\n", index)
        self.assertIn(" Launcher/VYRLauncher.exe\n", index)
        self.run_tool("verify", "--www", self.www)
        os.remove(os.path.join(self.www, "Installer", "NorvaneSetup.exe"))
        self.assertIn("Installer/NorvaneSetup.exe", self.run_tool("verify", "--www", self.www, expect=1).stderr)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    known, rest = parser.parse_known_args()
    TOOL = os.path.abspath(known.tool)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
