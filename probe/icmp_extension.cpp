#include "probe/icmp_extension.h"

#include "probe/icmp_reply_decoder.h"

namespace hopwise {

namespace {

constexpr std::uint8_t kExtensionVersion = 2;
constexpr std::size_t kExtensionHeaderSize = 4;
constexpr std::size_t kObjectHeaderSize = 4;
constexpr std::size_t kLabelEntrySize = 4;
constexpr std::uint8_t kMplsClass = 1;
constexpr std::uint8_t kMplsIncomingStack = 1;

std::uint16_t readBig16(const std::uint8_t* bytes)
{
    return static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
}

// One MPLS stack object's entries; none unless they end, and only end, with the bottom entry.
MplsLabels readStack(std::span<const std::uint8_t> payload)
{
    MplsLabels labels;
    if (payload.empty() || payload.size() % kLabelEntrySize != 0 ||
        payload.size() / kLabelEntrySize > kMaxMplsLabels) {
        return labels;
    }
    for (std::size_t at = 0; at < payload.size(); at += kLabelEntrySize) {
        const std::uint8_t* entry = payload.data() + at;
        MplsLabelEntry& out = labels.entries[labels.count++];
        out.label = (static_cast<std::uint32_t>(entry[0]) << 12) |
                    (static_cast<std::uint32_t>(entry[1]) << 4) | (entry[2] >> 4);
        out.trafficClass = static_cast<std::uint8_t>((entry[2] >> 1) & 0x07);
        out.bottom = (entry[2] & 0x01) != 0;
        out.ttl = entry[3];
        const bool last = at + kLabelEntrySize == payload.size();
        if (out.bottom != last) {
            return {};
        }
    }
    return labels;
}

// The structure from its header to the end of the report.
MplsLabels readStructure(std::span<const std::uint8_t> structure, bool needChecksum)
{
    if (structure.size() < kExtensionHeaderSize || structure[0] >> 4 != kExtensionVersion) {
        return {};
    }
    const bool hasChecksum = readBig16(structure.data() + 2) != 0;
    if ((needChecksum && !hasChecksum) || (hasChecksum && InternetChecksum(structure) != 0)) {
        return {};
    }
    std::span<const std::uint8_t> rest = structure.subspan(kExtensionHeaderSize);
    // Every object takes at least its header, so this walk ends.
    while (!rest.empty()) {
        if (rest.size() < kObjectHeaderSize) {
            return {};
        }
        const std::size_t length = readBig16(rest.data());
        if (length < kObjectHeaderSize || length > rest.size()) {
            return {};
        }
        if (rest[2] == kMplsClass && rest[3] == kMplsIncomingStack) {
            return readStack(rest.subspan(kObjectHeaderSize, length - kObjectHeaderSize));
        }
        rest = rest.subspan(length);
    }
    return {};
}

} // namespace

MplsLabels DecodeMplsLabelsAt(std::span<const std::uint8_t> bytes, std::size_t offset)
{
    if (offset == 0 || offset >= bytes.size()) {
        return {};
    }
    return readStructure(bytes.subspan(offset), false);
}

MplsLabels DecodeMplsLabels(std::span<const std::uint8_t> afterHeader, std::uint8_t lengthField,
                            IcmpLengthUnit unit)
{
    if (lengthField == 0) {
        // A router from before RFC 4884: its structure, if any, follows a 128-byte quote.
        if (afterHeader.size() <= kIcmpExtensionMinOffset) {
            return {};
        }
        return readStructure(afterHeader.subspan(kIcmpExtensionMinOffset), true);
    }
    const std::size_t offset = std::size_t{lengthField} * static_cast<std::size_t>(unit);
    if (offset < kIcmpExtensionMinOffset) {
        return {};
    }
    return DecodeMplsLabelsAt(afterHeader, offset);
}

} // namespace hopwise
