#!/usr/bin/env python3
"""Real X input on the UI library's skin window (uilib_skinwnd.exe, named by
QV_SKIN_WINDOW) under Xvfb, driven through the window driver: clicks fire
"click" with the button's name, a press released on another button and a
click on a hidden control fire nothing, "windowinit" comes once, a pressed
button shows its pushed picture, the caption strip moves the window, the
folder box takes real typing. Leaves screenshots of the first page, the
custom view, the progress page and the finished page in the build folder."""
import os
import shutil
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "e2e"))
import qvdrive as q  # noqa: E402
import qvinstaller as t  # noqa: E402
import qvlayout  # noqa: E402

EXE = os.environ.get("QV_SKIN_WINDOW", os.path.join(q.BUILD, "tests", "uilib", "uilib_skinwnd.exe"))
TITLE = "uilib skin test"


def rect(name):
    return qvlayout.rect(name)


class SkinWindow:
    """The skin window program in one view, logging its notifications."""

    def __init__(self, work, view, *args):
        self.log = os.path.join(work, view + ".log")
        open(self.log, "w").close()
        self.program = q.Program(EXE, ["--log", q.windows_path(self.log), "--view", view] + list(args))
        try:
            self.wait_lines(1)
            self.window = q.wait_for(lambda: self._sized_window(), 30, 0.1, "the skin window at 608 x 456")
            self.x, self.y = q.geometry(self.window)[:2]
        except BaseException:
            self.program.close()
            raise

    def _sized_window(self):
        for window in q.find_windows(TITLE):
            try:
                if q.geometry(window)[2:] == qvlayout.window_size():
                    return window
            except Exception:
                pass
        return None

    def lines(self):
        with open(self.log, encoding="utf-8") as f:
            return f.read().splitlines()

    def wait_lines(self, count):
        def enough():
            if not self.program.running() and len(self.lines()) < count:
                raise AssertionError("the window program ended early: %r" % self.lines())
            return len(self.lines()) >= count

        q.wait_for(enough, 30, 0.1, "%d log lines" % count)
        return self.lines()

    def line(self, number):
        """Log line `number` (from 1), once there."""
        return self.wait_lines(number)[number - 1]

    def click(self, x, y, repeat=1):
        q.click(self.window, x, y, repeat=repeat)

    def click_control(self, name):
        self.click(*rect(name).centre())

    def screen_pixel(self, x, y):
        """(r, g, b) of one window pixel on screen."""
        handle, path = tempfile.mkstemp(suffix=".png", prefix="qvpixel-")
        os.close(handle)
        try:
            q.screenshot(path, self.window)
            return q.pixel(path, x, y)
        finally:
            os.remove(path)

    def wait_pixel(self, x, y, colour, what):
        q.wait_for(lambda: q.close_enough(self.screen_pixel(x, y), colour, 1), 10, 0.2, what)

    def shot(self, name):
        q.pointer_away()  # no hover state in the picture
        q.screenshot(os.path.join(q.BUILD, name), self.window)

    def close_with(self, name):
        """A click on a close button ends the program with exit code 0."""
        self.click_control(name)
        return self.program.wait(10)

    def close(self):
        self.program.close()


class SkinWindowTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="qvuilib-")
        self.addCleanup(shutil.rmtree, self.work, True)

    def start(self, view, *args):
        window = SkinWindow(self.work, view, *args)
        self.addCleanup(window.close)
        self.assertEqual(window.line(1), "windowinit", "first notification")
        return window

    def test_first_page_clicks_press_and_caption(self):
        w = self.start("main")
        w.shot("uilib-first-page.png")
        w.click_control("chk_agree")
        self.assertEqual(w.line(2), "click chk_agree")
        w.click_control("btn_agree")
        self.assertEqual(w.line(3), "click btn_agree")
        # Pressed on btn_agree, released on btn_join: nothing, then a real click.
        q.press(w.window, *rect("btn_agree").centre())
        q.release(w.window, *rect("btn_join").centre())
        w.click_control("chk_join")
        self.assertEqual(w.line(4), "click chk_join")
        # Hidden controls of the custom view: btn_select and btn_insts.
        w.click_control("btn_select")
        w.click_control("btn_insts")
        w.click_control("btn_custom")
        self.assertEqual(w.line(5), "click btn_custom")
        # Held down, the install button shows its pushed half; released
        # outside, it fires nothing.
        inst = rect("btn_inst")
        at = (inst.x + 10, inst.y + 31)
        pushed = q.pixel(t.skin("instb.png"), inst.w + 10, 31)
        normal = q.pixel(t.skin("instb.png"), 10, 31)
        self.assertNotEqual(pushed, normal, "the two halves of instb.png do not differ")
        q.press(w.window, *at)
        w.wait_pixel(*at, pushed, "the pressed button's pushed picture")
        q.release(w.window, 300, 200)
        w.wait_pixel(*at, normal, "the released button's normal picture")
        # Double click: two clicks.
        w.click(*rect("btn_join").centre(), repeat=2)
        self.assertEqual(w.line(7), "click btn_join")
        self.assertEqual(w.line(6), "click btn_join", "double click did not give two clicks")
        # Dragging the caption strip (outside the buttons) moves the window.
        q.drag(w.window, 300, 40, 400, 100, steps=2)
        moved = (w.x + 100, w.y + 60)
        try:
            q.wait_for(lambda: q.geometry(w.window)[:2] == moved, 5, 0.1, "the window to move")
        except TimeoutError:
            self.fail("caption drag moved the window to %r from %r" % (q.geometry(w.window)[:2], (w.x, w.y)))
        self.assertEqual(w.close_with("btn_close"), 0, "the window program failed")
        self.assertEqual(w.lines().count("windowinit"), 1, "windowinit did not come exactly once")
        self.assertEqual(w.line(8), "click btn_close", "close click missing")

    def test_custom_view_clicks_and_typing(self):
        w = self.start("custom")
        w.shot("uilib-custom-view.png")
        w.click_control("btn_select")
        self.assertEqual(w.line(2), "click btn_select")
        w.click_control("chk_agree")  # hidden now
        w.click_control("btn_ret")
        self.assertEqual(w.line(3), "click btn_ret")
        # The folder box takes real typing: replace "Quiview" by "Apps".
        w.click_control("edit_dir")
        q.key("--clearmodifiers", "End", *["BackSpace"] * 7)
        q.type_text("Apps")
        w.click_control("btn_insts")  # which reports the box's text
        self.assertEqual(w.line(4), "click btn_insts C:\\Program Files\\Apps")
        self.assertEqual(w.close_with("btn_close"), 0, "the window program failed")

    def test_progress_page(self):
        w = self.start("progress", "--percent", "60")
        w.shot("uilib-progress-page.png")

    def test_finished_page(self):
        w = self.start("finished")
        w.shot("uilib-finished-page.png")
        w.click_control("btn_expe")
        self.assertEqual(w.line(2), "click btn_expe")
        self.assertEqual(w.close_with("btn_closee"), 0, "the window program failed")


if __name__ == "__main__":
    t.main()
