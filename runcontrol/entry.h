// The program entry: scan the command line, print the banner, hand the instance
// framework its record of callbacks, and print the closing lines.
#pragma once

#include "framework/instance_framework.h"

namespace entry {

// The process exit status for these arguments.
int run(int argc, const char* const* argv);

// The record of callbacks through which the framework drives the pipeline.
InstanceFramework makeFramework();

}  // namespace entry
