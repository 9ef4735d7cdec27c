#include "probe/echo_service.h"

#include <cstdlib>
#include <cstring>

#include "probe/echo_stack.h"
#include "probe/echo_status.h"

namespace hopwise {
namespace {

thread_local std::uint32_t t_lastEchoError = 0;
thread_local std::uint32_t t_lastRoundTripMicros = 0;
thread_local HostAddress t_lastResponder;
thread_local std::uint32_t t_lastMtu = 0;
thread_local MplsLabels t_lastMplsLabels;
thread_local EchoSocketSettings t_socketSettings;

template <typename T> void store(std::uint8_t* block, std::uint32_t offset, T value)
{
    std::memcpy(block + offset, &value, sizeof value);
}

// The stack points at returned bytes with record-relative offsets; one that reaches past the
// caller's buffer would hand the caller memory it doesn't own, so such a field is emptied.
void checkExtent(std::uint32_t recordStart, std::uint32_t replySize, std::uint32_t& offset,
                 std::uint32_t length)
{
    const std::uint64_t end = std::uint64_t{recordStart} + offset + length;
    if (length == 0 || end > replySize)
        offset = 0;
}

} // namespace

const std::uint8_t* EchoReply::data() const
{
    if (dataSize == 0 || dataOffset == 0)
        return nullptr;
    return reinterpret_cast<const std::uint8_t*>(this) + dataOffset;
}

const std::uint8_t* EchoReply::optionBytes() const
{
    if (options.optionsSize == 0 || options.optionsOffset == 0)
        return nullptr;
    return reinterpret_cast<const std::uint8_t*>(this) + options.optionsOffset;
}

EchoHandle OpenEchoHandle()
{
    return 1;
}

std::uint32_t CloseEchoHandle(EchoHandle /*handle*/)
{
    return 1;
}

std::uint32_t GetLastEchoError()
{
    return t_lastEchoError;
}

void SetLastEchoError(std::uint32_t code)
{
    t_lastEchoError = code;
}

std::uint32_t GetLastEchoRoundTripMicros()
{
    return t_lastRoundTripMicros;
}

void SetLastEchoRoundTripMicros(std::uint32_t micros)
{
    t_lastRoundTripMicros = micros;
}

HostAddress GetLastEchoResponder()
{
    return t_lastResponder;
}

void SetLastEchoResponder(const HostAddress& responder)
{
    t_lastResponder = responder;
}

std::uint32_t GetLastEchoMtu()
{
    return t_lastMtu;
}

void SetLastEchoMtu(std::uint32_t mtu)
{
    t_lastMtu = mtu;
}

MplsLabels GetLastEchoMplsLabels()
{
    return t_lastMplsLabels;
}

void SetLastEchoMplsLabels(const MplsLabels& labels)
{
    t_lastMplsLabels = labels;
}

void SetEchoSocketSettings(const EchoSocketSettings& settings)
{
    t_socketSettings = settings;
}

const EchoSocketSettings& GetEchoSocketSettings()
{
    return t_socketSettings;
}

namespace {

// Packs one request for the stack in the layout of its action, makes the call and hands back the
// records, as SendEcho is documented to.
std::uint32_t sendBlock(const HostAddress& destination, const void* requestData,
                        std::uint16_t requestSize, const EchoOptions* options, void* replyBuffer,
                        std::uint32_t replySize, std::uint32_t timeout)
{
    SetLastEchoRoundTripMicros(0);
    SetLastEchoResponder({});
    SetLastEchoMtu(0);
    SetLastEchoMplsLabels({});
    if (replySize < kEchoReplySize) {
        SetLastEchoError(kErrorInsufficientBuffer);
        return 0;
    }
    const bool ipv6 = destination.isIpv6();
    const std::uint32_t headerSize =
        ipv6 ? request_block::kHeaderSize6 : request_block::kHeaderSize;
    const std::uint32_t optionSize = options ? options->optionsSize : 0;
    std::uint32_t blockLength = std::uint32_t{requestSize} + headerSize + optionSize;
    if (blockLength < replySize)
        blockLength = replySize;
    // Allocated per call, like the stack's own request buffers: the service keeps no state.
    auto* block = static_cast<std::uint8_t*>(std::malloc(blockLength));
    if (!block) {
        SetLastEchoError(kErrorNotEnoughMemory);
        return 0;
    }
    store(block, request_block::kDestination, destination.toIpv4());
    if (ipv6) {
        std::memcpy(block + request_block::kAddress6, destination.bytes().data(), kIpv6AddressSize);
        store(block, request_block::kScopeId6, destination.scopeId());
    }
    store(block, request_block::kTimeout, timeout);
    store(block, request_block::kDataSize, requestSize);
    store(block, request_block::kOptionOffset, static_cast<std::uint16_t>(headerSize));
    if (options) {
        block[request_block::kOptionsPresent] = 1;
        block[request_block::kTtl] = options->ttl;
        block[request_block::kTos] = options->tos;
        block[request_block::kFlags] = options->flags;
        block[request_block::kOptionSize] = options->optionsSize;
        // A size without bytes sends zeros rather than whatever the heap held.
        if (optionSize != 0 && options->optionsData)
            std::memcpy(block + headerSize, options->optionsData, optionSize);
        else if (optionSize != 0)
            std::memset(block + headerSize, 0, optionSize);
    } else {
        block[request_block::kOptionsPresent] = 0;
        block[request_block::kOptionSize] = 0;
    }
    const auto dataOffset = static_cast<std::uint16_t>(optionSize + headerSize);
    store(block, request_block::kDataOffset, dataOffset);
    if (requestSize != 0 && requestData)
        std::memcpy(block + dataOffset, requestData, requestSize);
    else if (requestSize != 0)
        std::memset(block + dataOffset, 0, requestSize);

    std::uint32_t replyLength = replySize;
    std::uint32_t result = 0;
    const std::uint32_t stackError =
        EchoStackControl(kEchoProtocol, ipv6 ? kEchoAction6 : kEchoAction, block, &blockLength,
                         replyBuffer, &replyLength);
    auto* records = static_cast<EchoReply*>(replyBuffer);
    if (stackError != 0) {
        SetLastEchoError(stackError);
        SetLastEchoRoundTripMicros(0);
        SetLastEchoResponder({});
        SetLastEchoMtu(0);
        SetLastEchoMplsLabels({});
    } else {
        const std::uint16_t count = records[0].reserved;
        records[0].reserved = 0;
        // A stack that claims more records than fit is not believed past the buffer's end.
        const std::uint32_t fitting = replySize / kEchoReplySize;
        const std::uint32_t kept = count < fitting ? count : fitting;
        if (kept == 0) {
            SetLastEchoError(records[0].status);
            SetLastEchoRoundTripMicros(0);
            SetLastEchoResponder({});
            SetLastEchoMplsLabels({});
        } else {
            for (std::uint32_t i = 0; i < kept; ++i) {
                EchoReply& record = records[i];
                const std::uint32_t start = i * kEchoReplySize;
                checkExtent(start, replySize, record.dataOffset, record.dataSize);
                checkExtent(start, replySize, record.options.optionsOffset,
                            record.options.optionsSize);
            }
            // The IPv4 record itself names its responder; an IPv6 one is only beside it.
            if (!ipv6)
                SetLastEchoResponder(HostAddress::ipv4(records[0].address));
            result = kept;
        }
    }
    std::free(block);
    return result;
}

} // namespace

std::uint32_t SendEcho(EchoHandle /*handle*/, IpAddress destination, const void* requestData,
                       std::uint16_t requestSize, const EchoOptions* options, void* replyBuffer,
                       std::uint32_t replySize, std::uint32_t timeout)
{
    return sendBlock(HostAddress::ipv4(destination), requestData, requestSize, options, replyBuffer,
                     replySize, timeout);
}

std::uint32_t SendEchoTo(EchoHandle handle, const HostAddress& destination, const void* requestData,
                         std::uint16_t requestSize, const EchoOptions* options, void* replyBuffer,
                         std::uint32_t replySize, std::uint32_t timeout)
{
    if (!destination.isIpv6()) {
        return SendEcho(handle, destination.toIpv4(), requestData, requestSize, options,
                        replyBuffer, replySize, timeout);
    }
    return sendBlock(destination, requestData, requestSize, options, replyBuffer, replySize,
                     timeout);
}
} // namespace hopwise
