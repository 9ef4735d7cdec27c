// Builds the main window as the program does (settings in the caller's config home), shows it
// on the current display and writes a PNG of each tab, of the About box and of the hop tree's
// context menu after a short trace to 127.0.0.1, and of a route monitor window showing twenty
// minutes of made-up samples (a router limiting its replies, a route change), into DIR.
//
//   hopwise-grab DIR

#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QScreen>
#include <QTabBar>
#include <QTreeWidget>
#include <cstdio>
#include <optional>
#include <string>

#include "app/about_dlg.h"
#include "app/main_frame.h"
#include "monitor/window/monitor_window.h"
#include "probe/resolver.h"
#include "res/resource_ids.h"
#include "res/stored_names.h"
#include "settings/settings_store.h"

namespace {

void settle(int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

// The monitor's made-up routers get made-up names, so no lookup leaves the machine.
class ExampleNames final : public hopwise::HostResolver {
public:
    std::optional<hopwise::HostAddress> lookUpName(const char*, hopwise::AddressFamily) override
    {
        return std::nullopt;
    }
    std::optional<std::string> lookUpAddress(const hopwise::HostAddress& address) override
    {
        const auto& bytes = address.bytes();
        return "hop" + std::to_string(bytes[2]) + (bytes[3] > 100 ? "-b" : "") + ".example.net";
    }
};

bool save(QWidget& widget, const QDir& directory, const QString& name)
{
    const QString path = directory.filePath(name);
    const bool saved = widget.grab().save(path);
    std::printf("%s %s\n", saved ? "wrote" : "could not write", qPrintable(path));
    return saved;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: hopwise-grab DIR\n");
        return 2;
    }
    const QDir directory(QString::fromLocal8Bit(argv[1]));
    using namespace hopwise;
    SettingsStore store(SettingsStore::DefaultBackingFile());
    store.SetRegistryKey(kCompanyKey);
    store.SetAppName(kApplicationName);

    CMainFrame frame(store, nullptr);
    if (!frame.LoadFrame()) {
        return 1;
    }
    frame.show();
    settle(300);
    bool ok = true;
    const QStringList names{QStringLiteral("hopwise-tab-hopwise.png"),
                            QStringLiteral("hopwise-tab-ping.png")};
    for (int tab = 0; tab < names.size(); ++tab) {
        frame.tabHost().tabBar()->setCurrentIndex(tab);
        settle(150);
        ok = save(frame, directory, names[tab]) && ok;
    }
    CAboutDlg about(&frame);
    about.show();
    settle(150);
    ok = save(about, directory, QStringLiteral("hopwise-about.png")) && ok;
    about.hide();

    // The hop tree's context menu over a hop (the README's picture): a trace to this machine.
    frame.tabHost().tabBar()->setCurrentIndex(0);
    CTraceRoutePage& trace = frame.tracePage();
    trace.findChild<QLineEdit*>(QString::number(res::kTraceMaxHop))->setText(QStringLiteral("3"));
    trace.runFor(QStringLiteral("127.0.0.1"));
    QElapsedTimer waited;
    waited.start();
    while (trace.isRunning() && waited.elapsed() < 10000) {
        settle(50);
    }
    auto* hops = trace.findChild<QTreeWidget*>();
    if (hops != nullptr && hops->topLevelItemCount() > 0) {
        hops->setFocus();
        hops->setCurrentItem(hops->topLevelItem(0));
        QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, QPoint(0, 0),
                                  hops->viewport()->mapToGlobal(QPoint(0, 0)));
        QApplication::sendEvent(hops, &menuKey);
        settle(200);
        // The menu is a window of its own: the screen shows both.
        const QPixmap screen = frame.screen()->grabWindow(0);
        const QRect area = frame.frameGeometry().united(
            trace.resultMenu() != nullptr ? trace.resultMenu()->geometry() : QRect());
        const QString path = directory.filePath(QStringLiteral("hopwise-context-menu.png"));
        const qreal ratio = screen.devicePixelRatio(); // the screen's pixels, not the window's
        const bool saved =
            screen
                .copy(QRectF(QPointF(area.topLeft()) * ratio, QSizeF(area.size()) * ratio)
                          .toAlignedRect())
                .save(path);
        std::printf("%s %s\n", saved ? "wrote" : "could not write", qPrintable(path));
        ok = saved && ok;
    }

    // The route monitor over 20 minutes of eight hops: hop 3 limits its replies, hop 5 changed
    // its route halfway, the destination's round trip wanders.
    ExampleNames exampleNames;
    HostResolver* systemResolver = InstallHostResolver(&exampleNames);
    MonitorWindow monitor(store);
    monitor.resize(1040, 640); // grabbed off the screen, which is narrower
    const std::int64_t start = QDateTime::currentMSecsSinceEpoch() - 1'200'000;
    // As a run's drain would: the notes and the chart go by the destination, hop 8.
    monitor.model().setDestination(HostAddress::ipv4(IpAddress(0x0808000A)));
    for (std::int32_t cycle = 0; cycle < 1200; ++cycle) {
        for (std::int16_t hop = 1; hop <= 8; ++hop) {
            const bool lost = (hop == 3 && cycle % 3 == 0) || (hop >= 7 && cycle % 53 == 0);
            const auto last = std::uint8_t(hop == 5 && cycle >= 600 ? 105 : hop);
            const auto wander =
                std::uint32_t(1500 * hop + (cycle * 7919) % 2000 + (cycle % 300 < 40 ? 6000 : 0));
            monitor.model().add({start + std::int64_t(cycle) * 1000, cycle, hop, !lost, wander,
                                 HostAddress::ipv4(IpAddress(0x0000000A | (hop << 16) |
                                                             (std::uint32_t(last) << 24)))});
        }
    }
    monitor.setWindowTitle(QStringLiteral("Route Monitor - example.net"));
    monitor.findChild<QComboBox*>(QStringLiteral("monitorHost"))
        ->setEditText(QStringLiteral("example.net"));
    monitor.refresh();
    monitor.show();
    // The names come back on the timer's next turns.
    for (int turn = 0; turn < 10; ++turn) {
        settle(30);
        monitor.drain();
    }
    ok = save(monitor, directory, QStringLiteral("hopwise-route-monitor.png")) && ok;
    InstallHostResolver(systemResolver);
    return ok ? 0 : 1;
}
