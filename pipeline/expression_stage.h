// The pipeline's expression stages: evaluation, the expression dumps, and the result
// code of a single direct expression.
#pragma once

#include <string>

#include "certificate/model.h"

// Evaluation of "-eval" expressions or an expression file. Returns the evaluated flag
// (1 only for a successfully evaluated "-eval" list).
int expEvaluationStage(QBModel& model);

// The expression dumps inside "Dump to file:", named after the QBM path. False when a
// file could not be written (its step says why).
bool expDumpStage(QBModel& model, const std::string& qbmPath, int evaluated);

// For a direct list of exactly one expression: true, with the code that replaces the
// instance's result (-1 when the expression failed the argument check).
bool expSingleDirectResult(int* code);
