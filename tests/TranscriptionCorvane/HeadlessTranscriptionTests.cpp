#include "TranscriptionCorvane/HeadlessTranscription.h"
#include "TranscriptionInfrastructure/speech/RecognitionScoring.h"
#include "TranscriptionInfrastructure/speech/SpeechModelManager.h"

#include "support/BuiltProgram.h"
#include "support/SubtitleReadBack.h"
#include "support/TemporaryDirectory.h"
#include "support/TestPaths.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace tc {
namespace {

namespace fs = std::filesystem;
using Options = HeadlessTranscription::Options;
using test::BuiltProgram;

// Read from standard input with a format: the settled lines go to the error stream as progress, each as
// "HH:MM:SS  text", and the subtitles alone to the output.
TEST(HeadlessTranscription, ProgramPrintsEachSettledLineWithItsTimeAndWritesSubtitlesTimedByTheFile)
{
    const auto srt = BuiltProgram::run({"--transcribe", "-", "--format", "srt"}, BuiltProgram::environment(),
                                       test::sourceDir() / "samples/ja-sample.flac");
    ASSERT_EQ(srt.status, 0) << srt.err;
    const auto finished = srt.err.rfind("文字起こしが終わりました");
    ASSERT_NE(finished, std::string::npos) << srt.err;
    static const QRegularExpression timed(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d  (.+)$"));
    std::istringstream printed(srt.err.substr(0, srt.err.rfind('\n', finished) + 1));
    std::string all;
    std::size_t lines = 0;
    for (std::string text; std::getline(printed, text);) {
        // The first run on a machine times the engine, and says so first.
        if (lines == 0 && text.starts_with("お知らせ: ") && text.find("計算方法を測っています") != std::string::npos)
            continue;
        ++lines;
        const auto match = timed.match(QString::fromStdString(text));
        EXPECT_TRUE(match.hasMatch()) << "not a timed line: " << text;
        all += match.captured(1).toStdString();
    }
    EXPECT_GE(lines, 6u);
    EXPECT_LT(RecognitionScoring::characterErrorRate(test::readText(test::sourceDir() / "samples/ja-sample.txt"), all),
              0.3)
        << all;
    EXPECT_TRUE(srt.out.starts_with("1\n00:00:")) << srt.out;
    EXPECT_GE(test::occurrences(srt.out, " --> "), lines);

    test::TemporaryDirectory directory;
    const auto file = directory.path() / "sample.srt";
    std::ofstream(file, std::ios::binary) << srt.out;
    const std::string packets = test::ffprobeSubtitlePackets(file).value_or("ffprobe がありません");
    EXPECT_EQ(test::occurrences(packets, "\n"), test::occurrences(srt.out, " --> ")) << packets;
    // Cues follow the speech through the 24.4-second sample in order, none past its end.
    std::istringstream rows(packets);
    double previous = -1;
    double last = 0;
    for (std::string row; std::getline(rows, row);) {
        const double start = std::stod(row.substr(0, row.find(',')));
        const double duration = std::stod(row.substr(row.find(',') + 1));
        EXPECT_GE(start, previous) << packets;
        EXPECT_GT(duration, 0) << packets;
        previous = start;
        last = start + duration;
    }
    EXPECT_GT(last, 15.0) << packets;
    EXPECT_LE(last, 24.5) << packets;
}

// Each failure says in Japanese what went wrong and what to do, with an error status and no line printed.
TEST(HeadlessTranscription, ProgramReportsFailuresInJapaneseWithAnErrorStatusAndSilenceAsNothing)
{
    test::TemporaryDirectory dir;
    const fs::path cut = dir.path() / "cut.flac";
    fs::copy_file(test::sourceDir() / "samples/ja-sample.flac", cut);
    fs::resize_file(cut, fs::file_size(cut) * 6 / 10);
    // Nobody writes into the pipe: a program that opened it plainly would wait for ever.
    const fs::path fifo = dir.path() / "recording.flac";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const auto pathArgument = [](const fs::path& path) { return QString::fromStdString(path); };
    const QString silence = pathArgument(test::dataDir() / "speech/silence.flac");
    const QString speech = pathArgument(test::dataDir() / "speech/utterances/s03.flac");

    // Data folders whose default speech model is missing, or damaged (a wrong layer count once aborted the engine,
    // damaged weights once gave no line and a success status).
    const fs::path real = SpeechModelManager::defaultModelsDirectory() / "ggml-base.bin";
    ASSERT_TRUE(fs::exists(real)) << "the default speech model is not installed";
    const auto dataHome = [&](const std::string& name, std::optional<std::uint64_t> damageAt) {
        const fs::path models = dir.path() / name / "transcription-corvane/models";
        fs::create_directories(models);
        if (damageAt) {
            fs::copy_file(real, models / "ggml-base.bin");
            std::fstream file(models / "ggml-base.bin", std::ios::in | std::ios::out | std::ios::binary);
            file.seekp(static_cast<std::streamoff>(*damageAt));
            const std::int32_t garbage = 99999;
            file.write(reinterpret_cast<const char*>(&garbage), sizeof garbage);
        }
        return BuiltProgram::environment({{"XDG_DATA_HOME", pathArgument(dir.path() / name)}});
    };
    const auto damaged = [&](const std::string& name) {
        return std::vector<std::string>{(dir.path() / name / "transcription-corvane/models/ggml-base.bin").string(),
                                        "壊れている", "install-models --speech-model base"};
    };

    struct Case {
        QStringList arguments;
        int status;
        std::vector<std::string> said;
        QProcessEnvironment environment = BuiltProgram::environment();
        int linesBefore = 0; // settled lines printed before the failure
    };
    const int failure = HeadlessTranscription::kExitFailure;
    const std::vector<Case> cases{
        {{"--transcribe", "/nonexistent/recording.flac"}, failure, {"エラー: 文字起こしが中断されました: "}},
        {{"--transcribe", silence, "--model", "no-such-model"}, failure, {"no-such-model"}},
        // Silence is no failure, and no line.
        {{"--transcribe", silence}, 0, {}},
        {{"--transcribe", pathArgument(fifo)}, failure, {"通常のファイルではありません", "「-」"}},
        // What there is of a cut file is transcribed, and the message says it was cut.
        {{"--transcribe", pathArgument(cut)}, failure, {"途中で終わっています", cut.string()}, {}, 2},
        {{"--transcribe", speech},
         failure,
         {"インストールされていません", "install-models --speech-model base"},
         dataHome("missing", std::nullopt)},
        {{"--transcribe", speech}, failure, damaged("header"), dataHome("header", 20)},
        {{"--transcribe", speech}, failure, damaged("weights"), dataHome("weights", fs::file_size(real) / 2)}};
    for (const auto& [arguments, status, said, environment, linesBefore] : cases) {
        SCOPED_TRACE(arguments.join(' ').toStdString() + " in " + environment.value("XDG_DATA_HOME").toStdString());
        const auto outcome = BuiltProgram::run(arguments, environment);
        EXPECT_EQ(outcome.status, status) << outcome.err;
        EXPECT_GE(std::count(outcome.out.begin(), outcome.out.end(), '\n'), linesBefore) << outcome.out;
        EXPECT_TRUE(linesBefore > 0 || outcome.out.empty()) << outcome.out;
        for (const auto& part : said)
            EXPECT_NE(outcome.err.find(part), std::string::npos) << outcome.err;
        // A model that cannot be used is not retried.
        EXPECT_EQ(outcome.err.find("再開します"), std::string::npos) << outcome.err;
    }
}

} // namespace
} // namespace tc
