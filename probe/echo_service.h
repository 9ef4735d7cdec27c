#pragma once

// The ICMP echo service: one echo request with the caller's options, one blocking call into the
// stack entry (echo_stack.h), and the stack's reply records handed back in the caller's buffer.

#include <cstddef>
#include <cstdint>
#include <string>

#include "probe/host_address.h"
#include "probe/icmp_extension.h"
#include "probe/ip_address.h"

namespace hopwise {

// IP header flag bit that asks for "don't fragment".
inline constexpr std::uint8_t kIpFlagDontFragment = 0x02;

// The caller's option block. It is read, never kept, so it carries a native pointer to the
// option bytes rather than the 32-bit one of the stack's exchange format.
struct EchoOptions {
    std::uint8_t ttl = 0;
    std::uint8_t tos = 0;
    std::uint8_t flags = 0;
    std::uint8_t optionsSize = 0;
    const std::uint8_t* optionsData = nullptr;
};

// Option part of a reply record (offsets 20..27 of EchoReply).
struct EchoReplyOptions {
    std::uint8_t ttl;
    std::uint8_t tos;
    std::uint8_t flags;
    std::uint8_t optionsSize;
    std::uint32_t optionsOffset; // bytes from the start of the owning record
};

// One 28-byte reply record, exactly as the stack writes it: little-endian fields at fixed
// offsets. The stack stores the returned data and option bytes after the records and points at
// them with offsets relative to the record itself; a 32-bit field can't hold a pointer here, so
// the offsets stay in place and data() / optionBytes() turn them into addresses.
struct EchoReply {
    IpAddress address;           // responder, network byte order
    std::uint32_t status;        // the stack's own code, passed on uninterpreted
    std::uint32_t roundTripTime; // milliseconds
    std::uint16_t dataSize;
    std::uint16_t reserved;   // record count in the first record until SendEcho clears it
    std::uint32_t dataOffset; // bytes from the start of this record
    EchoReplyOptions options;

    const std::uint8_t* data() const;
    const std::uint8_t* optionBytes() const;
};

static_assert(sizeof(EchoReplyOptions) == 8);
static_assert(sizeof(EchoReply) == 28);
static_assert(offsetof(EchoReply, status) == 4);
static_assert(offsetof(EchoReply, roundTripTime) == 8);
static_assert(offsetof(EchoReply, dataSize) == 12);
static_assert(offsetof(EchoReply, reserved) == 14);
static_assert(offsetof(EchoReply, dataOffset) == 16);
static_assert(offsetof(EchoReply, options) == 20);

inline constexpr std::uint32_t kEchoReplySize = sizeof(EchoReply);

using EchoHandle = std::uint32_t;

// Always yields 1; nothing is opened.
EchoHandle OpenEchoHandle();

// Does nothing and yields 1, whatever the handle.
std::uint32_t CloseEchoHandle(EchoHandle handle);

// Sends one echo request and yields the number of reply records written into replyBuffer
// (0 when there is none; the reason is then the thread's last-error code).
std::uint32_t SendEcho(EchoHandle handle, IpAddress destination, const void* requestData,
                       std::uint16_t requestSize, const EchoOptions* options, void* replyBuffer,
                       std::uint32_t replySize, std::uint32_t timeout);

// SendEcho to a destination of either family: an IPv4 one goes through SendEcho itself, an IPv6
// one as the same request with the address after the header (kEchoAction6). The reply records
// are the same 28-byte EchoReply, whose 32-bit responder field holds 0 for an IPv6 responder:
// GetLastEchoResponder gives it, for either family. The option block's TTL is the hop limit, its
// type of service the traffic class; IP option bytes have no IPv6 counterpart and are ignored.
std::uint32_t SendEchoTo(EchoHandle handle, const HostAddress& destination, const void* requestData,
                         std::uint16_t requestSize, const EchoOptions* options, void* replyBuffer,
                         std::uint32_t replySize, std::uint32_t timeout);

// The responder of the first record of this thread's last SendEcho or SendEchoTo; no address
// when that call yielded no record. Travels beside the record, like the round trip's microseconds.
HostAddress GetLastEchoResponder();
void SetLastEchoResponder(const HostAddress& responder);

// The per-thread last-error code written by SendEcho on every path that yields 0.
std::uint32_t GetLastEchoError();
void SetLastEchoError(std::uint32_t code);

// The round trip of the first record of this thread's last SendEcho in microseconds, measured
// on the same kernel time stamps as the record's whole milliseconds (which it truncates to);
// 0 when that call yielded no record. The 28-byte record has no room for it, so it travels
// beside the record, like the last-error code.
std::uint32_t GetLastEchoRoundTripMicros();
void SetLastEchoRoundTripMicros(std::uint32_t micros);

// The MTU of the path to the destination as this thread's last SendEcho or SendEchoTo learned it:
// from a router's fragmentation-needed or packet-too-big report (a record with status
// kIpPacketTooBig), or, for a request larger than the local link or an already known path allows
// (it never left: no record, last error kIpPacketTooBig), the local one. 0 for anything else.
// Travels beside the record, like the round trip's microseconds.
std::uint32_t GetLastEchoMtu();
void SetLastEchoMtu(std::uint32_t mtu);

// The MPLS label stack that the router's report of this thread's last SendEcho or SendEchoTo
// carried in its ICMP extensions; empty for anything else. Travels beside the record, like the MTU.
MplsLabels GetLastEchoMplsLabels();
void SetLastEchoMplsLabels(const MplsLabels& labels);

// Path MTU discovery of a thread's echo requests (IP_MTU_DISCOVER / IPV6_MTU_DISCOVER).
enum class EchoPathMtu : std::uint8_t {
    ByFlags, // the option block's don't-fragment flag: Do with it; without it Dont for IPv4 and
             // Want for IPv6, where a router never fragments
    Do,      // never fragment: a request larger than the path fails with the path's MTU
    Dont,    // fragment where needed, whatever the path reports
    Want,    // discover the path's MTU, and fragment locally above it
};

// How a thread's echo requests leave, beyond what each request's option block says: through one
// interface, from one local address, with one mode of path MTU discovery. It holds for every
// request the thread makes (SendEcho, SendEchoTo, EchoFlight) until it is set again; the default
// leaves the interface and source to the routing table and the path MTU to the option block,
// as the pages send.
struct EchoSocketSettings {
    std::string interface; // an interface name; empty: the route's
    HostAddress source;    // a local address of the destination's family; none: the route's
    EchoPathMtu pathMtu = EchoPathMtu::ByFlags;

    bool operator==(const EchoSocketSettings&) const = default;
};

void SetEchoSocketSettings(const EchoSocketSettings& settings);
const EchoSocketSettings& GetEchoSocketSettings();

// A run's settings on the calling thread, the previous ones back when it ends.
class ScopedEchoSocketSettings {
public:
    explicit ScopedEchoSocketSettings(const EchoSocketSettings& settings)
        : m_previous(GetEchoSocketSettings())
    {
        SetEchoSocketSettings(settings);
    }
    ~ScopedEchoSocketSettings() { SetEchoSocketSettings(m_previous); }
    ScopedEchoSocketSettings(const ScopedEchoSocketSettings&) = delete;
    ScopedEchoSocketSettings& operator=(const ScopedEchoSocketSettings&) = delete;

private:
    EchoSocketSettings m_previous;
};

// What makes settings unusable on this system, found without sending anything.
enum class EchoSocketProblem { None, NoSuchInterface, NotLocalAddress };
EchoSocketProblem CheckEchoSocketSettings(const EchoSocketSettings& settings);

} // namespace hopwise
