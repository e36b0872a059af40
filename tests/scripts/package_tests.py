#!/usr/bin/env python3
"""Builds the Debian package with scripts/package, installs it with apt-get into a clean Debian 12 root made with
mmdebstrap from this machine's own apt sources, transcribes the sample there without a display, then purges the
package and checks that nothing of it is left.

Usage: package_tests.py BUILD_DIR

Needs root (chroot and mounts in a private mount namespace) and the network to the apt sources. The base root is
kept as a tarball in the user cache (TC_CACHE_DIR, by default ~/.cache/transcription-corvane/package-root), and
so are the packages apt downloads into it, so a second run downloads only what changed.
"""

import hashlib
import io
import json
import os
import re
import shutil
import subprocess
import sys
import tarfile
import tempfile
import time
import unittest
from pathlib import Path

from sample_transcript import assert_reads_like_sample

ROOT = Path(__file__).resolve().parents[2]
BUILD_DIR = Path(sys.argv.pop(1)).resolve() if len(sys.argv) > 1 else ROOT / "build"
PACKAGE = "transcription-corvane"
SUITE = "bookworm"
# The root is rebuilt after this long, so the packages it starts from stay close to the archive's.
ROOT_MAX_AGE = 7 * 24 * 3600
# Bumped when the way the base root is made changes.
ROOT_RECIPE = "mmdebstrap --variant=apt, lists kept, 1"
# What apt and dpkg keep about themselves; everything else must be as it was before the install.
APT_STATE = ("var/lib/apt/", "var/lib/dpkg/", "var/cache/apt/", "var/cache/debconf/", "var/log/")
# Mount points and scratch folders of the root, never compared.
NOT_COMPARED = ("proc/", "sys/", "dev/", "tmp/", "run/")


def cache_dir():
    # The rule of scripts/common.sh: relative values count as unset.
    for variable, suffix in (("TC_CACHE_DIR", ""), ("XDG_CACHE_HOME", "transcription-corvane")):
        value = os.environ.get(variable, "")
        if value.startswith("/"):
            return Path(value) / suffix
    return Path.home() / ".cache" / "transcription-corvane"


def deb822_stanzas(text):
    stanza, key = {}, None
    for line in text.splitlines() + [""]:
        if line.startswith("#"):
            continue
        if not line.strip():
            if stanza:
                yield stanza
            stanza, key = {}, None
        elif line[0] in " \t" and key:
            stanza[key] += " " + line.strip()
        elif ":" in line:
            key, value = line.split(":", 1)
            key = key.strip().lower()
            stanza[key] = value.strip()


def one_line_entries(text):
    for line in text.splitlines():
        line = line.split("#", 1)[0].strip()
        if not line:
            continue
        options = {}
        match = re.match(r"^(deb|deb-src)\s+(?:\[([^\]]*)\]\s+)?(\S+)\s+(\S+)\s*(.*)$", line)
        if not match:
            continue
        for option in (match.group(2) or "").split():
            if "=" in option:
                name, value = option.split("=", 1)
                options[name.lower()] = value
        yield {"types": match.group(1), "uris": match.group(3), "suites": match.group(4),
               "components": match.group(5), "signed-by": options.get("signed-by", "")}


def machine_sources():
    """The machine's own Debian 12 entries (deb822), read from its apt configuration."""
    folder = Path("/etc/apt/sources.list.d")
    entries = []
    files = [Path("/etc/apt/sources.list")] + sorted(folder.glob("*.list")) + sorted(folder.glob("*.sources"))
    for path in files:
        if not path.is_file():
            continue
        text = path.read_text(encoding="utf-8", errors="replace")
        entries += deb822_stanzas(text) if path.suffix == ".sources" else one_line_entries(text)
    wanted = {SUITE, f"{SUITE}-updates", f"{SUITE}-security"}
    stanzas = []
    for entry in entries:
        if entry.get("enabled", "yes").lower() == "no" or "deb" not in entry.get("types", "").split():
            continue
        suites = [s for s in entry.get("suites", "").split() if s in wanted]
        if not suites or not entry.get("uris") or not entry.get("components"):
            continue
        stanza = ["Types: deb", f"URIs: {entry['uris']}", f"Suites: {' '.join(suites)}",
                  f"Components: {entry['components']}"]
        if entry.get("signed-by"):
            stanza.append(f"Signed-By: {entry['signed-by']}")
        stanzas.append("\n".join(stanza) + "\n")
    return "\n".join(stanzas)


def file_list(root):
    """Every path in the root with its kind, apt's state and the mount points left out."""
    listed = set()
    for folder, dirs, files in os.walk(root):
        relative = os.path.relpath(folder, root)
        relative = "" if relative == "." else relative + "/"
        for name in dirs + files:
            path = relative + name
            full = os.path.join(folder, name)
            if os.path.islink(full):
                kind = "link"
            elif os.path.isdir(full):
                kind, path = "dir", path + "/"
            else:
                kind = "file"
            if path.startswith(APT_STATE) or path.startswith(NOT_COMPARED):
                continue
            listed.add((path, kind))
        dirs[:] = [d for d in dirs if not os.path.islink(os.path.join(folder, d))]
    return listed


def package_paths(deb):
    """The paths a .deb puts in place, written as file_list writes them."""
    tar = subprocess.run(["dpkg-deb", "--fsys-tarfile", str(deb)], capture_output=True, check=True).stdout
    with tarfile.open(fileobj=io.BytesIO(tar)) as archive:
        return {member.name.removeprefix("./") + ("/" if member.isdir() else "") for member in archive.getmembers()
                if member.name not in (".", "./")}


def link_all(files, folder):
    for file in files:
        target = folder / file.name
        if target.exists():
            continue
        try:
            os.link(file, target)
        except OSError:
            shutil.copy(file, target)


def fail_setup(message, log=""):
    tail = "\n".join(log.strip().splitlines()[-25:])
    raise AssertionError(f"{message}\n{tail}" if tail else message)


class DebianRoot:
    """A Debian 12 root unpacked from the cached base tarball; commands run in it through chroot in a private
    mount and PID namespace (its own /proc, the host's resolver, the shared download cache)."""

    def __init__(self, folder):
        self.cache = cache_dir() / "package-root"
        self.downloads = self.cache / "archives"
        self.downloads.mkdir(parents=True, exist_ok=True)
        self.path = folder / "root"
        self.path.mkdir()
        tarball = self.base_tarball()
        subprocess.run(["tar", "-xf", str(tarball), "-C", str(self.path)], check=True)
        # Packages downloaded by earlier runs; each run keeps its own copy, so runs at once never share apt's lock.
        link_all(self.downloads.glob("*.deb"), self.path / "var" / "cache" / "apt" / "archives")

    def keep_downloads(self):
        """Keeps what apt downloaded into this root for the next run, and only the versions still current."""
        self.run("apt-get", "autoclean", "-qq")
        archives = self.path / "var" / "cache" / "apt" / "archives"
        current = {p.name for p in archives.glob("*.deb")}
        for old in self.downloads.glob("*.deb"):
            if old.name not in current:
                old.unlink(missing_ok=True)
        link_all(archives.glob("*.deb"), self.downloads)

    def base_tarball(self):
        sources = machine_sources()
        if not sources:
            fail_setup(f"/etc/apt/sources.list と /etc/apt/sources.list.d/ に Debian 12 ({SUITE}) の項がありません。"
                       "この試験は、このマシンの apt の取得元から Debian 12 のルートを作ります。")
        version = subprocess.run(["mmdebstrap", "--version"], capture_output=True, text=True).stdout.strip()
        key = hashlib.sha256(f"{ROOT_RECIPE}\n{version}\n{sources}".encode()).hexdigest()[:16]
        tarball = self.cache / f"{SUITE}-{key}.tar"
        if tarball.is_file() and time.time() - tarball.stat().st_mtime < ROOT_MAX_AGE:
            return tarball
        for old in self.cache.glob(f"{SUITE}-*.tar"):
            old.unlink()
        partial = self.cache / f".{tarball.name}.{os.getpid()}.partial"
        result = subprocess.run(
            ["mmdebstrap", "--variant=apt", "--format=tar", "--skip=cleanup/apt/lists", SUITE, str(partial), "-"],
            input=sources, capture_output=True, text=True, timeout=1200, check=False)
        if result.returncode != 0:
            partial.unlink(missing_ok=True)
            fail_setup("mmdebstrap が Debian 12 のルートを作れませんでした。このマシンの apt の取得元 "
                       "(/etc/apt/sources.list, /etc/apt/sources.list.d/) にネットワークで届くか、root で"
                       "実行しているかを確かめてください。mmdebstrap の出力の最後:", result.stdout + result.stderr)
        os.replace(partial, tarball)
        return tarball

    def run(self, *command, check=True, timeout=1200, input=None):
        # The mounts live as long as the namespace, that is, as long as this one command.
        script = ('set -e; r="$1"; shift; '
                  'mount -t proc proc "$r/proc"; mount -t tmpfs tmpfs "$r/dev/shm"; '
                  'mount --bind /sys "$r/sys"; '
                  'if [ -f /etc/resolv.conf ]; then mount --bind /etc/resolv.conf "$r/etc/resolv.conf"; fi; '
                  'exec chroot "$r" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 '
                  'DEBIAN_FRONTEND=noninteractive "$@"')
        result = subprocess.run(["unshare", "--mount", "--pid", "--fork", "--kill-child", "--", "sh", "-c", script,
                                 "sh", str(self.path), *command],
                                capture_output=True, text=True, timeout=timeout, input=input, check=False)
        if check and result.returncode != 0:
            raise AssertionError(f"{' '.join(command)} が失敗しました (終了コード {result.returncode}):\n"
                                 f"{result.stdout[-3000:]}\n{result.stderr[-3000:]}")
        return result


class PackageTests(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if os.geteuid() != 0:
            fail_setup("この試験は root で実行してください: Debian 12 のルートを作り (mmdebstrap)、chroot で"
                       "パッケージをインストールします。")
        for tool in ("mmdebstrap", "unshare", "chroot", "lintian"):
            if shutil.which(tool) is None:
                fail_setup(f"{tool} がありません。scripts/setup を実行してください。")
        cls.dir = Path(tempfile.mkdtemp(prefix="package-tests-"))
        cls.timings = {}
        try:
            cls.prepare()
        except BaseException:
            shutil.rmtree(cls.dir, ignore_errors=True)
            raise

    @classmethod
    def prepare(cls):
        started = time.monotonic()
        env = dict(os.environ, TC_BUILD_DIR=str(BUILD_DIR))
        result = subprocess.run([str(ROOT / "scripts" / "package"), str(cls.dir / "out")], env=env,
                                capture_output=True, text=True, timeout=2400, check=False)
        cls.package_log = result.stdout + result.stderr
        if result.returncode != 0:
            fail_setup("scripts/package が失敗しました:", cls.package_log)
        # lintian's findings, for the log of a passing run too.
        print("".join(line + "\n" for line in cls.package_log.splitlines() if re.match(r"^([EWI]: |\[.*\] lintian)", line)),
              file=sys.stderr)
        cls.debs = sorted((cls.dir / "out").glob(f"{PACKAGE}_*_amd64.deb"))
        cls.timings["scripts/package"] = time.monotonic() - started

        started = time.monotonic()
        cls.root = DebianRoot(cls.dir)
        cls.timings["base root"] = time.monotonic() - started

    @classmethod
    def tearDownClass(cls):
        print("".join(f"{step}: {seconds:.0f} s\n" for step, seconds in cls.timings.items()), file=sys.stderr)
        shutil.rmtree(cls.dir, ignore_errors=True)

    def test_PackageInstallsIntoACleanRootTranscribesThereAndPurgesWithoutALeftover(self):
        self.assertEqual(len(self.debs), 1, self.package_log)
        deb = self.debs[0]
        with self.subTest("lintian finds no error"):
            self.assertRegex(self.package_log, r"lintian: エラー 0 件")
        contents = subprocess.run(["dpkg-deb", "--contents", str(deb)], capture_output=True, text=True,
                                  check=True).stdout
        with self.subTest("the package holds the program, its engines and its data, and no model"):
            for path in (f"./usr/bin/{PACKAGE}", f"./usr/lib/{PACKAGE}/libtc_whisper.so",
                         f"./usr/lib/{PACKAGE}/libtc_llama.so", f"./usr/share/{PACKAGE}/models.json",
                         f"./usr/share/{PACKAGE}/install-models",
                         "./usr/share/applications/io.github.corvane.TranscriptionCorvane.desktop",
                         "./usr/share/metainfo/io.github.corvane.TranscriptionCorvane.metainfo.xml",
                         "./usr/share/icons/hicolor/scalable/apps/io.github.corvane.TranscriptionCorvane.svg",
                         "./usr/share/icons/hicolor/256x256/apps/io.github.corvane.TranscriptionCorvane.png",
                         f"./usr/share/doc/{PACKAGE}/copyright", f"./usr/share/doc/{PACKAGE}/changelog.gz"):
                self.assertRegex(contents, rf"(?m) {re.escape(path)}$")
            self.assertNotRegex(contents, r"\.(bin|gguf)$")
            self.assertRegex(contents, rf"(?m)^-rwxr-xr-x root/root .* \./usr/bin/{PACKAGE}$")
        depends = subprocess.run(["dpkg-deb", "--field", str(deb), "Depends"], capture_output=True, text=True,
                                 check=True).stdout
        with self.subTest("dependencies name the libraries' packages"):
            for dependency in ("libqt6widgets6", "libpulse0", "libmecab2", "python3", "mecab-ipadic-utf8"):
                self.assertRegex(depends, rf"(^|, ){dependency}\b", depends)

        root = self.root
        before = file_list(root.path)
        started = time.monotonic()
        shutil.copy(deb, root.path / "tmp" / deb.name)
        root.run("apt-get", "update", "-qq")
        installed = root.run("apt-get", "install", "-y", "-q", "--no-install-recommends", f"/tmp/{deb.name}")
        (root.path / "tmp" / deb.name).unlink()
        self.timings["apt-get install"] = time.monotonic() - started
        self.assertIn(f"Setting up {PACKAGE} ", installed.stdout)
        with_package = file_list(root.path)

        with self.subTest("the installed program finds its own catalogue and model installer"):
            paths = root.run(PACKAGE, "--print-paths").stdout
            self.assertIn(f"TC_MODEL_CATALOGUE=/usr/share/{PACKAGE}/models.json\n", paths)
            self.assertIn(f"TC_MODEL_INSTALLER=/usr/share/{PACKAGE}/install-models\n", paths)
        settings = dict(line.split("=", 1) for line in paths.splitlines() if "=" in line)
        models = Path(settings["TC_MODELS_DIR"])
        self.assertTrue(str(models).startswith("/root/"), paths)

        # Models are not in the package: the user's own copies go into the root's user data folder.
        catalogue = json.loads((ROOT / "data" / "models.json").read_text(encoding="utf-8"))
        host = self.host_models_dir()
        inside = root.path / models.relative_to("/")
        inside.mkdir(parents=True, exist_ok=True)
        for kind in ("speech", "voice"):
            wanted = catalogue[kind]["default"]
            file = next(m["file"] for m in catalogue[kind]["models"] if m["name"] == wanted)
            if not (host / file).is_file():
                self.fail(f"{host / file} がありません。先に scripts/install-models を実行してください。")
            shutil.copy(host / file, inside / file)

        with self.subTest("the installed model installer runs from its installed place"):
            listing = root.run("python3", f"/usr/share/{PACKAGE}/install-models", "--list", "--json")
            self.assertIn("ggml-base.bin", listing.stdout)
            # With the models in place it checks them and needs no download.
            check = root.run(f"/usr/share/{PACKAGE}/install-models", "--no-language-model", check=False)
            self.assertEqual(check.returncode, 0, check.stdout + check.stderr)

        with self.subTest("the installed program transcribes the sample without a display"):
            shutil.copy(ROOT / "samples" / "ja-sample.flac", root.path / "tmp" / "会議.flac")
            started = time.monotonic()
            result = root.run(PACKAGE, "--transcribe", "/tmp/会議.flac", check=False, timeout=900)
            self.timings["--transcribe"] = time.monotonic() - started
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
            assert_reads_like_sample(self, result.stdout)

        # The user's own folders are theirs (a purge leaves a home alone): they go before the comparison.
        for path, kind in sorted(file_list(root.path) - with_package):
            if path.startswith("root/") and (root.path / path).exists():
                if kind == "dir":
                    shutil.rmtree(root.path / path)
                else:
                    (root.path / path).unlink()

        started = time.monotonic()
        root.run("apt-get", "purge", "-y", "-q", PACKAGE)
        self.timings["apt-get purge"] = time.monotonic() - started
        after = file_list(root.path)
        status = root.run("dpkg-query", "-W", "-f", "${db:Status-Abbrev}", PACKAGE, check=False).stdout
        # What the package brought: its own paths that were not in the clean root.
        ours = {path for path, _ in with_package - before} & package_paths(deb)
        self.assertIn(f"usr/bin/{PACKAGE}", ours)
        with self.subTest("the purge leaves nothing of the package"):
            self.assertFalse(status.startswith(("i", "r", "c")), status)
            left = sorted(path for path, _ in after if path in ours)
            shared = self.owned_by_others(left)
            self.assertEqual([path for path in left if path not in shared], [], "パージ後に残ったパッケージのファイル")
        with self.subTest("the root is as it was before the install, but for the dependencies it brought"):
            self.assertEqual(sorted(after - with_package), [], "インストール後に新しくできて残ったもの")
            self.assertEqual(sorted(before - after), [], "インストール前にあって消えたもの")
            gone = {path for path, _ in with_package - after}
            self.assertEqual(sorted(gone - ours), [], "パッケージのものでないのに消えたもの")
        root.keep_downloads()

    def owned_by_others(self, paths):
        """The paths (folders the package shares) that another installed package also owns."""
        owned = set()
        for path in paths:
            found = self.root.run("dpkg-query", "-S", "/" + path.rstrip("/"), check=False)
            if found.returncode == 0 and found.stdout.strip():
                owned.add(path)
        return owned

    @staticmethod
    def host_models_dir():
        program = BUILD_DIR / "src" / PACKAGE
        result = subprocess.run([str(program), "--print-paths"], capture_output=True, text=True, check=True)
        return Path(re.search(r"^TC_MODELS_DIR=(.*)$", result.stdout, re.M).group(1))


if __name__ == "__main__":
    unittest.main()
