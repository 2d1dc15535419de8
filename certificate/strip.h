// Variable stripping: narrows a certificate to the existentials whose external numbers
// lie in the "-var" intervals (all of them when there are none).
#pragma once

#include <vector>

#include "certificate/model.h"
#include "outcomes/reporter.h"

// Step "Stripping variables": sets inScope and complete, and drops the functions of every
// variable outside the intervals [low[k], high[k]] (bounds included). No intervals keep all.
void stripVariables(QBModel& model, const std::vector<int>& low, const std::vector<int>& high,
                    steps::Reporter& reporter);
