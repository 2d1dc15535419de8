#include "framework/run_summary.h"

#include <algorithm>
#include <csignal>
#include <cstdio>

namespace run_summary {

namespace {

constexpr std::size_t kSlowest = 3;

// The order outcomes are listed in; others follow in the order they first came.
const char* const kOrder[] = {"VALID", "INVALID", "TIMEOUT", "MEMOUT", "CRASH", "ERROR"};

int rank(const std::string& outcome) {
    for (std::size_t i = 0; i < sizeof kOrder / sizeof kOrder[0]; ++i)
        if (outcome == kOrder[i]) return static_cast<int>(i);
    return static_cast<int>(sizeof kOrder / sizeof kOrder[0]);
}

std::string seconds(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2fs", value);
    return text;
}

}  // namespace

std::string signalName(int signal) {
    switch (signal) {
        case SIGINT: return "SIGINT";
        case SIGTERM: return "SIGTERM";
        case SIGHUP: return "SIGHUP";
        default: return "signal " + std::to_string(signal);
    }
}

void Summary::count(const std::string& outcome) {
    for (auto& [name, n] : counts_)
        if (name == outcome) {
            ++n;
            return;
        }
    counts_.push_back({outcome, 1});
}

void Summary::add(const std::string& outcome, bool success, double cpuSeconds, double wallSeconds,
                  const std::string& path) {
    ++runs_;
    if (!success) ++failed_;
    cpu_ += cpuSeconds;
    count(outcome);
    slowest_.push_back({wallSeconds, path, outcome});
    std::stable_sort(slowest_.begin(), slowest_.end(),
                     [](const Slow& a, const Slow& b) { return a.wallSeconds > b.wallSeconds; });
    if (slowest_.size() > kSlowest) slowest_.resize(kSlowest);
}

void Summary::addTaken(const std::string& outcome, bool success) {
    ++taken_;
    if (!success) ++takenFailed_;
    count(outcome);
}

std::vector<std::pair<std::string, int>> Summary::counts() const {
    std::vector<std::pair<std::string, int>> sorted = counts_;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const auto& a, const auto& b) { return rank(a.first) < rank(b.first); });
    return sorted;
}

std::string Summary::text(double wallSeconds, int signal, int stopped) const {
    std::string out;
    if (signal)
        out += "\nInterrupted by " + signalName(signal) + ": " + std::to_string(stopped) + " running instance" +
               (stopped == 1 ? " was" : "s were") + " stopped and not recorded; no further instance was started.";
    out += "\nSummary: " + std::to_string(runs_ + taken_) + " run" + (runs_ + taken_ == 1 ? "" : "s");
    std::string list;
    for (const auto& [name, n] : counts()) list += (list.empty() ? "" : ", ") + std::to_string(n) + " " + name;
    if (!list.empty()) out += ": " + list;
    if (taken_) out += "; " + std::to_string(taken_) + " taken from the resumed record";
    out += ".\nTimes: " + seconds(cpu_) + " processor, " + seconds(wallSeconds) + " wall";
    if (!slowest_.empty()) {
        out += "; slowest:";
        for (std::size_t i = 0; i < slowest_.size(); ++i)
            out += std::string(i ? "," : "") + " " + seconds(slowest_[i].wallSeconds) + " \"" + slowest_[i].path +
                   "\" (" + slowest_[i].outcome + ")";
    }
    return out + ".";
}

}  // namespace run_summary
