// Batch processing: every instance below a directory, subdirectories first, once per
// line of the directory's configuration file, each in its own forked child.
#pragma once

#include <string>
#include <vector>

#include "framework/instance_framework.h"

namespace batch {

// Slots of a configuration line: slot 0 holds no token, so at most 63 tokens.
constexpr int kLineSlots = 64;
constexpr int kTokenLength = 99;
constexpr int kLineBuffer = 1024;

// One line of a configuration file, shaped like an argument vector.
struct ConfigLine {
    int count = 1;                    // tokens + 1
    std::vector<std::string> tokens;  // tokens[0] is empty
    std::vector<const char*> argv() const;
};

struct Configuration {
    bool present = false;  // a configuration file was read
    std::vector<ConfigLine> lines;
};

// Reads a configuration file. A line longer than the buffer is split into several; a
// line with a token longer than kTokenLength characters is left out with a message. A
// file that cannot be read is taken as absent, with a message.
Configuration readConfiguration(const std::string& path);

// The number of distinct instances below the directory that succeeded under at least
// one configuration line.
int run(const std::string& directory, const InstanceFramework& framework);

// Instances found by all batch runs of this process so far.
int totalInstances();

}  // namespace batch
