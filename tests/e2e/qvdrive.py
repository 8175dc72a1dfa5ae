"""Drives Windows programs running under Wine on an X display: starts them,
finds their windows, clicks with real X input (xdotool), takes screenshots
(ImageMagick) and reads pixels. Used by the end-to-end tests and the demo."""
import os
import subprocess
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.environ.get("QV_BUILD", os.path.join(ROOT, "build"))


def wine_env():
    env = dict(os.environ)
    env.setdefault("WINEPREFIX", os.path.join(BUILD, "wineprefix"))
    env["WINEDEBUG"] = "-all"
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
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
