#!/usr/bin/env python3
"""Our installer against two conventional installers of the same payload,
built with makensis (NSIS 3.08) and ISCC.exe (Inno Setup 6.4.1, under Wine)
from the scripts in bench/peers/, all run under the same Wine in one run:

- start-up: process start to a visible installer window (startup_bench.exe
  for all three, alternately), with the demo payload;
- a whole installation of the 208 MiB payload of install_bench.py: ours from
  process start until the finish page (start-up until the first page is
  painted, plus click to finish page; the harness's own wait before the click
  is not counted), the peers' silent runs (/S /D=..., /VERYSILENT
  /SUPPRESSMSGBOXES /DIR=...) from process start to exit;
- sizes: our bundle (Install.exe, DuiLib.dll, 7z.dll, payload.7z) against
  each peer's single program.

The peers' installers are built once and kept in build/bench-data/peers; a
change of the payload, of a script or of a compiler builds them again.
Every run is undone afterwards (files, desktop shortcut, uninstall entry).
Prints lines `name: value unit (reference value, ratio)`; the ratio lines
against the faster peer are the ones the goals speak of."""
import ctypes
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # nothing written into the source tree
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
sys.path.insert(0, os.path.join(ROOT, "bench"))
import qvdrive as q  # noqa: E402
import qvinstaller as t  # noqa: E402
import qvlayout  # noqa: E402

PEER_SCRIPTS = os.path.join(ROOT, "bench", "peers")
ISCC = os.path.join(ROOT, "node_modules", "innosetup", "bin", "ISCC.exe")
ISCC_PACKAGE = os.path.join(ROOT, "node_modules", "innosetup", "package.json")
UNINSTALL_ROOT = r"HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Uninstall"
BUNDLE = ("Install.exe", "DuiLib.dll", "7z.dll", "payload.7z")


class Peer:
    """One conventional installer: how it is built, found, run and undone."""

    def __init__(self, name, label, script, window_class, title, key, shortcut, silent):
        self.name = name              # short name in file and line names
        self.label = label            # how the lines call it
        self.script = script          # file in bench/peers
        self.window_class = window_class
        self.title = title            # exact title of its wizard window
        self.key = key                # uninstall entry under UNINSTALL_ROOT
        self.shortcut = shortcut      # file name on the desktop
        self.silent = silent          # folder -> arguments of a silent install

    def script_path(self):
        return os.path.join(PEER_SCRIPTS, self.script)


NSIS = Peer("nsis", "NSIS", "quiview.nsi", "#32770",
            # MUI2 gives each page the caption " ", which Windows appends to the
            # language's "$(^Name) 安装".
            "Quiview 安装 ",
            "QuiviewNsisPeer", "Quiview (NSIS).lnk",
            lambda folder: ["/S", "/D=" + folder])
INNO = Peer("inno", "Inno", "quiview.iss", "TWizardForm", "Setup - Quiview version 1.0.1",
            "QuiviewInnoPeer_is1", "Quiview (Inno Setup).lnk",
            lambda folder: ["/VERYSILENT", "/SUPPRESSMSGBOXES", "/DIR=" + folder])
PEERS = (NSIS, INNO)


def unavailable(peer):
    """Why `peer` cannot be set against this build, or None. A peer runs as
    a program of the build's own architecture: NSIS has 64-bit stubs
    (amd64-unicode); Inno Setup 6.4's compiler and installers are 32-bit."""
    if peer is INNO and q.arch() == "x64":
        return "Inno Setup 6.4's compiler and installers are 32-bit programs only"
    return None


def peers_here():
    """The peers measured with this build."""
    return tuple(p for p in PEERS if unavailable(p) is None)


# --- building the peers' installers ------------------------------------------

def file_digest(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def compiler_identity(peer):
    """What names the compiler's version: a new compiler builds anew."""
    if peer is NSIS:
        out = subprocess.run(["makensis", "-VERSION"], stdout=subprocess.PIPE, check=True).stdout
        return "makensis " + out.decode().strip()
    with open(ISCC_PACKAGE) as f:
        return "innosetup " + json.load(f)["version"]


def fingerprint(peer, payload_digest, compiler):
    """Digest of everything a peer's installer is made from (the build's
    architecture included)."""
    h = hashlib.sha256()
    with open(peer.script_path(), "rb") as f:
        script = f.read()
    for part in (peer.name.encode(), q.arch().encode(), compiler.encode(), script, payload_digest.encode()):
        h.update(len(part).to_bytes(8, "little"))
        h.update(part)
    return h.hexdigest()


def payload_files(stage):
    """{relative path with backslashes: size} of every file under `stage`."""
    files = {}
    for folder, _, names in os.walk(stage):
        for name in names:
            path = os.path.join(folder, name)
            rel = os.path.relpath(path, stage).replace(os.sep, "\\")
            files[rel] = os.path.getsize(path)
    return files


def nsis_uninstall_list(stage):
    """NSIS lines that remove exactly the payload's files, then its folders
    (deepest first, each only if empty): the user's own files in the chosen
    folder survive the uninstaller."""
    files = sorted(payload_files(stage))
    folders = set()
    for rel in files:
        parts = rel.split("\\")[:-1]
        for depth in range(1, len(parts) + 1):
            folders.add("\\".join(parts[:depth]))
    escape = lambda rel: rel.replace("$", "$$")  # noqa: E731  ($ starts an NSIS variable)
    lines = ['Delete "$INSTDIR\\%s"' % escape(rel) for rel in files]
    lines += ['RMDir "$INSTDIR\\%s"' % escape(d) for d in sorted(folders, key=lambda d: (-d.count("\\"), d))]
    return "\n".join(lines) + "\n"


def build_nsis(stage, out, work):
    listing = os.path.join(work, "uninstall-list.nsh")
    with open(listing, "w", encoding="utf-8-sig") as f:  # the BOM makes makensis read UTF-8
        f.write(nsis_uninstall_list(stage))
    # The installer's stubs and plugins are those of the build's architecture.
    target = ["-XTarget amd64-unicode"] if q.arch() == "x64" else []
    subprocess.run(["nice", "makensis", "-V2"] + target + ["-DPAYLOAD=" + stage, "-DUNINSTALL_LIST=" + listing,
                    "-DOUTFILE=" + out, NSIS.script_path()], check=True, stdout=subprocess.DEVNULL)


def build_inno(stage, out, work):
    folder, name = os.path.split(out)
    subprocess.run(["nice", "wine", ISCC, "/Q", "/DPayload=" + q.windows_path(stage), "/O" + q.windows_path(folder),
                    "/F" + os.path.splitext(name)[0], q.windows_path(INNO.script_path())],
                   env=q.wine_env(), check=True, stdout=subprocess.DEVNULL)


BUILDERS = {"nsis": build_nsis, "inno": build_inno}


class Installers:
    """The peers' installers of one payload archive, kept in `folder` as
    <peer>-<label>.exe with <peer>-<label>.key (the fingerprint they were
    built from) and payload-<label>.json (the payload's files and sizes)."""

    def __init__(self, folder, label, archive):
        self.folder, self.label, self.archive = folder, label, archive
        os.makedirs(folder, exist_ok=True)
        self._digest = None

    def exe(self, peer):
        return os.path.join(self.folder, "%s-%s.exe" % (peer.name, self.label))

    def _key(self, peer):
        return os.path.join(self.folder, "%s-%s.key" % (peer.name, self.label))

    def _listing(self):
        return os.path.join(self.folder, "payload-%s.json" % self.label)

    def payload_digest(self):
        if self._digest is None:
            self._digest = file_digest(self.archive)
        return self._digest

    def stale(self, peer, compiler=None):
        """Whether `peer`'s installer is missing or built from other inputs."""
        wanted = fingerprint(peer, self.payload_digest(), compiler or compiler_identity(peer))
        try:
            with open(self._key(peer)) as f:
                have = f.read().strip()
        except OSError:
            return True
        return have != wanted or not os.path.isfile(self.exe(peer)) or not os.path.isfile(self._listing())

    def files(self):
        with open(self._listing()) as f:
            return json.load(f)

    def ensure(self, peers=None, say=lambda text: None):
        """Builds what is stale (of `peers`, default: the peers measured with
        this build); returns the peers it built."""
        peers = peers_here() if peers is None else peers
        todo = [(p, compiler_identity(p)) for p in peers]
        todo = [(p, c) for p, c in todo if self.stale(p, c)]
        if not todo:
            return []
        work = tempfile.mkdtemp(prefix="build-", dir=self.folder)
        try:
            stage = os.path.join(work, "payload")
            subprocess.run(["7zz", "x", "-bd", "-bso0", "-bsp0", "-o" + stage, self.archive], check=True)
            with open(self._listing(), "w") as f:
                json.dump(payload_files(stage), f, indent=0, sort_keys=True)
            for peer, compiler in todo:
                say("building the %s installer of the %s payload" % (peer.label, self.label))
                for path in (self._key(peer), self.exe(peer)):
                    if os.path.exists(path):
                        os.remove(path)
                part = os.path.join(work, "%s-%s.exe" % (peer.name, self.label))
                BUILDERS[peer.name](stage, part, work)
                os.replace(part, self.exe(peer))
                with open(self._key(peer), "w") as f:  # written last: a half-built installer has no key
                    f.write(fingerprint(peer, self.payload_digest(), compiler) + "\n")
            return [p for p, _ in todo]
        finally:
            shutil.rmtree(work, ignore_errors=True)


# --- the machine's state ----------------------------------------------------

class Places:
    """Where the programs put things in the Wine prefix (from the probe program)."""

    def __init__(self):
        info = t.where()
        self.install = t.unix(info["install"])
        self.data = t.unix(info["data"])
        self.temp = t.unix(info["temp"])
        self.desktop = t.unix(info["desktop"])
        self.peer_parent_win = info["install"].rsplit("\\", 1)[0]

    def peer_folder_win(self, peer):
        # No spaces: NSIS takes /D= unquoted.
        return "%s\\QvBench%s" % (self.peer_parent_win, peer.label)

    def peer_folder(self, peer):
        return os.path.join(os.path.dirname(self.install), "QvBench" + peer.label)


def remove_keys(keys):
    """Deletes uninstall entries (missing ones are fine) with one regedit run."""
    text = "Windows Registry Editor Version 5.00\r\n\r\n"
    text += "".join("[-%s\\%s]\r\n\r\n" % (UNINSTALL_ROOT, key) for key in keys)
    handle, path = tempfile.mkstemp(suffix=".reg")
    try:
        with os.fdopen(handle, "w", encoding="utf-16") as f:  # with a BOM, as regedit expects
            f.write(text)
        q.run(["wine", "regedit", "/S", q.windows_path(path)])
    finally:
        os.remove(path)


def key_exists(key):
    return q.run(["wine", "reg", "query", UNINSTALL_ROOT + "\\" + key], check=False).returncode == 0


def remove_path(path):
    if os.path.isdir(path) and not os.path.islink(path):
        shutil.rmtree(path, ignore_errors=True)
    elif os.path.lexists(path):
        os.remove(path)


def remove_shortcut(places, name):
    """A desktop shortcut and the .desktop file Wine's menu builder makes beside it."""
    remove_path(os.path.join(places.desktop, name))
    remove_path(os.path.join(places.desktop, os.path.splitext(name)[0] + ".desktop"))


def clean_peer(places, peer):
    """Undoes a peer's installation: its folder, shortcut and uninstall entry."""
    remove_path(places.peer_folder(peer))
    remove_shortcut(places, peer.shortcut)
    remove_keys([peer.key])


def clean_ours(places):
    """Undoes one of our installations: the installed folder, the extracted
    payload, the settings file, the desktop shortcut and the uninstall entry."""
    remove_path(places.install)
    remove_path(os.path.join(places.temp, "Quiview"))
    remove_path(os.path.join(places.data, "config.dat"))
    try:
        os.rmdir(places.data)  # only if nothing else is in it
    except OSError:
        pass
    remove_shortcut(places, "Quiview.lnk")
    remove_keys([t.UNINSTALL_KEY.split("\\")[-1]])


def wait_for_menu_builder(timeout=10):
    """Waits while Wine's menu builder, which a new shortcut starts, still runs:
    it writes a .desktop file beside the shortcut after the installer ended."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        busy = False
        for pid in os.listdir("/proc"):
            if pid.isdigit():
                try:
                    with open("/proc/%s/cmdline" % pid, "rb") as f:
                        busy = busy or b"winemenubuilder" in f.read()
                except OSError:
                    pass
        if not busy:
            return
        time.sleep(0.1)


def check_installed(folder, files):
    """Raises unless every payload file is in `folder` with its size."""
    for rel, size in files.items():
        path = os.path.join(folder, *rel.split("\\"))
        if not os.path.isfile(path) or os.path.getsize(path) != size:
            raise RuntimeError("%s was not installed whole" % path)


# --- measuring ---------------------------------------------------------------

class ScreenProbe:
    """Reads single screen pixels of a window straight from the X server, so
    that a page change is seen within milliseconds without a screenshot."""

    def __init__(self):
        x11 = ctypes.CDLL("libX11.so.6")
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x11.XDefaultRootWindow.restype = ctypes.c_ulong
        x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        x11.XTranslateCoordinates.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_int,
                                              ctypes.c_int, ctypes.POINTER(ctypes.c_int),
                                              ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_ulong)]
        x11.XGetImage.restype = ctypes.POINTER(q._XImage)
        x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                  ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        x11.XDestroyImage.argtypes = [ctypes.POINTER(q._XImage)]
        x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        # A window that goes away or a point off the screen is an X error; the
        # default handler would end this process.
        handler_type = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)
        self._handler = handler_type(self._on_error)
        x11.XSetErrorHandler.argtypes = [handler_type]
        x11.XSetErrorHandler(self._handler)
        self.x11 = x11
        self.display = x11.XOpenDisplay(None)
        if not self.display:
            raise RuntimeError("cannot open the X display")
        self.root = x11.XDefaultRootWindow(self.display)
        self.failed = False

    def _on_error(self, display, event):
        self.failed = True
        return 0

    def pixel(self, window, x, y):
        """(r, g, b) at window point (x, y), or None."""
        self.failed = False
        rx, ry, child = ctypes.c_int(), ctypes.c_int(), ctypes.c_ulong()
        if not self.x11.XTranslateCoordinates(self.display, window, self.root, x, y, ctypes.byref(rx),
                                              ctypes.byref(ry), ctypes.byref(child)):
            return None
        image = self.x11.XGetImage(self.display, self.root, rx.value, ry.value, 1, 1, 0xFFFFFFFF, 2)
        self.x11.XSync(self.display, 0)
        if not image or self.failed:
            return None
        try:
            img = image.contents
            if img.bits_per_pixel != 32:
                raise RuntimeError("a %d-bit screen is not supported" % img.bits_per_pixel)
            b, g, r = img.data[0], img.data[1], img.data[2]
            return r, g, b
        finally:
            self.x11.XDestroyImage(image)

    def wait_for(self, window, x, y, colour, timeout, alive=lambda: True):
        """Monotonic time at which window point (x, y) first shows `colour`."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            seen = self.pixel(window, x, y)
            if seen is not None and q.close_enough(seen, colour):
                return time.monotonic()
            if not alive():
                raise RuntimeError("the installer ended before its page showed")
            time.sleep(0.004)
        raise TimeoutError("window point %d,%d never showed %s" % (x, y, colour))

    def close(self):
        self.x11.XCloseDisplay(self.display)


class Ours:
    """Whole installations with our bundle, through its window."""

    # (skin picture, its point, the window point showing it): an orange point
    # of the first page's banner, and the finish page's orange button, which
    # is white on every other page.
    FIRST_PAGE = ("begin.png", 199, 71, 199, 71)
    FINISH_PAGE = ("expe.png", 83, 26, qvlayout.rect("btn_expe").x + 83, qvlayout.rect("btn_expe").y + 26)

    def __init__(self, places, bundle, files):
        self.places, self.bundle = places, bundle
        # The helper library installs the rest and stays in the extraction
        # folder, as does the digest list it checks the files against.
        self.files = {rel: size for rel, size in files.items()
                      if rel not in ("ImgKit.dll", "checksums.md5")}
        self.first = t.skin_pixel(*self.FIRST_PAGE[:3])
        self.finish = t.skin_pixel(*self.FINISH_PAGE[:3])
        self.probe = ScreenProbe()

    def install(self):
        """(start-up seconds, click-to-finish seconds) of one installation."""
        clean_ours(self.places)
        os.sync()
        start = time.monotonic()
        program = q.Program(os.path.join(self.bundle, "Install.exe"), cwd=self.bundle)
        try:
            window = None
            while window is None:
                if not program.running():
                    raise RuntimeError("Install.exe ended before its window showed")
                if time.monotonic() - start > 90:
                    raise TimeoutError("no installer window")
                window = (q.find_windows(t.TITLE) or [None])[0]
            painted = self.probe.wait_for(window, *self.FIRST_PAGE[3:], self.first, 60, program.running)
            q.wait_settled(window)  # input reaches a window only at its final place
            if q.close_enough(self.probe.pixel(window, *self.FINISH_PAGE[3:]) or (0, 0, 0), self.finish):
                raise RuntimeError("the first page already shows the finish page's mark")
            clicked = time.monotonic()
            q.click(window, *qvlayout.rect("btn_inst").centre())
            finished = self.probe.wait_for(window, *self.FINISH_PAGE[3:], self.finish, 600, program.running)
            check_installed(self.places.install, self.files)
            return painted - start, finished - clicked
        finally:
            program.close()
            clean_ours(self.places)

    def close(self):
        self.probe.close()


def install_peer(places, peer, exe, files):
    """Seconds from start to exit of one silent installation by `peer`."""
    clean_peer(places, peer)
    os.sync()
    start = time.monotonic()
    code = subprocess.run(["wine", exe] + peer.silent(places.peer_folder_win(peer)), env=q.wine_env(),
                          stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode
    seconds = time.monotonic() - start
    try:
        if code != 0:
            raise RuntimeError("%s installer exit code %d" % (peer.label, code))
        check_installed(places.peer_folder(peer), files)
        if not os.path.isfile(os.path.join(places.desktop, peer.shortcut)):
            raise RuntimeError("%s installer made no desktop shortcut" % peer.label)
        return seconds
    finally:
        clean_peer(places, peer)


def startup_ms(exe, window_class, *options):
    """Visible-window milliseconds of one start by startup_bench.exe."""
    out = q.run(["wine", os.path.join(q.BUILD, "bench", "startup_bench.exe"), q.windows_path(exe), window_class, "1"]
                + list(options)).stdout.decode().split()
    return float(out[0])


def median(values):
    values = sorted(values)
    return values[len(values) // 2]


def rotated(items, by):
    """`items` starting at position `by`: alternating runs share the machine's load."""
    by %= len(items)
    return list(items[by:]) + list(items[:by])


def comparison_lines(name, unit, fmt, ours, peers):
    """Lines of ours against each peer, then against the faster peer.
    `peers` maps label -> value; smaller is better."""
    lines = []
    for label, value in peers.items():
        lines.append("%s_vs_%s: %s %s (%s %s, %.2f)" % (name, label.lower(), fmt % ours, unit, fmt % value, unit,
                                                         ours / value))
    label, value = min(peers.items(), key=lambda item: item[1])
    lines.append("%s_vs_faster_peer: %s %s (%s %s %s, %.2f)" % (name, fmt % ours, unit, fmt % value, unit, label,
                                                                 ours / value))
    return lines


def size_lines(name, ours, peers):
    mib = 1024.0 * 1024.0
    return ["%s_vs_%s: %.2f MiB (%.2f MiB, %.2f)" % (name, label.lower(), ours / mib, value / mib, ours / value)
            for label, value in peers.items()]


def bundle_size(folder, payload):
    return sum(os.path.getsize(os.path.join(folder, n)) for n in BUNDLE[:-1]) + os.path.getsize(payload)


def make_bundle(folder, payload):
    """Our shipped folder with `payload` as payload.7z (linked, not copied), sealed."""
    remove_path(folder)
    os.makedirs(folder)
    for name in BUNDLE[:-1]:
        shutil.copy(os.path.join(q.BUILD, "dist", name), folder)
    try:
        os.link(payload, os.path.join(folder, "payload.7z"))
    except OSError:
        shutil.copy(payload, os.path.join(folder, "payload.7z"))
    return t.seal(folder)


def say(text):
    print("peers: " + text, file=sys.stderr, flush=True)


def main():
    import install_bench  # the 208 MiB payload, made once

    data = os.path.join(q.BUILD, "bench-data")
    folder = os.path.join(data, "peers")
    os.makedirs(folder, exist_ok=True)
    startup_runs = int(os.environ.get("QV_PEER_STARTUP_RUNS", "11"))
    install_runs = int(os.environ.get("QV_PEER_INSTALL_RUNS", "5"))
    dist = os.path.join(q.BUILD, "dist")
    demo = Installers(folder, "demo", os.path.join(dist, "payload.7z"))
    big = Installers(folder, "200MiB", install_bench.big_payload("blocks"))
    for installers in (demo, big):
        installers.ensure(say=say)
    peers = peers_here()
    places = Places()
    for peer in peers:
        clean_peer(places, peer)
    clean_ours(places)
    lines = []

    # Start-up, with the demo payload: ours from build/dist as startup.sh runs it.
    ours_exe = os.path.join(dist, "Install.exe")
    starts = {"ours": lambda: startup_ms(ours_exe, "UIMainFrame", "--quit-message", "1026")}
    for peer in peers:
        starts[peer.label] = (lambda p: lambda: startup_ms(demo.exe(p), p.window_class, "--title", p.title))(peer)
    say("start-up, %d runs each" % startup_runs)
    for start in starts.values():
        start()  # warms the caches
    measured = {name: [] for name in starts}
    for i in range(startup_runs):
        for name in rotated(list(starts), i):
            measured[name].append(starts[name]())
    clean_ours(places)
    lines += comparison_lines("startup_visible", "ms", "%.1f", median(measured["ours"]),
                              {p.label: median(measured[p.label]) for p in peers})

    # Whole installations of the 208 MiB payload.
    say("whole installations of the 200 MiB payload, %d runs each" % install_runs)
    bundle = make_bundle(os.path.join(folder, "bundle-200MiB"), big.archive)
    files = big.files()
    ours = Ours(places, bundle, files)
    runs = {"ours": []}
    runs.update({p.label: [] for p in peers})
    try:
        for i in range(install_runs):
            for name in rotated(list(runs), i):
                if name == "ours":
                    runs[name].append(ours.install())
                else:
                    peer = next(p for p in peers if p.label == name)
                    runs[name].append(install_peer(places, peer, big.exe(peer), files))
    finally:
        ours.close()
        remove_path(bundle)
    totals = [s + c for s, c in runs["ours"]]
    whole = median(totals)
    pick = min(runs["ours"], key=lambda r: abs(r[0] + r[1] - whole))
    lines += comparison_lines("install_200MiB", "s", "%.2f", whole,
                              {p.label: median(runs[p.label]) for p in peers})
    lines.append("install_200MiB_ours_split: start-up %.2f s, click to finish %.2f s (-, -)" % pick)
    spread = lambda values: "%.2f-%.2f s" % (min(values), max(values))  # noqa: E731
    lines.append("install_200MiB_runs: ours %s, %s" % (spread(totals), ", ".join(
        "%s %s" % (p.label, spread(runs[p.label])) for p in peers)))

    # Sizes.
    lines += size_lines("size_demo", bundle_size(dist, demo.archive),
                        {p.label: os.path.getsize(demo.exe(p)) for p in peers})
    lines += size_lines("size_200MiB", bundle_size(dist, big.archive),
                        {p.label: os.path.getsize(big.exe(p)) for p in peers})
    # What a menu builder still wrote after the last clean-up goes too.
    wait_for_menu_builder()
    for peer in peers:
        remove_shortcut(places, peer.shortcut)
    remove_shortcut(places, "Quiview.lnk")
    lines += ["not measured: %s (%s)" % (p.label, unavailable(p)) for p in PEERS if p not in peers]
    print("\n".join(lines))


if __name__ == "__main__":
    main()
