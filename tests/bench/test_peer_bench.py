#!/usr/bin/env python3
"""The peer benchmark's own machinery (bench/peer_bench.py): the NSIS and
Inno Setup installers it builds from bench/peers/ really install the payload
with a desktop shortcut, an uninstall entry and a working uninstaller; its
clean-up leaves nothing behind; its cache rebuilds exactly when an input
changes; its lines keep the bench table's format. No timing is checked."""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.dont_write_bytecode = True  # nothing written into the source tree
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "bench"))
import peer_bench as pb  # noqa: E402

q = pb.q


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def bench_line_pattern():
    """The pattern by which bench/run tells a table line from other output."""
    with open(os.path.join(ROOT, "bench", "run")) as f:
        text = f.read()
    return re.compile(re.search(r"grep -vE '([^']+)'", text).group(1))


class PureTest(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.mkdtemp(prefix="qvpeers-")

    def tearDown(self):
        shutil.rmtree(self.scratch, ignore_errors=True)

    def test_uninstall_list_names_every_file_then_folders_deepest_first(self):
        stage = os.path.join(self.scratch, "stage")
        write(os.path.join(stage, "ImgShell.exe"), b"x")
        write(os.path.join(stage, "samples", "a b.txt"), b"yy")
        write(os.path.join(stage, "samples", "deep", "c$1.bin"), b"zzz")
        write(os.path.join(stage, "zoo", "d.txt"), b"")
        self.assertEqual(pb.nsis_uninstall_list(stage).splitlines(), [
            'Delete "$INSTDIR\\ImgShell.exe"',
            'Delete "$INSTDIR\\samples\\a b.txt"',
            'Delete "$INSTDIR\\samples\\deep\\c$$1.bin"',
            'Delete "$INSTDIR\\zoo\\d.txt"',
            'RMDir "$INSTDIR\\samples\\deep"',
            'RMDir "$INSTDIR\\samples"',
            'RMDir "$INSTDIR\\zoo"',
        ])
        self.assertEqual(pb.payload_files(stage), {"ImgShell.exe": 1, "samples\\a b.txt": 2,
                                                   "samples\\deep\\c$1.bin": 3, "zoo\\d.txt": 0})

    def test_fingerprint_follows_script_compiler_and_payload(self):
        script = os.path.join(self.scratch, "peer.nsi")
        write(script, b"Name x\n")
        peer = pb.Peer("nsis", "NSIS", script, "#32770", "t", "k", "s.lnk", lambda f: [])
        base = pb.fingerprint(peer, "payload-a", "makensis v1")
        self.assertEqual(base, pb.fingerprint(peer, "payload-a", "makensis v1"))
        self.assertNotEqual(base, pb.fingerprint(peer, "payload-b", "makensis v1"))
        self.assertNotEqual(base, pb.fingerprint(peer, "payload-a", "makensis v2"))
        write(script, b"Name y\n")
        self.assertNotEqual(base, pb.fingerprint(peer, "payload-a", "makensis v1"))

    def test_cached_installer_is_stale_until_built_from_the_same_inputs(self):
        archive = os.path.join(self.scratch, "payload.7z")
        write(archive, b"first archive")
        folder = os.path.join(self.scratch, "cache")
        installers = pb.Installers(folder, "demo", archive)
        compiler = "makensis test"
        self.assertTrue(installers.stale(pb.NSIS, compiler))
        # What ensure() leaves behind after a build: the program, the listing, the key.
        write(installers.exe(pb.NSIS), b"MZ")
        write(installers._listing(), b"{}")
        self.assertTrue(installers.stale(pb.NSIS, compiler))
        write(installers._key(pb.NSIS), (pb.fingerprint(pb.NSIS, installers.payload_digest(), compiler) + "\n").encode())
        self.assertFalse(installers.stale(pb.NSIS, compiler))
        self.assertTrue(installers.stale(pb.NSIS, "makensis other"))
        self.assertTrue(installers.stale(pb.INNO, compiler))
        # A changed payload (seen by a new Installers, as each bench run makes one).
        write(archive, b"second archive")
        self.assertTrue(pb.Installers(folder, "demo", archive).stale(pb.NSIS, compiler))
        os.remove(installers.exe(pb.NSIS))
        write(archive, b"first archive")
        self.assertTrue(pb.Installers(folder, "demo", archive).stale(pb.NSIS, compiler))

    def test_lines_compare_ours_with_each_peer_and_the_faster_one(self):
        lines = pb.comparison_lines("install_200MiB", "s", "%.2f", 1.2, {"NSIS": 10.0, "Inno": 6.0})
        self.assertEqual(lines, [
            "install_200MiB_vs_nsis: 1.20 s (10.00 s, 0.12)",
            "install_200MiB_vs_inno: 1.20 s (6.00 s, 0.20)",
            "install_200MiB_vs_faster_peer: 1.20 s (6.00 s Inno, 0.20)",
        ])
        lines += pb.size_lines("size_demo", 3 << 20, {"NSIS": 1 << 20, "Inno": 2 << 20})
        self.assertEqual(lines[3:], ["size_demo_vs_nsis: 3.00 MiB (1.00 MiB, 3.00)",
                                     "size_demo_vs_inno: 3.00 MiB (2.00 MiB, 1.50)"])
        pattern = bench_line_pattern()
        for line in lines:
            self.assertRegex(line, pattern)

    def test_rotation_puts_each_side_first_in_turn(self):
        self.assertEqual([pb.rotated(["a", "b", "c"], i)[0] for i in range(4)], ["a", "b", "c", "a"])
        self.assertEqual(pb.rotated(["a", "b", "c"], 2), ["c", "a", "b"])


class PeerInstallersTest:
    """Builds one peer's installers of a small payload and runs them under
    Wine (a subclass per peer names it)."""
    peer = None

    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.mkdtemp(prefix="peers-test-", dir=q.BUILD)
        stage = os.path.join(cls.scratch, "stage")
        write(os.path.join(stage, "ImgShell.exe"), b"viewer " * 1000)
        write(os.path.join(stage, "samples", "a b.txt"), b"text " * 5000)
        write(os.path.join(stage, "samples", "deep", "c.bin"), os.urandom(70000))
        cls.archive = os.path.join(cls.scratch, "payload.7z")
        subprocess.run(["7zz", "a", "-bd", "-bso0", "-t7z", cls.archive, "."], cwd=stage, check=True)
        cls.installers = pb.Installers(os.path.join(cls.scratch, "cache"), "test", cls.archive)
        cls.built = cls.installers.ensure(peers=(cls.peer,))
        cls.places = pb.Places()

    @classmethod
    def tearDownClass(cls):
        pb.clean_peer(cls.places, cls.peer)
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def setUp(self):
        pb.clean_peer(self.places, self.peer)

    def test_built_once_then_kept(self):
        self.assertEqual(self.built, [self.peer])
        self.assertEqual(self.installers.files(),
                         {"ImgShell.exe": 7000, "samples\\a b.txt": 25000, "samples\\deep\\c.bin": 70000})
        before = os.stat(self.installers.exe(self.peer)).st_mtime_ns
        again = pb.Installers(self.installers.folder, "test", self.archive)
        self.assertEqual(again.ensure(peers=(self.peer,)), [])
        self.assertEqual(os.stat(again.exe(self.peer)).st_mtime_ns, before)

    def test_built_for_the_build_architecture(self):
        with open(self.installers.exe(self.peer), "rb") as f:
            image = f.read(4096)
        header = int.from_bytes(image[0x3C:0x40], "little")
        machine = int.from_bytes(image[header + 4:header + 6], "little")
        self.assertEqual(machine, {"x86": 0x14C, "x64": 0x8664}[q.arch()])

    def test_measured_installation_is_undone(self):
        seconds = pb.install_peer(self.places, self.peer, self.installers.exe(self.peer), self.installers.files())
        self.assertGreater(seconds, 0)
        self.assertFalse(os.path.exists(self.places.peer_folder(self.peer)))
        self.assertFalse(os.path.exists(os.path.join(self.places.desktop, self.peer.shortcut)))
        self.assertFalse(pb.key_exists(self.peer.key))

    def install(self):
        peer = self.peer
        folder = self.places.peer_folder(peer)
        code = q.run(["wine", self.installers.exe(peer)] + peer.silent(self.places.peer_folder_win(peer)),
                     check=False).returncode
        self.assertEqual(code, 0)
        pb.check_installed(folder, self.installers.files())
        self.assertTrue(os.path.isfile(os.path.join(self.places.desktop, peer.shortcut)))
        self.assertTrue(pb.key_exists(peer.key))
        uninstall = q.run(["wine", "reg", "query", pb.UNINSTALL_ROOT + "\\" + peer.key, "/v", "UninstallString"],
                          check=False).stdout.decode("utf-8", "replace")
        self.assertIn(self.places.peer_folder_win(peer) + "\\", uninstall)
        mine = os.path.join(folder, "samples", "mine.txt")
        write(mine, b"the user's")
        return folder, mine

    def assert_uninstalled(self, folder, mine):
        for rel in self.installers.files():
            self.assertFalse(os.path.exists(os.path.join(folder, *rel.split("\\"))), rel)
        self.assertFalse(os.path.exists(os.path.join(folder, "samples", "deep")))
        with open(mine, "rb") as f:
            self.assertEqual(f.read(), b"the user's")
        self.assertFalse(os.path.exists(os.path.join(self.places.desktop, self.peer.shortcut)))
        self.assertFalse(pb.key_exists(self.peer.key))

    def test_installs_and_its_uninstaller_removes_only_the_payload(self):
        folder, mine = self.install()
        self.uninstall(folder)
        self.assert_uninstalled(folder, mine)

    def test_clean_up_removes_an_installation_with_user_files(self):
        folder, _ = self.install()
        pb.clean_peer(self.places, self.peer)
        self.assertFalse(os.path.exists(folder))
        self.assertFalse(os.path.exists(os.path.join(self.places.desktop, self.peer.shortcut)))
        self.assertFalse(pb.key_exists(self.peer.key))


class NsisInstallersTest(PeerInstallersTest, unittest.TestCase):
    peer = pb.NSIS

    def uninstall(self, folder):
        # _?= runs the uninstaller in place and waits for it (it then cannot delete itself).
        code = q.run(["wine", os.path.join(folder, "uninst.exe"), "/S",
                      "_?=" + self.places.peer_folder_win(self.peer)], check=False).returncode
        self.assertEqual(code, 0)


class InnoInstallersTest(PeerInstallersTest, unittest.TestCase):
    peer = pb.INNO

    def uninstall(self, folder):
        started = time.time()
        q.run(["wine", os.path.join(folder, "unins000.exe"), "/VERYSILENT", "/SUPPRESSMSGBOXES"])
        try:
            # The uninstaller works from a copy of itself that outlives the first process.
            q.wait_for(lambda: not os.path.exists(os.path.join(folder, "unins000.exe")), 60, 0.2, "Inno uninstaller")
            deadline = time.monotonic() + 30
            while pb.key_exists(self.peer.key) and time.monotonic() < deadline:
                time.sleep(0.2)
        finally:
            # Under Wine that copy's folder (iu-*.tmp) stays in the temporary folder.
            for name in os.listdir(self.places.temp):
                path = os.path.join(self.places.temp, name)
                if name.startswith("iu-") and os.path.getmtime(path) >= started - 1:
                    shutil.rmtree(path, ignore_errors=True)


class OursTest(unittest.TestCase):
    """One timed installation through our window, as the benchmark does it."""

    def test_one_installation_is_timed_then_undone(self):
        places = pb.Places()
        scratch = tempfile.mkdtemp(prefix="peers-ours-", dir=q.BUILD)
        try:
            payload = os.path.join(q.BUILD, "dist", "payload.7z")
            stage = os.path.join(scratch, "stage")
            subprocess.run(["7zz", "x", "-bd", "-bso0", "-bsp0", "-o" + stage, payload], check=True)
            ours = pb.Ours(places, pb.make_bundle(os.path.join(scratch, "bundle"), payload), pb.payload_files(stage))
            try:
                start_up, click_to_finish = ours.install()
            finally:
                ours.close()
            self.assertGreater(start_up, 0)
            self.assertGreater(click_to_finish, 0)
            for path in (places.install, os.path.join(places.temp, "Quiview"), places.data,
                         os.path.join(places.desktop, "Quiview.lnk")):
                self.assertFalse(os.path.exists(path), path)
            self.assertFalse(pb.key_exists("Quiview"))
        finally:
            shutil.rmtree(scratch, ignore_errors=True)


# One ctest entry per peer: "nsis" (with the benchmark's own machinery and
# our timed installation) or "inno". A peer that cannot run with this build is
# reported as skipped (exit code 77) with its reason, never as passed.
SKIPPED = 77

if __name__ == "__main__":
    which = sys.argv[1] if len(sys.argv) > 1 else "nsis"
    peer = {"nsis": pb.NSIS, "inno": pb.INNO}[which]
    reason = pb.unavailable(peer)
    if reason:
        print("skipped: %s: %s" % (peer.label, reason))
        sys.exit(SKIPPED)
    classes = [NsisInstallersTest, PureTest, OursTest] if peer is pb.NSIS else [InnoInstallersTest]
    loader = unittest.TestLoader()
    suite = unittest.TestSuite(loader.loadTestsFromTestCase(c) for c in classes)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    failed = len(result.failures) + len(result.errors)
    print("%d passed, %d failed" % (result.testsRun - failed, failed))
    sys.exit(1 if failed else 0)
