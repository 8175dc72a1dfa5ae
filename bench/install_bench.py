#!/usr/bin/env python3
"""Click-to-finish time of a real installation (split into staging,
extraction and the helper's move) for the demo payload and for a payload of
over 200 MiB, against `7z.exe x` of the same archive (and against `7z.exe x`
plus `xcopy`) under the same Wine in the same run; for the big payload also
against the same installation of a single-block archive of the same content,
whose size is compared too; and the peak memory of Install.exe against
7z.exe. Prints lines `name: value unit (reference value, ratio)`."""
import glob
import hashlib
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import qvdrive as q  # noqa: E402
import qvinstaller as t  # noqa: E402

DATA = os.path.join(q.BUILD, "bench-data")
# 7z.exe of the build's architecture, copied beside the benchmarks by the build.
SEVEN_ZIP = os.path.join(q.BUILD, "bench", "7z.exe")


def md5_of(path):
    digest = hashlib.md5()
    with open(path, "rb") as f:
        for chunk in iter(lambda: f.read(1 << 20), b""):
            digest.update(chunk)
    return digest.hexdigest()


def payload_block():
    """The block size the build compresses payload.7z with (7zz's c=)."""
    with open(os.path.join(q.BUILD, "qv-payload")) as f:
        for line in f:
            if line.startswith("QV_PAYLOAD_BLOCK="):
                return line.split("=", 1)[1].strip()
    raise RuntimeError("no payload block size in the build folder")


# The two archives of the same content: "blocks" as the build makes
# payload.7z (independent blocks, compressed on every core, which 7z.dll
# decodes on every core), and "single", one solid block that only one thread
# can decode.
def archive_options(kind):
    if kind == "blocks":
        return ["-m0=lzma2:c=" + payload_block(), "-mmt=on"]
    return ["-m0=lzma2", "-mmt=1"]


def big_data_stage():
    """A folder with 208 MiB of pictures' worth of data (half text, half
    random) and the payload's list of their digests (checksums.md5), which
    the archive holds first, as in the payload the build makes."""
    stage = tempfile.mkdtemp(dir=DATA)
    os.makedirs(os.path.join(stage, "samples"))
    rng = random.Random(7)
    words = [("w%d" % i).encode() for i in range(5000)]
    for i in range(4):
        with open(os.path.join(stage, "samples", "random-%d.bin" % i), "wb") as f:
            f.write(os.urandom(26 << 20))
        with open(os.path.join(stage, "samples", "notes-%d.txt" % i), "wb") as f:
            chunk = b" ".join(rng.choice(words) for _ in range(200000)) + b"\n"
            while f.tell() < (26 << 20):
                f.write(chunk)
    with open(os.path.join(stage, "checksums.md5"), "w") as f:
        for name in sorted(os.listdir(os.path.join(stage, "samples"))):
            f.write("%s  samples/%s\n" % (md5_of(os.path.join(stage, "samples", name)), name))
    return stage


def big_payload(kind):
    """The current helper, viewer, uninstaller and welcome picture and 208 MiB
    of data, with the list of the data's digests a payload carries
    (checksums.md5; the program files, which the list cannot name before they
    are built, are digested during the extraction), as an archive of the
    given kind. The data is compressed once and kept; the program files are
    added anew whenever they change, so a rebuilt helper is never measured
    with a stale one."""
    options = archive_options(kind)
    data = os.path.join(DATA, "install-big-data-%s.7z" % kind)
    if not os.path.exists(data):
        stage = big_data_stage()
        subprocess.run(["7zz", "a", "-bd", "-bso0", "-t7z", "-mx=3"] + options + [data + ".tmp", "."], cwd=stage,
                       check=True)
        # The other kind is made of the same bytes.
        for other in ("blocks", "single"):
            other_data = os.path.join(DATA, "install-big-data-%s.7z" % other)
            if other != kind:
                if os.path.exists(other_data):
                    os.remove(other_data)
                subprocess.run(["7zz", "a", "-bd", "-bso0", "-t7z", "-mx=3"] + archive_options(other) +
                               [other_data + ".tmp", "."], cwd=stage, check=True)
                os.replace(other_data + ".tmp", other_data)
        os.replace(data + ".tmp", data)
        shutil.rmtree(stage)
    names = ("ImgKit.dll", "ImgShell.exe", "Uninstall.exe", "welcome.png")
    programs = [os.path.join(q.BUILD, "payload-stage", name) for name in names]
    stamp = hashlib.md5()
    for path in programs:
        stamp.update(md5_of(path).encode())
    archive = os.path.join(DATA, "install-big-%s.7z" % kind)
    stamp_file = archive + ".stamp"
    if os.path.exists(archive) and os.path.exists(stamp_file) and open(stamp_file).read() == stamp.hexdigest():
        return archive
    stage = tempfile.mkdtemp(dir=DATA)
    for path in programs:
        shutil.copy(path, stage)
    shutil.copy(data, archive + ".tmp")
    subprocess.run(["7zz", "a", "-bd", "-bso0", "-t7z", "-mx=3"] + options + [archive + ".tmp"] + list(names),
                   cwd=stage, check=True)
    shutil.rmtree(stage)
    os.replace(archive + ".tmp", archive)
    with open(stamp_file, "w") as f:
        f.write(stamp.hexdigest())
    return archive


def vm_hwm_kib(pattern):
    """Largest VmHWM among processes whose command line contains `pattern`."""
    best = 0
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                if pattern.encode() not in f.read():
                    continue
            with open("/proc/%s/status" % pid) as f:
                for line in f:
                    if line.startswith("VmHWM:"):
                        best = max(best, int(line.split()[1]))
        except OSError:
            pass
    return best


class State:
    def __init__(self):
        info = t.where()
        self.install = t.unix(info["install"])
        self.temp = t.unix(info["temp"])
        self.desktop = t.unix(info["desktop"])

    def staged_archive(self):
        """The archive staged in the running installation's private folder."""
        found = glob.glob(os.path.join(self.temp, "Quiview-1.0.1-*", "payload.7z"))
        try:
            return found[0] if found and os.path.getsize(found[0]) >= 0 else None
        except OSError:  # the private folder went in the meantime
            return None

    def clean(self):
        for folder in glob.glob(os.path.join(self.temp, "Quiview-1.0.1-*")):
            shutil.rmtree(folder, ignore_errors=True)
        shutil.rmtree(self.install, ignore_errors=True)
        link = os.path.join(self.desktop, "Quiview.lnk")
        if os.path.exists(link):
            os.remove(link)


def measure_install(state, archive, scratch):
    """(staging, extraction, copy, total seconds, peak KiB) of one installation."""
    state.clean()
    bundle = tempfile.mkdtemp(dir=scratch)
    for name in ("Install.exe", "DuiLib.dll", "7z.dll"):
        shutil.copy(os.path.join(q.BUILD, "dist", name), bundle)
    shutil.copy(archive, os.path.join(bundle, "payload.7z"))
    t.seal(bundle)
    size = os.path.getsize(archive)
    app = t.Installer(bundle)
    try:
        staged_at = extracted_at = copied_at = None
        peak = 0
        start = time.monotonic()
        app.click("btn_inst")
        while copied_at is None and time.monotonic() - start < 600:
            now = time.monotonic()
            peak = max(peak, vm_hwm_kib("Install.exe"))
            staged = state.staged_archive()
            if staged_at is None and staged and os.path.getsize(staged) == size:
                staged_at = now
            if extracted_at is None and staged and os.path.exists(os.path.join(os.path.dirname(staged), "items.lst")):
                extracted_at = now  # the list of what was extracted is written once extraction is over
            if os.path.exists(os.path.join(state.desktop, "Quiview.lnk")):
                copied_at = now  # the shortcut comes after the last copied file
            time.sleep(0.02)
        app.wait_finished()
        peak = max(peak, vm_hwm_kib("Install.exe"))
        staged_at = staged_at or start
        extracted_at = extracted_at or staged_at
        return (staged_at - start, extracted_at - staged_at, copied_at - extracted_at, copied_at - start, peak)
    finally:
        app.close()
        state.clean()


def measure_reference(archive, scratch):
    """(7z.exe x seconds, with xcopy seconds, 7z.exe peak KiB): `7z.exe x`
    with its default threads (one per core), then `xcopy` of what it
    extracted."""
    out = os.path.join(scratch, "ref-out")
    dest = os.path.join(scratch, "ref-dest")
    shutil.rmtree(out, ignore_errors=True)
    shutil.rmtree(dest, ignore_errors=True)
    start = time.monotonic()
    proc = subprocess.Popen(["wine", SEVEN_ZIP, "x", "-y", "-o" + q.windows_path(out), q.windows_path(archive)],
                            env=q.wine_env(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    peak = 0
    while proc.poll() is None:
        peak = max(peak, vm_hwm_kib("7z.exe"))
        time.sleep(0.02)
    extracted = time.monotonic() - start
    subprocess.run(["wine", "xcopy", "/E", "/I", "/Y", "/Q", q.windows_path(out), q.windows_path(dest)],
                   env=q.wine_env(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    seconds = time.monotonic() - start
    shutil.rmtree(out, ignore_errors=True)
    shutil.rmtree(dest, ignore_errors=True)
    return extracted, seconds, peak


def median(values):
    values = sorted(values)
    return values[len(values) // 2]


def report(label, ours, refs, single=None):
    total = median([o[3] for o in ours])
    pick = min(ours, key=lambda o: abs(o[3] - total))
    extract_ref = median([r[0] for r in refs])
    xcopy_ref = median([r[1] for r in refs])
    print("install_%s_click_to_finish: %.2f s (%.2f s, %.2f)" % (label, total, extract_ref, total / extract_ref))
    print("install_%s_vs_7z_and_xcopy: %.2f s (%.2f s, %.2f)" % (label, total, xcopy_ref, total / xcopy_ref))
    if single:
        alone = median([o[3] for o in single])
        print("install_%s_vs_single_block: %.2f s (%.2f s, %.2f)" % (label, total, alone, total / alone))
    print("install_%s_split: staging %.2f s, extraction %.2f s, copy %.2f s (-, -)"
          % (label, pick[0], pick[1], pick[2]))
    peak = max(o[4] for o in ours) / 1024.0
    ref_peak = max(r[2] for r in refs) / 1024.0
    print("install_%s_peak_memory: %.1f MiB (%.1f MiB, %.2f)" % (label, peak, ref_peak, peak / ref_peak))


def main():
    os.makedirs(DATA, exist_ok=True)
    t.SHOTS = os.path.join(q.BUILD, "bench-shots")
    os.makedirs(t.SHOTS, exist_ok=True)
    state = State()
    scratch = tempfile.mkdtemp(dir=DATA)
    try:
        demo = os.path.join(q.BUILD, "dist", "payload.7z")
        ours, refs = [], []
        for _ in range(3):  # alternating, so both see the same machine load
            ours.append(measure_install(state, demo, scratch))
            refs.append(measure_reference(demo, scratch))
        report("demo_payload", ours, refs)

        # QV_BENCH_RUNS sets the number of installations of the big payload
        # (more of them to compare two builds on a noisy machine). The
        # reference is 7z.exe on the archive as the build makes it; the same
        # installer on the single-block archive shows what the blocks bring.
        blocks, single = big_payload("blocks"), big_payload("single")
        ours, refs, alone = [], [], []
        for _ in range(int(os.environ.get("QV_BENCH_RUNS", "3"))):
            ours.append(measure_install(state, blocks, scratch))
            refs.append(measure_reference(blocks, scratch))
            alone.append(measure_install(state, single, scratch))
        report("200MiB_payload", ours, refs, alone)
        size, size_single = os.path.getsize(blocks), os.path.getsize(single)
        print("payload_archive_size_200MiB: %.1f MiB (%.1f MiB, %.3f)"
              % (size / 1048576.0, size_single / 1048576.0, size / float(size_single)))
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
