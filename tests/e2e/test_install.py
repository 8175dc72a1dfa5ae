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

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import qvdrive as q  # noqa: E402
import qvinstaller as t  # noqa: E402
from qvinstaller import DIST, Installer, message_box, unix  # noqa: E402

SHOTS = t.SHOTS


class InstallerTest(t.InstallerFixture):
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
            viewer = q.wait_window(t.VIEWER_TITLE, 60)
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
        self.install(start_viewer=True)
        second = Installer(self.bundle())
        try:
            second.click("btn_inst")
            second.wait_finished()
            self.assert_installed_in(self.default_install)
        finally:
            second.close()


if __name__ == "__main__":
    t.main()
