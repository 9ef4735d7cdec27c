// The window program: one application object, one main window, exit code 0 when the window is
// closed, -1 when another instance already runs, 1 when it refuses to start set-user-ID.

#include <QApplication>
#include <cstdio>
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
  1    could not start (installed set-user-ID or set-group-ID, or no window)
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

// Read before QApplication exists, so that --help and --version need no display and a mistyped
// option is refused before a window shows.
Request ReadCommandLine(int argc, const char* const* argv, std::string& refusal)
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
            }
        }
        if (!known) {
            refusal = "unknown option '" + std::string(arg) + "'";
            return Request::Refuse;
        }
    }
    return Request::Run;
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

    std::string refusal;
    switch (ReadCommandLine(argc, argv, refusal)) {
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
