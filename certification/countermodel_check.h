// The validity check of a countermodel (the certificate of a false formula): every
// universal's function reads only existentials quantified before it, and with every
// universal replaced by its function no assignment of the existentials satisfies the
// matrix. The second half is a SAT problem: the clauses, streamed from the formula, plus
// the functions' Tseitin definitions from their BDDs or their circuit, whichever is
// smaller.
//
// Where a function leaves a scenario open (neither of its BDDs holds there), its
// universal's literals count as true: the countermodel must refute every completion. A
// universal without a function counts for every value. A universal with both forms has
// one function in both (its BDDs may leave open what its circuit decides): either form
// may be encoded, and a circuit that reads only earlier existentials in its structure
// settles the dependency; one that does not is replaced by the BDDs, checked on their
// function.
#pragma once

#include <string>
#include <vector>

#include "certificate/model.h"
#include "inputs/qdimacs_reader.h"
#include "outcomes/reporter.h"

namespace certification {

// Step "Validity check          ": 1 when the countermodel holds, 0 otherwise, with the
// reason on the step's line: a problem of the formula or of a function's dependencies, or
// "Satisfying assignment: " and the literals of the formula's existentials (free ones
// first, then in prefix order) under which the countermodel leaves every clause satisfied.
// Stores the step's time in model.validityTime.
int countermodelCheck(QBModel& model, const std::string& formulaPath, steps::Reporter& reporter);

// The same check of a formula given in memory: its prefix as the reader hands it and its
// clauses (external literals; an empty clause too, which the formula reader refuses).
// Writes the reason of a failure to the reporter; opens no step.
int countermodelCheck(const QBModel& model, const qdimacs::Prefix& prefix,
                      const std::vector<std::vector<int>>& clauses, steps::Reporter& reporter);

}  // namespace certification
