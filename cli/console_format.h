#pragma once

// How the pages' notifications read on a console: the hop and ping list items as text, and the
// raw fields as JSON for scripts.

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "run/probe_messages.h"

namespace hopwise::cli {

enum class ProbeKind { Trace, Ping, Report };

// The trace page's hop item: "<address> [<rtt> ms]", "No Response [<rtt> ms]" when nothing
// answered.
std::string HopLine(const ProbeResult& result);
// The responder's name, indented under its hop line.
std::string HopNameLine(const char* name);

// The ping page's list columns, and one row per trial. A trial without a reply shows
// "No Response" and leaves Time and TTL empty.
std::string PingHeader();
std::string PingRow(const ProbeResult& result);

// The destination text in UTF-8 ("Dest IP: 127.0.0.1").
std::string DestinationLine(const char16_t* text);

// One JSON object per notification.
nlohmann::ordered_json DestinationEvent(const char16_t* text);
nlohmann::ordered_json ResultEvent(ProbeKind kind, std::int64_t number, const ProbeResult& result);
nlohmann::ordered_json UnresolvedEvent();
nlohmann::ordered_json NotPermittedEvent(const char* hint);
nlohmann::ordered_json FinishedEvent(const char* outcome);

} // namespace hopwise::cli
