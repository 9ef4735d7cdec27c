// The second yardstick: the hello-world of Qt's own tutorial, a push button shown as the window.
// Unlike the trivial window it draws text, so it pays for the font database, a font file and
// text shaping, as the real window must.

#include <QApplication>
#include <QPushButton>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QPushButton hello(QStringLiteral("Hello world!"));
    hello.show();
    return QApplication::exec();
}
