#include "TranscriptionCorvane/HeadlessQuestion.h"
#include "support/BuiltProgram.h"
#include "support/TemporaryDirectory.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>

namespace tc {
namespace {

namespace fs = std::filesystem;
using Q = HeadlessQuestion;

// Answering needs no speech model, so the program is given two minutes.
test::BuiltProgram::Outcome runProgram(const QStringList& arguments)
{
    return test::BuiltProgram::run(arguments, {}, {}, 120000);
}

constexpr const char* kTalk = "それでは会議を始めます。\n"
                              "\n"
                              "発売日は四月十日で確定しました。\n"
                              "価格は月額四百八十円です。\n"
                              "次回の会議は来週の水曜日です。\n";

TEST(HeadlessQuestion, ParsesTheQuestionTheFileAndTheirOptions)
{
    EXPECT_TRUE(std::holds_alternative<Q::NotRequested>(Q::parseArguments({})));
    EXPECT_TRUE(std::holds_alternative<Q::NotRequested>(Q::parseArguments({"--transcribe", "a.flac"})));
    EXPECT_EQ(std::get<Q::Options>(Q::parseArguments({"--ask", "いつ？", "--transcript", "t.txt"})),
              (Q::Options{"いつ？", "t.txt", false, {}}));
    EXPECT_EQ(std::get<Q::Options>(
                  Q::parseArguments({"--json", "--ask=誰？", "--transcript=a b.md", "--language-model", "m.gguf"})),
              (Q::Options{"誰？", "a b.md", true, "m.gguf"}));
    for (const auto& bad :
         std::vector<std::vector<std::string>>{{"--ask", "いつ？"},
                                               {"--ask", "  \t　", "--transcript", "t.txt"},
                                               {"--ask", "--transcript", "t.txt"},
                                               {"--transcript", "t.txt"},
                                               {"--ask", "q", "--transcript"},
                                               {"--ask", "q", "--transcript", "t", "--language-model"}}) {
        const auto parsed = Q::parseArguments(bad);
        ASSERT_TRUE(std::holds_alternative<Q::UsageError>(parsed)) << bad.size();
        EXPECT_NE(std::get<Q::UsageError>(parsed).message.find("使い方"), std::string::npos);
    }
}

TEST(HeadlessQuestion, ReadsPlainTranscriptsAndMarkdownExportsWithoutTheirStamps)
{
    EXPECT_EQ(Q::transcriptLines("一\r\n\n二\n"), (std::vector<Q::Line>{{"一", 1}, {"", 2}, {"二", 3}}));
    EXPECT_EQ(Q::transcriptLines("一"), (std::vector<Q::Line>{{"一", 1}}));
    const std::string exported = "# 文字起こし\n\n出力日時: 2026-12-07 10:00:00\n\n## 本文\n\n"
                                 "- `09:58:01` 発売日は四月十日です。\n"
                                 "- `09:58:07` - `x` のような行も本文です。\n\n";
    EXPECT_EQ(Q::transcriptLines(exported),
              (std::vector<Q::Line>{{"発売日は四月十日です。", 7}, {"- `x` のような行も本文です。", 8}}));
    // A plain file that merely mentions the format keeps every line.
    EXPECT_EQ(Q::transcriptLines("- `09:58:01` 一\n二").size(), 2u);
}

TEST(HeadlessQuestion, AnswersWithQuotesAndFileLineNumbers)
{
    test::TemporaryDirectory folder;
    const auto transcript = QString::fromStdString(folder.path() / "talk.txt");
    std::ofstream(transcript.toStdString()) << kTalk;
    const QStringList noModel{"--language-model", QString::fromStdString(folder.path() / "none.gguf")};

    auto outcome = runProgram(QStringList{"--ask", "発売日はいつですか？", "--transcript", transcript} + noModel);
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.out, "「発売日は四月十日で確定しました。」\n根拠: 3行目\n");

    outcome = runProgram(QStringList{"--json", "--ask", "社長は誰ですか？", "--transcript", transcript} + noModel);
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(nlohmann::json::parse(outcome.out),
              (nlohmann::json{{"answer", "会話に出ていません。"}, {"sources", nlohmann::json::array()}}));

    // The shipped base model answers by quotation too.
    outcome = runProgram({"--json", "--ask", "価格は？", "--transcript", transcript});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(nlohmann::json::parse(outcome.out).at("sources"), nlohmann::json::array({4}));

    outcome = runProgram({"--ask", "価格は？", "--transcript", QString::fromStdString(folder.path() / "no.txt")});
    EXPECT_EQ(outcome.status, Q::kExitFailure);
    EXPECT_TRUE(outcome.out.empty());
    EXPECT_NE(outcome.err.find("を読み込めません"), std::string::npos) << outcome.err;

    outcome = runProgram({"--ask", " 　", "--transcript", transcript});
    EXPECT_EQ(outcome.status, Q::kExitUsage);
    EXPECT_NE(outcome.err.find("--ask に質問を指定してください"), std::string::npos) << outcome.err;

    // A long session is answered from its last lines, still cited by their line in the file.
    std::string talk = "発売日は三月一日の予定でした。\n";
    for (int i = 0; i < 4997; ++i)
        talk += "雑談 " + std::to_string(i) + " です。\n";
    std::ofstream(folder.path() / "long.txt") << talk << "発売日は四月十日に変わりました。\n";
    outcome = runProgram(QStringList{"--json", "--ask", "発売日はいつ？", "--transcript",
                                     QString::fromStdString(folder.path() / "long.txt")} +
                         noModel);
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(nlohmann::json::parse(outcome.out),
              (nlohmann::json{{"answer", "「発売日は四月十日に変わりました。」"}, {"sources", {4999}}}));
}

} // namespace
} // namespace tc
