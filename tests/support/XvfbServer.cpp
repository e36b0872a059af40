#include "support/XvfbServer.h"

namespace tc::test {

XvfbServer::XvfbServer(int width, int height) : m_width(width), m_height(height)
{
    for (int attempt = 0; attempt < 3 && m_display.isEmpty(); ++attempt)
        start();
}

XvfbServer::~XvfbServer()
{
    stop();
}

void XvfbServer::start()
{
    m_process.start(QStringLiteral("Xvfb"),
                    {"-displayfd", "1", "-screen", "0", QStringLiteral("%1x%2x24").arg(m_width).arg(m_height),
                     "-nolisten", "tcp"});
    if (!m_process.waitForReadyRead(10000)) {
        stop();
        return;
    }
    const QString display = ":" + QString(m_process.readAllStandardOutput()).trimmed();
    QProcess client;
    client.start(QStringLiteral("xdpyinfo"), {"-display", display});
    if (client.waitForFinished(10000) && client.exitStatus() == QProcess::NormalExit && client.exitCode() == 0) {
        m_display = display;
        return;
    }
    stop();
}

void XvfbServer::stop()
{
    if (m_process.state() == QProcess::NotRunning) return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) m_process.kill();
    m_process.waitForFinished(3000);
}

std::string XvfbServer::report()
{
    const bool running = m_process.state() == QProcess::Running;
    return "Xvfb " + m_display.toStdString() + (running ? " runs" : " has ended") +
           ", saying: " + m_process.readAllStandardError().toStdString();
}

} // namespace tc::test
