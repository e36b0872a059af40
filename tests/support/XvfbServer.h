#pragma once

#include <QProcess>
#include <QString>

#include <string>

namespace tc::test {

// A private X server of one screen, stopped with the owner; it takes a free display number itself and is kept
// only once a client reaches it (on a shared machine -displayfd once handed out a display no client could reach,
// so such a server is replaced, up to three tries). Nothing of the user's display is touched. Not thread-safe.
class XvfbServer {
public:
    explicit XvfbServer(int width = 1280, int height = 800);
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    // ":N"; empty when no server came up that a client reaches.
    const QString& display() const { return m_display; }
    int width() const { return m_width; }
    int height() const { return m_height; }
    // Whether the server still runs, and what it said: for a failure's message.
    std::string report();

private:
    // Starts Xvfb and sets m_display once a client reaches it; leaves it empty otherwise.
    void start();
    void stop();

    QProcess m_process;
    QString m_display;
    int m_width;
    int m_height;
};

} // namespace tc::test
