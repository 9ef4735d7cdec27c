// ThreadSanitizer can't see the synchronisation inside an uninstrumented Qt: its locks are
// futex-based and never pass through the interceptors. So its thread pool handing a wait
// condition between threads, and its posted-event list (appended by a worker's post, drained by
// the window thread's event loop, both under Qt's own mutex), look like races. Reports with a
// frame in QtCore are suppressed; races between our own frames are still reported, and our own
// hand-over through posted events is annotated where it happens (widgets/queued_poster.cpp).

extern "C" const char* __tsan_default_suppressions();

extern "C" const char* __tsan_default_suppressions()
{
    return "race:QWaitCondition::~QWaitCondition\n"
           "race:libQt6Core.so\n";
}
