// The AIGER reader: a combinational circuit (no latches), ASCII ("aag") or binary
// ("aig"), with its symbol table. Counts are checked against the bytes of the file
// before anything is sized by them; every literal must name a defined variable, and
// the gates must form no cycle. What the circuit means is left to the caller.
#pragma once

#include <string>
#include <vector>

#include "outcomes/status.h"

namespace aiger {

struct Circuit {
    unsigned maxVar = 0;
    std::vector<unsigned> inputs;   // input literals, in file order
    std::vector<unsigned> outputs;  // output literals, in file order
    // Gate k: lhs[k] = rhs0[k] & rhs1[k].
    std::vector<unsigned> lhs, rhs0, rhs1;
    std::vector<std::string> inputName, outputName;  // symbols ("" where there is none)
    std::vector<unsigned> gateOfVar;                 // variable -> gate position, or kNoGate
    static constexpr unsigned kNoGate = ~0u;
};


// knownVars bounds what takes no bytes of the file: the variable numbers an ASCII file may
// use beyond what its lines number, and the inputs of a binary file (for a certificate,
// the formula's variables).
Result<Circuit> readCircuit(const std::string& path, unsigned long knownVars);

}  // namespace aiger
