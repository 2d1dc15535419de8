// The memory bound read from /proc and the control-group file system: fake files of both
// control-group versions, in a scratch directory laid out like the real ones.
#include "bdd/memory_bound.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/run.h"

namespace {

using testsupport::TempDir;
using testsupport::writeFile;

constexpr long long kMiB = 1LL << 20;

struct Fake {
    TempDir dir;
    bdd::MemorySources sources;
    Fake() {
        sources.meminfo = dir.file("meminfo");
        sources.selfCgroup = dir.file("cgroup");
        sources.cgroupMount = dir.file("fs");
        sources.selfStatus = dir.file("status");
        sources.resourceLimits = false;
        writeFile(sources.meminfo, "MemTotal:       24000000 kB\nMemAvailable:    8388608 kB\n");
    }
    void group(const std::string& dir, const std::string& file, const std::string& content) {
        std::filesystem::create_directories(sources.cgroupMount + dir);
        writeFile(sources.cgroupMount + dir + "/" + file, content);
    }
};

TEST(MemoryBound, AvailableMemoryBoundsWithoutControlGroups) {
    Fake f;
    EXPECT_EQ(bdd::memoryHeadroom(f.sources), 8192 * kMiB);
    f.sources.meminfo = f.dir.file("none");
    EXPECT_EQ(bdd::memoryHeadroom(f.sources), bdd::kNoMemoryBound);
}

TEST(MemoryBound, VersionTwoGroupsCountTheirLimitLessTheirAnonymousMemory) {
    Fake f;
    writeFile(f.sources.selfCgroup, "0::/batch/job7\n");
    // The page cache of the group (file) does not count; every level up to the root does.
    f.group("/batch/job7", "memory.max", "max\n");
    f.group("/batch/job7", "memory.stat", "anon 104857600\nfile 900000000\n");
    f.group("/batch", "memory.max", "1073741824\n");
    f.group("/batch", "memory.stat", "anon 314572800\nfile 5\n");
    EXPECT_EQ(bdd::memoryHeadroom(f.sources), 1024 * kMiB - 300 * kMiB);
    f.group("/batch/job7", "memory.max", "209715200\n");
    EXPECT_EQ(bdd::memoryHeadroom(f.sources), 100 * kMiB);
    // A group over its limit leaves nothing.
    f.group("/batch/job7", "memory.stat", "anon 304857600\n");
    EXPECT_EQ(bdd::memoryHeadroom(f.sources), 0);
}

TEST(MemoryBound, VersionOneMemoryGroupsAndMissingPathsAreRead) {
    Fake f;
    writeFile(f.sources.selfCgroup, "7:cpu,cpuacct:/x\n4:memory:/slurm/uid_1/job_2\n0::/\n");
    f.group("/memory", "memory.limit_in_bytes", "9223372036854771712\n");
    f.group("/memory", "memory.stat", "total_rss 0\n");
    f.group("/memory/slurm/uid_1/job_2", "memory.limit_in_bytes", "536870912\n");
    f.group("/memory/slurm/uid_1/job_2", "memory.stat", "rss 1\ncache 400000000\ntotal_rss 134217728\n");
    EXPECT_EQ(bdd::memoryHeadroom(f.sources), 384 * kMiB);
    // In a container the path of /proc/self/cgroup may not exist under the mount: the
    // hierarchy's root stands for the group then.
    writeFile(f.sources.selfCgroup, "4:memory:/elsewhere\n");
    f.group("/memory", "memory.limit_in_bytes", "268435456\n");
    EXPECT_EQ(bdd::memoryHeadroom(f.sources), 256 * kMiB);
}

TEST(MemoryBound, TheRunningProcessHasABound) {
    // The real files: whatever they say, the result is a size, and the machine's
    // available memory is there on Linux.
    long long room = bdd::memoryHeadroom();
    EXPECT_GE(room, 0);
    EXPECT_LT(room, bdd::kNoMemoryBound);
}

}  // namespace
