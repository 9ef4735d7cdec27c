#include "app/single_instance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <algorithm>
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
    QLockFile lock(m_serverName + QStringLiteral(".lock"));
    lock.setStaleLockTime(kLockTimeoutMs);
    // Without the lock the checks below still hold for launches that aren't simultaneous.
    const bool locked = lock.tryLock(kLockTimeoutMs);

    if (askRunningInstanceToRaise()) {
        return Outcome::Secondary;
    }
    // Nobody answered: whatever socket file is left belongs to an instance that died without
    // cleaning up (a crash, SIGKILL) and would make listen() fail.
    QLocalServer::removeServer(m_serverName);
    const bool listening = m_server.listen(m_serverName);
    if (locked) {
        lock.unlock();
    }
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
