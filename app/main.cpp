// The window program: one application object, one main window, exit code 0 when the window is
// closed, -1 when another instance already runs.

#include <QApplication>

#include "app/hopwise_app.h"
#include "res/texts.h"

int main(int argc, char* argv[])
{
    QApplication::setApplicationName(
        QString::fromUtf8(hopwise::res::kAppName.data(), hopwise::res::kAppName.size()));
    QApplication application(argc, argv);
    hopwise::CHopwiseApp app;
    return app.Run();
}
