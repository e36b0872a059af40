#pragma once

#include <QProcess>
#include <QString>

namespace tc::test {

// A private X server of one screen, stopped with the owner; it takes a free display number itself and tells it
// once ready. Nothing of the user's display is touched.
class XvfbServer {
public:
    explicit XvfbServer(int width = 1280, int height = 800);
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    // ":N"; empty when the server did not come up.
    const QString& display() const { return m_display; }
    int width() const { return m_width; }
    int height() const { return m_height; }

private:
    QProcess m_process;
    QString m_display;
    int m_width;
    int m_height;
};

} // namespace tc::test
