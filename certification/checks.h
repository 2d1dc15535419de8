// The two checks of a certificate: consistency (no existential is true and false in the
// same universal scenario) and validity against the formula (every clause holds in every
// universal scenario, and no existential depends on a universal quantified after it). A
// countermodel has the same consistency check and a validity check of its own.
#pragma once

#include <functional>
#include <string>

#include "certificate/model.h"
#include "inputs/qdimacs_reader.h"
#include "outcomes/reporter.h"

namespace certification {

// Step "Consistency check       ": 1 when consistent; 0 at the first conflicting variable.
int consistencyCheck(QBModel& model, steps::Reporter& reporter);

// Why a clause fails: S, the scenarios in which its existential literals hold; H, the
// hypothesis that falsifies its universal literals; R, S restricted to H (not constant true).
struct FailingClause {
    bdd::Bdd satisfied, hypothesis, alwaysSat;
};

// Step "Validity check          ": 1 when the prefix allows every existential's function
// and every clause of the formula holds; 0 otherwise (the reason is on the step's line, and
// *failing, when given, receives the BDDs of a failing clause). A countermodel is checked
// by countermodelCheck (certification/countermodel_check.h) instead.
int validityCheck(QBModel& model, const std::string& formulaPath, steps::Reporter& reporter,
                  FailingClause* failing = nullptr);

// One clause in the formula's numbering: 1 when it holds. A failing clause is reported as
// "Non-sat clause: ..." and its BDDs go to *failing, when given.
int clauseCheck(const QBModel& model, const int* literals, int count, steps::Reporter& reporter,
                FailingClause* failing = nullptr);

// Every variable x with a function whose true and false sets, with the inputs quantified
// after x abstracted away, are disjoint: 1. Otherwise a message naming x and 0. The roles
// are the model's polarity: in a certificate x is an existential and the inputs are
// universals, in a countermodel the reverse. select, when given, picks the variables to
// check (all that have BDDs otherwise).
int dependencyCheck(const QBModel& model, const qdimacs::Prefix& prefix, steps::Reporter& reporter,
                    const std::function<bool(int)>& select = {});

}  // namespace certification
