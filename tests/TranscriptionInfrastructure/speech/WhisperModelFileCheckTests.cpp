#include "TranscriptionInfrastructure/speech/WhisperModelFileCheck.h"

#include "TranscriptionInfrastructure/audio/FileAudioSource.h"
#include "TranscriptionInfrastructure/speech/SpeechAnalyzerTranscriber.h"
#include "TranscriptionInfrastructure/speech/SpeechModelInstaller.h"
#include "TranscriptionInfrastructure/speech/SpeechModelManager.h"
#include "TranscriptionInfrastructure/speech/TranscriberError.h"
#include "TranscriptionInfrastructure/speech/WhisperContext.h"
#include "TranscriptionInfrastructure/speech/WhisperSpeechRecognitionEngine.h"
#include "support/ExpectedMatchers.h"
#include "support/TemporaryDirectory.h"
#include "support/TestPaths.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tc {
namespace {

namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::Optional;
using Problem = WhisperModelFileCheck::Problem;

// A session's notices and its recognised text, of a short sentence that mentions a meeting.
struct Heard {
    std::vector<std::string> notices;
    std::string text;
};

Heard transcribeSentence(const std::shared_ptr<SpeechRecognitionEngine>& engine)
{
    SpeechAnalyzerTranscriber transcriber("ja-JP", engine);
    FileAudioSource source(test::dataDir() / "speech/utterances/s03.flac", 1600);
    auto segments = transcriber.transcribe(source.start());
    Heard heard;
    while (auto segment = segments->next()) {
        // The first load's timing of this processor is announced too; its own test is the engine's.
        const bool timing = segment->text.find("を測っています") != std::string::npos;
        if (segment->isNotice() && !timing) heard.notices.push_back(segment->text);
        if (segment->isFinal()) heard.text += segment->text;
    }
    return heard;
}

// Copies of the real installed model, damaged the way a failing disk or a careless edit would.
class WhisperModelFileCheckTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_real = SpeechModelManager::defaultModelsDirectory() / "ggml-base.bin";
        if (!fs::exists(m_real)) GTEST_SKIP() << "the default speech model is not installed";
        fs::create_directories(m_models);
        // A machine whose engine was timed before: these runs are about the files, not a first run's timing. The
        // key names the file and its size, which a link to the real model shares.
        const EncoderAttentionTrial trial(m_real, WhisperContext::defaultThreads());
        std::ofstream(m_models / trial.recordFile().filename()) << nlohmann::json{{trial.key(), "flash"}}.dump();
    }

    // A copy of the real model in the test's models folder under the given file name.
    fs::path copy(const std::string& name = "ggml-base.bin")
    {
        const fs::path file = m_models / name;
        fs::copy_file(m_real, file, fs::copy_options::overwrite_existing);
        return file;
    }

    // Overwrites four bytes in place and puts the old modification time back, as a tool that hides its edit would.
    static void patchInt(const fs::path& file, std::uint64_t offset, std::int32_t value)
    {
        struct stat before {};
        ASSERT_EQ(::stat(file.c_str(), &before), 0);
        std::fstream out(file, std::ios::in | std::ios::out | std::ios::binary);
        out.seekp(static_cast<std::streamoff>(offset));
        out.write(reinterpret_cast<const char*>(&value), sizeof value);
        out.close();
        const timespec times[2] = {before.st_atim, before.st_mtim};
        ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    }

    // Where the first tensor's header begins: after the hyper-parameters, the mel filters and the vocabulary.
    static std::uint64_t firstTensorOffset(const fs::path& file)
    {
        std::ifstream in(file, std::ios::binary);
        const auto read32 = [&] {
            std::int32_t value = 0;
            in.read(reinterpret_cast<char*>(&value), sizeof value);
            return value;
        };
        in.seekg(48);
        const std::int32_t mels = read32();
        const std::int32_t bins = read32();
        in.seekg(static_cast<std::streamoff>(mels) * bins * 4, std::ios::cur);
        const std::int32_t tokens = read32();
        for (std::int32_t i = 0; i < tokens; ++i)
            in.seekg(read32(), std::ios::cur);
        return static_cast<std::uint64_t>(in.tellg());
    }

    // What loading the file tells the user; "(loaded)" when it loads.
    static std::string loadMessage(const fs::path& file)
    {
        const auto loaded = WhisperContext::load(file);
        if (loaded) return "(loaded)";
        const auto& error = loaded.error();
        EXPECT_EQ(error.kind(), TranscriberError::Kind::modelUnavailable);
        EXPECT_EQ(error.recovery(), PortFailure::Recovery::none);
        return error.what();
    }

    fs::path m_real;
    test::TemporaryDirectory m_dir;
    fs::path m_models = m_dir.path() / "models";
};

// First in this file: it forks, which is safest before any test has started engine threads.
TEST_F(WhisperModelFileCheckTest, AnUnreadableModelIsReportedAsAPermissionProblemNotAsDamage)
{
    const fs::path file = copy();
    for (const auto& folder : {m_dir.path(), m_models})
        fs::permissions(folder, fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(file, fs::perms::none);
    // Root reads any file whatever its mode: the check runs as an ordinary user, in a child process whose exit
    // status is the problem found.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(100);
        const auto problem = SpeechModelManager::accessProblem(file);
        ::_exit(problem ? 101 : static_cast<int>(problem.error().problem));
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 100) << "could not drop privileges";
    EXPECT_EQ(WEXITSTATUS(status), static_cast<int>(Problem::unreadable));

    const std::string message =
        SpeechModelManager::problemMessage("base", file, WhisperModelFileCheck::Failure{Problem::unreadable, {}});
    EXPECT_THAT(message, AllOf(HasSubstr(file.string()), HasSubstr("権限"), Not(HasSubstr("壊れ"))));
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(WhisperModelFileCheckTest, DamagedCopiesAreRefusedWithTheirReasonAndNeverReachTheEngine)
{
    const auto sound = WhisperModelFileCheck::check(m_real);
    ASSERT_TRUE(sound.has_value()) << sound.error().reason;
    EXPECT_EQ(sound->tensorCount, 245);
    EXPECT_EQ(sound->audioLayers, 6);

    const fs::path file = copy();
    const std::uint64_t tensors = firstTensorOffset(file);
    struct Damage {
        const char* what;
        std::function<void()> apply;
        const char* reason;
    };
    const std::vector<Damage> damages{
        // The engine aborted the whole program on this one.
        {"layer count", [&] { patchInt(file, 20, 99999); }, "エンコーダーの層の数（99999）"},
        // The engine threw "basic_string: construction from null" on this one.
        {"vocabulary size", [&] { patchInt(file, 4, 70000); }, "語彙数（70000）"},
        {"tensor shape", [&] { patchInt(file, tensors + 12, 513); }, "の形 [513, 448, 1] が違います"},
        {"truncation", [&] { fs::resize_file(file, fs::file_size(m_real) / 2); }, "途中で終わっています"},
    };
    for (const auto& damage : damages) {
        SCOPED_TRACE(damage.what);
        fs::copy_file(m_real, file, fs::copy_options::overwrite_existing);
        damage.apply();
        const auto result = WhisperModelFileCheck::check(file);
        ASSERT_FALSE(result.has_value());
        const auto* failure = &result.error();
        EXPECT_EQ(failure->problem, Problem::damaged);
        EXPECT_THAT(failure->reason, HasSubstr(damage.reason));

        // Reaching this line at all means the engine did not abort the process.
        const std::string message = loadMessage(file);
        EXPECT_THAT(message, AllOf(HasSubstr(file.string()), HasSubstr("壊れている"),
                                   HasSubstr("install-models --speech-model base"), HasSubstr(damage.reason)));
    }
}

TEST_F(WhisperModelFileCheckTest, LookupNamesWhatIsWrongInTheModelsPlaceWithoutWaitingOnIt)
{
    SpeechModelManager manager(m_models, SpeechModelManager::defaultCatalogueFile());
    const auto refusal = [&] {
        const auto lookup = manager.locate("base");
        return lookup ? "(found)" : lookup.error();
    };
    // A folder, then a named pipe, which would block a plain open for ever without a writer.
    const fs::path file = m_models / "ggml-base.bin";
    fs::create_directory(file);
    EXPECT_THAT(refusal(), HasSubstr("ファイルではありません"));
    EXPECT_THAT(loadMessage(file), HasSubstr("ファイルではありません"));
    fs::remove(file);
    ASSERT_EQ(::mkfifo(file.c_str(), 0644), 0);
    EXPECT_THAT(refusal(), HasSubstr("ファイルではありません"));
    EXPECT_THAT(loadMessage(file), HasSubstr("ファイルではありません"));
    fs::remove(file);

    // Changed weights behind a restored modification time: the layout is still sound, so only the checksum can
    // tell, and the change time in the record of the first check sends the file to it again.
    copy();
    EXPECT_EQ(refusal(), "(found)");
    EXPECT_THAT(test::readText(m_models / ".verified.json"), HasSubstr("ctime_ns"));
    patchInt(file, fs::file_size(file) / 2, 0x7f7f7f7f);
    EXPECT_TRUE(WhisperModelFileCheck::check(file).has_value());
    EXPECT_THAT(refusal(), AllOf(HasSubstr("壊れている"), HasSubstr(file.string())));
}

TEST_F(WhisperModelFileCheckTest, AVoiceModelThatCannotBeHadIsNamedWhileLoudnessCutsTheSpeech)
{
    const fs::path installed = SpeechModelManager::defaultModelsDirectory() / "ggml-silero-v6.2.0.bin";
    if (!fs::exists(installed)) GTEST_SKIP() << "the voice model is not installed";
    fs::create_symlink(m_real, m_models / "ggml-base.bin");
    // Cut short, as an interrupted install leaves it; no installer, as when it cannot be fetched again.
    const fs::path file = m_models / installed.filename();
    fs::copy_file(installed, file);
    fs::resize_file(file, fs::file_size(file) / 2);
    auto engine = std::make_shared<WhisperSpeechRecognitionEngine>(
        "base", std::make_shared<SpeechModelManager>(m_models, SpeechModelManager::defaultCatalogueFile()));

    const auto heard = transcribeSentence(engine);
    ASSERT_EQ(heard.notices.size(), 1U) << ::testing::PrintToString(heard.notices);
    EXPECT_THAT(heard.notices[0], AllOf(HasSubstr(file.string()), HasSubstr("音の大きさだけ"),
                                        HasSubstr("install-models --speech-model base")));
    EXPECT_THAT(heard.text, HasSubstr("会議"));

    fs::copy_file(installed, file, fs::copy_options::overwrite_existing);
    const RecognizerModule module{"ja-JP", true};
    ASSERT_NE(engine->makeRecognizer(module), nullptr);
    EXPECT_EQ(engine->notice(module), std::nullopt);

    // Missing, and the installer fails (here it is gone): the run still comes, the notice says why, and the next
    // run does not wait for another try.
    fs::remove(file);
    auto setup = SpeechModelInstaller::defaultSetup();
    setup.installer = m_dir.path() / "install-models";
    setup.modelsDirectory = m_models;
    engine = std::make_shared<WhisperSpeechRecognitionEngine>(
        "base", std::make_shared<SpeechModelManager>(m_models, setup.catalogue), WhisperStreamingRecognizer::Settings{},
        std::make_shared<SpeechModelInstaller>(setup));
    const auto first = transcribeSentence(engine);
    ASSERT_EQ(first.notices.size(), 2U) << ::testing::PrintToString(first.notices);
    EXPECT_THAT(first.notices[0], HasSubstr("入れ直しています"));
    EXPECT_THAT(first.notices[1], AllOf(HasSubstr("入れ直しにも失敗しました（モデルのインストーラー"),
                                        HasSubstr("音の大きさだけ"), HasSubstr("install-models --speech-model base")));
    EXPECT_THAT(first.text, HasSubstr("会議"));
    EXPECT_EQ(transcribeSentence(engine).notices, std::vector{first.notices[1]});
}

TEST_F(WhisperModelFileCheckTest, AMissingOrDamagedVoiceModelIsInstalledAgainAndAFailedSwitchKeepsTheLoadedModel)
{
    fs::create_symlink(m_real, m_models / "ggml-base.bin");
    auto setup = SpeechModelInstaller::defaultSetup();
    setup.modelsDirectory = m_models;
    auto models = std::make_shared<SpeechModelManager>(m_models, setup.catalogue);
    auto engine = std::make_shared<WhisperSpeechRecognitionEngine>(
        "base", models, WhisperStreamingRecognizer::Settings{}, std::make_shared<SpeechModelInstaller>(setup));
    const fs::path file = models->voiceModelFile().value();

    // Missing: put back by the model installer while the run waits, and the run then has it.
    const auto heard = transcribeSentence(engine);
    ASSERT_EQ(heard.notices.size(), 1U) << ::testing::PrintToString(heard.notices);
    EXPECT_THAT(heard.notices[0], AllOf(HasSubstr(file.string()), HasSubstr("見つからないため、入れ直しています")));
    EXPECT_THAT(heard.text, HasSubstr("会議"));
    EXPECT_EQ(models->voiceModel(), file);
    EXPECT_EQ(engine->notice(RecognizerModule{"ja-JP", true}), std::nullopt);

    // Damaged at its full size, with the speech model already in memory: asked for again all the same.
    patchInt(file, fs::file_size(file) / 2, 0x7f7f7f7f);
    const auto request = engine->assetInstallationRequest(RecognizerModule{"ja-JP", true});
    ASSERT_NE(request, nullptr);
    EXPECT_THAT(request->notice(), Optional(HasSubstr("壊れているため")));
    request->install({});
    EXPECT_EQ(models->voiceModel(), file);
    EXPECT_EQ(engine->assetInstallationRequest(RecognizerModule{"ja-JP", true}), nullptr);

    // A failed switch keeps the loaded model working, even with its file gone meanwhile. A file under another
    // model's name does not match that model's checksum.
    const fs::path small = copy("ggml-small.bin");
    EXPECT_THAT(engine->switchModel("small"), test::FailsWith(HasSubstr(small.string())));
    EXPECT_EQ(engine->modelName(), "base");
    fs::remove(m_models / "ggml-base.bin");
    EXPECT_THAT(transcribeSentence(engine).text, HasSubstr("会議"));
}

TEST(WhisperModelMemory, TheFreeMemoryIsReadAndAShortfallIsExplained)
{
    test::TemporaryDirectory dir;
    const fs::path meminfo = dir.path() / "meminfo";
    std::ofstream(meminfo) << "MemTotal:        8000000 kB\nMemFree:          100000 kB\n"
                              "MemAvailable:     200000 kB\nSwapTotal:       1000000 kB\nSwapFree:          50000 kB\n";
    EXPECT_EQ(WhisperContext::availableMemory(meminfo), std::optional<std::uint64_t>(250000ull * 1024));
    EXPECT_EQ(WhisperContext::availableMemory(dir.path() / "none"), std::nullopt);
    EXPECT_TRUE(WhisperContext::availableMemory().has_value()) << "this system's own figures";

    const std::string message =
        SpeechModelManager::memoryMessage("large-v3-turbo", "/m/ggml-large-v3-turbo.bin", 1'600'000'000, 256'000'000);
    EXPECT_THAT(message, AllOf(HasSubstr("/m/ggml-large-v3-turbo.bin"), HasSubstr("メモリが足りません"),
                               HasSubstr("1600 MB"), HasSubstr("256 MB")));
}

} // namespace
} // namespace tc
