// Expression-file mode: every line of a file (plain or gzip-compressed) is an expression
// text, evaluated on its own; the results go to the file's ".result" file as they come.
#pragma once

#include <string>

#include "certificate/model.h"

// Empty on success, else what went wrong with the input or the result file (the lines
// evaluated so far stay unwritten: the result file is written whole or not at all).
std::string expEvaluateFile(const QBModel& model, const std::string& fileName);
