#include "TranscriptionCorvane/ConsoleTranscriptSink.h"

#include "TranscriptionDomain/BlankText.h"

#include <algorithm>
#include <ctime>

namespace tc {

namespace {

std::string localTimeNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[16] = {};
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

// One line on the terminal: line breaks inside a recognised text would break the rewrite in place.
std::string singleLine(std::string text)
{
    std::replace(text.begin(), text.end(), '\n', ' ');
    std::replace(text.begin(), text.end(), '\r', ' ');
    return text;
}

} // namespace

ConsoleTranscriptSink::ConsoleTranscriptSink(std::ostream& out, std::ostream& err, bool interactive, TimeText timeText)
    : m_out(out), m_err(err), m_interactive(interactive), m_timeText(timeText ? std::move(timeText) : localTimeNow)
{}

void ConsoleTranscriptSink::clearVolatile()
{
    if (!m_volatileShown) return;
    m_out << "\r\x1b[2K" << std::flush;
    m_volatileShown = false;
}

void ConsoleTranscriptSink::emit(const OutputEvent& event)
{
    std::lock_guard lock(m_mutex);
    switch (event.kind) {
    case OutputEvent::Kind::volatileTranscript:
        if (!m_interactive) return;
        clearVolatile();
        if (isBlankText(event.text)) return;
        m_out << "… " << singleLine(event.text) << std::flush;
        m_volatileShown = true;
        return;
    case OutputEvent::Kind::finalizedTranscript:
        clearVolatile();
        m_out << m_timeText() << "  " << singleLine(event.text) << '\n' << std::flush;
        ++m_lines;
        return;
    case OutputEvent::Kind::notice:
        clearVolatile();
        m_err << "お知らせ: " << event.text << '\n' << std::flush;
        return;
    case OutputEvent::Kind::failure:
        clearVolatile();
        m_err << "エラー: " << event.text << '\n' << std::flush;
        m_failed = true;
        return;
    }
}

void ConsoleTranscriptSink::finish()
{
    std::lock_guard lock(m_mutex);
    clearVolatile();
}

int ConsoleTranscriptSink::lineCount() const
{
    std::lock_guard lock(m_mutex);
    return m_lines;
}

bool ConsoleTranscriptSink::sawFailure() const
{
    std::lock_guard lock(m_mutex);
    return m_failed;
}

} // namespace tc
