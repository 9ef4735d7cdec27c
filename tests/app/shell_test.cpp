// The main window as the application builds it, with the settings file in the private config
// home, and the real program: one instance at a time, no capability left on its threads.

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QStyleFactory>
#include <QStyleOption>
#include <QTabBar>
#include <QTest>
#include <QTreeWidget>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include "app/deferred_icon_style.h"
#include "app/hopwise_app.h"
#include "settings/host_history.h"
#include "tests/support/scripted_echo_stack.h"
#include "tests/support/table_resolver.h"
#include "widgets/dialog_units.h"

namespace hopwise {
namespace {

class MainWindowTest : public ::testing::TestWithParam<void (*)(CMainFrame&)> {};

TEST_P(MainWindowTest, startsOnTheTraceRoutePageAndEveryWayOutSavesTheSettings)
{
    static std::int32_t value = 7; // a new one in each case
    CHopwiseApp app;
    ASSERT_TRUE(app.InitInstance());
    CMainFrame& frame = *app.mainWindow();
    QTabBar& tabs = *frame.tabHost().tabBar();
    EXPECT_EQ(frame.windowTitle(), "Hopwise");
    // Compiled in: an exact image at each size X11 asks a window icon for.
    for (const int size : {16, 32, 64, 128}) {
        EXPECT_TRUE(frame.windowIcon().availableSizes().contains(QSize(size, size))) << size;
    }
    EXPECT_EQ(QStringList({tabs.tabText(0), tabs.tabText(1)}), QStringList({"Hopwise", "Ping"}));
    // Below the tab row, inset by 5, at the size of the pages' template.
    const int h = tabs.sizeHint().height();
    const DialogUnits units(frame.tracePage().font());
    const QRect place(5, h + 5, units.toPixelsX(132), units.toPixelsY(136));
    EXPECT_EQ(frame.tabHost().size(), place.size() + QSize(10, h + 10));
    EXPECT_EQ(frame.tracePage().geometry(), place);
    EXPECT_EQ(frame.pingPage().geometry(), place);
    EXPECT_TRUE(frame.tracePage().isVisible() && !frame.pingPage().isVisible());
    tabs.setCurrentIndex(1);
    EXPECT_TRUE(!frame.tracePage().isVisible() && frame.pingPage().isVisible());

    QStringList items;
    for (const QMenu* menu : frame.commandBar().menuBar()->findChildren<QMenu*>()) {
        for (const QAction* action : menu->actions()) {
            // Alt and the first letter (&File, &Exit); the shown text is the same.
            items << QString(menu->title() + " > " + action->text() + " " +
                             action->data().toString())
                         .remove('&');
        }
    }
    EXPECT_EQ(items, QStringList({"File > Exit 32774", "Tools > About Hopwise... 57664",
                                  "Tools > Clear Cached IP/Name ", "Tools > Route Monitor... 32800",
                                  "Clear Cached IP/Name > Hopwise 32776",
                                  "Clear Cached IP/Name > Ping 32777"}));
    // The frame clears a page's history whichever tab shows.
    RecordHost(app.settings(), u"Hopwise", u"traced");
    RecordHost(app.settings(), u"Ping", u"pinged");
    frame.findChild<QAction*>("32776")->trigger();
    EXPECT_TRUE(LoadHostHistory(app.settings(), u"Hopwise").empty());
    EXPECT_EQ(LoadHostHistory(app.settings(), u"Ping").size(), 1u);
    frame.findChild<QAction*>("32777")->trigger();
    EXPECT_TRUE(LoadHostHistory(app.settings(), u"Ping").empty());
    EXPECT_EQ(frame.RouteCommand(57600), CMainFrame::CommandTaker::None);

    frame.tracePage().m_iMaxHopCount = ++value;
    frame.pingPage().m_iHopTimeout = value;
    GetParam()(frame);
    EXPECT_TRUE(QTest::qWaitFor([&] { return app.mainWindow() == nullptr; }));
    EXPECT_EQ(app.settings().GetSettingInt(u"HopwiseDialog", u"m_iMaxHopCount", -1), value);
    EXPECT_EQ(app.settings().GetSettingInt(u"PingDialog", u"m_iHopTimeout", -1), value);
}

INSTANTIATE_TEST_SUITE_P(WaysOut, MainWindowTest,
                         ::testing::Values(
                             +[](CMainFrame& f) { f.findChild<QAction*>("32774")->trigger(); },
                             +[](CMainFrame& f) {
                                 QApplication::setActiveWindow(&f);
                                 QTest::keyClick(&f, Qt::Key_Q, Qt::ControlModifier);
                             },
                             +[](CMainFrame& f) { f.close(); },
                             +[](CMainFrame&) { std::raise(SIGTERM); },
                             +[](CMainFrame&) { std::raise(SIGINT); },
                             +[](CMainFrame&) { std::raise(SIGHUP); }));

// A settings file set aside or a failed write is told in the window, once, with the file's place.
TEST(SettingsTrouble, isToldInTheWindowOnceWithTheFilesPlace)
{
    const std::filesystem::path file = SettingsStore::DefaultBackingFile();
    const std::pair<const char*, void (*)(CHopwiseApp&)> cases[] = {
        {"Windows Registry Editor Version 5.00\n\n\"a\"=dword:1\n", nullptr},
        {"",
         +[](CHopwiseApp& app) {
             std::filesystem::create_directory(SettingsStore::DefaultBackingFile().string() +
                                               ".tmp");
             app.settings().WriteSettingInt(u"PingDialog", u"m_iHopTimeout", 1);
             app.settings().WriteSettingInt(u"PingDialog", u"m_iHopTimeout", 2);
         }},
    };
    for (const auto& [fileText, action] : cases) {
        std::filesystem::create_directories(file.parent_path());
        if (*fileText != 0) {
            std::ofstream(file) << fileText;
        }
        CHopwiseApp app;
        ASSERT_TRUE(app.InitInstance());
        if (action) {
            action(app);
        }
        QList<QMessageBox*> boxes;
        EXPECT_TRUE(QTest::qWaitFor([&] {
            boxes = app.mainWindow()->findChildren<QMessageBox*>("settingsWarning");
            return !boxes.isEmpty() && boxes.front()->isVisible();
        }));
        ASSERT_EQ(boxes.size(), 1) << fileText;
        EXPECT_TRUE(boxes.front()->text().contains(QString::fromStdString(file.string())))
            << boxes.front()->text().toStdString();
        app.mainWindow()->close();
        EXPECT_TRUE(QTest::qWaitFor([&] { return app.mainWindow() == nullptr; }));
        std::filesystem::remove_all(file.parent_path());
    }
}

// The window as a desktop tool: the keys switch tabs, a hop's address is pinged and a reply's
// traced from the views' menu (Menu key), which offers it only while the other page is idle. An
// IPv6 address goes across whole, zone and all.
struct HandOffCase {
    const char* host;
    const char* responder; // of the first hop and of every echo
    friend void PrintTo(const HandOffCase& c, std::ostream* os) { *os << c.responder; }
};

class WindowUse : public ::testing::TestWithParam<HandOffCase> {};

TEST_P(WindowUse, keysSwitchTabsAndARowsAddressRunsOnTheOtherPage)
{
    const QString address = GetParam().responder;
    const HostAddress responder = ResolveHost(GetParam().responder, FamilyChoice::Any);
    test::ScriptedEchoStack stack;
    test::ScopedEchoStack installStack{stack};
    test::TableResolver resolver;
    test::ScopedHostResolver installResolver{resolver};
    resolver.addName("target", {test::Ip("10.0.0.9")});
    resolver.addHost("target6", {ResolveHost("fd00::9", FamilyChoice::Any)});
    stack.answerTtl(
        1, {.address = responder.toIpv4(), .roundTripTime = 3, .ttl = 64, .responder = responder});
    CHopwiseApp app;
    ASSERT_TRUE(app.InitInstance());
    CMainFrame& frame = *app.mainWindow();
    QTabBar& tabs = *frame.tabHost().tabBar();
    QApplication::setActiveWindow(&frame);
    const std::pair<QKeyCombination, int> keys[] = {
        {Qt::CTRL | Qt::Key_Tab, 1},
        {Qt::CTRL | Qt::Key_Tab, 0},
        {Qt::CTRL | Qt::Key_PageUp, 1},
        {Qt::CTRL | Qt::Key_PageDown, 0},
        {Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab, 1},
    };
    for (const auto& [key, tab] : keys) {
        QTest::keyClick(&frame, key.key(), key.keyboardModifiers());
        EXPECT_EQ(tabs.currentIndex(), tab) << QKeySequence(key).toString().toStdString();
    }

    const auto menuOf = [](ProbePage& page, const QString& rowText) {
        auto* view = page.findChild<QTreeWidget*>(); // the hop tree or the reply list
        const QList<QTreeWidgetItem*> rows = view->findItems(rowText, Qt::MatchStartsWith);
        view->setFocus();
        view->setCurrentItem(rows.value(0));
        // The Menu key as the platform delivers it.
        QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, QPoint(0, 0),
                                  view->viewport()->mapToGlobal(QPoint(0, 0)));
        QApplication::sendEvent(view, &menuKey);
        QStringList items;
        for (const QAction* action : page.resultMenu()->actions()) {
            items << action->text() + (action->isEnabled() ? "" : " (off)");
        }
        return std::pair(page.resultMenu()->actions().value(2), items);
    };
    stack.waitOutTimeouts(true);
    frame.tracePage().m_iHopTimeout = 50;
    frame.tracePage().runFor(GetParam().host);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !frame.tracePage().isRunning(); }));
    stack.answerNext([=](const EchoRequest&, void* reply, std::uint32_t size) {
        WriteEchoReply(reply, size,
                       {.address = responder.toIpv4(), .ttl = 60, .responder = responder});
        return 0u;
    });
    auto [pingIt, items] = menuOf(frame.tracePage(), address);
    EXPECT_EQ(items, QStringList({"Copy", "Copy All", "Ping This Address", "Monitor This Route"}));
    pingIt->trigger();
    EXPECT_EQ(tabs.currentIndex(), 1);
    EXPECT_EQ(frame.pingPage().findChild<QComboBox*>("1018")->currentText(), address);
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return !frame.pingPage().findChild<QTreeWidget*>()->findItems(address, {}).isEmpty();
    }));
    EXPECT_TRUE(frame.pingPage().isRunning()); // without end, its silent echoes wait 1 s each
    EXPECT_EQ(menuOf(frame.tracePage(), address).second,
              QStringList({"Copy", "Copy All", "Ping This Address (off)", "Monitor This Route"}));
    frame.pingPage().OnCancelPing();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !frame.pingPage().isRunning(); }));

    auto [traceIt, pingItems] = menuOf(frame.pingPage(), address);
    EXPECT_EQ(pingItems, QStringList({"Copy", "Copy All", "Trace Route to This Address",
                                      "Monitor This Route"}));
    traceIt->trigger();
    EXPECT_EQ(tabs.currentIndex(), 0);
    EXPECT_EQ(frame.tracePage().findChild<QComboBox*>("1008")->currentText(), address);
    EXPECT_TRUE(frame.tracePage().isRunning());
    frame.close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return app.mainWindow() == nullptr; }));
}

INSTANTIATE_TEST_SUITE_P(Addresses, WindowUse,
                         ::testing::Values(HandOffCase{"target", "10.1.0.1"},
                                           HandOffCase{"target6", "fe80::1%lo"}));

// A route monitor opens for the shown page's host from the Tools menu, and for the page's own
// host from either view's menu; each is a window of its own, and all close with the main window.
TEST(RouteMonitor, opensWithThePagesHostAndClosesWithTheMainWindow)
{
    CHopwiseApp app;
    ASSERT_TRUE(app.InitInstance());
    CMainFrame& frame = *app.mainWindow();
    QStringList hosts;
    std::vector<QPointer<QWidget>> opened;
    frame.setMonitorOpener([&](const QString& host) {
        hosts << host;
        opened.emplace_back(new QWidget);
        return opened.back().data();
    });
    frame.tracePage().findChild<QComboBox*>("1008")->setEditText("traced.example");
    frame.pingPage().findChild<QComboBox*>("1018")->setEditText("pinged.example");
    const auto fromViewMenu = [](ProbePage& page) {
        auto* view = page.findChild<QTreeWidget*>();
        QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, QPoint(0, 0),
                                  view->viewport()->mapToGlobal(QPoint(0, 0)));
        QApplication::sendEvent(view, &menuKey);
        page.resultMenu()->actions().value(3)->trigger();
    };
    const std::pair<std::function<void()>, const char*> openings[] = {
        {[&] { frame.findChild<QAction*>("32800")->trigger(); }, "traced.example"},
        {[&] { fromViewMenu(frame.pingPage()); }, "pinged.example"},
        {[&] {
             frame.tabHost().tabBar()->setCurrentIndex(1);
             frame.findChild<QAction*>("32800")->trigger();
         },
         "pinged.example"},
        {[&] { fromViewMenu(frame.tracePage()); }, "traced.example"},
    };
    for (const auto& [open, host] : openings) {
        open();
        EXPECT_EQ(hosts.value(hosts.size() - 1), host);
    }
    EXPECT_EQ(frame.monitors().size(), std::size(openings));
    frame.close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return app.mainWindow() == nullptr; }));
    EXPECT_TRUE(
        std::all_of(opened.begin(), opened.end(), [](const auto& w) { return w.isNull(); }));
}

// The bars' extension icons, fetched only when drawn, through the application's style as the
// bars ask for them, are the wrapped style's own in either direction.
struct ExtensionIconCase {
    QStyle::StandardPixmap icon;
    Qt::LayoutDirection direction;
};

class ExtensionIconTest : public ::testing::TestWithParam<ExtensionIconCase> {};

TEST_P(ExtensionIconTest, isTheWrappedStylesOwnOnceDrawn)
{
    const auto [which, direction] = GetParam();
    const std::unique_ptr<QStyle> plain(QStyleFactory::create("fusion"));
    auto* deferred = new DeferredIconStyle(QStyleFactory::create("fusion"));
    deferred->setParent(qApp);
    QApplication::setStyle(deferred);
    QStyleOption option;
    option.direction = direction;
    const QIcon icon = QApplication::style()->standardIcon(which, &option);
    const QImage expected = plain->standardIcon(which, &option).pixmap(16).toImage();
    EXPECT_FALSE(expected.isNull());
    EXPECT_EQ(icon.pixmap(16).toImage(), expected);
    QApplication::setStyle(QStyleFactory::create("fusion"));
}

INSTANTIATE_TEST_SUITE_P(
    MenuAndToolBars, ExtensionIconTest,
    ::testing::Values(
        ExtensionIconCase{QStyle::SP_ToolBarHorizontalExtensionButton, Qt::LeftToRight},
        ExtensionIconCase{QStyle::SP_ToolBarHorizontalExtensionButton, Qt::RightToLeft},
        ExtensionIconCase{QStyle::SP_ToolBarVerticalExtensionButton, Qt::LeftToRight}));

// A screen reader finds a name on everything a person can act on, hidden or not.
TEST(WindowAccessibility, everyInteractiveObjectHasAName)
{
    CHopwiseApp app;
    ASSERT_TRUE(app.InitInstance());
    // What a person can act on: whatever takes the focus, and the controls a pointer works.
    const QSet<QAccessible::Role> pointed{QAccessible::MenuItem, QAccessible::PushButton,
                                          QAccessible::PageTab, QAccessible::ScrollBar};
    QStringList unnamed;
    int walked = 0;
    std::function<void(QAccessibleInterface*, int)> walk = [&](QAccessibleInterface* object,
                                                               int depth) {
        if (object == nullptr || depth > 30 || ++walked > 5000) {
            return;
        }
        if ((object->state().focusable || pointed.contains(object->role())) &&
            object->text(QAccessible::Name).isEmpty()) {
            const QObject* owner = object->object();
            unnamed << QStringLiteral("%1 %2")
                           .arg(object->role())
                           .arg(owner != nullptr
                                    ? owner->objectName() + "/" + owner->metaObject()->className()
                                    : QString("?"));
        }
        for (int i = 0; i < object->childCount(); ++i) {
            walk(object->child(i), depth + 1);
        }
    };
    walk(QAccessible::queryAccessibleInterface(app.mainWindow()), 0);
    EXPECT_GT(walked, 40);
    EXPECT_EQ(unnamed, QStringList()) << unnamed.join(", ").toStdString();
    app.mainWindow()->close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return app.mainWindow() == nullptr; }));
}

bool RunningInstanceRaised()
{
    return QTest::qWaitFor(
        [] {
            SingleInstance client(SingleInstance::ServerName(HOPWISE_BINARY));
            return client.askRunningInstanceToRaise() && client.otherConfirmedRaise();
        },
        10000);
}

TEST(SingleInstance, secondLaunchRaisesTheRunningInstanceAndExitsMinusOne)
{
    QProcess killed;
    killed.start(HOPWISE_BINARY, {});
    ASSERT_TRUE(RunningInstanceRaised());
    killed.kill();
    ASSERT_TRUE(killed.waitForFinished(10000));

    QProcess first;
    first.start(HOPWISE_BINARY, {});
    ASSERT_TRUE(RunningInstanceRaised()) << "the killed instance's socket is in the way";
    QProcess second;
    second.start(HOPWISE_BINARY, {});
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitCode(), 255);
    first.terminate();
    ASSERT_TRUE(first.waitForFinished(10000));
    EXPECT_EQ(first.exitCode(), 0);
}

// A peer that never ends its line is cut off, not buffered without end, and raises nothing.
TEST(SingleInstance, endlessRequestLineIsCutOff)
{
    const QString path = QDir::tempPath() + "/hopwise-endless-" + QString::number(getpid());
    SingleInstance running(path);
    ASSERT_EQ(running.start(), SingleInstance::Outcome::Primary);
    int raised = 0;
    QObject::connect(&running, &SingleInstance::raiseRequested, [&] { ++raised; });
    const int peer = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray encoded = path.toLocal8Bit();
    std::copy_n(encoded.constData(), std::min<std::size_t>(encoded.size(), 100), address.sun_path);
    ASSERT_EQ(::connect(peer, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    const std::string endless = "raise " + std::string(8000, 'x');
    ASSERT_GT(::send(peer, endless.data(), endless.size(), MSG_NOSIGNAL), 4096);
    char byte = 0;
    EXPECT_TRUE(QTest::qWaitFor([&] { return ::recv(peer, &byte, 1, 0) == 0; }, 5000));
    EXPECT_EQ(raised, 0);
    ::close(peer);
    QFile::remove(path + ".lock");
}

// On X11 the running window ends a second launch's startup sequence ("remove:" for its id, quoted,
// to listeners on the root window) and asks to be activated at the launch's time, its user time.
TEST(SingleInstance, secondLaunchOnX11EndsItsStartupSequence)
{
    QProcess server;
    server.start("Xvfb", {"-displayfd", "1", "-nolisten", "tcp"});
    if (!server.waitForStarted(10000)) {
        GTEST_SKIP() << "needs Xvfb for a private X display";
    }
    ASSERT_TRUE(server.waitForReadyRead(10000));
    const QByteArray display = ":" + server.readAllStandardOutput().trimmed();
    xcb_connection_t* x = xcb_connect(display.constData(), nullptr);
    ASSERT_EQ(xcb_connection_has_error(x), 0);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
    const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(x, root, XCB_CW_EVENT_MASK, &mask);
    xcb_intern_atom_reply_t* userTime =
        xcb_intern_atom_reply(x, xcb_intern_atom(x, 0, 17, "_NET_WM_USER_TIME"), nullptr);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", display);
    QProcess first;
    first.setProcessEnvironment(environment);
    first.start(HOPWISE_BINARY, {"-platform", "xcb"});
    ASSERT_TRUE(RunningInstanceRaised());
    const std::tuple<const char*, const char*, std::uint32_t> cases[] = {
        {"hopwise-7_TIME2971215073", R"(remove: ID="hopwise-7_TIME2971215073")", 2971215073},
        {R"(quo"te\slash)", R"(remove: ID="quo\"te\\slash")", 0}};
    for (const auto& [id, removal, time] : cases) {
        environment.insert("DESKTOP_STARTUP_ID", id);
        QProcess second;
        second.setProcessEnvironment(environment);
        second.start(HOPWISE_BINARY, {"-platform", "xcb"});
        ASSERT_TRUE(second.waitForFinished(10000));
        QByteArray received("\0", 1); // the startup messages, each ending in a NUL, padded
        const QByteArray wanted = '\0' + QByteArray(removal) + '\0';
        std::pair<xcb_window_t, std::uint32_t> activation{}; // the window and the time asked
        const bool removed = QTest::qWaitFor([&] {
            while (xcb_generic_event_t* event = xcb_poll_for_event(x)) {
                const auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
                if ((event->response_type & 0x7F) == XCB_CLIENT_MESSAGE && message->format == 32) {
                    activation = {message->window, message->data.data32[1]};
                } else if ((event->response_type & 0x7F) == XCB_CLIENT_MESSAGE) {
                    received.append(reinterpret_cast<const char*>(message->data.data8), 20);
                }
                std::free(event);
            }
            return received.contains(wanted);
        });
        EXPECT_TRUE(removed) << id << " got: " << received.replace('\0', '|').toStdString();
        EXPECT_EQ(activation.second, time) << id;
        xcb_get_property_reply_t* stamp = xcb_get_property_reply(
            x, xcb_get_property(x, 0, activation.first, userTime->atom, XCB_ATOM_CARDINAL, 0, 1),
            nullptr);
        EXPECT_TRUE(time == 0 ||
                    (xcb_get_property_value_length(stamp) == 4 &&
                     *static_cast<std::uint32_t*>(xcb_get_property_value(stamp)) == time))
            << id;
        std::free(stamp);
    }
    std::free(userTime);
    first.terminate();
    first.waitForFinished(10000);
    xcb_disconnect(x);
    server.terminate();
    server.waitForFinished(10000);
}

struct CommandLineCase {
    QStringList args;
    QStringList environment; // NAME=VALUE, over one that names no display
    int exitCode;
    // On stdout when the exit code is 0, on stderr otherwise; nothing when the window comes up.
    const char* printed;
    friend void PrintTo(const CommandLineCase& c, std::ostream* os)
    {
        *os << (c.environment + c.args).join(' ').toStdString();
    }
};

class CommandLineTest : public ::testing::TestWithParam<CommandLineCase> {};

// --help and --version answer before Qt looks for a display; without one the window says which
// variable would name it rather than let Qt abort.
TEST_P(CommandLineTest, answersOrRefusesWithoutADisplay)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "WAYLAND_SOCKET", "QT_QPA_PLATFORM"}) {
        environment.remove(name);
    }
    for (const QString& variable : GetParam().environment) {
        environment.insert(variable.section('=', 0, 0), variable.section('=', 1));
    }
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(HOPWISE_BINARY, GetParam().args);
    if (*GetParam().printed == 0) {
        ASSERT_TRUE(RunningInstanceRaised()) << program.readAllStandardError().toStdString();
        program.terminate();
    }
    ASSERT_TRUE(program.waitForFinished(10000));
    ASSERT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), GetParam().exitCode);
    const QString printed =
        GetParam().exitCode == 0 ? program.readAllStandardOutput() : program.readAllStandardError();
    EXPECT_TRUE(printed.contains(GetParam().printed)) << printed.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Requests, CommandLineTest,
    ::testing::Values(
        CommandLineCase{{"--help"}, {}, 0, "Usage: hopwise ["},
        CommandLineCase{{"-platform", "xcb", "--version"}, {}, 0, "hopwise " HOPWISE_VERSION "\n"},
        CommandLineCase{{"--style=Fusion", "-reverse", "-v"}, {}, 0, "hopwise "},
        CommandLineCase{{"--bogus", "--help"}, {}, 2, "unknown option '--bogus'"},
        CommandLineCase{{"-reverse=1"}, {}, 2, "unknown option '-reverse=1'"},
        CommandLineCase{{"example.org"}, {}, 2, "unexpected argument 'example.org'"},
        CommandLineCase{{"-style"}, {}, 2, "option '-style' needs a value"},
        CommandLineCase{{},
                        {},
                        1,
                        "hopwise: no display to open the window on: WAYLAND_DISPLAY or "
                        "DISPLAY must name one (hopwise-cli needs none)\n"},
        CommandLineCase{
            {}, {"QT_QPA_PLATFORM=xcb", "WAYLAND_DISPLAY=wayland-7"}, 1, ": DISPLAY must name one"},
        CommandLineCase{{"-platform", "wayland"},
                        {"QT_QPA_PLATFORM=offscreen", "DISPLAY=:7"},
                        1,
                        ": WAYLAND_DISPLAY must name one"},
        CommandLineCase{
            {}, {"QT_QPA_PLATFORM=wayland-egl;xcb:nograb"}, 1, ": WAYLAND_DISPLAY or DISPLAY must"},
        CommandLineCase{{"--platform", "offscreen"}, {}, 0, ""},
        CommandLineCase{{"-platform=offscreen"}, {}, 1, ": WAYLAND_DISPLAY or DISPLAY must"},
        CommandLineCase{{}, {"QT_QPA_PLATFORM=xcb;offscreen"}, 0, ""}));

TEST(WindowPrivilege, idleWindowHasNoEffectiveCapability)
{
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root: only root starts with capabilities to drop";
    }
    QProcess window;
    window.start(HOPWISE_BINARY, {});
    ASSERT_TRUE(RunningInstanceRaised()); // up and waiting for the user
    QStringList sets;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(window.processId()));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile status(tasks.filePath(task + "/status"));
        status.open(QIODevice::ReadOnly); // a thread that ended meanwhile has nothing to read
        sets << QString(status.readAll()).split('\n').filter(QRegularExpression("^Cap(Eff|Prm):"));
    }
    ASSERT_FALSE(sets.isEmpty()); // nothing effective; cap_net_raw at most permitted
    EXPECT_EQ(sets.filter(QRegularExpression("^CapEff:\\s+0+$|^CapPrm:\\s+0+(2000)?$")), sets);
}

} // namespace
} // namespace hopwise
