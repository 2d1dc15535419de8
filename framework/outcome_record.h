// The outcome record of a batch run ("-record FILE"): JSON Lines, one object per line,
// appended whole with one write each, so that a record read at any time holds whole
// lines only. A run appends a "start" line, one "instance" line per instance and pass
// as it ends, and an "end" line with the run's counts (also when it was interrupted).
// A later run can take the final outcomes of a record instead of running the instances
// again ("-resume FILE").
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "outcomes/instance_facts.h"
#include "outcomes/status.h"

namespace outcome_record {

// One instance line.
struct Instance {
    std::string shard;    // "K/N"
    std::string path;
    int pass = 1;
    std::string kind;
    std::string outcome;  // VALID, INVALID, TIMEOUT, CRASH, MEMOUT, ERROR, ...
    int code = 0;
    std::string polarity;
    double cpuSeconds = 0;
    double wallSeconds = 0;
    long peakKb = 0;
    long nodes = -1;
    int timeout = 0;
    int memoryMB = 0;
    std::string message;
};

struct Start {
    std::string shard;
    std::string input;
    int jobs = 1;
    int taken = 0;  // instance runs whose outcome a resumed record gives
};

struct End {
    std::string shard;
    std::string ended;  // "complete", or the signal that interrupted the run ("SIGINT")
    int instances = 0;  // instances found (the count line's M)
    int successes = 0;  // distinct instances that succeeded (N)
    int runs = 0;       // instance runs of this process
    int taken = 0;      // runs whose outcome came from the resumed record
    int stopped = 0;    // runs stopped by the interruption (not recorded)
    std::vector<std::pair<std::string, int>> counts;  // outcome -> runs, over runs and taken ones
    double cpuSeconds = 0;
    double wallSeconds = 0;
};

std::string line(const Instance& instance);
std::string line(const Start& start);
std::string line(const End& end);

// The final outcomes a record holds: (path, pass) -> the instance line. Lines that are
// not whole instance lines are passed over. A record that cannot be read is a failure.
using Outcomes = std::map<std::pair<std::string, int>, Instance>;
Result<Outcomes> readOutcomes(const std::string& path);

// Reads one instance line; false when the line is none.
bool parseInstance(const std::string& line, Instance* instance);

// JSON string with its quotes, escaped.
std::string quote(const std::string& text);

}  // namespace outcome_record
