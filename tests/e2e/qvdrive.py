"""The one driver of every window test: drives Windows programs running
under Wine on an X display. Starts them, finds their windows, clicks and
types with real X input (xdotool), takes screenshots (ImageMagick), reads
pixels and pictures, and reads and answers dialog boxes through the probe
program (qvprobe.exe). Used by the installer tests, the end-to-end tests,
the UI library's window test, the benchmarks and the demo."""
import ctypes
import os
import subprocess
import sys
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.environ.get("QV_BUILD", os.path.join(ROOT, "build"))
TOOLS = os.environ.get("QV_E2E_TOOLS", os.path.join(BUILD, "tests", "e2e"))
PROBE = os.path.join(TOOLS, "qvprobe.exe")


_WINE_VARS = None


def wine_env():
    """The process environment with the project's Wine for this build: the
    variables are those scripts/wine-env (the one place that picks the Wine
    of the build's architecture and its prefix) sets for QV_BUILD."""
    global _WINE_VARS
    if _WINE_VARS is None:
        base = dict(os.environ, QV_BUILD=BUILD)
        base.pop("QV_ARCH", None)
        out = subprocess.run(["bash", "-c", '. "$1/scripts/wine-env" && env -0', "wine-env", ROOT],
                             env=base, stdout=subprocess.PIPE, check=True).stdout.decode()
        after = dict(item.split("=", 1) for item in out.split("\0") if "=" in item)
        _WINE_VARS = {k: v for k, v in after.items() if base.get(k) != v}
        _WINE_VARS["QV_BUILD"] = BUILD
        if "WINELOADER" not in after:
            _WINE_VARS["WINELOADER"] = None
    env = dict(os.environ)
    for name, value in _WINE_VARS.items():
        if value is None:
            env.pop(name, None)
        else:
            env[name] = value
    return env


def arch():
    """The build's architecture: "x86" or "x64"."""
    return wine_env()["QV_ARCH"]


def wait_for(condition, timeout=60.0, interval=0.05, what="condition"):
    """Polls `condition` until it returns something truthy; raises on timeout."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise TimeoutError("timed out waiting for " + what)
        time.sleep(interval)


def run(args, check=True, **kw):
    return subprocess.run(args, check=check, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=wine_env(), **kw)


_last_probe = {}


def probe(*args):
    """Runs the probe program: (exit code, {name: value} of its output lines).
    The probe's own codes are 0, 1 and 2; a run of a command that only reads
    or waits and that ended otherwise (the process did not start or did not
    finish) is reported on stderr and run once more."""
    repeatable = not args or args[0] in ("msgbox", "gone", "window", "folder")
    for attempt in (1, 2):
        out = run(["wine", PROBE] + [str(a) for a in args], check=False)
        _last_probe.update(args=args, code=out.returncode, stderr=out.stderr.decode("utf-8", "replace")[-2000:])
        if out.returncode in (0, 1, 2) or attempt == 2 or not repeatable:
            break
        print("qvdrive: " + probe_failure() + "; running it again", file=sys.stderr, flush=True)
    text = out.stdout.decode("utf-8", "replace")
    return out.returncode, dict(line.split("=", 1) for line in text.splitlines() if "=" in line)


def probe_failure():
    """What the last probe run said, for an error message."""
    return "probe %s: exit code %#x, stderr %r" % (list(_last_probe.get("args", ())),
                                                   _last_probe.get("code", 0) & 0xFFFFFFFF,
                                                   _last_probe.get("stderr", ""))


def windows_path(path):
    """The Wine path of a Linux path (through drive Z:)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def unix_path(win_path):
    out = run(["winepath", "-u", win_path]).stdout.decode().strip()
    return out


class Program:
    """A Windows program started under Wine (with `env` added to its
    environment); ended (if still running) on close()."""

    def __init__(self, exe, args=(), cwd=None, env=None):
        environment = wine_env()
        environment.update(env or {})
        self.proc = subprocess.Popen(["wine", exe] + list(args), cwd=cwd, env=environment,
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)

    def wait(self, timeout=60):
        return self.proc.wait(timeout=timeout)

    def running(self):
        return self.proc.poll() is None

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def processes_of_this_prefix(part):
    """Host ids of the Wine processes of this test's prefix whose command line holds `part`."""
    prefix = ("WINEPREFIX=" + wine_env()["WINEPREFIX"]).encode()
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                if part.encode() not in f.read():
                    continue
            with open("/proc/%s/environ" % pid, "rb") as f:
                if prefix in f.read().split(b"\0"):
                    found.append(int(pid))
        except OSError:
            pass
    return found


def find_windows(name):
    """X window ids whose title is exactly `name` and that are mapped."""
    out = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^%s$" % name],
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout.decode()
    return [int(w) for w in out.split()]


def wait_window(name, timeout=60):
    return wait_for(lambda: (find_windows(name) or [None])[0], timeout, what="window " + name)


def geometry(window):
    out = subprocess.run(["xdotool", "getwindowgeometry", "--shell", str(window)],
                         stdout=subprocess.PIPE, check=True).stdout.decode()
    values = dict(line.split("=", 1) for line in out.split() if "=" in line)
    return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


def wait_settled(window, timeout=30):
    """Waits until the window's geometry stops changing (mapped at its final place)."""
    last = [None]

    def settled():
        try:
            g = geometry(window)
        except subprocess.CalledProcessError:
            return False
        same = g == last[0]
        last[0] = g
        return same

    wait_for(settled, timeout, interval=0.2, what="window to settle")
    return last[0]


def click(window, x, y, button=1, repeat=1):
    """A real X click (or `repeat` clicks, 80 ms apart) at window-relative (x, y)."""
    subprocess.run(["xdotool", "mousemove", "--window", str(window), str(x), str(y),
                    "click", "--repeat", str(repeat), "--delay", "80", str(button)], check=True)


def click_screen(x, y):
    """A real X click at a screen point (a dialog box's button)."""
    subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", "1"], check=True)


def press(window, x, y):
    """Presses the button down at window-relative (x, y) and keeps it down."""
    subprocess.run(["xdotool", "mousemove", "--window", str(window), str(x), str(y), "mousedown", "1"], check=True)


def release(window, x, y):
    """Moves the pressed pointer to window-relative (x, y) and releases it there."""
    subprocess.run(["xdotool", "mousemove", "--window", str(window), str(x), str(y), "mouseup", "1"], check=True)


def drag(window, x1, y1, x2, y2, steps=1):
    """Presses at window-relative (x1, y1), moves to (x2, y2) and releases.
    With several steps the pointer moves by equal relative amounts, so that
    a window that moves along under the pointer does not shift the target."""
    if steps == 1:
        subprocess.run(["xdotool", "mousemove", "--window", str(window), str(x1), str(y1),
                        "mousedown", "1", "mousemove", "--window", str(window), str(x2), str(y2),
                        "mouseup", "1"], check=True)
        return
    press(window, x1, y1)
    for _ in range(steps):
        subprocess.run(["xdotool", "mousemove_relative", "--", str((x2 - x1) // steps), str((y2 - y1) // steps)],
                       check=True)
    subprocess.run(["xdotool", "mouseup", "1"], check=True)


def pointer_away():
    """The pointer to the screen's corner, so that no control shows its hover state."""
    subprocess.run(["xdotool", "mousemove", "0", "0"], check=True)


def focus(window):
    """Keyboard focus on a window (there is no window manager to activate it)."""
    subprocess.run(["xdotool", "windowfocus", "--sync", str(window)], check=True)


def type_text(text):
    subprocess.run(["xdotool", "type", "--delay", "20", text], check=True)


def key(*keys):
    subprocess.run(["xdotool", "key"] + list(keys), check=True)


# --- dialog boxes ------------------------------------------------------------

def _point(text):
    x, y = text.split(",")
    return int(x), int(y)


def dialog(caption=None, skip=None, focus=None, timeout=30):
    """Waits for a visible dialog box (a message box or the folder dialog),
    with that caption if given, other than the box `skip` (its "hwnd"), and
    with the keyboard focus in a control of class `focus` if given. Returns
    {caption, text, focus, owner, icon, hwnd, pid, elevated} and the screen centres of the
    buttons it shows (ok, cancel, yes, no) as (x, y)."""
    args = ["msgbox", "--timeout", int(timeout * 1000)]
    for option, value in (("--caption", caption), ("--skip", skip), ("--focus", focus)):
        if value:
            args += [option, value]
    code, values = probe(*args)
    if code == 2:
        raise TimeoutError("timed out waiting for a dialog box%s" % (" " + caption if caption else ""))
    if code != 0:
        raise RuntimeError("the probe failed while waiting for a dialog box: " + probe_failure())
    values["text"] = values.get("text", "").replace("\\n", "\n")
    for button in ("ok", "cancel", "yes", "no"):
        if button in values:
            values[button] = _point(values[button])
    return values


def wait_dialog_gone(box, timeout=20):
    """Waits until the dialog box `box` (from dialog()) is no longer shown."""
    code = probe("gone", box["hwnd"], "--timeout", int(timeout * 1000))[0]
    if code == 2:
        raise TimeoutError("timed out waiting for the dialog box %r to close" % box.get("caption"))
    if code != 0:
        raise RuntimeError("the probe failed while waiting for a dialog box to close: " + probe_failure())


def answer(box, button="ok"):
    """Clicks one of the box's buttons for real and waits until the box is gone."""
    if button not in box:
        raise AssertionError("no %s button on the dialog box: %r" % (button, box))
    click_screen(*box[button])
    wait_dialog_gone(box)


def screenshot(path, window=None):
    """Screenshot of the whole screen, or of one window's rectangle."""
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    args = ["import", "-window", "root"]
    if window is not None:
        x, y, w, h = geometry(window)
        args += ["-crop", "%dx%d+%d+%d" % (w, h, x, y), "+repage"]
    subprocess.run(args + [path], check=True)
    return path


def pixel(path, x, y):
    """(r, g, b) of one pixel of a picture file."""
    out = subprocess.run(["convert", path, "-crop", "1x1+%d+%d" % (x, y), "-depth", "8", "txt:-"],
                         stdout=subprocess.PIPE, check=True).stdout.decode()
    line = out.splitlines()[1]
    rgb = line.split("(")[1].split(")")[0].split(",")[:3]
    return tuple(int(float(v)) for v in rgb)


def close_enough(a, b, tolerance=24):
    """Whether two (r, g, b) colours differ by at most `tolerance` in every channel."""
    return all(abs(x - y) <= tolerance for x, y in zip(a, b))


def distance(a, b):
    """Mean absolute difference of two lists of (r, g, b) pixels."""
    return sum(abs(p - q) for pa, pb in zip(a, b) for p, q in zip(pa, pb)) / (3.0 * len(a))


class Picture:
    """RGB pixels of a picture file, or of a composite that ImageMagick's
    convert makes from `args`."""

    def __init__(self, args):
        args = [args] if isinstance(args, str) else list(args)
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


class _XImage(ctypes.Structure):
    # The leading fields of Xlib's XImage, as far as the pixels need.
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.POINTER(ctypes.c_ubyte)),
                ("byte_order", ctypes.c_int), ("bitmap_unit", ctypes.c_int),
                ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int),
                ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int),
                ("bits_per_pixel", ctypes.c_int)]


class Frame:
    """One capture of a screen rectangle: 32-bit BGRX rows."""

    def __init__(self, width, height, stride, data):
        self.width, self.height, self.stride, self.data = width, height, stride, data

    def pixel(self, x, y):
        at = y * self.stride + x * 4
        return self.data[at + 2], self.data[at + 1], self.data[at]

    def save(self, path):
        rgb = bytearray(self.width * self.height * 3)
        for row in range(self.height):
            line = self.data[row * self.stride:row * self.stride + self.width * 4]
            out = row * self.width * 3
            rgb[out:out + self.width * 3:3] = line[2::4]
            rgb[out + 1:out + self.width * 3:3] = line[1::4]
            rgb[out + 2:out + self.width * 3:3] = line[0::4]
        header = b"P6 %d %d 255\n" % (self.width, self.height)
        subprocess.run(["convert", "ppm:-", path], input=header + bytes(rgb), check=True)
        return path


class FrameGrabber:
    """Captures one window's rectangle as fast as the X server answers, on a
    thread of its own, and hands every frame to keep(frame), which returns
    False to stop. For states too short-lived for one `import` run."""

    def __init__(self, window, keep):
        self.rect = geometry(window)
        self.keep = keep
        self.frames = 0
        self.error = None
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.stopping = False
        self.thread.start()

    def _run(self):
        try:
            x11 = ctypes.CDLL("libX11.so.6")
            x11.XOpenDisplay.restype = ctypes.c_void_p
            x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
            x11.XDefaultRootWindow.restype = ctypes.c_ulong
            x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
            x11.XGetImage.restype = ctypes.POINTER(_XImage)
            x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                      ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
            x11.XDestroyImage.argtypes = [ctypes.POINTER(_XImage)]
            x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
            display = x11.XOpenDisplay(None)
            if not display:
                raise RuntimeError("cannot open the X display")
            try:
                root = x11.XDefaultRootWindow(display)
                x, y, w, h = self.rect
                all_planes, z_pixmap = 0xFFFFFFFF, 2
                while not self.stopping:
                    image = x11.XGetImage(display, root, x, y, w, h, all_planes, z_pixmap)
                    if not image:
                        raise RuntimeError("XGetImage failed")
                    try:
                        img = image.contents
                        if img.bits_per_pixel != 32:
                            raise RuntimeError("a %d-bit screen is not supported" % img.bits_per_pixel)
                        data = ctypes.string_at(img.data, img.bytes_per_line * h)
                        frame = Frame(w, h, img.bytes_per_line, data)
                    finally:
                        x11.XDestroyImage(image)
                    self.frames += 1
                    if not self.keep(frame):
                        break
            finally:
                x11.XCloseDisplay(display)
        except Exception as e:  # reported by stop()
            self.error = e

    def stop(self, timeout=120):
        """Waits until keep() said stop (or the timeout), then ends the thread."""
        self.thread.join(timeout)
        self.stopping = True
        self.thread.join()
        if self.error:
            raise self.error
