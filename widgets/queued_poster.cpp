#include "widgets/queued_poster.h"

#include <QCoreApplication>
#include <QEvent>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace hopwise {
namespace {

// Qt hands a posted event over under its own lock, which ThreadSanitizer can't see inside an
// uninstrumented Qt; these tell it that what a poster wrote before posting to a receiver is
// visible to that receiver's thread once it takes the event. The receiver's address is the key.
void publishTo([[maybe_unused]] const QObject* receiver)
{
#if defined(__SANITIZE_THREAD__)
    __tsan_release(const_cast<QObject*>(receiver));
#endif
}

void receiveAt([[maybe_unused]] const QObject* receiver)
{
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(const_cast<QObject*>(receiver));
#endif
}

// One notification on its way to the window thread. A posted event rather than a queued
// functor: Qt owns it from the post on, and deletes it on the receiver's thread, delivered or
// not (a receiver that dies first takes its pending events with it).
class ChannelCallEvent final : public QEvent {
public:
    static Type eventType()
    {
        static const Type type = static_cast<Type>(QEvent::registerEventType());
        return type;
    }

    ChannelCallEvent(const QObject* receiver, SyncMessageChannel::Call call)
        : QEvent(eventType()), m_receiver(receiver), m_call(std::move(call))
    {
        publishTo(m_receiver);
    }
    // Also when Qt drops the event undelivered, on the receiver's thread.
    ~ChannelCallEvent() override { receiveAt(m_receiver); }
    ChannelCallEvent(const ChannelCallEvent&) = delete;
    ChannelCallEvent& operator=(const ChannelCallEvent&) = delete;

    void run() { m_call(); }

private:
    const QObject* m_receiver;
    SyncMessageChannel::Call m_call;
};

} // namespace

SyncMessageChannel::Poster QueuedPoster(QObject* page)
{
    return [page](SyncMessageChannel::Call call) {
        QCoreApplication::postEvent(page, new ChannelCallEvent(page, std::move(call)));
    };
}

bool RunChannelCall(const QObject& receiver, QEvent* event)
{
    receiveAt(&receiver);
    if (event->type() != ChannelCallEvent::eventType()) {
        return false;
    }
    static_cast<ChannelCallEvent*>(event)->run();
    return true;
}

} // namespace hopwise
