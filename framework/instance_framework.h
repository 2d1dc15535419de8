// The record through which the application drives the instance framework: flags and
// callbacks, filled by the entry. The framework knows nothing of certificates; it
// reaches the application only through this record.
#pragma once

#include <functional>
#include <string>

#include "framework/progress.h"

// Room the outcomeName callback may fill, terminating zero included.
constexpr int kOutcomeNameSize = 20;

// What a configuration line decides for the parent of its pass: the giveup rules, which
// act on the pass, and the memory limit, which is set before the child starts.
struct LineRules {
    int giveup = 0;
    int autoGiveup = 0;
    int memoryMB = 0;  // 0: the run's limit
};

struct InstanceFramework {
    int batchMode = 0;   // 1: each instance runs in a forked child
    int giveup = 0;      // batch giveup rule, manual form
    int autoGiveup = 0;  // batch giveup rule, automatic form
    int report = 0;      // call the report hooks on timeout, memory-out and crash
    int timeout = 0;     // seconds per instance in batch mode, unless a configuration line says otherwise
    std::string configName;  // per-directory configuration file
    int jobs = 1;            // batch children at once (1: one after the other)
    int shardIndex = 0;      // a batch run takes instance i of its order when
    int shardCount = 1;      // i mod shardCount = shardIndex
    int memoryMB = 0;        // address space of each instance's process, in MB (0: no limit)
    std::string recordPath;  // outcome record to append to (empty: none)
    std::string resumePath;  // record whose final outcomes stand for the instances' runs (empty: none)
    progress::Mode progress = progress::Mode::Auto;
    int progressSeconds = 60;  // between two progress lines of progress::Mode::Lines
    int summary = 0;           // print the summary at the end of a batch run

    std::function<int(const std::string& path)> processInstance;
    std::function<bool(const std::string& path)> isInstance;
    // The name alone makes the path an instance (nothing is opened); for a directory
    // entry that is no regular file, which is skipped with a line that says so.
    std::function<bool(const std::string& path)> namedLikeInstance;  // may be empty
    std::function<bool(int code)> isSuccess;
    std::function<void(char* buffer, int code)> outcomeName;  // at most kOutcomeNameSize bytes
    std::function<int(const std::string& path)> sortKey;
    std::function<void(const std::string& path)> onTimeout;              // may be empty
    std::function<void(const std::string& path)> onMemout;               // may be empty
    std::function<void(const std::string& path, int signal)> onCrash;    // may be empty

    // Applies a configuration line (count, tokens; slot 0 holds no token) to the settings
    // of the process that is about to run the instance. Returns 1 when the instance is to
    // be processed, 0 when the line asked for something else (it printed a text); may be
    // empty, and the line is then ignored.
    std::function<int(int count, const char* const* tokens)> applyLine;
    // What a configuration line decides for the parent (nothing changes in the parent's
    // settings); may be empty, and no line then has rules.
    std::function<LineRules(int count, const char* const* tokens)> lineRules;
};
