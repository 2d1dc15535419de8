// The program entry: scan the command line, print the banner, hand the instance
// framework its record of callbacks, and print the closing lines.
#pragma once

#include "framework/instance_framework.h"

namespace entry {

// The process exit status for these arguments.
int run(int argc, const char* const* argv);

// The record of callbacks through which the framework drives the pipeline.
InstanceFramework makeFramework();

// The formula a report line of an instance is written for: the path itself when it is
// a formula file, else the "-qbf" formula, else the formula named in the header of the
// log or QBM file (empty when there is none), a relative one looked up from the working
// directory and then beside the instance.
std::string reportFormula(const std::string& instancePath);

}  // namespace entry
