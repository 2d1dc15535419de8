// Skolem functions from a cube-resolution proof: the certificate of a true formula,
// extracted from the proof trace DepQBF writes (inputs/qrp_reader.h). Every reduction of
// an existential literal in the proof gives its variable one entry: under the cube's
// literals that come before it, the variable takes the removed literal's value. A
// variable's function is the chain of its entries in file order, the earliest first,
// and false where none applies.
#pragma once

#include <memory>
#include <string>

#include "certificate/model.h"
#include "outcomes/reporter.h"

struct ExtractionOptions {
    int reorderMethod = 1;  // the reference library's method number for the build (1: none)
    // Up to this many universals the functions are built as truth tables, then as BDDs
    // (the result is the same; -1 builds with BDDs throughout).
    int tableUniversals = 14;
};

// The certificate of the formula at formulaPath from the trace at tracePath, in a model
// with its own manager (universals in prefix order are BDD variables 1..U; every other
// variable, free ones included, is existential). Shown as three nested steps with
// progress marks: reading the trace, checking its initial cubes against the formula,
// building the functions. The reporter must outlive the model (its reorderings are
// reported there). A failure saying why for a malformed trace, a trace of a false
// formula, or a formula that does not fit the trace.
ModelResult extractFromTrace(const std::string& tracePath, const std::string& formulaPath,
                             const ExtractionOptions& options, steps::Reporter& reporter);
