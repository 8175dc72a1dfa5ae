#!/usr/bin/env python3
"""The real Install.exe under Wine on the X display of the test session, driven
with real X input through the window driver, checked through screenshots, the
settings file, the files it writes, small stand-in programs (a helper library
that installs nothing, a recorder for the programs it starts) and an MSAA
probe that reads the window as assistive technology does. One test class per
ctest group:
    installer_test.py StartupTest|WindowTest|InstallTest|AccessTest|KeyboardTest|DpiTest
Screenshots of every state are left in build/app-shots/."""
import os
import re
import shutil
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "e2e"))
import qvdrive as q  # noqa: E402
import qvinstaller as t  # noqa: E402
import qvlayout  # noqa: E402

TESTS = os.environ.get("QV_APP_TEST_DIR", os.path.join(q.BUILD, "tests", "app"))
SHOTS = os.path.join(q.BUILD, "app-shots")
WORK = os.path.join(q.BUILD, "app-test-work")
RECORDER = os.path.join(TESTS, "app_recorder.exe")
ACC_PROBE = os.path.join(TESTS, "app_acc_probe.exe")
PAYLOADS = os.path.join(TESTS, "payloads")

WEB = "http://www.quiview.com"
USER_CHOICE_KEY = r"HKCU\Software\Microsoft\Windows\Shell\Associations\UrlAssociations\http\UserChoice"
IE_KEY = r"HKCR\Applications\iexplore.exe\shell\open\command"
HTTP_KEY = r"HKCR\http\shell\open\command"
BROWSER_CLASS = "QvTestBrowser"
DESKTOP_KEY = r"HKCU\Control Panel\Desktop"


def rect(name):
    return qvlayout.rect(name)


# Parts of label_insting and prg_inst that the finish buttons leave
# uncovered, kept a few pixels away from the buttons' edges.
LABEL_INSTING_FREE = rect("label_insting").clip(right=rect("btn_expe").x - 2)
PRG_INST_FREE = rect("prg_inst").clip(left=rect("btn_use").right + 7)

# What assistive technology hears of the controls: names, and each page's
# children in layout order with their roles.
ACC_NAMES = {
    "btn_min": "最小化", "btn_close": "关闭", "chk_agree": "已阅读并接受《Quiview协议》",
    "btn_agree": "《Quiview协议》", "chk_join": "参加《Quiview用户体验改善计划》",
    "btn_join": "《Quiview用户体验改善计划》", "btn_custom": "自定义安装", "btn_inst": "立即安装",
    "labelInst": "安装位置:", "edit_dir": "安装位置", "btn_select": "浏览", "chk_sc": "创建桌面快捷方式",
    "btn_insts": "立即安装", "btn_ret": "返回", "btn_mine": "最小化", "btn_closee": "关闭",
    "label_insting": "正在安装:", "prg_inst": "安装进度", "btn_expe": "立即体验", "btn_use": "查看帮助",
}
MAIN_VIEW = [("btn_min", "pushbutton"), ("btn_close", "pushbutton"), ("chk_agree", "checkbutton"),
             ("btn_agree", "link"), ("chk_join", "checkbutton"), ("btn_join", "link"),
             ("btn_custom", "pushbutton"), ("btn_inst", "pushbutton")]
CUSTOM_VIEW = [("btn_min", "pushbutton"), ("btn_close", "pushbutton"), ("labelInst", "statictext"),
               ("edit_dir", "text"), ("btn_select", "pushbutton"), ("chk_sc", "checkbutton"),
               ("btn_insts", "pushbutton"), ("btn_ret", "pushbutton")]
PROGRESS_PAGE = [("label_insting", "statictext"), ("label_persent", "statictext"), ("prg_inst", "progressbar")]
FINISHED_PAGE = [("btn_mine", "pushbutton"), ("btn_closee", "pushbutton"), ("btn_expe", "pushbutton"),
                 ("btn_use", "pushbutton")]


# --- pictures -------------------------------------------------------------

def expected_box(page, x, y, checked):
    """The check box picture (dest 0,5,14,19 of the control) drawn over the page background."""
    return q.Picture([t.skin(page), "-crop", "14x14+%d+%d" % (x, y + 5), "+repage",
                      "(", t.skin("checkbox.png"), "-crop", "14x14+%d+0" % (14 if checked else 0), "+repage", ")",
                      "-composite"]).region(0, 0, 14, 14)


BOX_CACHE = {}


def box_checked(shot, name, page="begin.png"):
    x, y = rect(name)[:2]
    key = (name, page)
    if key not in BOX_CACHE:
        BOX_CACHE[key] = (expected_box(page, x, y, True), expected_box(page, x, y, False))
    on, off = BOX_CACHE[key]
    got = shot.region(x, y + 5, 14, 14)
    return q.distance(got, on) < q.distance(got, off)


BACKGROUNDS = {}
# A band of the page above every control: only the background shows there.
BAND = [(x, y) for x in range(20, 560, 27) for y in range(40, 280, 23)]


def background_of(shot):
    """Which full-page picture the screenshot shows (nearest over the band)."""
    for name in ("begin.png", "ing1.png", "ing2.png", "end.png"):
        if name not in BACKGROUNDS:
            BACKGROUNDS[name] = q.Picture(t.skin(name))
    got = [shot.at(x, y) for x, y in BAND]
    scores = {name: q.distance(got, [BACKGROUNDS[name].at(x, y) for x, y in BAND])
              for name in ("begin.png", "ing1.png", "ing2.png", "end.png")}
    return min(scores, key=scores.get)


def shows_picture(shot, name, picture):
    """True when the control's rectangle shows the left (normal) half of its picture."""
    x, y, w, h = rect(name)
    expected = q.Picture([t.skin(picture), "-crop", "%dx%d+0+0" % (w, h), "+repage",
                          "-background", "white", "-flatten"]).region(0, 0, w, h)
    return q.distance(shot.region(x, y, w, h), expected) < 20


def ink(shot, area, page):
    """Pixels of a rectangle (a control's name or a rectangle) that differ from the page background."""
    x, y, w, h = rect(area) if isinstance(area, str) else area
    if page not in BACKGROUNDS:
        BACKGROUNDS[page] = q.Picture(t.skin(page))
    bg = BACKGROUNDS[page]
    return sum(1 for j in range(h) for i in range(w)
               if q.distance([shot.at(x + i, y + j)], [bg.at(x + i, y + j)]) > 40)


def finished(picture):
    return background_of(picture) == "end.png" and shows_picture(picture, "btn_expe", "expe.png")


def custom_view(picture):
    return shows_picture(picture, "btn_ret", "return.png")


def main_view(picture):
    return shows_picture(picture, "btn_inst", "instb.png")


# --- the installer's traces -----------------------------------------------------

def read_record(payload_folder):
    """What the stand-in helper was handed (setup_record.txt in the payload folder)."""
    path = os.path.join(t.unix(payload_folder), "setup_record.txt")
    with open(path, encoding="utf-8") as f:
        return f.read().splitlines()


def temp_payload_folder():
    """The payload folder of the running installation (the newest private folder's)."""
    found = sorted(t.private_folders(), key=os.path.getmtime)
    return os.path.join(found[-1], "payload") if found else None


def lines_of(path):
    if not os.path.exists(path):
        return []
    with open(path, encoding="utf-8") as f:
        return f.read().splitlines()


def scaled(v, scale2):
    """A layout value at twice-the-scale `scale2`, rounded as the window rounds."""
    return (v * scale2 + 1) // 2


def in_order(events, wanted):
    """Whether `wanted` occurs in `events` as a subsequence."""
    it = iter(events)
    return all(any(e == w for e in it) for w in wanted)


# --- assistive technology -------------------------------------------------------

def acc(*args):
    """Runs the MSAA probe (another process); returns its exit code and output."""
    out = q.run(["wine", ACC_PROBE] + [str(a) for a in args], check=False)
    return out.returncode, out.stdout.decode("utf-8", "replace").strip()


def acc_tree():
    """The client and its children as the probe reads them."""
    rows = []
    for line in acc("tree")[1].splitlines():
        f = line.split("\t")
        if len(f) == 7:
            rows.append({"id": int(f[0]), "role": f[1], "states": set(f[2].split(",")), "name": f[3],
                         "value": f[4], "action": f[5], "rect": tuple(int(v) for v in f[6].split(","))})
        else:
            rows.append({"name": None, "line": line})
    return rows


def row_of(rows, name):
    """A child's row (never the client's, which may share a page's name)."""
    return next((r for r in rows[1:] if r["name"] == ACC_NAMES.get(name, name)), {"states": set(), "value": None})


def wait_checked(name, checked, what):
    q.wait_for(lambda: ("checked" in row_of(acc_tree(), name)["states"]) == checked, 20, 0.3, what)


class EventRecorder:
    """The probe recording the window's WinEvents into a file, as another
    process hooked out of context sees them."""

    def __init__(self, name):
        self.path = os.path.join(WORK, name + ".events")
        for stale in (self.path, self.path + ".stop"):
            if os.path.exists(stale):
                os.remove(stale)
        self.program = q.Program(ACC_PROBE, ["events", q.windows_path(self.path)])
        q.wait_for(lambda: "ready" in lines_of(self.path), 30, 0.2, "the event hook")

    def stop(self):
        """The events as (event, name of the child or <client>) in order."""
        open(self.path + ".stop", "w").close()
        try:
            self.program.wait(30)
        finally:
            self.program.close()
        events, names = [], {0: "<client>"}
        with open(self.path, encoding="utf-8") as f:
            lines = f.read().splitlines()[1:]
        for line in lines:
            event, _, child = line.split("\t")
            child = int(child)
            if child not in names:
                names[child] = acc("name", str(child))[1].split("\t")[0]
            events.append((event, names[child]))
        return events

    def close(self):
        self.program.close()


# --- the fixture ------------------------------------------------------------------

class AppTest(t.InstallerFixture):
    """Installer runs from bundles with a stand-in helper, screenshots in
    build/app-shots, and the checks the groups share."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        os.makedirs(SHOTS, exist_ok=True)
        os.makedirs(WORK, exist_ok=True)

    def app_bundle(self, payload="ok.7z", without=(), exe_name="Install.exe"):
        """A copy of the shipped folder with one of the test payloads (None: none at all)."""
        if payload is None:
            return self.bundle(without=tuple(without) + ("payload.7z",), exe_name=exe_name)
        if not os.path.isfile(payload):
            payload = os.path.join(PAYLOADS, payload)
        return self.bundle(without=without, payload=payload, exe_name=exe_name)

    def start(self, bundle=t.DIST, exe="Install.exe", progress=None, hold=False):
        """An installer run, closed when the case ends. `progress` and `hold`
        steer the stand-in helper (see test_helper.cpp); hold="thread" holds
        its reports instead of its call."""
        env = {}
        if progress is not None:
            env["QVTEST_PROGRESS"] = progress
        if hold:
            env["QVTEST_HOLD"] = "thread" if hold == "thread" else "1"
        app = t.Installer(bundle, exe, env=env, shots=SHOTS)
        self.addCleanup(app.close)
        return app

    def wait_shot(self, app, name, condition, what, timeout=30):
        """Screenshots until `condition(picture)` holds; the last one stays as `name`."""
        pictures = []

        def taken():
            pictures.append(app.picture(name))
            return condition(pictures[-1])

        try:
            q.wait_for(taken, timeout, 0.2, what)
        except TimeoutError:
            self.fail("timed out waiting for " + what + " (see %s.png)" % name)
        return pictures[-1]

    def toggle(self, app, name, checked, shot):
        """Clicks a check box and waits for the picture of the new state."""
        app.click(name)
        return self.wait_shot(app, shot, lambda p: box_checked(p, name) == checked,
                              "%s %s" % (name, "checked" if checked else "unchecked"))

    def answer_message_box(self, caption, text, shot):
        box = q.dialog()
        self.assertEqual(box["caption"], caption)
        self.assertEqual(box["text"], text)
        self.assertEqual((box["owner"], box["icon"]), ("0", "0"), "a box without owner window and icon")
        q.screenshot(os.path.join(SHOTS, shot + ".png"))
        q.answer(box, "ok")

    def use_test_browser(self):
        """Makes a copy of the recorder the user's web browser (the registry
        put back when the case ends); returns its path and the file it
        records to."""
        browser_dir = os.path.join(WORK, "browser")
        shutil.rmtree(browser_dir, ignore_errors=True)
        os.makedirs(browser_dir)
        browser = os.path.join(browser_dir, "testbrowser.exe")
        shutil.copy(RECORDER, browser)
        saved = {"choice": t.reg_value(USER_CHOICE_KEY, "Progid"), "ie": t.reg_value(IE_KEY),
                 "http": t.reg_value(HTTP_KEY)}

        def restore():
            t.reg_set(USER_CHOICE_KEY, "Progid", saved["choice"])
            t.reg_set(IE_KEY, None, saved["ie"])
            t.reg_set(HTTP_KEY, None, saved["http"])
            t.reg("delete", r"HKCR\%s" % BROWSER_CLASS, "/f")

        self.addCleanup(restore)
        t.reg_set(r"HKCR\%s\shell\open\command" % BROWSER_CLASS, None, '"%s" "%%1"' % q.windows_path(browser))
        t.reg_set(USER_CHOICE_KEY, "Progid", BROWSER_CLASS)
        return browser, os.path.join(browser_dir, "record.log")

    def work_folder(self, *parts):
        """A folder below the work folder, made anew."""
        folder = os.path.join(WORK, *parts)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        return folder

    # --- assistive technology ---
    def check_tree(self, app, page, client, what, scale2=2, texts=None):
        """Waits until the client is `client` with the children of `page`, then
        checks their roles, states, actions and screen places against the
        layout (scaled); returns the rows."""
        names = [(texts or {}).get(n, ACC_NAMES.get(n)) for n, _ in page]

        def ready():
            rows = acc_tree()
            return rows if rows and rows[0]["name"] == client and [r["name"] for r in rows[1:]] == names else None

        try:
            rows = q.wait_for(ready, 30, 0.3, what)
        except TimeoutError:
            self.fail("%s: the tree is %r" % (what, acc_tree()))
        x0, y0, w0, h0 = app.geometry()
        self.assertTrue(rows[0]["role"] == "client" and rows[0]["rect"] == (x0, y0, w0, h0),
                        "%s: client %r, window %r" % (what, rows[0], (x0, y0, w0, h0)))
        for row, (name, role) in zip(rows[1:], page):
            x, y, w, h = rect(name)
            left, top = scaled(x, scale2), scaled(y, scale2)
            place = (x0 + left, y0 + top, scaled(x + w, scale2) - left, scaled(y + h, scale2) - top)
            pressable = role in ("pushbutton", "checkbutton", "link")
            self.assertEqual(row["role"], role, "%s: %s has role %s" % (what, name, row["role"]))
            self.assertEqual(row["rect"], place, "%s: %s at %r, expected %r" % (what, name, row["rect"], place))
            self.assertEqual("focusable" in row["states"], pressable or role == "text",
                             "%s: %s states %r" % (what, name, row["states"]))
            self.assertEqual(bool(row["action"]), pressable, "%s: %s action %r" % (what, name, row["action"]))
            if role in ("statictext", "progressbar"):
                self.assertIn("readonly", row["states"], "%s: %s states %r" % (what, name, row["states"]))
        return rows

    def default_action(self, name, what, ends=False):
        """accDoDefaultAction on a child, by the probe. An action that ends the
        installer may end it before the answer has reached the probe."""
        code = acc("do", ACC_NAMES.get(name, name))[0]
        self.assertTrue(code == 0 or ends, "%s: the default action of %s gave %d" % (what, name, code))

    def wait_focus(self, name, what):
        want = ACC_NAMES.get(name, name)
        try:
            q.wait_for(lambda: acc("focus")[1] == want, 20, 0.2, what)
        except TimeoutError:
            self.fail("%s: the focus is on %r" % (what, acc("focus")[1]))

    def recorder(self, name):
        events = EventRecorder(name)
        self.addCleanup(events.close)
        return events


# --- start-up ---------------------------------------------------------------

class StartupTest(AppTest):
    def test_first_run_replaces_old_settings_and_stays_alone(self):
        # A settings file of an earlier run (here: not even a database) is replaced.
        config = os.path.join(self.data, "config.dat")
        os.makedirs(os.path.dirname(config), exist_ok=True)
        with open(config, "wb") as f:
            f.write(b"left by an earlier run" * 100)
        first = self.start()
        self.wait_shot(first, "startup-first-page", lambda p: background_of(p) == "begin.png", "the first page")
        self.assertEqual(t.settings_rows(config), [("channel", "30100"), ("version", "1.0.1")],
                         "settings after start-up")
        state = first.state()
        self.assertEqual((state["visible"], state["iconic"], state["zoomed"]), (1, 0, 0), "window state %r" % state)
        # Start-up runs on one thread: nothing is gathered in the background
        # while the first page shows (the machine identifier waits for the
        # installation).
        self.assertEqual(state["threads"], 1, "threads of the installer at its first page")
        self.assertEqual(state["rect"][2:], (608, 456), "window state %r" % state)

        # A second installer ends at once with 0 and touches nothing.
        with open(config, "rb") as f:
            before = (f.read(), os.stat(config).st_mtime_ns)
        second = q.Program(os.path.join(t.DIST, "Install.exe"))
        try:
            self.assertEqual(second.wait(30), 0, "second installer's exit code")
        finally:
            second.close()
        with open(config, "rb") as f:
            self.assertEqual((f.read(), os.stat(config).st_mtime_ns), before,
                             "the second installer changed config.dat")
        self.assertEqual(len(q.find_windows(t.TITLE)), 1, "more than one installer window")
        self.assertTrue(first.running(), "the first installer ended")

        # The close button ends the installer with 0.
        first.click("btn_close")
        self.assertEqual(first.exit_code(), 0, "exit code after the close button")

    def test_marked_name_then_the_next_run(self):
        # Started under a name that carries the channel marker.
        bundle = self.app_bundle(payload=None, without=("7z.dll",), exe_name="qvewtg_30777.exe")
        marked = self.start(bundle, "qvewtg_30777.exe")
        self.assertEqual(t.settings_rows(), [("channel", "30777"), ("version", "1.0.1")],
                         "settings of the marked installer")
        # A plain WM_CLOSE (as a task manager sends) ends the installer with 0
        # instead of leaving an invisible process that holds the mutex.
        self.assertTrue(marked.post_close(), "WM_CLOSE posted")
        self.assertEqual(marked.exit_code(), 0, "exit code after WM_CLOSE")

        # The next installer starts, and replaces the earlier run's settings.
        again = self.start()
        self.assertEqual(t.settings_rows(), [("channel", "30100"), ("version", "1.0.1")],
                         "settings of the next run")
        self.assertTrue(again.post_quit(), "quit message posted")
        self.assertEqual(again.exit_code(), 0, "exit code after the quit message")


# --- window, options, links -------------------------------------------------

class WindowTest(AppTest):
    def test_options_views_folder_dialog_links_and_caption(self):
        app = self.start()
        first = self.wait_shot(app, "window-main-view", lambda p: background_of(p) == "begin.png", "the first page")
        self.assertTrue(box_checked(first, "chk_agree") and box_checked(first, "chk_join"), "boxes checked at start")
        self.assertTrue(app.folder.endswith("\\Quiview") and os.path.isdir(t.unix(app.folder)),
                        "default folder %r" % app.folder)

        # Each box toggles its picture; twice restores it.
        for name in ("chk_agree", "chk_join"):
            self.toggle(app, name, False, "window-%s-off" % name)
            self.toggle(app, name, True, "window-%s-on" % name)

        # Custom view: folder box with the default folder, shortcut box.
        self.toggle(app, "chk_agree", False, "window-agree-off")  # to be kept across the views
        app.click("btn_custom")
        custom = self.wait_shot(app, "window-custom-view", custom_view, "the custom view")
        self.assertTrue(box_checked(custom, "chk_sc"), "shortcut box checked at start")
        self.assertEqual(app.folder_text(), app.folder, "folder box text in the custom view")
        self.toggle(app, "chk_sc", False, "window-custom-sc-off")
        self.toggle(app, "chk_sc", True, "window-custom-sc-on")
        self.toggle(app, "chk_sc", False, "window-custom-sc-off2")
        app.click("btn_ret")
        back = self.wait_shot(app, "window-main-again", main_view, "the main view again")
        self.assertTrue(not box_checked(back, "chk_agree") and box_checked(back, "chk_join"),
                        "boxes kept across views")
        app.click("btn_custom")
        again = self.wait_shot(app, "window-custom-again", custom_view, "the custom view again")
        self.assertFalse(box_checked(again, "chk_sc"), "shortcut box kept across views")
        self.assertEqual(app.folder_text(), app.folder, "folder text kept across views")

        # The folder dialog: cancelling keeps the folder, an item without a
        # file-system path is refused, a folder gets the product name appended.
        def browse(key, shot):
            app.click("btn_select")
            box = q.dialog(focus="SysTreeView32" if key else None)
            if key:
                q.key(key)
            q.screenshot(os.path.join(SHOTS, shot + ".png"))
            return box

        q.answer(browse(None, "window-folder-dialog"), "cancel")
        self.assertEqual(app.folder_text(), app.folder, "cancelled dialog changed the folder")
        q.answer(browse("End", "window-folder-dialog-trash"), "ok")  # the last item: Trash
        self.answer_message_box("选择文件夹", "您输入的文件夹无效。", "window-folder-invalid")
        self.assertEqual(app.folder_text(), app.folder, "invalid choice changed the folder")
        q.answer(browse("Home", "window-folder-dialog-desktop"), "ok")  # the first item: Desktop
        chosen = q.wait_for(lambda: app.folder_text() != app.folder and app.folder_text(), 20, 0.2,
                            "the chosen folder")
        self.assertTrue(chosen.lower().endswith("\\desktop\\quiview") and
                        os.path.isdir(os.path.dirname(t.unix(chosen))), "folder chosen in the dialog: %r" % chosen)
        app.shot("window-folder-chosen")
        app.click("btn_ret")
        self.wait_shot(app, "window-main-third", main_view, "main view")
        self.toggle(app, "chk_agree", True, "window-agree-on")

        # The agreement links start the registered browser with the address.
        browser, record = self.use_test_browser()
        app.click("btn_agree")
        lines = q.wait_for(lambda: lines_of(record), 30, 0.2, "the browser for the agreement")
        self.assertTrue(lines[0].endswith(WEB + "/protocol.html"), "agreement address: %r" % lines[0])
        elevation = os.path.join(os.path.dirname(record), "elevation.log")
        with open(elevation) as f:
            self.assertEqual(f.read(), "0", "the browser runs elevated")
        app.click("btn_join")
        lines = q.wait_for(lambda: len(lines_of(record)) >= 2 and lines_of(record), 30, 0.2, "the browser again")
        self.assertTrue(lines[1].endswith(WEB + "/userexperience.html"), "plan address: %r" % lines[1])
        links = app.picture("window-after-links")
        self.assertTrue(box_checked(links, "chk_agree") and box_checked(links, "chk_join"),
                        "links changed an option")

        # No browser known: the shell opens the address by its association.
        os.remove(record)
        t.reg_set(USER_CHOICE_KEY, "Progid", None)
        t.reg_set(IE_KEY, None, "")
        t.reg_set(HTTP_KEY, None, '"%s" "%%1"' % q.windows_path(browser))
        app.click("btn_agree")
        lines = q.wait_for(lambda: lines_of(record), 30, 0.2, "the shell's association for the address")
        self.assertIn(WEB + "/protocol.html", lines[0], "address through the association")
        with open(elevation) as f:
            self.assertEqual(f.read(), "0", "the associated browser runs elevated")

        # Dragging the top strip moves the window; a double click there
        # changes nothing.
        x0, y0, w0, h0 = app.geometry()
        q.drag(app.window, 300, 40, 360, 100)
        moved = q.wait_for(lambda: app.geometry()[:2] != (x0, y0) and app.geometry(), 20, 0.2,
                           "the window to move")
        self.assertEqual((moved[0] - x0, moved[1] - y0), (60, 60), "moved by")
        q.wait_settled(app.window)
        before = app.geometry()
        q.click(app.window, 300, 40, repeat=2)
        # Input is handled in order: once this later click has shown, the
        # double click has been handled too.
        self.toggle(app, "chk_join", False, "window-after-double-click")
        state = app.state()
        self.assertTrue(state["zoomed"] == 0 and app.geometry() == before, "double click changed the window: %r" % state)

        # The minimise button minimises.
        app.click("btn_min")
        q.wait_for(lambda: app.state()["iconic"] == 1, 20, 0.2, "the window to minimise")
        self.assertTrue(app.post_quit(), "quit message posted")
        self.assertEqual(app.exit_code(), 0, "exit code after the quit message")


# --- install sequence, progress page, finish actions --------------------------

class InstallTest(AppTest):
    def test_default_install_after_the_agreement_notice(self):
        # Default install, first refused without the agreement.
        app = self.start(self.app_bundle())
        self.toggle(app, "chk_agree", False, "install-agree-off")
        app.click("btn_inst")
        self.answer_message_box("提示", "请先阅读并同意<<Quiview许可协议>>", "install-agreement-notice")
        still = app.picture("install-after-notice")
        self.assertTrue(background_of(still) == "begin.png" and not box_checked(still, "chk_agree"),
                        "the notice changed the page")
        self.toggle(app, "chk_agree", True, "install-agree-on")
        app.click("btn_inst")
        self.wait_shot(app, "install-finished", finished, "the finish page")
        payload = temp_payload_folder()
        self.assertIsNotNone(payload, "no payload folder")
        record = read_record(q.windows_path(payload))
        # Handed over before anything reached the installation folder.
        self.assertEqual(record[1:4], [app.folder, "12", "00"], "helper was handed %r" % record)
        self.assertIsNotNone(re.search(r"\\temp\\quiview-1\.0\.1-[0-9a-f]{16}\\payload$", record[0].lower()),
                             "payload folder %r" % record[0])
        for name in ("ImgKit.dll", "readme.txt"):
            self.assertTrue(os.path.isfile(os.path.join(payload, name)), "payload folder lacks " + name)
        for name in ("payload.7z", "items.lst"):
            self.assertTrue(os.path.isfile(os.path.join(os.path.dirname(payload), name)),
                            "private folder lacks " + name)
        # The runtime libraries are payload items for the helper to install.
        items = lines_of(os.path.join(os.path.dirname(payload), "items.lst"))
        for name in ("DuiLib.dll", "7z.dll"):
            self.assertTrue(os.path.isfile(os.path.join(payload, name)), "payload folder lacks " + name)
            self.assertTrue(any(line.endswith("\t" + name) for line in items), "item list lacks " + name)
        rows = t.settings()
        self.assertTrue(rows.get("join") == "1" and rows.get("channel") == "30100" and rows.get("version") == "1.0.1",
                        "settings after install: %r" % rows)
        uid = rows.get("uid", "")
        self.assertTrue(len(uid) == 32 and all(c in "0123456789abcdef" for c in uid), "uid %r" % uid)
        app.click("btn_use")
        self.assertEqual(app.exit_code(), 0, "exit code after btn_use")
        self.assertEqual(t.private_folders(), [], "private folder left behind")

    def test_options_off_and_a_typed_folder_of_the_users(self):
        # Options off and a typed folder of the user's: its files stay, the
        # folder is used exactly as typed.
        own = self.work_folder("own folder")
        with open(os.path.join(own, "sentinel.txt"), "w") as f:
            f.write("mine")
        app = self.start(self.app_bundle())
        self.toggle(app, "chk_join", False, "install-join-off")
        app.click("btn_custom")
        self.wait_shot(app, "install-custom", custom_view, "custom view")
        self.toggle(app, "chk_sc", False, "install-sc-off")
        typed = q.windows_path(own)
        app.type_folder(typed)
        app.shot("install-typed-folder")
        app.click("btn_insts")
        self.wait_shot(app, "install-finished-typed", finished, "the finish page")
        self.assertIsNotNone(temp_payload_folder(), "no payload folder")
        record = read_record(q.windows_path(temp_payload_folder()))
        self.assertEqual(record[1:4], [typed, "0", "00"], "helper was handed %r" % record)
        with open(os.path.join(own, "sentinel.txt")) as f:
            self.assertEqual(f.read(), "mine", "the user's file was lost")
        self.assertEqual(t.settings().get("join"), "0", "join after unchecking")
        app.click("btn_closee")
        self.assertEqual(app.exit_code(), 0, "exit code after the finish page's close button")

    def test_progress_page_driven_from_outside(self):
        # A product folder is never cleared: an installation removes only what
        # its manifest lists. The progress page shows while the helper still
        # works on the installer's thread. The helper stays silent, so the
        # progress page is driven from outside.
        product = os.path.join(self.work_folder("product"), "QuiView")
        os.makedirs(product)
        with open(os.path.join(product, "stale.txt"), "w") as f:
            f.write("old")
        app = self.start(self.app_bundle(), progress="none", hold=True)
        app.click("btn_custom")
        self.wait_shot(app, "progress-custom", custom_view, "custom view")
        app.type_folder(q.windows_path(product))
        app.click("btn_insts")

        def record():
            return os.path.join(temp_payload_folder() or WORK, "setup_record.txt")

        q.wait_for(lambda: os.path.isfile(record()), 30, 0.2, "the hand-over to the helper")
        self.wait_shot(app, "progress-start", lambda p: background_of(p) == "ing1.png", "the progress page")
        open(os.path.join(os.path.dirname(record()), "release"), "w").close()
        self.assertTrue(os.path.exists(os.path.join(product, "stale.txt")),
                        "a file without a manifest entry was removed")
        bar = rect("prg_inst")
        inks = {}
        for value, page in ((0, "ing1.png"), (10, "ing1.png"), (49, "ing1.png"), (50, "ing2.png"),
                            (99, "ing2.png")):
            app.post_progress(value)
            bar_end = bar.x + bar.w * value // 100

            def shown(p, value=value, page=page, bar_end=bar_end):
                if background_of(p) != page or ink(p, "label_persent", page) == 0:
                    return False
                # The bar is filled up to the value, the track shows after it.
                if value >= 10 and q.distance([p.at(bar_end - 8, bar.y + 1)], [p.at(bar_end + 8, bar.y + 1)]) < 20:
                    return False
                return True

            pic = self.wait_shot(app, "progress-%d" % value, shown, "progress %d" % value)
            inks[value] = ink(pic, "label_persent", page)
            self.assertFalse(shows_picture(pic, "btn_expe", "expe.png"), "finish button shown at %d" % value)
        self.assertGreater(inks[10], inks[0], "label text at 10%% not wider than at 0%%: %r" % inks)
        for repeat in (1, 2):
            app.post_progress(100)
            done = self.wait_shot(app, "progress-100-%d" % repeat, finished, "the finished state")
            self.assertTrue(shows_picture(done, "btn_use", "use.png"), "btn_use not shown")
            self.assertTrue(ink(done, LABEL_INSTING_FREE, "end.png") == 0 and ink(done, PRG_INST_FREE, "end.png") == 0,
                            "progress label or bar still shown")
        app.click("btn_use")
        self.assertEqual(app.exit_code(), 0, "exit code after btn_use")

    def test_close_message_waits_for_the_helpers_work(self):
        # A plain WM_CLOSE (a task list's polite end) while the helper works,
        # with the window's thread free: refused, and the window goes on
        # taking messages. Once the work is over the same message ends the
        # installer with 0.
        app = self.start(self.app_bundle(), hold="thread")
        app.click("btn_inst")
        q.wait_for(lambda: temp_payload_folder() and os.path.isfile(
            os.path.join(temp_payload_folder(), "setup_record.txt")), 30, 0.2, "the hand-over to the helper")
        payload = temp_payload_folder()
        self.wait_shot(app, "close-at-work", lambda p: background_of(p) == "ing1.png", "the progress page")
        self.assertTrue(app.post_close(), "WM_CLOSE posted")
        # Posted after the close, so shown only once the close has been handled.
        self.assertTrue(app.post_progress(50), "progress posted")
        self.wait_shot(app, "close-refused", lambda p: background_of(p) == "ing2.png", "progress after the close")
        self.assertTrue(app.running(), "the installer ended while the helper worked")
        open(os.path.join(payload, "release"), "w").close()
        self.wait_shot(app, "close-work-over", finished, "the finished state")
        self.assertTrue(app.post_close(), "WM_CLOSE posted after the work")
        self.assertEqual(app.exit_code(), 0, "exit code after WM_CLOSE on the finished page")

    def test_try_it_starts_the_viewer_this_run_installed(self):
        # 立即体验 starts the viewer this run installed (its folder kept in memory,
        # whatever the registry says by then), quoted, without elevation, and ends.
        launch = self.work_folder("launch")
        viewer_dir = os.path.join(launch, "with space", "Quiview")
        planted_dir = os.path.join(launch, "planted")
        os.makedirs(viewer_dir)
        os.makedirs(planted_dir)
        shutil.copy(RECORDER, os.path.join(launch, "with.exe"))  # what an unquoted path would start
        shutil.copy(RECORDER, os.path.join(planted_dir, "ImgShell.exe"))  # what the registry will name
        app = self.start(self.app_bundle())
        app.click("btn_custom")
        self.wait_shot(app, "launch-custom", custom_view, "custom view")
        app.type_folder(q.windows_path(viewer_dir))
        app.click("btn_insts")
        self.wait_shot(app, "launch-finished", finished, "the finish page")
        # The stand-in helper installs nothing: the viewer is put in place here.
        shutil.copy(RECORDER, os.path.join(viewer_dir, "ImgShell.exe"))
        t.reg_set(t.UNINSTALL_KEY, "DisplayIcon", q.windows_path(os.path.join(planted_dir, "ImgShell.exe")))
        app.click("btn_expe")
        self.assertEqual(app.exit_code(), 0, "exit code after btn_expe")
        record = os.path.join(viewer_dir, "record.log")
        lines = q.wait_for(lambda: lines_of(record), 30, 0.2, "the viewer to start")
        self.assertTrue(len(lines) == 1 and lines[0].startswith("ImgShell.exe\t\""), "viewer starts: %r" % lines)
        with open(os.path.join(viewer_dir, "elevation.log")) as f:
            self.assertEqual(f.read(), "0", "the viewer runs elevated")
        # Started hidden (the viewer shows its own window) in the installer's
        # own working folder (the bundle it was started from).
        with open(os.path.join(viewer_dir, "start.log"), encoding="utf-8") as f:
            start = dict(line.split("=", 1) for line in f.read().splitlines())
        self.assertEqual(start["show"], "0", "the viewer's show state")
        self.assertEqual(start["folder"].rstrip("\\").lower(), q.windows_path(app.bundle_folder).rstrip("\\").lower(),
                         "the viewer's working folder")
        self.assertFalse(os.path.exists(os.path.join(launch, "record.log")), "the planted with.exe ran")
        self.assertFalse(os.path.exists(os.path.join(planted_dir, "record.log")), "the registry's program ran")

    def test_failures_end_with_a_message_and_exit_code_0(self):
        damaged = os.path.join(self.scratch, "damaged.7z")
        with open(damaged, "wb") as f:
            f.write(b"7z\xbc\xaf\x27\x1c" + b"\x00" * 64)
        cases = [("no-7z", dict(without=("7z.dll",)), "解压失败"),
                 ("damaged", dict(payload=damaged), "解压失败"),
                 ("no-entry", dict(payload="noentry.7z"), "安装失败"),
                 ("no-helper", dict(payload="nohelper.7z"), "安装失败")]
        for name, bundle, text in cases:
            with self.subTest(name):
                with t.Installer(self.app_bundle(**bundle), shots=SHOTS) as app:
                    app.click("btn_inst")
                    self.answer_message_box("Quiview", text, "failure-" + name)
                    self.assertEqual(app.exit_code(), 0, "exit code after the failure " + name)
                    self.assertEqual(t.private_folders(), [], "private folder left after the failure " + name)


# --- assistive technology and the keyboard ------------------------------------------

class AccessTest(AppTest):
    def test_read_and_driven_through_msaa(self):
        # Read and driven through MSAA alone, with the helper silent so that the
        # progress page stays for reading; the events are recorded meanwhile.
        app = self.start(self.app_bundle(), progress="none")
        rows = self.check_tree(app, MAIN_VIEW, "安装选项", "first page")
        self.assertTrue(all("checked" in row_of(rows, n)["states"] for n in ("chk_agree", "chk_join")),
                        "boxes checked: %r" % rows)
        self.assertIn("default", row_of(rows, "btn_inst")["states"], "立即安装 is not the default button")
        self.assertEqual(acc("chain")[1].splitlines(), [r["name"] for r in rows[1:]], "navigation order")
        x0, y0 = app.geometry()[:2]
        self.assertEqual(acc("hit", x0 + 200, y0 + 300)[1], "《Quiview协议》", "hit test on the link")
        self.assertEqual(acc("hit", x0 + 300, y0 + 150)[1], "<client>", "hit test on the banner")
        self.assertEqual(acc("nav", ACC_NAMES["chk_agree"], "right")[1], ACC_NAMES["btn_agree"],
                         "navigation to the right")
        recorder = self.recorder("access")
        self.default_action("chk_agree", "agreement off")
        wait_checked("chk_agree", False, "the agreement box unchecked")
        self.wait_shot(app, "access-agree-off", lambda p: not box_checked(p, "chk_agree"), "the box's picture")
        self.default_action("chk_agree", "agreement on")
        wait_checked("chk_agree", True, "the agreement box checked")
        self.default_action("btn_custom", "custom view")
        rows = self.check_tree(app, CUSTOM_VIEW, "安装选项", "custom view")
        self.assertEqual(row_of(rows, "edit_dir")["value"], app.folder, "folder box value")
        typed = q.windows_path(os.path.join(WORK, "access folder"))
        self.assertEqual(acc("setvalue", ACC_NAMES["edit_dir"], typed)[0], 0, "setting the folder")
        q.wait_for(lambda: app.folder_text() == typed, 20, 0.2, "the folder set through MSAA")
        self.default_action("chk_sc", "shortcut off")
        wait_checked("chk_sc", False, "the shortcut box unchecked")
        self.default_action("btn_insts", "install")
        self.check_tree(app, PROGRESS_PAGE, "安装进度", "progress page", texts={"label_persent": ""})
        app.post_progress(37)
        rows = self.check_tree(app, PROGRESS_PAGE, "安装进度", "progress 37", texts={"label_persent": "37%"})
        self.assertEqual(row_of(rows, "prg_inst")["value"], "37%", "progress value")
        app.shot("access-progress")
        app.post_progress(100)
        self.check_tree(app, FINISHED_PAGE, "安装完成", "finished page")
        events = recorder.stop()
        wanted = [("state", ACC_NAMES["chk_agree"]), ("state", ACC_NAMES["chk_agree"]), ("reorder", "<client>"),
                  ("state", ACC_NAMES["chk_sc"]), ("name", "<client>"), ("reorder", "<client>"),
                  ("value", ACC_NAMES["prg_inst"]), ("value", ACC_NAMES["prg_inst"]), ("name", "<client>")]
        self.assertTrue(in_order(events, wanted), "events %r" % events)
        # Read while the installer runs: its private folder goes when it ends.
        record = read_record(q.windows_path(temp_payload_folder()))
        self.assertEqual(record[1:3], [typed, "8"], "helper was handed %r" % record)
        self.default_action("btn_closee", "close", ends=True)
        self.assertEqual(app.exit_code(), 0, "exit code after closing through MSAA")

    def test_whole_installation_by_default_actions(self):
        # A whole installation through default actions alone, the helper reporting.
        app = self.start(self.app_bundle())
        self.default_action("chk_join", "plan off")
        wait_checked("chk_join", False, "the plan box unchecked")
        self.default_action("btn_custom", "custom view")
        self.check_tree(app, CUSTOM_VIEW, "安装选项", "custom view")
        self.default_action("chk_sc", "shortcut off")
        wait_checked("chk_sc", False, "the shortcut box unchecked")
        self.default_action("btn_insts", "install")
        self.check_tree(app, FINISHED_PAGE, "安装完成", "finished page")
        record = read_record(q.windows_path(temp_payload_folder()))
        self.assertEqual(record[1:3], [app.folder, "0"], "helper was handed %r" % record)
        self.default_action("btn_use", "close", ends=True)
        self.assertEqual(app.exit_code(), 0, "exit code after 查看帮助")


class KeyboardTest(AppTest):
    def test_whole_installation_by_keyboard(self):
        app = self.start(self.app_bundle())
        browser, record = self.use_test_browser()
        recorder = self.recorder("keyboard")
        app.focus()
        q.key("Tab", "Tab", "Tab")
        self.wait_focus("chk_agree", "Tab to the agreement box")
        events = recorder.stop()
        focus = [("focus", ACC_NAMES[n]) for n in ("btn_min", "btn_close", "chk_agree")]
        self.assertEqual([e for e in events if e[0] == "focus"], focus, "focus events %r" % events)
        mark = app.picture("keyboard-focus-mark")
        agree = rect("chk_agree")
        # The focus mark is drawn just outside the box's left edge.
        self.assertLess(q.distance([mark.at(agree.x - 3, agree.y + 9)], [(0xF2, 0x7A, 0x2E)]), 10,
                        "no focus mark: %r" % (mark.at(agree.x - 3, agree.y + 9),))
        q.key("space")
        self.wait_shot(app, "keyboard-agree-off", lambda p: not box_checked(p, "chk_agree"), "Space unchecks")
        q.key("space")
        self.wait_shot(app, "keyboard-agree-on", lambda p: box_checked(p, "chk_agree"), "Space checks again")
        q.key("Tab")
        self.wait_focus("btn_agree", "Tab to the agreement link")
        q.key("Return")
        lines = q.wait_for(lambda: lines_of(record), 30, 0.2, "the browser for the agreement")
        self.assertTrue(lines[0].endswith(WEB + "/protocol.html"), "agreement address: %r" % lines[0])
        elevation = os.path.join(os.path.dirname(record), "elevation.log")
        with open(elevation) as f:
            self.assertEqual(f.read(), "0", "the browser runs elevated")
        q.key("Tab")
        self.wait_focus("chk_join", "Tab to the plan box")
        q.key("space")
        self.wait_shot(app, "keyboard-join-off", lambda p: not box_checked(p, "chk_join"), "the plan box off")
        q.key("Tab", "Return")
        q.wait_for(lambda: len(lines_of(record)) >= 2, 30, 0.2, "the browser again")
        self.assertTrue(lines_of(record)[1].endswith(WEB + "/userexperience.html"), "plan address")
        q.key("Tab")
        self.wait_focus("btn_custom", "Tab to 自定义安装")
        q.key("Return")
        self.wait_shot(app, "keyboard-custom", custom_view, "the custom view")
        q.key("Tab", "Tab", "Tab")
        self.wait_focus("edit_dir", "Tab into the folder box")
        typed = q.windows_path(os.path.join(WORK, "keyboard folder"))
        q.type_text(typed)  # Tab selected the old text: typing replaces it
        q.wait_for(lambda: app.folder_text() == typed, 20, 0.2, "the typed folder")
        q.key("Tab", "Tab")
        self.wait_focus("chk_sc", "Tab to the shortcut box")
        q.key("space")
        self.wait_shot(app, "keyboard-sc-off", lambda p: not box_checked(p, "chk_sc"), "the shortcut box off")
        q.key("shift+Tab", "shift+Tab")
        self.wait_focus("edit_dir", "Shift+Tab back to the folder box")
        q.key("Return")  # the default button of the view: 立即安装
        self.wait_shot(app, "keyboard-finished", finished, "the finish page")
        q.key("Tab", "Tab", "Tab", "Tab")
        self.wait_focus("btn_use", "Tab to 查看帮助")
        record = read_record(q.windows_path(temp_payload_folder()))
        self.assertEqual(record[1:3], [typed, "0"], "helper was handed %r" % record)
        q.key("Return")
        self.assertEqual(app.exit_code(), 0, "exit code after Enter on 查看帮助")

    def test_enter_installs_and_escape_waits_for_the_finished_page(self):
        # Enter with no focus moved installs; Escape does nothing while installing
        # and closes the finished page.
        app = self.start(self.app_bundle(), progress="none")
        app.focus()
        q.key("Return")
        q.wait_for(lambda: os.path.isfile(os.path.join(temp_payload_folder() or WORK, "setup_record.txt")), 30,
                   0.2, "the hand-over to the helper")
        self.wait_shot(app, "keyboard-progress", lambda p: background_of(p) == "ing1.png", "the progress page")
        app.focus()
        q.key("Escape")
        # Input is handled in order: once this later drag has moved the
        # window, Escape has been handled too.
        x0, y0 = app.geometry()[:2]
        q.drag(app.window, 300, 40, 340, 70)
        q.wait_for(lambda: app.geometry()[:2] != (x0, y0), 20, 0.2, "the window to move")
        self.assertTrue(app.running(), "Escape ended the installer while installing")
        app.post_progress(100)
        self.wait_shot(app, "keyboard-escape-finished", finished, "the finish page")
        app.focus()
        q.key("Escape")
        self.assertEqual(app.exit_code(), 0, "exit code after Escape on the finished page")

    def test_escape_on_the_first_page_closes(self):
        app = self.start(self.app_bundle())
        app.focus()
        q.key("Escape")
        self.assertEqual(app.exit_code(), 0, "exit code after Escape on the first page")


class DpiTest(AppTest):
    def test_the_window_at_150_percent(self):
        """The window at 150 %: twice-the-scale 3 everywhere."""
        saved = t.reg_value(DESKTOP_KEY, "LogPixels")

        def restore():
            t.reg_set(DESKTOP_KEY, "LogPixels", None if saved is None else str(int(saved, 0)), "REG_DWORD")
            self.assertEqual(t.reg_value(DESKTOP_KEY, "LogPixels"), saved, "LogPixels not restored")

        self.addCleanup(restore)
        self.assertTrue(t.reg_set(DESKTOP_KEY, "LogPixels", "144", "REG_DWORD"), "LogPixels set")
        app = self.start(self.app_bundle())
        self.assertEqual(app.geometry()[2:], (912, 684), "window %r at 144 DPI" % (app.geometry(),))
        self.check_tree(app, MAIN_VIEW, "安装选项", "first page at 144 DPI", scale2=3)
        shot = app.picture("dpi144-first-page")
        # The 1.5x drawings, 1:1: the page, and over it the product name.
        art = q.Picture(t.skin("begin@1.5x.png"))
        band = [(x * 3 // 2, y * 3 // 2) for x, y in BAND]
        self.assertLess(q.distance([shot.at(*p) for p in band], [art.at(*p) for p in band]), 3, "page background")
        blown_up = q.Picture([t.skin("begin.png"), "-filter", "point", "-resize", "150%"])
        title = (330, 220, 250, 70)
        own, upscaled = (q.distance(shot.region(*title), pic.region(*title)) for pic in (art, blown_up))
        self.assertTrue(own < 3 and upscaled > own + 3,
                        "the title is not the sharp 1.5x drawing: %.1f / %.1f" % (own, upscaled))
        # The checked box of chk_agree (dest 0,5 of the control) at 1.5x.
        bx, by = scaled(rect("chk_agree").x, 3), scaled(rect("chk_agree").y + 5, 3)
        box = q.Picture([t.skin("begin@1.5x.png"), "-crop", "21x21+%d+%d" % (bx, by), "+repage",
                         "(", t.skin("checkbox@1.5x.png"), "-crop", "21x21+21+0", "+repage", ")",
                         "-composite"]).region(0, 0, 21, 21)
        self.assertLess(q.distance(shot.region(bx, by, 21, 21), box), 8, "the checked box of the 1.5x drawing")
        # Hit tests in pixels: the caption strip is 120 high, the controls
        # answer where they are drawn.
        x0, y0 = app.geometry()[:2]
        q.drag(app.window, 450, 100, 490, 130)
        moved = q.wait_for(lambda: app.geometry()[:2] != (x0, y0) and app.geometry(), 20, 0.2,
                           "the window to move by the caption strip")
        self.assertEqual(moved[:2], (x0 + 40, y0 + 30), "moved from %r" % ((x0, y0),))
        q.wait_settled(app.window)
        x, y, w, h = rect("btn_custom")
        q.click(app.window, scaled(2 * x + w, 3) // 2, scaled(2 * y + h, 3) // 2)
        self.check_tree(app, CUSTOM_VIEW, "安装选项", "custom view at 144 DPI", scale2=3)
        app.shot("dpi144-custom-view")
        self.default_action("btn_insts", "install at 144 DPI")
        self.check_tree(app, FINISHED_PAGE, "安装完成", "finished page at 144 DPI", scale2=3)
        app.shot("dpi144-finished")
        self.assertTrue(app.post_quit(), "quit message posted")
        self.assertEqual(app.exit_code(), 0, "exit code at 144 DPI")


if __name__ == "__main__":
    t.main()
