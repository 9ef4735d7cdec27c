#include "app/hopwise_app.h"

#include <QApplication>

#include "app/about_dlg.h"
#include "res/resource_ids.h"
#include "res/stored_names.h"
#include "res/texts.h"

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
    connect(&m_exitSignals, &ExitSignalNotifier::exitRequested, this, [this] { OnAppExit(); });
}

CHopwiseApp::~CHopwiseApp()
{
    delete m_pMainWnd.data();
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
    return QApplication::exec();
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

void CHopwiseApp::raiseMainWindow()
{
    if (m_pMainWnd) {
        m_pMainWnd->showNormal();
        m_pMainWnd->raise();
        m_pMainWnd->activateWindow();
    }
}

} // namespace hopwise
