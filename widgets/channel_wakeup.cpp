#include "widgets/channel_wakeup.h"

#include <QSocketNotifier>
#include <utility>

namespace hopwise {

ChannelWakeup::ChannelWakeup(QObject& owner, std::function<void()> onWake)
    : m_onWake(std::move(onWake)),
      m_notifier(std::make_unique<QSocketNotifier>(m_signal.descriptor(), QSocketNotifier::Read))
{
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, &owner, [this] {
        // Cleared first: a handler that runs a nested event loop (a message box) must not see
        // this wake-up again.
        m_signal.clear();
        // May end the owner, and this object with it: nothing of it is touched afterwards.
        m_onWake();
    });
}

ChannelWakeup::~ChannelWakeup() = default;

SyncMessageChannel::Wake ChannelWakeup::wake()
{
    return [signal = &m_signal](const SyncMessageChannel::Inbox&) { signal->raise(); };
}

} // namespace hopwise
