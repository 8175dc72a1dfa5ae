#!/usr/bin/env python3
"""Walks the installer through its pages on the current display with real
clicks and leaves a screenshot of each state in build/demo/: first page,
custom view, back to the first page, progress, finish page, and the viewer
that 立即体验 starts. Prints a short summary of what was installed where."""
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import qvdrive as q  # noqa: E402
import test_install as t  # noqa: E402

OUT = os.path.join(q.BUILD, "demo")


def main():
    os.makedirs(OUT, exist_ok=True)
    t.SHOTS = OUT
    info = t.where()
    app = t.Installer(t.DIST)
    try:
        app.shot("1-first-page")
        app.click("btn_custom")
        q.wait_for(lambda: app.looks_like("modify.png", 55, 20, 482 + 55, 310 + 20), 30, 0.2, "custom view")
        app.shot("2-custom-view")
        app.click("btn_ret")
        q.wait_for(lambda: app.looks_like("instb.png", 101, 31, 210 + 101, 365 + 31), 30, 0.2, "first page")
        app.shot("3-first-page-again")
        app.click("btn_inst")
        # The progress page: caught while the helper copies, if it is slow enough to be seen.
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            if app.looks_like("ing1.png", 300, 60) or app.looks_like("ing2.png", 300, 60):
                app.shot("4-progress")
                break
            if app.looks_like("expe.png", 83, 26, 108 + 83, 355 + 26):
                break
        app.wait_finished()
        app.shot("5-finish-page")
        app.click("btn_expe")
        code = app.exit_code()
        viewer = q.wait_window("Quiview 看图 1.0.1 · 渠道 30100", 60)
        q.wait_settled(viewer)
        q.screenshot(os.path.join(OUT, "6-viewer.png"), viewer)
    finally:
        app.close()
    install = info["install"]
    print("demo: installer exit code %d" % code)
    print("demo: viewer installed in %s (%s)" % (install, t.unix(install)))
    print("demo: payload extracted to %s\\Quiview\\1.0.1" % info["temp"])
    print("demo: settings in %s\\config.dat:" % info["data"])
    out = q.run(["wine", t.CONFIGDUMP, q.windows_path(os.path.join(t.unix(info["data"]), "config.dat"))],
                check=False).stdout.decode("utf-8")
    for line in out.splitlines():
        print("demo:   " + line.replace("\t", " = "))
    print("demo: screenshots in %s:" % OUT)
    for name in sorted(os.listdir(OUT)):
        if name.endswith(".png") and name != "probe.png":
            print("demo:   " + name)


if __name__ == "__main__":
    main()
