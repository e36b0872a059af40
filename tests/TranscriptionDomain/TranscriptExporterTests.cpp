#include "TranscriptionDomain/SubtitleCueBuilder.h"
#include "TranscriptionDomain/TranscriptExporter.h"
#include "support/SubtitleReadBack.h"
#include "support/TemporaryDirectory.h"
#include "support/TestPaths.h"

#include <gtest/gtest.h>

#include <ctime>
#include <fstream>

using tc::FinalizedLine;
using tc::SpeakerLabel;
using tc::TranscriptExporter;
using tc::TranscriptExportFormat;
using tc::Uuid;

namespace {

constexpr double kSessionStart = 818'000'000;

FinalizedLine line(std::string text, double finalizedAfter, std::optional<double> start = std::nullopt,
                   std::optional<double> end = std::nullopt, std::optional<SpeakerLabel> speaker = std::nullopt)
{
    FinalizedLine result{*Uuid::fromString("00000000-0000-4000-8000-000000000001"), std::move(text),
                         kSessionStart + finalizedAfter};
    result.start = start;
    result.end = end;
    result.speaker = speaker;
    return result;
}

// A session with every case the writers handle: labels, a line longer than one cue, numbers, small kana, a line
// without recognized times, characters that mean something in the formats, a blank line and an hour mark.
TranscriptExporter::Input sampleInput()
{
    TranscriptExporter::Input input;
    input.sessionStart = kSessionStart;
    input.exportTimeText = "2026-12-07 10:00:00";
    input.timeOfDayText = [](tc::Date date) {
        const std::time_t seconds = static_cast<std::time_t>(tc::unixSecondsFromDate(date));
        std::tm utc{};
        gmtime_r(&seconds, &utc);
        char text[16] = {};
        std::strftime(text, sizeof text, "%H:%M:%S", &utc);
        return std::string(text);
    };
    input.lines = {
        line("おはようございます。", 2.5, 0.5, 2.25, SpeakerLabel::self),
        line("本日の議題は、2026年度の予算案と、1,234,567円の追加費用についてです。"
             "インターナショナルコミュニケーションマネージャーからも、ちょっとした報告があります。",
             9.5, 2.5, 9.0, SpeakerLabel::other),
        line("A<B & C --> D の件", 12),
        line("\u3000", 12.5),
        line("はい。", 13.2, 12.5, 13.0, SpeakerLabel::overlap),
        line("一時間後の\n最後の行", 3725.5, 3723.0, 3725.125),
    };
    return input;
}

std::filesystem::path goldenPath(TranscriptExportFormat format)
{
    return tc::test::sourceDir() / "tests/TranscriptionDomain/golden" /
           ("transcript." + std::string(tc::exportFormatExtension(format)));
}

} // namespace

TEST(TranscriptExporter, WritesEachFormatExactlyAsTheGoldenFile)
{
    const auto input = sampleInput();
    for (const auto format : {TranscriptExportFormat::srt, TranscriptExportFormat::webVtt,
                              TranscriptExportFormat::plainText, TranscriptExportFormat::markdown}) {
        SCOPED_TRACE(std::string(tc::exportFormatExtension(format)));
        const std::string text = TranscriptExporter::write(format, input);
        if (std::getenv("TC_WRITE_GOLDENS")) std::ofstream(goldenPath(format), std::ios::binary) << text;
        EXPECT_EQ(text, tc::test::readText(goldenPath(format))) << text;
    }
}

TEST(TranscriptExporter, CueTimesUseTheFormatsSeparatorAndRunPastADay)
{
    EXPECT_EQ(TranscriptExporter::cueTime(0, ','), "00:00:00,000");
    EXPECT_EQ(TranscriptExporter::cueTime(3725.1255, '.'), "01:02:05.126");
    EXPECT_EQ(TranscriptExporter::cueTime(100 * 3600 + 0.0004, ','), "100:00:00,000");
    EXPECT_EQ(TranscriptExporter::cueTime(-3, ','), "00:00:00,000");
    EXPECT_EQ(tc::exportFormatFromExtension("vtt"), TranscriptExportFormat::webVtt);
    EXPECT_FALSE(tc::exportFormatFromExtension("SRT"));
    // A file name chosen in the save dialog names its format in any letter case.
    EXPECT_EQ(tc::exportFormatOfFileName("/home/u/会議.SRT"), TranscriptExportFormat::srt);
    EXPECT_EQ(tc::exportFormatOfFileName("memo.txt"), TranscriptExportFormat::plainText);
    EXPECT_FALSE(tc::exportFormatOfFileName("/home/u/notes.d/transcript"));
    EXPECT_FALSE(tc::exportFormatOfFileName("transcript.text"));
}

TEST(TranscriptExporter, FfmpegReadsTheSubtitlesBackWithEveryCue)
{
    const auto input = sampleInput();
    const std::size_t cues = tc::SubtitleCueBuilder::build(input.lines, input.sessionStart).size();
    ASSERT_GE(cues, 6u);
    tc::test::TemporaryDirectory directory;
    for (const auto format : {TranscriptExportFormat::srt, TranscriptExportFormat::webVtt}) {
        const std::string extension(tc::exportFormatExtension(format));
        SCOPED_TRACE(extension);
        const auto file = directory.path() / ("transcript." + extension);
        const std::string text = TranscriptExporter::write(format, input);
        std::ofstream(file, std::ios::binary) << text;
        EXPECT_EQ(tc::test::occurrences(text, " --> "), cues);

        EXPECT_EQ(tc::test::occurrences(tc::test::ffprobeSubtitlePackets(file).value_or(""), "\n"), cues)
            << "ffprobe がありません: scripts/setup を実行してください";
        // Converted back to SubRip by ffmpeg, the cues keep their times and their text.
        const std::string converted = tc::test::ffmpegAsSrt(file);
        EXPECT_EQ(tc::test::occurrences(converted, " --> "), cues) << converted;
        EXPECT_NE(converted.find("01:02:03,000 --> "), std::string::npos) << converted;
        EXPECT_NE(converted.find("1,234,567"), std::string::npos) << converted;
    }
}
