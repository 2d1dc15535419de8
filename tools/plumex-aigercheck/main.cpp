// plumex-aigercheck FORMULA CERTIFICATE
//
// Decides with a SAT solver whether an AIGER certificate (ASCII or binary) of a QDIMACS
// formula is valid: every output gives the function of one existential over the inputs,
// the universals. The input and output a symbol names is the QDIMACS variable of that
// number; without a numeric symbol it is the one of the AIGER variable's index (the
// index-based layout). An output named "result" carries no function; a circuit without
// outputs gives each existential the gate of its own number. The check:
//  - no function reads a universal quantified after its existential (structurally: an
//    input in the output's cone counts, as it does in the checkers of the field);
//  - the CNF of the circuit plus "some clause is falsified" is unsatisfiable. Universals
//    that are no input, and existentials that have no output, stay free in it, so they
//    count for every value.
// Exit status 0 valid, 1 invalid (with a universal scenario that falsifies a clause),
// 2 when a file cannot be read or the circuit does not fit the formula.
#include <cadical.hpp>

#include <cstdio>
#include <string>
#include <vector>

#include "aiger_reader.h"
#include "formula.h"

using aigercheck::Circuit;
using aigercheck::Formula;

namespace {

int usageError(const std::string& text) {
    std::fprintf(stderr, "plumex-aigercheck: %s\n", text.c_str());
    return 2;
}

// QDIMACS number of input/output k: its numeric symbol, else its variable index.
long nameOf(const std::vector<long>& names, size_t k, unsigned lit) {
    return names[k] >= 0 ? names[k] : static_cast<long>(lit >> 1);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: plumex-aigercheck FORMULA CERTIFICATE\n");
        return 2;
    }
    aigercheck::FormulaRead fr = aigercheck::readFormula(argv[1]);
    if (!fr.ok) return usageError(std::string(argv[1]) + ": " + fr.error);
    const Formula& f = fr.formula;
    aigercheck::CircuitRead cr = aigercheck::readCircuit(argv[2], static_cast<unsigned long>(f.maxVar));
    if (!cr.ok) return usageError(std::string(argv[2]) + ": " + cr.error);
    const Circuit& c = cr.circuit;

    // Formula variable -> the AIGER literal that stands for it (kFree: none).
    constexpr unsigned kFree = ~0u;
    std::vector<unsigned> bound(f.maxVar + 1, kFree);
    // AIGER variable -> the latest-quantified universal in its cone (0: none).
    std::vector<int> latest(c.maxVar + 1, 0);
    for (size_t k = 0; k < c.inputs.size(); ++k) {
        long u = nameOf(c.inputName, k, c.inputs[k]);
        if (u < 1 || u > f.maxVar || f.quantifier[u] != 'a')
            return usageError("input " + std::to_string(k) + " names " + std::to_string(u) +
                              ", which is no universal of the formula");
        if (bound[u] != kFree) return usageError("two inputs name the universal " + std::to_string(u));
        bound[u] = c.inputs[k];
        latest[c.inputs[k] >> 1] = static_cast<int>(u);
    }
    for (size_t k = 0; k < c.outputs.size(); ++k) {
        if (c.outputName[k] == aigercheck::kResultOutput) continue;
        long e = nameOf(c.outputName, k, c.outputs[k]);
        if (e < 1 || e > f.maxVar || f.quantifier[e] != 'e')
            return usageError("output " + std::to_string(k) + " names " + std::to_string(e) +
                              ", which is no existential of the formula");
        if (bound[e] != kFree) return usageError("two outputs name the existential " + std::to_string(e));
        bound[e] = c.outputs[k];
    }
    // Without outputs (a formula without universals), the gate of an existential's own
    // number is its value.
    if (c.outputs.empty())
        for (unsigned lhs : c.andLhs) {
            unsigned e = lhs >> 1;
            if (e <= static_cast<unsigned>(f.maxVar) && f.quantifier[e] == 'e' && bound[e] == kFree) bound[e] = lhs;
        }
    std::printf("c formula: %d variables, %zu clauses, %zu universals\n", f.maxVar, f.clauses.size(),
                f.universals.size());
    std::printf("c certificate: %zu inputs, %zu outputs, %zu gates\n", c.inputs.size(), c.outputs.size(),
                c.andLhs.size());
    int unbound = 0;
    for (int v = 1; v <= f.maxVar; ++v)
        if (f.quantifier[v] == 'e' && bound[v] == kFree) ++unbound;
    if (unbound) std::printf("c %d existentials have no output and count for both values\n", unbound);

    auto later = [&](int a, int b) { return f.block[a] >= f.block[b] ? a : b; };
    for (unsigned g : c.topological) {
        int a = latest[c.andRhs0[g] >> 1], b = latest[c.andRhs1[g] >> 1];
        latest[c.andLhs[g] >> 1] = !a ? b : !b ? a : later(a, b);
    }
    for (int e = 1; e <= f.maxVar; ++e) {
        if (f.quantifier[e] != 'e' || bound[e] == kFree) continue;
        int u = latest[bound[e] >> 1];
        if (u && f.block[u] > f.block[e]) {
            std::printf("s INVALID\nc the function of existential %d reads universal %d, quantified after it\n", e,
                        u);
            return 1;
        }
    }

    // Solver variables: AIGER variable v is v; a free formula variable x is M + x; then
    // the constant true and one selector per clause.
    const int m = static_cast<int>(c.maxVar);
    const int top = m + f.maxVar + 1;
    auto aigLit = [&](unsigned lit) {
        int v = static_cast<int>(lit >> 1);
        if (v == 0) return (lit & 1) ? top : -top;
        return (lit & 1) ? -v : v;
    };
    auto formulaLit = [&](int x) {
        int v = x < 0 ? -x : x;
        int s = bound[v] == kFree ? m + v : aigLit(bound[v]);
        return x < 0 ? -s : s;
    };
    CaDiCaL::Solver solver;
    solver.add(top);
    solver.add(0);
    for (size_t k = 0; k < c.andLhs.size(); ++k) {
        int g = aigLit(c.andLhs[k]), a = aigLit(c.andRhs0[k]), b = aigLit(c.andRhs1[k]);
        for (int lit : {-g, a, 0, -g, b, 0, g, -a, -b, 0}) solver.add(lit);
    }
    // Selector j: clause j is falsified.
    for (size_t j = 0; j < f.clauses.size(); ++j) {
        int s = top + 1 + static_cast<int>(j);
        for (int x : f.clauses[j]) {
            solver.add(-s);
            solver.add(-formulaLit(x));
            solver.add(0);
        }
    }
    for (size_t j = 0; j < f.clauses.size(); ++j) solver.add(top + 1 + static_cast<int>(j));
    solver.add(0);

    int result = solver.solve();
    if (result == 20) {
        std::printf("s VALID\n");
        return 0;
    }
    if (result != 10) return usageError("the SAT solver gave no answer");
    std::printf("s INVALID\n");
    for (size_t j = 0; j < f.clauses.size(); ++j) {
        if (solver.val(top + 1 + static_cast<int>(j)) <= 0) continue;
        std::printf("c clause %zu is falsified:", j + 1);
        for (int x : f.clauses[j]) std::printf(" %d", x);
        std::printf(" 0\n");
        break;
    }
    std::printf("v");
    for (int u : f.universals) std::printf(" %d", solver.val(formulaLit(u)) > 0 ? u : -u);
    std::printf(" 0\n");
    return 1;
}
