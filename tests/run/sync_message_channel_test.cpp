// The cross-thread channel and the console's message loop.

#include "run/sync_message_channel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "tests/run/message_loop_thread.h"
#include "tests/run/recording_target.h"
#include "run/message_loop.h"

namespace hopwise::test {
namespace {

using namespace std::chrono_literals;

// A message the recorder passes through without reading wParam as one of the records.
constexpr std::uint32_t kPlainMessage = 4242;

// A poster that holds on to the calls instead of running them, like a window whose thread is
// busy; the test decides when (or whether) they run.
class HeldCalls {
public:
    SyncMessageChannel::Poster poster()
    {
        return [this](SyncMessageChannel::Call call) {
            {
                std::lock_guard lock(m_mutex);
                m_calls.push_back(std::move(call));
            }
            m_changed.notify_all();
        };
    }
    bool waitFor(std::size_t count)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, 5s, [&] { return m_calls.size() >= count; });
    }
    void runAll()
    {
        std::vector<SyncMessageChannel::Call> calls;
        {
            std::lock_guard lock(m_mutex);
            calls.swap(m_calls);
        }
        for (auto& call : calls) {
            call();
        }
    }
    std::size_t size() const
    {
        std::lock_guard lock(m_mutex);
        return m_calls.size();
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<SyncMessageChannel::Call> m_calls;
};

TEST(SyncMessageChannelTest, DeliversOnTheReceiverThreadAndWaitsUntilHandled)
{
    MessageLoopThread loop;
    std::atomic<bool> handled{false};
    std::atomic<int> seen{0};
    RecordingTarget receiver([&](const RecordedMessage& record, std::size_t) {
        seen = *reinterpret_cast<const int*>(record.wParam); // the sender's stack, still alive
        handled = true;
    });
    SyncMessageChannel channel(receiver, loop.poster());

    std::intptr_t result = 0;
    bool handledWhenReturned = false;
    std::thread worker([&] {
        const int local = 42;
        result = channel.sendMessage(kPlainMessage, reinterpret_cast<std::intptr_t>(&local), 7);
        handledWhenReturned = handled.load();
    });
    worker.join();

    EXPECT_EQ(result, 1) << "the receiver's value comes back";
    EXPECT_TRUE(handledWhenReturned);
    EXPECT_EQ(seen.load(), 42);
    const std::vector<RecordedMessage> messages = receiver.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].thread, loop.id());
    EXPECT_EQ(messages[0].lParam, 7);
}

TEST(SyncMessageChannelTest, KeepsTheOrderOfMessages)
{
    MessageLoopThread loop;
    RecordingTarget receiver;
    SyncMessageChannel channel(receiver, loop.poster());
    std::thread worker([&] {
        for (std::intptr_t i = 0; i < 50; ++i) {
            channel.sendMessage(WM_PROBE_UNRESOLVED, i, 0);
        }
    });
    worker.join();
    const std::vector<RecordedMessage> messages = receiver.messages();
    ASSERT_EQ(messages.size(), 50u);
    for (std::intptr_t i = 0; i < 50; ++i) {
        EXPECT_EQ(messages[static_cast<std::size_t>(i)].wParam, i);
    }
}

TEST(SyncMessageChannelTest, SendAfterCloseReturnsAtOnceWithoutPosting)
{
    HeldCalls held;
    RecordingTarget receiver;
    SyncMessageChannel channel(receiver, held.poster());
    channel.close();
    EXPECT_TRUE(channel.isClosed());
    EXPECT_EQ(channel.sendMessage(WM_PROBE_FINISHED, -1, 0), 0);
    EXPECT_EQ(held.size(), 0u);
    EXPECT_TRUE(receiver.messages().empty());
}

TEST(SyncMessageChannelTest, CloseReleasesAPendingSendAndTheLateCallTouchesNothing)
{
    HeldCalls held;
    RecordingTarget receiver;
    auto channel = std::make_unique<SyncMessageChannel>(receiver, held.poster());

    auto sender = std::async(std::launch::async, [&] {
        const ProbeResult onTheStack{"10.0.0.1", nullptr, nullptr};
        return channel->sendMessage(WM_PROBE_RESULT, reinterpret_cast<std::intptr_t>(&onTheStack),
                                    0);
    });
    ASSERT_TRUE(held.waitFor(1));
    EXPECT_EQ(sender.wait_for(0ms), std::future_status::timeout) << "the send must wait";
    channel->close();
    ASSERT_EQ(sender.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(sender.get(), 0);

    // The sender's stack is gone and so is the channel; the queued call must not notice either.
    channel.reset();
    held.runAll();
    EXPECT_TRUE(receiver.messages().empty());
}

TEST(SyncMessageChannelTest, CloseFromInsideTheHandlerReleasesTheSender)
{
    MessageLoopThread loop;
    std::atomic<bool> senderReturned{false};
    bool releasedWhileHandling = false;
    std::unique_ptr<SyncMessageChannel> channel;
    RecordingTarget receiver([&](const RecordedMessage&, std::size_t) {
        channel->close();
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (!senderReturned && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(1ms);
        }
        releasedWhileHandling = senderReturned.load();
    });
    channel = std::make_unique<SyncMessageChannel>(receiver, loop.poster());
    std::thread worker([&] {
        channel->sendMessage(WM_PROBE_FINISHED, -1, 0);
        senderReturned = true;
    });
    worker.join();
    loop.runAndWait([] {});
    EXPECT_TRUE(releasedWhileHandling);
    EXPECT_EQ(receiver.messages().size(), 1u);
}

TEST(SyncMessageChannelTest, CloseFromAnotherThreadWaitsForTheHandlerInProgress)
{
    MessageLoopThread loop;
    std::promise<void> entered;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> handlerDone{false};
    RecordingTarget receiver([&](const RecordedMessage&, std::size_t) {
        entered.set_value();
        released.wait();
        handlerDone = true;
    });
    SyncMessageChannel channel(receiver, loop.poster());

    std::atomic<bool> senderReturned{false};
    std::thread sender([&] {
        int onTheSendersStack = 7;
        channel.sendMessage(kPlainMessage, reinterpret_cast<std::intptr_t>(&onTheSendersStack), 0);
        senderReturned = true;
    });
    entered.get_future().wait();

    auto closing = std::async(std::launch::async, [&] { channel.close(); });
    // While the handler runs, neither the closer nor the sender may move on: the handler may
    // still be reading the sender's stack.
    EXPECT_EQ(closing.wait_for(50ms), std::future_status::timeout);
    EXPECT_FALSE(senderReturned);
    release.set_value();
    ASSERT_EQ(closing.wait_for(5s), std::future_status::ready);
    EXPECT_TRUE(handlerDone);
    sender.join();
    EXPECT_TRUE(senderReturned);
}

TEST(SyncMessageChannelTest, SameThreadPosterDeliversInline)
{
    RecordingTarget receiver;
    SyncMessageChannel channel(receiver, [](SyncMessageChannel::Call call) { call(); });
    EXPECT_EQ(channel.sendMessage(WM_PROBE_UNRESOLVED, 0, 0), 1);
    ASSERT_EQ(receiver.messages().size(), 1u);
    EXPECT_EQ(receiver.messages()[0].thread, std::this_thread::get_id());
}

TEST(MessageLoopTest, RunsPostedCallsInOrderUntilQuit)
{
    MessageLoop loop;
    std::vector<int> order;
    for (int i = 0; i < 5; ++i) {
        loop.post([&order, i] { order.push_back(i); });
    }
    loop.post([&] { loop.quit(); });
    loop.post([&order] { order.push_back(99); }); // after quit: stays queued
    loop.run();
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST(MessageLoopTest, QuitBeforeRunReturnsAtOnce)
{
    MessageLoop loop;
    bool ran = false;
    loop.quit();
    loop.post([&] { ran = true; });
    loop.run();
    EXPECT_FALSE(ran);
}

TEST(MessageLoopTest, RunsCallsPostedFromAnotherThreadOnItsOwnThread)
{
    MessageLoop loop;
    std::vector<std::thread::id> threads;
    std::thread other([&] {
        for (int i = 0; i < 3; ++i) {
            loop.post([&] { threads.push_back(std::this_thread::get_id()); });
        }
        loop.quit();
    });
    loop.run();
    other.join();
    // quit() may overtake calls still queued; those that ran, ran here.
    for (const std::thread::id id : threads) {
        EXPECT_EQ(id, std::this_thread::get_id());
    }
}

} // namespace
} // namespace hopwise::test
