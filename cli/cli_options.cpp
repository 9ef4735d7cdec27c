#include "cli/cli_options.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
#include <string_view>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/exit_codes.h"
#include "cli/option_text.h"
#include "ping/ping_inputs.h"
#include "res/texts.h"

namespace hopwise::cli {

namespace {

constexpr std::int32_t kMaxTimeoutMs = 600000;
constexpr double kMaxTimeoutSeconds = kMaxTimeoutMs / 1000.0;
constexpr double kMaxIntervalSeconds = 3600;
constexpr double kMaxDeadlineSeconds = 2000000; // the milliseconds fit 32 bits

std::string exitCodeHelp()
{
    std::string help = "Exit codes:\n";
    help += "  0    a reply came (ping), the destination answered (trace, report)\n";
    help += "  1    no reply came, the destination never answered (also after Ctrl-C)\n";
    help += "  2    bad usage\n";
    help += "  3    " + std::string(res::kCantResolveName) + "\n";
    help += "  4    ICMP echo not permitted, or installed set-user-ID\n";
    help += "  130  a second Ctrl-C: left at once\n";
    return help;
}

std::int32_t secondsToMs(double seconds)
{
    return static_cast<std::int32_t>(std::llround(seconds * 1000));
}

// -Q as ping takes it: decimal, or hexadecimal after 0x (a leading 0 is no octal here).
ValueCheck typeOfService()
{
    return {"the type of service", "a whole number from 0 to 255, or 0x0 to 0xff",
            [](std::string& value) {
                const bool hex = value.size() > 2 && value[0] == '0' && (value[1] | 0x20) == 'x';
                const std::string digits = hex ? value.substr(2) : value;
                const bool wellFormed =
                    !digits.empty() && digits.size() <= 4 &&
                    std::all_of(digits.begin(), digits.end(), [hex](unsigned char c) {
                        return hex ? std::isxdigit(c) != 0 : std::isdigit(c) != 0;
                    });
                const unsigned long number =
                    wellFormed ? std::stoul(digits, nullptr, hex ? 16 : 10) : 256;
                if (number > 255) {
                    return false;
                }
                value = std::to_string(number);
                return true;
            }};
}

// What ping -I takes for an address rather than an interface name: dotted IPv4, or text with a
// colon (an IPv6 address, perhaps with its zone).
bool isAddressText(const std::string& text)
{
    in_addr ipv4{};
    return text.find(':') != std::string::npos || inet_pton(AF_INET, text.c_str(), &ipv4) == 1;
}

// ping's options beyond the page's, spelt as iputils ping spells them.
void addPingOptions(CLI::App& ping, CliOptions& options, double& deadlineSeconds,
                    std::string& interfaceOrSource, std::string& pathMtu)
{
    AddValue(ping, "-w,--deadline", deadlineSeconds,
             {kGroupProbing, "S",
              "Seconds after which the run ends, decimals allowed; with -c it ends at N "
              "replies, a router's report or the deadline, whichever comes first",
              ""},
             Seconds("the deadline", 0.001, kMaxDeadlineSeconds));
    AddValue(ping, "-s,--size", options.payloadSize,
             {kGroupProbing, "SIZE",
              "Data bytes in each request after the 8-byte ICMP header; each reply's bytes are "
              "shown",
              "0"},
             WholeNumber("the size", 0, kMaxPingPayload));
    AddValue(ping, "-M", pathMtu,
             {kGroupProbing, "do|dont|want",
              "Path MTU discovery: do (never fragment; a request too large reports the MTU), "
              "dont (fragment), want (fragment above the path's MTU)",
              ""},
             OneOf("the path MTU mode", {"do", "dont", "want"}));
    AddValue(ping, "-Q,--tos", options.tos,
             {kGroupProbing, "TOS", "Type of service (IPv6: traffic class)", "0"}, typeOfService());
    AddValue(ping, "-I,--interface", interfaceOrSource,
             {kGroupAddresses, "IFACE|ADDR",
              "Send through this interface (a name) or from this local address", ""},
             ValueCheck{"the interface or address", "a name or an address",
                        [](std::string& value) { return !value.empty(); }});
    AddFlag(ping, "-D", options.unixTimes,
            {kGroupOutput, "", "Begin each line with the time: [seconds since 1970]", ""});
    AddFlag(ping, "-O", options.reportOutstanding,
            {kGroupOutput, "", "Say when a request had no answer before the next one left", ""});
}

// ping: --timeout in milliseconds as before, and -W in seconds as ping users type it; only one
// of the two.
void addTimeouts(CLI::App& command, CliOptions& options, const std::string& secondsName,
                 double& seconds)
{
    CLI::Option* inSeconds = AddValue(
        command, secondsName, seconds,
        {kGroupProbing, "S", "Seconds to wait for each reply, decimals allowed", "1 second"},
        Seconds("the time to wait", 0.001, kMaxTimeoutSeconds));
    AddValue(command, "--timeout", options.timeoutMs,
             {kGroupProbing, "MS", "The same in milliseconds", ""},
             WholeNumber("the time to wait", 1, kMaxTimeoutMs))
        ->excludes(inSeconds);
}

// trace, report: -w MAX in seconds is a fixed wait, -w MAX,HERE,NEAR the adaptive one
// (trace/adaptive_wait.h); --timeout MS sets MAX alone and keeps the factors. Only one of the two.
constexpr double kMaxWaitFactor = 1000;

ValueCheck waitCheck()
{
    const ValueCheck seconds = Seconds("the longest wait", 0.001, kMaxTimeoutSeconds);
    return {"the wait",
            seconds.accepted + ", alone or followed by ,HERE,NEAR: two factors from 0 to 1000",
            [seconds](std::string& value) {
                std::vector<std::string> fields = CLI::detail::split(value, ',');
                if (fields.size() != 1 && fields.size() != 3) {
                    return false;
                }
                if (!seconds.accepts(fields[0])) {
                    return false;
                }
                for (std::size_t i = 1; i < fields.size(); ++i) {
                    double factor = 0;
                    if (!CLI::detail::lexical_cast(fields[i], factor) ||
                        !(factor >= 0 && factor <= kMaxWaitFactor)) {
                        return false;
                    }
                }
                return true;
            }};
}

void addWaits(CLI::App& command, CliOptions& options, std::string& wait)
{
    CLI::Option* inSeconds =
        AddValue(command, "-w,--wait", wait,
                 {kGroupProbing, "MAX[,HERE,NEAR]",
                  "Seconds to wait for each reply at most, decimals allowed; a probe is given "
                  "up HERE times the round trip of a later answer at its hop, NEAR times one at "
                  "a later hop; one number alone is a fixed wait",
                  "1,3,10"},
                 waitCheck());
    AddValue(command, "--timeout", options.timeoutMs,
             {kGroupProbing, "MS", "The longest wait in milliseconds (the factors stay)", ""},
             WholeNumber("the time to wait", 1, kMaxTimeoutMs))
        ->excludes(inSeconds);
}

void takeWait(const std::string& wait, CliOptions& options)
{
    if (wait.empty()) {
        return;
    }
    const std::vector<std::string> fields = CLI::detail::split(wait, ',');
    std::vector<double> values(3, 0.0);
    for (std::size_t i = 0; i < fields.size() && i < values.size(); ++i) {
        CLI::detail::lexical_cast(fields[i], values[i]);
    }
    options.timeoutMs = secondsToMs(values[0]);
    options.waitHere = values[1];
    options.waitNear = values[2];
}

void addMaxHop(CLI::App& command, CliOptions& options)
{
    AddValue(command, "--max-hop", options.maxHop,
             {kGroupProbing, "N", "Hop limit: hops 1 to N-1 are probed, TTL = hop", "20"},
             WholeNumber("the hop limit", 0, 256));
}

void addParallel(CLI::App& command, CliOptions& options, const std::string& names,
                 const std::string& text)
{
    AddValue(command, names, options.parallel, {kGroupProbing, "N", text, "16"},
             WholeNumber("the number of hops probed at once", 1, 255));
}

void addNames(CLI::App& command, CliOptions& options, bool& noNames)
{
    CLI::Option* resolve = AddFlag(command, "--resolve", options.resolve,
                                   {kGroupOutput, "", "Look up each responder's name", ""});
    AddFlag(command, "-n", noNames,
            {kGroupOutput, "", "Show addresses only, no names (the default)", ""})
        ->excludes(resolve);
}

// trace, report: UDP or TCP probes instead of ICMP echo, to a port (traceroute's -U, -T, -p).
void addMethods(CLI::App& command, CliOptions& options)
{
    CLI::Option* udp =
        AddFlag(command, "-U,--udp", [&options] { options.method.protocol = ProbeProtocol::Udp; },
                {kGroupProbing, "", "Probe with UDP datagrams to a port (default 33434)", ""});
    AddFlag(command, "-T,--tcp", [&options] { options.method.protocol = ProbeProtocol::Tcp; },
            {kGroupProbing, "",
             "Probe with TCP SYNs to a port (default 443); a SYN-ACK or a reset is the "
             "destination's answer",
             ""})
        ->excludes(udp);
    AddValue(command, "-p,--port", options.method.port,
             {kGroupProbing, "PORT", "The destination port of -U or -T", ""},
             WholeNumber("the port", 1, 65535));
}

void addCommon(CLI::App& command, CliOptions& options)
{
    AddFlag(command, "--json", options.json,
            {kGroupOutput, "", "One JSON object per line (see man hopwise-cli)", ""});
    CLI::Option* ipv4 =
        AddFlag(command, "-4", [&options] { options.families = FamilyChoice::Ipv4Only; },
                {kGroupAddresses, "", "IPv4 only: a name's IPv4 address, no IPv6 address", ""});
    AddFlag(command, "-6", [&options] { options.families = FamilyChoice::Ipv6Only; },
            {kGroupAddresses, "", "IPv6 only: a name's IPv6 address, no IPv4 address", ""})
        ->excludes(ipv4);
    AddOperand(command, "HOST", options.host,
               {kGroupAddresses, "",
                "A host name, a dotted IPv4 address or an IPv6 address (fe80::1%eth0 with its "
                "zone); a host that begins with '-' goes after --",
                ""});
}

CLI::App* addCommand(CLI::App& app, const std::string& name, const std::string& description,
                     const std::string& examples)
{
    CLI::App* command = app.add_subcommand(name, description);
    command->footer("Examples:\n" + examples + "\n" + exitCodeHelp());
    AddHelpAndVersion(*command);
    return command;
}

} // namespace

bool WantsJson(int argc, const char* const* argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") {
            break;
        }
        if (arg == "--json") {
            return true;
        }
    }
    return false;
}

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv)
{
    CliOptions options;
    std::string count(res::kInfiniteTrials);
    double intervalSeconds = 1;
    double timeoutSeconds = 0;
    std::string wait; // trace, report: -w
    bool noNames = false;

    CLI::App app("Trace the route to an IPv4 or IPv6 host, or ping it, with ICMP echo requests.",
                 "hopwise-cli");
    app.footer("'hopwise-cli COMMAND --help' lists a command's options.\n\n" + exitCodeHelp());
    app.require_subcommand(1);
    AddHelpAndVersion(app);

    CLI::App* trace = addCommand(app, "trace", "List the routers on the way to HOST.",
                                 "  hopwise-cli trace -w 0.5 --resolve 10.0.0.1\n"
                                 "  hopwise-cli trace -6 --resolve example.org\n");
    addMaxHop(*trace, options);
    AddValue(*trace, "-f,--first-hop", options.firstHop,
             {kGroupProbing, "N", "The first hop probed; hops before it are left out", "1"},
             WholeNumber("the first hop", 1, 255));
    AddValue(*trace, "-q,--queries", options.probesPerHop,
             {kGroupProbing, "N", "Probes per hop, each shown on the hop's line", "1"},
             WholeNumber("the number of probes per hop", 1, 10));
    addParallel(*trace, options, "-N,--parallel",
                "Probes in flight at once; 1 walks one hop after the other, as the window does");
    addWaits(*trace, options, wait);
    addNames(*trace, options, noNames);
    addMethods(*trace, options);
    AddValue(
        *trace, "-i,--interface", options.interface,
        {kGroupAddresses, "IFACE", "Send through this interface only", ""},
        ValueCheck{"the interface", "a name", [](std::string& value) { return !value.empty(); }});
    AddValue(
        *trace, "-s,--source", options.source,
        {kGroupAddresses, "SOURCE", "Send from this local address", ""},
        ValueCheck{"the source", "an address", [](std::string& value) { return !value.empty(); }});
    // Probes of any method take a size (EchoProbe::packetSize), but a TCP SYN can't carry one
    // without privilege, and the UDP flight sends its tag alone: both refuse --mtu.
    CLI::Option* mtu =
        AddFlag(*trace, "--mtu", options.traceMtu,
                {kGroupProbing, "",
                 "Find the path's MTU: probes as large as the route takes, never fragmented; a hop "
                 "after which the MTU falls shows it (pmtu N)",
                 ""});
    AddValue(*trace, "--flows", options.flows,
             {kGroupProbing, "N",
              "Trace N flows of -U or -T, each from its own source port; a hop the flows see "
              "through different routers lists each",
              "1"},
             WholeNumber("the number of flows", 1, 16));
    trace->get_option("--tcp")->excludes(mtu);
    trace->get_option("--udp")->excludes(mtu);
    addCommon(*trace, options);

    CLI::App* ping = addCommand(app, "ping", "Send echo requests to HOST.",
                                "  hopwise-cli ping -c 4 -i 0.2 10.0.0.1\n"
                                "  hopwise-cli ping -c 4 fe80::1%eth0\n");
    // The page's words for "until cancelled", in any case; the short one is the one named.
    ValueCheck untilCancelled = OneOf(
        "the count", {std::string(res::kInfiniteTrials), std::string(res::kInfiniteTrialsLong)});
    untilCancelled.accepted = res::kInfiniteTrials;
    AddValue(*ping, "-c,--count", count,
             {kGroupProbing, "N|inf", "Requests to send; inf sends until Ctrl-C", "inf"},
             Either(WholeNumber("the count", 1, std::numeric_limits<std::int32_t>::max()),
                    untilCancelled));
    AddValue(*ping, "-i,--interval", intervalSeconds,
             {kGroupProbing, "S",
              "Seconds from one request to the next, decimals allowed; 0 sends back to back",
              "1 second"},
             Seconds("the interval", 0, kMaxIntervalSeconds));
    AddValue(*ping, "-t,--ttl", options.ttl,
             {kGroupProbing, "N", "Time to live of each request", "20"},
             WholeNumber("the time to live", 1, 255));
    addTimeouts(*ping, options, "-W", timeoutSeconds);
    AddFlag(*ping, "-q,--quiet", options.quiet, {kGroupOutput, "", "Print the summary only", ""});
    double deadlineSeconds = 0;
    std::string interfaceOrSource;
    std::string pathMtu;
    addPingOptions(*ping, options, deadlineSeconds, interfaceOrSource, pathMtu);
    addCommon(*ping, options);

    CLI::App* report = addCommand(
        app, "report", "Probe every hop to HOST once per cycle; print loss and times per hop.",
        "  hopwise-cli report --cycles 20 --live 10.0.0.1\n"
        "  hopwise-cli report -c 5 ::1\n");
    AddValue(*report, "-c,--cycles", options.cycles, {kGroupProbing, "N", "Number of cycles", "10"},
             WholeNumber("the number of cycles", 1, 1000000));
    AddValue(*report, "-i,--interval", intervalSeconds,
             {kGroupProbing, "S",
              "Seconds from the start of one cycle to the next, decimals allowed", "1 second"},
             Seconds("the interval", 0, kMaxIntervalSeconds));
    addMaxHop(*report, options);
    addParallel(*report, options, "--parallel", "Probes in flight at once");
    addWaits(*report, options, wait);
    AddFlag(*report, "--live", options.live,
            {kGroupOutput, "", "Redraw the table after every cycle (on a terminal)", ""});
    addNames(*report, options, noNames);
    addMethods(*report, options);
    addCommon(*report, options);

    ParsedCommandLine parsed;
    const std::vector<std::string> args(argv + std::min(argc, 1), argv + argc);
    std::string complaint;
    try {
        app.parse(argc, argv);
        complaint = Complaint(app, args, nullptr);
    } catch (const CLI::CallForHelp&) {
        const CLI::App* command = ParsedCommand(app);
        parsed.out = CommandHelp(command != nullptr ? *command : app);
        parsed.exitCode = kExitHelp;
        return parsed;
    } catch (const CLI::CallForVersion&) {
        parsed.out = "hopwise-cli " HOPWISE_VERSION "\n";
        parsed.exitCode = kExitHelp;
        return parsed;
    } catch (...) {
        complaint = Complaint(app, args, std::current_exception());
    }
    // -p and --flows are -U's or -T's: alone they would change nothing an ICMP echo sends.
    for (const CLI::App* command : {trace, report}) {
        for (const char* const needy : {"-p", "--flows"}) {
            if (complaint.empty() && command->parsed() && command->get_option_no_throw(needy) &&
                command->count(needy) != 0 && options.method.protocol == ProbeProtocol::IcmpEcho) {
                const std::string path = "hopwise-cli " + command->get_name();
                complaint = path;
                complaint.append(": ").append(needy).append(" needs -U or -T\nTry '");
                complaint.append(path).append(" --help'.");
            }
        }
    }
    if (!complaint.empty()) {
        parsed.err = complaint + '\n';
        parsed.exitCode = kExitUsage;
        return parsed;
    }
    if (timeoutSeconds > 0) {
        options.timeoutMs = secondsToMs(timeoutSeconds);
    }
    takeWait(wait, options);
    if (ping->parsed()) {
        options.kind = ProbeKind::Ping;
        options.count =
            std::isdigit(static_cast<unsigned char>(count.back())) ? std::stoi(count) : -1;
        options.intervalMs = secondsToMs(intervalSeconds);
        if (deadlineSeconds > 0) {
            options.deadlineMs = secondsToMs(deadlineSeconds);
        }
        if (!interfaceOrSource.empty()) {
            (isAddressText(interfaceOrSource) ? options.source : options.interface) =
                interfaceOrSource;
        }
        options.showBytes = ping->count("-s") != 0;
        std::transform(pathMtu.begin(), pathMtu.end(), pathMtu.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        options.pathMtu = pathMtu == "do"     ? PathMtuMode::Do
                          : pathMtu == "dont" ? PathMtuMode::Dont
                          : pathMtu == "want" ? PathMtuMode::Want
                                              : PathMtuMode::Default;
    }
    if (report->parsed()) {
        options.kind = ProbeKind::Report;
        options.intervalMs = secondsToMs(intervalSeconds);
    }
    parsed.options = options;
    return parsed;
}

} // namespace hopwise::cli
