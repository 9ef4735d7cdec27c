#include "run/probe_notify.h"

#include "probe/echo_permission.h"
#include "probe/echo_status.h"
#include "probe/resolver.h"
#include "res/texts.h"

#include <string_view>

namespace hopwise {

namespace {

void notify(ProbeMessageTarget* target, std::uint32_t message, std::intptr_t wParam)
{
    if (target != nullptr) {
        target->sendMessage(message, wParam, 0);
    }
}

} // namespace

DestinationText MakeDestinationText(const HostAddress& destination)
{
    DestinationText text{};
    std::size_t length = 0;
    // The prefix and the address (zone names included) are plain ASCII, so widening each byte is
    // the whole conversion.
    const auto append = [&](std::string_view ascii) {
        for (const char c : ascii) {
            if (length + 1 < text.size()) {
                text[length++] = static_cast<char16_t>(static_cast<unsigned char>(c));
            }
        }
    };
    append(res::kDestIpPrefix);
    append(FormatAddress(destination));
    text[length] = u'\0';
    return text;
}

EchoOptions ProbeOptions(std::int32_t ttl)
{
    EchoOptions options;
    options.ttl = static_cast<std::uint8_t>(ttl);
    options.tos = 0;
    options.flags = 0;
    options.optionsSize = 0;
    options.optionsData = nullptr;
    return options;
}

std::uint32_t SendProbe(EchoHandle handle, const HostAddress& destination, std::int32_t ttl,
                        std::int32_t timeoutMs, EchoReply& reply)
{
    const EchoOptions options = ProbeOptions(ttl);
    reply.status = 0;
    return SendEchoTo(handle, destination, nullptr, 0, &options, &reply, kEchoReplySize,
                      static_cast<std::uint32_t>(timeoutMs));
}

bool EchoNotPermitted(std::uint32_t replyCount)
{
    return replyCount == 0 && GetLastEchoError() == kErrorAccessDenied;
}

void NotifyFinished(ProbeMessageTarget* target)
{
    notify(target, WM_PROBE_FINISHED, -1);
}

void NotifyUnresolved(ProbeMessageTarget* target)
{
    notify(target, WM_PROBE_UNRESOLVED, 0);
}

void NotifyDestination(ProbeMessageTarget* target, const HostAddress& destination)
{
    const DestinationText text = MakeDestinationText(destination);
    const char16_t* cell = text.data();
    notify(target, WM_PROBE_DESTINATION, reinterpret_cast<std::intptr_t>(&cell));
}

void NotifyResult(ProbeMessageTarget* target, const ProbeResult& result)
{
    notify(target, WM_PROBE_RESULT, reinterpret_cast<std::intptr_t>(&result));
}

void NotifyNotPermitted(ProbeMessageTarget* target)
{
    const char* cell = EchoPermissionHint();
    notify(target, WM_PROBE_NOT_PERMITTED, reinterpret_cast<std::intptr_t>(&cell));
}

void RunToDestination(ProbeMessageTarget* target, const char* host, FamilyChoice families,
                      const std::function<void(const HostAddress& destination)>& probe)
{
    const HostAddress destination = ResolveHost(host, families);
    if (!destination) {
        NotifyUnresolved(target);
    } else {
        NotifyDestination(target, destination);
        probe(destination);
    }
    NotifyFinished(target);
}

} // namespace hopwise
