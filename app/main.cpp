// The window program: one application object, one main window, exit code 0 when the window is
// closed, -1 when another instance already runs, 1 when it refuses to start set-user-ID.

#include <QApplication>
#include <iostream>

#include "app/hopwise_app.h"
#include "probe/linux/privilege.h"
#include "res/texts.h"

int main(int argc, char* argv[])
{
    // Before anything else, and before Qt starts any thread: see probe/privilege.h. A set-ID
    // start is refused before a window could show, so the message goes to stderr.
    switch (hopwise::RestrictPrivileges()) {
    case hopwise::PrivilegeOutcome::RefusedSetuid:
        std::cerr << hopwise::SetuidRefusalMessage(argc > 0 ? argv[0] : "hopwise") << '\n';
        return 1;
    case hopwise::PrivilegeOutcome::Failed:
        std::cerr << "hopwise: could not drop capabilities\n";
        return 1;
    case hopwise::PrivilegeOutcome::Restricted:
        break;
    }

    QApplication::setApplicationName(
        QString::fromUtf8(hopwise::res::kAppName.data(), hopwise::res::kAppName.size()));
    QApplication application(argc, argv);
    hopwise::CHopwiseApp app;
    return app.Run();
}
