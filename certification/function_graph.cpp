// The functions' graph and its encoding in one polarity where that is enough.
#include "certification/function_graph.h"

#include <utility>

namespace certification {

namespace {

constexpr std::uint8_t kUp = 1, kDown = 2;

using Lit = FunctionGraph::Lit;

std::uint32_t nodeOf(Lit l) { return l >> 1; }
bool negated(Lit l) { return (l & 1) != 0; }
Lit negate(Lit l) { return l ^ 1u; }

// The need of a node reached through a literal: a negation swaps the directions.
std::uint8_t through(Lit l, std::uint8_t need) {
    return negated(l) ? static_cast<std::uint8_t>(((need & kUp) ? kDown : 0) | ((need & kDown) ? kUp : 0)) : need;
}

std::uint64_t mix(std::uint64_t h) {
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    return h;
}

}  // namespace

FunctionGraph::FunctionGraph(std::function<int(int)> inputVariable) : inputVariable_(std::move(inputVariable)) {
    nodes_.push_back(Node{Constant, 0, 0, 0, 0, 0});
    table_.assign(1024, 0);
}

Lit FunctionGraph::input(int index) {
    if (index >= static_cast<int>(inputs_.size())) inputs_.resize(static_cast<std::size_t>(index) + 1, 0);
    Lit& l = inputs_[index];
    if (l == 0) {
        nodes_.push_back(Node{Input, 0, static_cast<Lit>(index), 0, 0, inputVariable_(index)});
        l = 2 * static_cast<Lit>(nodes_.size() - 1);
    }
    return l;
}

Lit FunctionGraph::make(Kind kind, Lit a, Lit b, Lit c) {
    std::size_t mask = table_.size() - 1;
    std::size_t at = mix((static_cast<std::uint64_t>(a) << 32 | b) * 3 + c * 0x9e3779b97f4a7c15ULL + kind) & mask;
    for (; table_[at] != 0; at = (at + 1) & mask) {
        const Node& n = nodes_[table_[at]];
        if (n.kind == kind && n.a == a && n.b == b && n.c == c) return 2 * table_[at];
    }
    auto number = static_cast<std::uint32_t>(nodes_.size());
    nodes_.push_back(Node{kind, 0, a, b, c, 0});
    table_[at] = number;
    if (2 * nodes_.size() > table_.size()) {
        // Half full: twice the room, every node placed anew.
        std::vector<std::uint32_t> old(2 * table_.size(), 0);
        table_.swap(old);
        mask = table_.size() - 1;
        for (std::uint32_t k : old) {
            if (k == 0) continue;
            const Node& n = nodes_[k];
            std::size_t p =
                mix((static_cast<std::uint64_t>(n.a) << 32 | n.b) * 3 + n.c * 0x9e3779b97f4a7c15ULL + n.kind) & mask;
            while (table_[p] != 0) p = (p + 1) & mask;
            table_[p] = k;
        }
    }
    return 2 * number;
}

Lit FunctionGraph::conjoin(Lit a, Lit b) {
    if (a == kFalse || b == kFalse || a == negate(b)) return kFalse;
    if (a == kTrue || a == b) return b;
    if (b == kTrue) return a;
    if (a > b) std::swap(a, b);
    return make(And, a, b, 0);
}

Lit FunctionGraph::ifThenElse(Lit s, Lit then, Lit otherwise) {
    if (s == kTrue) return then;
    if (s == kFalse) return otherwise;
    if (negated(s)) return ifThenElse(negate(s), otherwise, then);
    if (then == otherwise) return then;
    if (then == kTrue && otherwise == kFalse) return s;
    if (then == kFalse && otherwise == kTrue) return negate(s);
    if (otherwise == kFalse) return conjoin(s, then);
    if (then == kFalse) return conjoin(negate(s), otherwise);
    if (then == kTrue) return negate(conjoin(negate(s), negate(otherwise)));
    if (otherwise == kTrue) return negate(conjoin(s, negate(then)));
    // One form for a node and its negation: the then-branch positive.
    if (negated(then)) return negate(make(Ite, s, negate(then), negate(otherwise)));
    return make(Ite, s, then, otherwise);
}

std::vector<Lit> FunctionGraph::addBdds(const std::vector<bdd::Bdd>& roots) {
    std::vector<bdd::Edge> edges = bdd::visitNodes(roots, [this](const bdd::VisitedNode& n) -> int {
        if (n.var < 0) return static_cast<int>(n.value ? kTrue : kFalse);
        auto child = [](const bdd::Edge& e) { return static_cast<Lit>(e.label) ^ (e.complemented ? 1u : 0u); };
        return static_cast<int>(ifThenElse(input(n.var), child(n.thenChild), child(n.elseChild)));
    });
    std::vector<Lit> literals;
    literals.reserve(edges.size());
    for (const bdd::Edge& e : edges) literals.push_back(static_cast<Lit>(e.label) ^ (e.complemented ? 1u : 0u));
    return literals;
}

std::vector<Lit> FunctionGraph::addCircuit(const FunctionCircuit& c, const std::vector<std::uint32_t>& outputs) {
    // The cones: a mark per circuit variable, then the marked gates from the lowest up
    // (a gate's inputs are lower variables than the gate).
    std::size_t numVars = static_cast<std::size_t>(c.numInputs) + 1 + c.gates();
    std::vector<char> marked(numVars, 0);
    for (std::uint32_t o : outputs)
        if ((o >> 1) < numVars) marked[o >> 1] = 1;
    auto first = static_cast<std::uint32_t>(c.numInputs + 1);
    for (std::size_t v = numVars; v-- > first;) {
        if (!marked[v]) continue;
        std::size_t g = v - first;
        marked[c.left[g] >> 1] = 1;
        marked[c.right[g] >> 1] = 1;
    }
    std::vector<Lit> value(numVars, kFalse);
    auto of = [&](std::uint32_t l) { return value[l >> 1] ^ (l & 1); };
    // The gate of a negated literal, or none.
    constexpr std::size_t kNoGate = ~std::size_t{0};
    auto negatedGate = [&](std::uint32_t l) { return (l & 1) && (l >> 1) >= first ? (l >> 1) - first : kNoGate; };
    for (std::size_t v = 1; v < numVars; ++v) {
        if (!marked[v]) continue;
        if (v < first) {
            value[v] = input(static_cast<int>(v));
            continue;
        }
        std::size_t g = v - first;
        // A multiplexer, -(s & t) & -(-s & e) = -(s ? t : e), becomes one node: the way
        // BDDs written as circuits come back, and what the solver handles best.
        std::size_t p = negatedGate(c.left[g]), q = negatedGate(c.right[g]);
        if (p != kNoGate && q != kNoGate) {
            std::uint32_t pl[2] = {c.left[p], c.right[p]}, ql[2] = {c.left[q], c.right[q]};
            bool found = false;
            for (int i = 0; i < 2 && !found; ++i)
                for (int j = 0; j < 2 && !found; ++j)
                    if (pl[i] == negateLiteral(ql[j])) {
                        value[v] = negate(ifThenElse(of(pl[i]), of(pl[1 - i]), of(ql[1 - j])));
                        found = true;
                    }
            if (found) continue;
        }
        value[v] = conjoin(of(c.left[g]), of(c.right[g]));
    }
    std::vector<Lit> literals;
    literals.reserve(outputs.size());
    for (std::uint32_t o : outputs) literals.push_back((o >> 1) < numVars ? value[o >> 1] ^ (o & 1) : kFalse);
    return literals;
}

void FunctionGraph::implies(Lit f, int variable) { implications_.emplace_back(f, variable); }

int FunctionGraph::solverLiteral(Lit l) const {
    int v = nodes_[nodeOf(l)].variable;
    return negated(l) ? -v : v;
}

void FunctionGraph::encode(sat::Solver& solver) {
    std::vector<std::uint32_t> uses(nodes_.size(), 0);
    for (const auto& [f, variable] : implications_) {
        if (f == kFalse) continue;
        if (f == kTrue) {
            solver.addClause({variable});
            continue;
        }
        nodes_[nodeOf(f)].need |= through(f, kUp);
        uses[nodeOf(f)] += 2;
    }
    // Parents before children: every node is made after its children. An AND node used
    // once, and that through a plain edge of another AND node, joins its parent's
    // conjunction: one clause of many literals instead of a variable per gate (chains of
    // conditions and of same-valued entries are such conjunctions).
    std::vector<char> joined(nodes_.size(), 0);
    for (std::size_t k = nodes_.size(); k-- > 1;) {
        Node& n = nodes_[k];
        if (n.need == 0 || n.kind == Input) continue;
        joined[k] = n.kind == And && uses[k] == 1;
        if (!joined[k]) {
            n.variable = solver.newVariable();
            ++encoded_;
        }
        for (Lit child : {n.b, n.kind == And ? n.a : n.c}) {
            nodes_[nodeOf(child)].need |= through(child, n.need);
            // Counted as 1 when plain from an AND, as 2 (not joinable) otherwise.
            uses[nodeOf(child)] += (n.kind == And && !negated(child)) ? 1 : 2;
        }
        // A select stands in both polarities in the clauses of either direction.
        if (n.kind == Ite) {
            nodes_[nodeOf(n.a)].need |= kUp | kDown;
            uses[nodeOf(n.a)] += 2;
        }
    }
    std::vector<int> clause;
    std::vector<Lit> stack;
    for (std::size_t k = 1; k < nodes_.size(); ++k) {
        const Node& n = nodes_[k];
        if (n.variable == 0 || n.kind == Input) continue;
        int g = n.variable;
        if (n.kind == And) {
            clause.clear();
            stack.assign({n.a, n.b});
            while (!stack.empty()) {
                Lit l = stack.back();
                stack.pop_back();
                if (!negated(l) && joined[nodeOf(l)]) {
                    stack.push_back(nodes_[nodeOf(l)].a);
                    stack.push_back(nodes_[nodeOf(l)].b);
                } else {
                    clause.push_back(solverLiteral(l));
                }
            }
            if (n.need & kDown)
                for (int leaf : clause) solver.addClause({-g, leaf});
            if (n.need & kUp) {
                for (int& leaf : clause) leaf = -leaf;
                clause.push_back(g);
                solver.addClause(clause.data(), static_cast<int>(clause.size()));
            }
        } else {
            int s = solverLiteral(n.a), t = solverLiteral(n.b), e = solverLiteral(n.c);
            // The third clause of each direction is implied by the other two; it lets the
            // solver conclude without knowing the input.
            if (n.need & kUp) {
                solver.addClause({-s, -t, g});
                solver.addClause({s, -e, g});
                solver.addClause({-t, -e, g});
            }
            if (n.need & kDown) {
                solver.addClause({-s, t, -g});
                solver.addClause({s, e, -g});
                solver.addClause({t, e, -g});
            }
        }
    }
    for (const auto& [f, variable] : implications_)
        if (f != kFalse && f != kTrue) solver.addClause({-solverLiteral(f), variable});
}

}  // namespace certification
