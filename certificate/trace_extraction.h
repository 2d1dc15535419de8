// Certificates from the proof traces DepQBF writes (inputs/qrp_reader.h). A true
// formula's trace holds a cube-resolution proof, from which every existential variable
// gets a Skolem function; a false formula's holds a clause-resolution proof, from which
// every universal variable gets a function of the existentials before it (a
// countermodel). Every reduction in the proof gives the removed literal's variable an
// entry: under the step's literals before it (a clause's negated), the variable takes the
// value the literal has in the cube (makes the clause's literal false). A variable's
// function is the chain of its entries in file order, the earliest that holds winning,
// and false where none does. The analysis is certificate/trace_analysis.h, the builders
// certificate/function_build.h.
#pragma once

#include <memory>
#include <string>

#include "certificate/model.h"
#include "outcomes/reporter.h"

struct ExtractionOptions {
    int reorderMethod = 1;  // the reference library's method number for the build (1: none)
    // Up to this many inputs (universals, or a countermodel's existentials) the functions
    // are built as truth tables where their work is small, then as BDDs (the result is the
    // same; -1 builds with BDDs throughout).
    int tableUniversals = 20;
    // A trace of a false formula gives its countermodel; without, it is refused ("This is
    // not a TRUE formula").
    bool countermodels = false;
    // Live BDD nodes a countermodel's functions may take; beyond, the countermodel keeps
    // its circuit alone (the model's noBdds says so). Automatic reordering stops early
    // there, where sifting grows costly (certificate/function_build.h).
    long countermodelNodes = 2'000'000;
};

// The certificate of the formula at formulaPath from the trace at tracePath, in a model
// with its own manager. A true formula's: universals in prefix order are BDD variables
// 1..U, every other variable (free ones included) has a function. A false formula's
// (polarity False, with options.countermodels): existentials, free ones first, then in
// prefix order, are BDD variables 1..E, universals have functions, given as a circuit too
// (model->circuit) and as BDDs unless these pass the node budget. Shown as three nested
// steps with progress marks: reading the trace, checking the proof's leaves against the
// formula ("Initial cube check", "Input clause check"), building the functions ("Skolem
// extraction", "Countermodel extraction"). The reporter must outlive the model (its
// reorderings are reported there). A failure saying why for a malformed trace, a trace
// of a false formula without countermodels, or a formula that does not fit the trace.
ModelResult extractFromTrace(const std::string& tracePath, const std::string& formulaPath,
                             const ExtractionOptions& options, steps::Reporter& reporter);
