"""The installer under test, for every window test: where the shipped bundle,
the tools and the skin are, where the installer puts things on this machine
(asked of the probe program), the registry and the settings file, one run of
Install.exe driven through its window (controls found by their names in the
skin's layout), and the unittest fixture the window tests build on."""
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import qvdrive as q
import qvlayout

DIST = os.path.join(q.BUILD, "dist")
TOOLS = q.TOOLS
CONFIGDUMP = os.path.join(q.BUILD, "tools", "configdump", "configdump.exe")
SEAL_TOOL = os.path.join(q.ROOT, "tools", "seal-bundle")
SKIN = os.path.join(q.ROOT, "res", "skin")
SHOTS = os.path.join(q.BUILD, "e2e")
BUNDLE_FILES = ("Install.exe", "DuiLib.dll", "7z.dll", "payload.7z")
TITLE = "Quiview安装"
VIEWER_TITLE = "Quiview 看图 1.0.1 · 渠道 30100"
UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quiview"
PRIVATE_FOLDERS = "Quiview-1.0.1-*"


def skin(name):
    return os.path.join(SKIN, name)


def skin_pixel(picture, x, y):
    return q.pixel(skin(picture), x, y)


# --- where things are ---------------------------------------------------------

_FIXED = {}


def where():
    """Where the installer puts things on this machine now: data, install
    (the proposed installation folder, which follows the last installation),
    temp, desktop as Windows paths, and the machine's uid."""
    code, values = q.probe()
    if code != 0:
        raise RuntimeError("the probe program failed with %d" % code)
    if not _FIXED:
        _FIXED.update((name, value) for name, value in values.items() if name != "install")
    return values


def fixed_places():
    """where() as far as it stays the same for a whole run (all but
    "install"); asked once."""
    if not _FIXED:
        where()
    return dict(_FIXED)


def unix(win_path):
    """The Linux path of a Windows path of the prefix (any drive letter)."""
    drive, rest = win_path[0].lower(), win_path[2:].replace("\\", "/")
    return os.path.join(q.wine_env()["WINEPREFIX"], "dosdevices", drive + ":") + rest


def private_folders():
    """The installers' private folders in the user's temporary folder."""
    return sorted(glob.glob(os.path.join(unix(fixed_places()["temp"]), PRIVATE_FOLDERS)))


# --- registry and settings -----------------------------------------------------

def reg(*args):
    """reg.exe as the shipped 32-bit installer sees the registry, which a
    64-bit build reads too. Wine keeps HKCR apart in the two views where
    Windows shares the keys the tests use (http, program ids), so a 64-bit
    build's changes go to both views (the 64-bit shell reads the other),
    and reads come from the 32-bit one."""
    if q.arch() != "x64":
        return q.run(["wine", "reg"] + list(args), check=False)
    if args and args[0].lower() in ("add", "delete"):
        q.run(["wine", "reg"] + list(args) + ["/reg:64"], check=False)
    return q.run(["wine", "reg"] + list(args) + ["/reg:32"], check=False)


def reg_value(key, name=None):
    """A registry value's text (the key's default value for None), or None when it is missing."""
    out = reg("query", key, *(["/v", name] if name else ["/ve"]))
    if out.returncode != 0:
        return None
    for line in out.stdout.decode("utf-8", "replace").splitlines():
        parts = line.strip().split(None, 2)
        if len(parts) >= 2 and parts[1].startswith("REG_"):
            return parts[2].strip() if len(parts) == 3 else ""
    return None


def reg_set(key, name, value, kind="REG_SZ"):
    """Sets a value (the default value for name None); removes it for value None."""
    which = ["/v", name] if name else ["/ve"]
    if value is None:
        return reg("delete", key, *which, "/f").returncode == 0
    return reg("add", key, *which, "/t", kind, "/d", value, "/f").returncode == 0


def settings_rows(path=None):
    """The rows of a settings file (config.dat of the data folder unless
    given) in the order they were first written."""
    path = path or os.path.join(unix(fixed_places()["data"]), "config.dat")
    out = q.run(["wine", CONFIGDUMP, q.windows_path(path)], check=False)
    return [tuple(line.split("\t", 1)) for line in out.stdout.decode("utf-8", "replace").splitlines()
            if "\t" in line]


def settings(path=None):
    return dict(settings_rows(path))


# --- bundles ------------------------------------------------------------------

def seal(folder):
    """Seals the bundle in `folder` for the files it holds now (a missing one
    stays unsealed), as the build seals the shipped one."""
    subprocess.run([sys.executable, SEAL_TOOL, folder], check=True, stderr=subprocess.DEVNULL)
    return folder


def make_bundle(folder, without=(), payload=None, exe_name="Install.exe"):
    """A sealed copy of the shipped folder in `folder` (made anew), without
    the files named in `without`, with another payload archive if given, and
    the installer under another file name if given; returns the folder."""
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for name in BUNDLE_FILES:
        if name not in without:
            shutil.copy(os.path.join(DIST, name), os.path.join(folder, exe_name if name == "Install.exe" else name))
    if payload is not None:
        shutil.copy(payload, os.path.join(folder, "payload.7z"))
    return seal(folder)


# --- one run of the installer ---------------------------------------------------

class Installer:
    """One run of the installer from a bundle folder (started there, as a
    user's double click starts it), with `env` added to its environment
    (the stand-in helper of the app tests reads its steering there).
    Ready once its first page is painted (in the drawing of the display's
    scale)."""

    def __init__(self, bundle=DIST, exe="Install.exe", env=None, shots=None, timeout=90):
        self.shots = shots or SHOTS
        self._folder = None
        self.bundle_folder = bundle
        self.program = q.Program(os.path.join(bundle, exe), cwd=bundle, env=env)
        try:
            self.window = q.wait_window(TITLE, timeout=timeout)
            width = q.wait_settled(self.window)[2]
            scale2 = round(2 * width / qvlayout.window_size()[0])
            first = "begin%s.png" % {2: "", 3: "@1.5x", 4: "@2x"}.get(scale2, "")
            x, y = 300 * scale2 // 2, 60 * scale2 // 2
            q.wait_for(lambda: self.looks_like(first, x, y), 60, 0.2, "the first page")
        except BaseException:
            self.program.close()
            raise

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    # --- input ---
    def click(self, name):
        """A real click in the middle of the named control."""
        q.click(self.window, *qvlayout.rect(name).centre())

    def type_folder(self, text):
        """Types `text` over the folder box's text and waits until the box holds it."""
        self.click("edit_dir")
        q.key("ctrl+a")
        q.type_text(text)
        q.wait_for(lambda: self.folder_text() == text, 20, 0.2, "the typed folder")

    def focus(self):
        q.focus(self.window)

    # --- what the window shows ---
    def geometry(self):
        return q.geometry(self.window)

    def shot(self, name):
        """A screenshot of the window (the pointer moved away first, so that
        no control shows its hover state) in the shots folder; its path."""
        q.pointer_away()
        return q.screenshot(os.path.join(self.shots, name + ".png"), self.window)

    def picture(self, name="last"):
        return q.Picture(self.shot(name))

    def looks_like(self, picture, x, y, wx=None, wy=None):
        """Whether the window shows `picture`'s pixel (x, y) at window point (wx, wy)."""
        wx = x if wx is None else wx
        wy = y if wy is None else wy
        # A private file: the folder of screenshots holds only the named ones.
        handle, path = tempfile.mkstemp(suffix=".png", prefix="qvprobe-")
        os.close(handle)
        try:
            q.screenshot(path, self.window)
            return q.close_enough(q.pixel(path, wx, wy), skin_pixel(picture, x, y))
        except subprocess.CalledProcessError:
            return False
        finally:
            os.remove(path)

    def shows(self, name, picture, x, y):
        """Whether the named control shows `picture`'s pixel (x, y) at its own point (x, y)."""
        r = qvlayout.rect(name)
        return self.looks_like(picture, x, y, r.x + x, r.y + y)

    def wait_finished(self, timeout=120):
        try:
            q.wait_for(lambda: self.shows("btn_expe", "expe.png", 83, 26), timeout, 0.3, "finish page")
        except TimeoutError:
            q.screenshot(os.path.join(self.shots, "timeout-screen.png"))  # the whole screen, for the report
            raise

    # --- read and steered from outside, through the probe ---
    def folder_text(self):
        return q.probe("folder")[1].get("folder")

    @property
    def folder(self):
        """The folder the installer proposed when it started."""
        if self._folder is None:
            self._folder = q.wait_for(self.folder_text, 30, 0.2, "the proposed folder")
        return self._folder

    def state(self):
        """The window's visible, iconic, zoomed and foreground flags, the number
        of threads of its process (ints) and rect."""
        code, values = q.probe("window")
        if code != 0:
            return None
        state = {name: int(values[name]) for name in ("visible", "iconic", "zoomed", "foreground", "threads")}
        state["rect"] = tuple(int(v) for v in values["rect"].split(","))
        return state

    def post_progress(self, *values):
        return q.probe("progress", *values)[0] == 0

    def post_quit(self):
        return q.probe("quit")[0] == 0

    def post_close(self):
        return q.probe("close")[0] == 0

    # --- the process ---
    def running(self):
        return self.program.running()

    def exit_code(self, timeout=60):
        return self.program.wait(timeout)

    def close(self):
        self.program.close()


def message_box(caption, installers=True):
    """The text of the message box with this caption, answered with a real
    click on OK. The installer's own boxes have no owner window and no icon
    (`installers` False for a box of the helper library's)."""
    box = q.dialog(caption)
    q.answer(box, "ok")
    if installers and (box.get("owner"), box.get("icon")) != ("0", "0"):
        raise AssertionError("message box %r has an owner window or an icon: %r" % (box["text"], box))
    return box["text"]


# --- the fixture -----------------------------------------------------------------

class InstallerFixture(unittest.TestCase):
    """What every installer window test needs: where things are, a clean user
    state before and after each case (no settings file, shortcut,
    installation, uninstall entry, private folder or running viewer), a
    scratch folder, bundles and payloads, and whole installations."""

    @classmethod
    def setUpClass(cls):
        os.makedirs(SHOTS, exist_ok=True)
        info = where()
        cls.uid = info["uid"]
        cls.data = unix(info["data"])
        cls.default_install = info["install"]
        cls.temp = unix(info["temp"])
        cls.desktop = unix(info["desktop"])
        cls.clean_user_files()
        cls.clean_registry()

    def setUp(self):
        self.scratch = tempfile.mkdtemp(prefix="qve2e-")
        self.clean_user_files()
        # Registered first, so it runs last: after the programs a case
        # started (closed by cleanups of their own) have ended.
        self.addCleanup(self._tidy)

    def _tidy(self):
        if q.processes_of_this_prefix("ImgShell.exe"):
            subprocess.run(["wine", "taskkill", "/f", "/im", "ImgShell.exe"], env=q.wine_env(),
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.clean_user_files()
        self.clean_registry()
        shutil.rmtree(self.scratch, ignore_errors=True)

    @classmethod
    def clean_user_files(cls):
        for path in (os.path.join(cls.data, "config.dat"), os.path.join(cls.desktop, "Quiview.lnk")):
            if os.path.exists(path):
                os.remove(path)
        for folder in private_folders():
            shutil.rmtree(folder, ignore_errors=True)
        shutil.rmtree(unix(cls.default_install), ignore_errors=True)

    @classmethod
    def clean_registry(cls):
        # Once before the first case and after every case: a Wine process
        # each time, so not again before every case.
        reg("delete", UNINSTALL_KEY, "/f")

    # --- helpers -----------------------------------------------------------
    def private_folders(self):
        return private_folders()

    def bundle(self, without=(), payload=None, exe_name="Install.exe"):
        """A copy of the shipped folder in a folder of its own below the
        scratch folder (a name with a space and non-ASCII letters, as a
        download folder may have); see make_bundle."""
        folder = tempfile.mkdtemp(prefix="下载 bundle ", dir=self.scratch)
        return make_bundle(folder, without, payload, exe_name)

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
        return settings(os.path.join(self.data, "config.dat"))

    def uninstall_value(self, name):
        return reg_value(UNINSTALL_KEY, name)

    def assert_installed_in(self, win_folder):
        folder = unix(win_folder)
        for name in ("ImgShell.exe", "DuiLib.dll", "7z.dll", "welcome.png"):
            self.assertTrue(os.path.isfile(os.path.join(folder, name)), name + " in " + folder)
        self.assertFalse(os.path.exists(os.path.join(folder, "ImgKit.dll")))

    def install(self, bundle=None, folder=None, start_viewer=False):
        """A whole installation through the window from `bundle` (a fresh copy
        of the shipped folder unless given): into the proposed folder, or into
        `folder` typed in the custom view; finished with 查看帮助 (or with
        立即体验 and the viewer's window seen), which ends the installer with
        exit code 0."""
        with Installer(bundle or self.bundle()) as app:
            if folder:
                app.click("btn_custom")
                app.type_folder(folder)
                app.click("btn_insts")
            else:
                app.click("btn_inst")
            app.wait_finished()
            app.click("btn_expe" if start_viewer else "btn_use")
            self.assertEqual(app.exit_code(), 0)
        if start_viewer:
            q.wait_window(VIEWER_TITLE, 60)

    def failed_install(self, bundle, text=None, installers=True):
        """An installation that fails: the progress page, then the message box
        with `text` (any text for None; `installers` False: the helper
        library's box), answered, and exit code 0."""
        with Installer(bundle) as app:
            app.click("btn_inst")
            q.wait_for(lambda: app.looks_like("ing1.png", 300, 60) or app.looks_like("ing2.png", 300, 60),
                       60, 0.2, "progress page")
            shown = message_box("Quiview", installers)
            if text is not None:
                self.assertEqual(shown, text)
            self.assertEqual(app.exit_code(), 0)


def main():
    """Runs the test cases of the calling script (the classes or tests named
    on its command line, else all) and exits with 1 when any failed."""
    if not os.environ.get("DISPLAY"):
        print("%s: no DISPLAY" % os.path.basename(sys.argv[0]))
        sys.exit(1)
    result = unittest.main(verbosity=2, exit=False).result
    failed = len(result.failures) + len(result.errors)
    print("%d passed, %d failed" % (result.testsRun - failed, failed))
    sys.exit(1 if failed or not result.testsRun else 0)
