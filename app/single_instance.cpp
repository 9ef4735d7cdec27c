#include "app/single_instance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace hopwise {
namespace {

// "raise", a space and the launch's activation token when it has one, then a newline.
const QByteArray kRaiseRequest = QByteArrayLiteral("raise");
const QByteArray kRaisedReply = QByteArrayLiteral("raised\n");

// A live instance accepts at once (the kernel completes the connect for it); these bounds
// only matter for an instance that hangs.
constexpr int kConnectTimeoutMs = 1000;
constexpr int kReplyTimeoutMs = 3000;
// Two launches at the same moment take turns at the check-then-listen step.
constexpr int kLockTimeoutMs = 3000;
constexpr int kLockRetryMs = 10;

// The turn is an flock(2) on a file beside the socket: the kernel drops it when its holder
// exits however it ends, so no stale lock needs detecting, and nothing is written or synced to
// disk on the way to the first paint. The file itself stays, empty, for the next launch.
class LaunchTurn {
public:
    explicit LaunchTurn(const QString& path)
        : m_fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600))
    {
        for (int waited = 0; m_fd >= 0; waited += kLockRetryMs) {
            if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0) {
                m_locked = true;
                return;
            }
            if (errno != EWOULDBLOCK || waited >= kLockTimeoutMs) {
                return;
            }
            QThread::msleep(kLockRetryMs);
        }
    }
    ~LaunchTurn()
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    LaunchTurn(const LaunchTurn&) = delete;
    LaunchTurn& operator=(const LaunchTurn&) = delete;
    LaunchTurn(LaunchTurn&&) = delete;
    LaunchTurn& operator=(LaunchTurn&&) = delete;

    void release()
    {
        if (m_locked) {
            ::flock(m_fd, LOCK_UN);
            m_locked = false;
        }
    }

private:
    int m_fd;
    bool m_locked = false;
};

} // namespace

SingleInstance::SingleInstance(QString serverName, QObject* parent)
    : QObject(parent), m_serverName(std::move(serverName))
{
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, &SingleInstance::onNewConnection);
}

QString SingleInstance::ServerName(const QString& executablePath)
{
    const QFileInfo info(executablePath);
    const QString canonical =
        info.canonicalFilePath().isEmpty() ? info.absoluteFilePath() : info.canonicalFilePath();
    const QByteArray digest =
        QCryptographicHash::hash(canonical.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    QString directory = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (directory.isEmpty()) {
        directory = QDir::tempPath();
    }
    return QDir(directory).filePath(QStringLiteral("hopwise-%1-%2")
                                        .arg(static_cast<qulonglong>(::getuid()))
                                        .arg(QString::fromLatin1(digest)));
}

SingleInstance::Outcome SingleInstance::start()
{
    // Without the turn the checks below still hold for launches that aren't simultaneous.
    LaunchTurn turn(m_serverName + QStringLiteral(".lock"));

    if (askRunningInstanceToRaise()) {
        return Outcome::Secondary;
    }
    // Nobody answered: whatever socket file is left belongs to an instance that died without
    // cleaning up (a crash, SIGKILL) and would make listen() fail.
    QLocalServer::removeServer(m_serverName);
    const bool listening = m_server.listen(m_serverName);
    turn.release();
    return listening ? Outcome::Primary : Outcome::Unguarded;
}

bool SingleInstance::askRunningInstanceToRaise()
{
    QLocalSocket socket;
    socket.connectToServer(m_serverName);
    if (!socket.waitForConnected(kConnectTimeoutMs)) {
        return false;
    }
    QByteArray token = qgetenv("XDG_ACTIVATION_TOKEN");
    if (token.isEmpty()) {
        token = qgetenv("DESKTOP_STARTUP_ID");
    }
    // A token is printable ASCII without blanks; anything else would break the line.
    const bool usable =
        std::all_of(token.begin(), token.end(), [](char c) { return c > ' ' && c < 0x7F; });
    socket.write(kRaiseRequest + (usable && !token.isEmpty() ? " " + token : QByteArray()) + '\n');
    socket.waitForBytesWritten(kConnectTimeoutMs);
    QByteArray reply;
    while (!reply.contains('\n') && socket.waitForReadyRead(kReplyTimeoutMs)) {
        reply += socket.readAll();
    }
    m_otherConfirmedRaise = reply == kRaisedReply;
    socket.disconnectFromServer();
    return true;
}

void SingleInstance::onNewConnection()
{
    while (QLocalSocket* client = m_server.nextPendingConnection()) {
        connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        connect(client, &QLocalSocket::readyRead, this, [this, client] {
            if (!client->canReadLine()) {
                return;
            }
            const QByteArray line = client->readLine().chopped(1);
            if (line == kRaiseRequest || line.startsWith(kRaiseRequest + ' ')) {
                emit raiseRequested(QString::fromLatin1(line.mid(kRaiseRequest.size() + 1)));
                client->write(kRaisedReply);
                client->flush();
            }
            client->disconnectFromServer();
        });
    }
}

} // namespace hopwise
