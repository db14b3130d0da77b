#!/usr/bin/env python3
"""What ctest sees of an end-to-end script is the harness's exit code: 0 only when every case ran and
passed, the skip code when a case could not run (ctest then reports the script as skipped, never as
passed), 1 when a case failed, also beside a skipped one."""
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import harness  # noqa: E402

SCRIPT = """import sys
sys.path.insert(0, %r)
import unittest
import harness

class Cases(unittest.TestCase):
%s

if __name__ == "__main__":
    harness.main()
"""
PASS = "    def test_runs(self):\n        pass\n"
SKIP = "    def test_needs_root(self):\n        self.skipTest('needs root')\n"
FAIL = "    def test_breaks(self):\n        self.fail('broken')\n"
CASES = [(PASS, 0), (PASS + SKIP, harness.SKIPPED_EXIT_CODE), (SKIP + FAIL, 1), (PASS + FAIL, 1)]


def exit_code_of(cases, folder):
    script = os.path.join(folder, "cases.py")
    with open(script, "w") as f:
        f.write(SCRIPT % (HERE, cases))
    return subprocess.run([sys.executable, script, "--build-dir", folder], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode


def main():
    wrong = []
    with tempfile.TemporaryDirectory() as folder:
        for cases, expected in CASES:
            got = exit_code_of(cases, folder)
            if got != expected:
                wrong.append("%s-> %d, expected %d" % (cases.replace("\n", " "), got, expected))
    for line in wrong:
        print(line)
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
