// ThreadSanitizer can't see the synchronisation inside an uninstrumented Qt: its thread pool
// hands a wait condition between threads under Qt's own futex-based locks, so tearing it down
// looks like a race to TSan. Nothing of ours is involved; our own hand-over through posted events
// is annotated where it happens (trace/page_support.cpp) rather than suppressed.

extern "C" const char* __tsan_default_suppressions();

extern "C" const char* __tsan_default_suppressions()
{
    return "race:QWaitCondition::~QWaitCondition\n";
}
