// What a UDP or TCP probe's error queue hands over, judged: which reports are about our flow and
// which probe of it, and the status each stands for. One row per rule, IPv4 and IPv6 alike.

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "probe/echo_status.h"
#include "probe/probe_report.h"
#include "tests/support/scripted_echo_stack.h"

namespace hopwise::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint16_t kFlow = 7;
constexpr std::uint16_t kPort = 443;
constexpr std::uint16_t kSource = 40000;

// The quoted UDP payload of probe number n of flow f.
Bytes udpPayload(std::uint16_t flow, std::uint32_t probe)
{
    std::array<std::uint8_t, kProbeTagSize> tag{};
    WriteProbeTag(tag, flow, probe);
    return {tag.begin(), tag.end()};
}

// The start of a quoted TCP header: source and destination ports.
Bytes tcpHeader(std::uint16_t source, std::uint16_t destination)
{
    return {std::uint8_t(source >> 8),
            std::uint8_t(source),
            std::uint8_t(destination >> 8),
            std::uint8_t(destination),
            0,
            0,
            0,
            1};
}

struct ReportRow {
    const char* name;
    ProbeProtocol protocol;
    bool ipv6;
    std::uint8_t type; // ICMP's; the IPv6 rows give ICMPv6's
    std::uint8_t code;
    bool fromDestination;
    std::uint16_t quotedPort;
    Bytes quoted;
    ProbeReportReject reject;
    std::uint32_t status;
    std::optional<std::uint32_t> probe; // attributed, with probes 1 and 2 out
};

void PrintTo(const ReportRow& row, std::ostream* out)
{
    *out << row.name;
}

const ReportRow kRows[] = {
    {"udpTimeExceededNamesItsProbe", ProbeProtocol::Udp, false, 11, 0, false, kPort,
     udpPayload(kFlow, 2), ProbeReportReject::None, kIpTtlExpiredTransit, 2},
    {"udpPortUnreachableFromTheDestinationIsReached", ProbeProtocol::Udp, false, 3, 3, true, kPort,
     udpPayload(kFlow, 1), ProbeReportReject::None, kIpSuccess, 1},
    {"udp6PortUnreachableFromTheDestinationIsReached", ProbeProtocol::Udp, true, 1, 4, true, kPort,
     udpPayload(kFlow, 1), ProbeReportReject::None, kIpSuccess, 1},
    {"udpPortUnreachableFromARouterKeepsItsStatus", ProbeProtocol::Udp, false, 3, 3, false, kPort,
     udpPayload(kFlow, 1), ProbeReportReject::None, kIpDestPortUnreachable, 1},
    {"udp6HostUnreachable", ProbeProtocol::Udp, true, 1, 3, false, kPort, udpPayload(kFlow, 1),
     ProbeReportReject::None, kIpDestHostUnreachable, 1},
    // A quote cut before the tag can't name its probe: with two out it is nobody's.
    {"udpUntaggedQuoteWithTwoOutIsDropped",
     ProbeProtocol::Udp,
     false,
     11,
     0,
     false,
     kPort,
     {},
     ProbeReportReject::None,
     kIpTtlExpiredTransit,
     std::nullopt},
    {"udpProbeNotOut", ProbeProtocol::Udp, false, 11, 0, false, kPort, udpPayload(kFlow, 9),
     ProbeReportReject::None, kIpTtlExpiredTransit, std::nullopt},
    {"udpAnotherFlowsTag", ProbeProtocol::Udp, false, 11, 0, false, kPort, udpPayload(kFlow + 1, 2),
     ProbeReportReject::OtherFlow, 0, std::nullopt},
    {"udpAnotherDestinationPort", ProbeProtocol::Udp, true, 3, 0, false, kPort + 1,
     udpPayload(kFlow, 2), ProbeReportReject::OtherDestination, 0, std::nullopt},
    {"tcpTimeExceeded", ProbeProtocol::Tcp, true, 3, 0, false, kPort, tcpHeader(kSource, kPort),
     ProbeReportReject::None, kIpTtlExpiredTransit, std::nullopt},
    {"tcpAnotherSourcePort", ProbeProtocol::Tcp, false, 11, 0, false, kPort,
     tcpHeader(kSource + 1, kPort), ProbeReportReject::OtherSourcePort, 0, std::nullopt},
    {"tcpQuoteNamesAnotherPort", ProbeProtocol::Tcp, false, 11, 0, false, kPort,
     tcpHeader(kSource, kPort + 1), ProbeReportReject::OtherDestination, 0, std::nullopt},
    {"tcpQuoteTooShort",
     ProbeProtocol::Tcp,
     false,
     11,
     0,
     false,
     kPort,
     {0, 1},
     ProbeReportReject::Truncated,
     0,
     std::nullopt},
};

class ProbeReports : public ::testing::TestWithParam<ReportRow> {};

TEST_P(ProbeReports, JudgeAndAttribute)
{
    const ReportRow& row = GetParam();
    const HostAddress target = row.ipv6 ? Ip6("fd00::9") : HostAddress::ipv4(0x0900000A);
    const HostAddress router = row.ipv6 ? Ip6("fd00::1") : HostAddress::ipv4(0x0100000A);
    const ProbeFlow flow{{row.protocol, kPort, kFlow}, target, kPort, kSource};
    QuotedReport report{row.ipv6 ? kReportOriginIcmp6 : kReportOriginIcmp,
                        row.type,
                        row.code,
                        row.fromDestination ? target : router,
                        target,
                        row.quotedPort,
                        row.quoted};
    const ProbeReportVerdict verdict = JudgeProbeReport(flow, report);
    EXPECT_EQ(verdict.reject, row.reject);
    if (verdict.ours()) {
        EXPECT_EQ(verdict.status, row.status);
    }
    const std::array<std::uint32_t, 2> twoOut{1, 2};
    const std::array<std::uint32_t, 1> oneOut{1};
    EXPECT_EQ(AttributeReport(verdict, row.protocol == ProbeProtocol::Tcp
                                           ? std::span<const std::uint32_t>(oneOut)
                                           : std::span<const std::uint32_t>(twoOut)),
              row.protocol == ProbeProtocol::Tcp && verdict.ours() ? std::optional<std::uint32_t>(1)
                                                                   : row.probe);

    // A local error, or the other family's report, is never a router's answer.
    report.origin = row.ipv6 ? kReportOriginIcmp : kReportOriginIcmp6;
    EXPECT_EQ(JudgeProbeReport(flow, report).reject, ProbeReportReject::NotFromNetwork);
}

INSTANTIATE_TEST_SUITE_P(Rows, ProbeReports, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace hopwise::test
