#include "app/x11_startup.h"

#include <QGuiApplication>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <xcb/xcb.h>

namespace hopwise {
namespace {

// xcb hands out replies allocated with malloc.
template <typename Reply> using XcbReply = std::unique_ptr<Reply, decltype(&std::free)>;

xcb_atom_t Atom(xcb_connection_t* connection, const char* name)
{
    const XcbReply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, std::strlen(name), name),
                              nullptr),
        &std::free);
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

// The launcher's click time, from an id of the form "<unique>_TIME<timestamp>"; 0 when absent.
std::uint32_t LaunchTime(const QByteArray& startupId)
{
    const qsizetype at = startupId.lastIndexOf("_TIME");
    bool ok = false;
    const QByteArray digits = at < 0 ? QByteArray() : startupId.mid(at + 5);
    const std::uint32_t time = digits.toUInt(&ok);
    return ok && std::all_of(digits.begin(), digits.end(),
                             [](char c) { return c >= '0' && c <= '9'; })
               ? time
               : 0;
}

// The message's value in double quotes, a quote or backslash in it escaped with a backslash.
QByteArray RemoveMessage(const QByteArray& startupId)
{
    QByteArray quoted = startupId;
    quoted.replace('\\', "\\\\").replace('"', "\\\"");
    return "remove: ID=\"" + quoted + '"';
}

// The message travels, NUL included, in 20-byte pieces from a window of the sender's, so that
// listeners on the root window can put together the pieces of each sender.
void SendStartupMessage(xcb_connection_t* connection, xcb_window_t root, const QByteArray& message)
{
    const xcb_window_t sender = xcb_generate_id(connection);
    const std::uint32_t overrideRedirect = 1;
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, sender, root, -100, -100, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT,
                      &overrideRedirect);
    const xcb_atom_t begin = Atom(connection, "_NET_STARTUP_INFO_BEGIN");
    const xcb_atom_t more = Atom(connection, "_NET_STARTUP_INFO");
    const qsizetype length = message.size() + 1;
    for (qsizetype sent = 0; sent < length; sent += 20) {
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 8;
        event.window = sender;
        event.type = sent == 0 ? begin : more;
        std::memcpy(event.data.data8, message.constData() + sent,
                    static_cast<std::size_t>(std::min<qsizetype>(20, length - sent)));
        xcb_send_event(connection, 0, root, XCB_EVENT_MASK_PROPERTY_CHANGE,
                       reinterpret_cast<const char*>(&event));
    }
    xcb_destroy_window(connection, sender);
}

// Qt's own activation carries the time of the last event it saw, which a window manager that
// prevents focus stealing may find older than the person's last action elsewhere; the launch's
// time is that action. The window's user time goes where the window says it's kept.
void ActivateAtLaunchTime(xcb_connection_t* connection, xcb_window_t root, xcb_window_t window,
                          std::uint32_t time)
{
    const xcb_atom_t timeWindowAtom = Atom(connection, "_NET_WM_USER_TIME_WINDOW");
    const XcbReply<xcb_get_property_reply_t> timeWindow(
        xcb_get_property_reply(
            connection,
            xcb_get_property(connection, 0, window, timeWindowAtom, XCB_ATOM_WINDOW, 0, 1),
            nullptr),
        &std::free);
    const xcb_window_t stamped =
        timeWindow && xcb_get_property_value_length(timeWindow.get()) == 4
            ? *static_cast<xcb_window_t*>(xcb_get_property_value(timeWindow.get()))
            : window;
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, stamped,
                        Atom(connection, "_NET_WM_USER_TIME"), XCB_ATOM_CARDINAL, 32, 1, &time);
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = Atom(connection, "_NET_ACTIVE_WINDOW");
    event.data.data32[0] = 1; // asked by an application
    event.data.data32[1] = time;
    xcb_send_event(connection, 0, root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char*>(&event));
}

} // namespace

void CompleteX11Startup(QWidget& window, const QByteArray& startupId)
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr || startupId.isEmpty()) {
        return;
    }
    xcb_connection_t* connection = x11->connection();
    const auto id = static_cast<xcb_window_t>(window.winId());
    const XcbReply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, id), nullptr), &std::free);
    if (!geometry) {
        return;
    }
    if (const std::uint32_t time = LaunchTime(startupId); time != 0) {
        ActivateAtLaunchTime(connection, geometry->root, id, time);
    }
    SendStartupMessage(connection, geometry->root, RemoveMessage(startupId));
    xcb_flush(connection);
}

} // namespace hopwise
