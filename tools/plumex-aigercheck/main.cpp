// plumex-aigercheck FORMULA CIRCUIT
//
// Decides with a SAT solver whether an AIGER circuit (ASCII or binary) is a valid
// certificate or countermodel of a QDIMACS formula. The input and output a symbol names
// is the QDIMACS variable of that number; without a numeric symbol it is the one of the
// AIGER variable's index (the index-based layout). An output named "result" carries no
// function.
//
// A certificate (inputs universals, outputs existentials: the formula is true) gives
// every output the function of one existential over the universals; a circuit without
// outputs gives each existential the gate of its own number. The check:
//  - no function reads a universal quantified after its existential (structurally: an
//    input in the output's cone counts, as it does in the checkers of the field);
//  - the CNF of the circuit plus "some clause is falsified" is unsatisfiable. Universals
//    that are no input, and existentials that have no output, stay free in it, so they
//    count for every value.
// A countermodel (inputs existentials, outputs universals: the formula is false) gives
// every output the function of one universal over the existentials. The check:
//  - no function reads an existential quantified after its universal (structurally);
//  - the CNF of the circuit plus every clause of the formula is unsatisfiable. Variables
//    without an input or output stay free, so again they count for every value.
// A circuit whose inputs or outputs name both kinds is refused.
//
// Exit status 0 a valid certificate, 3 a valid countermodel, 1 invalid (with a universal
// scenario that falsifies a clause, or an existential assignment that satisfies every
// clause), 2 when a file cannot be read or the circuit does not fit the formula.
#include <cadical.hpp>

#include <cstdio>
#include <string>
#include <vector>

#include "aiger_reader.h"
#include "formula.h"

using aigercheck::Circuit;
using aigercheck::Formula;

namespace {

constexpr int kValid = 0, kInvalid = 1, kUnfit = 2, kValidCountermodel = 3;

int usageError(const std::string& text) {
    std::fprintf(stderr, "plumex-aigercheck: %s\n", text.c_str());
    return kUnfit;
}

// QDIMACS number of input/output k: its numeric symbol, else its variable index.
long nameOf(const std::vector<long>& names, size_t k, unsigned lit) {
    return names[k] >= 0 ? names[k] : static_cast<long>(lit >> 1);
}

const char* quantifier(char q) { return q == 'a' ? "universal" : "existential"; }

// One input or output: what it is, the variable it names and that variable's quantifier
// (0 for none of the formula).
struct Port {
    const char* what;
    size_t k;
    unsigned literal;
    long var;
    char q;
};

// The kind a circuit is, from the quantifiers its inputs and outputs name: true for a
// countermodel. Ports of both kinds make it unfit (the message is in `error`).
bool isCountermodel(const std::vector<Port>& inputs, const std::vector<Port>& outputs, std::string& error) {
    const Port* certificate = nullptr;
    const Port* countermodel = nullptr;
    for (const Port& p : inputs) {
        if (p.q == 'a' && !certificate) certificate = &p;
        if (p.q == 'e' && !countermodel) countermodel = &p;
    }
    for (const Port& p : outputs) {
        if (p.q == 'e' && !certificate) certificate = &p;
        if (p.q == 'a' && !countermodel) countermodel = &p;
    }
    if (certificate && countermodel) {
        auto names = [](const Port& p) {
            return std::string(p.what) + " " + std::to_string(p.k) + " names the " + quantifier(p.q) + " " +
                   std::to_string(p.var);
        };
        const Port& c = *countermodel;
        error = std::string(c.what) + " " + std::to_string(c.k) + " names " + std::to_string(c.var) +
                ", which is no " + (c.what[0] == 'i' ? "universal" : "existential") +
                " of the formula: the circuit mixes a countermodel (" + names(c) + ") and a certificate (" +
                names(*certificate) + ")";
    }
    return countermodel != nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: plumex-aigercheck FORMULA CIRCUIT\n");
        return kUnfit;
    }
    aigercheck::FormulaRead fr = aigercheck::readFormula(argv[1]);
    if (!fr.ok) return usageError(std::string(argv[1]) + ": " + fr.error);
    const Formula& f = fr.formula;
    aigercheck::CircuitRead cr = aigercheck::readCircuit(argv[2], static_cast<unsigned long>(f.maxVar));
    if (!cr.ok) return usageError(std::string(argv[2]) + ": " + cr.error);
    const Circuit& c = cr.circuit;

    auto port = [&](const char* what, size_t k, const std::vector<long>& names, unsigned lit) {
        long v = nameOf(names, k, lit);
        char q = v >= 1 && v <= f.maxVar ? f.quantifier[v] : 0;
        return Port{what, k, lit, v, q};
    };
    std::vector<Port> inputs, outputs;
    for (size_t k = 0; k < c.inputs.size(); ++k) inputs.push_back(port("input", k, c.inputName, c.inputs[k]));
    for (size_t k = 0; k < c.outputs.size(); ++k)
        if (c.outputName[k] != aigercheck::kResultOutput)
            outputs.push_back(port("output", k, c.outputName, c.outputs[k]));
    std::string mixed;
    const bool counter = isCountermodel(inputs, outputs, mixed);
    if (!mixed.empty()) return usageError(mixed);
    const char inQ = counter ? 'e' : 'a', outQ = counter ? 'a' : 'e';

    // Formula variable -> the AIGER literal that stands for it (kFree: none).
    constexpr unsigned kFree = ~0u;
    std::vector<unsigned> bound(f.maxVar + 1, kFree);
    // AIGER variable -> the latest-quantified input variable in its cone (0: none).
    std::vector<int> latest(c.maxVar + 1, 0);
    for (const Port& p : inputs) {
        if (p.q != inQ)
            return usageError("input " + std::to_string(p.k) + " names " + std::to_string(p.var) + ", which is no " +
                              quantifier(inQ) + " of the formula");
        if (bound[p.var] != kFree)
            return usageError(std::string("two inputs name the ") + quantifier(inQ) + " " + std::to_string(p.var));
        bound[p.var] = p.literal;
        latest[p.literal >> 1] = static_cast<int>(p.var);
    }
    for (const Port& p : outputs) {
        if (p.q != outQ)
            return usageError("output " + std::to_string(p.k) + " names " + std::to_string(p.var) + ", which is no " +
                              quantifier(outQ) + " of the formula");
        if (bound[p.var] != kFree)
            return usageError(std::string("two outputs name the ") + quantifier(outQ) + " " + std::to_string(p.var));
        bound[p.var] = p.literal;
    }
    // A certificate without outputs (a formula without universals): the gate of an
    // existential's own number is its value.
    if (!counter && c.outputs.empty())
        for (unsigned lhs : c.andLhs) {
            unsigned e = lhs >> 1;
            if (e <= static_cast<unsigned>(f.maxVar) && f.quantifier[e] == 'e' && bound[e] == kFree) bound[e] = lhs;
        }
    std::printf("c formula: %d variables, %zu clauses, %zu universals\n", f.maxVar, f.clauses.size(),
                f.universals.size());
    std::printf("c %s: %zu inputs, %zu outputs, %zu gates\n", counter ? "countermodel" : "certificate",
                c.inputs.size(), c.outputs.size(), c.andLhs.size());
    int unbound = 0;
    for (int v = 1; v <= f.maxVar; ++v)
        if (f.quantifier[v] == outQ && bound[v] == kFree) ++unbound;
    if (unbound) std::printf("c %d %ss have no output and count for both values\n", unbound, quantifier(outQ));

    auto later = [&](int a, int b) { return f.block[a] >= f.block[b] ? a : b; };
    for (unsigned g : c.topological) {
        int a = latest[c.andRhs0[g] >> 1], b = latest[c.andRhs1[g] >> 1];
        latest[c.andLhs[g] >> 1] = !a ? b : !b ? a : later(a, b);
    }
    for (int v = 1; v <= f.maxVar; ++v) {
        if (f.quantifier[v] != outQ || bound[v] == kFree) continue;
        int in = latest[bound[v] >> 1];
        if (in && f.block[in] > f.block[v]) {
            std::printf("s INVALID\nc the function of %s %d reads %s %d, quantified after it\n", quantifier(outQ), v,
                        quantifier(inQ), in);
            return kInvalid;
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
    solver.set("quiet", 1);  // its own "c" lines would mix with the checker's
    solver.add(top);
    solver.add(0);
    for (size_t k = 0; k < c.andLhs.size(); ++k) {
        int g = aigLit(c.andLhs[k]), a = aigLit(c.andRhs0[k]), b = aigLit(c.andRhs1[k]);
        for (int lit : {-g, a, 0, -g, b, 0, g, -a, -b, 0}) solver.add(lit);
    }
    if (counter) {
        // Every clause holds: a model is an existential assignment the countermodel loses to.
        for (const std::vector<int>& clause : f.clauses) {
            for (int x : clause) solver.add(formulaLit(x));
            solver.add(0);
        }
    } else {
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
    }

    int result = solver.solve();
    if (result == 20) {
        std::printf("s VALID\n");
        return counter ? kValidCountermodel : kValid;
    }
    if (result != 10) return usageError("the SAT solver gave no answer");
    std::printf("s INVALID\n");
    if (counter) {
        std::printf("c every clause is satisfied under the existential assignment\nv");
        for (int e : f.existentials) std::printf(" %d", solver.val(formulaLit(e)) > 0 ? e : -e);
        std::printf(" 0\n");
        return kInvalid;
    }
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
    return kInvalid;
}
