// The batch report: one tab-separated line per instance appended to a file named after
// the directory of the instance's formula.
#pragma once

#include <cstdio>
#include <string>

#include "outcomes/status.h"

namespace report {

// d/b.qbm.txt for a formula in directory d whose last component is b; b is
// "certificationReport" when it is empty, "." or "..", and "d/" is left out when the
// formula path has no '/'. The suffix follows (shards of one batch run name their own
// files, so that they never write the same one).
std::string reportFileName(const std::string& formulaPath, const std::string& suffix = "");

// Field 1: the formula path's last component with its first ".Tobrin.log" (else its
// first ".qbm") cut off; "noname" when the path has no '/'.
std::string instanceName(const std::string& formulaPath);

// Fields 2-5 from the formula: "%d\t%d\t" of the problem line, "%c[%i]" per quantifier
// line that lists variables, then "\t%i\t" with the number of those lines minus one.
// A formula that cannot be opened, or whose first non-comment line is no problem line,
// gives zeros for the counts and -1 for the prefix.
void formulaStatistics(const std::string& formulaPath, std::FILE* out);

// Appends one line to the report file of the formula, whole or not at all; nothing when
// the path fails formulaExists. A report file that cannot be created or appended to is
// a failure with the message that says so.
Status appendReportLine(const std::string& formulaPath, double solverTime, double reconstructionTime,
                      double checkTime, long entryCount, long nodeCount, const char* outcome,
                      const std::string& fileSuffix = "");

}  // namespace report
