// The memory bound from /proc, the control-group file system (version 1 or 2) and the
// resource limits. Every file is optional: what cannot be read bounds nothing.
#include "bdd/memory_bound.h"

#include <sys/resource.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <vector>

namespace bdd {

namespace {

// Limits at or above this are "no limit" (version 1 writes a page-rounded LLONG_MAX).
constexpr long long kUnlimited = 1LL << 60;

bool exists(const std::string& path) { return std::ifstream(path).good(); }

// The number after `key` on its line of a "key value [kB]" file, in bytes when the line
// says kB; -1 when there is none.
long long keyed(const std::string& path, const std::string& key) {
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, key.size(), key) != 0) continue;
        std::istringstream fields(line.substr(key.size()));
        long long value = -1;
        std::string unit;
        if (!(fields >> value)) return -1;
        fields >> unit;
        return unit == "kB" ? value * 1024 : value;
    }
    return -1;
}

// A file holding one number, or "max" (no limit, as -1).
long long single(const std::string& path) {
    std::ifstream in(path);
    std::string word;
    if (!(in >> word) || word == "max") return -1;
    try {
        long long value = std::stoll(word);
        return value >= kUnlimited ? -1 : value;
    } catch (...) {
        return -1;
    }
}

struct Group {
    std::string dir;       // the group's directory under the mount
    std::string base;      // the hierarchy's root directory (the walk stops there)
    const char* limit;     // file of the limit
    const char* anonKey;   // line of memory.stat with its anonymous memory
};

// The memory groups of this process, from the lines "id:controllers:path" of
// /proc/self/cgroup. A path missing under the mount (a container with its own view of
// the hierarchy) is taken as the hierarchy's root.
std::vector<Group> groups(const MemorySources& s) {
    std::vector<Group> found;
    std::ifstream in(s.selfCgroup);
    std::string line;
    while (std::getline(in, line)) {
        std::size_t a = line.find(':'), b = a == std::string::npos ? a : line.find(':', a + 1);
        if (b == std::string::npos) continue;
        std::string controllers = line.substr(a + 1, b - a - 1), path = line.substr(b + 1);
        if (path == "/") path.clear();
        std::vector<Group> candidates;
        if (controllers.empty()) {
            for (const char* mount : {"", "/unified"})
                candidates.push_back({"", s.cgroupMount + mount, "memory.max", "anon "});
        } else {
            std::istringstream list(controllers);
            for (std::string c; std::getline(list, c, ',');)
                if (c == "memory")
                    candidates.push_back({"", s.cgroupMount + "/memory", "memory.limit_in_bytes", "total_rss "});
        }
        auto isGroup = [](const Group& g, const std::string& dir) {
            return exists(dir + "/" + g.limit) || exists(dir + "/memory.stat");
        };
        for (Group g : candidates) {
            if (isGroup(g, g.base + path))
                g.dir = g.base + path;
            else if (isGroup(g, g.base))
                g.dir = g.base;
            else
                continue;
            found.push_back(g);
            break;
        }
    }
    return found;
}

// The room under a group's limit and under every group above it.
long long groupHeadroom(const Group& g) {
    long long room = kNoMemoryBound;
    for (std::string dir = g.dir;;) {
        long long limit = single(dir + "/" + g.limit);
        if (limit >= 0) {
            long long anon = std::max(0LL, keyed(dir + "/memory.stat", g.anonKey));
            room = std::min(room, std::max(0LL, limit - anon));
        }
        if (dir.size() <= g.base.size()) break;
        dir.erase(dir.rfind('/'));
    }
    return room;
}

long long rlimitHeadroom(int resource, long long used) {
    rlimit limit{};
    if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kNoMemoryBound;
    long long cur = limit.rlim_cur > static_cast<rlim_t>(kUnlimited) ? kUnlimited : static_cast<long long>(limit.rlim_cur);
    return std::max(0LL, cur - std::max(0LL, used));
}

}  // namespace

long long memoryHeadroom(const MemorySources& s) {
    long long room = kNoMemoryBound;
    if (long long available = keyed(s.meminfo, "MemAvailable:"); available >= 0) room = available;
    for (const Group& g : groups(s)) room = std::min(room, groupHeadroom(g));
    if (s.resourceLimits) {
        room = std::min(room, rlimitHeadroom(RLIMIT_AS, keyed(s.selfStatus, "VmSize:")));
        room = std::min(room, rlimitHeadroom(RLIMIT_DATA, keyed(s.selfStatus, "VmData:")));
    }
    return room;
}

}  // namespace bdd
