// The instance runner: runs one instance under its "Processing" step, in the process
// itself or in a forked child bounded by a timeout (through the pool of children), and
// turns the way a child ended into a result code. Its top-level entry tells a single
// instance from a directory.
#pragma once

#include <string>

#include "framework/instance_framework.h"

namespace runner {

// -3 for an empty path; for a directory, the number of instances below it that succeeded;
// -2 when the path is no instance; else the instance's result code.
int frameworkMain(const std::string& path, const InstanceFramework& framework);

// Runs one instance with the tokens of a configuration line (count 0 or 1: none).
int runInstance(const std::string& path, const InstanceFramework& framework, int tokenCount,
                const char* const* tokens);

// The value after the first "-timeout" among tokens 1..count-1, truncated toward zero; 0
// when there is none, it is the last token, or it does not read as a number.
int configurationTimeout(int tokenCount, const char* const* tokens);

// The timeout that bounded the last instance run in a child (0: none), for the hooks.
int currentTimeout();

// Instances started in this process so far.
int instanceCounter();

// Pieces of a forked run, shared by the one-child runner and the pool of children.

// Counts an instance about to start; returns the new count, which labels its step.
int countInstance();

// The child's side of a forked run: the instance's step line and the pipeline under
// the line's tokens; ends the process with the result code.
[[noreturn]] void runChild(const std::string& path, const InstanceFramework& framework, int tokenCount,
                           const char* const* tokens);

// The timeout of an instance run with these tokens: the line's "-timeout", else the
// command line's TIMEOUT. Not positive: no limit.
int instanceTimeout(const InstanceFramework& framework, int tokenCount, const char* const* tokens);

// Turns a reaped child's wait status into the instance's result code and calls the
// report hooks, which see `timeout` as the current timeout. A child ended by a signal
// is a timeout when the parent sent it for the timeout (`timedOut`), else a crash.
// *word is "[TIMEOUT]" or "[CRASH]" when the parent has to end the child's open line
// with it, else null.
int childOutcome(int status, bool timedOut, const std::string& path, const InstanceFramework& framework,
                 int timeout, const char** word);

// Limits the address space of this process to `megabytes` (0: no limit), so that an
// allocation beyond it fails and takes the MEMOUT path.
void limitMemory(int megabytes);

// The word the outcome record gives a result code: the outcome name of a success
// (VALID), INVALID, or the code's name (TIMEOUT, CRASH, MEMOUT, ERROR, ...).
std::string recordOutcome(const InstanceFramework& framework, int code);

// A path opens as a directory.
bool isDirectory(const std::string& path);

}  // namespace runner
