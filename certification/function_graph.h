// A countermodel's functions as one graph for the SAT solver: BDD nodes and a circuit's
// multiplexers become if-then-else nodes, its other gates AND nodes, over the functions'
// inputs. Constants are
// folded away as nodes are made, equal nodes are made once, and the Tseitin definitions
// are written only for the nodes a requirement reaches, in the directions it needs: a
// node whose variable only has to be true wherever its function is gets the clauses for
// that direction alone (the solver can then set it true elsewhere, never false here).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "bdd/engine.h"
#include "certificate/function_circuit.h"
#include "certification/sat_solver.h"

namespace certification {

class FunctionGraph {
  public:
    // Literals: 2 * node, plus 1 for the negation. Node 0 is the constant false.
    using Lit = std::uint32_t;
    static constexpr Lit kFalse = 0, kTrue = 1;

    // inputVariable(k): the solver variable of input k (the BDD variable k, the circuit's
    // input k), asked for once, when a node first reads the input.
    explicit FunctionGraph(std::function<int(int)> inputVariable);

    // The literals of these BDDs' functions; the BDDs are walked together, so that nodes
    // they share are made once.
    std::vector<Lit> addBdds(const std::vector<bdd::Bdd>& roots);
    // The literals of these circuit literals (FunctionCircuit's numbering); only their
    // cones are read.
    std::vector<Lit> addCircuit(const FunctionCircuit& circuit, const std::vector<std::uint32_t>& outputs);

    // Requires the solver variable to be true wherever f's function is true.
    void implies(Lit f, int variable);

    // Writes the requirements and the definitions they reach.
    void encode(sat::Solver& solver);

    // Nodes made so far, the constant and the inputs included.
    std::size_t nodes() const { return nodes_.size(); }
    // Definitions written by encode (nodes that got a variable).
    std::size_t encodedNodes() const { return encoded_; }

    Lit conjoin(Lit a, Lit b);
    Lit ifThenElse(Lit select, Lit then, Lit otherwise);
    Lit input(int index);

  private:
    enum Kind : std::uint8_t { Constant, Input, And, Ite };
    struct Node {
        Kind kind;
        std::uint8_t need;  // Up: true where the function is; Down: only there
        Lit a, b, c;        // And: a & b; Ite: a ? b : c; Input: a = index
        int variable;       // the solver's, 0 while there is none
    };
    Lit make(Kind kind, Lit a, Lit b, Lit c);
    int solverLiteral(Lit l) const;

    std::function<int(int)> inputVariable_;
    std::vector<Node> nodes_;
    std::vector<Lit> inputs_;  // input index -> its literal (0 while not made)
    // Open addressing over node numbers, for nodes that are made twice.
    std::vector<std::uint32_t> table_;
    std::vector<std::pair<Lit, int>> implications_;
    std::size_t encoded_ = 0;
};

}  // namespace certification
