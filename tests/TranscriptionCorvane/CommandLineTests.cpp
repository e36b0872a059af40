#include "TranscriptionCorvane/CommandLine.h"

#include "support/BuiltProgram.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

namespace tc {
namespace {

using C = CommandLine;
using test::BuiltProgram;

template <typename T>
const T& as(const C::Command& command)
{
    EXPECT_TRUE(std::holds_alternative<T>(command)) << "another command: " << command.index();
    static const T none{};
    const T* value = std::get_if<T>(&command);
    return value ? *value : none;
}

TEST(CommandLine, ReadsEachCommandAndLeavesQtsOwnOptionsToTheWindow)
{
    EXPECT_TRUE(std::holds_alternative<C::OpenWindow>(C::parse({})));
    EXPECT_TRUE(std::holds_alternative<C::OpenWindow>(C::parse({"-platform", "offscreen", "-reverse"})));
    EXPECT_TRUE(std::holds_alternative<C::OpenWindow>(C::parse({"--style=Fusion"})));
    for (const QString& help : QStringList{"--help", "-h"})
        EXPECT_TRUE(std::holds_alternative<C::ShowHelp>(C::parse({help})));
    for (const QString& version : QStringList{"--version", "-v"})
        EXPECT_TRUE(std::holds_alternative<C::ShowVersion>(C::parse({version})));
    // Help wins over a command it is given with, as a user asking for it means it.
    EXPECT_TRUE(std::holds_alternative<C::ShowHelp>(C::parse({"--transcribe", "a.flac", "--help"})));
    EXPECT_TRUE(std::holds_alternative<C::PrintPaths>(C::parse({"--print-paths"})));

    using T = HeadlessTranscription::Options;
    EXPECT_EQ(as<T>(C::parse({"--transcribe", "a.flac", "--model", "tiny"})), (T{"a.flac", "tiny", {}}));
    EXPECT_EQ(as<T>(C::parse({"--format=vtt", "--transcribe=b c.wav", "--model=small"})),
              (T{"b c.wav", "small", TranscriptExportFormat::webVtt}));
    // "-" is standard input, not an option.
    EXPECT_EQ(as<T>(C::parse({"--transcribe", "-", "--format", "srt"})), (T{"-", "", TranscriptExportFormat::srt}));

    using Q = HeadlessQuestion::Options;
    EXPECT_EQ(as<Q>(C::parse({"--ask", "いつ？", "--transcript", "t.txt"})), (Q{"いつ？", "t.txt", false, {}}));
    EXPECT_EQ(as<Q>(C::parse({"--json", "--ask=誰？", "--transcript=a b.md", "--language-model", "m.gguf"})),
              (Q{"誰？", "a b.md", true, "m.gguf"}));
}

TEST(CommandLine, RefusesWhatItCannotReadWithOneJapaneseLineAndTheUsage)
{
    struct Case {
        QStringList arguments;
        std::string message;
        std::string usage;
    };
    const std::string transcribe = "使い方: transcription-corvane --transcribe";
    const std::string ask = "使い方: transcription-corvane --ask";
    const std::string general = "使い方: transcription-corvane [オプション]";
    const std::vector<Case> cases{
        {{"--bogus"}, "不明なオプションです: --bogus", general},
        {{"-x"}, "不明なオプションです: -x", general},
        {{"--transcribe", "a.flac", "--verbose"}, "不明なオプションです: --verbose", general},
        {{"extra.flac"}, "余分な引数があります: extra.flac", general},
        {{"--transcribe"}, "--transcribe には音声ファイルを指定してください。", transcribe},
        {{"--transcribe="}, "--transcribe には音声ファイルを指定してください。", transcribe},
        {{"--transcribe", "a", "--model"}, "--model にはモデル名（例: base）を指定してください。", transcribe},
        {{"--transcribe", "a", "--format", "ass"},
         "--format には srt、vtt、txt、md のどれかを指定してください。",
         transcribe},
        {{"--model", "base"}, "--model は --transcribe と一緒に指定してください。", transcribe},
        {{"--format", "srt"}, "--format は --transcribe と一緒に指定してください。", transcribe},
        {{"--ask", "いつ？"}, "--transcript に質問する文字起こしファイルを指定してください。", ask},
        {{"--transcript", "t.txt"}, "--transcript は --ask と一緒に指定してください。", ask},
        {{"--json"}, "--json は --ask と一緒に指定してください。", ask},
        {{"--ask", "--transcript", "t.txt"}, "--ask に質問を指定してください。", ask},
        {{"--ask", " 　", "--transcript", "t.txt"}, "--ask に質問を指定してください。", ask},
        {{"--ask", "q", "--transcript"}, "--transcript には文字起こしファイルを指定してください。", ask},
        {{"--ask", "q", "--transcript", "t", "--language-model"},
         "--language-model には GGUF モデルファイルを指定してください。",
         ask},
        {{"--ask", "q", "--transcript", "t", "--json=yes"}, "--json には値を付けられません。", ask},
        {{"--transcribe", "a", "--ask", "q"}, "--transcribe と --ask は一緒には指定できません。", general},
        {{"--print-paths", "--json"}, "--print-paths はほかのオプションと一緒には指定できません。", general}};
    for (const auto& [arguments, message, usage] : cases) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        const C::Command command = C::parse(arguments);
        const auto& refused = as<C::UsageError>(command);
        EXPECT_EQ(refused.message, message);
        EXPECT_EQ(refused.message.find('\n'), std::string::npos);
        EXPECT_TRUE(refused.usage.starts_with(usage)) << refused.usage;
        EXPECT_NE(refused.usage.find("--help"), std::string::npos) << refused.usage;
    }
}

// With no display and no Qt platform chosen: a program that started a window system here would abort.
TEST(CommandLine, ProgramAnswersHelpVersionAndMistakesWithoutADisplay)
{
    auto environment = BuiltProgram::environment();
    environment.remove("QT_QPA_PLATFORM");

    // The short spellings reach the same commands (checked above), so one spelling of each is run here.
    const auto help = BuiltProgram::run({"-h"}, environment);
    EXPECT_EQ(help.status, 0) << help.err;
    EXPECT_TRUE(help.out.starts_with("使い方: transcription-corvane")) << help.out;
    EXPECT_EQ(help.err, "");
    // Every option is listed with a Japanese line of its own.
    for (const char* option : {"--help", "--version", "--transcribe", "--model", "--format", "--ask", "--transcript",
                               "--json", "--language-model", "--print-paths"}) {
        const QRegularExpression listed(
            QStringLiteral("^ +(-., )?%1( \\S+)?  +.*[ぁ-んァ-ン一-龥]").arg(QRegularExpression::escape(option)),
            QRegularExpression::MultilineOption);
        EXPECT_TRUE(listed.match(QString::fromStdString(help.out)).hasMatch()) << option;
    }
    const auto version = BuiltProgram::run({"--version"}, environment);
    EXPECT_EQ(version.status, 0) << version.err;
    EXPECT_EQ(version.out, C::versionText());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^transcription-corvane \\d+\\.\\d+\\.\\d+\n$"))
                    .match(QString::fromStdString(version.out))
                    .hasMatch())
        << version.out;

    const auto unknown = BuiltProgram::run({"--bogus"}, environment);
    EXPECT_EQ(unknown.status, C::kExitUsage);
    EXPECT_EQ(unknown.out, "");
    EXPECT_TRUE(unknown.err.starts_with("エラー: 不明なオプションです: --bogus\n使い方: transcription-corvane"))
        << unknown.err;
}

} // namespace
} // namespace tc
