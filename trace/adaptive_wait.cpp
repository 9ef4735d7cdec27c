#include "trace/adaptive_wait.h"

#include <algorithm>
#include <cmath>

namespace hopwise {

std::uint32_t AnsweredWaitMs(const WaitPolicy& policy, std::int32_t hop, std::int32_t answeredHop,
                             std::uint32_t roundTripUs)
{
    const double factor = answeredHop == hop ? policy.here : answeredHop > hop ? policy.near : 0;
    if (factor <= 0) {
        return policy.maxMs;
    }
    // Rounded up: a wait cut to below the answer's own pace would give up on probes that keep it.
    const double ms = std::ceil(factor * roundTripUs / 1000.0) + 1;
    return ms >= policy.maxMs ? policy.maxMs : static_cast<std::uint32_t>(ms);
}

void AdaptiveWaits::sent(std::uint32_t tag, std::int32_t hop)
{
    m_out.push_back({tag, hop, m_policy.maxMs});
}

std::vector<AdaptiveWaits::Cut> AdaptiveWaits::answered(std::uint32_t tag,
                                                        std::uint32_t roundTripUs)
{
    std::vector<Cut> cuts;
    const auto it =
        std::find_if(m_out.begin(), m_out.end(), [tag](const Out& out) { return out.tag == tag; });
    if (it == m_out.end()) {
        return cuts;
    }
    for (auto earlier = m_out.begin(); earlier != it; ++earlier) {
        const std::uint32_t wait = AnsweredWaitMs(m_policy, earlier->hop, it->hop, roundTripUs);
        if (wait < earlier->waitMs) {
            earlier->waitMs = wait;
            cuts.push_back({earlier->tag, wait});
        }
    }
    m_out.erase(it);
    return cuts;
}

void AdaptiveWaits::ended(std::uint32_t tag)
{
    std::erase_if(m_out, [tag](const Out& out) { return out.tag == tag; });
}

} // namespace hopwise
