#!/usr/bin/env python3
"""The elevated installer against a program of the same user without
elevation: every folder, file and registry value such a program can write is
input. Each case plants what such a program could (a link where a folder or
file is expected, a library beside the installer, a swapped library during
extraction, files in the payload folder, a settings file that cannot be
written, unusual folder and item names) before or during a real installation,
and checks that the victim's content survives and nothing planted runs.
Under Wine a host symbolic link inside drive_c stands for a junction."""
import glob
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import qvdrive as q  # noqa: E402
import qvinstaller as t  # noqa: E402

MARKER = os.path.join(t.TOOLS, "marker.dll")


def make_victim(folder):
    os.makedirs(os.path.join(folder, "deep"), exist_ok=True)
    for name, text in (("keep.txt", "the victim's"), (os.path.join("deep", "keep2.txt"), "the victim's too")):
        with open(os.path.join(folder, name), "w") as f:
            f.write(text)


def victim_intact(folder):
    try:
        with open(os.path.join(folder, "keep.txt")) as a, open(os.path.join(folder, "deep", "keep2.txt")) as b:
            return a.read() == "the victim's" and b.read() == "the victim's too"
    except OSError:
        return False


def slow_payload(folder):
    """ImgKit.dll first, then 256 MiB of zeros that take a while to write out,
    then the viewer: room for a watcher to act during extraction and copying.
    Made once in `folder`."""
    archive = os.path.join(folder, "slow.7z")
    if not os.path.exists(archive):
        stage = tempfile.mkdtemp(dir=folder)
        for name in ("ImgKit.dll", "ImgShell.exe", "welcome.png"):
            shutil.copy(os.path.join(q.BUILD, "payload-stage", name), stage)
        with open(os.path.join(stage, "zeros.bin"), "wb") as f:
            f.truncate(256 << 20)
        run = ["7zz", "a", "-bd", "-bso0", "-t7z", "-m0=lzma2", "-mx=1", archive]
        subprocess.run(run + ["ImgKit.dll"], cwd=stage, check=True)
        subprocess.run(run + ["zeros.bin", "ImgShell.exe", "welcome.png"], cwd=stage, check=True)
        shutil.rmtree(stage)
    return archive


def listing(folder):
    """Relative paths of everything below `folder`, links not entered."""
    found = []
    for root, dirs, files in os.walk(folder):
        found += [os.path.relpath(os.path.join(root, name), folder) for name in dirs + files]
    return sorted(found)


def plant_stage(folder, listed):
    """A staging folder of a commit that seems to have been killed, as a
    program of the user can leave one: its markers, a list naming `listed`,
    and a file waiting to be moved back."""
    stage = os.path.join(folder, ".qvstage-0badf00d")
    for sub in ("new", "old"):
        os.makedirs(os.path.join(stage, sub), exist_ok=True)
    open(os.path.join(stage, "committing"), "w").close()
    with open(os.path.join(stage, "new.lst"), "w") as f:
        f.write("QVMANIFEST 1\n" + "".join("F\t0\t\t\t%s\n" % name for name in listed))
    with open(os.path.join(stage, "old", "planted.txt"), "w") as f:
        f.write("planted")
    return stage


class Watcher:
    """Watches the temporary folder from outside the installer (as a program
    of the user would) and acts once `ready(payload_folder)` holds."""

    def __init__(self, temp, ready, act=lambda payload: None):
        self.temp, self.ready, self.act = temp, ready, act
        self.done = threading.Event()
        self.acted = False
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        deadline = time.monotonic() + 120
        while not self.done.is_set() and time.monotonic() < deadline:
            for private in glob.glob(os.path.join(self.temp, t.PRIVATE_FOLDERS)):
                payload = os.path.join(private, "payload")
                try:
                    if self.ready(payload):
                        self.act(payload)
                        self.acted = True
                        return
                except OSError:
                    pass
            time.sleep(0.001)

    def stop(self):
        self.done.set()
        self.thread.join()


class AttackTest(t.InstallerFixture):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.data_dir = tempfile.mkdtemp(prefix="qvattack-")
        cls.markers = os.path.join(cls.data_dir, "markers")
        os.makedirs(cls.markers)
        os.environ["QV_MARKER_DIR"] = q.windows_path(cls.markers)
        cls.win_temp = t.where()["temp"]

    @classmethod
    def tearDownClass(cls):
        os.environ.pop("QV_MARKER_DIR", None)
        shutil.rmtree(cls.data_dir, ignore_errors=True)

    def setUp(self):
        super().setUp()
        self.clear_markers()

    def clear_markers(self):
        for name in os.listdir(self.markers):
            os.remove(os.path.join(self.markers, name))

    def loaded_markers(self):
        return sorted(os.listdir(self.markers))

    def slow_payload(self):
        return slow_payload(self.data_dir)

    # --- links ---------------------------------------------------------------
    def test_links_in_the_data_and_installation_folders(self):
        victim = os.path.join(self.data_dir, "victim")
        make_victim(victim)
        config = os.path.join(self.data, "config.dat")

        def start_and_close():
            """An installer started and closed from its first page."""
            app = t.Installer(self.bundle())
            try:
                app.click("btn_close")
                self.assertEqual(app.exit_code(), 0)
            finally:
                app.close()

        with self.subTest("config.dat is a link: start-up must not empty what it leads to"):
            os.makedirs(self.data, exist_ok=True)
            os.symlink(victim, config)
            try:
                start_and_close()
                self.assertTrue(victim_intact(victim))
            finally:
                os.remove(config)

        with self.subTest("the data folder is a link: its config.dat is neither deleted nor written"):
            elsewhere = os.path.join(self.data_dir, "elsewhere")
            os.makedirs(elsewhere, exist_ok=True)
            with open(os.path.join(elsewhere, "config.dat"), "wb") as f:
                f.write(b"theirs")
            saved = self.data + ".saved"
            if os.path.exists(self.data):
                os.rename(self.data, saved)
            os.symlink(elsewhere, self.data)
            try:
                start_and_close()
                self.assertEqual(os.listdir(elsewhere), ["config.dat"])
                with open(os.path.join(elsewhere, "config.dat"), "rb") as f:
                    self.assertEqual(f.read(), b"theirs")
            finally:
                os.remove(self.data)
                if os.path.exists(saved):
                    os.rename(saved, self.data)

        product = t.unix(self.default_install)
        with self.subTest("the installation folder is a link: nothing is written where it leads"):
            shutil.rmtree(product, ignore_errors=True)
            os.symlink(victim, product)
            try:
                # The helper library refuses the folder and says so itself.
                self.failed_install(self.bundle(), "安装失败", installers=False)
                self.assertTrue(victim_intact(victim))
                self.assertEqual(sorted(os.listdir(victim)), ["deep", "keep.txt"])
            finally:
                os.remove(product)

        with self.subTest("a link inside the installation folder is neither emptied nor removed"):
            os.makedirs(product, exist_ok=True)
            os.symlink(victim, os.path.join(product, "shortcut-to-victim"))
            self.install(self.bundle())
            self.assertTrue(victim_intact(victim))
            self.assert_installed_in(self.default_install)
            self.assertTrue(os.path.islink(os.path.join(product, "shortcut-to-victim")))
            os.remove(os.path.join(product, "shortcut-to-victim"))

    # --- what lies in or appears in the payload folder ------------------------
    def test_swapped_or_planted_payload_files_are_never_used(self):
        with self.subTest("ImgKit.dll swapped while the rest is still being extracted"):
            swap = os.path.join(self.data_dir, "ImgKit-swap.dll")
            shutil.copy(MARKER, swap)
            size = os.path.getsize(os.path.join(q.BUILD, "payload-stage", "ImgKit.dll"))

            def written(payload):
                helper = os.path.join(payload, "ImgKit.dll")
                return os.path.getsize(helper) == size and not os.path.exists(os.path.join(payload, "ImgShell.exe"))

            def replace(payload):
                staged = os.path.join(payload, "swap.tmp")
                shutil.copy(swap, staged)
                os.replace(staged, os.path.join(payload, "ImgKit.dll"))

            watcher = Watcher(self.temp, written, replace)
            try:
                self.failed_install(self.bundle(payload=self.slow_payload()), "安装失败")
            finally:
                watcher.stop()
            self.assertTrue(watcher.acted, "the watcher never saw ImgKit.dll written in time")
            self.assertEqual(self.loaded_markers(), [])
            self.assertFalse(os.path.exists(os.path.join(t.unix(self.default_install), "ImgShell.exe")))

        with self.subTest("files planted in the payload folder during extraction are not installed"):
            def any_file(payload):
                return os.path.isdir(payload)

            def plant(payload):
                with open(os.path.join(payload, "planted.exe"), "w") as f:
                    f.write("planted")
                os.makedirs(os.path.join(payload, "planted-folder"), exist_ok=True)

            watcher = Watcher(self.temp, any_file, plant)
            try:
                self.install(self.bundle(payload=self.slow_payload()))
            finally:
                watcher.stop()
            self.assertTrue(watcher.acted)
            installed = t.unix(self.default_install)
            # The payload's files and the helper's manifest of them, nothing planted.
            self.assertEqual(sorted(os.listdir(installed)),
                             ["7z.dll", "DuiLib.dll", "ImgShell.exe", "manifest.lst", "welcome.png", "zeros.bin"])

        with self.subTest("an old fixed payload folder with planted files is ignored"):
            old = os.path.join(self.temp, "Quiview", "1.0.1")
            os.makedirs(old, exist_ok=True)
            shutil.copy(MARKER, os.path.join(old, "ImgKit.dll"))
            with open(os.path.join(old, "ImgShell.exe"), "w") as f:
                f.write("cut short by a killed run")
            try:
                self.install(self.bundle())
                self.assertEqual(self.loaded_markers(), [])
                with open(os.path.join(q.BUILD, "payload-stage", "ImgShell.exe"), "rb") as a, \
                        open(os.path.join(t.unix(self.default_install), "ImgShell.exe"), "rb") as b:
                    self.assertEqual(a.read(), b.read())
            finally:
                shutil.rmtree(os.path.join(self.temp, "Quiview"), ignore_errors=True)

    # --- libraries beside the installer ----------------------------------------
    def test_libraries_planted_beside_the_installer_are_not_loaded(self):
        bundle = self.bundle()
        for name in ("msftedit.dll", "Userenv.dll", "wtsapi32.dll", "gdiplus.dll", "msimg32.dll", "riched20.dll"):
            shutil.copy(MARKER, os.path.join(bundle, name))
        self.install(bundle)
        self.assertEqual(self.loaded_markers(), [])
        # That the binaries import by name only the system's protected
        # libraries is checked on their import tables (tests/binaries).

    # --- the bundle's own files against the seal ---------------------------------
    def test_bundle_files_unlike_the_seal_are_never_used(self):
        """Each file beside the installer replaced after sealing by a working
        but different one: none of it runs and nothing is installed. Sealed
        again, the changed payload installs."""
        installed = t.unix(self.default_install)

        def nothing_happened():
            loaded = self.loaded_markers()
            self.clear_markers()
            self.assertEqual(loaded, [])
            self.assertEqual(self.private_folders(), [])
            self.assertEqual(os.listdir(installed) if os.path.exists(installed) else [], [])

        with self.subTest("DuiLib.dll: refused before the window"):
            bundle = self.bundle()
            shutil.copy(MARKER, os.path.join(bundle, "DuiLib.dll"))
            app = q.Program(os.path.join(bundle, "Install.exe"), cwd=bundle)
            try:
                t.message_box("Quiview")
                self.assertEqual(app.wait(60), 0)
            finally:
                app.close()
            nothing_happened()

        with self.subTest("7z.dll"):
            bundle = self.bundle()
            shutil.copy(MARKER, os.path.join(bundle, "7z.dll"))
            self.failed_install(bundle)
            nothing_happened()

        with self.subTest("payload.7z, then sealed again"):
            files = {name: os.path.join(q.BUILD, "payload-stage", name)
                     for name in ("ImgKit.dll", "ImgShell.exe", "welcome.png")}
            files["extra.txt"] = b"not in the sealed payload"
            bundle = self.bundle()
            shutil.copy(self.make_payload(files), os.path.join(bundle, "payload.7z"))
            self.failed_install(bundle)
            nothing_happened()
            self.install(t.seal(bundle))
            self.assertTrue(os.path.isfile(os.path.join(installed, "extra.txt")))

    # --- settings ---------------------------------------------------------------
    def test_settings_file_left_behind_or_unwritable(self):
        config = os.path.join(self.data, "config.dat")
        with self.subTest("a read-only settings file is replaced at start-up"):
            os.makedirs(self.data, exist_ok=True)
            with open(config, "wb") as f:
                f.write(b"left behind" * 100)
            os.chmod(config, 0o444)
            subprocess.run(["wine", "attrib", "+r", q.windows_path(config)], env=q.wine_env(),
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self.install(self.bundle())
            self.assertEqual(self.settings(), {"channel": "30100", "version": "1.0.1", "join": "1", "uid": self.uid})

        with self.subTest("a settings file that cannot be written stops the installation with a message"):
            os.remove(config)
            shutil.rmtree(t.unix(self.default_install), ignore_errors=True)
            os.makedirs(config)  # a folder where the file should be
            try:
                self.failed_install(self.bundle(), "无法写入设置文件，安装已取消。")
                self.assertFalse(os.path.exists(os.path.join(t.unix(self.default_install), "ImgShell.exe")))
                self.assertEqual(self.private_folders(), [])
            finally:
                shutil.rmtree(config)

        with self.subTest("the viewer reads the settings and never creates them"):
            self.install(self.bundle())
            os.remove(config)
            viewer = q.Program(os.path.join(t.unix(self.default_install), "ImgShell.exe"))
            try:
                q.wait_window("Quiview 看图", 60)
            finally:
                viewer.close()
            self.assertFalse(os.path.exists(config))

    # --- names ------------------------------------------------------------------
    # --- what an earlier installation seems to have left ----------------------
    def install_or_fail(self):
        """An installation that either finishes or fails with the helper's
        box (answered); which of the two."""
        with t.Installer(self.bundle()) as app:
            app.click("btn_inst")

            def outcome():
                if app.shows("btn_expe", "expe.png", 83, 26):
                    return "installed"
                try:
                    box = q.dialog("Quiview", timeout=1)
                except TimeoutError:
                    return None
                q.answer(box, "ok")
                return "failed"
            result = q.wait_for(outcome, 120, 0.2, "the finish page or the failure box")
            if result == "installed":
                app.click("btn_use")
            self.assertEqual(app.exit_code(), 0)
        return result

    def test_recovery_and_removal_go_only_by_the_protected_record(self):
        victim = os.path.join(self.scratch, "victim")
        make_victim(victim)
        product = t.unix(self.default_install)
        self.install()
        with self.subTest("staging folders planted in the installation folder and in the registered folder"):
            stages = [plant_stage(product, ["ImgShell.exe"]), plant_stage(victim, ["keep.txt"])]
            before = [listing(stage) for stage in stages]
            t.reg_set(t.UNINSTALL_KEY, "InstallLocation", q.windows_path(victim))
            self.install()
            self.assertTrue(victim_intact(victim))
            self.assertEqual(sorted(os.listdir(victim)), [".qvstage-0badf00d", "deep", "keep.txt"])
            self.assertEqual([listing(stage) for stage in stages], before)
            self.assertFalse(os.path.exists(os.path.join(product, "planted.txt")))
            self.assert_installed_in(self.default_install)
            shutil.rmtree(stages[0])
            shutil.rmtree(stages[1])

        with self.subTest("a line added to the manifest names a file of the user with its digest"):
            notes = os.path.join(product, "notes.txt")
            with open(notes, "wb") as f:
                f.write(b"the user's notes")
            with open(os.path.join(product, "manifest.lst"), "ab") as f:
                f.write(b"F\t16\t\t%s\tnotes.txt\n" % hashlib.md5(b"the user's notes").hexdigest().encode())
            self.install()
            with open(notes, "rb") as f:
                self.assertEqual(f.read(), b"the user's notes")

        with self.subTest("the staging folder's old folder swapped for a link during a reinstall"):
            def ready(_):
                return [old for old in glob.glob(os.path.join(product, ".qvstage-*", "old")) if not os.path.islink(old)]

            def swap(_):
                old = ready(None)[0]
                os.rename(old, old + "-real")
                os.symlink(victim, old)
            watcher = Watcher(self.temp, lambda payload: ready(payload), swap)
            try:
                outcome = self.install_or_fail()
            finally:
                watcher.stop()
            self.assertTrue(watcher.acted)
            self.assertTrue(victim_intact(victim))
            self.assertEqual(sorted(os.listdir(victim)), ["deep", "keep.txt"])
            if outcome == "installed":
                self.assert_installed_in(self.default_install)
            else:
                self.assertTrue(os.path.isfile(os.path.join(product, "ImgShell.exe")))

    def test_a_desktop_value_naming_a_system_folder_gets_no_shortcut(self):
        # Named as it is, or through a link in a folder of the user's.
        key = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders"
        before = t.reg_value(key, "Desktop")
        system32 = t.unix(r"C:\windows\system32")
        link = os.path.join(self.scratch, "desktop link")
        os.symlink(system32, link)
        for value in (r"C:\windows\system32", q.windows_path(link)):
            t.reg_set(key, "Desktop", value, "REG_EXPAND_SZ")
            try:
                self.install()
            finally:
                t.reg_set(key, "Desktop", before, "REG_EXPAND_SZ")
            self.assertFalse(os.path.exists(os.path.join(system32, "Quiview.lnk")), value)
            self.assert_installed_in(self.default_install)

    def test_archive_item_naming_a_device_is_refused(self):
        stage = tempfile.mkdtemp(dir=self.scratch)
        shutil.copy(os.path.join(q.BUILD, "payload-stage", "ImgKit.dll"), stage)
        with open(os.path.join(stage, "aux.txt"), "w") as f:
            f.write("to the device")
        archive = os.path.join(self.scratch, "device.7z")
        subprocess.run(["7zz", "a", "-bd", "-bso0", archive, "ImgKit.dll", "aux.txt"], cwd=stage, check=True)
        subprocess.run(["7zz", "rn", "-bd", "-bso0", archive, "aux.txt", "AUX.txt"], check=True)
        self.failed_install(self.bundle(payload=archive), "解压失败")
        self.assertEqual(self.private_folders(), [])

    def test_temporary_folder_outside_the_ansi_code_page(self):
        # A user name outside the ANSI code page gives such a temporary folder:
        # the user's environment (as the installer reads it for the console
        # user) names it.
        name = "한국 中文 темп"
        folder = os.path.join(self.temp, name)
        os.makedirs(folder, exist_ok=True)
        key = r"HKCU\Environment"
        saved = {name: t.reg_value(key, name) for name in ("TMP", "TEMP")}
        watcher = Watcher(folder, os.path.isdir)
        try:
            for variable in ("TMP", "TEMP"):
                t.reg_set(key, variable, self.win_temp + "\\" + name)
            self.install(self.bundle())
        finally:
            watcher.stop()
            for name, value in saved.items():
                t.reg_set(key, name, value)
        self.assertTrue(watcher.acted, "the installer did not extract into that folder")
        self.assert_installed_in(self.default_install)
        self.assertEqual(os.listdir(folder), [])
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    t.main()
