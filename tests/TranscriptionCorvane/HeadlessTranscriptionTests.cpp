#include "TranscriptionCorvane/HeadlessTranscription.h"
#include "TranscriptionInfrastructure/speech/RecognizedText.h"
#include "TranscriptionInfrastructure/speech/SpeechModelManager.h"
#include "support/BuiltProgram.h"
#include "support/TestPaths.h"

#include <QRegularExpression>

#include "support/SubtitleReadBack.h"
#include "support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace tc {
using tc::test::readText;

namespace {

namespace fs = std::filesystem;
using Options = HeadlessTranscription::Options;

using test::BuiltProgram;

TEST(HeadlessTranscription, ParsesItsTwoOptionsAndLeavesTheRestToTheWindow)
{
    using P = HeadlessTranscription;
    EXPECT_TRUE(std::holds_alternative<P::NotRequested>(P::parseArguments({})));
    EXPECT_TRUE(std::holds_alternative<P::NotRequested>(P::parseArguments({"-platform", "offscreen"})));
    EXPECT_EQ(std::get<Options>(P::parseArguments({"--transcribe", "a.flac"})), (Options{"a.flac", ""}));
    EXPECT_EQ(std::get<Options>(P::parseArguments({"--model=small", "--transcribe=b c.wav"})),
              (Options{"b c.wav", "small"}));
    EXPECT_EQ(std::get<Options>(P::parseArguments({"--transcribe", "a.flac", "--model", "tiny"})),
              (Options{"a.flac", "tiny"}));
    EXPECT_EQ(std::get<Options>(P::parseArguments({"--format=vtt", "--transcribe=a.flac", "--model=tiny"})),
              (Options{"a.flac", "tiny", TranscriptExportFormat::webVtt}));
    for (const auto& bad : std::vector<std::vector<std::string>>{{"--transcribe"},
                                                                 {"--transcribe", "--model", "base"},
                                                                 {"--model", "base"},
                                                                 {"--transcribe", "a", "--model"},
                                                                 {"--transcribe", "a", "--format", "ass"},
                                                                 {"--transcribe", "a", "--format"},
                                                                 {"--format", "srt"}}) {
        const auto parsed = P::parseArguments(bad);
        ASSERT_TRUE(std::holds_alternative<P::UsageError>(parsed));
        EXPECT_NE(std::get<P::UsageError>(parsed).message.find("使い方"), std::string::npos);
    }
}

TEST(HeadlessTranscription, ProgramPrintsEachSettledLineWithItsTime)
{
    const auto outcome = BuiltProgram::run(
        {"--transcribe", QString::fromStdString((test::sourceDir() / "samples" / "ja-sample.flac").string())});
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    const QRegularExpression line(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d  (.+)$"));
    std::istringstream lines(outcome.out);
    std::string text;
    std::string all;
    int count = 0;
    while (std::getline(lines, text)) {
        const auto match = line.match(QString::fromStdString(text));
        ASSERT_TRUE(match.hasMatch()) << "not a timed line: " << text;
        all += match.captured(1).toStdString();
        ++count;
    }
    EXPECT_GE(count, 6);
    EXPECT_EQ(outcome.out.find('\x1b'), std::string::npos) << "no terminal control codes into a pipe";
    EXPECT_LT(RecognizedText::characterErrorRate(readText(test::sourceDir() / "samples" / "ja-sample.txt"), all), 0.3)
        << all;
    EXPECT_NE(outcome.err.find("文字起こしが終わりました"), std::string::npos);
}

TEST(HeadlessTranscription, ProgramWritesSubtitlesTimedByThePositionsInTheFile)
{
    const QString sample = QString::fromStdString((test::sourceDir() / "samples" / "ja-sample.flac").string());
    const auto srt = BuiltProgram::run({"--transcribe", sample, "--format", "srt"});
    ASSERT_EQ(srt.status, 0) << srt.err;
    // The settled lines go to the error stream as progress; the subtitles alone to the output.
    const std::size_t lines = test::occurrences(srt.err, "\n") - 1;
    ASSERT_GE(lines, 6u) << srt.err;
    EXPECT_TRUE(srt.out.starts_with("1\n00:00:")) << srt.out;
    EXPECT_GE(test::occurrences(srt.out, " --> "), lines);

    test::TemporaryDirectory directory;
    const auto file = directory.path() / "sample.srt";
    std::ofstream(file, std::ios::binary) << srt.out;
    const std::string packets = test::ffprobeSubtitlePackets(file).value_or("ffprobe がありません");
    EXPECT_EQ(test::occurrences(packets, "\n"), test::occurrences(srt.out, " --> ")) << packets;
    // Cues follow the speech through the 25-second sample in order, none past its end.
    std::istringstream rows(packets);
    std::string row;
    double previous = -1;
    double last = 0;
    while (std::getline(rows, row)) {
        const double start = std::stod(row.substr(0, row.find(',')));
        const double duration = std::stod(row.substr(row.find(',') + 1));
        EXPECT_GE(start, previous) << packets;
        EXPECT_GT(duration, 0) << packets;
        previous = start;
        last = start + duration;
    }
    EXPECT_GT(last, 15.0) << packets;
    EXPECT_LT(last, 26.0) << packets;
    // The other formats take the same path; their writers are checked against golden files.
}

TEST(HeadlessTranscription, ProgramReportsFailuresInJapaneseWithAnErrorStatusAndSilenceAsNothing)
{
    {
        const auto outcome = BuiltProgram::run({"--transcribe", "/nonexistent/recording.flac"});
        EXPECT_EQ(outcome.status, HeadlessTranscription::kExitFailure);
        EXPECT_TRUE(outcome.out.empty());
        EXPECT_NE(outcome.err.find("エラー: 文字起こしが中断されました: "), std::string::npos) << outcome.err;
    }
    {
        const auto outcome = BuiltProgram::run(
            {"--transcribe", QString::fromStdString((test::dataDir() / "speech" / "silence.flac").string()), "--model",
             "no-such-model"});
        EXPECT_EQ(outcome.status, HeadlessTranscription::kExitFailure);
        EXPECT_NE(outcome.err.find("no-such-model"), std::string::npos) << outcome.err;
    }
    {
        const auto outcome = BuiltProgram::run({"--transcribe"});
        EXPECT_EQ(outcome.status, HeadlessTranscription::kExitUsage);
        EXPECT_NE(outcome.err.find("使い方: transcription-corvane --transcribe"), std::string::npos) << outcome.err;
    }
    {
        // Silence is no failure, and no line.
        const auto outcome = BuiltProgram::run(
            {"--transcribe", QString::fromStdString((test::dataDir() / "speech" / "silence.flac").string())});
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        EXPECT_TRUE(outcome.out.empty()) << outcome.out;
    }
}

int countLines(const std::string& out)
{
    return static_cast<int>(std::count(out.begin(), out.end(), '\n'));
}

TEST(HeadlessTranscription, ProgramTranscribesWhatItHasOfATruncatedFileAndSaysItWasCut)
{
    test::TemporaryDirectory dir;
    const fs::path sample = test::sourceDir() / "samples" / "ja-sample.flac";
    const fs::path cut = dir.path() / "cut.flac";
    fs::copy_file(sample, cut);
    fs::resize_file(cut, fs::file_size(sample) * 6 / 10);

    const auto outcome = BuiltProgram::run({"--transcribe", QString::fromStdString(cut.string())});
    EXPECT_EQ(outcome.status, HeadlessTranscription::kExitFailure) << outcome.err;
    EXPECT_GE(countLines(outcome.out), 2) << "the part before the cut is transcribed: " << outcome.out;
    EXPECT_NE(outcome.err.find("途中で終わっています"), std::string::npos) << outcome.err;
    EXPECT_NE(outcome.err.find(cut.string()), std::string::npos) << outcome.err;
}

TEST(HeadlessTranscription, ProgramRefusesANamedPipeButReadsStandardInputGivenAsDash)
{
    test::TemporaryDirectory dir;
    const fs::path fifo = dir.path() / "recording.flac";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    // Nobody writes into the pipe: a program that opened it plainly would wait for ever.
    const auto refused = BuiltProgram::run({"--transcribe", QString::fromStdString(fifo.string())}, {}, {}, 120000);
    EXPECT_EQ(refused.status, HeadlessTranscription::kExitFailure) << refused.err;
    EXPECT_NE(refused.err.find("通常のファイルではありません"), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("「-」"), std::string::npos) << refused.err;

    const auto folder =
        BuiltProgram::run({"--transcribe", QString::fromStdString(dir.path().string())}, {}, {}, 120000);
    EXPECT_EQ(folder.status, HeadlessTranscription::kExitFailure);
    EXPECT_NE(folder.err.find("通常のファイルではありません"), std::string::npos) << folder.err;

    const auto piped = BuiltProgram::run({"--transcribe", "-"}, {}, test::dataDir() / "speech/utterances/s03.flac");
    EXPECT_EQ(piped.status, 0) << piped.err;
    EXPECT_NE(piped.out.find("会議"), std::string::npos) << piped.out;
}

TEST(HeadlessTranscription, ProgramStopsOnAMissingOrDamagedModelWithTheFileAndTheFix)
{
    const fs::path real = SpeechModelManager::defaultModelsDirectory() / "ggml-base.bin";
    if (!fs::exists(real)) GTEST_SKIP() << "the default speech model is not installed";
    test::TemporaryDirectory data;
    const fs::path models = data.path() / "transcription-corvane" / "models";
    fs::create_directories(models);
    const std::vector<std::pair<QString, QString>> home{
        {"XDG_DATA_HOME", QString::fromStdString(data.path().string())}};
    const QStringList arguments{"--transcribe",
                                QString::fromStdString((test::dataDir() / "speech/utterances/s03.flac").string())};

    const auto missing = BuiltProgram::run(arguments, home);
    EXPECT_EQ(missing.status, HeadlessTranscription::kExitFailure) << missing.err;
    EXPECT_NE(missing.err.find("インストールされていません"), std::string::npos) << missing.err;
    EXPECT_NE(missing.err.find("install-models --speech-model base"), std::string::npos) << missing.err;
    EXPECT_EQ(missing.err.find("再開します"), std::string::npos) << missing.err;

    // A wrong layer count made the engine abort; damaged weights gave no line and a success status.
    for (const std::uint64_t offset : {std::uint64_t{20}, fs::file_size(real) / 2}) {
        SCOPED_TRACE(offset);
        fs::copy_file(real, models / "ggml-base.bin", fs::copy_options::overwrite_existing);
        {
            std::fstream file(models / "ggml-base.bin", std::ios::in | std::ios::out | std::ios::binary);
            file.seekp(static_cast<std::streamoff>(offset));
            const std::int32_t garbage = 99999;
            file.write(reinterpret_cast<const char*>(&garbage), sizeof garbage);
        }
        const auto damaged = BuiltProgram::run(arguments, home);
        EXPECT_EQ(damaged.status, HeadlessTranscription::kExitFailure) << damaged.err;
        EXPECT_TRUE(damaged.out.empty()) << damaged.out;
        EXPECT_NE(damaged.err.find((models / "ggml-base.bin").string()), std::string::npos) << damaged.err;
        EXPECT_NE(damaged.err.find("壊れている"), std::string::npos) << damaged.err;
        EXPECT_NE(damaged.err.find("install-models --speech-model base"), std::string::npos) << damaged.err;
    }
}

} // namespace
} // namespace tc
