#include "app/single_instance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
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
// A request line is a word and a token; a peer that sends more without ending its line is cut
// off rather than buffered without end.
constexpr qsizetype kMaxRequestBytes = 4096;

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

// The socket is a plain AF_UNIX stream socket watched by the window thread's event loop: Qt's
// local socket classes would bring QtNetwork and the libraries behind it (Kerberos, proxy
// lookup) into every start, for one line each way.
bool socketAddress(const QString& path, sockaddr_un& address)
{
    const QByteArray encoded = QFile::encodeName(path);
    address = {};
    address.sun_family = AF_UNIX;
    if (encoded.isEmpty() || static_cast<std::size_t>(encoded.size()) >= sizeof address.sun_path) {
        return false;
    }
    std::memcpy(address.sun_path, encoded.constData(), static_cast<std::size_t>(encoded.size()));
    return true;
}

int streamSocket()
{
    return ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
}

// Waits up to timeoutMs for events on fd; false on timeout, error or hang-up without them.
bool waitFor(int fd, short events, int timeoutMs)
{
    pollfd watched{fd, events, 0};
    int ready = 0;
    do {
        ready = ::poll(&watched, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    return ready == 1 && (watched.revents & events) != 0;
}

// Only the user may connect: the socket is bound in a fresh directory only the user can enter,
// made owner-only there and then moved into place, so it never shows under its name with wider
// rights.
int listenPrivately(const QString& path)
{
    sockaddr_un target{};
    if (!socketAddress(path, target)) {
        return -1;
    }
    QByteArray scratch = QFile::encodeName(QFileInfo(path).absolutePath()) + "/.hopwise-XXXXXX";
    if (::mkdtemp(scratch.data()) == nullptr) {
        return -1;
    }
    const QByteArray temporary = scratch + "/socket";
    sockaddr_un address{};
    int fd = -1;
    if (socketAddress(QFile::decodeName(temporary), address) && (fd = streamSocket()) >= 0) {
        const bool placed =
            ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
            ::chmod(temporary.constData(), S_IRUSR | S_IWUSR) == 0 &&
            ::rename(temporary.constData(), target.sun_path) == 0 && ::listen(fd, SOMAXCONN) == 0;
        if (!placed) {
            ::close(fd);
            fd = -1;
        }
    }
    ::unlink(temporary.constData());
    ::rmdir(scratch.constData());
    return fd;
}

} // namespace

// One connected launch: the line it sends is read as it arrives, then it is answered and closed.
class SingleInstance::Client : public QObject {
public:
    Client(int fd, SingleInstance& owner)
        : QObject(&owner), m_fd(fd), m_owner(owner), m_notifier(fd, QSocketNotifier::Read)
    {
        connect(&m_notifier, &QSocketNotifier::activated, this, &Client::onReadable);
    }
    ~Client() override { ::close(m_fd); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;
    Client(Client&&) = delete;
    Client& operator=(Client&&) = delete;

private:
    void onReadable()
    {
        char chunk[256];
        const ssize_t got = ::read(m_fd, chunk, sizeof chunk);
        if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
            return;
        }
        if (got > 0) {
            m_line.append(chunk, got);
            const qsizetype end = m_line.indexOf('\n');
            if (end < 0 && m_line.size() < kMaxRequestBytes) {
                return;
            }
            const QByteArray line = m_line.left(end);
            if (end >= 0 && (line == kRaiseRequest || line.startsWith(kRaiseRequest + ' '))) {
                emit m_owner.raiseRequested(
                    QString::fromLatin1(line.mid(kRaiseRequest.size() + 1)));
                [[maybe_unused]] const ssize_t written =
                    ::send(m_fd, kRaisedReply.constData(), kRaisedReply.size(), MSG_NOSIGNAL);
            }
        }
        // Answered, or the other side went away: either way this connection is done.
        m_notifier.setEnabled(false);
        deleteLater();
    }

    int m_fd;
    SingleInstance& m_owner;
    QSocketNotifier m_notifier;
    QByteArray m_line;
};

SingleInstance::SingleInstance(QString serverName, QObject* parent)
    : QObject(parent), m_serverName(std::move(serverName))
{
}

SingleInstance::~SingleInstance()
{
    if (m_listenFd >= 0) {
        m_listener.reset();
        ::close(m_listenFd);
        ::unlink(QFile::encodeName(m_serverName).constData());
    }
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
    ::unlink(QFile::encodeName(m_serverName).constData());
    m_listenFd = listenPrivately(m_serverName);
    turn.release();
    if (m_listenFd < 0) {
        return Outcome::Unguarded;
    }
    m_listener = std::make_unique<QSocketNotifier>(m_listenFd, QSocketNotifier::Read);
    connect(m_listener.get(), &QSocketNotifier::activated, this, &SingleInstance::onNewConnection);
    return Outcome::Primary;
}

bool SingleInstance::askRunningInstanceToRaise()
{
    sockaddr_un address{};
    if (!socketAddress(m_serverName, address)) {
        return false;
    }
    const int fd = streamSocket();
    if (fd < 0) {
        return false;
    }
    const bool connected =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ||
        (errno == EAGAIN && waitFor(fd, POLLOUT, kConnectTimeoutMs));
    if (!connected) {
        ::close(fd);
        return false;
    }
    QByteArray token = qgetenv("XDG_ACTIVATION_TOKEN");
    if (token.isEmpty()) {
        token = qgetenv("DESKTOP_STARTUP_ID");
    }
    // A token is printable ASCII without blanks; anything else would break the line.
    const bool usable =
        std::all_of(token.begin(), token.end(), [](char c) { return c > ' ' && c < 0x7F; });
    const QByteArray request =
        kRaiseRequest + (usable && !token.isEmpty() ? " " + token : QByteArray()) + '\n';
    for (qsizetype sent = 0; sent < request.size() && waitFor(fd, POLLOUT, kConnectTimeoutMs);) {
        const ssize_t written =
            ::send(fd, request.constData() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (written < 0 && errno != EAGAIN && errno != EINTR) {
            break;
        }
        sent += std::max<ssize_t>(written, 0);
    }
    QByteArray reply;
    while (!reply.contains('\n') && waitFor(fd, POLLIN, kReplyTimeoutMs)) {
        char chunk[64];
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got <= 0) {
            break;
        }
        reply.append(chunk, got);
    }
    m_otherConfirmedRaise = reply == kRaisedReply;
    ::close(fd);
    return true;
}

void SingleInstance::onNewConnection()
{
    for (int client = -1;
         (client = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0;) {
        new Client(client, *this);
    }
}

} // namespace hopwise
