#include "TranscriptionUI/caption/LiveCaptionIdleHider.h"

namespace tc {

LiveCaptionIdleHider::LiveCaptionIdleHider(Timing timing, QObject* parent)
    : QObject(parent), m_timing(std::move(timing))
{
    if (!m_timing.now) m_timing.now = [] { return Clock::now(); };
    if (!m_timing.wakeIn) {
        m_timer.setSingleShot(true);
        connect(&m_timer, &QTimer::timeout, this, &LiveCaptionIdleHider::wake);
        m_timing.wakeIn = [this](std::optional<Clock::duration> delay) {
            if (!delay) {
                m_timer.stop();
                return;
            }
            // Rounded up, so the timer never wakes just before the idle time is over.
            m_timer.start(std::chrono::ceil<std::chrono::milliseconds>(*delay));
        };
    }
    m_lastText = m_timing.now();
}

void LiveCaptionIdleHider::setHideAfter(std::optional<Clock::duration> idle)
{
    if (idle == m_hideAfter) return;
    const bool wasOff = !m_hideAfter;
    m_hideAfter = idle;
    if (!m_hideAfter) {
        m_timing.wakeIn(std::nullopt);
        setHidden(false);
        return;
    }
    // Turned on, the caption stays for the chosen time before it goes, however old its text; a changed time
    // counts from the last text.
    if (wasOff) m_lastText = m_timing.now();
    wake();
}

void LiveCaptionIdleHider::textArrived()
{
    m_lastText = m_timing.now();
    setHidden(false);
    arm();
}

void LiveCaptionIdleHider::wake()
{
    if (!m_hideAfter || m_hidden) return;
    if (m_timing.now() - m_lastText >= *m_hideAfter) {
        setHidden(true);
        return;
    }
    arm();
}

void LiveCaptionIdleHider::arm()
{
    if (!m_hideAfter) return;
    m_timing.wakeIn(std::max(Clock::duration::zero(), m_lastText + *m_hideAfter - m_timing.now()));
}

void LiveCaptionIdleHider::setHidden(bool hidden)
{
    if (hidden == m_hidden) return;
    m_hidden = hidden;
    Q_EMIT hiddenChanged(hidden);
}

} // namespace tc
