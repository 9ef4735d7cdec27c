#include "probe/icmp6_reply_decoder.h"

#include <algorithm>

#include "probe/echo_status.h"

namespace hopwise {

namespace {

// Next header values of the extension headers a quoted packet may carry before its ICMPv6 header.
constexpr std::uint8_t kHopByHop = 0;
constexpr std::uint8_t kRouting = 43;
constexpr std::uint8_t kFragment = 44;
constexpr std::uint8_t kAuthentication = 51;
constexpr std::uint8_t kDestinationOptions = 60;

constexpr std::size_t kFragmentHeaderSize = 8;
// Offsets in the IPv6 header.
constexpr std::size_t kNextHeaderOffset = 6;
constexpr std::size_t kDestinationOffset = 24;

std::uint16_t readBig16(const std::uint8_t* bytes)
{
    return static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
}

std::uint32_t readBig32(const std::uint8_t* bytes)
{
    return (static_cast<std::uint32_t>(bytes[0]) << 24) |
           (static_cast<std::uint32_t>(bytes[1]) << 16) |
           (static_cast<std::uint32_t>(bytes[2]) << 8) | static_cast<std::uint32_t>(bytes[3]);
}

bool isErrorType(std::uint8_t type)
{
    return type == icmp6_type::kDestUnreachable || type == icmp6_type::kPacketTooBig ||
           type == icmp6_type::kTimeExceeded || type == icmp6_type::kParameterProblem;
}

IcmpReplyFields reject(IcmpReplyFields fields, IcmpRejectReason reason)
{
    fields.verdict = IcmpVerdict::NotOurs;
    fields.reason = reason;
    fields.data = {};
    fields.options = {};
    fields.mtu = 0;
    return fields;
}

// Addresses compare by their 16 bytes: a quoted header carries no zone.
bool isDestination(std::span<const std::uint8_t> address, const SentEcho& sent)
{
    return sent.destination.isIpv6() &&
           std::equal(address.begin(), address.end(), sent.destination.bytes().begin(),
                      sent.destination.bytes().end());
}

bool identifierMatches(const std::uint8_t* echoHeader, const SentEcho& sent)
{
    return sent.kind != IcmpSocketKind::Raw || readBig16(echoHeader + 4) == sent.identifier;
}

// The quoted echo request (ICMPv6 header onwards).
IcmpRejectReason checkQuotedEcho(std::span<const std::uint8_t> echo, const SentEcho& sent)
{
    if (echo.size() < kIcmpHeaderSize) {
        return IcmpRejectReason::QuotedTruncated;
    }
    if (echo[0] != icmp6_type::kEchoRequest || echo[1] != 0) {
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

// The IPv6 packet an error report quotes: its destination must be ours, and its chain of
// extension headers must lead to our echo request.
IcmpRejectReason checkQuotedPacket(std::span<const std::uint8_t> quoted, const SentEcho& sent)
{
    if (quoted.size() < kIpv6HeaderSize) {
        return IcmpRejectReason::QuotedTruncated;
    }
    if (quoted[0] >> 4 != 6) {
        return IcmpRejectReason::BadIpHeader;
    }
    if (!isDestination(quoted.subspan(kDestinationOffset, kIpv6AddressSize), sent)) {
        return IcmpRejectReason::WrongDestination;
    }
    std::uint8_t next = quoted[kNextHeaderOffset];
    std::span<const std::uint8_t> rest = quoted.subspan(kIpv6HeaderSize);
    for (int walked = 0; next != kIpProtocolIcmpv6; ++walked) {
        if (walked == kMaxQuotedExtensionHeaders) {
            return IcmpRejectReason::QuotedNotEcho;
        }
        std::size_t size = 0;
        switch (next) {
        case kHopByHop:
        case kRouting:
        case kDestinationOptions:
            if (rest.size() < 2) {
                return IcmpRejectReason::QuotedTruncated;
            }
            size = (static_cast<std::size_t>(rest[1]) + 1) * 8;
            break;
        case kAuthentication:
            if (rest.size() < 2) {
                return IcmpRejectReason::QuotedTruncated;
            }
            size = (static_cast<std::size_t>(rest[1]) + 2) * 4;
            break;
        case kFragment:
            if (rest.size() < kFragmentHeaderSize) {
                return IcmpRejectReason::QuotedTruncated;
            }
            // A later fragment carries no ICMPv6 header.
            if ((readBig16(rest.data() + 2) & 0xFFF8) != 0) {
                return IcmpRejectReason::QuotedNotEcho;
            }
            size = kFragmentHeaderSize;
            break;
        default:
            return IcmpRejectReason::QuotedNotEcho;
        }
        if (size > rest.size()) {
            return IcmpRejectReason::QuotedTruncated;
        }
        next = rest[0];
        rest = rest.subspan(size);
    }
    return checkQuotedEcho(rest, sent);
}

IcmpReplyFields acceptReport(IcmpReplyFields fields)
{
    fields.verdict = IcmpVerdict::ErrorReport;
    fields.status = Icmp6ErrorStatus(fields.type, fields.code);
    fields.data = {};
    return fields;
}

} // namespace

std::uint32_t Icmp6ErrorStatus(std::uint8_t type, std::uint8_t code)
{
    switch (type) {
    case icmp6_type::kDestUnreachable:
        switch (code) {
        case 0: // no route to destination
        case 2: // beyond scope of source address
        case 5: // source address failed ingress/egress policy
        case 6: // reject route to destination
            return kIpDestNetUnreachable;
        case 1: // communication administratively prohibited
        case 3: // address unreachable
            return kIpDestHostUnreachable;
        case 4:
            return kIpDestPortUnreachable;
        default:
            return kIpGeneralFailure;
        }
    case icmp6_type::kPacketTooBig:
        return kIpPacketTooBig;
    case icmp6_type::kTimeExceeded:
        return code == 0   ? kIpTtlExpiredTransit
               : code == 1 ? kIpTtlExpiredReassem
                           : kIpGeneralFailure;
    case icmp6_type::kParameterProblem:
        return kIpParamProblem;
    default:
        return kIpGeneralFailure;
    }
}

IcmpReplyFields DecodeIcmp6Reply(std::span<const std::uint8_t> packet, const SentEcho& sent)
{
    IcmpReplyFields fields;
    if (packet.size() < kIcmpHeaderSize) {
        return reject(fields, IcmpRejectReason::Truncated);
    }
    fields.type = packet[0];
    fields.code = packet[1];
    if (fields.type == icmp6_type::kEchoReply) {
        if (fields.code != 0) {
            return reject(fields, IcmpRejectReason::UnexpectedType);
        }
        if (!identifierMatches(packet.data(), sent)) {
            return reject(fields, IcmpRejectReason::WrongIdentifier);
        }
        if (readBig16(packet.data() + 6) != sent.sequence) {
            return reject(fields, IcmpRejectReason::WrongSequence);
        }
        fields.verdict = IcmpVerdict::EchoReply;
        fields.status = kIpSuccess;
        fields.data = packet.subspan(kIcmpHeaderSize);
        return fields;
    }
    if (!isErrorType(fields.type)) {
        return reject(fields, IcmpRejectReason::UnexpectedType);
    }
    const IcmpRejectReason problem = checkQuotedPacket(packet.subspan(kIcmpHeaderSize), sent);
    if (problem != IcmpRejectReason::None) {
        return reject(fields, problem);
    }
    if (fields.type == icmp6_type::kPacketTooBig) {
        fields.mtu = readBig32(packet.data() + 4);
    }
    // Only these two carry the quote's length, in 64-bit words at byte 4 (RFC 4884).
    if (fields.type == icmp6_type::kTimeExceeded || fields.type == icmp6_type::kDestUnreachable) {
        fields.mpls =
            DecodeMplsLabels(packet.subspan(kIcmpHeaderSize), packet[4], IcmpLengthUnit::Words64);
    }
    return acceptReport(fields);
}

IcmpReplyFields DecodeQuotedEcho6(std::span<const std::uint8_t> quoted,
                                  const HostAddress& quotedDestination, std::uint8_t type,
                                  std::uint8_t code, const SentEcho& sent)
{
    IcmpReplyFields fields;
    fields.type = type;
    fields.code = code;
    if (!isErrorType(type)) {
        return reject(fields, IcmpRejectReason::UnexpectedType);
    }
    if (!quotedDestination.isIpv6() || !isDestination(quotedDestination.bytes(), sent)) {
        return reject(fields, IcmpRejectReason::WrongDestination);
    }
    const IcmpRejectReason problem = checkQuotedEcho(quoted, sent);
    if (problem != IcmpRejectReason::None) {
        return reject(fields, problem);
    }
    return acceptReport(fields);
}

} // namespace hopwise
