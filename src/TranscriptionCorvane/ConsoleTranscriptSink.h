#pragma once

#include "TranscriptionApplication/OutputSink.h"

#include <functional>
#include <mutex>
#include <ostream>
#include <string>

namespace tc {

// Prints a session's events for a terminal: each settled line with its local time as it settles, the volatile
// text on one line that is rewritten in place (only when the output is a terminal), notices and failures in
// Japanese on the error stream. Serialises its writes with one mutex; any thread may emit.
class ConsoleTranscriptSink final : public OutputSink {
public:
    // "HH:mm:ss" of now, in local time.
    using TimeText = std::function<std::string()>;

    ConsoleTranscriptSink(std::ostream& out, std::ostream& err, bool interactive, TimeText timeText = {});

    // Prints the event; never throws.
    void emit(const OutputEvent& event) override;
    // Clears a volatile line still on show, so what follows starts on a clean line.
    void finish();
    // The settled lines printed so far.
    int lineCount() const;
    // Whether a failure was reported.
    bool sawFailure() const;

private:
    void clearVolatile();

    std::ostream& m_out;
    std::ostream& m_err;
    const bool m_interactive;
    TimeText m_timeText;
    mutable std::mutex m_mutex;
    bool m_volatileShown = false;
    int m_lines = 0;
    bool m_failed = false;
};

} // namespace tc
