// How much memory this process may still take: what the machine has available, the room
// under the memory limits of its control groups and under its resource limits. The
// engine bounds its node table by it, so that a certificate too large for the machine
// ends with MEMOUT rather than with the kernel's out-of-memory killer.
#pragma once

#include <climits>
#include <string>

namespace bdd {

constexpr long long kNoMemoryBound = LLONG_MAX;

// Where the bounds are read: the running system's files by default; tests point them at
// files of their own.
struct MemorySources {
    std::string meminfo = "/proc/meminfo";
    std::string selfCgroup = "/proc/self/cgroup";
    std::string cgroupMount = "/sys/fs/cgroup";
    std::string selfStatus = "/proc/self/status";
    bool resourceLimits = true;  // RLIMIT_AS and RLIMIT_DATA of this process
};

// Bytes the process may still allocate: the least of the machine's MemAvailable, the
// room under the memory limit of its control group and of every group above it (the
// limit less the group's anonymous memory: page cache is reclaimed, not counted), the
// room under RLIMIT_AS (less VmSize) and under RLIMIT_DATA (less VmData); 0 when one is
// already used up, kNoMemoryBound when nothing can be read.
long long memoryHeadroom(const MemorySources& sources = {});

}  // namespace bdd
