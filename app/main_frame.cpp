#include "app/main_frame.h"

#include <QAction>
#include <QCoreApplication>
#include <QKeySequence>
#include <QLayout>
#include <QLibrary>
#include <QMenu>
#include <QMenuBar>
#include <QTabBar>
#include <QToolBar>
#include <QToolButton>
#include <algorithm>
#include <utility>

#include "app/shell_resources.h"
#include "monitor/window/monitor_window_entry.h"
#include "res/dialog_templates.h"
#include "res/resource_ids.h"
#include "res/texts.h"
#include "widgets/dialog_units.h"
#include "widgets/probe_page.h"
#include "widgets/qt_text.h"

namespace hopwise {
namespace {

// Where the tooltip strings go: slot i holds string kTooltipIds[i]; 65003 is not loaded.
constexpr std::array<int, 7> kTooltipIds{65000, 65001, 65002, 65004, 65005, 65006, 65007};
// The command bar receives slots 1 to 6; the tool bar's one button, About, is the last of them.
constexpr std::size_t kAboutTooltipSlot = 6;

// The string loader's buffer holds 256 characters, one of them the terminator.
constexpr qsizetype kStringLoadLimit = 255;

// Space the tab host keeps around its pages (see CPageTabCtrl::AddPage).
constexpr int kPageMargins = 10;

// Alt and the first letter opens a menu or takes an item: the first letters differ on each
// level. Shown, the text is the same; a screen reader drops the marker.
QString withMnemonic(std::string_view text)
{
    return QLatin1Char('&') + FromUtf8(text);
}

// The monitor window's module: beside the program (the build tree), else where it is installed.
// Loaded once and never unloaded; null with the reason in error when it can't be.
OpenMonitorWindowEntry LoadMonitorWindowEntry(QString& error)
{
    static OpenMonitorWindowEntry entry = nullptr;
    for (const QString& directory :
         {QCoreApplication::applicationDirPath(), QStringLiteral(HOPWISE_MONITOR_MODULE_DIR)}) {
        if (entry != nullptr) {
            break;
        }
        QLibrary module(directory + QLatin1Char('/') + QLatin1String(kMonitorWindowModule));
        entry = reinterpret_cast<OpenMonitorWindowEntry>(module.resolve(kOpenMonitorWindowSymbol));
        if (entry == nullptr) {
            error = module.errorString();
        }
    }
    return entry;
}

} // namespace

CommandBar::~CommandBar()
{
    delete m_toolBar.data();
    delete m_menuBar.data();
}

CMainFrame::CMainFrame(SettingsStore& store, CommandTarget* application)
    : m_application(application), m_store(store), m_wndTracePage(store), m_wndPingPage(store)
{
    m_monitorOpener = [this](const QString& host) -> QWidget* {
        QString error;
        if (const OpenMonitorWindowEntry entry = LoadMonitorWindowEntry(error)) {
            return entry(m_store, host);
        }
        ShowWarningBox(this, FromUtf8(res::kMonitorCantLoad).arg(error));
        return nullptr;
    };
    m_wndTabHost.setObjectName(QStringLiteral("tabHost"));
    m_wndTracePage.setObjectName(QString::number(res::kTraceRoutePageDialog));
    m_wndPingPage.setObjectName(QString::number(res::kPingPageDialog));
}

// The monitor windows close first (each saves its layout). Then the members go in reverse:
// command bar, ping page, trace route page (each page saves its settings), then the tab host,
// before QMainWindow deletes what is left of the window.
CMainFrame::~CMainFrame()
{
    for (const QPointer<QWidget>& monitor : m_monitors) {
        if (monitor) {
            monitor->close();
            delete monitor.data();
        }
    }
}

QString CMainFrame::LoadStringCopy(int id)
{
    return LoadResourceString(id).left(kStringLoadLimit);
}

bool CMainFrame::LoadFrame()
{
    setWindowTitle(LoadStringCopy(res::kStrMainFrame));
    setWindowIcon(AppIcon());
    if (!OnCreate()) {
        return false;
    }
    // The accelerator table: of its entries only the framework's exit command has a handler,
    // so it is the only key bound.
    QAction* exitKey = commandAction(QStringLiteral("Exit"), res::kCmdAppExit);
    exitKey->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    exitKey->setShortcutContext(Qt::WindowShortcut);
    addAction(exitKey);
    return true;
}

bool CMainFrame::OnCreate()
{
    // The tab host is sized so that the area it leaves for a page is exactly the pages' template
    // size; the window then keeps that size, so no page ever needs moving again.
    const DialogUnits units(DialogFont());
    int pageWidth = 0;
    int pageHeight = 0;
    for (const res::DialogTemplate* page :
         {&res::TraceRoutePageTemplate(), &res::PingPageTemplate()}) {
        pageWidth = std::max(pageWidth, units.toPixelsX(page->width));
        pageHeight = std::max(pageHeight, units.toPixelsY(page->height));
    }
    m_wndTabHost.setFixedSize(pageWidth + kPageMargins,
                              pageHeight + m_wndTabHost.tabRowHeight() + kPageMargins);
    setCentralWidget(&m_wndTabHost);

    // A page that fails to build is simply not shown.
    m_wndTracePage.Create(&m_wndTabHost);
    m_wndTabHost.AddPage(FromUtf8(res::kTraceRouteTab), &m_wndTracePage, true, -1);
    m_wndPingPage.Create(&m_wndTabHost);
    m_wndTabHost.AddPage(FromUtf8(res::kPingTab), &m_wndPingPage, false, -1);
    // A hop's address can be pinged, a reply's traced: the other tab shows and runs with it.
    const auto handOffTo = [this](ProbePage& page, int tab, std::string_view text) {
        return ProbePage::AddressHandOff{FromUtf8(text), [&page] { return !page.isRunning(); },
                                         [this, &page, tab](const QString& address) {
                                             m_wndTabHost.tabBar()->setCurrentIndex(tab);
                                             page.runFor(address);
                                         }};
    };
    m_wndTracePage.setAddressHandOff(handOffTo(m_wndPingPage, 1, res::kResultPingThisAddress));
    m_wndPingPage.setAddressHandOff(handOffTo(m_wndTracePage, 0, res::kResultTraceThisAddress));
    // "Monitor This Route" asks the frame, which opens the monitor beside the pages.
    for (ProbePage* page : std::initializer_list<ProbePage*>{&m_wndTracePage, &m_wndPingPage}) {
        page->setMonitorHandOff([this](const QString& host) { openMonitor(host); });
    }

    for (std::size_t slot = 0; slot < kTooltipIds.size(); ++slot) {
        m_tooltipTexts[slot] = LoadStringCopy(kTooltipIds[slot]);
    }

    if (!createCommandBar()) {
        return false;
    }
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    return true;
}

QAction* CMainFrame::commandAction(const QString& label, int commandId)
{
    auto* action = new QAction(label, this);
    action->setObjectName(QString::number(commandId));
    action->setData(commandId);
    connect(action, &QAction::triggered, this, [this, commandId] { OnCmdMsg(commandId); });
    return action;
}

bool CMainFrame::createCommandBar()
{
    auto* menuBar = new QMenuBar(this);
    menuBar->setObjectName(QStringLiteral("menuBar"));
    menuBar->setAccessibleName(QStringLiteral("Menu"));
    m_wndCommandBar.m_menuBar = menuBar;
    setMenuBar(menuBar);

    QMenu* file = menuBar->addMenu(withMnemonic(res::kMenuFile));
    file->setObjectName(QStringLiteral("menuFile"));
    file->addAction(commandAction(withMnemonic(res::kMenuFileExit), res::kCmdFileExit));

    QMenu* tools = menuBar->addMenu(withMnemonic(res::kMenuTools));
    tools->setObjectName(QStringLiteral("menuTools"));
    tools->addAction(commandAction(withMnemonic(res::kMenuToolsAbout), res::kCmdAppAbout));
    QMenu* clear = tools->addMenu(withMnemonic(res::kMenuToolsClearCache));
    clear->setObjectName(QStringLiteral("menuClearCache"));
    clear->addAction(
        commandAction(withMnemonic(res::kMenuClearHopwise), res::kCmdClearHopwiseCache));
    clear->addAction(commandAction(withMnemonic(res::kMenuClearPing), res::kCmdClearPingCache));
    tools->addAction(
        commandAction(withMnemonic(res::kMenuToolsRouteMonitor), res::kCmdRouteMonitor));

    const QPixmap bitmap = AboutToolBitmap();
    if (bitmap.isNull()) {
        return false;
    }
    auto* toolBar = new QToolBar(this);
    toolBar->setObjectName(QStringLiteral("toolBar"));
    toolBar->setAccessibleName(QStringLiteral("Tools"));
    toolBar->setMovable(false);
    toolBar->setFloatable(false);
    toolBar->setIconSize(bitmap.size());
    toolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    m_wndCommandBar.m_toolBar = toolBar;
    addToolBar(Qt::TopToolBarArea, toolBar);
    // The bar's overflow button (shown only when the bar is too narrow) has no text of its own.
    if (auto* more = toolBar->findChild<QToolButton*>(QStringLiteral("qt_toolbar_ext_button"))) {
        more->setAccessibleName(FromUtf8(res::kAccessibleToolBarMore));
    }

    // The button's text names it for screen readers; its tooltip is the bar's text for About.
    QAction* about = commandAction(FromUtf8(res::kMenuToolsAbout), res::kCmdAppAbout);
    // Bitmap 128 is pixel art: at a scale factor of 2 or 3 its pixels are repeated, not
    // smoothed into a blur.
    QIcon aboutIcon(bitmap);
    for (const int factor : {2, 3}) {
        aboutIcon.addPixmap(
            bitmap.scaled(bitmap.size() * factor, Qt::IgnoreAspectRatio, Qt::FastTransformation));
    }
    about->setIcon(aboutIcon);
    about->setToolTip(m_tooltipTexts[kAboutTooltipSlot]);
    toolBar->addAction(about);
    return !m_tooltipTexts[kAboutTooltipSlot].isEmpty();
}

QMenu* CMainFrame::createPopupMenu()
{
    // The command bar can't be hidden: no menu for toggling the tool bar.
    return nullptr;
}

CMainFrame::CommandTaker CMainFrame::RouteCommand(int commandId)
{
    if (m_wndTabHost.OnCmdMsg(commandId)) {
        return CommandTaker::TabHost;
    }
    static constexpr std::array<std::pair<int, void (CMainFrame::*)()>, 3> kFrameCommands{{
        {res::kCmdClearHopwiseCache, &CMainFrame::OnClearHopwiseCache},
        {res::kCmdClearPingCache, &CMainFrame::OnClearPingCache},
        {res::kCmdRouteMonitor, &CMainFrame::OnRouteMonitor},
    }};
    for (const auto& [id, handler] : kFrameCommands) {
        if (id == commandId) {
            (this->*handler)();
            return CommandTaker::Frame;
        }
    }
    if (m_application != nullptr && m_application->OnCmdMsg(commandId)) {
        return CommandTaker::Application;
    }
    return CommandTaker::None;
}

// Whichever tab is showing: the menu reaches the pages only through the frame.
void CMainFrame::OnClearHopwiseCache()
{
    m_wndTracePage.OnClearHistory();
}

void CMainFrame::OnClearPingCache()
{
    m_wndPingPage.OnClearHistory();
}

} // namespace hopwise

namespace hopwise {

void CMainFrame::OnRouteMonitor()
{
    const ProbePage& shown = m_wndTabHost.tabBar()->currentIndex() == 1
                                 ? static_cast<const ProbePage&>(m_wndPingPage)
                                 : static_cast<const ProbePage&>(m_wndTracePage);
    openMonitor(shown.routeHost());
}

void CMainFrame::openMonitor(const QString& host)
{
    std::erase_if(m_monitors, [](const QPointer<QWidget>& monitor) { return monitor.isNull(); });
    if (QWidget* monitor = m_monitorOpener(host)) {
        m_monitors.emplace_back(monitor);
    }
}

std::vector<QWidget*> CMainFrame::monitors() const
{
    std::vector<QWidget*> open;
    for (const QPointer<QWidget>& monitor : m_monitors) {
        if (monitor) {
            open.push_back(monitor.data());
        }
    }
    return open;
}

} // namespace hopwise
