#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>
#include <optional>

namespace tc {

// Hides the caption after a chosen time without new text and shows it again with the next text. Main thread only.
class LiveCaptionIdleHider : public QObject {
    Q_OBJECT
public:
    using Clock = std::chrono::steady_clock;
    // How the hider tells the time and asks to be woken (wake() is then due); nothing cancels the wake-up.
    // Empty functions: the steady clock and a single-shot QTimer.
    struct Timing {
        std::function<Clock::time_point()> now;
        std::function<void(std::optional<Clock::duration>)> wakeIn;
    };

    explicit LiveCaptionIdleHider(Timing timing = {}, QObject* parent = nullptr);

    // Nothing: never hides (and shows again when hidden). Turning it on counts the idle time from now.
    void setHideAfter(std::optional<Clock::duration> idle);
    // New text arrived: shown, and the idle time starts again.
    void textArrived();
    bool isHidden() const { return m_hidden; }
    // The wake-up asked for is due; hides when the idle time has passed, otherwise asks again for the rest.
    void wake();

signals:
    void hiddenChanged(bool hidden);

private:
    void setHidden(bool hidden);
    void arm();

    Timing m_timing;
    QTimer m_timer;
    std::optional<Clock::duration> m_hideAfter;
    Clock::time_point m_lastText;
    bool m_hidden = false;
};

} // namespace tc
