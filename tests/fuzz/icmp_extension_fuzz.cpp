// Feeds arbitrary bytes to the MPLS extension decoder as a report's bytes after its header. The
// first byte chooses the entry (ICMP or ICMPv6 length units, or an error queue's byte offset),
// the second is the length field or offset. Besides not crashing, whatever labels come out must
// be a stack as RFC 4950 writes one: at most the capacity, the bottom entry last and only last.

#include <cstddef>
#include <cstdint>
#include <span>

#include "probe/icmp_extension.h"

namespace {

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    using namespace hopwise;
    if (size < 2)
        return 0;
    const std::span<const std::uint8_t> rest{bytes + 2, size - 2};
    MplsLabels labels;
    switch (bytes[0] % 3) {
    case 0:
        labels = DecodeMplsLabels(rest, bytes[1], IcmpLengthUnit::Words32);
        break;
    case 1:
        labels = DecodeMplsLabels(rest, bytes[1], IcmpLengthUnit::Words64);
        break;
    default:
        labels = DecodeMplsLabelsAt(rest, std::size_t{bytes[1]} * 4);
        break;
    }
    check(labels.size() <= kMaxMplsLabels);
    for (std::size_t i = 0; i < labels.size(); ++i) {
        const MplsLabelEntry& entry = labels.entries[i];
        check(entry.label < (1u << 20) && entry.trafficClass < 8);
        check(entry.bottom == (i + 1 == labels.size()));
    }
    // Two words of header and one entry at least, behind a 128-byte quote.
    check(labels.empty() || rest.size() >= kIcmpExtensionMinOffset + 12 || bytes[0] % 3 == 2);
    return 0;
}
