#include "TranscriptionDomain/JapaneseLineBreaker.h"
#include "TranscriptionDomain/SubtitleCueBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using tc::FinalizedLine;
using tc::JapaneseLineBreaker;
using tc::SubtitleCueBuilder;
using tc::Uuid;
using Rows = std::vector<std::string>;

TEST(JapaneseLineBreaker, CountsFullWidthAsTwoColumnsAndKeepsBrokenBytes)
{
    EXPECT_EQ(JapaneseLineBreaker::columns("abcｶﾀｶﾅ"), 7);
    EXPECT_EQ(JapaneseLineBreaker::columns("日本語１２３"), 12);
    EXPECT_EQ(JapaneseLineBreaker::characterCount("日本語abc"), 6u);
    EXPECT_EQ(JapaneseLineBreaker::characterCount("あ\xE3\x81"), 3u);
}

TEST(JapaneseLineBreaker, CutsWhereAJapaneseReaderExpects)
{
    const struct {
        const char* why;
        std::string text;
        int width;
        Rows rows;
    } cases[]{
        {"short text", "こんにちは。", 42, {"こんにちは。"}},
        {"blank text", "  \u3000\n", 42, {}},
        {"a broken byte is kept", "あ\xFFい", 42, {"あ\xFFい"}},
        {"line breaks become spaces", " 一行目\n二行目 ", 42, {"一行目 二行目"}},
        {"after punctuation rather than inside a word",
         "今日はとてもいい天気ですね、散歩に行きましょうか。それとも映画にしますか？",
         42,
         {"今日はとてもいい天気ですね、", "散歩に行きましょうか。", "それとも映画にしますか？"}},
        {"at spaces, which disappear",
         "the quick brown fox jumps over the lazy dog again",
         20,
         {"the quick brown fox", "jumps over the lazy", "dog again"}},
        {"a number wider than a row at the row's end", "12345678901234567890", 8, {"12345678", "90123456", "7890"}},
        {"the last two rows share rather than leave a few characters alone",
         "「はい、そうです」と彼は言った。（笑）それから、ゆっくりと会議室を出ていきました。",
         42,
         {"「はい、そうです」と彼は言った。（笑）", "それから、ゆっくりと", "会議室を出ていきました。"}},
        {"the same inside a long katakana word",
         "スマートフォンアプリケーションのユーザーインターフェースデザインについて話し合いました。",
         42,
         {"スマートフォンアプリケーションのユーザーイ", "ンターフェースデザイン", "について話し合いました。"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(JapaneseLineBreaker::breakIntoRows(c.text, c.width), c.rows);
    }
}

TEST(JapaneseLineBreaker, RowsFitKeepEveryCharacterAndNeverStartWhereJapaneseForbids)
{
    const std::vector<std::string> neverFirst{"。", "、", "ー", "ぁ", "ぃ", "ぅ", "ぇ", "ぉ", "っ",
                                              "ゃ", "ゅ", "ょ", "ゎ", "ァ", "ィ", "ゥ", "ェ", "ォ",
                                              "ッ", "ャ", "ュ", "ョ", "ヮ", "ヵ", "ヶ"};
    const std::vector<std::string> wholeNumbers{"1,234,567", "12.5",          "2026/12/07",
                                                "10:30",     "Transcription", "１２，０００"};
    // Most texts put a forbidden character exactly where a plain 42-column cut would fall.
    const std::vector<std::string> texts{
        "あいうえおかきくけこさしすせそたちつてとな。にぬねのはひふへほまみむめもやゆよらりるれろわをん",
        "あいうえおかきくけこさしすせそたちつてとな、にぬねのはひふへほまみむめもやゆよらりるれろ",
        "あいうえおかきくけこさしすせそたちつてとちょっとまってください",
        "インターナショナルコミュニケーションマネージャーとプロジェクトマネージャーのミーティング",
        "コンピューターシミュレーションのパフォーマンスチューニングとキャッシュメモリーのチェック",
        "きゃっきゃっとはしゃぐ子どもたちがちょっぴりびっくりして、じゃっかんしょんぼりしちゃった。ヶ月ヵ所",
        "売上は前年比で1,234,567円増えて、利益率は12.5%、会議は2026/12/07の10:30から"
        "Transcriptionチームと１２，０００人規模で行います。",
    };
    const auto withoutSpaces = [](std::string text) {
        std::erase(text, ' ');
        return text;
    };
    for (const auto& text : texts) {
        for (const int width : {42, 41, 40, 24, 16, 11}) {
            SCOPED_TRACE(text + " in " + std::to_string(width));
            const auto rows = JapaneseLineBreaker::breakIntoRows(text, width);
            std::string joined;
            for (const auto& row : rows) {
                EXPECT_LE(JapaneseLineBreaker::columns(row), width) << row;
                for (const auto& forbidden : neverFirst)
                    EXPECT_FALSE(row.starts_with(forbidden)) << row;
                joined += row;
            }
            EXPECT_EQ(withoutSpaces(joined), withoutSpaces(text));
            for (const auto& number : wholeNumbers) {
                if (width < 16 || text.find(number) == std::string::npos) continue;
                EXPECT_TRUE(std::any_of(rows.begin(), rows.end(), [&](const auto& row) {
                    return row.find(number) != std::string::npos;
                })) << number;
            }
        }
    }
}

TEST(JapaneseLineBreaker, LeavesRoomForATagBeforeEachGroup)
{
    std::string kana;
    for (int i = 0; i < 60; ++i)
        kana += "あ";
    std::vector<int> widths;
    for (const auto& row : JapaneseLineBreaker::breakIntoRows(kana, 42, 7, 2))
        widths.push_back(JapaneseLineBreaker::columns(row));
    // The tag's room in each group's first row; the last two rows share what is left.
    EXPECT_EQ(widths, (std::vector<int>{34, 42, 22, 22}));
}

TEST(SubtitleCueBuilder, DerivesTimesFromTheFinalizedTimeWhenTheRecognizedOnesAreMissing)
{
    const double session = 5000;
    const auto at = [&](std::string text, double finalizedAfter) {
        return FinalizedLine{Uuid::random(), std::move(text), session + finalizedAfter};
    };
    std::string longText;
    for (int i = 0; i < 50; ++i)
        longText += "長";
    FinalizedLine timed = at("時刻付き", 40);
    timed.start = 33.5;
    timed.end = 35.25;
    // 3 characters get the 1 s minimum, 9 characters 1.8 s cut at the line before, 50 characters the 8 s cap (in
    // two cues); a blank line gets none.
    const auto cues = SubtitleCueBuilder::build(
        {at("はい。", 3), at("では始めましょう。", 4), at("\u3000", 5), at(longText, 30), timed}, session);
    ASSERT_EQ(cues.size(), 5u);
    const std::vector<std::pair<double, double>> expected{
        {2, 3}, {3, 4}, {22, cues[2].end}, {cues[3].start, 30}, {33.5, 35.25}};
    for (std::size_t i = 0; i < cues.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_DOUBLE_EQ(cues[i].start, expected[i].first);
        EXPECT_DOUBLE_EQ(cues[i].end, expected[i].second);
    }
    // A line finalized before the session began stays visible from its start.
    const auto early = SubtitleCueBuilder::build({at("開始前", -10)}, session);
    ASSERT_EQ(early.size(), 1u);
    EXPECT_DOUBLE_EQ(early[0].start, 0);
    EXPECT_DOUBLE_EQ(early[0].end, SubtitleCueBuilder::kMinimumSpan);
}
