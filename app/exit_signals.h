#pragma once

// SIGTERM, SIGINT and SIGHUP as a Qt signal on the window thread, so that a terminated window shuts
// down the way a closed one does: pages destroyed in order, settings saved, exit code 0.

#include <QObject>
#include <csignal>
#include <memory>

class QSocketNotifier;

namespace hopwise {

class ExitSignalNotifier : public QObject {
    Q_OBJECT

public:
    // One per process: the handler writes to a pipe that only one notifier reads.
    explicit ExitSignalNotifier(QObject* parent = nullptr);
    ~ExitSignalNotifier() override;

    bool isActive() const { return m_notifier != nullptr; }

signals:
    void exitRequested(int signalNumber);

private:
    void onReadable();

    std::unique_ptr<QSocketNotifier> m_notifier;
    struct sigaction m_previousTerm {};
    struct sigaction m_previousInt {};
    struct sigaction m_previousHup {};
};

} // namespace hopwise
