#pragma once

#include <cstdint>

namespace hopwise {

// Last-error codes that SendEcho leaves on its thread. The numbers are the conventional ones of
// the platform the service was first written for; callers compare against these names.
inline constexpr std::uint32_t kErrorAccessDenied = 5; // neither ICMP socket kind is permitted
inline constexpr std::uint32_t kErrorNotEnoughMemory = 8;
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;
inline constexpr std::uint32_t kErrorOperationAborted = 995; // the thread's probe interrupt fired

// Status codes of a reply record (and of the last error when no reply came). The engine passes
// them on; nothing above it interprets them.
inline constexpr std::uint32_t kIpSuccess = 0;
inline constexpr std::uint32_t kIpStatusBase = 11000;
inline constexpr std::uint32_t kIpBufferTooSmall = 11001;
inline constexpr std::uint32_t kIpDestNetUnreachable = 11002;
inline constexpr std::uint32_t kIpDestHostUnreachable = 11003;
inline constexpr std::uint32_t kIpDestProtUnreachable = 11004;
inline constexpr std::uint32_t kIpDestPortUnreachable = 11005;
inline constexpr std::uint32_t kIpNoResources = 11006;
inline constexpr std::uint32_t kIpBadOption = 11007;
inline constexpr std::uint32_t kIpHardwareError = 11008;
inline constexpr std::uint32_t kIpPacketTooBig = 11009;
inline constexpr std::uint32_t kIpReqTimedOut = 11010;
inline constexpr std::uint32_t kIpBadRequest = 11011;
inline constexpr std::uint32_t kIpBadRoute = 11012;
inline constexpr std::uint32_t kIpTtlExpiredTransit = 11013;
inline constexpr std::uint32_t kIpTtlExpiredReassem = 11014;
inline constexpr std::uint32_t kIpParamProblem = 11015;
inline constexpr std::uint32_t kIpSourceQuench = 11016;
inline constexpr std::uint32_t kIpGeneralFailure = 11050;

} // namespace hopwise
