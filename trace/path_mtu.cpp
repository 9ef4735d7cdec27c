#include "trace/path_mtu.h"

#include <algorithm>

#include "probe/echo_status.h"

namespace hopwise {

namespace {

// The largest IP packet; the local stack refuses what its route can't take with the route's MTU.
constexpr std::uint32_t kLargestPacket = 65535;

} // namespace

PathMtuSteps::PathMtuSteps(std::uint32_t start)
    : m_size(start != 0 ? std::min(start, kLargestPacket) : kLargestPacket),
      m_startKnown(start != 0), m_past(m_size)
{
}

bool PathMtuSteps::tooLarge(const EchoOutcome& outcome, std::int32_t hop, std::uint32_t sentSize)
{
    if (outcome.reply.status != kIpPacketTooBig || outcome.mtu == 0 || outcome.mtu >= sentSize) {
        return false;
    }
    m_size = std::min(m_size, outcome.mtu);
    if (outcome.count == 0) {
        // The local stack's refusal. With the route's MTU known at the start, the route has since
        // learned a router's report, which comes to one of our probes too and is placed from there.
        if (!m_startKnown) {
            m_past = std::min(m_past, outcome.mtu);
        }
        return true;
    }
    const auto same = std::find_if(m_reports.begin(), m_reports.end(), [&outcome](const Report& r) {
        return r.router == outcome.responder;
    });
    if (same == m_reports.end()) {
        m_reports.push_back({outcome.responder, outcome.mtu, hop - 1});
    } else {
        same->mtu = std::min(same->mtu, outcome.mtu);
        same->before = std::min(same->before, hop - 1);
    }
    return true;
}

std::uint32_t PathMtuSteps::shownAt(std::int32_t hop, std::span<const HostAddress> responders)
{
    std::erase_if(m_reports, [&](const Report& report) {
        const bool here = report.before <= hop || std::find(responders.begin(), responders.end(),
                                                            report.router) != responders.end();
        if (here) {
            m_past = std::min(m_past, report.mtu);
        }
        return here;
    });
    if (m_shown != 0 && m_past >= m_shown) {
        return 0;
    }
    m_shown = m_past;
    return m_past;
}

} // namespace hopwise
