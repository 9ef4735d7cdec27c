#pragma once

// What the shell finds in the monitor window's module (loaded on first use, so that the main
// window's start never maps Qt Charts): one C entry that opens a monitor window for a host.

class QString;
class QWidget;

namespace hopwise {

class SettingsStore;

// Opens a new monitor window, deleted when closed, monitoring host (when not empty). The store
// must outlive it.
using OpenMonitorWindowEntry = QWidget* (*)(SettingsStore& store, const QString& host);
inline constexpr const char* kOpenMonitorWindowSymbol = "hopwise_open_monitor_window";
inline constexpr const char* kMonitorWindowModule = "hopwise-monitor-window.so";

} // namespace hopwise
