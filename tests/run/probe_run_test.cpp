// Ending a run wherever its worker waits: in a send to the very thread that ends it (the channel
// lets it go, and the call left queued touches nothing), in an echo (the interrupt cuts it
// short), or from inside the window's handler (the channel lets the worker go at once).
// Built to run under ThreadSanitizer: a race, a hang or a use after free is a fault.

#include "run/probe_run.h"

#include <gtest/gtest.h>

#include "run/message_loop.h"
#include "run/probe_notify.h"
#include "tests/run/recording_target.h"
#include "tests/support/scripted_echo_stack.h"

namespace hopwise::test {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::int32_t kEchoWaitMs = 20000; // a shutdown that waits one out fails the test

struct ShutdownCase {
    const char* name;
    std::string seen;       // what reached the window
    std::uint32_t on = 0;   // the message whose handler ends the run; 0: while the first waits
    bool echoWaits = false; // the handler only asks for the end once the next echo is in flight
    friend void PrintTo(const ShutdownCase& c, std::ostream* os) { *os << c.name; }
};

class ProbeRunTest : public ::testing::TestWithParam<ShutdownCase> {};

TEST_P(ProbeRunTest, EndsPromptlyAndNothingReachesTheWindowAfterwards)
{
    const ShutdownCase& c = GetParam();
    ScriptedEchoStack stack;
    ScopedEchoStack installStack(stack);
    stack.waitOutTimeouts(c.echoWaits);
    MessageLoop loop; // this thread plays the window's
    std::atomic<bool> cancel{false};
    std::atomic<bool> posted{false};
    std::unique_ptr<ProbeRun> run;
    const auto end = [&](const std::function<bool()>& when) {
        for (const auto limit = Clock::now() + std::chrono::milliseconds(kEchoWaitMs);
             !when() && Clock::now() < limit;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        run.reset();
        loop.post([&] { loop.quit(); }); // behind whatever the worker left queued
    };
    RecordingTarget window;
    window.m_hook = [&](const RecordedMessage& record) {
        if (record.message == c.on && c.echoWaits) {
            loop.post([&] { end([&] { return stack.callCount() == 1; }); });
        } else if (record.message == c.on) {
            end([] { return true; });
        }
    };
    loop.post([&] {
        auto channel = std::make_unique<SyncMessageChannel>(
            window, [&](const SyncMessageChannel::Inbox& inbox) {
                loop.post([inbox] { inbox.deliver(); });
                posted = true;
            });
        ProbeMessageTarget* out = channel.get();
        // A worker of the usual shape: probes until cancelled, each one reported.
        run = std::make_unique<ProbeRun>(cancel, std::move(channel), [&cancel, out] {
            NotifyDestination(out, HostAddress::ipv4(Ip("10.9.9.9")));
            for (EchoReply reply{}; !cancel;) {
                SendProbe(0, HostAddress::ipv4(Ip("10.9.9.9")), 1, kEchoWaitMs, reply);
                NotifyResult(out, ProbeResult{nullptr, nullptr, &reply});
            }
            NotifyFinished(out);
        });
        if (c.on == 0) {
            end([&] { return posted.load(); });
        }
    });
    const auto start = Clock::now();
    loop.run();
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(kEchoWaitMs / 2));
    EXPECT_EQ(window.transcript(), c.seen);
}

INSTANTIATE_TEST_SUITE_P(
    Points, ProbeRunTest,
    ::testing::Values(ShutdownCase{"SendWaitingForTheEndingThread", ""},
                      ShutdownCase{"EchoInFlight", "Dest IP: 10.9.9.9", WM_PROBE_DESTINATION, true},
                      ShutdownCase{"InTheDestinationHandler", "Dest IP: 10.9.9.9",
                                   WM_PROBE_DESTINATION},
                      ShutdownCase{"InAResultHandler", "Dest IP: 10.9.9.9 | -", WM_PROBE_RESULT}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace hopwise::test
