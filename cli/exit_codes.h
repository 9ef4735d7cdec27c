#pragma once

// hopwise-cli's exit codes, after ping's: a run that was cancelled with Ctrl-C ends by the same
// rule as one that ran to its end. --help and the README list them too (cli_options.cpp).

namespace hopwise::cli {

inline constexpr int kExitAnswered = 0;      // a reply came (ping), the destination answered
inline constexpr int kExitUnanswered = 1;    // no reply, or the destination never answered
inline constexpr int kExitUsage = 2;         // bad arguments
inline constexpr int kExitUnresolved = 3;    // the host names no usable address
inline constexpr int kExitNotPermitted = 4;  // may not send ICMP echo requests, or set-user-ID
inline constexpr int kExitInterrupted = 130; // a second Ctrl-C: left at once

// --help and nothing else.
inline constexpr int kExitHelp = 0;

} // namespace hopwise::cli
