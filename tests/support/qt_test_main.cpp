// main() for the widget tests: the offscreen platform unless the caller chose one, and a
// private, temporary config home so that no test ever reads or writes the user's settings.

#include <QApplication>
#include <QTemporaryDir>
#include <cstdlib>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QTemporaryDir configHome;
    if (!configHome.isValid()) {
        return 2;
    }
    qputenv("XDG_CONFIG_HOME", configHome.path().toUtf8());

    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
