// The window program: one application object, one main window, exit code 0 when the window is
// closed, -1 when another instance already runs, 1 when it refuses to start set-user-ID or has
// no display to open.

#include <QApplication>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/deferred_icon_style.h"
#include "app/hopwise_app.h"
#include "probe/linux/privilege.h"
#include "res/texts.h"

namespace {

constexpr int kExitUsage = 2;

constexpr std::string_view kHelp =
    R"(Usage: hopwise [--help] [--version] [Qt options]

Trace the route to an IPv4 or IPv6 host and ping it with ICMP echo requests, in a window with a
"Hopwise" (trace route) tab and a "Ping" tab. hopwise-cli does the same on the command line.

Options:
  -h, --help       show this help and exit
  -v, --version    show the version and exit
Qt's own options are taken as well, for example -platform NAME, -style NAME, -reverse.

Settings and host histories: $XDG_CONFIG_HOME/Velmor/Hopwise.reg (~/.config/Velmor/Hopwise.reg)

Exit codes:
  0    the window was closed
  1    could not start (installed set-user-ID or set-group-ID, or no display)
  2    bad usage
  255  another instance runs for this user: its window was brought to the front
)";

// Qt's own options, which QApplication takes out of argv: those that take a value (as the next
// argument or after '=') and those that don't. Qt accepts each with one dash or two.
constexpr std::string_view kQtValueOptions[] = {"platform",
                                                "platformpluginpath",
                                                "platformtheme",
                                                "plugin",
                                                "qwindowgeometry",
                                                "geometry",
                                                "qwindowtitle",
                                                "title",
                                                "qwindowicon",
                                                "icon",
                                                "session",
                                                "display",
                                                "name",
                                                "style",
                                                "stylesheet",
                                                "qmljsdebugger"};
constexpr std::string_view kQtFlags[] = {"reverse", "widgetcount", "nograb",
                                         "dograb",  "sync",        "testability"};

// Through stdio, not iostreams: a translation unit that includes <iostream> builds the standard
// streams and their locale at every start, window or not.
void Print(std::FILE* stream, std::string_view text)
{
    std::fwrite(text.data(), 1, text.size(), stream);
}

enum class Request { Run, Help, Version, Refuse };

// What the command line tells Qt about the display: the platform plugin (-platform), and
// whether -display names an X display.
struct DisplayChoice {
    std::string_view platform;
    bool display = false;
};

// Read before QApplication exists, so that --help and --version need no display and a mistyped
// option is refused before a window shows.
Request ReadCommandLine(int argc, const char* const* argv, DisplayChoice& choice,
                        std::string& refusal)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            return Request::Help;
        }
        if (arg == "-v" || arg == "--version") {
            return Request::Version;
        }
        std::string_view name = arg;
        if (name.starts_with("--")) {
            name.remove_prefix(1);
        }
        if (name.size() < 2 || name[0] != '-') {
            refusal = "unexpected argument '" + std::string(arg) + "': the window takes no host";
            return Request::Refuse;
        }
        name.remove_prefix(1);
        const bool hasValue = name.find('=') != std::string_view::npos;
        name = name.substr(0, name.find('='));
        bool known = false;
        for (const std::string_view flag : kQtFlags) {
            known = known || (name == flag && !hasValue);
        }
        for (const std::string_view option : kQtValueOptions) {
            if (name == option) {
                known = true;
                if (!hasValue && ++i == argc) {
                    refusal = "option '" + std::string(arg) + "' needs a value";
                    return Request::Refuse;
                }
                // Qt reads these two only with the value as the next argument.
                if (name == "platform" && !hasValue) {
                    choice.platform = argv[i];
                }
                choice.display = choice.display || (name == "display" && !hasValue);
            }
        }
        if (!known) {
            refusal = "unknown option '" + std::string(arg) + "'";
            return Request::Refuse;
        }
    }
    return Request::Run;
}

bool IsSet(const char* variable)
{
    const char* value = std::getenv(variable);
    return value != nullptr && *value != 0;
}

// The variables that would name a display for the platform Qt is about to load, or empty when
// one is named or the platform needs none. Qt meets a missing display with an abort, a core
// dump for the user to puzzle over.
std::string MissingDisplay(const DisplayChoice& choice)
{
    std::string_view platforms = choice.platform;
    if (const char* variable = std::getenv("QT_QPA_PLATFORM");
        platforms.empty() && variable != nullptr) {
        platforms = variable;
    }
    const bool x11 = choice.display || IsSet("DISPLAY");
    const bool wayland = IsSet("WAYLAND_DISPLAY") || IsSet("WAYLAND_SOCKET");
    // Qt tries the plugins of a list ("wayland;xcb") in turn, each name with its options after a
    // colon; offscreen, minimal, vnc, eglfs, linuxfb and the like draw without a desktop display.
    bool wantsX11 = false;
    bool wantsWayland = false;
    while (!platforms.empty()) {
        const std::string_view entry = platforms.substr(0, platforms.find(';'));
        platforms.remove_prefix(std::min(platforms.size(), entry.size() + 1));
        const std::string_view name = entry.substr(0, entry.find(':'));
        if (name == "xcb") {
            wantsX11 = true;
        } else if (name.starts_with("wayland")) {
            wantsWayland = true;
        } else if (!name.empty()) {
            return {};
        }
    }
    if (!wantsX11 && !wantsWayland) { // Qt's own choice, X11 or Wayland by the session
        wantsX11 = wantsWayland = true;
    }
    if ((wantsX11 && x11) || (wantsWayland && wayland)) {
        return {};
    }
    return wantsX11 && wantsWayland ? "WAYLAND_DISPLAY or DISPLAY"
           : wantsX11               ? "DISPLAY"
                                    : "WAYLAND_DISPLAY";
}

} // namespace

int main(int argc, char* argv[])
{
    // Before anything else, and before Qt starts any thread: see probe/privilege.h. A set-ID
    // start is refused before a window could show, so the message goes to stderr.
    switch (hopwise::RestrictPrivileges()) {
    case hopwise::PrivilegeOutcome::RefusedSetuid:
        Print(stderr, hopwise::SetuidRefusalMessage(argc > 0 ? argv[0] : "hopwise") + '\n');
        return 1;
    case hopwise::PrivilegeOutcome::Failed:
        Print(stderr, "hopwise: could not drop capabilities\n");
        return 1;
    case hopwise::PrivilegeOutcome::Restricted:
        break;
    }

    DisplayChoice display;
    std::string refusal;
    switch (ReadCommandLine(argc, argv, display, refusal)) {
    case Request::Help:
        Print(stdout, kHelp);
        return 0;
    case Request::Version:
        Print(stdout, "hopwise " HOPWISE_VERSION "\n");
        return 0;
    case Request::Refuse:
        Print(stderr, "hopwise: " + refusal + " (see hopwise --help)\n");
        return kExitUsage;
    case Request::Run:
        break;
    }
    if (const std::string missing = MissingDisplay(display); !missing.empty()) {
        std::string message(hopwise::res::kNoDisplay);
        message.replace(message.find("%s"), 2, missing);
        Print(stderr, "hopwise: " + message + '\n');
        return 1;
    }

    QApplication::setApplicationName(
        QString::fromUtf8(hopwise::res::kAppName.data(), hopwise::res::kAppName.size()));
    // Qt's X11 plugin takes the launch's startup id out of the environment as it connects; a
    // second launch still owes it to the running instance, which ends the startup sequence.
    const QByteArray startupId = qgetenv("DESKTOP_STARTUP_ID");
    QApplication application(argc, argv);
    if (!startupId.isEmpty()) {
        qputenv("DESKTOP_STARTUP_ID", startupId);
    }
    // The style Qt chose (or -style named), wrapped before any widget exists; the application
    // owns it, as it would any style set on it.
    auto* style = new hopwise::DeferredIconStyle(QApplication::style()->name());
    style->setParent(&application);
    QApplication::setStyle(style);
    hopwise::CHopwiseApp app;
    return app.Run();
}
