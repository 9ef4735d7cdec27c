#include "app/hopwise_app.h"

#include <QApplication>
#include <QMessageBox>
#include <algorithm>
#include <cstdio>

#include "app/about_dlg.h"
#include "app/x11_startup.h"
#include "res/resource_ids.h"
#include "res/stored_names.h"
#include "res/texts.h"
#include "settings/settings_warning.h"
#include "widgets/qt_text.h"

namespace hopwise {
namespace {

constexpr int kExitAnotherInstance = -1;
constexpr int kExitNoWindow = 1;

} // namespace

CHopwiseApp::CHopwiseApp() : m_settings(SettingsStore::DefaultBackingFile())
{
    // The loop ends when the main window is destroyed, not when its last window closes (the
    // About box is a window too).
    QApplication::setQuitOnLastWindowClosed(false);
    connect(&m_exitSignals, &ExitSignalNotifier::exitRequested, this, [this] {
        m_endedBySignal = true;
        OnAppExit();
    });
    m_settingsWarningTimer.setSingleShot(true);
    m_settingsWarningTimer.setInterval(0);
    connect(&m_settingsWarningTimer, &QTimer::timeout, this, &CHopwiseApp::showSettingsWarnings);
    // Only the window thread uses the store, so the sink runs there too.
    SetSettingsWarningSink([this](SettingsWarning, std::string_view message) {
        std::fprintf(stderr, "%.*s\n", static_cast<int>(message.size()), message.data());
        onSettingsWarning(QString::fromUtf8(message.data(), qsizetype(message.size())));
    });
}

CHopwiseApp::~CHopwiseApp()
{
    delete m_pMainWnd.data();
    SetSettingsWarningSink({});
}

int CHopwiseApp::Run()
{
    SingleInstance instance(SingleInstance::ServerName(QCoreApplication::applicationFilePath()));
    if (instance.start() == SingleInstance::Outcome::Secondary) {
        return kExitAnotherInstance;
    }
    connect(&instance, &SingleInstance::raiseRequested, this, &CHopwiseApp::raiseMainWindow);
    if (!InitInstance()) {
        return kExitNoWindow;
    }
    const int exitCode = QApplication::exec();
    // The pages save as the window goes: a failed save is told after it, unless a signal ended
    // the program (nobody may be there to answer a box).
    if (!m_settingsWarnings.isEmpty() && !m_endedBySignal) {
        QMessageBox::warning(nullptr, FromUtf8(res::kAppName), m_settingsWarnings.join("\n\n"));
    }
    return exitCode;
}

bool CHopwiseApp::InitInstance()
{
    // The pages read their settings as the frame constructs them, so the keys are named first.
    m_settings.SetRegistryKey(kCompanyKey);
    m_settings.SetAppName(kApplicationName);

    auto* frame = new CMainFrame(m_settings, this);
    if (!frame->LoadFrame()) {
        delete frame;
        return false;
    }
    frame->setAttribute(Qt::WA_DeleteOnClose);
    connect(frame, &QObject::destroyed, qApp, &QCoreApplication::quit);
    m_pMainWnd = frame;

    frame->show();
    frame->raise();
    frame->activateWindow();
    return true;
}

bool CHopwiseApp::OnCmdMsg(int commandId)
{
    switch (commandId) {
    case res::kCmdAppAbout:
        OnAppAbout();
        return true;
    case res::kCmdFileExit:
        OnFileExit();
        return true;
    case res::kCmdAppExit:
        OnAppExit();
        return true;
    default:
        return false;
    }
}

void CHopwiseApp::OnAppAbout()
{
    CAboutDlg about(m_pMainWnd);
    about.exec();
}

// Every way out closes the main window; it deletes itself, its members go in reverse (the
// pages save their settings) and its destruction ends the loop.
void CHopwiseApp::OnFileExit()
{
    if (m_pMainWnd) {
        m_pMainWnd->close();
    }
}

void CHopwiseApp::OnAppExit()
{
    OnFileExit();
}

void CHopwiseApp::onSettingsWarning(const QString& message)
{
    // The stderr form names the program; the box's caption already does.
    static const QString kPrefix = QStringLiteral("hopwise: ");
    QString text = message.startsWith(kPrefix) ? message.mid(kPrefix.size()) : message;
    if (!text.isEmpty()) {
        text[0] = text[0].toUpper();
    }
    m_settingsWarnings << text;
    m_settingsWarningTimer.start();
}

void CHopwiseApp::showSettingsWarnings()
{
    // While the window closes, the pages' saves come after it: those wait for Run's end.
    if (!m_pMainWnd || !m_pMainWnd->isVisible() || m_settingsWarnings.isEmpty()) {
        return;
    }
    auto* box = new QMessageBox(QMessageBox::Warning, FromUtf8(res::kAppName),
                                m_settingsWarnings.join("\n\n"), QMessageBox::Ok, m_pMainWnd);
    box->setObjectName(QStringLiteral("settingsWarning"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    m_settingsWarnings.clear();
}

void CHopwiseApp::raiseMainWindow(const QString& activationToken)
{
    if (!m_pMainWnd) {
        return;
    }
    // The token came over the socket: only printable ASCII without blanks is taken as one.
    const QByteArray token = activationToken.toLatin1();
    const bool usable = !token.isEmpty() && std::all_of(token.begin(), token.end(),
                                                        [](char c) { return c > ' ' && c < 0x7F; });
    // The new launch's token lets this window take the focus: Qt's Wayland plugin hands
    // XDG_ACTIVATION_TOKEN to the compositor at the next activation. On X11 it is the launch's
    // startup id, which ends the launcher's startup sequence and dates the raise (x11_startup.h).
    const bool wayland = QGuiApplication::platformName() == QLatin1String("wayland");
    if (usable && wayland) {
        qputenv("XDG_ACTIVATION_TOKEN", token);
    }
    m_pMainWnd->showNormal();
    m_pMainWnd->raise();
    m_pMainWnd->activateWindow();
    if (usable && !wayland) {
        CompleteX11Startup(*m_pMainWnd, token);
    }
}

} // namespace hopwise
