// main() for the widget tests: offscreen unless chosen otherwise, and private config and
// runtime directories, so no test meets the user's settings or running instance.

#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#if defined(__SANITIZE_THREAD__)
namespace {
// ThreadSanitizer judges the code it instruments, and Qt here is not instrumented: its own
// threads (the raster engine's fill pool, for one) synchronise through futexes it can't see, so
// what they do through its interceptors (locks, allocation) yields reports about Qt alone. Those
// calls are left out as a whole rather than suppressed by name; the project's code is checked in
// full, and a worker never goes through Qt to reach its page.
constexpr const char* kTsanOptions = "ignore_noninstrumented_modules=1";
} // namespace

// The name is ThreadSanitizer's hook for built-in options.
extern "C" const char* __tsan_default_options() // NOLINT(bugprone-reserved-identifier)
{
    return kTsanOptions;
}
#endif

int main(int argc, char** argv)
{
#if defined(__SANITIZE_THREAD__)
    // The same for the programs a test starts (the window, as a second instance).
    qputenv("TSAN_OPTIONS", qgetenv("TSAN_OPTIONS") + ' ' + kTsanOptions);
#endif
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QTemporaryDir configHome;
    QTemporaryDir runtime;
    if (!configHome.isValid() || !runtime.isValid()) {
        return 2;
    }
    qputenv("XDG_CONFIG_HOME", configHome.path().toUtf8());
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
