// A Skolem circuit becomes a certificate in three steps: the formula's prefix numbers
// the variables (free variables first, as outermost existentials, then the blocks in
// order; universals become BDD variables in prefix order), the circuit's inputs and
// outputs are matched to universals and existentials, and every output's cone is
// evaluated into a BDD, gate by gate, children first.
#include "certificate/circuit.h"

#include <algorithm>
#include <cstdlib>

#include "certificate/reconstruct.h"
#include "inputs/aiger_reader.h"
#include "inputs/input_kinds.h"
#include "inputs/qdimacs_reader.h"

namespace {

// The formula's variables in certificate order.
struct Numbering {
    std::vector<int> order;      // internal number -> external number (entry 0 unused)
    std::vector<int> universals;  // BDD index -> internal number (entry 0 unused)
    std::vector<int> internal;   // external number -> internal number, 0 for none
    std::vector<char> kind;      // external number -> 'a', 'e' or 0
};

Status numberVariables(const qdimacs::HeadPrefix& prefix, Numbering& n) {
    long maxVar = prefix.numVars;
    for (const auto& [kind, vars] : prefix.blocks)
        for (int v : vars) maxVar = std::max<long>(maxVar, v);
    n.kind.assign(static_cast<std::size_t>(maxVar) + 1, 0);
    for (const auto& [kind, vars] : prefix.blocks)
        for (int v : vars) {
            if (n.kind[v] != 0)
                return Status::failure("variable " + std::to_string(v) + " is quantified twice in the formula");
            n.kind[v] = kind;
        }
    n.order.assign(1, 0);
    n.universals.assign(1, 0);
    for (int v = 1; v <= maxVar && v <= prefix.numVars; ++v)
        if (n.kind[v] == 0) {
            n.kind[v] = 'e';
            n.order.push_back(v);
        }
    for (const auto& [kind, vars] : prefix.blocks)
        for (int v : vars) {
            n.order.push_back(v);
            if (kind == 'a') n.universals.push_back(static_cast<int>(n.order.size()) - 1);
        }
    n.internal.assign(n.kind.size(), 0);
    for (std::size_t i = 1; i < n.order.size(); ++i) n.internal[n.order[i]] = static_cast<int>(i);
    return {};
}

// The variable a symbol names: its number, or (no symbol) the AIGER variable's own index,
// as index-based files number them. -1 for a name that is no number.
long namedVariable(const std::string& name, unsigned literal) {
    if (name.empty()) return literal >> 1;
    if (name.size() > 10 || name[0] < '1' || name[0] > '9') return -1;
    char* end = nullptr;
    long v = std::strtol(name.c_str(), &end, 10);
    return *end == '\0' ? v : -1;
}

// The BDD of every gate in the cones of the roots, with an explicit stack (circuits may
// be deep). value[v] holds variable v's function once it is known.
void evaluate(const aiger::Circuit& c, const std::vector<unsigned>& roots, std::vector<bdd::Bdd>& value) {
    auto of = [&](unsigned lit) { return (lit & 1) ? !value[lit >> 1] : value[lit >> 1]; };
    std::vector<unsigned> stack;
    for (unsigned root : roots) {
        if (!value[root >> 1].isNull()) continue;
        stack.push_back(root >> 1);
        while (!stack.empty()) {
            unsigned v = stack.back();
            if (!value[v].isNull()) {
                stack.pop_back();
                continue;
            }
            unsigned g = c.gateOfVar[v];
            bool ready = true;
            for (unsigned lit : {c.rhs0[g], c.rhs1[g]})
                if (value[lit >> 1].isNull()) {
                    stack.push_back(lit >> 1);
                    ready = false;
                }
            if (!ready) continue;
            value[v] = of(c.rhs0[g]) & of(c.rhs1[g]);
            stack.pop_back();
        }
    }
}

}  // namespace

ModelResult certificateFromCircuit(const std::string& circuitPath, const std::string& formulaPath) {
    Result<qdimacs::HeadPrefix> prefix = qdimacs::readPrefix(formulaPath);
    if (!prefix) return Status::failure("formula \"" + formulaPath + "\": " + prefix.message());
    Numbering n;
    if (Status numbered = numberVariables(*prefix, n); !numbered) return numbered;
    Result<aiger::Circuit> read = aiger::readCircuit(circuitPath, static_cast<unsigned long>(n.kind.size()) - 1);
    if (!read) return Status::failure("circuit \"" + circuitPath + "\": " + read.message());
    const aiger::Circuit& c = *read;
    const long maxVar = static_cast<long>(n.kind.size()) - 1;

    auto model = newReplayModel(formulaPath, static_cast<int>(n.order.size()), n.universals, n.order,
                                static_cast<int>(maxVar), inputs::fileBytes(circuitPath));
    std::vector<bdd::Bdd> value(c.maxVar + 1);
    value[0] = bdd::zero();
    for (std::size_t k = 0; k < c.inputs.size(); ++k) {
        long u = namedVariable(c.inputName[k], c.inputs[k]);
        if (u < 1 || u > maxVar || n.kind[u] != 'a')
            return Status::failure("input " + std::to_string(k) + " (\"" + c.inputName[k] +
                                   "\") names no universal of the formula");
        value[c.inputs[k] >> 1] = bdd::ithVar(model->univIndex[n.internal[u]]);
    }

    // Existential (external number) -> the literal of its function.
    std::vector<std::pair<long, unsigned>> functions;
    std::vector<char> seen(n.kind.size(), 0);
    auto bind = [&](long e, unsigned literal, const std::string& what) {
        if (e < 1 || e > maxVar || n.kind[e] != 'e')
            return Status::failure(what + " names no existential of the formula");
        if (seen[e]) return Status::failure("two outputs name the existential " + std::to_string(e));
        seen[e] = 1;
        functions.emplace_back(e, literal);
        return Status();
    };
    for (std::size_t k = 0; k < c.outputs.size(); ++k) {
        // Certifying solvers add an output "result", the constant 1: it is no function.
        if (c.outputName[k] == "result") continue;
        Status bound = bind(namedVariable(c.outputName[k], c.outputs[k]), c.outputs[k],
                            "output " + std::to_string(k) + " (\"" + c.outputName[k] + "\")");
        if (!bound) return bound;
    }
    // A circuit without outputs (what solvers write for a formula without universals)
    // gives each existential the gate of its own number.
    if (c.outputs.empty())
        for (unsigned lhs : c.lhs) {
            long e = lhs >> 1;
            if (e > maxVar || n.kind[e] != 'e') continue;
            if (Status bound = bind(e, lhs, "gate " + std::to_string(e)); !bound) return bound;
        }

    std::vector<unsigned> roots;
    for (const auto& [e, literal] : functions) roots.push_back(literal);
    evaluate(c, roots, value);
    for (const auto& [e, literal] : functions) {
        int x = n.internal[e];
        bdd::Bdd f = (literal & 1) ? !value[literal >> 1] : value[literal >> 1];
        model->negBdd[x] = !f;
        model->posBdd[x] = std::move(f);
    }
    return model;
}
