#!/usr/bin/env python3
"""Checks a build's binaries as files: their import tables with objdump of
the build's own architecture, and the architecture their manifests declare.
Runs no Windows code, so it runs for every architecture that is built,
whether or not this machine can run it.

- The shipped programs and libraries import by name only the libraries the
  system maps from its own folder whatever the search order (and our own UI
  library), so a library planted beside them is never loaded. Install.exe
  imports the UI library only delayed: the loader must not map it before the
  installer has checked it against its seal.
- No binary, shipped or test, imports an interface or class identifier
  (IID_..., CLSID_..., ...) from a library: such an identifier is data, and an
  import library that exports it as code (the 64-bit oleacc, msftedit and
  riched20 ones do) hands the program the address of a jump stub as the
  identifier whenever it is linked before uuid, so every call names an
  interface that does not exist.
- The programs' manifests declare the build's own architecture (a 64-bit
  program that declares x86 is refused by Windows)."""
import os
import re
import subprocess
import sys
import unittest

BUILD = os.environ["QV_BUILD"]
ARCH = os.environ["QV_ARCH"]
OBJDUMP = os.environ["QV_OBJDUMP"]
DIST = os.path.join(BUILD, "dist")
STAGE = os.path.join(BUILD, "payload-stage")
# Libraries the system maps from its own folder whatever the search order.
KNOWN_DLLS = {"advapi32.dll", "comdlg32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll", "ole32.dll",
              "oleaut32.dll", "shell32.dll", "shlwapi.dll", "user32.dll"}
IDENTIFIER = re.compile(r"^(IID|CLSID|GUID|LIBID|CATID|FMTID|DIID|SID|FOLDERID)_\w+$")


def imports(binary):
    """{library (lower case): {imported names}} of a PE file."""
    out = subprocess.run([OBJDUMP, "-p", binary], stdout=subprocess.PIPE, check=True).stdout.decode("latin-1")
    table, library = {}, None
    for line in out.splitlines():
        if "DLL Name:" in line:
            library = line.split()[-1].lower()
            table.setdefault(library, set())
        elif library is not None:
            fields = line.split()
            # "<vma> <hint> <name>" lines of the current library's table
            if len(fields) == 3 and re.fullmatch(r"[0-9a-fA-F]+", fields[0]) and fields[1].isdigit():
                table[library].add(fields[2])
            elif not line.strip():
                library = None
    return table


def built_binaries():
    skip = {os.path.join(BUILD, "wineprefix"), os.path.join(BUILD, "bench-data")}
    for folder, dirs, files in os.walk(BUILD):
        dirs[:] = [d for d in dirs if os.path.join(folder, d) not in skip]
        for name in files:
            # 7z.dll and 7z.exe are the archive handler's own, not built here.
            if name.lower().endswith((".exe", ".dll")) and not name.lower().startswith("7z."):
                yield os.path.join(folder, name)


class ImportTest(unittest.TestCase):
    def test_shipped_binaries_import_only_system_libraries(self):
        for binary in (os.path.join(DIST, "Install.exe"), os.path.join(DIST, "DuiLib.dll"),
                       os.path.join(STAGE, "ImgShell.exe"), os.path.join(STAGE, "ImgKit.dll"),
                       os.path.join(STAGE, "Uninstall.exe")):
            with self.subTest(binary=os.path.relpath(binary, BUILD)):
                self.assertLessEqual(set(imports(binary)) - {"duilib.dll"}, KNOWN_DLLS)

    def test_installer_imports_its_ui_library_only_delayed(self):
        self.assertNotIn("duilib.dll", imports(os.path.join(DIST, "Install.exe")))

    def test_no_binary_imports_an_identifier(self):
        checked = 0
        for binary in built_binaries():
            checked += 1
            for library, names in imports(binary).items():
                wrong = sorted(n for n in names if IDENTIFIER.match(n))
                self.assertEqual(wrong, [], "%s takes identifiers from %s's import library as code; "
                                 "link uuid before it" % (os.path.relpath(binary, BUILD), library))
        self.assertGreater(checked, 20)


class ManifestTest(unittest.TestCase):
    def test_programs_declare_the_build_architecture(self):
        wanted = {"x86": "x86", "x64": "amd64"}[ARCH]
        for binary, name in ((os.path.join(DIST, "Install.exe"), "Quiview.Install"),
                             (os.path.join(STAGE, "Uninstall.exe"), "Quiview.Uninstall")):
            with open(binary, "rb") as f:
                data = f.read()
            # The manifest resource is stored as it was written (UTF-8).
            found = re.findall(rb'name="%s"[^>]*processorArchitecture="([^"]*)"' % name.encode(), data)
            self.assertEqual(found, [wanted.encode()], os.path.basename(binary))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
