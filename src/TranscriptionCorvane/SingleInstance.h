#pragma once

#include <QObject>
#include <QString>
#include <filesystem>
#include <functional>

class QLocalServer;

namespace tc {

// One window per data folder (so per user and home): the first launch holds an flock on "instance.lock" in the
// folder and listens on a local socket; a later launch asks it to show its window instead of opening a second
// one that would write the same history. The kernel drops the lock with its process, so a crash leaves nothing
// stale behind. Main thread only.
class SingleInstance : public QObject {
public:
    enum class Outcome {
        // This process holds the lock and answers later launches.
        primary,
        // Another process holds it and was asked to show its window.
        handedOver,
        // Another process holds it but did not answer.
        unanswered,
    };

    // Takes the lock or, failing that, asks its holder to come to the front. Needs a QCoreApplication.
    explicit SingleInstance(const std::filesystem::path& dataFolder, QObject* parent = nullptr);
    ~SingleInstance() override;
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    Outcome outcome() const { return m_outcome; }
    // Called, on the main thread, each time a later launch asks for the window.
    void onShowRequested(std::function<void()> handler) { m_showRequested = std::move(handler); }

    // Japanese, for the user of a launch that did not become primary.
    static QString messageFor(Outcome outcome);

private:
    bool askRunningToShow();
    void listen();

    QString m_serverName;
    int m_lockFd = -1;
    Outcome m_outcome = Outcome::unanswered;
    QLocalServer* m_server = nullptr;
    std::function<void()> m_showRequested;
};

} // namespace tc
