#include "app/exit_signals.h"

#include <QSocketNotifier>
#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace hopwise {
namespace {

// [0] read by the notifier, [1] written by the handler. A handler may do next to nothing: one
// write(2) of the signal number is async-signal-safe, and the window thread does the rest.
int g_pipe[2] = {-1, -1};

extern "C" void onExitSignal(int signalNumber)
{
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

ExitSignalNotifier::ExitSignalNotifier(QObject* parent) : QObject(parent)
{
    if (g_pipe[0] != -1 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_pipe) != 0) {
        return;
    }
    // A full pipe must never block the handler; the notifier reads whatever arrived.
    ::fcntl(g_pipe[1], F_SETFL, ::fcntl(g_pipe[1], F_GETFL) | O_NONBLOCK);
    ::fcntl(g_pipe[0], F_SETFL, ::fcntl(g_pipe[0], F_GETFL) | O_NONBLOCK);

    m_notifier = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &ExitSignalNotifier::onReadable);

    struct sigaction action {};
    action.sa_handler = onExitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, &m_previousTerm);
    ::sigaction(SIGINT, &action, &m_previousInt);
    // The terminal that started the window closing ends it too, the same way.
    ::sigaction(SIGHUP, &action, &m_previousHup);
}

ExitSignalNotifier::~ExitSignalNotifier()
{
    if (!m_notifier) {
        return;
    }
    ::sigaction(SIGTERM, &m_previousTerm, nullptr);
    ::sigaction(SIGINT, &m_previousInt, nullptr);
    ::sigaction(SIGHUP, &m_previousHup, nullptr);
    m_notifier.reset();
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

void ExitSignalNotifier::onReadable()
{
    unsigned char byte = 0;
    int last = 0;
    while (::read(g_pipe[0], &byte, 1) == 1) {
        last = byte;
    }
    if (last != 0) {
        emit exitRequested(last);
    }
}

} // namespace hopwise
