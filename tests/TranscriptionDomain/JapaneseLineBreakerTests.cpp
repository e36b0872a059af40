#include "TranscriptionDomain/JapaneseLineBreaker.h"
#include "TranscriptionDomain/SubtitleCueBuilder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using tc::FinalizedLine;
using tc::JapaneseLineBreaker;
using tc::SubtitleCueBuilder;
using tc::Uuid;

namespace {

const std::vector<std::string> kNeverFirst{"。", "、", "ー", "ぁ", "ぃ", "ぅ", "ぇ", "ぉ", "っ", "ゃ", "ゅ", "ょ", "ゎ",
                                           "ァ", "ィ", "ゥ", "ェ", "ォ", "ッ", "ャ", "ュ", "ョ", "ヮ", "ヵ", "ヶ"};

std::string withoutSpaces(std::string text)
{
    std::erase(text, ' ');
    return text;
}

// The rows fit, keep every character in order, and never start where Japanese forbids it.
void expectSoundRows(const std::string& text, const std::vector<std::string>& rows, int maxColumns)
{
    std::string joined;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        SCOPED_TRACE("row " + std::to_string(r) + ": " + rows[r]);
        EXPECT_LE(JapaneseLineBreaker::columns(rows[r]), maxColumns);
        EXPECT_FALSE(rows[r].empty());
        for (const auto& forbidden : kNeverFirst)
            EXPECT_FALSE(rows[r].starts_with(forbidden)) << forbidden;
        joined += rows[r];
    }
    EXPECT_EQ(withoutSpaces(joined), withoutSpaces(text));
}

// True when the number appears whole in one of the rows.
bool keptWhole(const std::vector<std::string>& rows, const std::string& number)
{
    for (const auto& row : rows)
        if (row.find(number) != std::string::npos) return true;
    return false;
}

} // namespace

TEST(JapaneseLineBreaker, CountsFullWidthAsTwoColumns)
{
    EXPECT_EQ(JapaneseLineBreaker::columns("abc"), 3);
    EXPECT_EQ(JapaneseLineBreaker::columns("日本語"), 6);
    EXPECT_EQ(JapaneseLineBreaker::columns("ｶﾀｶﾅ"), 4);
    EXPECT_EQ(JapaneseLineBreaker::columns("１２３"), 6);
    EXPECT_EQ(JapaneseLineBreaker::characterCount("日本語abc"), 6u);
    // A broken byte is kept as one character rather than lost.
    EXPECT_EQ(JapaneseLineBreaker::characterCount("あ\xE3\x81"), 3u);
    EXPECT_EQ(JapaneseLineBreaker::breakIntoRows("あ\xFFい", 42), std::vector<std::string>{"あ\xFFい"});
}

TEST(JapaneseLineBreaker, ShortTextStaysOneRowAndBlankTextGivesNone)
{
    EXPECT_EQ(JapaneseLineBreaker::breakIntoRows("こんにちは。", 42), std::vector<std::string>{"こんにちは。"});
    EXPECT_TRUE(JapaneseLineBreaker::breakIntoRows("  \u3000\n", 42).empty());
    // Line breaks inside a recognized text become spaces; spaces around the text fall away.
    EXPECT_EQ(JapaneseLineBreaker::breakIntoRows(" 一行目\n二行目 ", 42), std::vector<std::string>{"一行目 二行目"});
}

TEST(JapaneseLineBreaker, NeverStartsARowWithPunctuationSmallKanaOrLongVowelMark)
{
    // Each text puts a forbidden character exactly where a plain 42-column cut would fall.
    const std::vector<std::string> texts{
        "あいうえおかきくけこさしすせそたちつてとな。にぬねのはひふへほまみむめもやゆよらりるれろわをん",
        "あいうえおかきくけこさしすせそたちつてとな、にぬねのはひふへほまみむめもやゆよらりるれろ",
        "あいうえおかきくけこさしすせそたちつてとちょっとまってください",
        "インターナショナルコミュニケーションマネージャーとプロジェクトマネージャーのミーティング",
        "コンピューターシミュレーションのパフォーマンスチューニングとキャッシュメモリーのチェック",
        "きゃっきゃっとはしゃぐ子どもたちがちょっぴりびっくりして、じゃっかんしょんぼりしちゃった。ヶ月ヵ所",
    };
    for (const auto& text : texts) {
        SCOPED_TRACE(text);
        for (const int width : {42, 41, 40, 20, 11}) {
            SCOPED_TRACE(width);
            expectSoundRows(text, JapaneseLineBreaker::breakIntoRows(text, width), width);
        }
    }
}

TEST(JapaneseLineBreaker, KeepsNumbersAndLatinWordsWhole)
{
    const std::string text = "売上は前年比で1,234,567円増えて、利益率は12.5%、会議は2026/12/07の10:30から"
                             "Transcriptionチームと１２，０００人規模で行います。";
    for (const int width : {42, 30, 24, 16}) {
        SCOPED_TRACE(width);
        const auto rows = JapaneseLineBreaker::breakIntoRows(text, width);
        expectSoundRows(text, rows, width);
        for (const auto* number : {"1,234,567", "12.5", "2026/12/07", "10:30", "Transcription", "１２，０００"})
            EXPECT_TRUE(keptWhole(rows, number)) << number;
    }
    // A number wider than a row cannot stay whole; it is cut at the row's end rather than overflowing.
    const auto rows = JapaneseLineBreaker::breakIntoRows("12345678901234567890", 8);
    EXPECT_EQ(rows, (std::vector<std::string>{"12345678", "90123456", "7890"}));
}

TEST(JapaneseLineBreaker, PrefersACutAfterPunctuation)
{
    // A plain cut at 42 columns would fall inside "行きましょう"; the comma ends the first row instead.
    const auto rows = JapaneseLineBreaker::breakIntoRows(
        "今日はとてもいい天気ですね、散歩に行きましょうか。それとも映画にしますか？", 42);
    EXPECT_EQ(rows, (std::vector<std::string>{"今日はとてもいい天気ですね、", "散歩に行きましょうか。",
                                              "それとも映画にしますか？"}));
    // Spaces between words are cut points too, and disappear at the cut.
    const auto spaced = JapaneseLineBreaker::breakIntoRows("the quick brown fox jumps over the lazy dog again", 20);
    EXPECT_EQ(spaced, (std::vector<std::string>{"the quick brown fox", "jumps over the lazy", "dog again"}));
}

TEST(JapaneseLineBreaker, SharesTheLastTwoRowsRatherThanLeavingAFewCharactersAlone)
{
    // Filling the second row would leave "た。" on a third; the cut moves to the phrase before "会議室".
    EXPECT_EQ(JapaneseLineBreaker::breakIntoRows(
                  "「はい、そうです」と彼は言った。（笑）それから、ゆっくりと会議室を出ていきました。", 42),
              (std::vector<std::string>{"「はい、そうです」と彼は言った。（笑）", "それから、ゆっくりと",
                                        "会議室を出ていきました。"}));
    EXPECT_EQ(JapaneseLineBreaker::breakIntoRows(
                  "スマートフォンアプリケーションのユーザーインターフェースデザインについて話し合いました。", 42),
              (std::vector<std::string>{"スマートフォンアプリケーションのユーザーイ", "ンターフェースデザイン",
                                        "について話し合いました。"}));
}

TEST(JapaneseLineBreaker, LeavesRoomForATagBeforeEachGroup)
{
    std::string kana;
    for (int i = 0; i < 60; ++i)
        kana += "あ";
    const auto rows = JapaneseLineBreaker::breakIntoRows(kana, 42, 7, 2);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(JapaneseLineBreaker::columns(rows[0]), 34);
    EXPECT_EQ(JapaneseLineBreaker::columns(rows[1]), 42);
    // The last two rows share what is left rather than leaving five characters alone.
    EXPECT_EQ(JapaneseLineBreaker::columns(rows[2]), 22);
    EXPECT_EQ(JapaneseLineBreaker::columns(rows[3]), 22);
}

TEST(SubtitleCueBuilder, SplitsALongLineIntoCuesSharingItsTimeByCharacters)
{
    std::string text;
    for (int i = 0; i < 5; ++i)
        text += "これは字幕の分割を確かめるための長い文です。";
    FinalizedLine line{Uuid::random(), text, 1000};
    line.start = 10;
    line.end = 20;
    const auto cues = SubtitleCueBuilder::build({line}, 900);
    ASSERT_GE(cues.size(), 2u);
    EXPECT_DOUBLE_EQ(cues.front().start, 10);
    EXPECT_DOUBLE_EQ(cues.back().end, 20);
    std::size_t total = 0;
    for (const auto& cue : cues)
        for (const auto& row : cue.rows)
            total += JapaneseLineBreaker::characterCount(row);
    EXPECT_EQ(total, JapaneseLineBreaker::characterCount(text));
    for (std::size_t i = 0; i < cues.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_GE(cues[i].rows.size(), 1u);
        EXPECT_LE(cues[i].rows.size(), 2u);
        if (i > 0) {
            EXPECT_DOUBLE_EQ(cues[i].start, cues[i - 1].end);
        }
        std::size_t characters = 0;
        for (const auto& row : cues[i].rows)
            characters += JapaneseLineBreaker::characterCount(row);
        EXPECT_NEAR(cues[i].end - cues[i].start, 10.0 * static_cast<double>(characters) / static_cast<double>(total),
                    1e-9);
    }
}

TEST(SubtitleCueBuilder, DerivesTimesFromTheFinalizedTimeWhenTheRecognizedOnesAreMissing)
{
    const double session = 5000;
    const FinalizedLine first{Uuid::random(), "はい。", session + 3};              // 3 characters: the 1 s minimum
    const FinalizedLine second{Uuid::random(), "では始めましょう。", session + 4}; // 9 characters: 1.8 s, cut at 3
    const FinalizedLine blank{Uuid::random(), "\u3000", session + 5};
    std::string longText;
    for (int i = 0; i < 50; ++i)
        longText += "長";
    const FinalizedLine third{Uuid::random(), longText, session + 30}; // 50 characters: capped at 8 s
    FinalizedLine timed{Uuid::random(), "時刻付き", session + 40};
    timed.start = 33.5;
    timed.end = 35.25;
    timed.speaker = tc::SpeakerLabel::other;
    const FinalizedLine early{Uuid::random(), "開始前", session - 10}; // before the session: kept visible from 0

    const auto cues = SubtitleCueBuilder::build({first, second, blank, third, timed}, session);
    ASSERT_EQ(cues.size(), 5u); // the long line needs two cues; the blank line none
    EXPECT_DOUBLE_EQ(cues[0].start, 2);
    EXPECT_DOUBLE_EQ(cues[0].end, 3);
    EXPECT_DOUBLE_EQ(cues[1].start, 3);
    EXPECT_DOUBLE_EQ(cues[1].end, 4);
    EXPECT_DOUBLE_EQ(cues[2].start, 22);
    EXPECT_DOUBLE_EQ(cues[3].end, 30);
    EXPECT_DOUBLE_EQ(cues[4].start, 33.5);
    EXPECT_DOUBLE_EQ(cues[4].end, 35.25);
    EXPECT_EQ(cues[4].speaker, tc::SpeakerLabel::other);

    const auto clamped = SubtitleCueBuilder::build({early}, session);
    ASSERT_EQ(clamped.size(), 1u);
    EXPECT_DOUBLE_EQ(clamped[0].start, 0);
    EXPECT_DOUBLE_EQ(clamped[0].end, SubtitleCueBuilder::kMinimumSpan);
}

TEST(SubtitleCueBuilder, SpeakerTagFitsBesideTheFirstRowOfEveryCue)
{
    std::string text;
    for (int i = 0; i < 8; ++i)
        text += "話者ラベル付きの長い発言です";
    FinalizedLine line{Uuid::random(), text, 10};
    line.speaker = tc::SpeakerLabel::self;
    const auto cues = SubtitleCueBuilder::build({line}, 0);
    ASSERT_GE(cues.size(), 2u);
    EXPECT_EQ(SubtitleCueBuilder::speakerTag(tc::SpeakerLabel::self), "[自分] ");
    for (const auto& cue : cues) {
        EXPECT_EQ(cue.speaker, tc::SpeakerLabel::self);
        EXPECT_LE(JapaneseLineBreaker::columns(SubtitleCueBuilder::speakerTag(cue.speaker) + cue.rows[0]), 42);
    }
}
