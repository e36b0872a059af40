#include "TranscriptionUI/presentation/MainThreadHop.h"

#include <QMetaObject>
#include <QObject>

namespace tc {

MainThreadHop::MainThreadHop(QObject* target) : m_target(target) {}

bool MainThreadHop::post(std::function<void()> call)
{
    std::lock_guard lock(m_mutex);
    if (!m_target) return false;
    // The target as context: Qt drops the call if the target dies before it runs.
    return QMetaObject::invokeMethod(m_target, std::move(call), Qt::QueuedConnection);
}

void MainThreadHop::close()
{
    std::lock_guard lock(m_mutex);
    m_target = nullptr;
}

} // namespace tc
