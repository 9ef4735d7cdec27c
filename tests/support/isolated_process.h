#pragma once

// Runs a piece of a test in a child process with a network namespace and a mount namespace of
// its own, with private /etc/hosts and /etc/resolv.conf bound over the real ones. Lookups made
// there can only reach what the child set up, never the machine's configured nameserver.

#include <functional>
#include <string>

namespace hopwise::test {

struct IsolatedFiles {
    std::string hosts;      // contents of /etc/hosts inside
    std::string resolvConf; // contents of /etc/resolv.conf inside
};

// Why isolation can't be had here (not root, no unshare), or empty.
std::string IsolationSkipReason();

// Runs setup, then (when setup yielded nothing) body in a forked child. Yields the first text
// either of them yielded (empty means success) or how the child failed; the child is killed
// after timeoutMs.
std::string RunInChild(const std::function<std::string()>& setup,
                       const std::function<std::string()>& body, int timeoutMs = 10000);

// Runs body in the isolated child; yields body's text (empty means success) or a description of
// how the child failed. The child is killed after timeoutMs.
std::string RunIsolated(const IsolatedFiles& files, const std::function<std::string()>& body,
                        int timeoutMs = 10000);

} // namespace hopwise::test
