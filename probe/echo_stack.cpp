#include "probe/echo_stack.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "probe/linux/linux_echo_stack.h"

namespace hopwise {
namespace {

std::atomic<EchoStack*> g_installedStack{nullptr};

EchoStack& installedStack()
{
    EchoStack* stack = g_installedStack.load(std::memory_order_acquire);
    return stack ? *stack : SystemEchoStack();
}

template <typename T> T load(const std::uint8_t* block, std::uint32_t offset)
{
    T value;
    std::memcpy(&value, block + offset, sizeof value);
    return value;
}

// Copies what fits of bytes to the area after the record; yields the record-relative offset,
// 0 when nothing was copied.
std::uint32_t appendBytes(std::uint8_t* buffer, std::uint32_t size, std::uint32_t& used,
                          std::span<const std::uint8_t> bytes, std::uint32_t& copied)
{
    copied = static_cast<std::uint32_t>(std::min<std::size_t>(bytes.size(), size - used));
    if (copied == 0)
        return 0;
    std::memcpy(buffer + used, bytes.data(), copied);
    const std::uint32_t offset = used;
    used += copied;
    return offset;
}

} // namespace

std::optional<EchoRequest> ParseEchoRequest(const void* block, std::uint32_t length,
                                            std::uint32_t action)
{
    const bool ipv6 = action == kEchoAction6;
    if (!block || length < (ipv6 ? request_block::kHeaderSize6 : request_block::kHeaderSize))
        return std::nullopt;
    const auto* bytes = static_cast<const std::uint8_t*>(block);

    EchoRequest request;
    if (ipv6) {
        request.destination =
            HostAddress::ipv6(std::span<const std::uint8_t, kIpv6AddressSize>(
                                  bytes + request_block::kAddress6, kIpv6AddressSize),
                              load<std::uint32_t>(bytes, request_block::kScopeId6));
    } else {
        request.destination =
            HostAddress::ipv4(load<IpAddress>(bytes, request_block::kDestination));
    }
    request.timeout = load<std::uint32_t>(bytes, request_block::kTimeout);
    request.hasOptions = bytes[request_block::kOptionsPresent] != 0;

    const auto optionOffset = load<std::uint16_t>(bytes, request_block::kOptionOffset);
    const std::uint32_t optionSize = bytes[request_block::kOptionSize];
    if (request.hasOptions) {
        request.ttl = bytes[request_block::kTtl];
        request.tos = bytes[request_block::kTos];
        request.flags = bytes[request_block::kFlags];
        if (std::uint32_t{optionOffset} + optionSize > length)
            return std::nullopt;
        request.options = {bytes + optionOffset, optionSize};
    }

    const auto dataOffset = load<std::uint16_t>(bytes, request_block::kDataOffset);
    const auto dataSize = load<std::uint16_t>(bytes, request_block::kDataSize);
    if (std::uint32_t{dataOffset} + dataSize > length)
        return std::nullopt;
    request.data = {bytes + dataOffset, dataSize};
    return request;
}

void WriteEchoReply(void* buffer, std::uint32_t size, const EchoReplyInfo& reply)
{
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    EchoReply record{};
    record.address = reply.address;
    record.status = reply.status;
    record.roundTripTime = reply.roundTripTime;
    SetLastEchoRoundTripMicros(reply.roundTripMicros.value_or(reply.roundTripTime * 1000u));
    SetLastEchoResponder(reply.responder ? reply.responder : HostAddress::ipv4(reply.address));
    SetLastEchoMtu(reply.mtu);
    SetLastEchoMplsLabels(reply.mpls);
    record.reserved = 1;
    record.options.ttl = reply.ttl;
    record.options.tos = reply.tos;
    record.options.flags = reply.flags;

    std::uint32_t used = kEchoReplySize;
    std::uint32_t copied = 0;
    record.dataOffset = appendBytes(bytes, size, used, reply.data, copied);
    record.dataSize = static_cast<std::uint16_t>(copied);
    record.options.optionsOffset = appendBytes(bytes, size, used, reply.options, copied);
    record.options.optionsSize = static_cast<std::uint8_t>(copied);
    std::memcpy(bytes, &record, sizeof record);
}

void WriteNoEchoReply(void* buffer, std::uint32_t /*size*/, std::uint32_t status)
{
    EchoReply record{};
    record.status = status;
    std::memcpy(buffer, &record, sizeof record);
}

std::uint32_t EchoStackControl(std::uint32_t protocol, std::uint32_t action, const void* request,
                               std::uint32_t* requestLength, void* reply,
                               std::uint32_t* replyLength)
{
    return installedStack().control(protocol, action, request, requestLength, reply, replyLength);
}

IcmpSocketKind CheckEchoPermission()
{
    return installedStack().permittedKind();
}

const char* IcmpSocketKindName(IcmpSocketKind kind)
{
    switch (kind) {
    case IcmpSocketKind::None:
        return "none";
    case IcmpSocketKind::Datagram:
        return "datagram";
    case IcmpSocketKind::Raw:
        return "raw";
    }
    return "none";
}

EchoStack* InstallEchoStack(EchoStack* stack)
{
    return g_installedStack.exchange(stack, std::memory_order_acq_rel);
}

EchoStack& SystemEchoStack()
{
    static LinuxEchoStack stack;
    return stack;
}

bool SystemEchoStackInUse()
{
    EchoStack* stack = g_installedStack.load(std::memory_order_acquire);
    return stack == nullptr || stack == &SystemEchoStack();
}

} // namespace hopwise
