#include "TranscriptionCorvane/HeadlessTranscription.h"

#include "TranscriptionApplication/RunTranscriptionSession.h"
#include "TranscriptionCorvane/ConsoleTranscriptSink.h"
#include "TranscriptionCorvane/TranscriptCollectingSink.h"
#include "TranscriptionDomain/TranscriptExporter.h"
#include "TranscriptionInfrastructure/CompositionRoot.h"

#include <cmath>
#include <ctime>
#include <iostream>

namespace tc {

namespace {

std::string localTimeText(Date date, const char* pattern)
{
    const auto seconds = static_cast<std::time_t>(std::floor(unixSecondsFromDate(date)));
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32] = {};
    std::strftime(text, sizeof text, pattern, &local);
    return text;
}

} // namespace

int HeadlessTranscription::run(const Options& options, std::ostream& out, std::ostream& err, bool interactive)
{
    const CompositionRoot root(EngineConfig{EngineConfig::TranscriberKind::speechAnalyzer, "ja-JP"}, options.model);
    // With a format, the settled lines go to the error stream as progress and the export alone to out. The lines'
    // recognized times are positions in the file, so they already count from the session's start.
    auto sink = options.format ? std::make_shared<ConsoleTranscriptSink>(err, err, false)
                               : std::make_shared<ConsoleTranscriptSink>(out, err, interactive);
    auto collector = std::make_shared<TranscriptCollectingSink>(sink);
    const Date sessionStart = currentDate();
    RunTranscriptionSession session(root.makeFileAudioSource(options.file), root.makeTranscriber(), collector);
    bool failed = false;
    try {
        session.run();
    } catch (...) {
        // The runner has already reported the failure through the sink.
        sink->finish();
        if (!sink->sawFailure()) err << "エラー: 文字起こしに失敗しました。\n";
        failed = true;
    }
    sink->finish();
    if (options.format) {
        const auto lines = collector->lines();
        // What settled before a failure is still written, so nothing heard is lost; the status tells the failure.
        if (!failed || !lines.empty()) {
            TranscriptExporter::Input input{lines, sessionStart, localTimeText(currentDate(), "%Y-%m-%d %H:%M:%S"),
                                            [](Date date) { return localTimeText(date, "%H:%M:%S"); }};
            out << TranscriptExporter::write(*options.format, input) << std::flush;
            if (failed) err << "途中までの " << lines.size() << " 行を出力しました。\n";
        }
    }
    if (failed) return kExitFailure;
    err << "文字起こしが終わりました（" << sink->lineCount() << " 行）。\n";
    return 0;
}

} // namespace tc
