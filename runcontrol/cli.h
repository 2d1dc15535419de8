// The command line: the scan of the arguments into the settings store, and the same
// scan applied to a configuration line of a batch directory.
#pragma once

#include "framework/instance_framework.h"

namespace cli {

// Scans the program's arguments. 1: processing goes on; 0: "-version" or "-copyright"
// printed its text and the process is to end with status 0. A rejected command line
// (no input, an input of no known kind, a misplaced or non-positive TIMEOUT) prints
// the usage and ends the process with -2; it never returns.
int scanCommandLine(int argc, const char* const* argv);

// Applies a configuration line (slot 0 holds no token) over the settings in force, as
// the options of a command line would: verbosity, input and TIMEOUT are kept, a word
// that is not an option is passed over (the instance is the runner's), and "-timeout"
// with its value is passed over (the runner bounds the instance with it). The line is
// never rejected; a bad option stops it like on the command line. Returns 1 when the
// instance is to be processed, 0 after "-version" or "-copyright".
int applyConfigurationLine(int count, const char* const* tokens);

// What a configuration line decides for the batch parent (its -giveup, -autogiveup and
// -mem), read as the line would be applied; the parent's settings stay as they are.
LineRules configurationLineRules(int count, const char* const* tokens);

}  // namespace cli
