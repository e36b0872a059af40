#include "TranscriptionCorvane/TranscriptCollectingSink.h"
#include "support/RecordingSink.h"

#include <gtest/gtest.h>

using tc::OutputEvent;
using tc::TranscriptCollectingSink;

TEST(TranscriptCollectingSink, KeepsSettledLinesWithTheirAudioTimesAndPassesEverythingOn)
{
    auto next = std::make_shared<tc::test::RecordingSink>();
    double clock = 100;
    TranscriptCollectingSink sink(next, [&] { return clock++; });
    const std::vector<OutputEvent> events{
        OutputEvent::volatileTranscript("こん"), OutputEvent::finalizedTranscript("こんにちは。", 0.5, 1.75),
        OutputEvent::finalizedTranscript("\u3000", 2, 3), OutputEvent::notice("お知らせ"),
        OutputEvent::finalizedTranscript("時刻のない行")};
    for (const auto& event : events)
        sink.emit(event);

    EXPECT_EQ(next->events(), events);
    const auto lines = sink.lines();
    ASSERT_EQ(lines.size(), 2u); // the blank line is not kept
    EXPECT_EQ(lines[0].text, "こんにちは。");
    EXPECT_EQ(lines[0].start, 0.5);
    EXPECT_EQ(lines[0].end, 1.75);
    EXPECT_EQ(lines[0].time, 100);
    EXPECT_FALSE(lines[0].speaker);
    EXPECT_FALSE(lines[1].start || lines[1].end);
    EXPECT_EQ(lines[1].time, 101);
    EXPECT_NE(lines[0].id, lines[1].id);
}
