#include "TranscriptionCorvane/HeadlessTranscription.h"
#include "TranscriptionInfrastructure/RecognizedText.h"
#include "support/TestPaths.h"

#include <QProcess>
#include <QRegularExpression>

#include "support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace tc {
using tc::test::readText;

namespace {

namespace fs = std::filesystem;
using Options = HeadlessTranscription::Options;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs the built program the way a user does, without a display.
Outcome runProgram(const QStringList& arguments)
{
    const fs::path program = test::binaryDir() / "src" / "transcription-corvane";
    Outcome outcome;
    if (!fs::exists(program)) {
        ADD_FAILURE() << "build the program first: " << program;
        return outcome;
    }
    QProcess process;
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    process.setProcessEnvironment(environment);
    process.start(QString::fromStdString(program.string()), arguments);
    if (!process.waitForFinished(600000)) {
        process.kill();
        ADD_FAILURE() << "the program did not finish";
    }
    outcome.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    outcome.out = process.readAllStandardOutput().toStdString();
    outcome.err = process.readAllStandardError().toStdString();
    return outcome;
}

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
    for (const auto& bad : std::vector<std::vector<std::string>>{{"--transcribe"},
                                                                 {"--transcribe", "--model", "base"},
                                                                 {"--model", "base"},
                                                                 {"--transcribe", "a", "--model"}}) {
        const auto parsed = P::parseArguments(bad);
        ASSERT_TRUE(std::holds_alternative<P::UsageError>(parsed));
        EXPECT_NE(std::get<P::UsageError>(parsed).message.find("使い方"), std::string::npos);
    }
}

TEST(HeadlessTranscription, ProgramPrintsEachSettledLineWithItsTime)
{
    const auto outcome = runProgram(
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

TEST(HeadlessTranscription, ProgramReportsFailuresInJapaneseWithAnErrorStatus)
{
    {
        const auto outcome = runProgram({"--transcribe", "/nonexistent/recording.flac"});
        EXPECT_EQ(outcome.status, HeadlessTranscription::kExitFailure);
        EXPECT_TRUE(outcome.out.empty());
        EXPECT_NE(outcome.err.find("エラー: 文字起こしが中断されました: "), std::string::npos) << outcome.err;
    }
    {
        const auto outcome =
            runProgram({"--transcribe", QString::fromStdString((test::dataDir() / "speech" / "silence.flac").string()),
                        "--model", "no-such-model"});
        EXPECT_EQ(outcome.status, HeadlessTranscription::kExitFailure);
        EXPECT_NE(outcome.err.find("no-such-model"), std::string::npos) << outcome.err;
    }
    {
        const auto outcome = runProgram({"--transcribe"});
        EXPECT_EQ(outcome.status, HeadlessTranscription::kExitUsage);
        EXPECT_NE(outcome.err.find("使い方: transcription-corvane --transcribe"), std::string::npos) << outcome.err;
    }
}

TEST(HeadlessTranscription, ProgramPrintsNothingForSilence)
{
    const auto outcome =
        runProgram({"--transcribe", QString::fromStdString((test::dataDir() / "speech" / "silence.flac").string())});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_TRUE(outcome.out.empty()) << outcome.out;
}

} // namespace
} // namespace tc
