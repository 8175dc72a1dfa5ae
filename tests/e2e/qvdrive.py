"""Drives Windows programs running under Wine on an X display: starts them,
finds their windows, clicks with real X input (xdotool), takes screenshots
(ImageMagick) and reads pixels. Used by the end-to-end tests and the demo."""
import ctypes
import os
import subprocess
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.environ.get("QV_BUILD", os.path.join(ROOT, "build"))


def wine_env():
    env = dict(os.environ)
    env.setdefault("WINEPREFIX", os.path.join(BUILD, "wineprefix"))
    env["WINEDEBUG"] = "-all"
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml=;winemenubuilder.exe=d"
    env["WINEARCH"] = "win32"
    return env


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


def windows_path(path):
    """The Wine path of a Linux path (through drive Z:)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def unix_path(win_path):
    out = run(["winepath", "-u", win_path]).stdout.decode().strip()
    return out


class Program:
    """A Windows program started under Wine; ended (if still running) on close()."""

    def __init__(self, exe, args=(), cwd=None):
        self.proc = subprocess.Popen(["wine", exe] + list(args), cwd=cwd, env=wine_env(),
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


def click(window, x, y, button=1):
    """A real X click at window-relative (x, y)."""
    subprocess.run(["xdotool", "mousemove", "--window", str(window), str(x), str(y),
                    "click", str(button)], check=True)


def drag(window, x1, y1, x2, y2):
    subprocess.run(["xdotool", "mousemove", "--window", str(window), str(x1), str(y1),
                    "mousedown", "1", "mousemove", "--window", str(window), str(x2), str(y2),
                    "mouseup", "1"], check=True)


def type_text(text):
    subprocess.run(["xdotool", "type", "--delay", "20", text], check=True)


def key(*keys):
    subprocess.run(["xdotool", "key"] + list(keys), check=True)


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
