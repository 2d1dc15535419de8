#include "framework/processors.h"

#include <sched.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace processors {

namespace {

struct Mount {
    std::string root;   // the part of the hierarchy mounted
    std::string point;  // where
    bool v2 = false;
};

std::vector<std::string> split(const std::string& text, char by) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, by)) parts.push_back(part);
    return parts;
}

bool hasCpuController(const std::string& list) {
    for (const std::string& c : split(list, ','))
        if (c == "cpu") return true;
    return false;
}

// The cgroup file systems that carry the cpu controller.
std::vector<Mount> cpuMounts() {
    std::vector<Mount> mounts;
    std::ifstream in("/proc/self/mountinfo");
    std::string line;
    while (std::getline(in, line)) {
        std::size_t dash = line.find(" - ");
        if (dash == std::string::npos) continue;
        std::istringstream head(line.substr(0, dash)), tail(line.substr(dash + 3));
        std::string id, parent, device, root, point, type, source, options;
        head >> id >> parent >> device >> root >> point;
        tail >> type >> source >> options;
        if (type == "cgroup2") mounts.push_back({root, point, true});
        if (type == "cgroup" && hasCpuController(options)) mounts.push_back({root, point, false});
    }
    return mounts;
}

long long readNumber(const std::string& path) {
    std::ifstream in(path);
    long long value = 0;
    return in >> value ? value : 0;
}

// The tightest quota from the group up to the mount point; INT_MAX when none.
int limitBelow(const Mount& mount, const std::string& group) {
    std::string relative = group;
    if (mount.root != "/" && relative.compare(0, mount.root.size(), mount.root) == 0)
        relative = relative.substr(mount.root.size());
    std::string dir = mount.point + (relative == "/" ? "" : relative);
    int best = INT_MAX;
    for (;;) {
        int here = 0;
        if (mount.v2) {
            std::ifstream in(dir + "/cpu.max");
            std::string quota;
            long long period = 0;
            if (in >> quota >> period && quota != "max") here = fromQuota(std::atoll(quota.c_str()), period);
        } else {
            here = fromQuota(readNumber(dir + "/cpu.cfs_quota_us"), readNumber(dir + "/cpu.cfs_period_us"));
        }
        if (here > 0 && here < best) best = here;
        if (dir.size() <= mount.point.size()) break;
        std::size_t slash = dir.rfind('/');
        if (slash == std::string::npos || slash < mount.point.size()) break;
        dir = dir.substr(0, slash);
    }
    return best;
}

int quotaLimit() {
    std::vector<Mount> mounts = cpuMounts();
    if (mounts.empty()) return INT_MAX;
    std::ifstream in("/proc/self/cgroup");
    std::string line;
    int best = INT_MAX;
    while (std::getline(in, line)) {
        std::size_t first = line.find(':'), second = line.find(':', first + 1);
        if (first == std::string::npos || second == std::string::npos) continue;
        std::string controllers = line.substr(first + 1, second - first - 1), group = line.substr(second + 1);
        bool v2 = controllers.empty();
        if (!v2 && !hasCpuController(controllers)) continue;
        for (const Mount& mount : mounts)
            if (mount.v2 == v2) {
                int limit = limitBelow(mount, group);
                if (limit < best) best = limit;
            }
    }
    return best;
}

}  // namespace

int fromQuota(long long quota, long long period) {
    if (quota <= 0 || period <= 0) return 0;
    long long whole = (quota + period - 1) / period;
    return whole > INT_MAX ? INT_MAX : static_cast<int>(whole < 1 ? 1 : whole);
}

int usable() {
    int count = 0;
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) count = CPU_COUNT(&set);
    if (count <= 0) {
        long online = sysconf(_SC_NPROCESSORS_ONLN);
        count = online > 0 && online < INT_MAX ? static_cast<int>(online) : 1;
    }
    int quota = quotaLimit();
    return quota < count ? quota : count;
}

}  // namespace processors
