#!/usr/bin/env python3
"""Walks the installer through its pages on the current display with real
clicks and leaves a screenshot of each state in the build's demo/ folder: first page,
custom view, back to the first page, progress, finish page, and the viewer
that 立即体验 starts. Prints a short summary of what was installed where."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import qvdrive as q  # noqa: E402
import qvinstaller as t  # noqa: E402
import qvlayout  # noqa: E402

OUT = os.path.join(q.BUILD, "demo")


def main():
    os.makedirs(OUT, exist_ok=True)
    for name in os.listdir(OUT):  # only this walk's screenshots stay
        if name.endswith(".png"):
            os.remove(os.path.join(OUT, name))
    t.SHOTS = OUT
    info = t.where()
    app = t.Installer(t.DIST)
    try:
        app.shot("1-first-page")
        app.click("btn_custom")
        q.wait_for(lambda: app.shows("btn_select", "modify.png", 55, 20), 30, 0.2, "custom view")
        app.shot("2-custom-view")
        app.click("btn_ret")
        q.wait_for(lambda: app.shows("btn_inst", "instb.png", 101, 31), 30, 0.2, "first page")
        app.shot("3-first-page-again")
        # The progress page of a small payload lasts a fraction of a second,
        # less than one `import` run: frames are grabbed straight from the X
        # server while the installation runs, and each is classified by itself.
        track, fill = t.skin_pixel("pb.png", 4, 1), t.skin_pixel("pt.png", 4, 1)
        expe = t.skin_pixel("expe.png", 83, 26)
        button, bar = qvlayout.rect("btn_expe"), qvlayout.rect("prg_inst")
        row = bar.y + 1
        kept = {}  # filled width of the bar -> the first frame showing it

        def keep(frame):
            if q.close_enough(frame.pixel(button.x + 83, button.y + 26), expe):
                return False  # the finish page
            # The bar's row shows its track or its fill only on the progress page.
            if not (q.close_enough(frame.pixel(bar.right - 4, row), track, 6) or
                    q.close_enough(frame.pixel(bar.right - 4, row), fill, 6)):
                return True
            filled = sum(1 for x in range(bar.x, bar.right) if q.close_enough(frame.pixel(x, row), fill, 6))
            kept.setdefault(filled, frame)
            return True

        grabber = q.FrameGrabber(app.window, keep)
        app.click("btn_inst")
        grabber.stop()
        if kept:
            # The state nearest half way shows the bar best.
            half = min(kept, key=lambda filled: abs(filled - bar.w // 2))
            kept[half].save(os.path.join(OUT, "4-progress.png"))
            print("demo: the progress page showed %d bar states over %d frames" % (len(kept), grabber.frames))
        else:
            print("demo: the progress page did not show in %d frames" % grabber.frames)
        app.wait_finished()
        app.shot("5-finish-page")
        app.click("btn_expe")
        code = app.exit_code()
        viewer = q.wait_window(t.VIEWER_TITLE, 60)
        q.wait_settled(viewer)
        # The viewer has painted once the welcome picture's blue shows in the
        # middle of its window (before that it is black).
        shot = os.path.join(OUT, "6-viewer.png")

        def painted():
            q.screenshot(shot, viewer)
            w, h = q.geometry(viewer)[2:]
            r, g, b = q.pixel(shot, w // 2, h // 6)
            return b > 120 and b > r + 40

        q.wait_for(painted, 60, 0.2, "the viewer to paint its picture")
    finally:
        app.close()
    install = info["install"]
    print("demo: installer exit code %d" % code)
    print("demo: viewer installed in %s (%s)" % (install, t.unix(install)))
    print("demo: payload extracted to a private folder in %s (removed when the installer ended)" % info["temp"])
    print("demo: settings in %s\\config.dat:" % info["data"])
    out = q.run(["wine", t.CONFIGDUMP, q.windows_path(os.path.join(t.unix(info["data"]), "config.dat"))],
                check=False).stdout.decode("utf-8")
    for line in out.splitlines():
        print("demo:   " + line.replace("\t", " = "))
    print("demo: screenshots in %s:" % OUT)
    for name in sorted(os.listdir(OUT)):
        if name.endswith(".png"):
            print("demo:   " + name)


if __name__ == "__main__":
    main()
