#include "support/XvfbServer.h"

namespace tc::test {

XvfbServer::XvfbServer(int width, int height) : m_width(width), m_height(height)
{
    m_process.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-screen", "0",
                                             QStringLiteral("%1x%2x24").arg(width).arg(height), "-nolisten", "tcp"});
    if (m_process.waitForReadyRead(10000)) m_display = ":" + QString(m_process.readAllStandardOutput()).trimmed();
}

XvfbServer::~XvfbServer()
{
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) m_process.kill();
    m_process.waitForFinished(3000);
}

} // namespace tc::test
