#include "TranscriptionCorvane/HeadlessQuestion.h"
#include "support/BuiltProgram.h"
#include "support/TemporaryDirectory.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>

namespace tc {
namespace {

using Q = HeadlessQuestion;

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
    const auto file = [&](const std::string& name) { return QString::fromStdString(folder.path() / name); };
    std::ofstream(folder.path() / "talk.txt") << "それでは会議を始めます。\n\n発売日は四月十日で確定しました。\n"
                                                 "価格は月額四百八十円です。\n次回の会議は来週の水曜日です。\n";
    // A long session is answered from its last lines, still cited by their line in the file.
    std::string talk = "発売日は三月一日の予定でした。\n";
    for (int i = 0; i < 4997; ++i)
        talk += "雑談 " + std::to_string(i) + " です。\n";
    std::ofstream(folder.path() / "long.txt") << talk << "発売日は四月十日に変わりました。\n";
    const QStringList noModel{"--language-model", file("none.gguf")};
    const auto json = [](const std::string& answer, std::vector<int> sources) {
        return nlohmann::json{{"answer", answer}, {"sources", sources}}.dump() + "\n";
    };

    struct Case {
        QStringList arguments;
        int status;
        std::string out;
        std::string said = {};
    };
    const std::vector<Case> cases{
        {QStringList{"--ask", "発売日はいつですか？", "--transcript", file("talk.txt")} + noModel, 0,
         "「発売日は四月十日で確定しました。」\n根拠: 3行目\n"},
        {QStringList{"--json", "--ask", "社長は誰ですか？", "--transcript", file("talk.txt")} + noModel, 0,
         json("会話に出ていません。", {})},
        {QStringList{"--json", "--ask", "発売日はいつ？", "--transcript", file("long.txt")} + noModel, 0,
         json("「発売日は四月十日に変わりました。」", {4999})},
        // The shipped base model answers by quotation too.
        {{"--json", "--ask", "価格は？", "--transcript", file("talk.txt")},
         0,
         json("「価格は月額四百八十円です。」", {4})},
        {{"--ask", "価格は？", "--transcript", file("no.txt")}, Q::kExitFailure, "", "を読み込めません"}};
    for (const auto& [arguments, status, out, said] : cases) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        const auto outcome = test::BuiltProgram::run(arguments);
        EXPECT_EQ(outcome.status, status) << outcome.err;
        EXPECT_EQ(outcome.out, out);
        EXPECT_NE(outcome.err.find(said), std::string::npos) << outcome.err;
    }
}

} // namespace
} // namespace tc
