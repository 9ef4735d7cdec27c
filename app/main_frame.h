#pragma once

// The main window: the tab host over the whole client area with the two pages on it, the menu
// bar and the tool bar that stand in for the handheld's command bar, and the routing of their
// commands (tab host, then the frame's own table, then the application's).

#include <QMainWindow>
#include <QMenuBar>
#include <QPointer>
#include <QString>
#include <QToolBar>
#include <array>
#include <functional>
#include <vector>

#include "app/command_target.h"
#include "app/page_tab_ctrl.h"
#include "ping/ping_page.h"
#include "trace/trace_route_page.h"

class QAction;

namespace hopwise {

class SettingsStore;

// The command bar: the menu and the tool bar, which the frame builds step by step. It deletes
// its widgets itself so that it goes first when the frame's members are destroyed.
class CommandBar {
public:
    CommandBar() = default;
    ~CommandBar();
    CommandBar(const CommandBar&) = delete;
    CommandBar& operator=(const CommandBar&) = delete;

    QMenuBar* menuBar() const { return m_menuBar; }
    QToolBar* toolBar() const { return m_toolBar; }

private:
    friend class CMainFrame;
    QPointer<QMenuBar> m_menuBar;
    QPointer<QToolBar> m_toolBar;
};

class CMainFrame : public QMainWindow {
    Q_OBJECT

public:
    enum class CommandTaker { None, TabHost, Frame, Application };

    // Constructs the tab host and the pages, which load their settings from store; commands the
    // frame doesn't take go on to application (may be null).
    CMainFrame(SettingsStore& store, CommandTarget* application);
    ~CMainFrame() override;
    CMainFrame(const CMainFrame&) = delete;
    CMainFrame& operator=(const CMainFrame&) = delete;

    // Creates the window: title, tab host, pages, command bar. False when a command bar step
    // failed; the frame must then not be shown.
    bool LoadFrame();

    // Routes a command and says who took it.
    CommandTaker RouteCommand(int commandId);
    bool OnCmdMsg(int commandId) { return RouteCommand(commandId) != CommandTaker::None; }

    void OnClearHopwiseCache();
    void OnClearPingCache();
    // Tools > Route Monitor...: a monitor window for the shown page's host.
    void OnRouteMonitor();

    // Opens a monitor window for host and yields it (null when none could open). The default
    // loads the monitor window's module on first use; tests put a recorder in its place.
    using MonitorOpener = std::function<QWidget*(const QString& host)>;
    void setMonitorOpener(MonitorOpener opener) { m_monitorOpener = std::move(opener); }
    // A monitor window for host, independent of the pages; the frame closes it when it goes.
    void openMonitor(const QString& host);
    // The monitor windows still open.
    std::vector<QWidget*> monitors() const;

    // String resource id as a text of its own, cut to the loader's 255 characters.
    static QString LoadStringCopy(int id);

    CPageTabCtrl& tabHost() { return m_wndTabHost; }
    CTraceRoutePage& tracePage() { return m_wndTracePage; }
    CPingPage& pingPage() { return m_wndPingPage; }
    const CommandBar& commandBar() const { return m_wndCommandBar; }
    const std::array<QString, 8>& tooltipTexts() const { return m_tooltipTexts; }

protected:
    QMenu* createPopupMenu() override;

private:
    bool OnCreate();
    bool createCommandBar();
    QAction* commandAction(const QString& text, int commandId);

    CommandTarget* m_application;
    SettingsStore& m_store;
    MonitorOpener m_monitorOpener;
    std::vector<QPointer<QWidget>> m_monitors;

    CPageTabCtrl m_wndTabHost;
    CTraceRoutePage m_wndTracePage;
    CPingPage m_wndPingPage;
    CommandBar m_wndCommandBar;
    // Slot 7 is never filled.
    std::array<QString, 8> m_tooltipTexts;
};

} // namespace hopwise
