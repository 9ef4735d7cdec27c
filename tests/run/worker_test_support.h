#pragma once

// One worker run against the scripted stack and the table resolver, shared by the trace route
// and ping worker tests: the case's script, the run, and what every request must carry.

#include <gtest/gtest.h>

#include <tuple>

#include "probe/echo_status.h"
#include "tests/run/recording_target.h"
#include "tests/support/scripted_echo_stack.h"
#include "tests/support/table_resolver.h"

namespace hopwise::test {

inline constexpr const char* kTarget = "10.9.9.9"; // also "target.test"
inline const std::string kDest = "Dest IP: 10.9.9.9 | ";
inline const std::string kUnresolved = "unresolved | finished";

// The transcript of a run to kTarget with this many results of the same line.
inline std::string Run(std::size_t results, const std::string& line)
{
    std::string text = kDest;
    while (results-- > 0) {
        text += line + " | ";
    }
    return text + "finished";
}

// What the stack and the page do during a run.
struct Script {
    std::vector<std::pair<std::uint8_t, const char*>> answers{}; // responder by TTL
    int cancelAfter = -1;         // results handled before the page cancels (0: at the destination)
    std::int32_t boundAfter1 = 0; // the page's limit setting, changed while result 1 is handled
    bool denied = false;          // the system refuses ICMP at the first probe
};

struct WorkerRun {
    // Runs the worker on page for host as the script says; yields the transcript.
    template <class Inputs>
    std::string operator()(std::uint32_t (*worker)(Inputs*), Inputs& page, const char* host,
                           const Script& script, std::atomic<std::int32_t>& bound)
    {
        resolver.addName("target.test", {Ip(kTarget)});
        resolver.addAddress(Ip("10.0.0.1"), "r1.test");
        resolver.addAddress(Ip(kTarget), "target.test");
        for (const auto& [ttl, from] : script.answers) {
            stack.answerTtl(ttl, EchoReplyInfo{Ip(from)});
        }
        if (script.denied) {
            stack.answerNext(
                [](const EchoRequest&, void*, std::uint32_t) { return kErrorAccessDenied; });
        }
        int results = 0;
        window.m_hook = [&](const RecordedMessage& record) {
            results += record.message == WM_PROBE_RESULT ? 1 : 0;
            page.m_bCancel = page.m_bCancel || results == script.cancelAfter;
            bound = results == 1 && script.boundAfter1 != 0 ? script.boundAfter1 : bound.load();
        };
        page.m_pWindow = &window;
        page.m_iHopTimeout = 250;
        SetHostText(page.m_szHost, host);
        EXPECT_EQ(worker(&page), 0u);
        for (const ScriptedCall& call : stack.calls()) {
            const EchoRequest& r = call.request;
            EXPECT_EQ(std::tuple(r.destination, r.timeout, r.data.size(), r.options.size(), r.tos,
                                 r.flags),
                      std::tuple(HostAddress::ipv4(Ip(kTarget)), 250u, 0u, 0u, 0, 0));
        }
        return window.transcript();
    }

    ScriptedEchoStack stack;
    ScopedEchoStack installStack{stack};
    TableResolver resolver;
    ScopedHostResolver installResolver{resolver};
    RecordingTarget window;
};

} // namespace hopwise::test
