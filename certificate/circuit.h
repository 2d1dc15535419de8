// Certificates and countermodels from circuits: an AIGER file (ASCII "aag" or binary
// "aig") named by the symbol table with QDIMACS numbers, as certifying QBF solvers write
// them and as Plumex's own "aag"/"aig" dumps do. A Skolem circuit's inputs are the
// formula's universals and its outputs existentials (a true formula's certificate); a
// countermodel circuit's inputs are existentials and its outputs universals (a false
// formula's countermodel).
#pragma once

#include <memory>
#include <string>

#include "certificate/model.h"

struct CircuitOptions {
    int reorderMethod = 1;  // the reference library's method number for the build (1: none)
    // A countermodel whose BDDs hold more live nodes than this while they are built keeps
    // its circuit form alone (QBModel::noBdds says so); so does one whose BDDs would take
    // more than half of the engine's node limit.
    long countermodelNodes = 1L << 22;
};

// The certificate or countermodel of the circuit at circuitPath over the prefix of the
// formula at formulaPath: every output's variable gets its function over the inputs' BDD
// variables (true set and false set). The BDD variables start in the order in which a
// depth-first walk of the outputs' cones meets the inputs, and the build reorders them
// with options.reorderMethod (left enabled for the stages after it). A countermodel also
// gets its functions as an and-inverter graph (QBModel::circuit). A failure saying why
// when the circuit or the formula cannot be read or the circuit does not fit the
// formula, or mixes the two kinds.
ModelResult certificateFromCircuit(const std::string& circuitPath, const std::string& formulaPath,
                                   const CircuitOptions& options = {});
