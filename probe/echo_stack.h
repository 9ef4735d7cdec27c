#pragma once

// The stack control entry that SendEcho calls: it takes the packed request block and writes
// reply records into the caller's buffer. The entry, and the permission check
// (echo_permission.h), dispatch to an installable EchoStack, so tests put a scripted stack in
// place of the real sockets.

#include <cstdint>
#include <optional>
#include <span>

#include "probe/echo_permission.h"
#include "probe/echo_service.h"
#include "probe/host_address.h"

namespace hopwise {

// Protocol and action numbers of the echo request call; any other pair is refused.
inline constexpr std::uint32_t kEchoProtocol = 6;
inline constexpr std::uint32_t kEchoAction = 2;
// The same call to an IPv6 destination: the block carries the address after the header.
inline constexpr std::uint32_t kEchoAction6 = 3;

// Fixed offsets of the request block that SendEcho packs.
namespace request_block {
inline constexpr std::uint32_t kDestination = 0; // 4 bytes
inline constexpr std::uint32_t kTimeout = 4;     // 4 bytes
inline constexpr std::uint32_t kDataOffset = 8;  // 2 bytes
inline constexpr std::uint32_t kDataSize = 10;   // 2 bytes
inline constexpr std::uint32_t kOptionsPresent = 12;
inline constexpr std::uint32_t kTtl = 13;
inline constexpr std::uint32_t kTos = 14;
inline constexpr std::uint32_t kFlags = 15;
inline constexpr std::uint32_t kOptionOffset = 16; // 2 bytes, always 20
inline constexpr std::uint32_t kOptionSize = 18;
inline constexpr std::uint32_t kHeaderSize = 20;
// An IPv6 request (kEchoAction6) leaves the destination at offset 0 zero and follows the header
// with the 16 bytes of the address and its zone; its options and data start after them.
inline constexpr std::uint32_t kAddress6 = 20; // 16 bytes
inline constexpr std::uint32_t kScopeId6 = 36; // 4 bytes
inline constexpr std::uint32_t kHeaderSize6 = 40;
} // namespace request_block

// What a request block asks for, read back with every length checked.
struct EchoRequest {
    HostAddress destination;
    std::uint32_t timeout = 0;
    bool hasOptions = false;
    std::uint8_t ttl = 0;
    std::uint8_t tos = 0;
    std::uint8_t flags = 0;
    std::span<const std::uint8_t> options;
    std::span<const std::uint8_t> data;
};

// Reads a request block of the given length, laid out for the action (kEchoAction or
// kEchoAction6); empty when a field points outside it.
std::optional<EchoRequest> ParseEchoRequest(const void* block, std::uint32_t length,
                                            std::uint32_t action = kEchoAction);

// What the stack learned about one reply, before it is laid out as a record.
struct EchoReplyInfo {
    IpAddress address = 0; // an IPv4 responder; 0 for an IPv6 one, which only `responder` holds
    std::uint32_t status = 0;
    std::uint32_t roundTripTime = 0; // milliseconds
    std::uint8_t ttl = 0;
    std::uint8_t tos = 0;
    std::uint8_t flags = 0;
    std::span<const std::uint8_t> data{};
    std::span<const std::uint8_t> options{};
    // The same round trip to the microsecond; without it, the whole milliseconds' worth.
    std::optional<std::uint32_t> roundTripMicros{};
    // The responder of either family, left for GetLastEchoResponder; without it, `address`.
    HostAddress responder{};
    // The next hop's MTU that a fragmentation-needed or packet-too-big report gave, for
    // GetLastEchoMtu; 0 for any other reply.
    std::uint32_t mtu = 0;
    // The label stack of a router's report, for GetLastEchoMplsLabels.
    MplsLabels mpls{};
};

// Writes one reply record at the start of the buffer (count 1 at offset 14) followed by as much
// of its data and option bytes as fits, and leaves its microseconds for
// GetLastEchoRoundTripMicros, its responder for GetLastEchoResponder and its MTU for
// GetLastEchoMtu. The buffer holds at least one record.
void WriteEchoReply(void* buffer, std::uint32_t size, const EchoReplyInfo& reply);

// Writes the record of an unanswered request: count 0, responder 0, round trip 0 and the given
// status, so that no caller ever reads a value left over from an earlier call.
void WriteNoEchoReply(void* buffer, std::uint32_t size, std::uint32_t status);

class EchoStack {
public:
    virtual ~EchoStack() = default;
    // Same contract as EchoStackControl; 0 on success (records written), else an error code.
    virtual std::uint32_t control(std::uint32_t protocol, std::uint32_t action, const void* request,
                                  std::uint32_t* requestLength, void* reply,
                                  std::uint32_t* replyLength) = 0;
    // The socket kind a request would go out on now, found without sending anything; None when
    // no kind is permitted, and every request then fails with kErrorAccessDenied.
    virtual IcmpSocketKind permittedKind() = 0;
};

// The entry SendEcho calls. Yields 0 when it wrote reply records (possibly a count of 0), or a
// non-zero error code when the call itself failed.
std::uint32_t EchoStackControl(std::uint32_t protocol, std::uint32_t action, const void* request,
                               std::uint32_t* requestLength, void* reply,
                               std::uint32_t* replyLength);

// Replaces the stack behind EchoStackControl for the whole process and yields the previous one;
// nullptr puts the system's ICMP sockets back. Install before starting threads that send.
EchoStack* InstallEchoStack(EchoStack* stack);

// The stack on the system's ICMP sockets (linux/linux_echo_stack.h).
EchoStack& SystemEchoStack();

// False while another stack is installed (a test's scripted one).
bool SystemEchoStackInUse();

} // namespace hopwise
