#include "probe/icmp_reply_decoder.h"

#include <algorithm>

#include "probe/echo_status.h"

namespace hopwise {

namespace {

std::uint16_t readBig16(const std::uint8_t* bytes)
{
    return static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
}

// Addresses stay in network order: the bytes are copied as they lie.
IpAddress readAddress(const std::uint8_t* bytes)
{
    return static_cast<IpAddress>(bytes[0]) | (static_cast<IpAddress>(bytes[1]) << 8) |
           (static_cast<IpAddress>(bytes[2]) << 16) | (static_cast<IpAddress>(bytes[3]) << 24);
}

bool isErrorType(std::uint8_t type)
{
    return type == icmp_type::kDestUnreachable || type == icmp_type::kSourceQuench ||
           type == icmp_type::kTimeExceeded || type == icmp_type::kParameterProblem;
}

IcmpReplyFields reject(IcmpReplyFields fields, IcmpRejectReason reason)
{
    fields.verdict = IcmpVerdict::NotOurs;
    fields.reason = reason;
    fields.data = {};
    fields.options = {};
    return fields;
}

// An IPv4 header whose IHL and total length fit the bytes at hand; the span is cut to the total
// length so trailing padding never counts as payload.
struct IpView {
    IcmpRejectReason problem = IcmpRejectReason::None;
    std::size_t headerSize = 0;
    std::span<const std::uint8_t> packet;
};

IpView viewIp(std::span<const std::uint8_t> bytes, bool quoted)
{
    IpView view;
    if (bytes.size() < kIpMinHeaderSize) {
        view.problem = quoted ? IcmpRejectReason::QuotedTruncated : IcmpRejectReason::Truncated;
        return view;
    }
    const std::uint8_t version = bytes[0] >> 4;
    view.headerSize = static_cast<std::size_t>(bytes[0] & 0x0F) * 4;
    if (version != 4 || view.headerSize < kIpMinHeaderSize) {
        view.problem = IcmpRejectReason::BadIpHeader;
        return view;
    }
    if (view.headerSize > bytes.size()) {
        view.problem = quoted ? IcmpRejectReason::QuotedTruncated : IcmpRejectReason::Truncated;
        return view;
    }
    const std::size_t totalLength = readBig16(bytes.data() + 2);
    if (totalLength < view.headerSize) {
        view.problem = IcmpRejectReason::BadIpHeader;
        return view;
    }
    if (quoted) {
        // A reporter quotes only the start of the original, so its total length exceeds what
        // is here by design.
        view.packet = bytes.first(std::min(totalLength, bytes.size()));
    } else {
        if (totalLength > bytes.size()) {
            view.problem = IcmpRejectReason::Truncated;
            return view;
        }
        view.packet = bytes.first(totalLength);
    }
    return view;
}

bool identifierMatches(const std::uint8_t* echoHeader, const SentEcho& sent)
{
    return sent.kind != IcmpSocketKind::Raw || readBig16(echoHeader + 4) == sent.identifier;
}

// The quoted echo request at the start of an error's payload (ICMP header onwards).
IcmpRejectReason checkQuotedEcho(std::span<const std::uint8_t> echo, const SentEcho& sent)
{
    if (echo.size() < kIcmpHeaderSize) {
        return IcmpRejectReason::QuotedTruncated;
    }
    if (echo[0] != icmp_type::kEchoRequest || echo[1] != 0) {
        return IcmpRejectReason::QuotedNotEcho;
    }
    if (!identifierMatches(echo.data(), sent)) {
        return IcmpRejectReason::WrongIdentifier;
    }
    if (readBig16(echo.data() + 6) != sent.sequence) {
        return IcmpRejectReason::WrongSequence;
    }
    return IcmpRejectReason::None;
}

IcmpReplyFields decodeIcmp(IcmpReplyFields fields, std::span<const std::uint8_t> icmp,
                           const SentEcho& sent)
{
    if (icmp.size() < kIcmpHeaderSize) {
        return reject(fields, IcmpRejectReason::Truncated);
    }
    fields.type = icmp[0];
    fields.code = icmp[1];
    if (fields.type == icmp_type::kEchoReply) {
        if (fields.code != 0) {
            return reject(fields, IcmpRejectReason::UnexpectedType);
        }
        if (!identifierMatches(icmp.data(), sent)) {
            return reject(fields, IcmpRejectReason::WrongIdentifier);
        }
        if (readBig16(icmp.data() + 6) != sent.sequence) {
            return reject(fields, IcmpRejectReason::WrongSequence);
        }
        fields.verdict = IcmpVerdict::EchoReply;
        fields.status = kIpSuccess;
        fields.data = icmp.subspan(kIcmpHeaderSize);
        return fields;
    }
    if (!isErrorType(fields.type)) {
        return reject(fields, IcmpRejectReason::UnexpectedType);
    }
    const IpView quoted = viewIp(icmp.subspan(kIcmpHeaderSize), true);
    if (quoted.problem != IcmpRejectReason::None) {
        return reject(fields, quoted.problem);
    }
    if (quoted.packet[9] != kIpProtocolIcmp) {
        return reject(fields, IcmpRejectReason::QuotedNotEcho);
    }
    if (!sent.destination.isIpv4() ||
        readAddress(quoted.packet.data() + 16) != sent.destination.toIpv4()) {
        return reject(fields, IcmpRejectReason::WrongDestination);
    }
    const IcmpRejectReason echoProblem =
        checkQuotedEcho(quoted.packet.subspan(quoted.headerSize), sent);
    if (echoProblem != IcmpRejectReason::None) {
        return reject(fields, echoProblem);
    }
    fields.verdict = IcmpVerdict::ErrorReport;
    fields.status = IcmpErrorStatus(fields.type, fields.code);
    fields.data = {};
    // A router that can't forward a don't-fragment packet names its next hop's MTU (RFC 1191).
    if (fields.status == kIpPacketTooBig) {
        fields.mtu = readBig16(icmp.data() + 6);
    }
    // The quote's length in 32-bit words is byte 5 of these reports' headers (RFC 4884).
    if (fields.type != icmp_type::kSourceQuench) {
        fields.mpls =
            DecodeMplsLabels(icmp.subspan(kIcmpHeaderSize), icmp[5], IcmpLengthUnit::Words32);
    }
    return fields;
}

} // namespace

std::uint32_t IcmpErrorStatus(std::uint8_t type, std::uint8_t code)
{
    switch (type) {
    case icmp_type::kDestUnreachable:
        switch (code) {
        case 0:  // net
        case 6:  // net unknown
        case 9:  // net administratively prohibited
        case 11: // net unreachable for this TOS
            return kIpDestNetUnreachable;
        case 1:  // host
        case 7:  // host unknown
        case 10: // host administratively prohibited
        case 12: // host unreachable for this TOS
            return kIpDestHostUnreachable;
        case 2:
            return kIpDestProtUnreachable;
        case 3:
            return kIpDestPortUnreachable;
        case 4:
            return kIpPacketTooBig;
        case 5:
            return kIpBadRoute;
        default:
            return kIpGeneralFailure;
        }
    case icmp_type::kTimeExceeded:
        return code == 0   ? kIpTtlExpiredTransit
               : code == 1 ? kIpTtlExpiredReassem
                           : kIpGeneralFailure;
    case icmp_type::kParameterProblem:
        return kIpParamProblem;
    case icmp_type::kSourceQuench:
        return kIpSourceQuench;
    default:
        return kIpGeneralFailure;
    }
}

std::uint16_t InternetChecksum(std::span<const std::uint8_t> bytes)
{
    std::uint32_t sum = 0;
    std::size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2) {
        sum += readBig16(bytes.data() + i);
    }
    if (i < bytes.size()) {
        sum += static_cast<std::uint32_t>(bytes[i]) << 8;
    }
    while (sum >> 16) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<std::uint16_t>(~sum & 0xFFFF);
}

IcmpReplyFields DecodeIcmpReply(std::span<const std::uint8_t> packet, const SentEcho& sent)
{
    IcmpReplyFields fields;
    if (sent.kind != IcmpSocketKind::Raw) {
        // The kernel checked the checksum and the identifier before queueing it.
        return decodeIcmp(fields, packet, sent);
    }
    const IpView ip = viewIp(packet, false);
    if (ip.problem != IcmpRejectReason::None) {
        return reject(fields, ip.problem);
    }
    if (ip.packet[9] != kIpProtocolIcmp) {
        return reject(fields, IcmpRejectReason::NotIcmp);
    }
    const std::span<const std::uint8_t> icmp = ip.packet.subspan(ip.headerSize);
    if (icmp.size() < kIcmpHeaderSize) {
        return reject(fields, IcmpRejectReason::Truncated);
    }
    if (InternetChecksum(icmp) != 0) {
        return reject(fields, IcmpRejectReason::BadChecksum);
    }
    fields.hasIpHeader = true;
    fields.tos = ip.packet[1];
    fields.flags = static_cast<std::uint8_t>(ip.packet[6] >> 5);
    fields.ttl = ip.packet[8];
    fields.source = readAddress(ip.packet.data() + 12);
    fields.options = ip.packet.subspan(kIpMinHeaderSize, ip.headerSize - kIpMinHeaderSize);
    return decodeIcmp(fields, icmp, sent);
}

IcmpReplyFields DecodeQuotedEcho(std::span<const std::uint8_t> quoted, IpAddress quotedDestination,
                                 std::uint8_t type, std::uint8_t code, const SentEcho& sent)
{
    IcmpReplyFields fields;
    fields.type = type;
    fields.code = code;
    if (!isErrorType(type)) {
        return reject(fields, IcmpRejectReason::UnexpectedType);
    }
    if (!sent.destination.isIpv4() || quotedDestination != sent.destination.toIpv4()) {
        return reject(fields, IcmpRejectReason::WrongDestination);
    }
    const IcmpRejectReason problem = checkQuotedEcho(quoted, sent);
    if (problem != IcmpRejectReason::None) {
        return reject(fields, problem);
    }
    fields.verdict = IcmpVerdict::ErrorReport;
    fields.status = IcmpErrorStatus(type, code);
    return fields;
}

const char* IcmpRejectReasonName(IcmpRejectReason reason)
{
    switch (reason) {
    case IcmpRejectReason::None:
        return "none";
    case IcmpRejectReason::Truncated:
        return "truncated";
    case IcmpRejectReason::BadIpHeader:
        return "bad IP header";
    case IcmpRejectReason::NotIcmp:
        return "not ICMP";
    case IcmpRejectReason::BadChecksum:
        return "bad checksum";
    case IcmpRejectReason::UnexpectedType:
        return "unexpected type";
    case IcmpRejectReason::WrongIdentifier:
        return "wrong identifier";
    case IcmpRejectReason::WrongSequence:
        return "wrong sequence";
    case IcmpRejectReason::WrongDestination:
        return "wrong destination";
    case IcmpRejectReason::QuotedNotEcho:
        return "quoted packet is not an echo request";
    case IcmpRejectReason::QuotedTruncated:
        return "quoted packet truncated";
    }
    return "unknown";
}

} // namespace hopwise
