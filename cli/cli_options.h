#pragma once

// hopwise-cli's command line.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "cli/console_format.h"
#include "probe/probe_method.h"
#include "probe/resolver.h"

namespace hopwise::cli {

// ping -M: Default sends as the pages do (IPv4 may be fragmented, IPv6 discovers the path's MTU).
enum class PathMtuMode { Default, Do, Dont, Want };

struct CliOptions {
    ProbeKind kind = ProbeKind::Trace;
    std::string host;
    std::int32_t maxHop = 20;       // trace: hops 1 .. maxHop - 1
    bool resolve = false;           // trace: look up each hop's name
    std::int32_t parallel = 16;     // trace, report: hops' probes in flight at once
    std::int32_t ttl = 20;          // ping
    std::int32_t count = -1;        // ping: -1 until Ctrl-C
    std::int32_t intervalMs = 1000; // ping: from one request to the next; 0 back to back;
                                    // report: from one cycle's start to the next's
    bool quiet = false;             // ping: the summary only
    std::int32_t timeoutMs = 1000;
    bool json = false;
    std::int32_t cycles = 10;                  // report
    bool live = false;                         // report: redraw the table after every cycle
    FamilyChoice families = FamilyChoice::Any; // -4 / -6

    // trace, report: -w MAX[,HERE,NEAR]. A probe stops being waited for once probes sent after it
    // have answered: at most waitHere times the round trip of an answered probe at its hop, or
    // waitNear times that of an answered later hop (each plus 1 ms), never past timeoutMs (MAX).
    // Both 0: a fixed wait of timeoutMs (a lone -w S).
    double waitHere = 3;
    double waitNear = 10;
    std::int32_t firstHop = 1;     // trace -f: the first hop probed
    std::int32_t probesPerHop = 1; // trace -q: probes per hop, each shown
    std::string interface;         // trace -i, ping -I IFACE: send through this interface only
    std::string source;            // trace -s, ping -I ADDR: send from this local address
    bool traceMtu = false;  // trace --mtu: probes as large as the path takes, never fragmented
    ProbeMethod method;     // trace, report: -U / -T and -p
    std::int32_t flows = 1; // trace --flows: UDP or TCP flows traced side by side

    // ping
    std::int32_t deadlineMs = -1; // -w: the run ends this long after it starts; -1 none
    std::int32_t payloadSize = 0; // -s: data bytes after the 8-byte ICMP header
    bool showBytes = false;       // -s given: each reply's bytes are shown
    PathMtuMode pathMtu = PathMtuMode::Default; // -M do|dont|want
    std::int32_t tos = 0;                       // -Q: type of service (traffic class for IPv6)
    bool unixTimes = false;         // -D: each line begins with [seconds.micros] since 1970
    bool reportOutstanding = false; // -O: "no answer yet" before the next request
};

struct ParsedCommandLine {
    std::optional<CliOptions> options; // empty: exit with exitCode after printing the texts
    int exitCode = 0;
    std::string out; // help
    std::string err; // what was wrong, and the usage
};

// The probe method the JSON destination event names, "udp" or "tcp"; empty for ICMP echo, the
// default, which leaves the event as it always was.
inline std::string_view JsonMethodName(const ProbeMethod& method)
{
    return method.protocol == ProbeProtocol::IcmpEcho ? std::string_view()
                                                      : ProbeMethodName(method);
}

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv);

// Whether the arguments ask for JSON, looked at before they are parsed (so that a usage error
// or a refused start can be told as a JSON object too).
bool WantsJson(int argc, const char* const* argv);

} // namespace hopwise::cli
