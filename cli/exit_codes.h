#pragma once

// hopwise-cli's exit codes; --help lists them too (cli_options.cpp).

namespace hopwise::cli {

inline constexpr int kExitDone = 0;          // the run finished
inline constexpr int kExitCancelled = 1;     // Ctrl-C ended the run early
inline constexpr int kExitUsage = 2;         // bad arguments
inline constexpr int kExitUnresolved = 3;    // the host names no usable address
inline constexpr int kExitNotPermitted = 4;  // may not send ICMP echo requests, or set-user-ID
inline constexpr int kExitInterrupted = 130; // a second Ctrl-C: left at once

} // namespace hopwise::cli
