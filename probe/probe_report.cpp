#include "probe/probe_report.h"

#include <algorithm>

#include "probe/echo_status.h"
#include "probe/icmp6_reply_decoder.h"
#include "probe/icmp_reply_decoder.h"

namespace hopwise {

namespace {

constexpr std::uint8_t kIcmpUnreachable = 3;
constexpr std::uint8_t kIcmpPortUnreachable = 3;
constexpr std::uint8_t kIcmp6Unreachable = 1;
constexpr std::uint8_t kIcmp6PortUnreachable = 4;
constexpr std::uint8_t kTagMagic0 = 'H';
constexpr std::uint8_t kTagMagic1 = 'w';

std::uint16_t be16(std::span<const std::uint8_t> bytes, std::size_t at)
{
    return static_cast<std::uint16_t>((bytes[at] << 8) | bytes[at + 1]);
}

std::uint32_t be32(std::span<const std::uint8_t> bytes, std::size_t at)
{
    return (std::uint32_t{be16(bytes, at)} << 16) | be16(bytes, at + 2);
}

} // namespace

std::uint32_t ProbeReportStatus(std::uint8_t origin, std::uint8_t type, std::uint8_t code,
                                bool fromDestination)
{
    const bool portUnreachable = origin == kReportOriginIcmp6
                                     ? type == kIcmp6Unreachable && code == kIcmp6PortUnreachable
                                     : type == kIcmpUnreachable && code == kIcmpPortUnreachable;
    if (portUnreachable && fromDestination) {
        return kIpSuccess;
    }
    return origin == kReportOriginIcmp6 ? Icmp6ErrorStatus(type, code)
                                        : IcmpErrorStatus(type, code);
}

ProbeReportVerdict JudgeProbeReport(const ProbeFlow& flow, const QuotedReport& report)
{
    ProbeReportVerdict verdict;
    const std::uint8_t origin = flow.destination.isIpv6() ? kReportOriginIcmp6 : kReportOriginIcmp;
    if (report.origin != origin || report.reporter.family() != flow.destination.family()) {
        verdict.reject = ProbeReportReject::NotFromNetwork;
        return verdict;
    }
    if (!(report.quotedTo == flow.destination) || report.quotedToPort != flow.destinationPort) {
        verdict.reject = ProbeReportReject::OtherDestination;
        return verdict;
    }
    const std::span<const std::uint8_t> quoted = report.quoted;
    if (flow.method.protocol == ProbeProtocol::Tcp) {
        if (quoted.size() < 4) {
            verdict.reject = ProbeReportReject::Truncated;
            return verdict;
        }
        if (be16(quoted, 2) != flow.destinationPort) {
            verdict.reject = ProbeReportReject::OtherDestination;
            return verdict;
        }
        if (be16(quoted, 0) != flow.sourcePort) {
            verdict.reject = ProbeReportReject::OtherSourcePort;
            return verdict;
        }
    } else if (quoted.size() >= kProbeTagSize && quoted[0] == kTagMagic0 &&
               quoted[1] == kTagMagic1) {
        if (be16(quoted, 2) != flow.method.flow) {
            verdict.reject = ProbeReportReject::OtherFlow;
            return verdict;
        }
        verdict.probe = be32(quoted, 4);
    }
    verdict.status = ProbeReportStatus(report.origin, report.type, report.code,
                                       report.reporter == flow.destination);
    return verdict;
}

void WriteProbeTag(std::span<std::uint8_t, kProbeTagSize> payload, std::uint16_t flow,
                   std::uint32_t probe)
{
    payload[0] = kTagMagic0;
    payload[1] = kTagMagic1;
    payload[2] = static_cast<std::uint8_t>(flow >> 8);
    payload[3] = static_cast<std::uint8_t>(flow);
    for (std::size_t i = 0; i < 4; ++i) {
        payload[4 + i] = static_cast<std::uint8_t>(probe >> (24 - 8 * i));
    }
}

std::optional<std::uint32_t> AttributeReport(const ProbeReportVerdict& verdict,
                                             std::span<const std::uint32_t> probesOut)
{
    if (!verdict.ours()) {
        return std::nullopt;
    }
    if (verdict.probe) {
        if (std::find(probesOut.begin(), probesOut.end(), *verdict.probe) == probesOut.end()) {
            return std::nullopt;
        }
        return verdict.probe;
    }
    if (probesOut.size() == 1) {
        return probesOut.front();
    }
    return std::nullopt;
}

} // namespace hopwise
