#!/usr/bin/env python3
"""Installs the built app into a temporary prefix with scripts/install, runs the installed program away from
the source and build trees, and uninstalls it again.

Usage: installed_tree.py BUILD_DIR
"""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

from sample_transcript import assert_reads_like_sample

ROOT = Path(__file__).resolve().parents[2]
BUILD_DIR = Path(sys.argv.pop(1)).resolve() if len(sys.argv) > 1 else ROOT / "build"
APP_ID = "io.github.corvane.TranscriptionCorvane"
ENGINE_DIR = "lib/transcription-corvane"


def tree(folder):
    return sorted(str(p.relative_to(folder)) + ("/" if p.is_dir() else "") for p in folder.rglob("*"))


def scrubbed_environment(**extra):
    # Only what a login session would give: no LD_LIBRARY_PATH, no project variables, a plain PATH.
    env = {"PATH": "/usr/bin:/bin", "LANG": "C.UTF-8", "LD_LIBRARY_PATH": ""}
    for name in ("HOME", "XDG_DATA_HOME"):
        if name in os.environ:
            env[name] = os.environ[name]
    env.update(extra)
    return env


def png_size(path):
    header = path.read_bytes()[:24]
    assert header[:8] == b"\x89PNG\r\n\x1a\n", path
    return int.from_bytes(header[16:20], "big"), int.from_bytes(header[20:24], "big")


class InstalledTreeTests(unittest.TestCase):
    def setUp(self):
        self.dir = Path(tempfile.mkdtemp(prefix="installed-tree-"))
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)
        # A prefix like ~/.local: folders and another application's files are there already.
        self.prefix = self.dir / "prefix"
        (self.prefix / "bin").mkdir(parents=True)
        (self.prefix / "share" / "applications").mkdir(parents=True)
        (self.prefix / "share" / "applications" / "other.desktop").write_text("[Desktop Entry]\n")
        self.before = tree(self.prefix)

    def script(self, *args):
        env = dict(os.environ, TC_BUILD_DIR=str(BUILD_DIR))
        result = subprocess.run([str(ROOT / "scripts" / "install"), *args], env=env, capture_output=True,
                                text=True, timeout=600, check=False)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    def test_InstalledProgramTranscribesFromAnyFolderAndUninstallLeavesThePrefixAsItWas(self):
        self.script("--no-build", str(self.prefix))
        program = self.prefix / "bin" / "transcription-corvane"
        share = self.prefix / "share"

        with self.subTest("files in place"):
            for path in (program, self.prefix / ENGINE_DIR / "libtc_whisper.so",
                         self.prefix / ENGINE_DIR / "libtc_llama.so", share / "transcription-corvane" / "models.json",
                         share / "icons" / "hicolor" / "scalable" / "apps" / f"{APP_ID}.svg"):
                self.assertTrue(path.is_file(), path)
            for size in (48, 128, 256):
                icon = share / "icons" / "hicolor" / f"{size}x{size}" / "apps" / f"{APP_ID}.png"
                self.assertEqual(png_size(icon), (size, size))

        desktop = share / "applications" / f"{APP_ID}.desktop"
        metainfo = share / "metainfo" / f"{APP_ID}.metainfo.xml"
        with self.subTest("launcher entry and metainfo validate"):
            result = subprocess.run(["desktop-file-validate", str(desktop)], capture_output=True, text=True)
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
            self.assertNotIn("error:", result.stdout + result.stderr)
            entry = desktop.read_text(encoding="utf-8")
            self.assertIn(f"Exec={program}\n", entry)
            self.assertIn("Name[ja]=", entry)
            self.assertIn("Comment[ja]=", entry)
            self.assertIn("Categories=AudioVideo;Audio;Utility;Accessibility;\n", entry)
            result = subprocess.run(["appstreamcli", "validate", "--no-net", str(metainfo)], capture_output=True,
                                    text=True)
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
            self.assertIn('xml:lang="ja"', metainfo.read_text(encoding="utf-8"))
            # The tree as a whole: the entry the metainfo launches is there.
            result = subprocess.run(["appstreamcli", "validate-tree", "--no-net", str(self.prefix)],
                                    capture_output=True, text=True)
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

        with self.subTest("engines found through the prefix only"):
            dynamic = subprocess.run(["readelf", "-d", str(program)], capture_output=True, text=True).stdout
            paths = re.findall(r"\((?:RPATH|RUNPATH)\)\s+Library r(?:un)?path: \[(.*)\]", dynamic)
            self.assertEqual(paths, [f"$ORIGIN/../{ENGINE_DIR}"], dynamic)
            linked = subprocess.run(["ldd", str(program)], env=scrubbed_environment(), capture_output=True,
                                    text=True).stdout
            resolved = {name: Path(path).resolve() for name, path in re.findall(r"(\S+) => (\S+) \(", linked)}
            for engine in ("libtc_whisper.so", "libtc_llama.so"):
                self.assertEqual(resolved.get(engine), self.prefix / ENGINE_DIR / engine, linked)

        with self.subTest("no path back to the source tree, the build tree or the engine cache"):
            stripped = self.dir / "stripped"
            subprocess.run(["objcopy", "--strip-debug", str(program), str(stripped)], check=True)
            contents = stripped.read_bytes()
            cache = Path(os.environ.get("TC_CACHE_DIR") or Path.home() / ".cache" / "transcription-corvane")
            for origin in (ROOT, BUILD_DIR, cache):
                self.assertNotIn(str(origin).encode(), contents)
            stripped.unlink()

        # The prefix moved elsewhere and the sample copied out: nothing may lead back to the trees it came from.
        moved = self.dir / "moved"
        elsewhere = self.dir / "elsewhere"
        elsewhere.mkdir()
        shutil.copy(ROOT / "samples" / "ja-sample.flac", elsewhere / "会議.flac")
        self.prefix.rename(moved)
        try:
            with self.subTest("moved prefix finds its own catalogue"):
                result = subprocess.run([str(moved / "bin" / "transcription-corvane"), "--print-paths"],
                                        cwd=elsewhere, env=scrubbed_environment(), capture_output=True, text=True,
                                        timeout=60)
                self.assertIn(f"TC_MODEL_CATALOGUE={moved}/share/transcription-corvane/models.json",
                              result.stdout)
            with self.subTest("moved prefix runs its own model installer, as the settings window does"):
                installer = moved / "share" / "transcription-corvane" / "install-models"
                self.assertIn(f"TC_MODEL_INSTALLER={installer}", result.stdout)
                listing = subprocess.run(["python3", str(installer), "--list", "--json"], cwd=elsewhere,
                                         env=scrubbed_environment(), capture_output=True, text=True, timeout=60)
                self.assertEqual(listing.returncode, 0, listing.stderr)
                self.assertIn({"name": "base", "kind": "speech", "file": "ggml-base.bin", "bytes": 147951465,
                               "check": "sha1", "source": "host", "sources": ["host", "registry"]},
                              json.loads(listing.stdout))
            with self.subTest("moved prefix transcribes the sample"):
                result = subprocess.run([str(moved / "bin" / "transcription-corvane"), "--transcribe", "会議.flac"],
                                        cwd=elsewhere, env=scrubbed_environment(), capture_output=True, text=True,
                                        timeout=600)
                self.assertEqual(result.returncode, 0, result.stderr)
                assert_reads_like_sample(self, result.stdout)
        finally:
            moved.rename(self.prefix)

        with self.subTest("the window's class is the entry's StartupWMClass"):
            self.check_window_class(program, desktop.read_text(encoding="utf-8"))

        # An update installs over the old copy; the uninstall still restores the prefix from before the first.
        self.script("--no-build", str(self.prefix))
        self.script("--uninstall", str(self.prefix))
        self.assertEqual(tree(self.prefix), self.before)

    def check_window_class(self, program, entry):
        if shutil.which("Xvfb") is None or shutil.which("xprop") is None or shutil.which("xdotool") is None:
            self.skipTest("Xvfb, xprop and xdotool are installed by scripts/setup")
        wanted = re.search(r"^StartupWMClass=(.*)$", entry, re.M).group(1)
        # A private display and private folders: the user's history and settings stay untouched.
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"],
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.addCleanup(xvfb.wait)
        self.addCleanup(xvfb.terminate)
        with xvfb.stdout:
            display = ":" + xvfb.stdout.readline().decode().strip()
        home = self.dir / "home"
        (home / "run").mkdir(parents=True)
        (home / "run").chmod(0o700)
        env = scrubbed_environment(DISPLAY=display, QT_QPA_PLATFORM="xcb", XDG_CONFIG_HOME=str(home / "config"),
                                   XDG_RUNTIME_DIR=str(home / "run"), XDG_CACHE_HOME=str(home / "cache"),
                                   XDG_DATA_HOME=str(home / "data"))
        app = subprocess.Popen([str(program)], cwd=self.dir, env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
        try:
            classes = ""
            deadline = time.monotonic() + 60
            while not classes and time.monotonic() < deadline and app.poll() is None:
                found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "."], env=env,
                                       capture_output=True, text=True).stdout.split()
                for window in found:
                    classes += subprocess.run(["xprop", "-id", window, "WM_CLASS"], env=env, capture_output=True,
                                              text=True).stdout
                if not classes:
                    time.sleep(0.2)
            self.assertRegex(classes, rf'WM_CLASS\(STRING\) = "[^"]*", "{re.escape(wanted)}"')
        finally:
            app.terminate()
            app.wait(timeout=60)


if __name__ == "__main__":
    unittest.main()
