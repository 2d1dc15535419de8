// The countermodel check: dependencies from the prefix, then the clauses into the SAT
// solver as the formula streams past, then the definitions of the functions the clauses
// use, then one solver call.
#include "certification/countermodel_check.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <unordered_map>
#include <utility>

#include "certification/checks.h"
#include "certification/function_graph.h"
#include "certification/sat_solver.h"
#include "outcomes/clocks.h"

namespace certification {

namespace {

using Lit = FunctionGraph::Lit;

// How a universal's function reaches the solver.
enum class Form : std::uint8_t { None, Bdd, Circuit };

// What a universal's literal in a clause becomes, beside a solver variable: the function
// never makes it false (the clause holds), or always does (the literal goes).
constexpr int kSatisfied = -1;
constexpr int kFalsified = -2;

class Refutation {
  public:
    explicit Refutation(const QBModel& model) : model_(model) {
        std::size_t n = static_cast<std::size_t>(std::max(model.numVars, 0));
        form_.assign(n, Form::None);
        use_.assign(2 * n, 0);
        variableOf_.assign(model.extToInt.size(), 0);
    }

    // The roles and dependencies against the prefix, and the form of every function.
    int prefix(const qdimacs::Prefix& prefix, steps::Reporter& reporter);
    int clause(const int* literals, int count);
    // After the last clause: the definitions of the functions used, then the solver.
    bool refuted();
    void reportWitness(steps::Reporter& reporter);

  private:
    int internalOf(long external) const {
        if (!model_.knowsExternal(external)) return 0;
        int v = model_.extToInt[external];
        return v < model_.numVars && v < static_cast<int>(model_.univIndex.size()) ? v : 0;
    }
    bool isInput(int v) const { return model_.univIndex[v] != 0; }
    bool hasBdds(int v) const {
        return v < static_cast<int>(model_.posBdd.size()) && v < static_cast<int>(model_.negBdd.size()) &&
               !model_.posBdd[v].isNull() && !model_.negBdd[v].isNull();
    }
    std::uint32_t output(int v) const {
        const FunctionCircuit* c = model_.circuit.get();
        if (!c || v >= static_cast<int>(c->output.size())) return FunctionCircuit::kNone;
        return c->output[v];
    }
    bool hasFunction(int v) const { return hasBdds(v) || output(v) != FunctionCircuit::kNone; }
    int blockOf(long external) const {
        return external > 0 && external < static_cast<long>(prefix_.block.size()) ? prefix_.block[external] : 0;
    }
    bool existentialBlock(int b) const { return b == 0 || prefix_.blockKind[b] != 'a'; }
    // The solver variable of a variable of the formula, made when first used.
    int variableOf(long external);
    bool choosesBdds(const std::vector<int>& both) const;
    void encodeFunctions(FunctionGraph& graph);

    const QBModel& model_;
    qdimacs::Prefix prefix_;
    sat::Solver solver_;
    std::vector<Form> form_;  // internal number -> how its function is encoded
    // 2v: the positive literal of universal v, 2v + 1 the negative: kSatisfied, kFalsified,
    // or 0 until a clause uses it, then the solver variable that stands for "the function
    // makes this literal false".
    std::vector<int> use_;
    std::vector<int> variableOf_;                  // external number -> solver variable
    std::unordered_map<long, int> unknownVariable_;  // numbers beyond the certificate's
    std::vector<int> clause_;
    bool emptyClause_ = false;
};

int Refutation::variableOf(long external) {
    if (external < static_cast<long>(variableOf_.size())) {
        int& v = variableOf_[external];
        if (v == 0) v = solver_.newVariable();
        return v;
    }
    auto [at, added] = unknownVariable_.try_emplace(external, 0);
    if (added) at->second = solver_.newVariable();
    return at->second;
}

int Refutation::prefix(const qdimacs::Prefix& prefix, steps::Reporter& reporter) {
    prefix_ = prefix;
    // Roles: an input of the functions must be existential in the formula, a variable
    // with a function universal.
    for (int v = 1; v < model_.numVars; ++v) {
        int e = model_.intToExt[v];
        bool existential = existentialBlock(blockOf(e));
        if (isInput(v) && !existential) {
            reporter.print("Problem, variable %i is universal in the formula ", e);
            return 0;
        }
        if (!isInput(v) && hasFunction(v) && existential) {
            reporter.print("Problem, variable %i is existential in the formula ", e);
            return 0;
        }
    }
    // Dependencies. A circuit passes on its structure: the latest block of the inputs its
    // cone reaches. BDDs without a circuit that passes are checked on their function.
    std::vector<int> latest;
    if (const FunctionCircuit* c = model_.circuit.get()) {
        latest.assign(static_cast<std::size_t>(c->numInputs) + 1 + c->gates(), 0);
        // An input the certificate does not number counts as the latest of all.
        for (int k = 1; k <= c->numInputs; ++k)
            latest[k] = k <= model_.numUniv ? blockOf(model_.intToExt[model_.univVar[k]]) : INT_MAX;
        for (std::size_t g = 0; g < c->gates(); ++g)
            latest[c->variableOf(g)] = std::max(latest[c->left[g] >> 1], latest[c->right[g] >> 1]);
    }
    std::vector<char> semantic(form_.size(), 0);
    std::vector<int> both;  // universals with both forms, free to take either
    bool anySemantic = false;
    for (int v = 1; v < model_.numVars; ++v) {
        if (isInput(v) || !hasFunction(v)) continue;
        std::uint32_t o = output(v);
        bool structural = o != FunctionCircuit::kNone && (o >> 1) < latest.size() &&
                          latest[o >> 1] < blockOf(model_.intToExt[v]);
        if (structural && hasBdds(v)) {
            both.push_back(v);
        } else if (structural) {
            form_[v] = Form::Circuit;
        } else if (hasBdds(v)) {
            form_[v] = Form::Bdd;
            semantic[v] = 1;
            anySemantic = true;
        } else {
            reporter.print("Problem, variable %i depends on a later existential ", model_.intToExt[v]);
            return 0;
        }
    }
    if (anySemantic && !dependencyCheck(model_, prefix, reporter, [&](int v) { return semantic[v] != 0; }))
        return 0;
    Form chosen = choosesBdds(both) ? Form::Bdd : Form::Circuit;
    for (int v : both) form_[v] = chosen;

    // Constant functions decide their literals here, once.
    for (int v = 1; v < model_.numVars; ++v) {
        std::size_t at = 2 * static_cast<std::size_t>(v);
        if (form_[v] == Form::Bdd) {
            // The positive literal is false where the false set holds, the negative where
            // the true set does.
            const bdd::Bdd& no = model_.negBdd[v];
            const bdd::Bdd& yes = model_.posBdd[v];
            use_[at] = no.isZero() ? kSatisfied : no.isOne() ? kFalsified : 0;
            use_[at + 1] = yes.isZero() ? kSatisfied : yes.isOne() ? kFalsified : 0;
        } else if (form_[v] == Form::Circuit) {
            std::uint32_t o = output(v);
            if (o == FunctionCircuit::kFalse) {
                use_[at] = kFalsified;
                use_[at + 1] = kSatisfied;
            } else if (o == FunctionCircuit::kTrue) {
                use_[at] = kSatisfied;
                use_[at + 1] = kFalsified;
            }
        }
    }
    return 1;
}

// The BDDs when their nodes are no more than the circuit's gates in the cones of the
// same functions. Size is what tells the two apart on real countermodels: a parity
// written as a chain of thousands of entries is a BDD of a few dozen nodes, while the
// game formulas' strategies take BDDs as large as their circuits or larger.
bool Refutation::choosesBdds(const std::vector<int>& both) const {
    if (both.empty()) return true;
    std::vector<bdd::Bdd> roots;
    std::vector<std::uint32_t> outputs;
    for (int v : both) {
        roots.push_back(model_.posBdd[v]);
        outputs.push_back(output(v));
    }
    long bddNodes = 0;
    bdd::visitNodes(roots, [&bddNodes](const bdd::VisitedNode&) { return static_cast<int>(++bddNodes); });
    const FunctionCircuit& c = *model_.circuit;
    std::size_t first = static_cast<std::size_t>(c.numInputs) + 1;
    std::vector<char> marked(first + c.gates(), 0);
    for (std::uint32_t o : outputs) marked[o >> 1] = 1;
    long gates = 0;
    for (std::size_t v = marked.size(); v-- > first;) {
        if (!marked[v]) continue;
        ++gates;
        marked[c.left[v - first] >> 1] = 1;
        marked[c.right[v - first] >> 1] = 1;
    }
    return bddNodes <= gates;
}

int Refutation::clause(const int* literals, int count) {
    if (emptyClause_) return 1;
    clause_.clear();
    for (int i = 0; i < count; ++i) {
        int e = literals[i];
        long external = std::labs(static_cast<long>(e));
        int v = internalOf(external);
        if (v != 0 && form_[v] != Form::None) {
            int& use = use_[2 * static_cast<std::size_t>(v) + (e < 0 ? 1 : 0)];
            if (use == kSatisfied) return 1;
            if (use == kFalsified) continue;
            if (use == 0) use = solver_.newVariable();
            clause_.push_back(-use);
        } else {
            int x = variableOf(external);
            clause_.push_back(e < 0 ? -x : x);
        }
    }
    solver_.addClause(clause_.data(), static_cast<int>(clause_.size()));
    if (clause_.empty()) emptyClause_ = true;
    return 1;
}

void Refutation::encodeFunctions(FunctionGraph& graph) {
    // "Falsified" functions: for each used literal, the function under which the
    // universal makes it false, and the variable the clauses use for it.
    std::vector<bdd::Bdd> roots;
    std::vector<int> rootUse;          // the use variable each BDD root implies
    std::vector<char> rootNegated;     // the root stands negated (a total function's other side)
    std::vector<std::uint32_t> outputs;
    std::vector<int> outputUse;
    for (int v = 1; v < model_.numVars; ++v) {
        std::size_t at = 2 * static_cast<std::size_t>(v);
        int positive = use_[at] > 0 ? use_[at] : 0;
        int negative = use_[at + 1] > 0 ? use_[at + 1] : 0;
        if (!positive && !negative) continue;
        if (form_[v] == Form::Bdd) {
            const bdd::Bdd& yes = model_.posBdd[v];
            // A total function (no open scenario) is one graph read both ways.
            if (positive && negative && model_.negBdd[v] == !yes) {
                roots.push_back(yes);
                rootUse.push_back(positive);
                rootNegated.push_back(1);
                roots.push_back(yes);
                rootUse.push_back(negative);
                rootNegated.push_back(0);
                continue;
            }
            if (positive) {
                roots.push_back(model_.negBdd[v]);
                rootUse.push_back(positive);
                rootNegated.push_back(0);
            }
            if (negative) {
                roots.push_back(yes);
                rootUse.push_back(negative);
                rootNegated.push_back(0);
            }
        } else if (form_[v] == Form::Circuit) {
            std::uint32_t o = output(v);
            if (positive) {
                outputs.push_back(negateLiteral(o));
                outputUse.push_back(positive);
            }
            if (negative) {
                outputs.push_back(o);
                outputUse.push_back(negative);
            }
        }
    }
    if (!roots.empty()) {
        std::vector<Lit> l = graph.addBdds(roots);
        for (std::size_t i = 0; i < l.size(); ++i) graph.implies(l[i] ^ (rootNegated[i] ? 1u : 0u), rootUse[i]);
    }
    if (!outputs.empty()) {
        std::vector<Lit> l = graph.addCircuit(*model_.circuit, outputs);
        for (std::size_t i = 0; i < l.size(); ++i) graph.implies(l[i], outputUse[i]);
    }
}

bool Refutation::refuted() {
    if (emptyClause_) return true;
    FunctionGraph graph([this](int k) {
        return k <= model_.numUniv ? variableOf(model_.intToExt[model_.univVar[k]]) : solver_.newVariable();
    });
    encodeFunctions(graph);
    graph.encode(solver_);
    return !solver_.solve();
}

void Refutation::reportWitness(steps::Reporter& reporter) {
    // The formula's existentials: those the certificate knows, and free variables it does
    // not know that the clauses use.
    struct Entry {
        int block;
        long order;
        long external;
    };
    std::vector<Entry> existentials;
    for (long e = 1; e < static_cast<long>(prefix_.block.size()); ++e) {
        int b = blockOf(e);
        if (!existentialBlock(b)) continue;
        int v = internalOf(e);
        bool known = v != 0;
        bool used = e < static_cast<long>(variableOf_.size()) && variableOf_[e] != 0;
        if (!known && !used) continue;
        existentials.push_back({b, b == 0 || !known ? e : v, e});
    }
    std::sort(existentials.begin(), existentials.end(), [](const Entry& a, const Entry& b) {
        return a.block != b.block ? a.block < b.block : a.order < b.order;
    });
    std::string text = "Satisfying assignment: ";
    for (const Entry& x : existentials) {
        int s = x.external < static_cast<long>(variableOf_.size()) ? variableOf_[x.external] : 0;
        bool value = s != 0 && solver_.value(s);
        text += std::to_string(value ? x.external : -x.external);
        text += ' ';
    }
    reporter.write(text);
}

}  // namespace

int countermodelCheck(QBModel& model, const std::string& formulaPath, steps::Reporter& reporter) {
    reporter.open("Validity check          ");
    double start = clocks::checkMicros();
    qdimacs::Expect expect;
    expect.numVars = model.numVars;
    expect.maxKnown = static_cast<int>(model.extToInt.size()) - 1;
    // A false formula may hold the empty clause; a trace's or a circuit's formula may have
    // comments among its quantifier lines.
    expect.emptyClauses = true;
    expect.prefixThroughComments = model.solver != "Tobrin";
    Refutation refutation(model);
    int result = qdimacs::read(
        formulaPath, expect, [&](const int* literals, int count) { return refutation.clause(literals, count); },
        reporter, [&](const qdimacs::Prefix& prefix) { return refutation.prefix(prefix, reporter); });
    if (result && !refutation.refuted()) {
        refutation.reportWitness(reporter);
        result = 0;
    }
    reporter.close();
    model.validityTime = clocks::checkSecondsSince(start);
    return result;
}

int countermodelCheck(const QBModel& model, const qdimacs::Prefix& prefix,
                      const std::vector<std::vector<int>>& clauses, steps::Reporter& reporter) {
    Refutation refutation(model);
    if (!refutation.prefix(prefix, reporter)) return 0;
    for (const std::vector<int>& c : clauses) refutation.clause(c.data(), static_cast<int>(c.size()));
    if (refutation.refuted()) return 1;
    refutation.reportWitness(reporter);
    return 0;
}

}  // namespace certification
