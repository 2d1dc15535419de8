// Certificates from Skolem circuits: an AIGER file (ASCII "aag" or binary "aig") whose
// inputs are the formula's universals and whose outputs are its existentials, named by
// the symbol table with their QDIMACS numbers, as certifying QBF solvers write them and
// as Plumex's own "aag"/"aig" dumps do.
#pragma once

#include <memory>
#include <string>

#include "certificate/model.h"

// The certificate of the circuit at circuitPath over the prefix of the formula at
// formulaPath: every existential gets its output's function over the universals' BDD
// variables (true set and false set). A failure saying why when the circuit or the
// formula cannot be read or the circuit does not fit the formula.
ModelResult certificateFromCircuit(const std::string& circuitPath, const std::string& formulaPath);
