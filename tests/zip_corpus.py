#!/usr/bin/env python3
"""Archives that nobody here wrote: the zip test files of Go's archive/zip, CPython and libarchive
(installed or fetched by scripts/install-deps), unpacked by the launcher's extraction and by Info-ZIP
unzip. Every archive must either come out exactly as unzip unpacks it, or be refused with a message;
none may write outside its folder, leave a part file, hang or crash. Then single bits are flipped in
the compressed bytes of deflated entries: no flip may install wrong bytes and report done.

Usage: zip_corpus.py --runner zip_corpus_runner.exe --emulator WINE [--libarchive-tests DIR]
Exit 77 (skipped) when a source of archives is missing."""
import argparse
import base64
import binascii
import io
import os
import random
import shutil
import stat
import struct
import subprocess
import sys
import tempfile
import zipfile

SKIPPED = 77
GO_TESTDATA = "/usr/share/go-1.19/src/archive/zip/testdata"
PYTHON_TESTS = "/usr/lib/python3.11/test"
PYTHON_ARCHIVES = ["zipdir.zip", "zip_cp437_header.zip", "ziptestdata/exe_with_zip", "ziptestdata/exe_with_z64",
                   "test_importlib/zipdata01/ziptestdata.zip", "test_importlib/zipdata02/ziptestdata.zip",
                   "test_importlib/namespace_pkgs/missing_directory.zip",
                   "test_importlib/namespace_pkgs/nested_portion1.zip",
                   "test_importlib/namespace_pkgs/top_level_portion1.zip"]
PART_SUFFIX = ".vyr-part"
FLIPS_PER_ENTRY = 64
RUN_TIME_LIMIT_S = 600


def uudecode(text):
    out = bytearray()
    lines = iter(text.splitlines())
    for line in lines:
        if line.startswith(b"begin "):
            break
    for line in lines:
        if line.strip() in (b"end", b"`", b""):
            if line.strip() == b"end":
                break
            continue
        count = (line[0] - 32) & 63
        try:
            out += binascii.a2b_uu(line)
        except binascii.Error:  # some encoders pad lines short; decode what the count says
            out += binascii.a2b_uu(line[:1 + (count + 2) // 3 * 4])
    return bytes(out)


def collect_archives(libarchive_dir):
    """(label, bytes) of every archive; None when a source is not installed."""
    sources = [GO_TESTDATA, os.path.join(PYTHON_TESTS, "zipdir.zip"), libarchive_dir]
    if any(not path or not os.path.exists(path) for path in sources):
        return None
    archives = []
    for name in sorted(os.listdir(GO_TESTDATA)):
        data = open(os.path.join(GO_TESTDATA, name), "rb").read()
        if name.endswith(".base64"):
            data = base64.b64decode(data)
        if not name.endswith(".png"):
            archives.append(("go/" + name, data))
    for name in PYTHON_ARCHIVES:
        path = os.path.join(PYTHON_TESTS, name)
        if os.path.exists(path):
            archives.append(("python/" + name, open(path, "rb").read()))
    for name in sorted(os.listdir(libarchive_dir)):
        if name.endswith(".uu"):
            archives.append(("libarchive/" + name[:-3], uudecode(open(os.path.join(libarchive_dir, name), "rb").read())))
    return archives


def deflated_entries(data):
    """(offset, size) of the compressed bytes of each deflated, unencrypted entry."""
    spans = []
    try:
        with zipfile.ZipFile(io.BytesIO(data)) as archive:
            for info in archive.infolist():
                if info.compress_type != zipfile.ZIP_DEFLATED or info.flag_bits & 1 or info.compress_size < 8:
                    continue
                header = data[info.header_offset:info.header_offset + 30]
                name_size, extra_size = struct.unpack("<HH", header[26:30])
                spans.append((info.header_offset + 30 + name_size + extra_size, info.compress_size))
    except (zipfile.BadZipFile, ValueError, NotImplementedError, struct.error):
        pass
    return spans


def bit_flips(label, data, rng):
    """Copies of `data` with one bit flipped inside a deflated entry's bytes."""
    flips = []
    for offset, size in deflated_entries(data):
        bits = range(size * 8)
        chosen = bits if size * 8 <= FLIPS_PER_ENTRY else sorted(rng.sample(bits, FLIPS_PER_ENTRY))
        for bit in chosen:
            flipped = bytearray(data)
            flipped[offset + bit // 8] ^= 1 << (bit % 8)
            flips.append(("%s bit %d" % (label, offset * 8 + bit), bytes(flipped)))
    return flips


def unzip_tree(archive, folder):
    """Unpacks with Info-ZIP unzip (no password, nothing asked); its exit code."""
    os.makedirs(folder)
    env = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8")
    try:
        return subprocess.run(["unzip", "-qq", "-o", "-P", "", archive, "-d", folder], stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env, timeout=60).returncode
    except subprocess.TimeoutExpired:
        return -1


def tree_of(folder):
    """{relative path: bytes, or None for a folder}. A symbolic link counts as a file holding its
    target, which is how unzip writes such an entry on Windows."""
    tree = {}
    for root, dirs, files in os.walk(folder):
        for name in dirs + files:
            path = os.path.join(root, name)
            relative = os.path.relpath(path, folder)
            if os.path.islink(path):
                tree[relative] = os.fsencode(os.readlink(path))
            elif os.path.isdir(path):
                tree[relative] = None
            else:
                tree[relative] = open(path, "rb").read()
    return tree


def entry_order(data):
    """Each name's last position in the archive, folded as Windows compares names."""
    try:
        with zipfile.ZipFile(io.BytesIO(data)) as archive:
            return {info.filename.rstrip("/").casefold(): index for index, info in enumerate(archive.infolist())}
    except (zipfile.BadZipFile, ValueError, NotImplementedError, struct.error, OverflowError):
        return {}


def as_windows_holds(tree, order):
    """unzip's tree as a file system that ignores case holds it: of names that differ only in case,
    the entry later in the archive is the one that stays."""
    held = {}
    for path, content in tree.items():
        key = path.casefold()
        rank = order.get(path.replace(os.sep, "/").casefold(), -1)
        if key not in held or rank > held[key][0]:
            held[key] = (rank, content)
    return {key: content for key, (rank, content) in held.items()}


def entry_names(data):
    """(names flagged UTF-8 that hold non-ASCII characters, whether some other name holds bytes beyond
    ASCII). Unflagged names are in the writer's code page, which the launcher decodes with the
    player's ANSI code page and unzip on Linux keeps as raw bytes: for those only contents compare."""
    try:
        with zipfile.ZipFile(io.BytesIO(data)) as archive:
            infos = archive.infolist()
    except (zipfile.BadZipFile, ValueError, NotImplementedError, struct.error, OverflowError):
        return [], False
    non_ascii = lambda name: any(ord(c) > 127 for c in name)
    flagged = [info.filename.rstrip("/") for info in infos if info.flag_bits & 0x800 and non_ascii(info.filename)]
    legacy = any(not info.flag_bits & 0x800 and non_ascii(info.filename) for info in infos)
    return flagged, legacy


def same_as_unzip(got, expected, case):
    """Exact equality; in an archive with code-page names, the paths that differ must all hold
    non-ASCII characters and their files the same contents, and every UTF-8 name must be exact."""
    if got == expected:
        return True
    if as_windows_holds(got, {}) == as_windows_holds(expected, case["order"]):
        return True
    if not case["legacy_names"]:
        return False
    if any(os.path.join(*name.split("/")) not in got for name in case["utf8_names"]):
        return False
    unmatched_got = {p: c for p, c in got.items() if expected.get(p, b"\0missing") != c}
    unmatched_expected = {p: c for p, c in expected.items() if got.get(p, b"\0missing") != c}
    non_ascii = lambda path: any(ord(c) > 127 for c in path)
    if not all(non_ascii(path) for path in list(unmatched_got) + list(unmatched_expected)):
        return False
    files = lambda tree: sorted(c for c in tree.values() if c is not None)
    return files(unmatched_got) == files(unmatched_expected)


def describe_difference(got, expected):
    lines = []
    for path in sorted(set(got) | set(expected)):
        if path not in expected:
            lines.append("    extra:   %r" % path)
        elif path not in got:
            lines.append("    missing: %r" % path)
        elif got[path] != expected[path]:
            size = lambda c: "folder" if c is None else "%d bytes" % len(c)
            lines.append("    differs: %r (%s, unzip %s)" % (path, size(got[path]), size(expected[path])))
    return "\n".join(lines[:8])


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def run_extractions(args, work, cases):
    """Unpacks every case's archive in one run of the runner; {index: (result, message)}."""
    listing = os.path.join(work, "list.txt")
    report = os.path.join(work, "report.txt")
    with open(listing, "w", encoding="utf-8", newline="\n") as out:
        for index, case in enumerate(cases):
            out.write("%s\t%s\n" % (windows_path(case["archive"]), windows_path(case["folder"])))
    env = dict(os.environ, WINEDEBUG="-all")
    try:
        run = subprocess.run([args.emulator, args.runner, windows_path(listing), windows_path(report)], env=env,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=RUN_TIME_LIMIT_S)
        code, output = run.returncode, run.stdout.decode(errors="replace")
    except subprocess.TimeoutExpired:
        code, output = "timeout", ""
    results = {}
    if os.path.exists(report):
        for line in open(report, encoding="utf-8", errors="replace"):
            index, result, message = line.rstrip("\n").split("\t", 2)
            results[int(index)] = (result, message)
    return code, output, results


def files_outside(work, cases):
    """Anything in the work folder that no case put there on purpose."""
    exact = {os.path.join(work, name) for name in ("list.txt", "report.txt", "archives", "expected", "out")}
    exact |= {os.path.dirname(case["folder"]) for case in cases}
    inside = [os.path.join(work, "archives"), os.path.join(work, "expected")] + [case["folder"] for case in cases]
    stray = []
    for root, dirs, files in os.walk(work):
        for name in dirs + files:
            path = os.path.join(root, name)
            if path in exact or path in inside or any(path.startswith(folder + os.sep) for folder in inside):
                continue
            stray.append(path)
    return stray


def judge(case, outcome, expected_tree):
    """The faults of one case: a list of texts."""
    if outcome is None:
        return ["no result: the runner crashed or hung before it"]
    result, message = outcome
    faults = []
    got = tree_of(case["folder"])
    parts = [path for path in got if path.endswith(PART_SUFFIX)]
    if parts:
        faults.append("part files left: %s" % parts)
    if result == "1":
        if not same_as_unzip(got, expected_tree, case):
            faults.append("reported done, but the folder differs from unzip's (unzip exit %s):\n%s"
                          % (case["unzip_code"], describe_difference(got, expected_tree)))
    elif result in ("0", "2"):
        if not message.startswith("Extracting "):
            faults.append("refused without a message (result %s, message %r)" % (result, message))
    else:
        faults.append("result %s: %s" % (result, message))
    return faults


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runner", required=True)
    parser.add_argument("--emulator", required=True)
    parser.add_argument("--libarchive-tests", default="")
    parser.add_argument("--keep", action="store_true", help="keep the work folder")
    args = parser.parse_args()
    if shutil.which("unzip") is None:
        print("SKIPPED: Info-ZIP unzip is not installed (scripts/install-deps)")
        return SKIPPED
    archives = collect_archives(args.libarchive_tests)
    if archives is None:
        print("SKIPPED: the test archives of golang-1.19-src, libpython3.11-testsuite or the libarchive sources "
              "are missing (scripts/install-deps)")
        return SKIPPED

    work = tempfile.mkdtemp(prefix="vyr-zip-corpus-")
    rng = random.Random(20261209)
    cases = []

    def add_case(label, data, expected_folder, unzip_code):
        index = len(cases)
        archive = os.path.join(work, "archives", "%04d.zip" % index)
        with open(archive, "wb") as out:
            out.write(data)
        cases.append({"label": label, "archive": archive, "folder": os.path.join(work, "out", "%04d" % index, "game"),
                      "expected": expected_folder, "unzip_code": unzip_code})
        cases[-1]["utf8_names"], cases[-1]["legacy_names"] = entry_names(data)
        cases[-1]["order"] = entry_order(data)

    os.makedirs(os.path.join(work, "archives"))
    os.makedirs(os.path.join(work, "out"))
    flips = []
    for label, data in archives:
        expected = os.path.join(work, "expected", "%04d" % len(cases))
        scratch = os.path.join(work, "archives", "unzip-input")
        with open(scratch, "wb") as out:
            out.write(data)
        code = unzip_tree(scratch, expected)
        add_case(label, data, expected, code)
        if code == 0:
            flips += [(flip_label, flip, expected, code) for flip_label, flip in bit_flips(label, data, rng)]
    os.remove(os.path.join(work, "archives", "unzip-input"))
    whole_archives = len(cases)
    for label, data, expected, code in flips:
        add_case(label, data, expected, code)
    for case in cases:
        os.makedirs(os.path.dirname(case["folder"]))

    code, output, results = run_extractions(args, work, cases)
    failures = []
    if code != 0:
        failures.append("the runner ended with %s\n%s" % (code, output[-2000:]))
    expected_trees = {}
    done = refused = 0
    for index, case in enumerate(cases):
        if case["expected"] not in expected_trees:
            expected_trees[case["expected"]] = tree_of(case["expected"])
        outcome = results.get(index)
        if outcome and outcome[0] == "1":
            done += 1
        elif outcome:
            refused += 1
        for fault in judge(case, outcome, expected_trees[case["expected"]]):
            failures.append("%s: %s" % (case["label"], fault))
    stray = files_outside(work, cases)
    if stray:
        failures.append("written outside the archives' folders: %s" % stray[:10])

    print("%d archives and %d bit flips: %d unpacked as unzip does, %d refused with a message"
          % (whole_archives, len(cases) - whole_archives, done, refused))
    for index in range(whole_archives):
        outcome = results.get(index, ("none", ""))
        print("  %-70s %s %s" % (cases[index]["label"], "done" if outcome[0] == "1" else "refused",
                                 "" if outcome[0] == "1" else outcome[1][:90]))
    for failure in failures:
        print("FAULT " + failure)
    if not args.keep:
        shutil.rmtree(work, ignore_errors=True)
    else:
        print("work folder kept: " + work)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
