// The monitor window's module entry (see monitor_window_entry.h).

#include <QtGlobal>

#include "monitor/window/monitor_window.h"
#include "monitor/window/monitor_window_entry.h"

extern "C" Q_DECL_EXPORT QWidget* hopwise_open_monitor_window(hopwise::SettingsStore& store,
                                                              const QString& host)
{
    auto* window = new hopwise::MonitorWindow(store);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
    window->monitor(host);
    return window;
}

// The entry's type is the shell's: a mismatch fails to build here, not at run time there.
static_assert(
    std::is_same_v<decltype(&hopwise_open_monitor_window), hopwise::OpenMonitorWindowEntry>);
