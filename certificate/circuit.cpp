// A circuit becomes a certificate in four steps: the formula's prefix numbers the
// variables (free variables first, as outermost existentials, then the blocks in order),
// the circuit's inputs and outputs are matched to the formula's variables (which tells
// a Skolem circuit from a countermodel), a depth-first walk of the outputs' cones gives
// the BDD variables their first order and the gates their evaluation order, and every
// gate's BDD is built children first and dropped once the last gate or function that
// reads it has it.
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
    std::vector<int> order;     // internal number -> external number (entry 0 unused)
    std::vector<int> internal;  // external number -> internal number, 0 for none
    std::vector<char> kind;     // external number -> 'a', 'e' or 0
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
    for (int v = 1; v <= maxVar && v <= prefix.numVars; ++v)
        if (n.kind[v] == 0) {
            n.kind[v] = 'e';
            n.order.push_back(v);
        }
    for (const auto& [kind, vars] : prefix.blocks) n.order.insert(n.order.end(), vars.begin(), vars.end());
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

const char* quantifier(char kind) { return kind == 'a' ? "universal" : "existential"; }

// One input or output and the formula variable it names.
struct Port {
    const char* what;  // "input" or "output"
    std::size_t k;
    std::string name;
    unsigned literal;
    long var;   // -1 when the name is no number
    char kind;  // the variable's quantifier, 0 when it is no variable of the formula

    std::string position() const { return std::string(what) + " " + std::to_string(k); }
    std::string label() const { return position() + " (\"" + name + "\")"; }
};

// A Skolem circuit's inputs are universals and its outputs existentials; a countermodel
// is the other way round. True for a countermodel; a failure when ports of both kinds
// occur. The first port of a countermodel is then reported as misfit, in the words a
// Skolem circuit's misfits get.
Result<bool> isCountermodel(const std::vector<Port>& inputs, const std::vector<Port>& outputs) {
    const Port* skolem = nullptr;
    const Port* counter = nullptr;
    for (const Port& p : inputs) {
        if (p.kind == 'a' && !skolem) skolem = &p;
        if (p.kind == 'e' && !counter) counter = &p;
    }
    for (const Port& p : outputs) {
        if (p.kind == 'e' && !skolem) skolem = &p;
        if (p.kind == 'a' && !counter) counter = &p;
    }
    if (!skolem || !counter) return counter != nullptr;
    auto names = [](const Port& p) {
        return p.position() + " names the " + quantifier(p.kind) + " " + std::to_string(p.var);
    };
    bool input = counter->what[0] == 'i';
    return Status::failure(counter->label() + " names no " + (input ? "universal" : "existential") +
                           " of the formula: the circuit mixes a countermodel's variables (" + names(*counter) +
                           ") with a certificate's (" + names(*skolem) +
                           "); a certificate's inputs are universals and its outputs existentials, a "
                           "countermodel's the other way round");
}

// The gates in the cones of the roots, each once and children first, and the inputs in
// the order the walk meets them: roots in order, and at every gate the child whose cone
// is deeper first (the classic fan-in order for circuits: a deep cone's inputs go on top,
// and the walk does not depend on how the file numbers its gates). With an explicit
// stack, as circuits may be deep.
struct Walk {
    std::vector<unsigned> gates;   // AIGER variables
    std::vector<unsigned> inputs;  // AIGER variables
};

// depth: per AIGER variable, the longest path down to an input (empty: walk first
// child first, as the file lists it).
Walk walkCones(const aiger::Circuit& c, const std::vector<unsigned>& roots, const std::vector<unsigned>& depth) {
    Walk w;
    std::vector<char> state(c.maxVar + 1, 0);  // 0 new, 1 children pending, 2 done
    std::vector<unsigned> stack;
    for (unsigned root : roots) {
        stack.push_back(root >> 1);
        while (!stack.empty()) {
            unsigned v = stack.back();
            if (state[v] == 2) {
                stack.pop_back();
                continue;
            }
            unsigned g = c.gateOfVar[v];
            if (g == aiger::Circuit::kNoGate) {
                state[v] = 2;
                stack.pop_back();
                if (v != 0) w.inputs.push_back(v);
                continue;
            }
            if (state[v] == 0) {
                state[v] = 1;
                unsigned first = c.rhs0[g] >> 1, second = c.rhs1[g] >> 1;
                if (!depth.empty() && depth[second] > depth[first]) std::swap(first, second);
                for (unsigned child : {second, first})  // the first child on top
                    if (state[child] != 2) stack.push_back(child);
                continue;
            }
            state[v] = 2;
            stack.pop_back();
            w.gates.push_back(v);
        }
    }
    return w;
}

Walk walkConesDeepFirst(const aiger::Circuit& c, const std::vector<unsigned>& roots) {
    std::vector<unsigned> depth(c.maxVar + 1, 0);
    for (unsigned v : walkCones(c, roots, {}).gates) {
        unsigned g = c.gateOfVar[v];
        depth[v] = 1 + std::max(depth[c.rhs0[g] >> 1], depth[c.rhs1[g] >> 1]);
    }
    return walkCones(c, roots, depth);
}

// A variable with a function, and the literal of the circuit that computes it.
struct Function {
    int var;  // internal number
    unsigned literal;
};

// The functions as the model's and-inverter graph over the BDD indices of the inputs.
std::shared_ptr<const FunctionCircuit> functionCircuit(const aiger::Circuit& c, const Walk& walk,
                                                       const std::vector<int>& indexOf,
                                                       const std::vector<Function>& functions, const QBModel& model) {
    auto fc = std::make_shared<FunctionCircuit>();
    fc->numInputs = model.numUniv;
    std::vector<std::uint32_t> lit(c.maxVar + 1, FunctionCircuit::kFalse);
    for (unsigned input : c.inputs) lit[input >> 1] = fc->input(indexOf[input >> 1]);
    auto of = [&lit](unsigned l) { return lit[l >> 1] ^ (l & 1u); };
    for (unsigned v : walk.gates) {
        unsigned g = c.gateOfVar[v];
        lit[v] = fc->conjoin(of(c.rhs0[g]), of(c.rhs1[g]));
    }
    fc->output.assign(static_cast<std::size_t>(model.numVars), FunctionCircuit::kNone);
    for (const Function& f : functions) fc->output[f.var] = of(f.literal);
    return fc;
}

// Reordering is asked for between gates once the live nodes have doubled since the last
// one, from this many on: the engine's own trigger waits for its node table to fill,
// and by then one gate of a circuit may have built an exponential BDD under a poor
// order. Early and often keeps every reordering cheap (bug10rr: 0.4 s in all, against
// 1.5 s with the engine's trigger alone and 64K nodes as the floor). With many
// variables the first one waits until the nodes outnumber half the pairs of variables,
// what a reordering costs however small the BDDs.
constexpr long kFirstReorder = 1L << 13;

long firstReorder(int variables) {
    long pairs = static_cast<long>(variables) * variables / 2;
    return std::max(kFirstReorder, pairs);
}

// Every function's BDD, gate by gate in the walk's order; a gate's BDD goes as soon as
// the last reader has it. With a budget (above 0), false as soon as the live nodes pass
// it (the functions then have none).
bool evaluate(const aiger::Circuit& c, const Walk& walk, const std::vector<int>& indexOf,
              const std::vector<Function>& functions, long budget, QBModel& model) {
    std::vector<bdd::Bdd> value(c.maxVar + 1);
    value[0] = bdd::zero();
    for (unsigned input : c.inputs) value[input >> 1] = bdd::ithVar(indexOf[input >> 1]);
    std::vector<unsigned> readers(c.maxVar + 1, 0);
    for (unsigned v : walk.gates) {
        unsigned g = c.gateOfVar[v];
        ++readers[c.rhs0[g] >> 1];
        ++readers[c.rhs1[g] >> 1];
    }
    for (const Function& f : functions) ++readers[f.literal >> 1];
    auto of = [&value](unsigned l) { return (l & 1) ? !value[l >> 1] : value[l >> 1]; };
    auto read = [&](unsigned l) {
        unsigned v = l >> 1;
        if (c.gateOfVar[v] != aiger::Circuit::kNoGate && --readers[v] == 0) value[v].release();
    };
    bdd::Manager& manager = *model.manager;
    const long floor = firstReorder(manager.size());
    long nextReorder = floor;
    for (unsigned v : walk.gates) {
        unsigned g = c.gateOfVar[v];
        value[v] = of(c.rhs0[g]) & of(c.rhs1[g]);
        read(c.rhs0[g]);
        read(c.rhs1[g]);
        if (budget > 0 && !manager.withinNodes(budget)) return false;
        if (manager.liveNodes() > nextReorder) {
            manager.reorder();
            nextReorder = std::max(floor, 2 * manager.liveNodes());
        }
    }
    for (const Function& f : functions) {
        bdd::Bdd fn = of(f.literal);
        read(f.literal);
        model.negBdd[f.var] = !fn;
        model.posBdd[f.var] = std::move(fn);
    }
    return true;
}

}  // namespace

ModelResult certificateFromCircuit(const std::string& circuitPath, const std::string& formulaPath,
                                   const CircuitOptions& options) {
    Result<qdimacs::HeadPrefix> prefix = qdimacs::readPrefix(formulaPath);
    if (!prefix) return Status::failure("formula \"" + formulaPath + "\": " + prefix.message());
    Numbering n;
    if (Status numbered = numberVariables(*prefix, n); !numbered) return numbered;
    Result<aiger::Circuit> read = aiger::readCircuit(circuitPath, static_cast<unsigned long>(n.kind.size()) - 1);
    if (!read) return Status::failure("circuit \"" + circuitPath + "\": " + read.message());
    const aiger::Circuit& c = *read;
    const long maxVar = static_cast<long>(n.kind.size()) - 1;

    auto port = [&](const char* what, std::size_t k, const std::string& name, unsigned literal) {
        long v = namedVariable(name, literal);
        char kind = v >= 1 && v <= maxVar ? n.kind[v] : 0;
        return Port{what, k, name, literal, v, kind};
    };
    std::vector<Port> inputs, outputs;
    for (std::size_t k = 0; k < c.inputs.size(); ++k) inputs.push_back(port("input", k, c.inputName[k], c.inputs[k]));
    for (std::size_t k = 0; k < c.outputs.size(); ++k)
        // Certifying solvers add an output "result", the constant 1: it is no function.
        if (c.outputName[k] != "result") outputs.push_back(port("output", k, c.outputName[k], c.outputs[k]));
    Result<bool> counter = isCountermodel(inputs, outputs);
    if (!counter) return counter.status();
    const char inKind = *counter ? 'e' : 'a', outKind = *counter ? 'a' : 'e';

    // The BDD variables: the variables of the inputs' quantifier, in certificate order.
    std::vector<int> bddVars{0};
    for (std::size_t i = 1; i < n.order.size(); ++i)
        if (n.kind[n.order[i]] == inKind) bddVars.push_back(static_cast<int>(i));
    auto model = newReplayModel(formulaPath, static_cast<int>(n.order.size()), bddVars, n.order,
                                static_cast<int>(maxVar), inputs::fileBytes(circuitPath));
    model->polarity = *counter ? Polarity::False : Polarity::True;
    std::vector<int> indexOf(c.maxVar + 1, 0);  // AIGER input variable -> BDD index
    for (const Port& p : inputs) {
        if (p.kind != inKind) return Status::failure(p.label() + " names no " + quantifier(inKind) + " of the formula");
        indexOf[p.literal >> 1] = model->univIndex[n.internal[p.var]];
    }

    std::vector<Function> functions;
    std::vector<char> seen(n.kind.size(), 0);
    auto bind = [&](long v, unsigned literal, const std::string& what) {
        if (v < 1 || v > maxVar || n.kind[v] != outKind)
            return Status::failure(what + " names no " + quantifier(outKind) + " of the formula");
        if (seen[v]) return Status::failure("two outputs name the " + std::string(quantifier(outKind)) + " " + std::to_string(v));
        seen[v] = 1;
        functions.push_back({n.internal[v], literal});
        return Status();
    };
    for (const Port& p : outputs)
        if (Status bound = bind(p.var, p.literal, p.label()); !bound) return bound;
    // A Skolem circuit without outputs (what solvers write for a formula without
    // universals) gives each existential the gate of its own number.
    if (c.outputs.empty() && !*counter)
        for (unsigned lhs : c.lhs) {
            long e = lhs >> 1;
            if (e > maxVar || n.kind[e] != 'e') continue;
            if (Status bound = bind(e, lhs, "gate " + std::to_string(e)); !bound) return bound;
        }

    std::vector<unsigned> roots;
    for (const Function& f : functions) roots.push_back(f.literal);
    Walk walk = walkConesDeepFirst(c, roots);
    if (*counter) model->circuit = functionCircuit(c, walk, indexOf, functions, *model);

    // The inputs the walk meets first go on top; BDD variable 0 (no variable) stays above.
    // (Beyond the variables whose order is cheap to set, the prefix order stays.)
    bdd::Manager& manager = *model->manager;
    std::vector<int> levels{0};
    std::vector<char> placed(static_cast<std::size_t>(model->numUniv) + 1, 0);
    placed[0] = 1;
    for (unsigned v : walk.inputs)
        if (!placed[indexOf[v]]) {
            placed[indexOf[v]] = 1;
            levels.push_back(indexOf[v]);
        }
    if (manager.size() <= bdd::Manager::kCheapOrderVariables) manager.setOrder(levels);
    if (options.reorderMethod != 1)
        manager.enableReordering(options.reorderMethod);
    else
        manager.disableReordering();

    const long budget = *counter ? std::min(options.countermodelNodes, manager.nodeLimit() / 2) : 0;
    if (!evaluate(c, walk, indexOf, functions, budget, *model)) {
        for (int p = 1; p <= model->numExist; ++p) {
            model->posBdd[model->existVar[p]] = bdd::Bdd();
            model->negBdd[model->existVar[p]] = bdd::Bdd();
        }
        model->noBdds = "the BDDs of its functions exceed " + std::to_string(budget) + " nodes";
    }
    return model;
}
