// The main window as the application builds it, with the real pages and a settings file in the
// test's private config home: caption, tabs and page places, the menu and its routing, the tool
// bar, the About box, and every way out saving the pages' settings.

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest/QTest>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <set>
#include <vector>

#include "app/about_dlg.h"
#include "widgets/dialog_units.h"
#include "app/hopwise_app.h"
#include "app/main_frame.h"
#include "res/dialog_templates.h"
#include "res/resource_ids.h"
#include "settings/host_history.h"
#include "res/stored_names.h"
#include "settings/settings_store.h"

namespace hopwise {
namespace {

using Taker = CMainFrame::CommandTaker;

// Stands in for the application at the end of the frame's routing path.
class RecordingApplication : public CommandTarget {
public:
    std::vector<int> offered;
    bool OnCmdMsg(int commandId) override
    {
        offered.push_back(commandId);
        return commandId == res::kCmdFileExit || commandId == res::kCmdAppAbout ||
               commandId == res::kCmdAppExit;
    }
};

bool pumpUntil(const std::function<bool()>& done, int timeoutMs = 3000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return done();
}

QAction* findAction(QWidget& root, int commandId, bool inToolBar = false)
{
    for (QAction* action : root.findChildren<QAction*>(QString::number(commandId))) {
        const bool onToolBar = !action->icon().isNull();
        if (onToolBar == inToolBar) {
            return action;
        }
    }
    return nullptr;
}

class MainFrameTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_store.SetRegistryKey(kCompanyKey);
        m_store.SetAppName(kApplicationName);
        m_frame = std::make_unique<CMainFrame>(m_store, &m_application);
        ASSERT_TRUE(m_frame->LoadFrame());
        m_frame->show();
    }

    QTemporaryDir m_dir;
    SettingsStore m_store{m_dir.filePath(QStringLiteral("Hopwise.reg")).toStdString()};
    RecordingApplication m_application;
    std::unique_ptr<CMainFrame> m_frame;
};

TEST_F(MainFrameTest, startsWithCaptionAndTheTraceRoutePageShowing)
{
    EXPECT_EQ(m_frame->windowTitle(), QStringLiteral("Hopwise"));
    const QTabBar* tabs = m_frame->tabHost().tabBar();
    ASSERT_EQ(tabs->count(), 2);
    EXPECT_EQ(tabs->tabText(0), QStringLiteral("Hopwise"));
    EXPECT_EQ(tabs->tabText(1), QStringLiteral("Ping"));
    EXPECT_EQ(tabs->currentIndex(), 0);
    EXPECT_EQ(m_frame->tabHost().currentPage(), 0);
    EXPECT_TRUE(m_frame->tracePage().isVisible());
    EXPECT_FALSE(m_frame->pingPage().isVisible());
    EXPECT_EQ(m_frame->pingPage().parentWidget(), &m_frame->tabHost());
    EXPECT_EQ(m_frame->centralWidget(), &m_frame->tabHost());
}

TEST_F(MainFrameTest, pagesFillTheTabHostBelowItsTabRowAtTheirTemplateSize)
{
    const QRect host = m_frame->tabHost().rect();
    const int h = m_frame->tabHost().tabRowHeight();
    const QRect expected(5, h + 5, host.width() - 10, host.height() - h - 10);
    EXPECT_EQ(m_frame->tracePage().geometry(), expected);
    EXPECT_EQ(m_frame->pingPage().geometry(), expected);

    const DialogUnits units(m_frame->tracePage().font());
    const auto& page = res::TraceRoutePageTemplate();
    EXPECT_EQ(expected.size(), QSize(units.toPixelsX(page.width), units.toPixelsY(page.height)));
    EXPECT_EQ(m_frame->minimumSize(), m_frame->maximumSize()) << "the window has a fixed size";
}

TEST_F(MainFrameTest, switchingTabsSwapsThePages)
{
    m_frame->tabHost().tabBar()->setCurrentIndex(1);
    EXPECT_FALSE(m_frame->tracePage().isVisible());
    EXPECT_TRUE(m_frame->pingPage().isVisible());
    EXPECT_EQ(m_frame->tabHost().currentPage(), 1);
}

struct MenuEntry {
    QString path;
    QString text;
    int id;
    bool operator==(const MenuEntry&) const = default;
};

void PrintTo(const MenuEntry& entry, std::ostream* out)
{
    *out << entry.path.toStdString() << " > " << entry.text.toStdString() << " (" << entry.id
         << ")";
}

void collectMenu(const QMenu& menu, const QString& path, std::vector<MenuEntry>& entries)
{
    for (const QAction* action : menu.actions()) {
        if (action->menu() != nullptr) {
            collectMenu(*action->menu(), path + QLatin1Char('/') + action->text(), entries);
        } else if (!action->isSeparator()) {
            entries.push_back({path, action->text(), action->data().toInt()});
            EXPECT_EQ(action->objectName(), QString::number(action->data().toInt()));
        }
    }
}

TEST_F(MainFrameTest, menuHoldsTheCommandTable)
{
    std::vector<MenuEntry> entries;
    for (const QAction* top : m_frame->commandBar().menuBar()->actions()) {
        ASSERT_NE(top->menu(), nullptr);
        collectMenu(*top->menu(), top->text(), entries);
    }
    const std::vector<MenuEntry> expected{
        {"File", "Exit", 32774},
        {"Tools", "About Hopwise...", 57664},
        {"Tools/Clear Cached IP/Name", "Hopwise", 32776},
        {"Tools/Clear Cached IP/Name", "Ping", 32777},
    };
    EXPECT_EQ(entries, expected);
}

struct RoutingCase {
    int id;
    Taker taker;
    bool offeredToApplication;
};

class CommandRoutingTest : public MainFrameTest,
                           public ::testing::WithParamInterface<RoutingCase> {};

TEST_P(CommandRoutingTest, frameFirstThenApplication)
{
    const RoutingCase& c = GetParam();
    EXPECT_EQ(m_frame->RouteCommand(c.id), c.taker);
    EXPECT_EQ(m_application.offered,
              c.offeredToApplication ? std::vector<int>{c.id} : std::vector<int>{});
}

INSTANTIATE_TEST_SUITE_P(CommandTable, CommandRoutingTest,
                         ::testing::Values(RoutingCase{32776, Taker::Frame, false},
                                           RoutingCase{32777, Taker::Frame, false},
                                           RoutingCase{57664, Taker::Application, true},
                                           RoutingCase{32774, Taker::Application, true},
                                           RoutingCase{57665, Taker::Application, true},
                                           // An accelerator command nobody handles.
                                           RoutingCase{57600, Taker::None, true}));

TEST_F(MainFrameTest, clearCommandsEmptyOnlyTheirPagesHistory)
{
    RecordHost(m_store, kTraceHistorySection, u"trace.example");
    RecordHost(m_store, kPingHistorySection, u"ping.example");

    findAction(*m_frame, res::kCmdClearHopwiseCache)->trigger();
    EXPECT_TRUE(LoadHostHistory(m_store, kTraceHistorySection).empty());
    EXPECT_EQ(LoadHostHistory(m_store, kPingHistorySection),
              std::vector<std::u16string>{u"ping.example"});

    // Whichever tab is showing.
    findAction(*m_frame, res::kCmdClearPingCache)->trigger();
    EXPECT_TRUE(LoadHostHistory(m_store, kPingHistorySection).empty());
    EXPECT_TRUE(m_application.offered.empty());
}

TEST_F(MainFrameTest, toolBarHasOnlyTheAboutButton)
{
    const QToolBar* bar = m_frame->commandBar().toolBar();
    ASSERT_NE(bar, nullptr);
    ASSERT_EQ(bar->actions().size(), 1);
    const QAction* about = bar->actions().front();
    EXPECT_EQ(about->data().toInt(), res::kCmdAppAbout);
    EXPECT_EQ(about->toolTip(), QStringLiteral("About"));
    EXPECT_FALSE(about->text().isEmpty()) << "a screen reader names the button by its text";
    EXPECT_EQ(about->icon().availableSizes().value(0), QSize(16, 16));
    EXPECT_EQ(m_frame->findChildren<QToolBar*>().size(), 1);
}

TEST_F(MainFrameTest, tooltipTableHoldsTheStringsInSlotOrder)
{
    const std::array<QString, 8> expected{"New",  "File",  "Help",  "Cut",
                                          "Copy", "Paste", "About", QString()};
    EXPECT_EQ(m_frame->tooltipTexts(), expected);
}

TEST_F(MainFrameTest, controlQIsTheOnlyKey)
{
    std::vector<std::pair<int, QKeySequence>> keys;
    for (const QAction* action : m_frame->findChildren<QAction*>()) {
        if (!action->shortcut().isEmpty()) {
            keys.emplace_back(action->data().toInt(), action->shortcut());
        }
    }
    const std::vector<std::pair<int, QKeySequence>> expected{
        {res::kCmdAppExit, QKeySequence(Qt::CTRL | Qt::Key_Q)}};
    EXPECT_EQ(keys, expected);
}

TEST_F(MainFrameTest, aboutBoxShowsIconVersionNoticeAndOk)
{
    CAboutDlg about(m_frame.get());
    about.show();
    const DialogUnits units(about.font());
    EXPECT_EQ(about.windowTitle(), QStringLiteral("About Hopwise"));
    EXPECT_EQ(about.size(), QSize(units.toPixelsX(132), units.toPixelsY(159)));
    EXPECT_TRUE(about.isModal());

    std::vector<QString> texts;
    const QLabel* icon = nullptr;
    for (const QLabel* label : about.findChildren<QLabel*>()) {
        if (!label->pixmap().isNull()) {
            icon = label;
        } else {
            texts.push_back(label->text());
        }
        if (label->text() == QStringLiteral("Hopwise Version 1.0.0.1")) {
            EXPECT_EQ(label->geometry(), units.toPixels(36, 33, 90, 8));
            EXPECT_TRUE(label->alignment() & Qt::AlignHCenter);
        }
    }
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(icon->geometry(), units.toPixels(14, 25, 20, 20));
    ASSERT_EQ(texts.size(), 2U);
    EXPECT_EQ(texts[0], QStringLiteral("Hopwise Version 1.0.0.1"));
    EXPECT_TRUE(texts[1].startsWith(QStringLiteral("Copyright"))) << texts[1].toStdString();

    EXPECT_LE(
        (about.frameGeometry().center() - m_frame->frameGeometry().center()).manhattanLength(), 2)
        << "centred over the main window";

    auto* ok = about.findChild<QPushButton*>(QString::number(res::kCmdOk));
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->text(), QStringLiteral("OK"));
    ok->click();
    EXPECT_EQ(about.result(), QDialog::Accepted);
    EXPECT_FALSE(about.isVisible());
}

// The application object around the frame: the About box from either route, and every way out.
class ApplicationTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_app.InitInstance()); }
    CHopwiseApp m_app;
};

TEST_F(ApplicationTest, menuAndToolButtonRunTheSameModalAboutBox)
{
    CMainFrame* frame = m_app.mainWindow();
    ASSERT_NE(frame, nullptr);
    for (const bool fromToolBar : {false, true}) {
        QString caption;
        QWidget* owner = nullptr;
        QTimer::singleShot(0, [&] {
            pumpUntil([] { return QApplication::activeModalWidget() != nullptr; });
            if (auto* box = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget())) {
                caption = box->windowTitle();
                owner = box->parentWidget();
                box->accept();
            }
        });
        QAction* action = findAction(*frame, res::kCmdAppAbout, fromToolBar);
        ASSERT_NE(action, nullptr);
        action->trigger(); // returns when the modal box has been closed
        EXPECT_EQ(caption, QStringLiteral("About Hopwise")) << "tool bar: " << fromToolBar;
        EXPECT_EQ(owner, frame);
    }
}

struct WayOut {
    const char* name;
    std::function<void(CMainFrame&)> take;
};

class WayOutTest : public ApplicationTest, public ::testing::WithParamInterface<WayOut> {};

TEST_P(WayOutTest, destroysTheWindowAndThePagesSaveTheirSettings)
{
    static std::int32_t nextValue = 7;
    const std::int32_t value = nextValue++;
    CMainFrame* frame = m_app.mainWindow();
    ASSERT_NE(frame, nullptr);
    frame->tracePage().m_iMaxHopCount = value;
    frame->pingPage().m_iHopTimeout = value * 100;

    GetParam().take(*frame);
    ASSERT_TRUE(pumpUntil([this] { return m_app.mainWindow() == nullptr; }));

    SettingsStore reread(SettingsStore::DefaultBackingFile());
    reread.SetRegistryKey(kCompanyKey);
    reread.SetAppName(kApplicationName);
    EXPECT_EQ(reread.GetSettingInt(kTraceSettingsSection, kMaxHopCountName, -1), value);
    EXPECT_EQ(reread.GetSettingInt(kPingSettingsSection, kHopTimeoutName, -1), value * 100);
}

INSTANTIATE_TEST_SUITE_P(
    Exits, WayOutTest,
    ::testing::Values(WayOut{"fileExit",
                             [](CMainFrame& f) { findAction(f, res::kCmdFileExit)->trigger(); }},
                      WayOut{"controlQ",
                             [](CMainFrame& f) {
                                 QApplication::setActiveWindow(&f);
                                 QTest::keyClick(&f, Qt::Key_Q, Qt::ControlModifier);
                             }},
                      WayOut{"windowClosed", [](CMainFrame& f) { f.close(); }},
                      WayOut{"sigterm", [](CMainFrame&) { std::raise(SIGTERM); }},
                      WayOut{"sigint", [](CMainFrame&) { std::raise(SIGINT); }}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace hopwise
