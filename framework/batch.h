// Batch processing: every instance below a directory, subdirectories first, once per
// line of the directory's configuration file, each in its own forked child.
#pragma once

#include <string>

#include "framework/instance_framework.h"

namespace batch {

// The number of distinct instances below the directory that succeeded under at least
// one configuration line.
int run(const std::string& directory, const InstanceFramework& framework);

// Instances found by all batch runs of this process so far.
int totalInstances();

}  // namespace batch
