#pragma once

// How long the console's trace and report wait for a probe, after traceroute's -w MAX,HERE,NEAR:
// a probe is waited for up to MAX, but once a probe sent after it has answered, the path is
// known to answer at that pace and a silent router needn't cost a whole MAX. The probe is then
// given up HERE times that answer's round trip after its own send when the answer came from its
// own hop, NEAR times it when from a later hop, plus 1 ms either way. Answers only ever shorten
// a wait, so each probe's wait ends at the smallest of these.

#include <cstdint>
#include <vector>

namespace hopwise {

struct WaitPolicy {
    std::uint32_t maxMs = 1000;
    double here = 3;  // 0: an answer at the probe's own hop cuts nothing
    double near = 10; // 0: an answer at a later hop cuts nothing
};

// The wait of a probe at hop, in milliseconds after its send, that a later-sent probe's answer
// at answeredHop in roundTripUs allows; maxMs when that answer says nothing of the probe (it came
// from an earlier hop, or its factor is 0).
std::uint32_t AnsweredWaitMs(const WaitPolicy& policy, std::int32_t hop, std::int32_t answeredHop,
                             std::uint32_t roundTripUs);

// The probes of one flight still out, in the order they were sent, and which of them an answer
// cuts short.
class AdaptiveWaits {
public:
    explicit AdaptiveWaits(const WaitPolicy& policy) : m_policy(policy) {}

    struct Cut {
        std::uint32_t tag = 0;
        std::uint32_t waitMs = 0; // after that probe's send
    };

    void sent(std::uint32_t tag, std::int32_t hop);
    // The probe ended with an answer: the waits it cuts of probes sent before it and still out,
    // each at most once shorter than before. None for a tag that isn't out.
    std::vector<Cut> answered(std::uint32_t tag, std::uint32_t roundTripUs);
    // The probe ended without one.
    void ended(std::uint32_t tag);

private:
    struct Out {
        std::uint32_t tag;
        std::int32_t hop;
        std::uint32_t waitMs;
    };
    WaitPolicy m_policy;
    std::vector<Out> m_out; // in send order
};

} // namespace hopwise
