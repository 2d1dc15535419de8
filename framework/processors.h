// How many processors a run may use: those of its CPU affinity, no more than its
// control group's CPU quota allows (cgroup v2 "cpu.max", v1 "cpu.cfs_quota_us").
#pragma once

namespace processors {

// At least 1.
int usable();

// The whole processors a quota of `quota` per `period` gives (rounded up; at least 1),
// or 0 when there is no quota.
int fromQuota(long long quota, long long period);

}  // namespace processors
