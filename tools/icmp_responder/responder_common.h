#pragma once

// What both modes of icmp-responder share: the settings a command line gives, the clock requests
// are stamped with, and how it tells the machine's own network namespace from a test's.

#include <time.h>

#include <csignal>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/icmp_responder/forged_packets.h"
#include "tools/icmp_responder/forged_packets6.h"

namespace hopwise::responder {

struct SendItem {
    PacketKind kind;
    int delayMs; // -1: the --delay value
};

struct Settings {
    std::vector<SendItem> sends;
    int delayMs = 0;
    int replyTtl = 64;
    long dropEvery = 0;
    long count = 1000;
    double seconds = 10;
    Address otherSource = 0;
    Address listen = 0;
    Address floodTo = 0;
    int floodRate = 0;
    int fakeHops = 0;
    Address hopBase = 0;
    bool allowKernelEcho = false;
    bool ipv6 = false;
    // The addresses above, in IPv6 mode.
    std::optional<Address6> otherSource6;
    std::optional<Address6> listen6;
    std::optional<Address6> hopBase6;
};

// Set by SIGINT and SIGTERM: the run ends at its next wake-up.
extern volatile std::sig_atomic_t g_stop;

[[noreturn]] void Fail(const std::string& message);

std::int64_t Nanoseconds(const timespec& t);
// Request stamps come from the kernel's receive clock, which is the wall clock.
std::int64_t NowNs();

// Whether this process runs in the machine's own network namespace; true when it can't tell.
bool InInitialNamespace();

} // namespace hopwise::responder
