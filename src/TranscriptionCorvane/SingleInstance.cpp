#include "TranscriptionCorvane/SingleInstance.h"

#include "TranscriptionInfrastructure/settings/AppPaths.h"

#include <QCryptographicHash>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace tc {

namespace {

const QByteArray kShowRequest = "show\n";
const QByteArray kShownReply = "shown\n";
constexpr int kAnswerTimeoutMs = 3000;

// The socket lives in the runtime folder (short paths; sockets there vanish at logout), named after the data
// folder so that two homes of one user do not meet.
QString serverNameFor(const std::filesystem::path& dataFolder)
{
    std::error_code ignored;
    auto canonical = std::filesystem::weakly_canonical(dataFolder, ignored);
    if (canonical.empty()) canonical = dataFolder;
    const QByteArray digest =
        QCryptographicHash::hash(QByteArray::fromStdString(canonical.string()), QCryptographicHash::Sha1).toHex();
    const QString folder = QString::fromStdString(AppPaths::current().runtimeDirectory().string());
    return folder + QStringLiteral("/transcription-corvane-%1-%2.socket")
                        .arg(::getuid())
                        .arg(QString::fromLatin1(digest.left(16)));
}

} // namespace

SingleInstance::SingleInstance(const std::filesystem::path& dataFolder, QObject* parent)
    : QObject(parent), m_serverName(serverNameFor(dataFolder))
{
    std::error_code ignored;
    std::filesystem::create_directories(dataFolder, ignored);
    const auto lockPath = dataFolder / "instance.lock";
    m_lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    // Without a lock file (an unwritable folder) there is nothing to coordinate on; run rather than refuse.
    if (m_lockFd < 0 || ::flock(m_lockFd, LOCK_EX | LOCK_NB) == 0) {
        m_outcome = Outcome::primary;
        listen();
        return;
    }
    m_outcome = askRunningToShow() ? Outcome::handedOver : Outcome::unanswered;
}

SingleInstance::~SingleInstance()
{
    if (m_server) m_server->close();
    if (m_lockFd >= 0) ::close(m_lockFd);
}

void SingleInstance::listen()
{
    // Only the lock holder gets here, so a socket file left by a crashed holder is stale.
    QLocalServer::removeServer(m_serverName);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_serverName)) return;
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* client = m_server->nextPendingConnection()) {
            connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
            connect(client, &QLocalSocket::readyRead, this, [this, client] {
                if (!client->canReadLine()) return;
                if (client->readLine() != kShowRequest) return client->disconnectFromServer();
                if (m_showRequested) m_showRequested();
                client->write(kShownReply);
                client->flush();
                client->disconnectFromServer();
            });
        }
    });
}

bool SingleInstance::askRunningToShow()
{
    // The holder listens right after it takes the lock; a launch in that instant tries again shortly.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (attempt > 0) QThread::msleep(200);
        QLocalSocket socket;
        socket.connectToServer(m_serverName);
        if (!socket.waitForConnected(kAnswerTimeoutMs)) continue;
        socket.write(kShowRequest);
        if (!socket.waitForBytesWritten(kAnswerTimeoutMs)) return false;
        while (!socket.canReadLine()) {
            if (!socket.waitForReadyRead(kAnswerTimeoutMs)) return false;
        }
        return socket.readLine() == kShownReply;
    }
    return false;
}

QString SingleInstance::messageFor(Outcome outcome)
{
    switch (outcome) {
    case Outcome::primary: return {};
    case Outcome::handedOver:
        return QStringLiteral(
            "transcription-corvane はすでに起動しています。開いているウィンドウを前面に表示しました。");
    case Outcome::unanswered:
        return QStringLiteral("transcription-corvane はすでに起動していますが、応答がありません。起動中のウィンドウを"
                              "閉じるか、しばらく待ってからもう一度起動してください。");
    }
    return {};
}

} // namespace tc
