// The texts of the command line: usage, version block, licence, and the version banner.
#pragma once

namespace usage {

// "Plumex v0.3-beta, (revision 393, compiled Nov 10 2006)", no line end.
const char* banner();

void printUsage();
void printVersion();
void printCopyright();

}  // namespace usage
