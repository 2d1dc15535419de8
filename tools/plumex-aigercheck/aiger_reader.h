// Reads an AIGER circuit without latches, ASCII ("aag") or binary ("aig"), with its
// symbol table. Counts are checked against the bytes of the file before anything is
// sized by them, and every literal must name a defined variable in an acyclic circuit.
#pragma once

#include <string>
#include <vector>

namespace aigercheck {

struct Circuit {
    unsigned maxVar = 0;
    std::vector<unsigned> inputs;              // input literals, in file order
    std::vector<unsigned> outputs;             // output literals, in file order
    std::vector<unsigned> andLhs;              // gate k: andLhs[k] = andRhs0[k] & andRhs1[k]
    std::vector<unsigned> andRhs0, andRhs1;
    std::vector<long> inputName, outputName;   // the symbol's number, or -1 when it has none
    std::vector<unsigned> topological;         // gate positions, fan-in first
};

// The name of an output that certifying solvers add (named "result", the constant 1):
// it carries no function.
constexpr long kResultOutput = -2;

struct CircuitRead {
    bool ok = false;
    Circuit circuit;
    std::string error;
};

// maxInputs bounds the inputs of a binary file, where they take no bytes.
CircuitRead readCircuit(const std::string& path, unsigned long maxInputs);

}  // namespace aigercheck
