#pragma once

#include <functional>
#include <mutex>

class QObject;

namespace tc {

// Carries calls from any thread onto the thread of one QObject, queued in posting order. Once closed (or once
// the object is destroyed) nothing more runs; calls already queued for a destroyed object are dropped by Qt.
// Thread-safe (one mutex inside).
class MainThreadHop {
public:
    explicit MainThreadHop(QObject* target);

    // Queues the call on the target's thread; false when closed.
    bool post(std::function<void()> call);
    // Refuses every later post; called by the target before it goes away.
    void close();

private:
    std::mutex m_mutex;
    QObject* m_target;
};

} // namespace tc
