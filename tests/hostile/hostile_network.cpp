#include "tests/hostile/hostile_network.h"

#include <mutex>
#include <sstream>
#include <stdexcept>

#include "probe/linux/linux_echo_stack.h"
#include "tests/probe/real_echo.h"
#include "tests/support/isolated_process.h"
#include "tests/support/scripted_echo_stack.h"

namespace hopwise::test {

using namespace std::chrono_literals;

HostileNetwork::HostileNetwork(int base, IcmpSocketKind kind)
    : m_base(base), m_kind(kind), m_client(std::make_unique<NetNamespace>("hclient")),
      m_target(std::make_unique<NetNamespace>("htarget"))
{
    LinkNamespaces(*m_client, clientAddress() + "/24", *m_target, targetAddress() + "/24");
    m_target->sysctl("net.ipv4.icmp_echo_ignore_all", "1");
    // Forged sources and fake routers are on the link; nothing should filter them out.
    m_client->sysctl("net.ipv4.conf.all.rp_filter", "0");
    m_client->sysctl("net.ipv4.conf.default.rp_filter", "0");
    if (kind == IcmpSocketKind::Datagram) {
        m_client->sysctl("net.ipv4.ping_group_range", "0 2147483647");
    }
}

std::string HostileNetwork::kernelEchoSkipReason() const
{
    static std::once_flag once;
    static std::string reason;
    std::call_once(once, [this] {
        std::string output;
        if (m_client->exec("ping -n -c 1 -W 0.1 " + targetAddress(), &output) == 0) {
            reason = "this kernel answers echo requests despite net.ipv4.icmp_echo_ignore_all=1 "
                     "in the target namespace, so icmp-responder can't own the answers";
        }
    });
    return reason;
}

std::string HostileNetwork::clientAddress() const
{
    return "10." + std::to_string(m_base) + ".0.1";
}

std::string HostileNetwork::targetAddress() const
{
    return "10." + std::to_string(m_base) + ".0.2";
}

std::string HostileNetwork::spareAddress(int n) const
{
    return "10." + std::to_string(m_base) + ".0." + std::to_string(100 + n);
}

std::string HostileNetwork::inClient(const std::function<std::string()>& body, int timeoutMs) const
{
    if (m_kind == IcmpSocketKind::Raw) {
        return RunAsUser(
            m_client.get(), 0, 0,
            [&body] {
                LinuxEchoStack raw(IcmpSocketKind::Raw);
                ScopedEchoStack installed(raw);
                return body();
            },
            timeoutMs);
    }
    return RunAsUser(
        m_client.get(), kUnprivilegedId, kUnprivilegedId,
        [&body] {
            if (CheckEchoPermission() != IcmpSocketKind::Datagram) {
                return std::string("the unprivileged child can't open a datagram ICMP socket");
            }
            return body();
        },
        timeoutMs);
}

std::vector<std::string> HostileNetwork::cliPrefix() const
{
    std::vector<std::string> prefix{"ip", "netns", "exec", m_client->name()};
    if (m_kind == IcmpSocketKind::Datagram) {
        const std::string id = std::to_string(kUnprivilegedId);
        prefix.insert(prefix.end(),
                      {"setpriv", "--reuid=" + id, "--regid=" + id, "--clear-groups"});
    }
    return prefix;
}

Responder::Responder(const NetNamespace& ns, const std::vector<std::string>& args)
    : m_process([&] {
          std::vector<std::string> argv{"ip", "netns", "exec", ns.name(), HOPWISE_RESPONDER_PATH};
          argv.insert(argv.end(), args.begin(), args.end());
          return argv;
      }())
{
    if (!m_process.waitForOutput("ready\n", 5s)) {
        const CliOutcome failed = m_process.finish(1s);
        throw std::runtime_error("icmp-responder did not start: " + failed.out + failed.err);
    }
}

CliOutcome Responder::finish()
{
    return m_process.finish(10s);
}

std::string EncodeTimes(const std::vector<std::uint32_t>& times)
{
    std::string text = "times";
    for (const std::uint32_t time : times) {
        text += " " + std::to_string(time);
    }
    return text;
}

std::vector<std::uint32_t> DecodeTimes(const std::string& text)
{
    std::istringstream in(text);
    std::string word;
    std::vector<std::uint32_t> times;
    if (!(in >> word) || word != "times") {
        return times;
    }
    for (std::uint32_t time = 0; in >> time;) {
        times.push_back(time);
    }
    return times;
}

} // namespace hopwise::test
