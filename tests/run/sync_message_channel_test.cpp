// Every message reaches the window, in order, whatever the worker's rhythm. Back to back the
// receiver takes them while it watches the slot, and the worker raises no wake-up; a message
// that comes once the receiver has stopped watching must raise one. A message lost between the
// two would leave the worker waiting for ever: the watchdog then closes the channel and the
// count comes out short. Built to run under ThreadSanitizer too.

#include "run/sync_message_channel.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "run/message_loop.h"
#include "run/probe_notify.h"
#include "tests/run/recording_target.h"

namespace hopwise::test {
namespace {

struct RhythmCase {
    const char* name;
    int bursts;
    int perBurst;
    std::chrono::microseconds pause; // after each burst: longer than the receiver watches
    friend void PrintTo(const RhythmCase& c, std::ostream* os) { *os << c.name; }
};

class ChannelRhythmTest : public ::testing::TestWithParam<RhythmCase> {};

TEST_P(ChannelRhythmTest, EveryMessageArrivesInOrder)
{
    const RhythmCase& c = GetParam();
    MessageLoop loop;
    RecordingTarget window;
    SyncMessageChannel channel(window, loop.wake());
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    window.m_hook = [&](const RecordedMessage& record) {
        if (record.message == WM_PROBE_FINISHED) {
            std::lock_guard lock(mutex);
            done = true;
            finished.notify_all();
            loop.quit();
        }
    };
    std::thread worker([&] {
        std::uint32_t sent = 0;
        for (int burst = 0; burst < c.bursts; ++burst) {
            for (int i = 0; i < c.perBurst; ++i) {
                EchoReply reply{};
                reply.roundTripTime = ++sent;
                NotifyResult(&channel, ProbeResult{nullptr, nullptr, &reply});
            }
            std::this_thread::sleep_for(c.pause);
        }
        NotifyFinished(&channel);
    });
    std::thread watchdog([&] {
        std::unique_lock lock(mutex);
        if (!finished.wait_for(lock, std::chrono::seconds(10), [&] { return done; })) {
            channel.close();
            loop.quit();
        }
    });
    loop.run();
    watchdog.join();
    worker.join();

    const std::vector<RecordedMessage> results = window.results();
    ASSERT_EQ(results.size(), static_cast<std::size_t>(c.bursts * c.perBurst));
    for (std::size_t i = 0; i < results.size(); ++i) {
        ASSERT_EQ(results[i].reply.roundTripTime, i + 1);
    }
}

using std::chrono::microseconds;
INSTANTIATE_TEST_SUITE_P(
    Rhythms, ChannelRhythmTest,
    ::testing::Values(RhythmCase{"BackToBack", 1, 2000, microseconds(0)},
                      RhythmCase{"BurstsWithPauses", 40, 25, microseconds(1500)},
                      RhythmCase{"OneAtATimeWithPauses", 30, 1, microseconds(1500)}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace hopwise::test
