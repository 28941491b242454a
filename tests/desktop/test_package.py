"""The Debian package on this machine: installed with apt, started from where it installs
to, removed again with the user's data left in place. Changes the system's packages, so it
runs only when VARDEKO_PACKAGE_TEST names the package to try (tools/test does, as root)."""

import os
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

from test_desktop import (DemoService, Program, close_by_window_manager, start_window_manager,
                          tearDownModule, wait_for)

PACKAGE = os.environ.get("VARDEKO_PACKAGE_TEST")
INSTALLED = [Path("/usr/bin/vardeko"), Path("/usr/lib/vardeko/vardeko"),
             Path("/usr/lib/vardeko/renderer/index.html"),
             Path("/usr/share/applications/com.vardeko.Vardeko.desktop"),
             Path("/usr/share/icons/hicolor/256x256/apps/vardeko.png")]


def apt(*args):
    subprocess.run(["apt-get", "-y", "-q", *args], check=True, stdout=subprocess.DEVNULL,
                   env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))


@unittest.skipUnless(PACKAGE, "VARDEKO_PACKAGE_TEST not set")
class PackageTest(unittest.TestCase):
    def setUp(self):
        start_window_manager()
        self.work = Path(tempfile.mkdtemp(prefix="vardeko-package-"))
        self.addCleanup(shutil.rmtree, self.work, True)
        self.data = self.work / "data"

    def test_installs_starts_to_the_page_and_removes_keeping_the_data(self):
        apt("install", "--no-install-recommends", str(Path(PACKAGE).resolve()))
        self.addCleanup(subprocess.run, ["apt-get", "-y", "-q", "remove", "vardeko"],
                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for path in INSTALLED:
            self.assertTrue(path.exists(), path)
        entry = INSTALLED[3].read_text(encoding="utf-8")
        self.assertIn("Exec=vardeko\n", entry)
        self.assertIn("Icon=vardeko\n", entry)

        service = DemoService()
        self.addCleanup(service.stop)
        program = Program(self, Path("/usr/bin"), self.data, service.base + "/api")
        window = program.window()
        wait_for(lambda: any(r["path"].endswith("/health") for r in service.requests()),
                 what="the installed page's first service call")
        close_by_window_manager(window)
        self.assertEqual(program.wait(), (0, ""))
        kept = sorted(p.name for p in self.data.iterdir())

        apt("remove", "vardeko")
        for path in INSTALLED:
            self.assertFalse(path.exists(), path)
        self.assertFalse(Path("/usr/lib/vardeko").exists())
        self.assertEqual(sorted(p.name for p in self.data.iterdir()), kept)


__all__ = ["PackageTest", "tearDownModule"]

if __name__ == "__main__":
    unittest.main()
