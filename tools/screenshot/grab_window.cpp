// Builds the main window as the program does (settings in the caller's config home), shows it
// on the current display and writes a PNG of each tab and of the About box into DIR.
//
//   hopwise-grab DIR

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTabBar>
#include <cstdio>

#include "app/about_dlg.h"
#include "app/main_frame.h"
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
    return ok ? 0 : 1;
}
