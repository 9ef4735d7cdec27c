#pragma once

// The window thread's end of a worker's hand-over: the worker's channel raises an eventfd, a
// QSocketNotifier on the page's thread sees it, and the page takes the message from its run's
// channel there. Nothing of Qt is touched by the worker, and nothing is allocated per message;
// the message itself crosses through the channel's mutex, which ThreadSanitizer sees.

#include <QObject>
#include <functional>
#include <memory>

#include "probe/linux/wake_signal.h"
#include "run/sync_message_channel.h"

class QSocketNotifier;

namespace hopwise {

class ChannelWakeup {
public:
    // On owner's thread; onWake runs there each time a worker raised the wake-up (one call may
    // answer several raises). Throws std::system_error when no eventfd can be had.
    ChannelWakeup(QObject& owner, std::function<void()> onWake);
    ~ChannelWakeup();
    ChannelWakeup(const ChannelWakeup&) = delete;
    ChannelWakeup& operator=(const ChannelWakeup&) = delete;

    // For the worker's channel; valid while this object lives.
    SyncMessageChannel::Wake wake();

private:
    WakeSignal m_signal;
    std::function<void()> m_onWake;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace hopwise
