#pragma once

// Runs a piece of a test in a forked child, optionally with network and mount namespaces of its
// own and private /etc/hosts and /etc/resolv.conf bound over the real ones: lookups made there
// can only reach what the child set up, never the machine's name server.

#include <functional>
#include <string>

namespace hopwise::test {

struct IsolatedFiles {
    std::string hosts;      // /etc/hosts inside
    std::string resolvConf; // /etc/resolv.conf inside
};

// Why isolation can't be had here (not root, no unshare), or empty.
std::string IsolationSkipReason();

// Runs setup, then (when setup yielded nothing) body in a forked child, killed after timeoutMs.
// Yields the first text either yielded (empty means success) or how the child failed.
std::string RunInChild(const std::function<std::string()>& setup,
                       const std::function<std::string()>& body, int timeoutMs = 10000);

// RunInChild with the child isolated first.
std::string RunIsolated(const IsolatedFiles& files, const std::function<std::string()>& body,
                        int timeoutMs = 10000);

} // namespace hopwise::test
