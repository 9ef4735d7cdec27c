#pragma once

// One running instance per executable and user. The running instance listens on a local socket
// whose name is derived from the canonical path of its executable and the user id; a second
// launch connects to it, asks it to bring its window to the front and ends. The request carries
// the launch's activation token (Wayland's XDG_ACTIVATION_TOKEN, or X11's startup notification
// id DESKTOP_STARTUP_ID), which the running instance needs to be allowed to take the focus and
// to end the launcher's busy cursor.

#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <memory>

namespace hopwise {

class SingleInstance : public QObject {
    Q_OBJECT

public:
    enum class Outcome {
        Primary,   // this process is the running instance and now listens
        Secondary, // another instance runs and was asked to raise its window
        Unguarded, // neither: no socket could be listened on; start-up goes on regardless
    };

    explicit SingleInstance(QString serverName, QObject* parent = nullptr);
    ~SingleInstance() override;
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;
    SingleInstance(SingleInstance&&) = delete;
    SingleInstance& operator=(SingleInstance&&) = delete;

    // Full socket path for an executable: in the user's runtime directory, named after the user
    // id and a hash of the executable's canonical path, so that two builds of the program in
    // different places don't count as the same program.
    static QString ServerName(const QString& executablePath);

    Outcome start();

    // After Secondary: the running instance confirmed that it raised its window.
    bool otherConfirmedRaise() const { return m_otherConfirmedRaise; }

    // Client side of the request, also for tests: true when an instance answered the connect.
    bool askRunningInstanceToRaise();

signals:
    // activationToken is empty when the launch had none.
    void raiseRequested(const QString& activationToken);

private:
    class Client;
    void onNewConnection();

    QString m_serverName;
    int m_listenFd = -1;
    std::unique_ptr<QSocketNotifier> m_listener;
    bool m_otherConfirmedRaise = false;
};

} // namespace hopwise
