// Builds the main window as the program does (settings in the caller's config home), shows it
// on the current display and writes a PNG of each tab, of the About box and of the hop tree's
// context menu after a short trace to 127.0.0.1 into DIR.
//
//   hopwise-grab DIR

#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QScreen>
#include <QTabBar>
#include <QTreeWidget>
#include <cstdio>

#include "app/about_dlg.h"
#include "app/main_frame.h"
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
        QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, QPoint(0, 0));
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
    return ok ? 0 : 1;
}
