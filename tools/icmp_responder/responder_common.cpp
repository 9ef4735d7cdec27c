#include "tools/icmp_responder/responder_common.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace hopwise::responder {

volatile std::sig_atomic_t g_stop = 0;

[[noreturn]] void Fail(const std::string& message)
{
    std::fprintf(stderr, "icmp-responder: %s\n", message.c_str());
    std::exit(2);
}

std::int64_t Nanoseconds(const timespec& t)
{
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

std::int64_t NowNs()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return Nanoseconds(now);
}

// Kernel threads never leave the initial namespace, so kthreadd (pid 2) names it even where pid 1
// can't be looked at; recent kernels also give it a fixed inode number. When no comparison can be
// made at all, assume the worst.
bool InInitialNamespace()
{
    constexpr ino_t kInitialNetInode = 0xEFFFFFF9;
    struct stat self {};
    if (stat("/proc/self/ns/net", &self) != 0 || self.st_ino == kInitialNetInode) {
        return true;
    }
    bool compared = false;
    for (const char* pid : {"1", "2"}) {
        std::ifstream comm(std::string("/proc/") + pid + "/comm");
        std::string name;
        std::getline(comm, name);
        if (std::string(pid) == "2" && name != "kthreadd") {
            continue; // a pid namespace: pid 2 is some process of ours
        }
        struct stat other {};
        if (stat((std::string("/proc/") + pid + "/ns/net").c_str(), &other) == 0) {
            compared = true;
            if (other.st_dev == self.st_dev && other.st_ino == self.st_ino) {
                return true;
            }
        }
    }
    return !compared;
}

} // namespace hopwise::responder
