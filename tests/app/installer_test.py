"""The real Install.exe under Wine on the X display of the test session, driven
with real X input (xdotool), checked through screenshots, the settings file,
the files it writes, small stand-in programs and an MSAA probe that reads the
window as assistive technology does. Usage:
    installer_test.py startup|window|install|access|keyboard|dpi
Screenshots of every state are left in build/app-shots/."""
import glob
import os
import re
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import qvdrive as qv  # noqa: E402

BUILD = os.environ.get("QV_BUILD", os.path.join(ROOT, "build"))
TESTS = os.environ.get("QV_APP_TEST_DIR", os.path.join(BUILD, "tests", "app"))
os.environ.setdefault("WINEPREFIX", os.path.join(BUILD, "wineprefix"))
PREFIX = os.environ["WINEPREFIX"]
DIST = os.path.join(BUILD, "dist")
SKIN = os.path.join(ROOT, "res", "skin")
SHOTS = os.path.join(BUILD, "app-shots")
WORK = os.path.join(BUILD, "app-test-work")
POKE = os.path.join(TESTS, "app_poke.exe")
RECORDER = os.path.join(TESTS, "app_recorder.exe")
CONFIGDUMP = os.path.join(BUILD, "tools", "configdump", "configdump.exe")
PROBE = os.path.join(TESTS, "app_acc_probe.exe")
PAYLOADS = os.path.join(TESTS, "payloads")

TITLE = "Quiview安装"
WEB = "http://www.quiview.com"
UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quiview"
USER_CHOICE_KEY = r"HKCU\Software\Microsoft\Windows\Shell\Associations\UrlAssociations\http\UserChoice"
IE_KEY = r"HKCR\Applications\iexplore.exe\shell\open\command"
HTTP_KEY = r"HKCR\http\shell\open\command"
BROWSER_CLASS = "QvTestBrowser"

# Control rectangles of the skin (x, y, width, height) in window coordinates.
CONTROLS = {
    "btn_min": (564, 10, 10, 10), "btn_close": (584, 10, 10, 10),
    "chk_agree": (30, 292, 130, 19), "btn_agree": (138, 292, 145, 19),
    "chk_join": (328, 292, 56, 19), "btn_join": (372, 292, 230, 19),
    "btn_custom": (490, 415, 120, 19), "btn_inst": (210, 365, 203, 63),
    "edit_dir": (32, 310, 450, 42), "btn_select": (482, 310, 111, 42),
    "chk_sc": (32, 362, 160, 19), "btn_insts": (401, 400, 111, 41), "btn_ret": (520, 400, 72, 41),
    "btn_mine": (564, 10, 10, 10), "btn_closee": (584, 10, 10, 10),
    "btn_expe": (108, 355, 166, 52), "btn_use": (327, 355, 166, 52),
    "label_persent": (110, 350, 80, 19), "labelInst": (32, 285, 80, 19),
    "label_insting": (40, 350, 80, 19), "prg_inst": (40, 390, 544, 3),
    # Parts of label_insting and prg_inst that the finish buttons do not cover.
    "label_insting_free": (40, 350, 66, 19), "prg_inst_free": (500, 390, 84, 3),
}
FAILURES = []

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
DESKTOP_KEY = r"HKCU\Control Panel\Desktop"


def check(condition, message):
    if not condition:
        FAILURES.append(message)
        print("FAIL: " + message, flush=True)
    return condition


# --- pictures -------------------------------------------------------------

class Picture:
    """RGB pixels of a picture file (or a composite made by ImageMagick)."""

    def __init__(self, args):
        size = subprocess.run(["convert"] + args + ["-format", "%w %h", "info:"], check=True,
                              stdout=subprocess.PIPE).stdout.decode().split()
        self.width, self.height = int(size[0]), int(size[1])
        self.data = subprocess.run(["convert"] + args + ["-depth", "8", "rgb:-"], check=True,
                                   stdout=subprocess.PIPE).stdout

    def at(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.data[i:i + 3])

    def region(self, x, y, w, h):
        return [self.at(x + i, y + j) for j in range(h) for i in range(w)]


def distance(a, b):
    """Mean absolute difference of two pixel lists."""
    return sum(abs(p - q) for pa, pb in zip(a, b) for p, q in zip(pa, pb)) / (3.0 * len(a))


def skin(name):
    return os.path.join(SKIN, name)


def expected_box(page, x, y, checked):
    """The check box picture (dest 0,5,14,19 of the control) drawn over the page background."""
    return Picture([skin(page), "-crop", "14x14+%d+%d" % (x, y + 5), "+repage",
                    "(", skin("checkbox.png"), "-crop", "14x14+%d+0" % (14 if checked else 0), "+repage", ")",
                    "-composite"]).region(0, 0, 14, 14)


BOX_CACHE = {}


def box_checked(shot, name, page="begin.png"):
    x, y = CONTROLS[name][:2]
    key = (name, page)
    if key not in BOX_CACHE:
        BOX_CACHE[key] = (expected_box(page, x, y, True), expected_box(page, x, y, False))
    on, off = BOX_CACHE[key]
    got = shot.region(x, y + 5, 14, 14)
    return distance(got, on) < distance(got, off)


BACKGROUNDS = {}
# A band of the page above every control: only the background shows there.
BAND = [(x, y) for x in range(20, 560, 27) for y in range(40, 280, 23)]


def background_of(shot):
    """Which full-page picture the screenshot shows (nearest over the band)."""
    if not BACKGROUNDS:
        for name in ("begin.png", "ing1.png", "ing2.png", "end.png"):
            BACKGROUNDS[name] = Picture([skin(name)])
    got = [shot.at(x, y) for x, y in BAND]
    scores = {name: distance(got, [pic.at(x, y) for x, y in BAND]) for name, pic in BACKGROUNDS.items()}
    return min(scores, key=scores.get)


def shows_picture(shot, name, picture):
    """True when the control's rectangle shows the left (normal) half of its picture."""
    x, y, w, h = CONTROLS[name]
    expected = Picture([skin(picture), "-crop", "%dx%d+0+0" % (w, h), "+repage",
                        "-background", "white", "-flatten"]).region(0, 0, w, h)
    return distance(shot.region(x, y, w, h), expected) < 20


def ink(shot, name, page):
    """Pixels of a control's rectangle that differ from the page background."""
    x, y, w, h = CONTROLS[name]
    if page not in BACKGROUNDS:
        BACKGROUNDS[page] = Picture([skin(page)])
    bg = BACKGROUNDS[page]
    return sum(1 for j in range(h) for i in range(w)
               if distance([shot.at(x + i, y + j)], [bg.at(x + i, y + j)]) > 40)


# --- the installer ----------------------------------------------------------

wine_path = qv.windows_path


def unix_path(win):
    """Linux path of a Windows path on drive C: or Z: of the prefix."""
    drive, rest = win[0].lower(), win[2:].replace("\\", "/")
    if drive == "z":
        return rest
    return os.path.join(PREFIX, "drive_%s" % drive) + rest


def poke(*args):
    out = qv.run(["wine", POKE] + list(args), check=False)
    return out.returncode, out.stdout.decode("utf-8", "replace").strip()


def reg(*args):
    return qv.run(["wine", "reg"] + list(args), check=False)


def reg_read(key, value=None):
    """The value's text, or None when it is missing."""
    args = ["query", key] + (["/v", value] if value else ["/ve"])
    out = reg(*args)
    if out.returncode != 0:
        return None
    for line in out.stdout.decode("utf-8", "replace").splitlines():
        parts = line.strip().split(None, 2)
        if len(parts) >= 2 and parts[1].startswith("REG_"):
            return parts[2] if len(parts) == 3 else ""
    return None


def reg_write(key, value, data):
    args = ["add", key] + (["/v", value] if value else ["/ve"]) + ["/d", data, "/f"]
    return reg(*args).returncode == 0


def reg_restore(key, value, data):
    if data is None:
        reg("delete", key, *(["/v", value] if value else ["/ve"]), "/f")
    else:
        reg_write(key, value, data)


def config_path():
    found = glob.glob(os.path.join(PREFIX, "drive_c", "users", "*", "AppData", "LocalLow", "Quiview", "config.dat"))
    return found[0] if found else os.path.join(PREFIX, "drive_c", "users", os.environ.get("USER", "root"),
                                               "AppData", "LocalLow", "Quiview", "config.dat")


def settings():
    """The rows of config.dat in the order they were first written."""
    out = qv.run(["wine", CONFIGDUMP, wine_path(config_path())], check=False)
    rows = []
    for line in out.stdout.decode("utf-8", "replace").splitlines():
        if "\t" in line:
            rows.append(tuple(line.split("\t", 1)))
    return rows


def make_bundle(name, payload="ok.7z", with_7z=True, exe_name="Install.exe"):
    """A copy of the shipped folder, with a chosen payload."""
    folder = os.path.join(WORK, name)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    shutil.copy(os.path.join(DIST, "Install.exe"), os.path.join(folder, exe_name))
    shutil.copy(os.path.join(DIST, "DuiLib.dll"), folder)
    if with_7z:
        shutil.copy(os.path.join(DIST, "7z.dll"), folder)
    if payload:
        if os.path.isfile(payload):
            shutil.copy(payload, os.path.join(folder, "payload.7z"))
        else:
            shutil.copy(os.path.join(PAYLOADS, payload), os.path.join(folder, "payload.7z"))
    return os.path.join(folder, exe_name)


class Installer:
    def __init__(self, exe=None, progress=None, hold=False):
        """`progress` and `hold` steer the stand-in helper (see test_helper.cpp)."""
        saved = {name: os.environ.pop(name, None) for name in ("QVTEST_PROGRESS", "QVTEST_HOLD")}
        if progress is not None:
            os.environ["QVTEST_PROGRESS"] = progress
        if hold:
            os.environ["QVTEST_HOLD"] = "1"
        self.program = qv.Program(exe or os.path.join(DIST, "Install.exe"))
        for name, value in saved.items():
            os.environ.pop(name, None)
            if value is not None:
                os.environ[name] = value
        try:
            self.window = qv.wait_window(TITLE, timeout=60)
            qv.wait_settled(self.window)
            # The page is prepared once the folder box holds the default folder.
            self.folder = qv.wait_for(lambda: poke("folder")[1], 30, 0.2, "the prepared page")
        except BaseException:
            self.program.close()
            raise

    def geometry(self):
        return qv.geometry(self.window)

    def click(self, name):
        x, y, w, h = CONTROLS[name]
        qv.click(self.window, x + w // 2, y + h // 2)

    def shot(self, name=None):
        subprocess.run(["xdotool", "mousemove", "0", "0"], check=True)  # no hover state
        path = os.path.join(SHOTS, (name or "last") + ".png")
        qv.screenshot(path, self.window)
        return Picture([path])

    def wait_shot(self, name, condition, what, timeout=30):
        """Screenshots until `condition(picture)` holds; the last one stays as `name`."""
        pictures = []

        def taken():
            pictures.append(self.shot(name))
            return condition(pictures[-1])

        try:
            qv.wait_for(taken, timeout, 0.2, what)
        except TimeoutError:
            check(False, "timed out waiting for " + what + " (see %s.png)" % name)
        return pictures[-1]

    def toggle(self, name, checked, shot):
        """Clicks a check box and waits for the picture of the new state."""
        self.click(name)
        return self.wait_shot(shot, lambda p: box_checked(p, name) == checked,
                              "%s %s" % (name, "checked" if checked else "unchecked"))

    def wait_exit(self, timeout=60):
        try:
            return self.program.wait(timeout)
        except subprocess.TimeoutExpired:
            check(False, "the installer did not end")
            return None

    def close(self):
        self.program.close()


def wait_dialog(focus=None):
    """Waits for a dialog box (message box or folder dialog), and for the
    keyboard focus to be in a control of class `focus` if given; returns its
    caption, text and the screen centres of its OK and Cancel buttons."""
    def found():
        rc, out = poke("msgbox")
        parts = out.split("\t") if rc == 0 and out else None
        return parts if parts and (focus is None or parts[6] == focus) else None

    parts = qv.wait_for(found, 30, 0.3, "a dialog box")
    return parts[0], parts[1], (int(parts[2]), int(parts[3])), (int(parts[4]), int(parts[5]))


def press_dialog_button(centre):
    subprocess.run(["xdotool", "mousemove", str(centre[0]), str(centre[1]), "click", "1"], check=True)
    qv.wait_for(lambda: poke("msgbox")[0] != 0, 20, 0.3, "the dialog box to close")


def answer_message_box(caption, text, shot):
    got_caption, got_text, ok, _ = wait_dialog()
    check(got_caption == caption, "message box caption %r, expected %r" % (got_caption, caption))
    check(got_text == text, "message box text %r, expected %r" % (got_text, text))
    qv.screenshot(os.path.join(SHOTS, shot + ".png"))
    press_dialog_button(ok)


def use_test_browser(saved):
    """Makes a copy of the recorder the user's web browser; returns its path and
    the file it records to. restore_browser(saved) puts the registry back."""
    browser_dir = os.path.join(WORK, "browser")
    shutil.rmtree(browser_dir, ignore_errors=True)
    os.makedirs(browser_dir)
    browser = os.path.join(browser_dir, "testbrowser.exe")
    shutil.copy(RECORDER, browser)
    saved["choice"] = reg_read(USER_CHOICE_KEY, "Progid")
    saved["ie"] = reg_read(IE_KEY)
    saved["http"] = reg_read(HTTP_KEY)
    reg_write(r"HKCR\%s\shell\open\command" % BROWSER_CLASS, None, '"%s" "%%1"' % wine_path(browser))
    reg_write(USER_CHOICE_KEY, "Progid", BROWSER_CLASS)
    return browser, os.path.join(browser_dir, "record.log")


def restore_browser(saved):
    if saved:
        reg_restore(USER_CHOICE_KEY, "Progid", saved.get("choice"))
        reg_restore(IE_KEY, None, saved.get("ie"))
        reg_restore(HTTP_KEY, None, saved.get("http"))
        reg("delete", r"HKCR\%s" % BROWSER_CLASS, "/f")


def type_folder(installer, text):
    installer.click("edit_dir")
    qv.key("ctrl+a")
    qv.type_text(text)
    qv.wait_for(lambda: poke("folder")[1] == text, 20, 0.2, "the typed folder")


# --- start-up ---------------------------------------------------------------

def test_startup():
    # A settings file of an earlier run (here: not even a database) is replaced.
    config = config_path()
    os.makedirs(os.path.dirname(config), exist_ok=True)
    with open(config, "wb") as f:
        f.write(b"left by an earlier run" * 100)
    first = Installer()
    try:
        first.wait_shot("startup-first-page", lambda p: background_of(p) == "begin.png", "the first page")
        check(settings() == [("channel", "30100"), ("version", "1.0.1")],
              "settings after start-up: %r" % settings())
        state = poke("state")[1].split()
        check(state[:3] == ["1", "0", "0"] and state[5:] == ["608", "456"], "window state %r" % state)

        # A second installer ends at once with 0 and touches nothing.
        before = (open(config, "rb").read(), os.stat(config).st_mtime_ns)
        second = qv.Program(os.path.join(DIST, "Install.exe"))
        try:
            check(second.wait(30) == 0, "second installer's exit code")
        except subprocess.TimeoutExpired:
            check(False, "the second installer kept running")
            second.close()
        check((open(config, "rb").read(), os.stat(config).st_mtime_ns) == before,
              "the second installer changed config.dat")
        check(len(qv.find_windows(TITLE)) == 1, "more than one installer window")
        check(first.program.running(), "the first installer ended")

        # The close button ends the installer with 0.
        first.click("btn_close")
        check(first.wait_exit() == 0, "exit code after the close button")
    finally:
        first.close()

    # Started under a name that carries the channel marker.
    marked = Installer(make_bundle("channel", payload=None, with_7z=False, exe_name="qvewtg_30777.exe"))
    try:
        check(settings() == [("channel", "30777"), ("version", "1.0.1")],
              "settings of the marked installer: %r" % settings())
        # A plain WM_CLOSE (as a task manager sends) ends the installer with 0
        # instead of leaving an invisible process that holds the mutex.
        check(poke("close")[0] == 0, "WM_CLOSE posted")
        check(marked.wait_exit() == 0, "exit code after WM_CLOSE")
    finally:
        marked.close()

    # The next installer starts, and replaces the earlier run's settings.
    again = Installer()
    try:
        check(settings() == [("channel", "30100"), ("version", "1.0.1")], "settings of the next run: %r" % settings())
        check(poke("quit")[0] == 0, "quit message posted")
        check(again.wait_exit() == 0, "exit code after the quit message")
    finally:
        again.close()


# --- window, options, links -------------------------------------------------

def test_window():
    installer = Installer()
    saved = {}
    try:
        main = installer.wait_shot("window-main-view", lambda p: background_of(p) == "begin.png", "the first page")
        check(box_checked(main, "chk_agree") and box_checked(main, "chk_join"), "boxes checked at start")
        check(installer.folder.endswith("\\Quiview") and os.path.isdir(unix_path(installer.folder)),
              "default folder %r" % installer.folder)

        # Each box toggles its picture; twice restores it.
        for name in ("chk_agree", "chk_join"):
            installer.toggle(name, False, "window-%s-off" % name)
            installer.toggle(name, True, "window-%s-on" % name)

        # Custom view: folder box with the default folder, shortcut box.
        installer.toggle("chk_agree", False, "window-agree-off")  # to be kept across the views
        installer.click("btn_custom")
        custom = installer.wait_shot("window-custom-view", lambda p: shows_picture(p, "btn_ret", "return.png"),
                                     "the custom view")
        check(box_checked(custom, "chk_sc"), "shortcut box checked at start")
        check(poke("folder")[1] == installer.folder, "folder box text in the custom view")
        installer.toggle("chk_sc", False, "window-custom-sc-off")
        installer.toggle("chk_sc", True, "window-custom-sc-on")
        installer.toggle("chk_sc", False, "window-custom-sc-off2")
        installer.click("btn_ret")
        back = installer.wait_shot("window-main-again", lambda p: shows_picture(p, "btn_inst", "instb.png"),
                                   "the main view again")
        check(not box_checked(back, "chk_agree") and box_checked(back, "chk_join"), "boxes kept across views")
        installer.click("btn_custom")
        again = installer.wait_shot("window-custom-again", lambda p: shows_picture(p, "btn_ret", "return.png"),
                                    "the custom view again")
        check(not box_checked(again, "chk_sc"), "shortcut box kept across views")
        check(poke("folder")[1] == installer.folder, "folder text kept across views")

        # The folder dialog: cancelling keeps the folder, an item without a
        # file-system path is refused, a folder gets the product name appended.
        def browse(key, shot):
            installer.click("btn_select")
            dialog = wait_dialog(focus="SysTreeView32" if key else None)
            if key:
                qv.key(key)
            qv.screenshot(os.path.join(SHOTS, shot + ".png"))
            return dialog

        press_dialog_button(browse(None, "window-folder-dialog")[3])
        check(poke("folder")[1] == installer.folder, "cancelled dialog changed the folder")
        press_dialog_button(browse("End", "window-folder-dialog-trash")[2])  # the last item: Trash
        answer_message_box("选择文件夹", "您输入的文件夹无效。", "window-folder-invalid")
        check(poke("folder")[1] == installer.folder, "invalid choice changed the folder")
        press_dialog_button(browse("Home", "window-folder-dialog-desktop")[2])  # the first item: Desktop
        chosen = qv.wait_for(lambda: poke("folder")[1] != installer.folder and poke("folder")[1], 20, 0.2,
                             "the chosen folder")
        check(chosen.lower().endswith("\\desktop\\quiview") and os.path.isdir(os.path.dirname(unix_path(chosen))),
              "folder chosen in the dialog: %r" % chosen)
        installer.shot("window-folder-chosen")
        installer.click("btn_ret")
        installer.wait_shot("window-main-third", lambda p: shows_picture(p, "btn_inst", "instb.png"), "main view")
        installer.toggle("chk_agree", True, "window-agree-on")

        # The agreement links start the registered browser with the address.
        browser, record = use_test_browser(saved)
        installer.click("btn_agree")
        lines = qv.wait_for(lambda: os.path.exists(record) and open(record, encoding="utf-8").read().splitlines(),
                            30, 0.2, "the browser for the agreement")
        check(lines[0].endswith(WEB + "/protocol.html"), "agreement address: %r" % lines[0])
        installer.click("btn_join")
        lines = qv.wait_for(lambda: len(open(record, encoding="utf-8").read().splitlines()) >= 2 and
                            open(record, encoding="utf-8").read().splitlines(), 30, 0.2, "the browser again")
        check(lines[1].endswith(WEB + "/userexperience.html"), "plan address: %r" % lines[1])
        links = installer.shot("window-after-links")
        check(box_checked(links, "chk_agree") and box_checked(links, "chk_join"), "links changed an option")

        # No browser known: the shell opens the address by its association.
        os.remove(record)
        reg("delete", USER_CHOICE_KEY, "/v", "Progid", "/f")
        reg_write(IE_KEY, None, "")
        reg_write(HTTP_KEY, None, '"%s" "%%1"' % wine_path(browser))
        installer.click("btn_agree")
        lines = qv.wait_for(lambda: os.path.exists(record) and open(record, encoding="utf-8").read().splitlines(),
                            30, 0.2, "the shell's association for the address")
        check(WEB + "/protocol.html" in lines[0], "address through the association: %r" % lines[0])

        # Dragging the top strip moves the window; a double click there
        # changes nothing.
        x0, y0, w0, h0 = installer.geometry()
        qv.drag(installer.window, 300, 40, 360, 100)
        moved = qv.wait_for(lambda: installer.geometry()[:2] != (x0, y0) and installer.geometry(), 20, 0.2,
                            "the window to move")
        check(moved[0] - x0 == 60 and moved[1] - y0 == 60, "moved by %r" % ((moved[0] - x0, moved[1] - y0),))
        qv.wait_settled(installer.window)
        before = installer.geometry()
        subprocess.run(["xdotool", "mousemove", "--window", str(installer.window), "300", "40",
                        "click", "--repeat", "2", "--delay", "80", "1"], check=True)
        # Input is handled in order: once this later click has shown, the
        # double click has been handled too.
        installer.toggle("chk_join", False, "window-after-double-click")
        state = poke("state")[1].split()
        check(state[2] == "0" and installer.geometry() == before, "double click changed the window: %r" % state)

        # The minimise button minimises.
        installer.click("btn_min")
        qv.wait_for(lambda: poke("state")[1].split()[1] == "1", 20, 0.2, "the window to minimise")
        check(poke("quit")[0] == 0, "quit message posted")
        check(installer.wait_exit() == 0, "exit code after the quit message")
    finally:
        installer.close()
        restore_browser(saved)


# --- install sequence, progress page, finish actions --------------------------

def read_record(payload_folder):
    path = os.path.join(unix_path(payload_folder), "setup_record.txt")
    return open(path, encoding="utf-8").read().splitlines()


def private_folders():
    """The installers' private folders in the user's temporary folder."""
    return glob.glob(os.path.join(PREFIX, "drive_c", "users", "*", "Temp", "Quiview-1.0.1-*"))


def temp_payload_folder():
    """The payload folder of the running installation (the newest private folder's)."""
    found = sorted(private_folders(), key=os.path.getmtime)
    return os.path.join(found[-1], "payload") if found else None


def finished(picture):
    return background_of(picture) == "end.png" and shows_picture(picture, "btn_expe", "expe.png")


def test_install():
    # Default install, first refused without the agreement.
    exe = make_bundle("bundle")
    for folder in private_folders():
        shutil.rmtree(folder)
    installer = Installer(exe)
    try:
        installer.toggle("chk_agree", False, "install-agree-off")
        installer.click("btn_inst")
        answer_message_box("提示", "请先阅读并同意<<Quiview许可协议>>", "install-agreement-notice")
        still = installer.shot("install-after-notice")
        check(background_of(still) == "begin.png" and not box_checked(still, "chk_agree"),
              "the notice changed the page")
        installer.toggle("chk_agree", True, "install-agree-on")
        installer.click("btn_inst")
        installer.wait_shot("install-finished", finished, "the finish page")
        payload = temp_payload_folder()
        check(payload is not None, "no payload folder")
        record = read_record(payload_folder=wine_path(payload)) if payload else []
        # Handed over before anything reached the installation folder.
        check(record[1:4] == [installer.folder, "12", "00"], "helper was handed %r" % record)
        check(re.search(r"\\temp\\quiview-1\.0\.1-[0-9a-f]{16}\\payload$", record[0].lower()) is not None,
              "payload folder %r" % record[0])
        for name in ("ImgKit.dll", "readme.txt"):
            check(os.path.isfile(os.path.join(payload, name)), "payload folder lacks " + name)
        for name in ("payload.7z", "items.lst"):
            check(os.path.isfile(os.path.join(os.path.dirname(payload), name)), "private folder lacks " + name)
        # The runtime libraries are payload items for the helper to install.
        items = open(os.path.join(os.path.dirname(payload), "items.lst"), encoding="utf-8").read().splitlines()
        for name in ("DuiLib.dll", "7z.dll"):
            check(os.path.isfile(os.path.join(payload, name)), "payload folder lacks " + name)
            check(any(line.endswith("\t" + name) for line in items), "item list lacks " + name)
        rows = dict(settings())
        check(rows.get("join") == "1" and rows.get("channel") == "30100" and rows.get("version") == "1.0.1",
              "settings after install: %r" % rows)
        uid = rows.get("uid", "")
        check(len(uid) == 32 and all(c in "0123456789abcdef" for c in uid), "uid %r" % uid)
        installer.click("btn_use")
        check(installer.wait_exit() == 0, "exit code after btn_use")
        check(private_folders() == [], "private folder left behind: %r" % private_folders())
    finally:
        installer.close()

    # Options off and a typed folder of the user's: its files stay, the
    # folder is used exactly as typed.
    own = os.path.join(WORK, "own folder")
    shutil.rmtree(own, ignore_errors=True)
    os.makedirs(own)
    with open(os.path.join(own, "sentinel.txt"), "w") as f:
        f.write("mine")
    installer = Installer(exe)
    try:
        installer.toggle("chk_join", False, "install-join-off")
        installer.click("btn_custom")
        installer.wait_shot("install-custom", lambda p: shows_picture(p, "btn_ret", "return.png"), "custom view")
        installer.toggle("chk_sc", False, "install-sc-off")
        typed = wine_path(own)
        type_folder(installer, typed)
        installer.shot("install-typed-folder")
        installer.click("btn_insts")
        installer.wait_shot("install-finished-typed", finished, "the finish page")
        record = read_record(wine_path(temp_payload_folder())) if temp_payload_folder() else []
        check(record[1:4] == [typed, "0", "00"], "helper was handed %r" % record)
        check(open(os.path.join(own, "sentinel.txt")).read() == "mine", "the user's file was lost")
        check(dict(settings()).get("join") == "0", "join after unchecking: %r" % settings())
        installer.click("btn_closee")
        check(installer.wait_exit() == 0, "exit code after the finish page's close button")
    finally:
        installer.close()

    # A product folder is never cleared: an installation removes only what
    # its manifest lists. The progress page shows while the helper still
    # works on the installer's thread. The helper stays silent, so the
    # progress page is driven from outside.
    product = os.path.join(WORK, "product", "QuiView")
    shutil.rmtree(os.path.dirname(product), ignore_errors=True)
    os.makedirs(product)
    with open(os.path.join(product, "stale.txt"), "w") as f:
        f.write("old")
    installer = Installer(exe, progress="none", hold=True)
    try:
        installer.click("btn_custom")
        installer.wait_shot("progress-custom", lambda p: shows_picture(p, "btn_ret", "return.png"), "custom view")
        type_folder(installer, wine_path(product))
        installer.click("btn_insts")
        record = lambda: os.path.join(temp_payload_folder() or WORK, "setup_record.txt")  # noqa: E731
        qv.wait_for(lambda: os.path.isfile(record()), 30, 0.2, "the hand-over to the helper")
        installer.wait_shot("progress-start", lambda p: background_of(p) == "ing1.png", "the progress page")
        open(os.path.join(os.path.dirname(record()), "release"), "w").close()
        check(os.path.exists(os.path.join(product, "stale.txt")), "a file without a manifest entry was removed")
        inks = {}
        for value, page in ((0, "ing1.png"), (10, "ing1.png"), (49, "ing1.png"), (50, "ing2.png"),
                            (99, "ing2.png")):
            poke("progress", str(value))
            bar_end = 40 + 544 * value // 100

            def shown(p, value=value, page=page, bar_end=bar_end):
                if background_of(p) != page or ink(p, "label_persent", page) == 0:
                    return False
                # The bar is filled up to the value, the track shows after it.
                if value >= 10 and distance([p.at(bar_end - 8, 391)], [p.at(bar_end + 8, 391)]) < 20:
                    return False
                return True

            pic = installer.wait_shot("progress-%d" % value, shown, "progress %d" % value)
            inks[value] = ink(pic, "label_persent", page)
            check(not shows_picture(pic, "btn_expe", "expe.png"), "finish button shown at %d" % value)
        check(inks[10] > inks[0], "label text at 10%% not wider than at 0%%: %r" % inks)
        for repeat in (1, 2):
            poke("progress", "100")
            done = installer.wait_shot("progress-100-%d" % repeat, finished, "the finished state")
            check(shows_picture(done, "btn_use", "use.png"), "btn_use not shown")
            check(ink(done, "label_insting_free", "end.png") == 0 and ink(done, "prg_inst_free", "end.png") == 0,
                  "progress label or bar still shown")
        installer.click("btn_use")
        check(installer.wait_exit() == 0, "exit code after btn_use")
    finally:
        installer.close()

    # 立即体验 starts the viewer this run installed (its folder kept in memory,
    # whatever the registry says by then), quoted, without elevation, and ends.
    launch = os.path.join(WORK, "launch")
    shutil.rmtree(launch, ignore_errors=True)
    viewer_dir = os.path.join(launch, "with space", "Quiview")
    planted_dir = os.path.join(launch, "planted")
    os.makedirs(viewer_dir)
    os.makedirs(planted_dir)
    shutil.copy(RECORDER, os.path.join(launch, "with.exe"))  # what an unquoted path would start
    shutil.copy(RECORDER, os.path.join(planted_dir, "ImgShell.exe"))  # what the registry will name
    saved_icon = reg_read(UNINSTALL_KEY, "DisplayIcon")
    installer = Installer(exe)
    try:
        installer.click("btn_custom")
        installer.wait_shot("launch-custom", lambda p: shows_picture(p, "btn_ret", "return.png"), "custom view")
        type_folder(installer, wine_path(viewer_dir))
        installer.click("btn_insts")
        installer.wait_shot("launch-finished", finished, "the finish page")
        # The stand-in helper installs nothing: the viewer is put in place here.
        shutil.copy(RECORDER, os.path.join(viewer_dir, "ImgShell.exe"))
        reg_write(UNINSTALL_KEY, "DisplayIcon", wine_path(os.path.join(planted_dir, "ImgShell.exe")))
        installer.click("btn_expe")
        check(installer.wait_exit() == 0, "exit code after btn_expe")
        record = os.path.join(viewer_dir, "record.log")
        lines = qv.wait_for(lambda: os.path.exists(record) and open(record, encoding="utf-8").read().splitlines(),
                            30, 0.2, "the viewer to start")
        check(len(lines) == 1 and lines[0].startswith("ImgShell.exe\t\""), "viewer starts: %r" % lines)
        elevation = open(os.path.join(viewer_dir, "elevation.log")).read()
        check(elevation == "0", "the viewer runs elevated: %r" % elevation)
        check(not os.path.exists(os.path.join(launch, "record.log")), "the planted with.exe ran")
        check(not os.path.exists(os.path.join(planted_dir, "record.log")), "the registry's program ran")
    finally:
        installer.close()
        reg_restore(UNINSTALL_KEY, "DisplayIcon", saved_icon)

    # Failures: a message, exit code 0.
    damaged = os.path.join(WORK, "damaged.7z")
    with open(damaged, "wb") as f:
        f.write(b"7z\xbc\xaf\x27\x1c" + b"\x00" * 64)
    cases = [("no-7z", dict(with_7z=False), "解压失败"),
             ("damaged", dict(payload=damaged), "解压失败"),
             ("no-entry", dict(payload="noentry.7z"), "安装失败"),
             ("no-helper", dict(payload="nohelper.7z"), "安装失败")]
    for name, bundle, text in cases:
        installer = Installer(make_bundle("fail-" + name, **bundle))
        try:
            installer.click("btn_inst")
            answer_message_box("Quiview", text, "failure-" + name)
            check(installer.wait_exit() == 0, "exit code after the failure " + name)
            check(private_folders() == [], "private folder left after the failure " + name)
        finally:
            installer.close()

# --- assistive technology and the keyboard ------------------------------------------

def probe(*args):
    """Runs the MSAA probe (another process); returns its exit code and output."""
    out = qv.run(["wine", PROBE] + list(args), check=False)
    return out.returncode, out.stdout.decode("utf-8", "replace").strip()


def acc_tree():
    """The client and its children as the probe reads them."""
    rows = []
    for line in probe("tree")[1].splitlines():
        f = line.split("\t")
        if len(f) == 7:
            rows.append({"id": int(f[0]), "role": f[1], "states": set(f[2].split(",")), "name": f[3],
                         "value": f[4], "action": f[5], "rect": tuple(int(v) for v in f[6].split(","))})
        else:
            rows.append({"name": None, "line": line})
    return rows


def scaled(v, scale2):
    """A layout value at twice-the-scale `scale2`, rounded as the window rounds."""
    return (v * scale2 + 1) // 2


def check_tree(installer, page, client, what, scale2=2, texts=None):
    """Waits until the client is `client` with the children of `page`, then
    checks their roles, states, actions and screen places against the layout
    (scaled); returns the rows."""
    names = [(texts or {}).get(n, ACC_NAMES.get(n)) for n, _ in page]

    def ready():
        rows = acc_tree()
        return rows if rows and rows[0]["name"] == client and [r["name"] for r in rows[1:]] == names else None

    try:
        rows = qv.wait_for(ready, 30, 0.3, what)
    except TimeoutError:
        check(False, "%s: the tree is %r" % (what, acc_tree()))
        return []
    x0, y0, w0, h0 = installer.geometry()
    check(rows[0]["role"] == "client" and rows[0]["rect"] == (x0, y0, w0, h0),
          "%s: client %r, window %r" % (what, rows[0], (x0, y0, w0, h0)))
    for row, (name, role) in zip(rows[1:], page):
        x, y, w, h = CONTROLS[name]
        left, top = scaled(x, scale2), scaled(y, scale2)
        place = (x0 + left, y0 + top, scaled(x + w, scale2) - left, scaled(y + h, scale2) - top)
        pressable = role in ("pushbutton", "checkbutton", "link")
        check(row["role"] == role, "%s: %s has role %s" % (what, name, row["role"]))
        check(row["rect"] == place, "%s: %s at %r, expected %r" % (what, name, row["rect"], place))
        check(("focusable" in row["states"]) == (pressable or role == "text"),
              "%s: %s states %r" % (what, name, row["states"]))
        check(bool(row["action"]) == pressable, "%s: %s action %r" % (what, name, row["action"]))
        if role in ("statictext", "progressbar"):
            check("readonly" in row["states"], "%s: %s states %r" % (what, name, row["states"]))
    return rows


def row_of(rows, name):
    """A child's row (never the client's, which may share a page's name)."""
    return next((r for r in rows[1:] if r["name"] == ACC_NAMES.get(name, name)), {"states": set(), "value": None})


def default_action(name, what, ends=False):
    """accDoDefaultAction on a child, by the probe. An action that ends the
    installer may end it before the answer has reached the probe."""
    code = probe("do", ACC_NAMES.get(name, name))[0]
    check(code == 0 or ends, "%s: the default action of %s gave %d" % (what, name, code))


def wait_checked(name, checked, what):
    qv.wait_for(lambda: ("checked" in row_of(acc_tree(), name)["states"]) == checked, 20, 0.3, what)


class EventRecorder:
    """The probe recording the window's WinEvents into a file, as another
    process hooked out of context sees them."""

    def __init__(self, name):
        self.path = os.path.join(WORK, name + ".events")
        for stale in (self.path, self.path + ".stop"):
            if os.path.exists(stale):
                os.remove(stale)
        self.program = qv.Program(PROBE, ["events", wine_path(self.path)])
        qv.wait_for(lambda: os.path.exists(self.path) and "ready" in open(self.path).read(), 30, 0.2,
                    "the event hook")

    def stop(self):
        """The events as (event, name of the child or <client>) in order."""
        open(self.path + ".stop", "w").close()
        try:
            self.program.wait(30)
        finally:
            self.program.close()
        events, names = [], {0: "<client>"}
        for line in open(self.path, encoding="utf-8").read().splitlines()[1:]:
            event, _, child = line.split("\t")
            child = int(child)
            if child not in names:
                names[child] = probe("name", str(child))[1].split("\t")[0]
            events.append((event, names[child]))
        return events


def in_order(events, wanted):
    """Whether `wanted` occurs in `events` as a subsequence."""
    it = iter(events)
    return all(any(e == w for e in it) for w in wanted)


def activate(installer):
    """Keyboard focus on the installer window (there is no window manager)."""
    subprocess.run(["xdotool", "windowfocus", "--sync", str(installer.window)], check=True)


def wait_focus(name, what):
    want = ACC_NAMES.get(name, name)
    try:
        qv.wait_for(lambda: probe("focus")[1] == want, 20, 0.2, what)
    except TimeoutError:
        check(False, "%s: the focus is on %r" % (what, probe("focus")[1]))


def test_access():
    exe = make_bundle("access")
    # Read and driven through MSAA alone, with the helper silent so that the
    # progress page stays for reading; the events are recorded meanwhile.
    installer = Installer(exe, progress="none")
    try:
        rows = check_tree(installer, MAIN_VIEW, "安装选项", "first page")
        check(all("checked" in row_of(rows, n)["states"] for n in ("chk_agree", "chk_join")), "boxes checked: %r" % rows)
        check("default" in row_of(rows, "btn_inst")["states"], "立即安装 is not the default button")
        check(probe("chain")[1].splitlines() == [r["name"] for r in rows[1:]], "navigation order %r" % probe("chain")[1])
        x0, y0 = installer.geometry()[:2]
        check(probe("hit", str(x0 + 200), str(y0 + 300))[1] == "《Quiview协议》", "hit test on the link")
        check(probe("hit", str(x0 + 300), str(y0 + 150))[1] == "<client>", "hit test on the banner")
        check(probe("nav", ACC_NAMES["chk_agree"], "right")[1] == ACC_NAMES["btn_agree"], "navigation to the right")
        recorder = EventRecorder("access")
        default_action("chk_agree", "agreement off")
        wait_checked("chk_agree", False, "the agreement box unchecked")
        installer.wait_shot("access-agree-off", lambda p: not box_checked(p, "chk_agree"), "the box's picture")
        default_action("chk_agree", "agreement on")
        wait_checked("chk_agree", True, "the agreement box checked")
        default_action("btn_custom", "custom view")
        rows = check_tree(installer, CUSTOM_VIEW, "安装选项", "custom view")
        check(row_of(rows, "edit_dir")["value"] == installer.folder, "folder box value %r" % row_of(rows, "edit_dir"))
        typed = wine_path(os.path.join(WORK, "access folder"))
        check(probe("setvalue", ACC_NAMES["edit_dir"], typed)[0] == 0, "setting the folder")
        qv.wait_for(lambda: poke("folder")[1] == typed, 20, 0.2, "the folder set through MSAA")
        default_action("chk_sc", "shortcut off")
        wait_checked("chk_sc", False, "the shortcut box unchecked")
        default_action("btn_insts", "install")
        check_tree(installer, PROGRESS_PAGE, "安装进度", "progress page", texts={"label_persent": ""})
        poke("progress", "37")
        rows = check_tree(installer, PROGRESS_PAGE, "安装进度", "progress 37", texts={"label_persent": "37%"})
        check(row_of(rows, "prg_inst")["value"] == "37%", "progress value %r" % row_of(rows, "prg_inst"))
        installer.shot("access-progress")
        poke("progress", "100")
        check_tree(installer, FINISHED_PAGE, "安装完成", "finished page")
        events = recorder.stop()
        wanted = [("state", ACC_NAMES["chk_agree"]), ("state", ACC_NAMES["chk_agree"]), ("reorder", "<client>"),
                  ("state", ACC_NAMES["chk_sc"]), ("name", "<client>"), ("reorder", "<client>"),
                  ("value", ACC_NAMES["prg_inst"]), ("value", ACC_NAMES["prg_inst"]), ("name", "<client>")]
        check(in_order(events, wanted), "events %r" % events)
        # Read while the installer runs: its private folder goes when it ends.
        record = read_record(wine_path(temp_payload_folder()))
        check(record[1:3] == [typed, "8"], "helper was handed %r" % record)
        default_action("btn_closee", "close", ends=True)
        check(installer.wait_exit() == 0, "exit code after closing through MSAA")
    finally:
        installer.close()

    # A whole installation through default actions alone, the helper reporting.
    installer = Installer(exe)
    try:
        default_action("chk_join", "plan off")
        wait_checked("chk_join", False, "the plan box unchecked")
        default_action("btn_custom", "custom view")
        check_tree(installer, CUSTOM_VIEW, "安装选项", "custom view")
        default_action("chk_sc", "shortcut off")
        wait_checked("chk_sc", False, "the shortcut box unchecked")
        default_action("btn_insts", "install")
        check_tree(installer, FINISHED_PAGE, "安装完成", "finished page")
        record = read_record(wine_path(temp_payload_folder()))
        check(record[1:3] == [installer.folder, "0"], "helper was handed %r" % record)
        default_action("btn_use", "close", ends=True)
        check(installer.wait_exit() == 0, "exit code after 查看帮助")
    finally:
        installer.close()


def test_keyboard():
    exe = make_bundle("keyboard")
    saved = {}
    # A whole installation with the keyboard alone.
    installer = Installer(exe)
    try:
        browser, record = use_test_browser(saved)
        recorder = EventRecorder("keyboard")
        activate(installer)
        qv.key("Tab", "Tab", "Tab")
        wait_focus("chk_agree", "Tab to the agreement box")
        events = recorder.stop()
        focus = [("focus", ACC_NAMES[n]) for n in ("btn_min", "btn_close", "chk_agree")]
        check([e for e in events if e[0] == "focus"] == focus, "focus events %r" % events)
        mark = installer.shot("keyboard-focus-mark")
        check(distance([mark.at(27, 301)], [(0xF2, 0x7A, 0x2E)]) < 10, "no focus mark: %r" % (mark.at(27, 301),))
        qv.key("space")
        installer.wait_shot("keyboard-agree-off", lambda p: not box_checked(p, "chk_agree"), "Space unchecks")
        qv.key("space")
        installer.wait_shot("keyboard-agree-on", lambda p: box_checked(p, "chk_agree"), "Space checks again")
        qv.key("Tab")
        wait_focus("btn_agree", "Tab to the agreement link")
        qv.key("Return")
        lines = qv.wait_for(lambda: os.path.exists(record) and open(record, encoding="utf-8").read().splitlines(),
                            30, 0.2, "the browser for the agreement")
        check(lines[0].endswith(WEB + "/protocol.html"), "agreement address: %r" % lines[0])
        qv.key("Tab")
        wait_focus("chk_join", "Tab to the plan box")
        qv.key("space")
        installer.wait_shot("keyboard-join-off", lambda p: not box_checked(p, "chk_join"), "the plan box off")
        qv.key("Tab", "Return")
        qv.wait_for(lambda: len(open(record, encoding="utf-8").read().splitlines()) >= 2, 30, 0.2, "the browser again")
        check(open(record, encoding="utf-8").read().splitlines()[1].endswith(WEB + "/userexperience.html"),
              "plan address")
        qv.key("Tab")
        wait_focus("btn_custom", "Tab to 自定义安装")
        qv.key("Return")
        installer.wait_shot("keyboard-custom", lambda p: shows_picture(p, "btn_ret", "return.png"), "the custom view")
        qv.key("Tab", "Tab", "Tab")
        wait_focus("edit_dir", "Tab into the folder box")
        typed = wine_path(os.path.join(WORK, "keyboard folder"))
        qv.type_text(typed)  # Tab selected the old text: typing replaces it
        qv.wait_for(lambda: poke("folder")[1] == typed, 20, 0.2, "the typed folder")
        qv.key("Tab", "Tab")
        wait_focus("chk_sc", "Tab to the shortcut box")
        qv.key("space")
        installer.wait_shot("keyboard-sc-off", lambda p: not box_checked(p, "chk_sc"), "the shortcut box off")
        qv.key("shift+Tab", "shift+Tab")
        wait_focus("edit_dir", "Shift+Tab back to the folder box")
        qv.key("Return")  # the default button of the view: 立即安装
        installer.wait_shot("keyboard-finished", finished, "the finish page")
        qv.key("Tab", "Tab", "Tab", "Tab")
        wait_focus("btn_use", "Tab to 查看帮助")
        record = read_record(wine_path(temp_payload_folder()))
        check(record[1:3] == [typed, "0"], "helper was handed %r" % record)
        qv.key("Return")
        check(installer.wait_exit() == 0, "exit code after Enter on 查看帮助")
    finally:
        installer.close()
        restore_browser(saved)

    # Enter with no focus moved installs; Escape does nothing while installing
    # and closes the finished page.
    installer = Installer(exe, progress="none")
    try:
        activate(installer)
        qv.key("Return")
        qv.wait_for(lambda: os.path.isfile(os.path.join(temp_payload_folder() or WORK, "setup_record.txt")), 30,
                    0.2, "the hand-over to the helper")
        installer.wait_shot("keyboard-progress", lambda p: background_of(p) == "ing1.png", "the progress page")
        activate(installer)
        qv.key("Escape")
        # Input is handled in order: once this later drag has moved the
        # window, Escape has been handled too.
        x0, y0 = installer.geometry()[:2]
        qv.drag(installer.window, 300, 40, 340, 70)
        qv.wait_for(lambda: installer.geometry()[:2] != (x0, y0), 20, 0.2, "the window to move")
        check(installer.program.running(), "Escape ended the installer while installing")
        poke("progress", "100")
        installer.wait_shot("keyboard-escape-finished", finished, "the finish page")
        activate(installer)
        qv.key("Escape")
        check(installer.wait_exit() == 0, "exit code after Escape on the finished page")
    finally:
        installer.close()

    # Escape on the first page closes.
    installer = Installer(exe)
    try:
        activate(installer)
        qv.key("Escape")
        check(installer.wait_exit() == 0, "exit code after Escape on the first page")
    finally:
        installer.close()


def test_dpi():
    """The window at 150 %: twice-the-scale 3 everywhere."""
    exe = make_bundle("dpi")
    saved = reg_read(DESKTOP_KEY, "LogPixels")
    try:
        check(reg("add", DESKTOP_KEY, "/v", "LogPixels", "/t", "REG_DWORD", "/d", "144", "/f").returncode == 0,
              "LogPixels set")
        installer = Installer(exe)
        try:
            check(installer.geometry()[2:] == (912, 684), "window %r at 144 DPI" % (installer.geometry(),))
            check_tree(installer, MAIN_VIEW, "安装选项", "first page at 144 DPI", scale2=3)
            shot = installer.shot("dpi144-first-page")
            # The 1.5x drawings, 1:1: the page, and over it the product name.
            art = Picture([skin("begin@1.5x.png")])
            band = [(x * 3 // 2, y * 3 // 2) for x, y in BAND]
            check(distance([shot.at(*p) for p in band], [art.at(*p) for p in band]) < 3, "page background")
            blown_up = Picture([skin("begin.png"), "-filter", "point", "-resize", "150%"])
            title = (330, 220, 250, 70)
            own, upscaled = (distance(shot.region(*title), pic.region(*title)) for pic in (art, blown_up))
            check(own < 3 and upscaled > own + 3, "the title is not the sharp 1.5x drawing: %.1f / %.1f" % (own, upscaled))
            box = Picture([skin("begin@1.5x.png"), "-crop", "21x21+45+446", "+repage",
                           "(", skin("checkbox@1.5x.png"), "-crop", "21x21+21+0", "+repage", ")",
                           "-composite"]).region(0, 0, 21, 21)
            check(distance(shot.region(45, 446, 21, 21), box) < 8, "the checked box of the 1.5x drawing")
            # Hit tests in pixels: the caption strip is 120 high, the controls
            # answer where they are drawn.
            x0, y0 = installer.geometry()[:2]
            qv.drag(installer.window, 450, 100, 490, 130)
            moved = qv.wait_for(lambda: installer.geometry()[:2] != (x0, y0) and installer.geometry(), 20, 0.2,
                                "the window to move by the caption strip")
            check(moved[:2] == (x0 + 40, y0 + 30), "moved from %r to %r" % ((x0, y0), moved[:2]))
            qv.wait_settled(installer.window)
            x, y, w, h = CONTROLS["btn_custom"]
            qv.click(installer.window, scaled(2 * x + w, 3) // 2, scaled(2 * y + h, 3) // 2)
            check_tree(installer, CUSTOM_VIEW, "安装选项", "custom view at 144 DPI", scale2=3)
            installer.shot("dpi144-custom-view")
            default_action("btn_insts", "install at 144 DPI")
            check_tree(installer, FINISHED_PAGE, "安装完成", "finished page at 144 DPI", scale2=3)
            installer.shot("dpi144-finished")
            check(poke("quit")[0] == 0, "quit message posted")
            check(installer.wait_exit() == 0, "exit code at 144 DPI")
        finally:
            installer.close()
    finally:
        if saved is None:
            reg("delete", DESKTOP_KEY, "/v", "LogPixels", "/f")
        else:
            reg("add", DESKTOP_KEY, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(int(saved, 0)), "/f")
        check(reg_read(DESKTOP_KEY, "LogPixels") == saved, "LogPixels not restored")


def main():
    group = sys.argv[1] if len(sys.argv) > 1 else "startup"
    if not os.environ.get("DISPLAY"):
        print("installer_test: no DISPLAY")
        return 1
    os.makedirs(SHOTS, exist_ok=True)
    os.makedirs(WORK, exist_ok=True)
    try:
        {"startup": test_startup, "window": test_window, "install": test_install, "access": test_access,
         "keyboard": test_keyboard, "dpi": test_dpi}[group]()
    finally:
        # A private folder left by a run that was cut short.
        for folder in private_folders() if group in ("install", "access", "keyboard", "dpi") else []:
            shutil.rmtree(folder, ignore_errors=True)
    if FAILURES:
        print("%d check(s) failed" % len(FAILURES))
        return 1
    print("all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
