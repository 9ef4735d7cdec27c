#include "cli/console_format.h"

#include <cstdio>
#include <string_view>

#include "res/texts.h"
#include "text/utf_text.h"

namespace hopwise::cli {

namespace {

nlohmann::ordered_json textOrNull(const char* text)
{
    return text != nullptr ? nlohmann::ordered_json(text) : nlohmann::ordered_json(nullptr);
}

std::string trimRight(std::string text)
{
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

std::string pingColumns(std::string_view ip, std::string_view time, std::string_view ttl)
{
    char row[96];
    std::snprintf(row, sizeof row, "%-16.*s %-9.*s %.*s", static_cast<int>(ip.size()), ip.data(),
                  static_cast<int>(time.size()), time.data(), static_cast<int>(ttl.size()),
                  ttl.data());
    return trimRight(row);
}

} // namespace

std::string HopLine(const ProbeResult& result)
{
    const std::string address =
        result.m_address != nullptr ? result.m_address : std::string(res::kNoResponse);
    const std::string format(res::kHopFormat);
    char line[64];
    std::snprintf(line, sizeof line, format.c_str(), address.c_str(),
                  static_cast<int>(result.m_reply->roundTripTime));
    return line;
}

std::string HopNameLine(const char* name)
{
    return std::string("    ") + name;
}

std::string PingHeader()
{
    return pingColumns(res::kReplyColumnIp, res::kReplyColumnTime, res::kReplyColumnTtl);
}

std::string PingRow(const ProbeResult& result)
{
    if (result.m_address == nullptr) {
        return pingColumns(res::kNoResponse, "", "");
    }
    return pingColumns(result.m_address, std::to_string(result.m_reply->roundTripTime) + " ms",
                       std::to_string(result.m_reply->options.ttl));
}

std::string DestinationLine(const char16_t* text)
{
    return Utf16ToUtf8(text).value_or(std::string());
}

nlohmann::ordered_json DestinationEvent(const char16_t* text)
{
    const std::string line = DestinationLine(text);
    std::string_view address = line;
    if (address.starts_with(res::kDestIpPrefix)) {
        address.remove_prefix(res::kDestIpPrefix.size());
    }
    return {{"event", "destination"}, {"text", line}, {"address", std::string(address)}};
}

nlohmann::ordered_json ResultEvent(ProbeKind kind, std::int64_t number, const ProbeResult& result)
{
    const EchoReply& reply = *result.m_reply;
    const bool trace = kind == ProbeKind::Trace;
    return {{"event", trace ? "hop" : "trial"},
            {trace ? "hop" : "trial", number},
            {"address", textOrNull(result.m_address)},
            {"name", textOrNull(result.m_name)},
            {"rtt_ms", reply.roundTripTime},
            {"reply_ttl", reply.options.ttl},
            {"status", reply.status}};
}

nlohmann::ordered_json UnresolvedEvent()
{
    return {{"event", "unresolved"}};
}

nlohmann::ordered_json NotPermittedEvent(const char* hint)
{
    return {{"event", "not_permitted"}, {"hint", textOrNull(hint)}};
}

nlohmann::ordered_json FinishedEvent(const char* outcome)
{
    return {{"event", "finished"}, {"outcome", outcome}};
}

} // namespace hopwise::cli
