// The yardstick for the window's start-up: the least a Qt Widgets program does to put a window
// on the screen.

#include <QApplication>
#include <QWidget>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Trivial"));
    window.resize(280, 360);
    window.show();
    return QApplication::exec();
}
