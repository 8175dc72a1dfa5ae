#!/usr/bin/env python3
"""The whole product, for real: the shipped bundle (Install.exe, DuiLib.dll,
7z.dll, payload.7z) run under Wine on the test display, driven by real X clicks
and typing, and checked through what it leaves behind: the installed files, the
settings file (read with configdump), the shortcut, the uninstall entry and the
messages the user sees."""
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import qvdrive as q  # noqa: E402

DIST = os.path.join(q.BUILD, "dist")
TOOLS = os.environ.get("QV_E2E_TOOLS", os.path.join(q.BUILD, "tests", "e2e"))
QVWHERE = os.path.join(TOOLS, "qvwhere.exe")
CONFIGDUMP = os.path.join(q.BUILD, "tools", "configdump", "configdump.exe")
SKIN = os.path.join(q.ROOT, "res", "skin")
SHOTS = os.path.join(q.BUILD, "e2e")
TITLE = "Quiview安装"
UNINSTALL_KEY = r"HKCU\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Quiview"

# Centres of the controls the tests press, in window coordinates.
AT = {
    "chk_agree": (37, 301),
    "chk_join": (335, 301),
    "btn_custom": (540, 424),
    "btn_inst": (311, 396),
    "edit_dir": (250, 331),
    "chk_sc": (39, 371),
    "btn_insts": (456, 420),
    "btn_ret": (556, 420),
    "btn_expe": (191, 381),
    "btn_use": (410, 381),
    "btn_close": (589, 15),
    "btn_min": (569, 15),
}


def skin_pixel(picture, x, y):
    return q.pixel(os.path.join(SKIN, picture), x, y)


def close_enough(a, b, tolerance=24):
    return all(abs(x - y) <= tolerance for x, y in zip(a, b))


def where():
    out = q.run(["wine", QVWHERE]).stdout.decode("utf-8")
    values = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
    return values


def unix(win_path):
    return q.unix_path(win_path)


class Installer:
    """One run of Install.exe from a bundle folder."""

    def __init__(self, bundle):
        self.program = q.Program(os.path.join(bundle, "Install.exe"), cwd=bundle)
        self.window = q.wait_window(TITLE, timeout=90)
        q.wait_settled(self.window)
        # The first page is painted (and so initialised) before the first click.
        q.wait_for(lambda: self.looks_like("begin.png", 300, 60), 60, 0.2, "first page")

    def shot(self, name):
        return q.screenshot(os.path.join(SHOTS, name + ".png"), self.window)

    def looks_like(self, picture, x, y, wx=None, wy=None):
        """Whether the window shows `picture`'s pixel (x, y) at window point (wx, wy)."""
        wx = x if wx is None else wx
        wy = y if wy is None else wy
        # A private file: the folder of screenshots holds only the named ones.
        handle, path = tempfile.mkstemp(suffix=".png", prefix="qvprobe-")
        os.close(handle)
        try:
            q.screenshot(path, self.window)
            return close_enough(q.pixel(path, wx, wy), skin_pixel(picture, x, y))
        except subprocess.CalledProcessError:
            return False
        finally:
            os.remove(path)

    def click(self, name):
        q.click(self.window, *AT[name])

    def type_folder(self, text):
        self.click("edit_dir")
        q.key("ctrl+a")
        q.key("BackSpace")
        q.type_text(text)

    def wait_finished(self, timeout=120):
        try:
            q.wait_for(lambda: self.looks_like("expe.png", 83, 26, 108 + 83, 355 + 26), timeout, 0.3,
                       "finish page")
        except TimeoutError:
            q.screenshot(os.path.join(SHOTS, "timeout-screen.png"))  # the whole screen, for the report
            raise

    def exit_code(self, timeout=60):
        return self.program.wait(timeout)

    def close(self):
        self.program.close()


def reg_value(key, name):
    """A registry value's text, or None when it is missing."""
    out = q.run(["wine", "reg", "query", key, "/v", name], check=False).stdout.decode("utf-8", "replace")
    for line in out.splitlines():
        parts = line.split(None, 2)
        if len(parts) >= 2 and parts[0] == name and parts[1].startswith("REG_"):
            return parts[2].strip() if len(parts) == 3 else ""
    return None


def reg_set(key, name, value):
    """Sets a text value, or removes it for None."""
    if value is None:
        q.run(["wine", "reg", "delete", key, "/v", name, "/f"], check=False)
    else:
        q.run(["wine", "reg", "add", key, "/v", name, "/d", value, "/f"], check=False)


def message_box(caption):
    """Text of the message box with this caption, dismissed with a real click on OK."""
    out = q.run(["wine", QVWHERE, "msgbox", caption], check=False).stdout.decode("utf-8")
    values = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
    if "ok" in values:
        x, y = values["ok"].split(",")
        subprocess.run(["xdotool", "mousemove", x, y, "click", "1"], check=True)
    return values.get("text")


class InstallerFixture(unittest.TestCase):
    """What every installer test needs: where things are, a clean user state
    before and after, bundles, payloads and the installer's traces."""

    @classmethod
    def setUpClass(cls):
        os.makedirs(SHOTS, exist_ok=True)
        info = where()
        cls.uid = info["uid"]
        cls.data = unix(info["data"])
        cls.default_install = info["install"]
        cls.temp = unix(info["temp"])
        cls.desktop = unix(info["desktop"])

    def setUp(self):
        self.scratch = tempfile.mkdtemp(prefix="qve2e-")
        self.clean_user_state()

    def tearDown(self):
        subprocess.run(["wine", "taskkill", "/f", "/im", "ImgShell.exe"], env=q.wine_env(),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.clean_user_state()
        shutil.rmtree(self.scratch, ignore_errors=True)

    def clean_user_state(self):
        for path in (os.path.join(self.data, "config.dat"), os.path.join(self.desktop, "Quiview.lnk")):
            if os.path.exists(path):
                os.remove(path)
        for folder in self.private_folders():
            shutil.rmtree(folder, ignore_errors=True)
        shutil.rmtree(unix(self.default_install), ignore_errors=True)
        subprocess.run(["wine", "reg", "delete", UNINSTALL_KEY, "/f"], env=q.wine_env(),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    # --- helpers -----------------------------------------------------------
    def private_folders(self):
        """The installers' private folders in the user's temporary folder."""
        return sorted(glob.glob(os.path.join(self.temp, "Quiview-1.0.1-*")))

    def bundle(self, without=(), payload=None):
        """A copy of the shipped folder, optionally without some files or with another payload."""
        folder = tempfile.mkdtemp(prefix="下载 bundle ", dir=self.scratch)
        for name in ("Install.exe", "DuiLib.dll", "7z.dll", "payload.7z"):
            if name not in without:
                shutil.copy(os.path.join(DIST, name), folder)
        if payload is not None:
            shutil.copy(payload, os.path.join(folder, "payload.7z"))
        return folder

    def make_payload(self, files):
        """A payload archive holding `files` (name -> source path or bytes)."""
        stage = tempfile.mkdtemp(dir=self.scratch)
        for name, content in files.items():
            target = os.path.join(stage, name)
            if isinstance(content, bytes):
                with open(target, "wb") as f:
                    f.write(content)
            else:
                shutil.copy(content, target)
        archive = os.path.join(self.scratch, "custom-%d.7z" % len(os.listdir(self.scratch)))
        subprocess.run(["7zz", "a", "-bd", "-bso0", "-t7z", archive] + list(files), cwd=stage, check=True)
        return archive

    def settings(self):
        path = q.windows_path(os.path.join(self.data, "config.dat"))
        out = q.run(["wine", CONFIGDUMP, path], check=False).stdout.decode("utf-8")
        return dict(line.split("\t", 1) for line in out.splitlines() if "\t" in line)

    def uninstall_value(self, name):
        return reg_value(UNINSTALL_KEY, name)

    def assert_installed_in(self, win_folder):
        folder = unix(win_folder)
        for name in ("ImgShell.exe", "DuiLib.dll", "7z.dll", "welcome.png"):
            self.assertTrue(os.path.isfile(os.path.join(folder, name)), name + " in " + folder)
        self.assertFalse(os.path.exists(os.path.join(folder, "ImgKit.dll")))

    def failed_install(self, bundle, text):
        app = Installer(bundle)
        try:
            app.click("btn_inst")
            q.wait_for(lambda: app.looks_like("ing1.png", 300, 60) or app.looks_like("ing2.png", 300, 60),
                       60, 0.2, "progress page")
            self.assertEqual(message_box("Quiview"), text)
            self.assertEqual(app.exit_code(), 0)
        finally:
            app.close()


class InstallerTest(InstallerFixture):
    def test_default_install_then_try_it(self):
        app = Installer(self.bundle())
        try:
            app.shot("01-first-page")
            app.click("btn_inst")
            app.wait_finished()
            app.shot("04-finish-page")
            self.assert_installed_in(self.default_install)
            # The payload was extracted into a private folder of this run,
            # which goes when the installer ends.
            private = self.private_folders()
            self.assertEqual(len(private), 1)
            self.assertTrue(os.path.isfile(os.path.join(private[0], "payload", "ImgKit.dll")))
            with open(os.path.join(private[0], "items.lst"), encoding="utf-8") as f:
                listed = {line.split("\t")[-1] for line in f.read().splitlines()[1:]}
            self.assertLessEqual({"ImgKit.dll", "ImgShell.exe", "welcome.png", "DuiLib.dll", "7z.dll"}, listed)
            self.assertEqual(self.settings(),
                             {"channel": "30100", "version": "1.0.1", "join": "1", "uid": self.uid})
            self.assertTrue(os.path.isfile(os.path.join(self.desktop, "Quiview.lnk")))
            self.assertEqual(self.uninstall_value("DisplayIcon"), self.default_install + "\\ImgShell.exe")

            app.click("btn_expe")
            self.assertEqual(app.exit_code(), 0)
            self.assertEqual(self.private_folders(), [])
            viewer = q.wait_window("Quiview 看图 1.0.1 · 渠道 30100", 60)
            q.wait_settled(viewer)
            q.screenshot(os.path.join(SHOTS, "05-viewer.png"), viewer)
        finally:
            app.close()

    def test_options_plan_shortcut_and_typed_folder(self):
        typed = "C:\\e2e typed\\MyViewer"
        app = Installer(self.bundle())
        try:
            app.click("chk_join")
            app.click("btn_custom")
            app.click("chk_sc")
            app.type_folder(typed)
            app.shot("02-custom-view")
            app.click("btn_insts")
            app.wait_finished()
            self.assert_installed_in(typed)
            self.assertEqual(self.settings()["join"], "0")
            self.assertFalse(os.path.exists(os.path.join(self.desktop, "Quiview.lnk")))
            app.click("btn_use")
            self.assertEqual(app.exit_code(), 0)
            self.assertEqual(q.find_windows("Quiview 看图.*"), [])
        finally:
            app.close()
            shutil.rmtree(unix("C:\\e2e typed"), ignore_errors=True)

    def test_agreement_unchecked_shows_notice_then_installs(self):
        app = Installer(self.bundle())
        try:
            app.click("chk_agree")
            app.click("btn_inst")
            self.assertEqual(message_box("提示"), "请先阅读并同意<<Quiview许可协议>>")
            # Still on the first page; nothing recorded beyond start-up.
            q.wait_for(lambda: app.looks_like("begin.png", 300, 60), 30, 0.2, "first page")
            self.assertEqual(self.settings(), {"channel": "30100", "version": "1.0.1"})
            app.click("chk_agree")
            app.click("btn_inst")
            app.wait_finished()
            self.assert_installed_in(self.default_install)
        finally:
            app.close()

    def test_failures_end_with_their_message(self):
        with self.subTest("no 7z.dll beside the installer"):
            self.failed_install(self.bundle(without=("7z.dll",)), "解压失败")
        with self.subTest("damaged payload"):
            with open(os.path.join(DIST, "payload.7z"), "rb") as f:
                whole = f.read()
            damaged = os.path.join(self.scratch, "damaged.7z")
            with open(damaged, "wb") as f:
                f.write(whole[: len(whole) // 2])
            self.failed_install(self.bundle(payload=damaged), "解压失败")
        with self.subTest("payload without ImgKit.dll"):
            viewer_only = self.make_payload({"welcome.png": os.path.join(q.ROOT, "viewer", "res", "welcome.png")})
            self.failed_install(self.bundle(payload=viewer_only), "安装失败")
        with self.subTest("ImgKit.dll without SetupViewer"):
            wrong = self.make_payload({"ImgKit.dll": os.path.join(DIST, "DuiLib.dll")})
            self.failed_install(self.bundle(payload=wrong), "安装失败")

    def test_typed_non_product_folder_keeps_its_files(self):
        keep = "C:\\e2e keep"
        sentinel = os.path.join(unix(keep), "sentinel.txt")
        os.makedirs(os.path.dirname(sentinel), exist_ok=True)
        with open(sentinel, "w") as f:
            f.write("mine")
        app = Installer(self.bundle())
        try:
            app.click("btn_custom")
            app.type_folder(keep)
            app.click("btn_insts")
            app.wait_finished()
            with open(sentinel) as f:
                self.assertEqual(f.read(), "mine")
            self.assert_installed_in(keep)
        finally:
            app.close()
            shutil.rmtree(unix(keep), ignore_errors=True)

    def test_payload_item_outside_the_payload_folder_is_refused(self):
        stage = tempfile.mkdtemp(dir=self.scratch)
        with open(os.path.join(stage, "evil.txt"), "w") as f:
            f.write("escaped")
        archive = os.path.join(self.scratch, "evil.7z")
        subprocess.run(["7zz", "a", "-bd", "-bso0", archive, "evil.txt"], cwd=stage, check=True)
        subprocess.run(["7zz", "rn", "-bd", "-bso0", archive, "evil.txt", "../escaped.txt"], check=True)
        self.failed_install(self.bundle(payload=archive), "解压失败")
        self.assertEqual(glob.glob(os.path.join(self.temp, "**", "escaped.txt"), recursive=True), [])
        self.assertEqual(self.private_folders(), [])

    def test_reinstall_while_the_viewer_runs(self):
        first = Installer(self.bundle())
        try:
            first.click("btn_inst")
            first.wait_finished()
            first.click("btn_expe")
            self.assertEqual(first.exit_code(), 0)
        finally:
            first.close()
        q.wait_window("Quiview 看图 1.0.1 · 渠道 30100", 60)
        second = Installer(self.bundle())
        try:
            second.click("btn_inst")
            second.wait_finished()
            self.assert_installed_in(self.default_install)
        finally:
            second.close()


if __name__ == "__main__":
    result = unittest.main(verbosity=2, exit=False).result
    failed = len(result.failures) + len(result.errors)
    print("%d passed, %d failed" % (result.testsRun - failed, failed))
    sys.exit(1 if failed else 0)
