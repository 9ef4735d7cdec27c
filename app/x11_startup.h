#pragma once

// X11's side of raising the running window for a new launch (freedesktop startup notification):
// the launch's busy cursor or startup sequence ends, and a window manager that prevents focus
// stealing sees that the raise answers the person's own launch.

#include <QByteArray>
#include <QWidget>

namespace hopwise {

// On the xcb platform only, after the window was raised the usual way: stamps the window with
// the launch's time when startupId carries one ("_TIME<n>") and asks for the activation with
// that time, then sends "remove: ID=<startupId>". startupId is printable ASCII without blanks.
void CompleteX11Startup(QWidget& window, const QByteArray& startupId);

} // namespace hopwise
