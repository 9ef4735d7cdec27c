#pragma once

// The application: one per process. It owns the settings store and the main window, keeps the
// program to one instance per executable and user, and takes the application's commands
// (About, Exit, and the exit key).

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include "app/command_target.h"
#include "app/exit_signals.h"
#include "app/main_frame.h"
#include "app/single_instance.h"
#include "settings/settings_store.h"

namespace hopwise {

class CHopwiseApp : public QObject, public CommandTarget {
    Q_OBJECT

public:
    // A QApplication must exist. The settings live in SettingsStore::DefaultBackingFile().
    CHopwiseApp();
    ~CHopwiseApp() override;

    // The whole life of the program: single-instance check, InitInstance, the event loop until
    // the main window is destroyed. Yields the process's exit code: 0, or -1 when another
    // instance runs, or 1 when the window could not be created.
    int Run();

    // Names the settings keys, creates and shows the main frame.
    bool InitInstance();

    bool OnCmdMsg(int commandId) override;
    void OnAppAbout();
    void OnFileExit();
    // The framework's exit command (Ctrl+Q) and SIGTERM/SIGINT/SIGHUP: the same way out as File >
    // Exit.
    void OnAppExit();

    CMainFrame* mainWindow() const { return m_pMainWnd; }
    SettingsStore& settings() { return m_settings; }

private:
    void raiseMainWindow(const QString& activationToken);
    // The settings store's warnings (a file set aside, a failed write, a lock held elsewhere):
    // each told once, in a box over the window, as soon as the event loop can show it.
    void onSettingsWarning(const QString& message);
    void showSettingsWarnings();

    SettingsStore m_settings;
    ExitSignalNotifier m_exitSignals;
    // Deletes itself when closed; the pointer clears then.
    QPointer<CMainFrame> m_pMainWnd;
    QStringList m_settingsWarnings; // not shown yet
    QTimer m_settingsWarningTimer;
    bool m_endedBySignal = false;
};

} // namespace hopwise
