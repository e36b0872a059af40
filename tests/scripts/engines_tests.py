#!/usr/bin/env python3
"""Checks the engines installed by scripts/build-engines: both load, with the installed models, in one process."""

import os
import shutil
import subprocess
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]


def app_paths():
    # The folders as scripts/common.sh and the built program work them out.
    script = f'source "{ROOT}/scripts/common.sh" && tc_app_paths && env'
    result = subprocess.run(["bash", "-c", script], capture_output=True, text=True, check=True)
    return dict(line.split("=", 1) for line in result.stdout.splitlines() if line.startswith("TC_"))


def engines_root():
    lock = (ROOT / "scripts" / "engines.lock").read_text(encoding="utf-8")
    engines_id = next(line.split("=", 1)[1] for line in lock.splitlines() if line.startswith("ENGINES_ID="))
    return Path(app_paths()["TC_CACHE_DIR"]) / "engines" / engines_id


def models_dir():
    return Path(app_paths()["TC_MODELS_DIR"])


def exported(library):
    result = subprocess.run(["nm", "-D", "--defined-only", str(library)], capture_output=True, text=True, check=True)
    return {line.split()[-1] for line in result.stdout.splitlines() if line.strip()}


class EnginesTests(unittest.TestCase):
    def test_Libraries_ExportTheirEngineApiAndNoGgml(self):
        for engine, needed in (("whisper", {"whisper_init_from_file_with_params", "whisper_full"}),
                               ("llama", {"llama_model_load_from_file", "llama_sampler_init_grammar",
                                          "tc_llama_json_schema_to_grammar"})):
            symbols = exported(engines_root() / "lib" / f"libtc_{engine}.so")
            self.assertTrue(needed <= symbols, f"{engine}: missing {needed - symbols}")
            leaked = sorted(s for s in symbols if s.startswith(("ggml_", "gguf_")))
            self.assertEqual(leaked, [], f"{engine} exports ggml symbols")

    def test_BothEngines_LoadTheInstalledModelsInOneProcess(self):
        whisper_model = models_dir() / "ggml-base.bin"
        llama_model = models_dir() / "gemma-3-270m-Q4_K_M.gguf"
        for model in (whisper_model, llama_model):
            self.assertTrue(model.is_file(), f"{model} is missing: run scripts/install-models")
        result = subprocess.run([str(engines_root() / "bin" / "tc-engines-check"),
                                 "--whisper-model", str(whisper_model), "--llama-model", str(llama_model)],
                                capture_output=True, text=True, timeout=300, check=False)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertIn("multilingual=1", result.stdout)
        self.assertIn("gemma3", result.stdout)
        self.assertIn("engines ok", result.stdout)

    def test_WhisperEngine_NeedsNoVulkanToLoad(self):
        library = engines_root() / "lib" / "libtc_whisper.so"
        dynamic = subprocess.run(["readelf", "-d", str(library)], capture_output=True, text=True, check=True).stdout
        self.assertNotIn("libvulkan", dynamic)
        check = str(engines_root() / "bin" / "tc-engines-check")
        # A loader that finds no driver: the engine says there is no device and goes on.
        no_driver = dict(os.environ, VK_ICD_FILENAMES="/nonexistent/icd.json", VK_DRIVER_FILES="/nonexistent/icd.json",
                         GGML_VK_VISIBLE_DEVICES="0")
        result = subprocess.run([check], capture_output=True, text=True, timeout=120, env=no_driver, check=False)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertIn("device: none", result.stdout)
        # No libvulkan at all: the library file hidden in a mount namespace of this test's own.
        vulkan = Path("/usr/lib/x86_64-linux-gnu/libvulkan.so.1")
        if not vulkan.exists() or os.geteuid() != 0 or not shutil.which("unshare"):
            self.skipTest("hiding libvulkan needs root, unshare and the library itself")
        hidden = subprocess.run(["unshare", "-m", "sh", "-c",
                                 f'mount --bind /dev/null "$(readlink -f {vulkan})" && exec "$0"', check],
                                capture_output=True, text=True, timeout=120, check=False)
        if "mount" in hidden.stderr and hidden.returncode != 0 and "engines ok" not in hidden.stdout:
            self.skipTest("this machine does not allow a private mount namespace: " + hidden.stderr.strip())
        self.assertEqual(hidden.returncode, 0, hidden.stdout + hidden.stderr)
        self.assertIn("device: none", hidden.stdout)


if __name__ == "__main__":
    unittest.main(verbosity=2)
