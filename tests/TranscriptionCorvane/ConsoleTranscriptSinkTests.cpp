#include "TranscriptionCorvane/ConsoleTranscriptSink.h"

#include <gtest/gtest.h>

#include <sstream>

namespace tc {
namespace {

TEST(ConsoleTranscriptSink, RewritesTheVolatileLineOnlyOnATerminal)
{
    for (const bool interactive : {true, false}) {
        std::ostringstream out;
        std::ostringstream err;
        ConsoleTranscriptSink sink(out, err, interactive, [] { return std::string("12:34:56"); });
        sink.emit(OutputEvent::volatileTranscript("こん"));
        sink.emit(OutputEvent::volatileTranscript("こんにちは"));
        sink.emit(OutputEvent::finalizedTranscript("こんにちは。"));
        sink.emit(OutputEvent::volatileTranscript("次"));
        sink.emit(OutputEvent::notice("文字起こしを再開します…"));
        sink.emit(OutputEvent::failure("文字起こしが中断されました: 失敗"));
        sink.finish();
        if (interactive) {
            EXPECT_EQ(out.str(), "… こん\r\x1b[2K… こんにちは\r\x1b[2K12:34:56  こんにちは。\n… 次\r\x1b[2K");
        } else {
            EXPECT_EQ(out.str(), "12:34:56  こんにちは。\n");
        }
        EXPECT_EQ(err.str(), "お知らせ: 文字起こしを再開します…\nエラー: 文字起こしが中断されました: 失敗\n");
        EXPECT_EQ(sink.lineCount(), 1);
        EXPECT_TRUE(sink.sawFailure());
    }
}

} // namespace
} // namespace tc
