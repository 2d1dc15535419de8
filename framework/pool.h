// A pool of batch children running side by side ("-j N"). Each child's standard output
// goes into a pipe; the parent collects it and prints it whole, in the order in which
// the instances were started, as soon as every earlier instance has been printed. At
// most N instances are started and not yet printed at any time, so the parent holds
// the pending output of N children at most. Each child has its own timeout, counted
// from its own start; when it expires the child receives SIGUSR1, as with one child.
//
// The parent stays single-threaded: it waits in poll() on the children's pipes, with
// the nearest deadline as the poll timeout, and reaps each child once its pipe closed.
#pragma once

#include <functional>
#include <string>

#include "framework/instance_framework.h"

namespace pool {

// Starts a run of up to `jobs` children at once (jobs >= 2).
void start(int jobs);

// A run is in progress: batch texts go through print().
bool running();

// Starts an instance in a child once the window has room; returns its task number.
// `done` is called in the parent with the result code when the child has been reaped.
int submit(const std::string& path, const InstanceFramework& framework, int tokenCount, const char* const* tokens,
           std::function<void(int code)> done);

// Waits until the task has ended; returns its result code.
int await(int task);

// The task has ended.
bool finished(int task);

// Text of the parent, printed after the output of every instance started before it.
void print(const std::string& text);

// Waits for every child, prints what is left and ends the run.
void finish();

}  // namespace pool
