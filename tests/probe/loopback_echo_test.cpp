// The Linux echo stack over loopback: raw sockets as root, datagram sockets as an ordinary user
// admitted by a test namespace's ping_group_range, and the refusals when neither is allowed.

#include <filesystem>
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "probe/echo_permission.h"
#include "probe/echo_stack.h"
#include "probe/echo_status.h"
#include "probe/linux/linux_echo_stack.h"
#include "probe/linux/probe_interrupt.h"
#include "tests/probe/icmp_packets.h"
#include "tests/probe/real_echo.h"
#include "tests/support/net_namespace.h"
#include "tests/support/scripted_echo_stack.h"

namespace hopwise::test {
namespace {

constexpr unsigned kNobody = 65534;
const std::vector<std::uint8_t> kData = {'l', 'o', 'o', 'p', 0, 1, 2, 0xFF};

std::string rawSkipReason()
{
    const int fd = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
    if (fd < 0)
        return "raw ICMP sockets need CAP_NET_RAW";
    close(fd);
    return "";
}

#define SKIP_WITHOUT_RAW()                                                                         \
    if (const std::string reason = rawSkipReason(); !reason.empty())                               \
    GTEST_SKIP() << reason

#define SKIP_WITHOUT_NAMESPACES()                                                                  \
    if (const std::string reason = NetNamespaceSkipReason(); !reason.empty())                      \
    GTEST_SKIP() << reason

class RawLoopback : public ::testing::Test {
protected:
    void SetUp() override { SKIP_WITHOUT_RAW(); }

    LinuxEchoStack m_stack{IcmpSocketKind::Raw};
    ScopedEchoStack m_installed{m_stack};
};

TEST_F(RawLoopback, echoComesBackWithOurData)
{
    EchoOptions options{.ttl = 64, .tos = 0, .flags = 0, .optionsSize = 0, .optionsData = nullptr};
    const EchoOutcome outcome = Echo("127.0.0.1", &options, 300, kData);
    ASSERT_EQ(outcome.count, 1u) << "last error " << outcome.lastError;
    EXPECT_EQ(outcome.record.status, kIpSuccess);
    EXPECT_EQ(outcome.record.address, Ip("127.0.0.1"));
    EXPECT_EQ(outcome.data, kData);
    EXPECT_EQ(outcome.record.options.ttl, 64);
    EXPECT_LT(outcome.record.roundTripTime, 300u);
    EXPECT_EQ(m_stack.kindInUse(), IcmpSocketKind::Raw);
}

TEST_F(RawLoopback, sequentialEchoesReuseOneSocket)
{
    ASSERT_EQ(Echo("127.0.0.1", nullptr, 300).count, 1u);
    const int descriptors = OpenDescriptorCount();
    for (int i = 0; i < 200; ++i) {
        const EchoOutcome outcome = Echo("127.0.0.1", nullptr, 300, kData);
        ASSERT_EQ(outcome.count, 1u) << "echo " << i << " last error " << outcome.lastError;
        ASSERT_EQ(outcome.data, kData) << "echo " << i;
    }
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
}

TEST_F(RawLoopback, optionsFollowEachRequest)
{
    // The echo reply copies the request's TOS and echoes its IP options, so each reply shows
    // whether the socket carried what that request asked for, even after a different request.
    const std::uint8_t recordRoute[12] = {7, 11, 4, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    EchoOptions marked{
        .ttl = 32, .tos = 0x28, .flags = 0, .optionsSize = 0, .optionsData = nullptr};
    EchoOptions routed{.ttl = 32,
                       .tos = 0,
                       .flags = kIpFlagDontFragment,
                       .optionsSize = sizeof recordRoute,
                       .optionsData = recordRoute};
    EchoOptions plain{.ttl = 32, .tos = 0, .flags = 0, .optionsSize = 0, .optionsData = nullptr};

    for (int round = 0; round < 2; ++round) {
        const EchoOutcome first = Echo("127.0.0.1", &marked, 300);
        ASSERT_EQ(first.count, 1u);
        EXPECT_EQ(first.record.options.tos, 0x28);
        EXPECT_TRUE(first.options.empty());

        const EchoOutcome second = Echo("127.0.0.1", &routed, 300);
        ASSERT_EQ(second.count, 1u);
        EXPECT_EQ(second.record.options.tos, 0);
        ASSERT_GE(second.options.size(), 7u);
        EXPECT_EQ(second.options[0], 7) << "record route option echoed";
        // The loopback hop recorded itself in the first slot.
        EXPECT_EQ(std::vector<std::uint8_t>(second.options.begin() + 3, second.options.begin() + 7),
                  (std::vector<std::uint8_t>{127, 0, 0, 1}));

        const EchoOutcome third = Echo("127.0.0.1", &plain, 300);
        ASSERT_EQ(third.count, 1u);
        EXPECT_TRUE(third.options.empty()) << "options of the previous request were kept";
    }
}

TEST_F(RawLoopback, ttlZeroIsAnUnansweredRequest)
{
    EchoOptions options{.ttl = 0, .tos = 0, .flags = 0, .optionsSize = 0, .optionsData = nullptr};
    const EchoOutcome outcome = Echo("127.0.0.1", &options, 150);
    EXPECT_EQ(outcome.count, 0u);
    EXPECT_EQ(outcome.lastError, kIpReqTimedOut);
    EXPECT_GE(outcome.elapsedMs, 150);
    EXPECT_LT(outcome.elapsedMs, 1500);
    EXPECT_EQ(outcome.record.address, 0u);
}

TEST_F(RawLoopback, raisedInterruptStopsTheRequestBeforeItStarts)
{
    ProbeInterrupt interrupt;
    ScopedProbeInterrupt bound(interrupt);
    interrupt.raise();
    const EchoOutcome outcome = Echo("127.0.0.1", nullptr, 5000);
    EXPECT_EQ(outcome.count, 0u);
    EXPECT_EQ(outcome.lastError, kErrorOperationAborted);
    EXPECT_LT(outcome.elapsedMs, 1000);
}

TEST_F(RawLoopback, threadMovingToAnotherNamespaceSendsFromThere)
{
    SKIP_WITHOUT_NAMESPACES();
    // The same destination answers in one namespace and is silent in the other, so each reply
    // (or its absence) tells which namespace the request really left from.
    NetNamespace silent("silent");
    silent.sysctl("net.ipv4.icmp_echo_ignore_all", "1");
    ASSERT_EQ(Echo("127.0.0.1", nullptr, 300).count, 1u);
    {
        EnterNamespace inside(silent);
        const EchoOutcome outcome = Echo("127.0.0.1", nullptr, 150);
        EXPECT_EQ(outcome.count, 0u);
        EXPECT_EQ(outcome.lastError, kIpReqTimedOut);
    }
    const EchoOutcome back = Echo("127.0.0.1", nullptr, 300);
    EXPECT_EQ(back.count, 1u) << "last error " << back.lastError;
}

// Sends hand-made ICMP packets to 127.0.0.1 from a raw socket of the calling thread's namespace.
class Injector {
public:
    Injector() : m_fd(socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP)) {}
    ~Injector()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    bool send(const Bytes& icmp) const
    {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = Ip("127.0.0.1");
        return sendto(m_fd, icmp.data(), icmp.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                      sizeof to) == static_cast<ssize_t>(icmp.size());
    }

private:
    int m_fd;
};

TEST_F(RawLoopback, forgedAndStaleRepliesAreNotTaken)
{
    SKIP_WITHOUT_NAMESPACES();
    // 127.0.0.1 is silent in this namespace, so any answer the prober reports came from the
    // packets injected while it waits, none of which is a fair reply to its request.
    NetNamespace silent("forged");
    silent.sysctl("net.ipv4.icmp_echo_ignore_all", "1");
    std::atomic<int> proberTid{0};
    std::atomic<bool> waiting{false};
    EchoOutcome first;
    EchoOutcome second;
    std::thread prober([&] {
        EnterNamespace inside(silent);
        proberTid = static_cast<int>(syscall(SYS_gettid));
        first = Echo("127.0.0.1", nullptr, 50); // a fresh thread's first request: sequence 1
        waiting = true;
        second = Echo("127.0.0.1", nullptr, 400);
    });
    {
        EnterNamespace inside(silent);
        Injector injector;
        while (!waiting)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const auto id = static_cast<std::uint16_t>(proberTid.load());
        Bytes badChecksum = IcmpMessage(0, 0, id, 2, kData);
        badChecksum[2] ^= 0x5A;
        const Bytes forged[] = {
            IcmpMessage(0, 0, id, 1, kData), // late reply to request 1
            IcmpMessage(0, 0, static_cast<std::uint16_t>(id + 1), 2, kData), // someone else's
            badChecksum,
            IcmpMessage(icmp_type::kEchoRequest, 0, id, 2, kData), // a request, not a reply
        };
        for (const Bytes& packet : forged)
            EXPECT_TRUE(injector.send(packet));
    }
    prober.join();
    EXPECT_EQ(first.count, 0u);
    EXPECT_EQ(second.count, 0u) << "took a forged packet from " << second.record.address
                                << " as the reply";
    EXPECT_EQ(second.lastError, kIpReqTimedOut);
}

TEST(SystemStack, answersLoopbackThroughSendEcho)
{
    SKIP_WITHOUT_RAW();
    // Nothing installed: SendEcho reaches the system's stack, which finds a permitted socket.
    const EchoOutcome outcome = Echo("127.0.0.1", nullptr, 300, kData);
    ASSERT_EQ(outcome.count, 1u) << "last error " << outcome.lastError;
    EXPECT_EQ(outcome.data, kData);
}

std::vector<std::uint8_t> packBlock(std::uint32_t timeout, std::uint16_t dataSize)
{
    std::vector<std::uint8_t> block(request_block::kHeaderSize + dataSize, 0);
    const IpAddress destination = Ip("127.0.0.1");
    const std::uint16_t dataOffset = request_block::kHeaderSize;
    const std::uint16_t optionOffset = request_block::kHeaderSize;
    std::memcpy(&block[request_block::kDestination], &destination, 4);
    std::memcpy(&block[request_block::kTimeout], &timeout, 4);
    std::memcpy(&block[request_block::kDataOffset], &dataOffset, 2);
    std::memcpy(&block[request_block::kDataSize], &dataSize, 2);
    std::memcpy(&block[request_block::kOptionOffset], &optionOffset, 2);
    return block;
}

TEST(StackEntry, refusesOtherCallsAndMalformedBlocks)
{
    LinuxEchoStack stack;
    std::vector<std::uint8_t> block = packBlock(100, 4);
    std::uint32_t blockLength = static_cast<std::uint32_t>(block.size());
    std::vector<std::uint8_t> reply(64);
    std::uint32_t replyLength = static_cast<std::uint32_t>(reply.size());

    EXPECT_EQ(stack.control(5, kEchoAction, block.data(), &blockLength, reply.data(), &replyLength),
              50u);
    EXPECT_EQ(
        stack.control(kEchoProtocol, 1, block.data(), &blockLength, reply.data(), &replyLength),
        50u);
    EXPECT_EQ(stack.control(kEchoProtocol, kEchoAction, nullptr, &blockLength, reply.data(),
                            &replyLength),
              87u);
    std::uint32_t shortLength = request_block::kHeaderSize - 1;
    EXPECT_EQ(stack.control(kEchoProtocol, kEchoAction, block.data(), &shortLength, reply.data(),
                            &replyLength),
              87u);
    // The data claims more bytes than the block holds.
    std::uint32_t cutLength = static_cast<std::uint32_t>(block.size()) - 1;
    EXPECT_EQ(stack.control(kEchoProtocol, kEchoAction, block.data(), &cutLength, reply.data(),
                            &replyLength),
              87u);
    std::uint32_t tinyReply = kEchoReplySize - 1;
    EXPECT_EQ(stack.control(kEchoProtocol, kEchoAction, block.data(), &blockLength, reply.data(),
                            &tinyReply),
              kErrorInsufficientBuffer);
}

TEST(EchoPermission, namesAndHint)
{
    EXPECT_STREQ(IcmpSocketKindName(IcmpSocketKind::None), "none");
    EXPECT_STREQ(IcmpSocketKindName(IcmpSocketKind::Datagram), "datagram");
    EXPECT_STREQ(IcmpSocketKindName(IcmpSocketKind::Raw), "raw");
    const std::string hint = EchoPermissionHint();
    EXPECT_EQ(hint.rfind("ICMP sockets are not permitted for this user: allow them with sysctl "
                         "net.ipv4.ping_group_range or grant cap_net_raw",
                         0),
              0u);
    EXPECT_NE(hint.find("sudo sysctl -w net.ipv4.ping_group_range=\"0 2147483647\""),
              std::string::npos);
    // The capability is granted to this very program.
    EXPECT_NE(hint.find("sudo setcap cap_net_raw+p " +
                        std::filesystem::read_symlink("/proc/self/exe").string()),
              std::string::npos);
}

TEST(UnprivilegedUser, echoesOverDatagramSocketWhenItsGroupIsAdmitted)
{
    SKIP_WITHOUT_NAMESPACES();
    NetNamespace ns("dgram");
    ns.sysctl("net.ipv4.ping_group_range", "65534 65534");
    const std::string failure = RunAsUser(&ns, kNobody, kNobody, []() -> std::string {
        if (CheckEchoPermission() != IcmpSocketKind::Datagram)
            return std::string("permission check says ") +
                   IcmpSocketKindName(CheckEchoPermission());
        LinuxEchoStack stack(IcmpSocketKind::Datagram);
        ScopedEchoStack installed(stack);
        EchoOptions options{
            .ttl = 64, .tos = 0x10, .flags = 0, .optionsSize = 0, .optionsData = nullptr};
        for (int i = 0; i < 20; ++i) {
            const EchoOutcome outcome = Echo("127.0.0.1", &options, 300, kData);
            if (outcome.count != 1)
                return "echo " + std::to_string(i) + " yielded 0, last error " +
                       std::to_string(outcome.lastError);
            if (outcome.record.status != kIpSuccess || outcome.record.address != Ip("127.0.0.1"))
                return "wrong status or responder";
            if (outcome.data != kData)
                return "echo data differs";
            if (outcome.record.options.ttl != 64 || outcome.record.options.tos != 0x10)
                return "reply TTL " + std::to_string(outcome.record.options.ttl) + " TOS " +
                       std::to_string(outcome.record.options.tos);
        }
        // IP options go out on a datagram socket too, and the reply's come back.
        const std::uint8_t recordRoute[12] = {7, 11, 4, 0, 0, 0, 0, 0, 0, 0, 0, 1};
        EchoOptions routed{.ttl = 64,
                           .tos = 0,
                           .flags = 0,
                           .optionsSize = sizeof recordRoute,
                           .optionsData = recordRoute};
        const EchoOutcome withOptions = Echo("127.0.0.1", &routed, 300, kData);
        if (withOptions.count != 1)
            return "echo with options yielded 0";
        if (withOptions.options.size() < 7 || withOptions.options[0] != 7)
            return "reply options missing (" + std::to_string(withOptions.options.size()) +
                   " bytes)";
        if (stack.kindInUse() != IcmpSocketKind::Datagram)
            return std::string("went out on ") + IcmpSocketKindName(stack.kindInUse());
        return "";
    });
    EXPECT_EQ(failure, "");
}

TEST(UnprivilegedUser, isDeniedWhenNeitherKindIsPermitted)
{
    SKIP_WITHOUT_NAMESPACES();
    NetNamespace ns("denied");
    ns.sysctl("net.ipv4.ping_group_range", "1 0");
    const std::string failure = RunAsUser(&ns, kNobody, kNobody, []() -> std::string {
        if (CheckEchoPermission() != IcmpSocketKind::None)
            return std::string("permission check says ") +
                   IcmpSocketKindName(CheckEchoPermission());
        LinuxEchoStack stack(IcmpSocketKind::Datagram);
        std::vector<std::uint8_t> block = packBlock(100, 4);
        std::uint32_t blockLength = static_cast<std::uint32_t>(block.size());
        std::vector<std::uint8_t> reply(64);
        std::uint32_t replyLength = static_cast<std::uint32_t>(reply.size());
        const std::uint32_t code = stack.control(kEchoProtocol, kEchoAction, block.data(),
                                                 &blockLength, reply.data(), &replyLength);
        if (code != kErrorAccessDenied)
            return "control yielded " + std::to_string(code);
        if (stack.kindInUse() != IcmpSocketKind::None)
            return "a socket kind is reported in use";

        ScopedEchoStack installed(stack);
        const EchoOutcome outcome = Echo("127.0.0.1", nullptr, 100);
        if (outcome.count != 0 || outcome.lastError != kErrorAccessDenied)
            return "SendEcho yielded " + std::to_string(outcome.count) + ", last error " +
                   std::to_string(outcome.lastError);
        if (outcome.elapsedMs >= 100)
            return "the refusal waited for the timeout";
        return "";
    });
    EXPECT_EQ(failure, "");
}

} // namespace
} // namespace hopwise::test
