// ThreadSanitizer can't see the locks inside an uninstrumented Qt (its thread pool's wait
// conditions, its posted-event list), so reports with a frame in QtCore are suppressed. Our own
// hand-over through posted events is annotated where it happens (widgets/queued_poster.cpp).

// The name is ThreadSanitizer's hook for built-in suppressions.
extern "C" const char* __tsan_default_suppressions() // NOLINT(bugprone-reserved-identifier)
{
    return "race:QWaitCondition::~QWaitCondition\n"
           "race:libQt6Core.so\n";
}
