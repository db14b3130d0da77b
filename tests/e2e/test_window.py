#!/usr/bin/env python3
"""The skinned window end to end: single instance, shape and bars on screen, Start with the command
line handed to the game, Cancel, the close corner, Alt+F4 and dragging. The test server serves an empty
manifest, so a fresh game folder ends ready with version 1."""
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

START = (70, 398)
CANCEL = (382, 383)
CLOSE_MARK = (617, 31)
FREE_SPOT = (330, 150)


class WindowTests(harness.TestCase):
    def start_ready(self, session, args=""):
        session.launch(args)
        session.wait_window()
        session.wait_status("Ready to start the game")

    def test_second_instance_exits_with_1_and_adds_no_window(self):
        with harness.Session() as s:
            self.start_ready(s)
            self.assertEqual(s.run_second(), 1)
            self.assertEqual(len(s.windows()), 1)
            self.assertTrue(s.running())

    def test_frame_shows_shape_bars_close_mark_and_version(self):
        with harness.Session() as s:
            self.start_ready(s)
            self.assertEqual(s.geometry()[2:], (649, 489))
            shot = s.screenshot()
            self.assertEqual(s.pixel(1, 1, shot), harness.ROOT_COLOUR)          # rounded, transparent corner
            self.assertEqual(s.pixel(647, 487, shot), harness.ROOT_COLOUR)
            self.assertNotEqual(s.pixel(324, 244, shot), harness.ROOT_COLOUR)    # opaque body
            r, g, b = s.pixel(300, 421, shot)                                   # file bar, full
            self.assertGreater(b, 120)
            self.assertGreater(b, r)
            r, g, b = s.pixel(300, 433, shot)                                   # total bar, full
            self.assertGreater(r, 150)
            self.assertGreater(r, b)
            self.assertGreater(min(s.pixel(*CLOSE_MARK, shot)), 180)            # the X of the close mark
            self.assertIn("0.0.0.5", s.read_text((15, 51, 150, 20), shot))
            self.assertIn("[Version: 1]", s.status_text(shot).replace("(", "[").replace(")", "]"))

    def test_start_hands_the_command_line_to_the_game(self):
        for args in ("100% %PATH% x", ""):
            with self.subTest(args=args), harness.Session(stub_game=True) as s:
                self.start_ready(s, args)
                s.click(*START)
                recorded = s.recorded_args("Norvane.exe")
                self.assertIsNotNone(recorded, "the game was not started")
                program_end = recorded.lower().find("norvane.exe")
                self.assertGreater(program_end, -1, recorded)
                rest = recorded[program_end + len("norvane.exe"):].lstrip('"')
                self.assertEqual(rest.strip(), args)
                self.assertEqual(s.wait_exit(5), 0)

    def test_cancel_ends_the_launcher(self):
        with harness.Session() as s:
            self.start_ready(s)
            s.click(*CANCEL)
            self.assertEqual(s.wait_exit(3), 0)

    def test_press_in_the_close_corner_ends_the_launcher(self):
        with harness.Session() as s:
            self.start_ready(s)
            s.press(*CLOSE_MARK)
            self.assertEqual(s.wait_exit(3), 0)
            s.release()

    def test_alt_f4_ends_the_launcher(self):
        with harness.Session() as s:
            self.start_ready(s)
            s.key("alt+F4")
            self.assertEqual(s.wait_exit(5), 0)

    def test_drag_moves_the_window_and_buttons_follow(self):
        with harness.Session() as s:
            self.start_ready(s)
            x0, y0, _, _ = s.geometry()
            s.drag(FREE_SPOT, (FREE_SPOT[0] + 80, FREE_SPOT[1] + 50))
            x1, y1, _, _ = s.geometry()
            self.assertAlmostEqual(x1 - x0, 80, delta=3)
            self.assertAlmostEqual(y1 - y0, 50, delta=3)
            self.assertTrue(s.running())
            s.click(*CANCEL)  # the hit test uses the new position
            self.assertEqual(s.wait_exit(3), 0)


if __name__ == "__main__":
    harness.main()
