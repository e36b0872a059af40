#!/usr/bin/env python3
"""Runs scripts/install-models against a local HTTP server on 127.0.0.1 that stands in for the models' host.

The server serves generated files under the host's path layout (<repo>/resolve/<revision>/<file>), fault by fault:
redirects, no range support, a dropped connection, a truncated body, a wrong checksum, a 404, a stalled link and,
as root, a full disk (a small tmpfs mounted by the test).
"""

import hashlib
import http.server
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
SCRIPT = ROOT / "scripts" / "install-models"
MiB = 1024 * 1024
sys.path.insert(0, str(ROOT / "tests" / "support"))
from model_host import REPO, Handler, Host  # noqa: E402


class ModelDownloadTests(unittest.TestCase):
    def setUp(self):
        self.dir = Path(tempfile.mkdtemp(prefix="model-download-"))
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)
        self.models = self.dir / "models"
        self.models.mkdir()
        self.host = Host()
        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.server.daemon_threads = True
        self.server.host = self.host
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        self.addCleanup(self.server.server_close)
        self.addCleanup(self.server.shutdown)
        self.addCleanup(self.host.released.set)
        self.endpoint = f"http://127.0.0.1:{self.server.server_address[1]}/mirror/"

    def serve(self, name, data, check, linked=True, catalogue_bytes=True):
        """Serves data as ggml-<name>.bin and lists it in the test catalogue with the given check."""
        file = f"ggml-{name}.bin"
        self.host.files[file] = data
        if linked:
            self.host.linked[file] = (len(data), hashlib.sha256(data).hexdigest())
        entry = {"name": name, "file": file, "bytes": len(data) if catalogue_bytes else None, "check": check}
        if check == "sha1":
            entry["sha1"] = hashlib.sha1(data).hexdigest()
        catalogue = self.dir / "catalogue.json"
        current = json.loads(catalogue.read_text()) if catalogue.exists() else {
            "speech": {"default": name, "checksum": "sha1", "download": {"repo": REPO, "revision": "main"},
                       "models": []},
            "language": {"default": "none", "checksum": "sha256", "models": []}}
        current["speech"]["models"].append(entry)
        catalogue.write_text(json.dumps(current), encoding="utf-8")
        return self.models / file

    def environment(self, **extra):
        env = {k: v for k, v in os.environ.items() if "proxy" not in k.lower() and not k.startswith("HF_")}
        env.update({"HF_ENDPOINT": self.endpoint, "TC_CACHE_DIR": str(self.dir / "cache")}, **extra)
        return env

    def arguments(self, name):
        return [sys.executable, str(SCRIPT), "--models-dir", str(self.models), "--catalogue",
                str(self.dir / "catalogue.json"), "--speech-model", name, "--no-language-model", "--progress-json"]

    def install(self, name, **env):
        result = subprocess.run(self.arguments(name), capture_output=True, text=True, timeout=300, check=False,
                                env=self.environment(**env))
        lines = [json.loads(line) for line in result.stdout.splitlines() if line.startswith("{")]
        return result.returncode, lines, result.stderr

    def leftovers(self):
        return sorted(p.name for p in self.models.iterdir() if not p.name.endswith(".lock"))

    def test_Redirected_CheckedByTheHostsSha256_ThenRecordedAndNotFetchedAgain(self):
        data = os.urandom(3 * MiB + 17)
        target = self.serve("hosted", data, "host-sha256")
        self.host.token = "t0ken"
        status, lines, log = self.install("hosted", HF_TOKEN="t0ken")
        self.assertEqual(status, 0, log)
        self.assertEqual(target.read_bytes(), data)
        phases = [line["phase"] for line in lines]
        self.assertEqual(phases[0], "download")
        self.assertEqual(phases[-2:], ["verify", "done"])
        self.assertTrue(all(line["total"] == len(data) for line in lines if line["phase"] == "download"))
        # The host's digest is what later starts check the file by.
        record = json.loads((self.models / ".verified.json").read_text())[target.name]
        self.assertEqual(record["digest"], hashlib.sha256(data).hexdigest())
        self.assertEqual(self.leftovers(), [".verified.json", target.name])
        self.assertTrue(self.host.seen(lambda r: r["path"].startswith("/mirror/") and
                                       r["authorization"] == "Bearer t0ken"))

        before = len(self.host.requests)
        status, _, log = self.install("hosted")
        self.assertEqual(status, 0, log)
        self.assertIn("already installed", log)
        self.assertEqual(len(self.host.requests), before)

        # Changed in place: checked against the recorded digest and fetched again.
        with target.open("r+b") as f:
            f.write(b"x")
        status, _, log = self.install("hosted", HF_TOKEN="t0ken")
        self.assertEqual(status, 0, log)
        self.assertIn("checksum does not match", log)
        self.assertEqual(target.read_bytes(), data)

    def test_DroppedConnection_ResumedWithARangeRequest(self):
        data = os.urandom(4 * MiB)
        target = self.serve("signed", data, "sha1")
        self.host.drops[target.name] = MiB
        status, _, log = self.install("signed")
        self.assertEqual(status, 0, log)
        self.assertEqual(target.read_bytes(), data)
        self.assertEqual([r["range"] for r in self.host.seen(lambda r: r["path"].startswith("/content/"))],
                         [None, f"bytes={MiB}-"])
        self.assertEqual(self.leftovers(), [".verified.json", target.name])

    def test_HostWithoutRangeSupport_StartsAgainCleanly(self):
        data = os.urandom(4 * MiB)
        target = self.serve("signed", data, "sha1")
        self.host.ranges = False
        self.host.drops[target.name] = MiB
        status, _, log = self.install("signed")
        self.assertEqual(status, 0, log)
        self.assertIn("does not resume", log)
        self.assertEqual(target.read_bytes(), data)

    def test_FileChangedOnTheHost_KeptBytesDiscarded(self):
        data = os.urandom(2 * MiB)
        target = self.serve("hosted", data, "host-sha256")
        part = self.models / f".{target.name}.download"
        part.write_bytes(os.urandom(MiB))
        url = f"{self.endpoint.rstrip('/')}/{REPO}/resolve/main/{target.name}"
        (self.models / f".{target.name}.download.json").write_text(
            json.dumps({"url": url, "validator": "0" * 64, "total": 2 * MiB}))
        status, _, log = self.install("hosted")
        self.assertEqual(status, 0, log)
        self.assertIn("changed on the host", log)
        self.assertEqual(target.read_bytes(), data)
        self.assertFalse(part.exists())

    def test_DownloadKilledBeforeItsCheck_CheckedAndPlacedWithoutFetchingAgain(self):
        data = os.urandom(2 * MiB)
        target = self.serve("hosted", data, "host-sha256")
        (self.models / f".{target.name}.download").write_bytes(data)
        url = f"{self.endpoint.rstrip('/')}/{REPO}/resolve/main/{target.name}"
        (self.models / f".{target.name}.download.json").write_text(
            json.dumps({"url": url, "validator": hashlib.sha256(data).hexdigest(), "total": len(data)}))
        status, _, log = self.install("hosted")
        self.assertEqual(status, 0, log)
        self.assertEqual(target.read_bytes(), data)
        self.assertEqual([r["range"] for r in self.host.seen(lambda r: r["path"].startswith("/content/"))],
                         [f"bytes={len(data)}-"])
        self.assertEqual(self.leftovers(), [".verified.json", target.name])

    def test_TruncatedBody_NeverInstalled(self):
        data = os.urandom(2 * MiB)
        target = self.serve("signed", data, "sha1")
        self.host.ranges = False
        self.host.truncate[target.name] = MiB
        status, lines, log = self.install("signed")
        self.assertEqual(status, 1, log)
        self.assertEqual(lines[-1]["phase"], "error")
        self.assertIn("接続が何度も切れた", lines[-1]["message"])
        self.assertFalse(target.exists())
        # 1 + RETRIES attempts, then a message saying what to do.
        self.assertEqual(len(self.host.seen(lambda r: r["path"].startswith("/content/"))), 4)

    def test_WrongChecksum_NeverInstalledAndNothingKept(self):
        data = os.urandom(MiB)
        signed = self.serve("signed", data, "sha1")
        self.host.files[signed.name] = os.urandom(MiB)
        status, lines, log = self.install("signed")
        self.assertEqual(status, 1, log)
        self.assertIn("チェックサム", lines[-1]["message"])
        self.assertFalse(signed.exists())

        hosted = self.serve("hosted", data, "host-sha256")
        self.host.linked[hosted.name] = (len(data), hashlib.sha256(b"other").hexdigest())
        status, lines, log = self.install("hosted")
        self.assertEqual(status, 1, log)
        self.assertIn("配布元の示す値", lines[-1]["message"])
        self.assertFalse(hosted.exists())
        self.assertEqual(self.leftovers(), [])

        # A host that reports no digest cannot vouch for a file that has none in the catalogue.
        unsigned = self.serve("unsigned", data, "host-sha256", linked=False)
        status, lines, log = self.install("unsigned")
        self.assertEqual(status, 1, log)
        self.assertIn("チェックサム (SHA-256) を示さない", lines[-1]["message"])
        self.assertFalse(unsigned.exists())

    def test_MissingFileAndRefusedToken_FailAtOnceWithTheirReason(self):
        self.serve("signed", os.urandom(1000), "sha1")
        del self.host.files["ggml-signed.bin"]
        status, lines, log = self.install("signed")
        self.assertEqual(status, 1, log)
        self.assertIn("HTTP 404", lines[-1]["message"])
        self.assertEqual(len(self.host.requests), 1)

        self.host.files["ggml-signed.bin"] = os.urandom(1000)
        self.host.token = "right"
        status, lines, log = self.install("signed", HF_TOKEN="wrong")
        self.assertEqual(status, 1, log)
        self.assertIn("HF_TOKEN", lines[-1]["message"])

    def test_SlowLink_CancelledMidwayThenResumed(self):
        data = os.urandom(6 * MiB)
        target = self.serve("signed", data, "sha1")
        self.host.stall_after = 2 * MiB
        child = subprocess.Popen(self.arguments("signed"), stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                 env=self.environment())
        try:
            for line in child.stdout:
                event = json.loads(line)
                if event["phase"] == "download" and event["done"] >= 2 * MiB:
                    break
            child.send_signal(signal.SIGTERM)
            output = child.stdout.read()
            child.wait(timeout=60)
        finally:
            child.kill()
            child.stdout.close()
            child.stderr.close()
        self.assertEqual(child.returncode, 128 + signal.SIGTERM)
        self.assertIn("中止しました", output)
        self.assertFalse(target.exists())
        kept = (self.models / f".{target.name}.download").stat().st_size
        self.assertEqual(kept, 2 * MiB)

        self.host.released.set()
        status, _, log = self.install("signed")
        self.assertEqual(status, 0, log)
        self.assertEqual(target.read_bytes(), data)
        self.assertEqual(self.host.seen(lambda r: r["path"].startswith("/content/"))[-1]["range"],
                         f"bytes={kept}-")

    def test_ProxyFromTheEnvironment_CarriesTheDownload(self):
        data = os.urandom(MiB)
        target = self.serve("signed", data, "sha1")
        proxy = f"http://127.0.0.1:{self.server.server_address[1]}"
        # A name that never resolves: only the proxy can reach it.
        self.endpoint = "http://models.invalid/mirror"
        status, _, log = self.install("signed", http_proxy=proxy)
        self.assertEqual(status, 0, log)
        self.assertEqual(target.read_bytes(), data)
        proxied = self.host.seen(lambda r: r["proxied"])
        self.assertTrue(proxied)
        self.assertTrue(proxied[0]["url"].startswith("http://models.invalid/mirror/test/models/resolve/main/"))

    @unittest.skipUnless(os.geteuid() == 0 and shutil.which("mount"), "mounting a small tmpfs needs root")
    def test_FullDisk_RefusedBeforeAndDuringTheDownload(self):
        mount = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", str(self.models)],
                               capture_output=True, text=True, check=False)
        if mount.returncode != 0:
            self.skipTest(f"tmpfs cannot be mounted here: {mount.stderr.strip()}")
        self.addCleanup(subprocess.run, ["umount", "-l", str(self.models)], check=False)
        data = os.urandom(3 * MiB)
        target = self.serve("sized", data, "sha1")
        status, lines, log = self.install("sized")
        self.assertEqual(status, 1, log)
        self.assertIn("空き容量が足りない", lines[-1]["message"])
        # Refused on the size the host reports, before a byte is written.
        self.assertEqual(self.leftovers(), [])

        # Nothing tells the size beforehand: the disk fills while writing.
        self.host.sized = False
        self.serve("sizeless", data, "sha1", linked=False, catalogue_bytes=False)
        status, lines, log = self.install("sizeless")
        self.assertEqual(status, 1, log)
        self.assertIn("空き容量が足りない", lines[-1]["message"])
        self.assertFalse((self.models / "ggml-sizeless.bin").exists())


if __name__ == "__main__":
    unittest.main(verbosity=2)
