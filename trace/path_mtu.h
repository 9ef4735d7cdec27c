#pragma once

// What a trace learns of the path's MTU while it goes (trace --mtu): the size its probes have
// now, after which hop the MTU falls, and which hop lines show it.

#include <cstdint>
#include <span>
#include <vector>

#include "probe/echo_flight.h"

namespace hopwise {

class PathMtuSteps {
public:
    // start: the route's MTU (EchoRouteMtu), 0 when unknown; the probes then begin at the
    // largest packet and the local stack's refusal tells what fits.
    explicit PathMtuSteps(std::uint32_t start);

    // The size of every probe sent from now on.
    std::uint16_t packetSize() const { return static_cast<std::uint16_t>(m_size); }

    // Whether the probe at hop, sent with sentSize, was too large and goes again at the new
    // packetSize(). An MTU no smaller than the probe can't be why: the outcome then stands.
    bool tooLarge(const EchoOutcome& outcome, std::int32_t hop, std::uint32_t sentSize);

    // The MTU the line of hop carries, given the hop's responders, for hops shown in order: the
    // MTU past the first hop shown, then past each hop after which it falls; 0 for none. A
    // router's report sits at the hop that router answered for; one whose router answered no
    // hop, behind the hop before the lowest probe it refused (its own probe expired there).
    std::uint32_t shownAt(std::int32_t hop, std::span<const HostAddress> responders);

private:
    struct Report {
        HostAddress router;
        std::uint32_t mtu = 0;
        std::int32_t before = 0;
    };
    std::uint32_t m_size;
    bool m_startKnown;
    std::uint32_t m_past;          // the MTU past the hops shown so far
    std::uint32_t m_shown = 0;     // the MTU of the last line that carried one
    std::vector<Report> m_reports; // not yet placed at a hop
};

} // namespace hopwise
