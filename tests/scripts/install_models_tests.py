#!/usr/bin/env python3
"""Runs scripts/install-models against the real registry packages, into a temporary models folder.

Downloads are shared with the user's cache, so after scripts/setup these tests fetch nothing. The models' host is
named by a mirror that never resolves, so each install falls back to the registry as it would for a user who cannot
reach the host (tests/scripts/model_download_tests.py tests the host itself, on a local server).
"""

import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
SCRIPT = ROOT / "scripts" / "install-models"
CATALOGUE = json.loads((ROOT / "data" / "models.json").read_text(encoding="utf-8"))


UNREACHABLE_HOST = dict({k: v for k, v in os.environ.items() if "proxy" not in k.lower()},
                        HF_ENDPOINT="http://models.invalid")


def catalogue_entry(kind, name):
    return next(m for m in CATALOGUE[kind]["models"] if m["name"] == name)


BASE = catalogue_entry("speech", "base")
GEMMA = catalogue_entry("language", CATALOGUE["language"]["default"])
VOICE = catalogue_entry("voice", CATALOGUE["voice"]["default"])


def digest(path, algorithm):
    h = hashlib.new(algorithm)
    with open(path, "rb") as f:
        while block := f.read(1 << 22):
            h.update(block)
    return h.hexdigest()


class InstallModelsTests(unittest.TestCase):
    def setUp(self):
        self.dir = Path(tempfile.mkdtemp(prefix="install-models-"))
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)

    def run_script(self, *args):
        result = subprocess.run([sys.executable, str(SCRIPT), "--models-dir", str(self.dir), *args],
                                capture_output=True, text=True, timeout=900, check=False, env=UNREACHABLE_HOST)
        return result.returncode, result.stdout + result.stderr

    def leftovers(self):
        return sorted(p.name for p in self.dir.glob(".*.partial"))

    def test_Base_IsRebuiltBitForBitAndRerunsWithoutHashing(self):
        status, output = self.run_script("--no-language-model")
        self.assertEqual(status, 0, output)
        self.assertIn("host failed", output)
        installed = self.dir / BASE["file"]
        self.assertEqual(installed.stat().st_size, BASE["bytes"])
        self.assertEqual(digest(installed, "sha1"), BASE["sha1"])
        # The voice model comes with the speech model.
        self.assertEqual(digest(self.dir / VOICE["file"], "sha256"), VOICE["sha256"])
        self.assertEqual(self.leftovers(), [])

        status, output = self.run_script("--no-language-model")
        self.assertEqual(status, 0, output)
        self.assertIn("already installed", output)
        self.assertNotIn("verifying", output)

        # A voice model lost or cut short beside a sound speech model is put back on its own.
        voice = self.dir / VOICE["file"]
        for damage in (voice.unlink, lambda: os.truncate(voice, 1000)):
            damage()
            status, output = self.run_script("--no-language-model")
            self.assertEqual(status, 0, output)
            self.assertIn("base: already installed", output)
            self.assertEqual(digest(voice, "sha256"), VOICE["sha256"])

    def test_Base_ChangedByteIsDetectedAndReplaced(self):
        self.assertEqual(self.run_script("--no-language-model")[0], 0)
        installed = self.dir / BASE["file"]
        with open(installed, "r+b") as f:
            f.seek(1_000_000)
            byte = f.read(1)
            f.seek(1_000_000)
            f.write(bytes([byte[0] ^ 0xFF]))

        status, output = self.run_script("--no-language-model")
        self.assertEqual(status, 0, output)
        self.assertIn("checksum does not match", output)
        self.assertEqual(digest(installed, "sha1"), BASE["sha1"])

    def test_LanguageModel_IsAssembledAndVerified(self):
        status, output = self.run_script("--no-speech-model")
        self.assertEqual(status, 0, output)
        installed = self.dir / GEMMA["file"]
        self.assertEqual(installed.stat().st_size, GEMMA["bytes"])
        self.assertEqual(digest(installed, "sha256"), GEMMA["sha256"])

    def test_From_WrongFileIsNeverInstalledAndKeepsTheGoodOne(self):
        bogus = self.dir / "bogus.bin"
        bogus.write_bytes(os.urandom(4096))
        status, output = self.run_script("--no-language-model", "--from", str(bogus))
        self.assertEqual(status, 1, output)
        self.assertFalse((self.dir / BASE["file"]).exists())
        self.assertEqual(self.leftovers(), [])

        self.assertEqual(self.run_script("--no-language-model")[0], 0)
        same_size = self.dir / "same-size.bin"
        with open(same_size, "wb") as f:
            f.truncate(BASE["bytes"])
        status, output = self.run_script("--no-language-model", "--from", str(same_size))
        self.assertEqual(status, 1, output)
        self.assertIn("チェックサム", output)
        self.assertEqual(digest(self.dir / BASE["file"], "sha1"), BASE["sha1"])
        self.assertEqual(self.leftovers(), [])

    def test_Arguments_RefusedWithTheirOwnStatus(self):
        status, output = self.run_script("--speech-model", "no-such-model", "--no-language-model")
        self.assertEqual(status, 2, output)
        self.assertIn("--list", output)

        # Checked by the host's digest: nothing to check a file from elsewhere against.
        status, output = self.run_script("--speech-model", "base-q5_1", "--no-language-model", "--from", str(SCRIPT))
        self.assertEqual(status, 2, output)
        self.assertIn("ファイルからは取り込めません", output)

        # The host alone has it, and cannot be reached: the reason says what to check.
        status, output = self.run_script("--speech-model", "tiny", "--no-language-model")
        self.assertEqual(status, 1, output)
        self.assertIn("HF_ENDPOINT", output)

        catalogue = self.dir / "catalogue.json"
        catalogue.write_text(json.dumps({
            "speech": {"default": "t", "checksum": "sha1", "models": [
                {"name": "unchecked", "file": "ggml-unchecked.bin", "bytes": None, "sha1": None},
                {"name": "sourceless", "file": "ggml-sourceless.bin", "bytes": 1, "sha1": "0" * 40}]},
            "language": {"default": "none", "checksum": "sha256", "models": []}}), encoding="utf-8")
        status, output = self.run_script("--catalogue", str(catalogue), "--speech-model", "unchecked",
                                         "--no-language-model")
        self.assertEqual(status, 2, output)
        self.assertIn("チェックサムがない", output)
        status, output = self.run_script("--catalogue", str(catalogue), "--speech-model", "sourceless",
                                         "--no-language-model")
        self.assertEqual(status, 3, output)
        self.assertIn("--from", output)

        status, output = self.run_script("--from", str(SCRIPT))
        self.assertEqual(status, 2, output)
        self.assertEqual(list(self.dir.glob("*.bin")) + list(self.dir.glob("*.gguf")), [])

    def test_LocalCatalogue_ProgressLinesAndALeftoverOfAKilledInstallSwept(self):
        payload = os.urandom(5 * 1024 * 1024)
        source = self.dir / "download.bin"
        source.write_bytes(payload)
        catalogue = self.dir / "catalogue.json"
        catalogue.write_text(json.dumps({
            "speech": {"default": "t", "checksum": "sha1", "models": [
                {"name": "t", "file": "ggml-t.bin", "bytes": len(payload),
                 "sha1": hashlib.sha1(payload).hexdigest()}]},
            "language": {"default": "none", "checksum": "sha256", "models": []}}), encoding="utf-8")
        (self.dir / ".ggml-t.bin.killed.partial").write_bytes(payload[:100])
        result = subprocess.run([sys.executable, str(SCRIPT), "--models-dir", str(self.dir), "--catalogue",
                                 str(catalogue), "--no-language-model", "--from", str(source), "--progress-json"],
                                capture_output=True, text=True, timeout=120, check=False)
        self.assertEqual(result.returncode, 0, result.stderr)
        lines = [json.loads(line) for line in result.stdout.splitlines()]
        self.assertEqual([line["phase"] for line in lines], ["copy", "copy", "verify", "done"])
        self.assertEqual(lines[-1], {"phase": "done", "done": len(payload), "total": len(payload)})
        self.assertEqual(self.leftovers(), [])
        self.assertEqual((self.dir / "ggml-t.bin").read_bytes(), payload)

        source.write_bytes(payload[:-1] + b"x")
        result = subprocess.run([sys.executable, str(SCRIPT), "--models-dir", str(self.dir), "--catalogue",
                                 str(catalogue), "--no-language-model", "--from", str(source), "--progress-json"],
                                capture_output=True, text=True, timeout=120, check=False)
        self.assertEqual(result.returncode, 1)
        error = json.loads(result.stdout.splitlines()[-1])
        self.assertEqual((error["phase"], error["status"]), ("error", 1))
        self.assertIn("チェックサム", error["message"])
        self.assertEqual((self.dir / "ggml-t.bin").read_bytes(), payload)


if __name__ == "__main__":
    unittest.main(verbosity=2)
