#pragma once

// ICMP extensions (RFC 4884) on a router's report, and the MPLS label stack object (RFC 4950) a
// router inside an MPLS network puts there: which labels the probe carried when it expired. Pure
// functions over the report's bytes, whichever socket read them, so a socket of another kind or
// probe method calls the same code.
//
// What is believed: an extension structure of version 2 whose checksum holds (a zero checksum
// means the router computed none), objects each at least their own 4-byte header and within the
// structure, and one MPLS stack (class 1, c-type 1) of 1 to kMaxMplsLabels entries whose last and
// only last entry is the bottom of the stack. Anything else yields no labels; the report itself
// still stands as the router's report. Routers that predate RFC 4884 append the structure at
// byte 128 of the quote and leave the length field 0: that place is tried too, but only where a
// non-zero checksum over it holds, so the end of an ordinary quote is never read as labels.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace hopwise {

struct MplsLabelEntry {
    std::uint32_t label = 0;       // 20 bits
    std::uint8_t trafficClass = 0; // 3 bits (formerly EXP)
    bool bottom = false;           // S: the last entry of the stack
    std::uint8_t ttl = 0;

    bool operator==(const MplsLabelEntry&) const = default;
};

inline constexpr std::size_t kMaxMplsLabels = 8;

// A label stack as a router reported it, top entry first; empty when the report carried none we
// believe. A plain value of fixed size.
struct MplsLabels {
    std::array<MplsLabelEntry, kMaxMplsLabels> entries{};
    std::uint8_t count = 0;

    bool empty() const { return count == 0; }
    std::size_t size() const { return count; }
    const MplsLabelEntry* begin() const { return entries.data(); }
    const MplsLabelEntry* end() const { return entries.data() + count; }
    bool operator==(const MplsLabels& other) const
    {
        return std::equal(begin(), end(), other.begin(), other.end());
    }
};

// The unit of a report's length field: 32-bit words in ICMP, 64-bit words in ICMPv6.
enum class IcmpLengthUnit : std::uint8_t { Words32 = 4, Words64 = 8 };

// The length of the original datagram that RFC 4884 requires before an extension structure.
inline constexpr std::size_t kIcmpExtensionMinOffset = 128;

// The labels of a report: afterHeader is everything after its 8-byte ICMP (ICMPv6) header, the
// quote and what follows it, and lengthField the quote's length as the header gives it (ICMP: byte
// 5; ICMPv6: byte 4) in its unit.
MplsLabels DecodeMplsLabels(std::span<const std::uint8_t> afterHeader, std::uint8_t lengthField,
                            IcmpLengthUnit unit);

// The labels of an extension structure known to start offset bytes into bytes, as the kernel
// tells it beside an error queue message (sock_extended_err's ee_rfc4884.len, counted from the
// start of the payload it hands over). Offset 0 means none.
MplsLabels DecodeMplsLabelsAt(std::span<const std::uint8_t> bytes, std::size_t offset);

} // namespace hopwise
