#!/usr/bin/env python3
"""The uninstaller as a person and a silent caller use it, after a real
installation through Install.exe from the shipped bundle: Uninstall.exe /S
and the asking run answered with real clicks on its message boxes, checked
through what stays behind: the installation folder, the user's files, the
settings file, the desktop shortcut and the uninstall entry. Links in the
installation folder, changed files, a running viewer, a folder without
manifest and a folder the user cannot write (a read-only mount: the
uninstaller restarts itself elevated) are each tried for real."""
import glob
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import qvdrive as q  # noqa: E402
import qvinstaller as t  # noqa: E402

CAPTION = "Quiview 卸载"
ASK_REMOVE = "确定要从您的计算机中移除 Quiview 吗？"
ASK_SETTINGS = "是否同时删除 Quiview 的设置？"
REMOVED = "Quiview 已从您的计算机中移除。"
NOT_INSTALLED = "此文件夹中没有 Quiview 的安装记录，未删除任何文件："
MANIFEST = "manifest.lst"
COPY_PREFIX = "Quiview-uninstall-"
USER_FILE = "我的笔记.txt"
# Stands in for a program of the user's: notes in record.log beside itself that it ran.
RECORDER = os.path.join(q.BUILD, "tests", "app", "app_recorder.exe")


def answer(button, skip=None):
    """Reads the uninstaller's message box (not the box `skip`, one already
    answered) and clicks `button` ("yes", "no" or "ok") for real."""
    box = q.dialog(CAPTION, skip=skip and skip["hwnd"])
    q.answer(box, button)
    return box


def tree(folder):
    """Relative paths below a folder (folders end with '/'); links are listed, never entered."""
    found = []
    for root, dirs, files in os.walk(folder):
        rel = os.path.relpath(root, folder)
        for name in dirs:
            found.append(os.path.normpath(os.path.join(rel, name)) + "/")
        for name in files:
            found.append(os.path.normpath(os.path.join(rel, name)))
    return sorted(found)


def read_manifest(folder):
    """The files and folders an installation's manifest lists (relative, '/')."""
    with open(os.path.join(folder, MANIFEST), encoding="utf-8") as f:
        lines = f.read().split("\n")
    assert lines[0] == "QVMANIFEST 1", lines[0]
    return [line.split("\t", 4)[4].replace("\\", "/") + ("/" if line.startswith("D") else "")
            for line in lines[1:] if line]


def write_manifest(folder):
    """A manifest of everything in a fresh installation folder, in the
    helper's format, for as long as the installed helper writes none."""
    lines = ["QVMANIFEST 1"]
    for path in tree(folder):
        if path.endswith("/"):
            lines.append("D\t\t\t\t" + path[:-1].replace("/", "\\"))
            continue
        with open(os.path.join(folder, path), "rb") as f:
            data = f.read()
        lines.append("F\t%d\t%08x\t%s\t%s" % (len(data), zlib.crc32(data) & 0xFFFFFFFF,
                                             hashlib.md5(data).hexdigest(), path.replace("/", "\\")))
    with open(os.path.join(folder, MANIFEST), "w", encoding="utf-8", newline="\n") as f:
        f.write("\n".join(lines) + "\n")


def copies_running():
    """Whether a copy of the uninstaller runs from the temporary folder."""
    return bool(q.processes_of_this_prefix(COPY_PREFIX))


class Started:
    """A host process started by a case, ended on close() if still running."""

    def __init__(self, process):
        self.process = process

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()
        if self.process.stdout:
            self.process.stdout.close()


class UninstallerTest(t.InstallerFixture):
    def setUp(self):
        super().setUp()
        self.folder_win = self.default_install
        self.folder = t.unix(self.folder_win)
        self.exe_win = self.folder_win + "\\Uninstall.exe"
        self.started = []

    def tearDown(self):
        for program in self.started:
            program.close()
        try:
            q.wait_for(lambda: not copies_running(), 60, 0.1, "the uninstaller's copies to end")
        except TimeoutError:
            pass
        # What a failed case left running of the uninstallers it started (in
        # this test's own Wine prefix), such as one still showing a question.
        for pid in q.processes_of_this_prefix("Uninstall.exe"):
            try:
                os.kill(pid, 9)
            except OSError:
                pass
        q.wait_for(lambda: not q.processes_of_this_prefix("Uninstall.exe"), 30, 0.1, "the uninstallers to end")
        for folder in glob.glob(os.path.join(self.temp, COPY_PREFIX + "*")):
            shutil.rmtree(folder, ignore_errors=True)
        super().tearDown()

    # --- helpers -----------------------------------------------------------
    def install_and_list(self):
        """A real default installation through the installer's window; the
        manifest it lists (written here if the installed helper wrote none)."""
        self.install()
        self.assertTrue(os.path.isfile(os.path.join(self.folder, "Uninstall.exe")))
        if not os.path.exists(os.path.join(self.folder, MANIFEST)):
            print("note: the installation has no manifest; the test writes one", file=sys.stderr)
            write_manifest(self.folder)
        listed = read_manifest(self.folder)
        self.assertIn("Uninstall.exe", listed)
        return listed

    def quiet_command(self):
        """The uninstall entry's quiet command when it has one, else the same by hand."""
        line = self.uninstall_value("QuietUninstallString")
        if line is None:
            return [self.exe_win, "/S"]
        self.assertEqual(line, '"%s" /S' % self.exe_win)
        self.assertEqual(self.uninstall_value("UninstallString"), '"%s"' % self.exe_win)
        return [self.exe_win, "/S"]

    def run_uninstaller(self, args, wait=True):
        program = q.Program(args[0], args[1:])
        self.started.append(program)
        if not wait:
            return program
        code = program.wait(120)
        # The copy goes on after the original ended: its file and folders go last.
        q.wait_for(lambda: not copies_running(), 120, 0.1, "the uninstaller's copy to end")
        return code

    def limited(self, args):
        """Starts the command line without elevation (the limited twin token);
        the process and the id and elevation of the unelevated uninstaller."""
        process = subprocess.Popen(["wine", q.PROBE, "limited"] + args, env=q.wine_env(),
                                   stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.started.append(Started(process))
        values = {}
        while "elevated" not in values:
            line = process.stdout.readline().decode()
            if not line:
                break
            if "=" in line:
                name, value = line.strip().split("=", 1)
                values[name] = value
        return process, values

    def shortcut(self):
        return os.path.join(self.desktop, "Quiview.lnk")

    def config(self):
        return os.path.join(self.data, "config.dat")

    def assert_all_there(self, listed):
        for path in listed:
            self.assertTrue(os.path.lexists(os.path.join(self.folder, path)), path)
        self.assertTrue(os.path.exists(self.shortcut()))
        self.assertEqual(self.uninstall_value("InstallLocation"), self.folder_win)

    # --- cases -------------------------------------------------------------
    def test_quiet_run_removes_exactly_the_installation(self):
        listed = self.install_and_list()
        with open(os.path.join(self.folder, USER_FILE), "w", encoding="utf-8") as f:
            f.write("mine")
        self.assertTrue(os.path.isfile(self.config()))
        self.assert_all_there(listed)

        self.assertEqual(self.run_uninstaller(self.quiet_command()), 0)
        self.assertEqual(tree(self.folder), [USER_FILE])
        with open(os.path.join(self.folder, USER_FILE), encoding="utf-8") as f:
            self.assertEqual(f.read(), "mine")
        self.assertFalse(os.path.exists(self.shortcut()))
        self.assertIsNone(self.uninstall_value("DisplayIcon"))
        self.assertTrue(os.path.isfile(self.config()))  # kept without /REMOVESETTINGS

    def test_asking_run_answered_with_clicks(self):
        listed = self.install_and_list()
        before = tree(self.folder)
        with self.subTest("no keeps everything"):
            program = self.run_uninstaller([self.exe_win], wait=False)
            box = answer("no")
            self.assertEqual(box["text"], ASK_REMOVE)
            self.assertEqual(program.wait(60), 1)
            self.assertEqual(tree(self.folder), before)
            self.assert_all_there(listed)
            self.assertTrue(os.path.isfile(self.config()))

        with self.subTest("yes, and yes to the settings, removes everything"):
            program = self.run_uninstaller([self.exe_win], wait=False)
            first = answer("yes")
            self.assertEqual(first["text"], ASK_REMOVE)
            second = answer("yes", skip=first)
            self.assertTrue(second["text"].startswith(ASK_SETTINGS), second["text"])
            final = answer("ok", skip=second)
            self.assertEqual(final["text"], REMOVED)
            self.assertEqual(program.wait(60), 0)
            q.wait_for(lambda: not copies_running(), 120, 0.1, "the uninstaller's copy to end")
            self.assertFalse(os.path.exists(self.folder))
            self.assertFalse(os.path.exists(self.config()))
            self.assertFalse(os.path.exists(self.shortcut()))
            self.assertIsNone(self.uninstall_value("InstallLocation"))

    def test_a_program_put_at_its_path_while_it_asks_is_not_copied(self):
        # While the question shows, a program of the user's takes the
        # uninstaller's place. What is copied and started is the uninstaller
        # that was started: the installation goes and the program never runs.
        self.install_and_list()
        program = self.run_uninstaller([self.exe_win], wait=False)
        first = q.dialog(CAPTION)
        self.assertEqual(first["text"], ASK_REMOVE)
        planted = os.path.join(self.folder, "Uninstall.exe")
        shutil.copy(RECORDER, planted + ".new")
        os.replace(planted + ".new", planted)
        q.answer(first, "yes")
        second = answer("no", skip=first)  # the settings stay
        answer("ok", skip=second)
        program.wait(60)
        q.wait_for(lambda: not copies_running(), 120, 0.1, "the uninstaller's copy to end")
        self.assertEqual(glob.glob(os.path.join(self.temp, COPY_PREFIX + "*", "record.log")), [],
                         "the planted program ran")
        self.assertFalse(os.path.exists(os.path.join(self.folder, "ImgShell.exe")), "the viewer stayed")
        self.assertFalse(os.path.exists(self.shortcut()))

    def test_changed_files_and_links_stay_and_what_links_lead_to_is_untouched(self):
        self.install_and_list()
        with open(os.path.join(self.folder, "welcome.png"), "ab") as f:
            f.write(b"edited by the user")
        outside = tempfile.mkdtemp(prefix="outside ", dir=self.scratch)
        with open(os.path.join(outside, "victim.txt"), "w") as f:
            f.write("the user's")
        # A link to a folder, and a link in place of the viewer to a file
        # that is byte for byte the installed viewer.
        os.symlink(outside, os.path.join(self.folder, "my files"))
        viewer = os.path.join(self.folder, "ImgShell.exe")
        shutil.copy(viewer, os.path.join(outside, "viewer.exe"))
        os.remove(viewer)
        os.symlink(os.path.join(outside, "viewer.exe"), viewer)

        self.assertEqual(self.run_uninstaller(self.quiet_command()), 0)
        self.assertEqual(tree(self.folder), ["ImgShell.exe", "my files/", "welcome.png"])
        self.assertTrue(os.path.islink(viewer))
        self.assertTrue(os.path.islink(os.path.join(self.folder, "my files")))
        self.assertEqual(sorted(os.listdir(outside)), ["victim.txt", "viewer.exe"])
        with open(os.path.join(outside, "victim.txt")) as f:
            self.assertEqual(f.read(), "the user's")
        self.assertIsNone(self.uninstall_value("InstallLocation"))

    def test_folder_without_its_recorded_manifest_is_no_installation(self):
        self.install_and_list()
        with self.subTest("a manifest with one more line, naming a file of the user with its digest"):
            notes = os.path.join(self.folder, "notes.txt")
            with open(notes, "wb") as f:
                f.write(b"the user's notes")
            with open(os.path.join(self.folder, MANIFEST), "ab") as f:
                f.write(b"F\t16\t\t%s\tnotes.txt\n" % hashlib.md5(b"the user's notes").hexdigest().encode())
            before = tree(self.folder)
            self.assertEqual(self.run_uninstaller([self.exe_win, "/S"]), 3)
            self.assertEqual(tree(self.folder), before)
            os.remove(notes)
        os.remove(os.path.join(self.folder, MANIFEST))
        before = tree(self.folder)
        self.assertEqual(self.run_uninstaller([self.exe_win, "/S"]), 3)
        program = self.run_uninstaller([self.exe_win], wait=False)
        box = answer("ok")
        self.assertEqual(box["text"], NOT_INSTALLED + "\n" + self.folder_win)
        self.assertEqual(program.wait(60), 3)
        self.assertEqual(tree(self.folder), before)
        self.assertTrue(os.path.exists(self.shortcut()))
        self.assertEqual(self.uninstall_value("InstallLocation"), self.folder_win)
        self.assertEqual(glob.glob(os.path.join(self.temp, COPY_PREFIX + "*")), [])

    def test_running_viewer_goes_at_restart(self):
        self.install_and_list()
        viewer = q.Program(self.folder_win + "\\ImgShell.exe")
        self.started.append(viewer)
        q.wait_window("Quiview 看图.*", 60)

        self.assertEqual(self.run_uninstaller(self.quiet_command()), 0)
        # The running viewer left for a folder of its own below the Windows
        # folder's temporary folder (which no program of the user can
        # rename before the restart); its own folder went at once.
        self.assertFalse(os.path.exists(self.folder))
        self.assertTrue(viewer.running())
        self.assertFalse(os.path.exists(self.shortcut()))
        self.assertIsNone(self.uninstall_value("InstallLocation"))
        pending = q.run(["wine", "reg", "query", r"HKLM\System\CurrentControlSet\Control\Session Manager",
                         "/v", "PendingFileRenameOperations"], check=False).stdout.decode("utf-8", "replace")
        self.assertRegex(pending, r"(?i)\\windows\\temp\\Quiview-restart-[0-9a-f]{16}\\\d+-ImgShell\.exe")
        self.assertNotIn(self.folder_win, pending)

    def test_folder_the_user_cannot_write_restarts_elevated(self):
        self.install_and_list()
        before = tree(self.folder)
        # No entry can be made in or removed from the folder, by any process
        # (as for a folder below Program Files and a user without elevation;
        # here elevation cannot help either).
        subprocess.run(["chattr", "+i", self.folder], check=True)
        try:
            with self.subTest("the elevated restart asks, and its answer reaches the caller"):
                process, started = self.limited([self.exe_win])
                self.assertEqual(started.get("elevated"), "0", started)
                box = answer("no")
                self.assertEqual(box["text"], ASK_REMOVE)
                # Asked by the restarted process, not by the one started.
                # (Wine's "runas" starts it with the caller's token, so the
                # restart's elevation itself cannot be seen here.)
                self.assertNotEqual(box["pid"], started["pid"])
                self.assertEqual(process.wait(60), 1)

            with self.subTest("quiet: what cannot be removed stays and is reported"):
                process, started = self.limited([self.exe_win, "/S"])
                self.assertEqual(started.get("elevated"), "0", started)
                self.assertEqual(process.wait(120), 2)
                q.wait_for(lambda: not copies_running(), 120, 0.1, "the uninstaller's copy to end")
                self.assertEqual(tree(self.folder), before)
                self.assertTrue(os.path.exists(self.shortcut()))  # the viewer is still there
                self.assertEqual(self.uninstall_value("InstallLocation"), self.folder_win)
        finally:
            subprocess.run(["chattr", "-i", self.folder], check=False)

if __name__ == "__main__":
    t.main()
