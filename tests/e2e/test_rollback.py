#!/usr/bin/env python3
"""Every run ends with either the complete new installation or the previous
one untouched, with its shortcut and uninstall entry matching what is on
disk: a damaged payload, a full temporary drive, a full installation drive,
the installer killed during extraction or while the helper copies, Alt+F4 at
those moments. And the folders an installation must never take, the user's
files beside an installation, an installation under Windows XP where the
settings live in the installation folder, a second installer started."""
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import qvdrive as q  # noqa: E402
import qvinstaller as t  # noqa: E402
import test_attacks as a  # noqa: E402

ENTRY_VALUES = ("DisplayIcon", "InstallLocation", "UninstallString", "InstallDate", "DisplayVersion")


class SmallDrive:
    """A small file system given to Wine as a drive of its own: a drive that
    fills up. (Mounted inside another drive it would be a mount point, which
    the installer, like for a junction, does not write below.)"""

    def __init__(self, letter, size):
        self.folder = tempfile.mkdtemp(prefix="qvdrive-")
        self.link = os.path.join(q.wine_env()["WINEPREFIX"], "dosdevices", letter.lower() + ":")
        self.root = letter.upper() + ":"
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%s" % size, "tmpfs", self.folder], check=True)
        if os.path.lexists(self.link):
            os.remove(self.link)
        os.symlink(self.folder, self.link)

    def close(self):
        if os.path.lexists(self.link):
            os.remove(self.link)
        subprocess.run(["umount", "-l", self.folder], check=False)
        shutil.rmtree(self.folder, ignore_errors=True)


class RollbackTest(t.InstallerFixture):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.info = t.where()
        cls.slow_dir = os.path.join(q.BUILD, "e2e-data")
        os.makedirs(cls.slow_dir, exist_ok=True)

    def slow_payload(self):
        return a.slow_payload(self.slow_dir)

    def state(self, win_folder):
        """What an installation consists of: its files (staging folders of a
        killed run aside), the entry's values and the shortcut."""
        folder = t.unix(win_folder)
        files = {}
        for root, dirs, names in os.walk(folder):
            dirs[:] = [d for d in dirs if not d.startswith(".qvstage-")]
            for name in names:
                path = os.path.join(root, name)
                with open(path, "rb") as f:
                    files[os.path.relpath(path, folder)] = f.read()
        shortcut = os.path.join(self.desktop, "Quiview.lnk")
        link = None
        if os.path.exists(shortcut):
            with open(shortcut, "rb") as f:
                link = f.read()
        return files, {name: self.uninstall_value(name) for name in ENTRY_VALUES}, link

    def assert_consistent(self, win_folder):
        files, entry, link = self.state(win_folder)
        self.assertIn("ImgShell.exe", files)
        self.assertEqual(entry["DisplayIcon"], win_folder + "\\ImgShell.exe")
        self.assertEqual(entry["InstallLocation"], win_folder)
        self.assertIsNotNone(link)

    def staging_folders(self, win_folder):
        folder = t.unix(win_folder)
        return [n for n in os.listdir(folder) if n.startswith(".qvstage-")] if os.path.isdir(folder) else []

    # --- failures leave the previous installation -----------------------------
    def kill_installer_when(self, bundle, condition):
        """Starts an installation of `bundle` and kills the installer as soon
        as `condition(private folder)` holds."""
        app = t.Installer(bundle)
        watcher = a.Watcher(self.temp, condition, lambda payload: app.program.proc.kill())
        try:
            app.click("btn_inst")
            app.program.wait(120)
        finally:
            watcher.stop()
            app.close()
        self.assertTrue(watcher.acted)

    def test_failed_reinstalls_leave_the_previous_installation(self):
        self.install(self.bundle())
        before = self.state(self.default_install)
        self.assert_consistent(self.default_install)

        with self.subTest("a damaged payload"):
            with open(os.path.join(t.DIST, "payload.7z"), "rb") as f:
                whole = f.read()
            damaged = os.path.join(self.scratch, "damaged.7z")
            with open(damaged, "wb") as f:
                f.write(whole[: len(whole) // 2])
            self.failed_install(self.bundle(payload=damaged), "解压失败")
            self.assertEqual(self.state(self.default_install), before)

        with self.subTest("a full temporary drive"):
            small = SmallDrive("R", "2m")
            key = r"HKCU\Environment"
            saved = {name: t.reg_value(key, name) for name in ("TMP", "TEMP")}
            try:
                for name in ("TMP", "TEMP"):
                    t.reg_set(key, name, small.root + "\\")
                self.failed_install(self.bundle(), "解压失败")
            finally:
                for name, value in saved.items():
                    t.reg_set(key, name, value)
                small.close()
            self.assertEqual(self.state(self.default_install), before)

        slow = self.bundle(payload=self.slow_payload())
        with self.subTest("the installer killed during extraction"):
            self.kill_installer_when(slow, lambda payload: os.path.exists(os.path.join(payload, "ImgKit.dll")))
            self.assertEqual(self.state(self.default_install), before)

        with self.subTest("the installer killed while the helper copies"):
            install = t.unix(self.default_install)

            def copying(payload):
                return any(os.path.exists(os.path.join(install, s, "new", "zeros.bin"))
                           for s in os.listdir(install) if s.startswith(".qvstage-"))

            self.kill_installer_when(slow, copying)
            self.assertEqual(self.state(self.default_install), before)
            self.assertNotEqual(self.staging_folders(self.default_install), [])
            # The next installation clears what the killed one left.
            for folder in self.private_folders():
                shutil.rmtree(folder, ignore_errors=True)
            self.install(self.bundle())
            self.assertEqual(self.staging_folders(self.default_install), [])
            self.assert_consistent(self.default_install)

    @staticmethod
    def installation_bytes():
        """About what an installation of the bundle takes: the payload's files
        (the helper, which is not installed, as a margin) and the two
        libraries installed beside them."""
        dist = os.path.join(q.BUILD, "dist")
        listing = subprocess.run(["7zz", "l", "-slt", os.path.join(dist, "payload.7z")], stdout=subprocess.PIPE,
                                 check=True, text=True).stdout
        payload = sum(int(line.split("=", 1)[1]) for line in listing.splitlines() if line.startswith("Size = "))
        return payload + sum(os.path.getsize(os.path.join(dist, name)) for name in ("DuiLib.dll", "7z.dll"))

    def test_a_full_installation_drive(self):
        # Room for one installation, not for a second one staged beside it.
        drive = SmallDrive("Q", "%dk" % (self.installation_bytes() * 13 // 10 // 1024))
        folder = drive.root + "\\Quiview"
        try:
            self.install(self.bundle(), folder)
            before = self.state(folder)
            self.assert_consistent(folder)
            # The same again needs room for the new files beside the old ones.
            app = t.Installer(self.bundle())
            try:
                app.click("btn_custom")
                app.type_folder(folder)
                app.click("btn_insts")
                # The helper library's own box (it reports the failed copy).
                self.assertEqual(t.message_box("Quiview", installers=False), "安装失败")
                self.assertEqual(app.exit_code(), 0)
            finally:
                app.close()
            self.assertEqual(self.state(folder), before)
            self.assertEqual(self.staging_folders(folder), [])
        finally:
            drive.close()

    def test_close_requests_while_installing_are_refused(self):
        slow = self.bundle(payload=self.slow_payload())
        for moment in ("extraction", "copy"):
            with self.subTest(moment):
                install = t.unix(self.default_install)
                shutil.rmtree(install, ignore_errors=True)
                app = t.Installer(slow)

                def reached(payload, moment=moment):
                    if moment == "extraction":
                        return os.path.exists(os.path.join(payload, "ImgKit.dll"))
                    return os.path.isdir(install) and any(n.startswith(".qvstage-") for n in os.listdir(install))

                def alt_f4(payload):
                    app.focus()
                    q.key("alt+F4")

                watcher = a.Watcher(self.temp, reached, alt_f4)
                try:
                    app.click("btn_inst")
                    app.wait_finished(240)
                    self.assertTrue(watcher.acted)
                    self.assertTrue(app.program.running())
                    app.click("btn_use")
                    self.assertEqual(app.exit_code(), 0)
                finally:
                    watcher.stop()
                    app.close()
                self.assert_consistent(self.default_install)

    # --- folders -----------------------------------------------------------
    def test_the_installers_own_folder_is_refused(self):
        downloads = os.path.join(os.path.dirname(self.desktop), "Downloads", "Quiview")
        t.make_bundle(downloads)
        try:
            app = t.Installer(downloads)
            try:
                app.click("btn_custom")
                app.type_folder(self.info["temp"].rsplit("\\", 1)[0] + "\\Downloads\\Quiview")
                app.click("btn_insts")
                self.assertEqual(t.message_box("Quiview"), "不能安装到这个文件夹，请另选一个文件夹。")
                # Still the custom view, nothing installed, the bundle whole.
                q.wait_for(lambda: app.shows("btn_select", "modify.png", 55, 20), 30, 0.2, "custom view")
                self.assertEqual(sorted(os.listdir(downloads)), ["7z.dll", "DuiLib.dll", "Install.exe", "payload.7z"])
            finally:
                app.close()
        finally:
            shutil.rmtree(downloads, ignore_errors=True)

    def test_users_files_beside_an_installation_survive(self):
        root = t.unix("C:\\Quiview")
        shutil.rmtree(root, ignore_errors=True)
        os.makedirs(root)
        with open(os.path.join(root, "notes.txt"), "w") as f:
            f.write("the user's notes")
        try:
            self.install(self.bundle(), "C:\\Quiview\\Apps")
            self.assertEqual(t.where()["install"], "C:\\Quiview\\Apps")
            # The next run proposes that folder and installs there again.
            self.install(self.bundle(), start_viewer=True)
            with open(os.path.join(root, "notes.txt")) as f:
                self.assertEqual(f.read(), "the user's notes")
            self.assert_consistent("C:\\Quiview\\Apps")
        finally:
            subprocess.run(["wine", "taskkill", "/f", "/im", "ImgShell.exe"], env=q.wine_env(),
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            shutil.rmtree(root, ignore_errors=True)

    def test_windows_xp_keeps_the_settings_in_the_installation_folder(self):
        key = r"HKCU\Software\Wine\AppDefaults\Install.exe"
        t.reg_set(key, "Version", "winxp")
        try:
            self.install(self.bundle())
            config = os.path.join(t.unix(self.default_install), "config.dat")
            out = q.run(["wine", t.CONFIGDUMP, q.windows_path(config)], check=False).stdout.decode("utf-8")
            rows = dict(line.split("\t", 1) for line in out.splitlines() if "\t" in line)
            self.assertEqual(rows, {"channel": "30100", "version": "1.0.1", "join": "1", "uid": self.uid})
            self.assert_installed_in(self.default_install)
        finally:
            q.run(["wine", "reg", "delete", key, "/f"], check=False)

    def test_a_second_installer_leaves_the_running_one_alone(self):
        first = t.Installer(self.bundle())
        try:
            first.click("btn_min")
            q.wait_for(lambda: first.state()["iconic"] == 1, 30, 0.2, "the window to minimise")
            second = q.Program(os.path.join(t.DIST, "Install.exe"))
            try:
                self.assertEqual(second.wait(60), 0)
            finally:
                second.close()
            # No signal reached the first installer: it is still minimised.
            # A restore would come from the second process before it ended,
            # so the state read after its exit is the one to check.
            state = first.state()
            self.assertEqual((state["iconic"], state["visible"]), (1, 1), "first installer's window %r" % state)
            self.assertTrue(first.program.running())
        finally:
            first.close()


if __name__ == "__main__":
    t.main()
