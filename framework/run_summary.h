// What a batch run did, counted as its instances end: runs per outcome, processor and
// wall time, the slowest runs. Printed at the end of a run that asks for it and of an
// interrupted one, and written into the outcome record's end line.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace run_summary {

struct Slow {
    double wallSeconds = 0;
    std::string path;
    std::string outcome;
};

class Summary {
  public:
    // A run that ended in this process.
    void add(const std::string& outcome, bool success, double cpuSeconds, double wallSeconds,
             const std::string& path);
    // A run whose outcome the resumed record gives.
    void addTaken(const std::string& outcome, bool success);

    int runs() const { return runs_; }
    int failed() const { return failed_; }
    int taken() const { return taken_; }
    double cpuSeconds() const { return cpu_; }
    // Outcome -> runs, ended and taken ones together, in a fixed order (VALID first).
    std::vector<std::pair<std::string, int>> counts() const;

    // The printed summary: "\nSummary: ...\nTimes: ..." (with `wallSeconds` for the run),
    // after "\nInterrupted by SIG...: ..." when `signal` interrupted it.
    std::string text(double wallSeconds, int signal, int stopped) const;

  private:
    void count(const std::string& outcome);
    std::vector<std::pair<std::string, int>> counts_;
    std::vector<Slow> slowest_;  // at most kSlowest, slowest first
    int runs_ = 0;
    int failed_ = 0;
    int taken_ = 0;
    int takenFailed_ = 0;
    double cpu_ = 0;
};

// "SIGINT", "SIGTERM", "SIGHUP", or "signal N".
std::string signalName(int signal);

}  // namespace run_summary
