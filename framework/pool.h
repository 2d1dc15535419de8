// The children of a batch run. Every instance runs in a forked child; up to N of them
// run at once ("-j N"). With one child its output goes straight to standard output;
// with more (or when a progress line shares standard output) each child's output comes
// through a pipe and is printed in the order in which the instances were started: the
// earliest unprinted instance as its output arrives, the later ones whole once every
// instance before them has been printed. Instances keep starting while an earlier one
// is slow; their output waits in memory up to a bound and then in a temporary file.
//
// Each child has its own timeout, counted from its own start; when it runs out the child
// gets SIGUSR1 (and SIGKILL if it is still there 5 s later). The parent stays single-
// threaded: it waits in ppoll() on one pipe per child (whose end tells that the child
// is ending), SIGCHLD (that it can be collected), the nearest deadline and the signals
// that interrupt the run. SIGINT, SIGTERM and SIGHUP sent to the parent stop every child
// and end the run; children never outlive the parent (they are killed when it dies).
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "framework/instance_framework.h"
#include "outcomes/instance_facts.h"

namespace pool {

// What the parent knows of an instance run that has ended.
struct Ended {
    std::string path;
    int pass = 1;            // the configuration line, from 1
    int code = 0;            // the result code
    bool timedOut = false;   // stopped by its timeout
    int signal = 0;          // the signal that ended the child, 0 when it exited
    int timeout = 0;         // the timeout it ran under (0: none)
    int memoryMB = 0;        // the memory limit it ran under (0: none)
    double cpuSeconds = 0;   // user and system time of the child
    double wallSeconds = 0;  // from its start to its end
    long peakKb = 0;         // the child's largest resident size
    instance_facts::Facts facts;
};

struct Setup {
    int jobs = 1;
    bool collect = false;  // output through pipes even with one child
    // Called in the parent for each run as it ends, interrupted ones excepted.
    std::function<void(const Ended&)> ended;
    // Called in the parent at least every tickSeconds (0: never) while the run waits.
    std::function<void()> tick;
    double tickSeconds = 0;
    // Output of instances waiting for an earlier one, held in memory up to this many bytes
    // in all; beyond it the largest buffers move to a temporary file.
    std::size_t heldBound = std::size_t(64) << 20;
    // Wraps every write to standard output (a progress line makes room and comes back).
    std::function<void()> beforeOutput;
    std::function<void()> afterOutput;
};

// The code of a run that the interruption stopped; it is no success of any application.
constexpr int kInterrupted = -100;

// Starts a run (installs the signal handling of the parent).
void start(const Setup& setup);

// A run is in progress: batch texts go through print().
bool running();

// Starts an instance in a child once fewer than N children run; returns its task number.
// `done` is called in the parent with the result code when the child has ended (not
// for a run stopped by the interruption). After an interruption nothing starts: the
// task is returned as ended with kInterrupted.
int submit(const std::string& path, const InstanceFramework& framework, int tokenCount, const char* const* tokens,
           int pass, int memoryMB, std::function<void(int code)> done);

// Waits until the task has ended; returns its result code.
int await(int task);

// The task has ended.
bool finished(int task);

// Text of the parent, printed after the output of every instance started before it.
void print(const std::string& text);

// Waits for every child, prints what is left and ends the run (restores the signals).
void finish();

// Children running now.
int runningCount();

// The signal that interrupted the current or last run (SIGINT, SIGTERM, SIGHUP), else 0.
int interruption();

// Runs stopped by the interruption.
int stoppedCount();

// Where the cursor stands on the last line printed to standard output (bytes since the
// last line end).
int outputColumn();

}  // namespace pool
