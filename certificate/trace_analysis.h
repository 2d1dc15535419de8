// The analysis of a proof trace, shared by both answers. A true formula's trace holds a
// cube-resolution proof, a false one's a clause-resolution proof; negating every literal
// of a clause makes it a cube, and with the quantifiers' roles swapped the two are one:
// resolution on a variable of the functions' inputs (universal for cubes, existential for
// clauses), reduction removing variables that get functions (existentials, universals),
// each removal an entry of the removed variable's function. The analysis checks the
// proof's leaves against the formula and every step's resolution and reduction, and
// hands the entries to the builders as an EntryProgram.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "certificate/entry_program.h"
#include "certificate/model.h"
#include "inputs/qrp_reader.h"
#include "outcomes/status.h"

namespace extraction {

// The extraction's variable order: free variables first (outermost existentials), then
// the prefix in order. Inputs are the variables the functions read (universals of a true
// formula, existentials of a false one); every other variable gets a function.
struct Order {
    Polarity polarity = Polarity::True;
    std::vector<int> pos;        // variable -> position 1..maxVar
    std::vector<int> byPos;      // position -> variable
    std::vector<char> input;     // variable -> 1 for an input
    std::vector<int> inputs;     // slot 0 unused, then the inputs in order (BDD index k -> variable)
    std::vector<int> inputIndex; // variable -> its BDD index, 0 for a variable with a function
    int maxVar() const { return static_cast<int>(pos.size()) - 1; }
    int numInputs() const { return static_cast<int>(inputs.size()) - 1; }
};

Order makeOrder(const qrp::Trace& trace, int maxVar, Polarity polarity);

class ProofAnalysis {
  public:
    ProofAnalysis(const qrp::Trace& trace, const Order& order);

    // A non-tautological clause of the formula, in file order (count 0: the empty clause).
    int clause(const int* literals, int count);
    // The proof's leaves against the formula's clauses. A true formula's leaves are
    // initial cubes, each holding a literal of every clause, and none of them one of the
    // trace's input clauses; a false formula's leaves are its input clauses, the leaf of
    // rank r among the steps without antecedents the r-th clause (as sets of literals).
    Status checkLeaves(const std::string& formulaPath);
    // Every proof step in file order: its cube or clause before reduction, the checks of
    // the resolution and the reduction, the entries of the removed literals.
    Status analyse(EntryProgram& program);
    // The formula's clauses are no longer needed.
    void releaseFormula();

  private:
    bool cubeLeavesOk(const std::string& formulaPath);
    bool clauseLeavesOk(const std::string& formulaPath);
    bool step(std::size_t p, EntryProgram& program);
    bool stepFail(std::int64_t id, const std::string& what);
    std::string mismatch(const std::string& formulaPath) const;
    std::int64_t idOf(std::size_t p) const { return t_.ids[static_cast<std::size_t>(t_.proof[p])]; }
    std::size_t posOfStep(std::int32_t stepIndex) const;

    const qrp::Trace& t_;
    const Order& o_;
    bool cubes_;  // a true formula's proof
    std::string failure_;

    std::vector<int> formulaLits_;
    std::vector<std::size_t> clauseStart_{0};

    std::vector<int> mark_;  // variable -> literal in the current step (0: the pivot)
    std::vector<int> seen_;  // variable -> epoch when in the current step
    int epoch_ = 0;
    std::vector<int> pre_;
    std::vector<int> lits_, antLits_;
};

}  // namespace extraction
