#!/usr/bin/env python3
"""The configuration file end to end: the real launcher under Wine meets a damaged, an empty-valued, a
missing and a good "config", shows the message a player would read, and leaves a file that openssl
(not our cipher) decodes to the expected version line."""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

KEY_TEXT = b"q7Rv#Lomxet"
SALT_SIZE = 32 - len(KEY_TEXT)
TEST_SALT = bytes(range(0xA0, 0xA0 + SALT_SIZE))


def openssl_ecb(data, key, decrypt):
    command = ["openssl", "enc", "-aes-256-ecb", "-nopad", "-K", key.hex()]
    if decrypt:
        command.insert(2, "-d")
    return subprocess.run(command, input=data, stdout=subprocess.PIPE, check=True).stdout


def decode_config(content):
    """The plain text of an enciphered config: salt, pad count, AES-256-ECB blocks."""
    if len(content) < SALT_SIZE + 1:
        return None
    salt, pad = content[:SALT_SIZE], content[SALT_SIZE]
    blocks = content[SALT_SIZE + 1:]
    plain = openssl_ecb(blocks, KEY_TEXT + salt, decrypt=True) if blocks else b""
    return plain[:len(plain) - pad]


def encode_config(text):
    pad = (16 - len(text) % 16) % 16
    return TEST_SALT + bytes([pad]) + openssl_ecb(text + b"\0" * pad, KEY_TEXT + TEST_SALT, decrypt=False)


def squeeze(text):
    return "".join(text.lower().split())


class ConfigTests(harness.TestCase):
    def fixture(self, version):
        with open(os.path.join(self.source_dir, "tests", "data", "config_fixture_%d.bin" % version), "rb") as f:
            return f.read()

    def wait_config(self, session, expected, timeout=30):
        """Polls "config" until it decodes to the expected text; answers the last decoded text."""
        deadline = time.time() + timeout
        text = None
        while time.time() < deadline:
            if session.exists("config"):
                text = decode_config(session.read_file("config"))
                if text == expected:
                    return text
            time.sleep(0.3)
        return text

    def answer_config_message(self, content, expected_lines):
        with harness.Session() as s:
            s.write_file("config", content)
            s.launch()
            box = s.wait_dialog("Error", timeout=60)
            self.assertIsNotNone(box, "no message box for the unusable config")
            shown = squeeze(s.read_dialog(box))
            for line in expected_lines:
                self.assertIn(squeeze(line), shown)
            self.assertFalse(s.windows(), "the launcher window appeared before the message was answered")
            s.dismiss_dialog(box)
            s.wait_window()
            self.assertEqual(self.wait_config(s, b"[Version] 1\n"), b"[Version] 1\n")
            self.assertEqual(len(s.read_file("config")), 38)
            self.assertFalse(s.exists("config.tmp"))

    def test_a_damaged_config_is_reported_and_rewritten_with_version_1(self):
        damaged = bytearray(self.fixture(10005))
        damaged[30] ^= 0x5A  # inside the cipher block: the text deciphers to noise
        self.answer_config_message(bytes(damaged), ["config.txt is incorrect."])

    def test_a_config_without_a_version_is_reported_and_reset(self):
        self.answer_config_message(encode_config(b"[Version] 0\n"),
                                   ["Version not found in the configuration file.", "Resetting version to default."])

    def test_a_missing_config_is_written_with_version_1_without_a_message(self):
        with harness.Session() as s:
            s.launch()
            s.wait_window()
            self.assertEqual(self.wait_config(s, b"[Version] 1\n"), b"[Version] 1\n")
            # A box about the config is up before the window shows and holds it back until answered;
            # the window being there, and config written, nothing is left to show one.
            self.assertEqual(s.windows("Error"), [], "a message box appeared for a missing config")

    # No "update.dat" yet: the start-up writes the file again, with the version it read.
    def test_a_good_config_keeps_its_version_when_rewritten(self):
        with harness.Session() as s:
            original = encode_config(b"[VERSION]\t10003 trailing words\n")
            s.write_file("config", original)
            s.launch()
            s.wait_window()
            self.assertEqual(self.wait_config(s, b"[Version] 10003\n"), b"[Version] 10003\n")
            self.assertNotEqual(s.read_file("config"), original)
            self.assertEqual(s.windows("Error"), [])


if __name__ == "__main__":
    harness.main()
