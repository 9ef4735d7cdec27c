// icmp-responder: answers ICMP echo requests the way a test asks, inside a network namespace
// whose kernel has been told to leave echo requests alone (net.ipv4.icmp_echo_ignore_all=1).
// It reads the requests on a raw ICMP socket and writes whole IP datagrams on an IPPROTO_RAW
// socket, so every answer, forged or not, is its own. Bounded in requests and in time, and it
// sends only to loopback, or to on-link neighbours and what the static routes of a namespace that
// has no way out lead to. With --ipv6
// it does the same for ICMPv6 (responder6.cpp).

#include <arpa/inet.h>
#include <getopt.h>
#include <ifaddrs.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "tools/icmp_responder/forged_packets.h"
#include "tools/icmp_responder/responder6.h"
#include "tools/icmp_responder/responder_common.h"

namespace hopwise::responder {
namespace {

constexpr long kMaxCount = 100000;
constexpr double kMaxSeconds = 600;
constexpr int kMaxDelayMs = 60000;
constexpr int kMaxFloodRate = 20000;
constexpr std::int64_t kFloodTickNs = 1000000;
constexpr int kPacketsPerWake = 64;

const char* const kUsage =
    "usage: icmp-responder [options]\n"
    "Answers ICMP echo requests in this network namespace as told. The namespace's kernel must\n"
    "not answer them itself: sysctl net.ipv4.icmp_echo_ignore_all=1 (with --ipv6:\n"
    "net.ipv6.icmp.echo_ignore_all=1).\n"
    "  --ipv6                answer ICMPv6 echo requests; addresses are then IPv6 ones\n"
    "  --send KIND[@MS]      per request, send KIND after MS ms (repeatable; default: echo)\n"
    "                        KIND: echo echo-other-source echo-wrong-id echo-wrong-seq\n"
    "                        echo-next-seq echo-bad-checksum echo-truncated echo-oversized\n"
    "                        time-exceeded[-options|-truncated|-other-probe]\n"
    "                        time-exceeded-other-destination packet-too-big\n"
    "                        time-exceeded-mpls[-bad-checksum|-bad-length|-no-bottom]\n"
    "                        unreachable[-options|-truncated|-other-probe]\n"
    "  --delay MS            delay of every --send without its own @MS (default 0)\n"
    "  --ttl N               TTL of everything sent (default 64)\n"
    "  --drop-every K        leave every K-th request unanswered\n"
    "  --other-source ADDR   source of echo-other-source and of the reports\n"
    "  --fake-hops N         requests with TTL <= N get time-exceeded from router TTL\n"
    "  --hop-base ADDR       address of router 1; router i is ADDR + i - 1\n"
    "  --listen ADDR         answer only requests to ADDR\n"
    "  --flood-to ADDR       meanwhile send unrelated ICMP to ADDR (not with --ipv6) ...\n"
    "  --flood-rate PPS      ... at this many packets a second (default 2000)\n"
    "  --count N             exit after N requests (default 1000)\n"
    "  --seconds T           exit after T seconds (default 10)\n"
    "  --allow-kernel-echo   run even though the kernel answers echo requests too\n"
    "Prints \"ready\" once listening, one line per request and a summary line at the end.\n";

void onSignal(int)
{
    g_stop = 1;
}

std::string dotted(Address address)
{
    char text[INET_ADDRSTRLEN] = {};
    in_addr in{};
    in.s_addr = address;
    inet_ntop(AF_INET, &in, text, sizeof text);
    return text;
}

bool parseAddress(const char* text, Address& address)
{
    in_addr in{};
    if (inet_pton(AF_INET, text, &in) != 1) {
        return false;
    }
    address = in.s_addr;
    return true;
}

bool parseLong(const char* text, long low, long high, long& value)
{
    if (text == nullptr) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || parsed < low || parsed > high) {
        return false;
    }
    value = parsed;
    return true;
}

Settings parseArguments(int argc, char** argv)
{
    enum : int {
        kSend = 1000,
        kDelay,
        kTtl,
        kDropEvery,
        kOtherSource,
        kFakeHops,
        kHopBase,
        kListen,
        kFloodTo,
        kFloodRate,
        kCount,
        kSeconds,
        kAllowKernelEcho,
        kIpv6,
        kHelp,
    };
    static const option options[] = {
        {"send", required_argument, nullptr, kSend},
        {"delay", required_argument, nullptr, kDelay},
        {"ttl", required_argument, nullptr, kTtl},
        {"drop-every", required_argument, nullptr, kDropEvery},
        {"other-source", required_argument, nullptr, kOtherSource},
        {"fake-hops", required_argument, nullptr, kFakeHops},
        {"hop-base", required_argument, nullptr, kHopBase},
        {"listen", required_argument, nullptr, kListen},
        {"flood-to", required_argument, nullptr, kFloodTo},
        {"flood-rate", required_argument, nullptr, kFloodRate},
        {"count", required_argument, nullptr, kCount},
        {"seconds", required_argument, nullptr, kSeconds},
        {"allow-kernel-echo", no_argument, nullptr, kAllowKernelEcho},
        {"ipv6", no_argument, nullptr, kIpv6},
        {"help", no_argument, nullptr, kHelp},
        {nullptr, 0, nullptr, 0},
    };
    Settings settings;
    long value = 0;
    // Read once the family is known, whichever comes first on the command line.
    std::map<int, std::string> addresses;
    for (;;) {
        const int option = getopt_long(argc, argv, "", options, nullptr);
        if (option == -1) {
            break;
        }
        const std::string argument = optarg != nullptr ? optarg : "";
        switch (option) {
        case kSend: {
            const std::size_t at = argument.find('@');
            const auto kind = ParsePacketKind(argument.substr(0, at));
            if (!kind) {
                Fail("unknown packet kind in --send " + argument);
            }
            long delay = -1;
            if (at != std::string::npos &&
                !parseLong(argument.c_str() + at + 1, 0, kMaxDelayMs, delay)) {
                Fail("bad delay in --send " + argument);
            }
            settings.sends.push_back({*kind, static_cast<int>(delay)});
            break;
        }
        case kDelay:
            if (!parseLong(optarg, 0, kMaxDelayMs, value)) {
                Fail("--delay takes 0 to 60000 ms");
            }
            settings.delayMs = static_cast<int>(value);
            break;
        case kTtl:
            if (!parseLong(optarg, 1, 255, value)) {
                Fail("--ttl takes 1 to 255");
            }
            settings.replyTtl = static_cast<int>(value);
            break;
        case kDropEvery:
            if (!parseLong(optarg, 1, kMaxCount, settings.dropEvery)) {
                Fail("--drop-every takes a positive count");
            }
            break;
        case kOtherSource:
        case kHopBase:
        case kListen:
        case kFloodTo:
            addresses[option] = argument;
            break;
        case kFakeHops:
            if (!parseLong(optarg, 0, 254, value)) {
                Fail("--fake-hops takes 0 to 254");
            }
            settings.fakeHops = static_cast<int>(value);
            break;
        case kFloodRate:
            if (!parseLong(optarg, 1, kMaxFloodRate, value)) {
                Fail("--flood-rate takes 1 to 20000 packets a second");
            }
            settings.floodRate = static_cast<int>(value);
            break;
        case kCount:
            if (!parseLong(optarg, 1, kMaxCount, settings.count)) {
                Fail("--count takes 1 to 100000");
            }
            break;
        case kSeconds: {
            char* end = nullptr;
            settings.seconds = optarg != nullptr ? std::strtod(optarg, &end) : 0;
            if (end == optarg || *end != '\0' || !(settings.seconds > 0) ||
                settings.seconds > kMaxSeconds) {
                Fail("--seconds takes more than 0, at most 600");
            }
            break;
        }
        case kAllowKernelEcho:
            settings.allowKernelEcho = true;
            break;
        case kIpv6:
            settings.ipv6 = true;
            break;
        case kHelp:
            std::fputs(kUsage, stdout);
            std::exit(0);
        default:
            std::fputs(kUsage, stderr);
            std::exit(2);
        }
    }
    if (optind != argc) {
        Fail(std::string("unexpected argument ") + argv[optind]);
    }
    for (const auto& [option, text] : addresses) {
        if (settings.ipv6) {
            Address6 address{};
            if (option == kFloodTo) {
                Fail("--flood-to is not available with --ipv6");
            }
            if (inet_pton(AF_INET6, text.c_str(), address.data()) != 1) {
                Fail("not an IPv6 address: " + text);
            }
            (option == kOtherSource ? settings.otherSource6
             : option == kHopBase   ? settings.hopBase6
                                    : settings.listen6) = address;
            continue;
        }
        Address address = 0;
        if (!parseAddress(text.c_str(), address)) {
            Fail("not a dotted IPv4 address: " + text);
        }
        (option == kOtherSource ? settings.otherSource
         : option == kHopBase   ? settings.hopBase
         : option == kListen    ? settings.listen
                                : settings.floodTo) = address;
    }
    if (settings.sends.empty()) {
        settings.sends.push_back({PacketKind::Echo, -1});
    }
    if (settings.fakeHops > 0 && settings.hopBase == 0 && !settings.hopBase6) {
        Fail("--fake-hops needs --hop-base");
    }
    if (settings.floodTo != 0 && settings.floodRate == 0) {
        settings.floodRate = 2000;
    }
    return settings;
}

// Where this process may send. In the machine's own namespace only loopback; in a namespace of
// its own also the neighbours on its links and the networks its routes name (the other
// namespaces of a test's router chain), and only while no default route leads anywhere else.
class SendPolicy {
public:
    SendPolicy()
    {
        m_initialNamespace = InInitialNamespace();
        if (m_initialNamespace) {
            return;
        }
        ifaddrs* list = nullptr;
        if (getifaddrs(&list) != 0) {
            return;
        }
        for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
            if (entry->ifa_addr == nullptr || entry->ifa_netmask == nullptr ||
                entry->ifa_addr->sa_family != AF_INET || (entry->ifa_flags & IFF_UP) == 0 ||
                (entry->ifa_flags & IFF_LOOPBACK) != 0) {
                continue;
            }
            const Address address =
                reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr;
            const Address mask =
                reinterpret_cast<const sockaddr_in*>(entry->ifa_netmask)->sin_addr.s_addr;
            m_links.push_back({address & mask, mask});
        }
        freeifaddrs(list);
        std::ifstream routes("/proc/net/route");
        std::string line;
        std::getline(routes, line); // column titles
        while (std::getline(routes, line)) {
            // Addresses and masks in network order, as in_addr holds them.
            unsigned network = 0;
            unsigned mask = 0;
            if (std::sscanf(line.c_str(), "%*s %x %*x %*x %*u %*u %*u %x", &network, &mask) == 2 &&
                mask != 0) {
                m_links.push_back({network, mask});
            }
        }
    }

    bool initialNamespace() const { return m_initialNamespace; }

    bool mayReach(Address address) const
    {
        if ((ntohl(address) >> 24) == 127) {
            return true;
        }
        if (m_initialNamespace) {
            return false;
        }
        for (const Link& link : m_links) {
            if ((address & link.mask) == link.network) {
                return true;
            }
        }
        return false;
    }

private:
    struct Link {
        Address network;
        Address mask;
    };
    bool m_initialNamespace = true;
    std::vector<Link> m_links;
};

bool hasDefaultRoute()
{
    std::ifstream routes("/proc/net/route");
    std::string line;
    std::getline(routes, line); // column titles
    while (std::getline(routes, line)) {
        char device[64] = {};
        unsigned destination = 1;
        if (std::sscanf(line.c_str(), "%63s %x", device, &destination) == 2 && destination == 0) {
            return true;
        }
    }
    return false;
}

bool kernelAnswersEcho()
{
    std::ifstream setting("/proc/sys/net/ipv4/icmp_echo_ignore_all");
    int ignoreAll = 0;
    return !(setting >> ignoreAll) || ignoreAll == 0;
}

struct Pending {
    std::vector<std::uint8_t> packet;
    Address to;
};

class Responder {
public:
    Responder(const Settings& settings, const SendPolicy& policy)
        : m_settings(settings), m_policy(policy)
    {
        m_receive = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        m_send = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW);
        if (m_receive < 0 || m_send < 0) {
            Fail(std::string("raw sockets: ") + std::strerror(errno) + " (needs CAP_NET_RAW)");
        }
        // Only echo requests wake us; the client kernel's answers to the flood never do.
        icmp_filter filter{};
        filter.data = ~(1u << ICMP_ECHO);
        const int on = 1;
        if (setsockopt(m_receive, SOL_RAW, ICMP_FILTER, &filter, sizeof filter) != 0 ||
            setsockopt(m_receive, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) != 0) {
            Fail(std::string("socket options: ") + std::strerror(errno));
        }
        m_floodFrom = settings.listen;
    }

    int run()
    {
        const std::int64_t start = NowNs();
        const auto deadline = start + static_cast<std::int64_t>(m_settings.seconds * 1e9);
        std::int64_t nextFlood = start;
        std::printf("ready\n");
        std::fflush(stdout);
        while (g_stop == 0) {
            std::int64_t now = NowNs();
            sendDue(now);
            if (m_settings.floodTo != 0 && m_floodFrom != 0 && now >= nextFlood) {
                flood();
                nextFlood = now + kFloodTickNs;
            }
            if (m_requests >= m_settings.count && m_pending.empty()) {
                break;
            }
            if (now >= deadline) {
                break;
            }
            std::int64_t wake = deadline;
            if (!m_pending.empty()) {
                wake = std::min(wake, m_pending.begin()->first);
            }
            if (m_settings.floodTo != 0 && m_floodFrom != 0) {
                wake = std::min(wake, nextFlood);
            }
            const std::int64_t wait = std::max<std::int64_t>(wake - now, 0);
            const timespec timeout{static_cast<time_t>(wait / 1000000000),
                                   static_cast<long>(wait % 1000000000)};
            pollfd fd{m_receive, POLLIN, 0};
            if (ppoll(&fd, 1, &timeout, nullptr) > 0) {
                readRequests();
            }
        }
        std::printf("done requests %ld dropped %ld sent %ld flood %ld\n", m_requests, m_dropped,
                    m_sent, m_flooded);
        std::fflush(stdout);
        return 0;
    }

private:
    void sendDue(std::int64_t now)
    {
        while (!m_pending.empty() && m_pending.begin()->first <= now) {
            const Pending& pending = m_pending.begin()->second;
            transmit(pending.packet, pending.to);
            ++m_sent;
            m_pending.erase(m_pending.begin());
        }
    }

    void transmit(const std::vector<std::uint8_t>& packet, Address to)
    {
        // Checked again at the last moment: nothing leaves unless the policy allows it.
        if (!m_policy.mayReach(to)) {
            return;
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = to;
        if (sendto(m_send, packet.data(), packet.size(), 0,
                   reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0) {
            std::fprintf(stderr, "icmp-responder: send to %s: %s\n", dotted(to).c_str(),
                         std::strerror(errno));
        }
    }

    void flood()
    {
        const int perTick = std::max(1, m_settings.floodRate / 1000);
        for (int i = 0; i < perTick; ++i) {
            transmit(ForgeFloodPacket(m_floodSequence++, m_floodFrom, m_settings.floodTo,
                                      m_clientIdentifier),
                     m_settings.floodTo);
            ++m_flooded;
        }
    }

    void readRequests()
    {
        for (int i = 0; i < kPacketsPerWake; ++i) {
            std::array<std::uint8_t, 65536> buffer; // NOLINT: read only up to what arrived
            alignas(cmsghdr) std::array<std::uint8_t, 256> control{};
            iovec vector{buffer.data(), buffer.size()};
            msghdr message{};
            message.msg_iov = &vector;
            message.msg_iovlen = 1;
            message.msg_control = control.data();
            message.msg_controllen = control.size();
            const ssize_t got = recvmsg(m_receive, &message, MSG_DONTWAIT);
            if (got < 0) {
                return;
            }
            std::int64_t stamp = NowNs();
            for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
                if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                    timespec received{};
                    std::memcpy(&received, CMSG_DATA(c), sizeof received);
                    stamp = Nanoseconds(received);
                }
            }
            const auto request =
                ParseEchoRequest(std::span(buffer.data(), static_cast<std::size_t>(got)));
            if (request) {
                handle(*request, stamp);
            }
        }
    }

    void handle(const EchoRequestSeen& request, std::int64_t stamp)
    {
        if (m_settings.listen != 0 && request.destination != m_settings.listen) {
            return;
        }
        if (!m_policy.mayReach(request.source)) {
            std::printf("refused request from %s: not in this namespace\n",
                        dotted(request.source).c_str());
            std::fflush(stdout);
            return;
        }
        if (m_requests >= m_settings.count) {
            return;
        }
        ++m_requests;
        m_clientIdentifier = request.identifier;
        m_floodFrom = m_settings.listen != 0 ? m_settings.listen : request.destination;
        std::string answers;
        if (m_settings.dropEvery > 0 && m_requests % m_settings.dropEvery == 0) {
            ++m_dropped;
            answers = " dropped";
        } else if (request.ttl <= m_settings.fakeHops) {
            const Address router = htonl(ntohl(m_settings.hopBase) + request.ttl - 1);
            schedule(
                stamp, m_settings.delayMs,
                ForgeHopReport(request, router, static_cast<std::uint8_t>(m_settings.replyTtl)),
                request.source);
            answers = " hop-report from " + dotted(router);
        } else {
            const ForgeSettings forge{static_cast<std::uint8_t>(m_settings.replyTtl),
                                      m_settings.otherSource};
            for (const SendItem& item : m_settings.sends) {
                const int delay = item.delayMs >= 0 ? item.delayMs : m_settings.delayMs;
                schedule(stamp, delay, ForgePacket(item.kind, request, forge), request.source);
                answers +=
                    " " + std::string(PacketKindName(item.kind)) + "@" + std::to_string(delay);
            }
        }
        std::printf("request %ld from %s id %u seq %u ttl %u:%s\n", m_requests,
                    dotted(request.source).c_str(), request.identifier, request.sequence,
                    request.ttl, answers.c_str());
        std::fflush(stdout);
    }

    void schedule(std::int64_t stamp, int delayMs, std::vector<std::uint8_t> packet, Address to)
    {
        m_pending.emplace(stamp + std::int64_t{delayMs} * 1000000, Pending{std::move(packet), to});
    }

    const Settings& m_settings;
    const SendPolicy& m_policy;
    int m_receive = -1;
    int m_send = -1;
    // Ordered by due time; packets due together keep the order they were asked for in.
    std::multimap<std::int64_t, Pending> m_pending;
    long m_requests = 0;
    long m_dropped = 0;
    long m_sent = 0;
    long m_flooded = 0;
    Address m_floodFrom = 0;
    std::uint16_t m_clientIdentifier = 0;
    std::uint32_t m_floodSequence = 0;
};

} // namespace
} // namespace hopwise::responder

int main(int argc, char** argv)
{
    using namespace hopwise::responder;
    const Settings settings = parseArguments(argc, argv);
    const SendPolicy policy;
    // An IPv4 default route leads out of an IPv6 test's namespace as well.
    if (!policy.initialNamespace() && hasDefaultRoute()) {
        Fail("this namespace has a default route; run me where nothing leads out");
    }
    if (settings.ipv6) {
        CheckIpv6Start(settings);
    } else if (settings.floodTo != 0 && !policy.mayReach(settings.floodTo)) {
        Fail("refusing to flood " + dotted(settings.floodTo) +
             ": not loopback, nor a neighbour inside this test namespace");
    } else if (!settings.allowKernelEcho && kernelAnswersEcho()) {
        Fail("the kernel answers echo requests here too; set net.ipv4.icmp_echo_ignore_all=1 in "
             "this namespace (or pass --allow-kernel-echo)");
    }
    // Answers are timed to the tenth of a millisecond; the default timer slack would add 50 us
    // to every wait.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    // The peer is the tests' reference clock: on a machine busy compiling, an ordinary process
    // wakes milliseconds late and its lateness would be charged to the client. It sleeps nearly
    // all the time, so a modest real-time priority costs nobody anything; without the privilege
    // it runs as it is.
    const sched_param priority{.sched_priority = 10};
    sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &priority);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    if (settings.ipv6) {
        return RunIpv6(settings);
    }
    Responder responder(settings, policy);
    return responder.run();
}
