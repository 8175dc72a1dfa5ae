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
        # The progress page shows while the helper copies the viewer; each
        # screenshot is classified by itself, so a finished page is never
        # taken for the progress page.
        caught = False
        deadline = time.monotonic() + 120
        while time.monotonic() < deadline:
            shot = app.shot("probe-progress")
            finished = t.close_enough(q.pixel(shot, 108 + 83, 355 + 26), t.skin_pixel("expe.png", 83, 26))
            if finished:
                break
            # The bar's right end shows its track (or, near the end, its fill) only on the progress page.
            bar = q.pixel(shot, 580, 391)
            if t.close_enough(bar, t.skin_pixel("pb.png", 4, 1), 6) or \
                    t.close_enough(bar, t.skin_pixel("pt.png", 4, 1), 6):
                os.replace(shot, os.path.join(OUT, "4-progress.png"))
                caught = True
        if os.path.exists(os.path.join(OUT, "probe-progress.png")):
            os.remove(os.path.join(OUT, "probe-progress.png"))
        if not caught:
            print("demo: the installation finished before the progress page could be photographed")
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
        if name.endswith(".png") and not name.startswith("probe"):
            print("demo:   " + name)


if __name__ == "__main__":
    main()
