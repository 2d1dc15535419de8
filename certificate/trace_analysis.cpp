// The analysis of a proof trace for both answers: the checks of its leaves and steps, and
// the entries they give the functions.
#include "certificate/trace_analysis.h"

#include <algorithm>

namespace extraction {

namespace {

int absOf(int l) { return l < 0 ? -l : l; }

}  // namespace

Order makeOrder(const qrp::Trace& t, int maxVar, Polarity polarity) {
    Order o;
    o.polarity = polarity;
    std::size_t n = static_cast<std::size_t>(maxVar) + 1;
    o.pos.assign(n, 0);
    o.input.assign(n, 0);
    o.inputIndex.assign(n, 0);
    o.inputs.assign(1, 0);
    std::vector<char> listed(n, 0);
    for (const qrp::Block& b : t.blocks)
        for (int v : b.vars) listed[static_cast<std::size_t>(v)] = 1;
    o.byPos.assign(1, 0);
    for (int v = 1; v <= maxVar; ++v)
        if (!listed[static_cast<std::size_t>(v)]) o.byPos.push_back(v);
    for (const qrp::Block& b : t.blocks)
        for (int v : b.vars) o.byPos.push_back(v);
    char inputKind = polarity == Polarity::True ? 'a' : 'e';
    std::vector<char> kind(n, 'e');
    for (const qrp::Block& b : t.blocks)
        for (int v : b.vars) kind[static_cast<std::size_t>(v)] = b.kind;
    for (std::size_t p = 1; p < o.byPos.size(); ++p) {
        int v = o.byPos[p];
        o.pos[static_cast<std::size_t>(v)] = static_cast<int>(p);
        if (kind[static_cast<std::size_t>(v)] == inputKind) {
            o.input[static_cast<std::size_t>(v)] = 1;
            o.inputs.push_back(v);
            o.inputIndex[static_cast<std::size_t>(v)] = o.numInputs();
        }
    }
    return o;
}

ProofAnalysis::ProofAnalysis(const qrp::Trace& trace, const Order& order)
    : t_(trace), o_(order), cubes_(order.polarity == Polarity::True), mark_(order.pos.size(), 0),
      seen_(order.pos.size(), 0) {}

int ProofAnalysis::clause(const int* literals, int count) {
    formulaLits_.insert(formulaLits_.end(), literals, literals + count);
    clauseStart_.push_back(formulaLits_.size());
    return 1;
}

void ProofAnalysis::releaseFormula() {
    std::vector<int>().swap(formulaLits_);
    std::vector<std::size_t>(1, 0).swap(clauseStart_);
}

bool ProofAnalysis::stepFail(std::int64_t id, const std::string& what) {
    failure_ = "step " + std::to_string(id) + ": " + what;
    return false;
}

std::size_t ProofAnalysis::posOfStep(std::int32_t stepIndex) const {
    return static_cast<std::size_t>(std::lower_bound(t_.proof.begin(), t_.proof.end(), stepIndex) - t_.proof.begin());
}

std::string ProofAnalysis::mismatch(const std::string& formulaPath) const {
    return "the trace and the formula \"" + formulaPath + "\" do not match: the formula has " +
           std::to_string(clauseStart_.size() - 1) + " clauses (not counting tautologies), the trace's formula " +
           std::to_string(t_.numClauses);
}

Status ProofAnalysis::checkLeaves(const std::string& formulaPath) {
    bool ok = cubes_ ? cubeLeavesOk(formulaPath) : clauseLeavesOk(formulaPath);
    return ok ? Status() : Status::failure(failure_);
}

// The leaves of the proof, in proof order, with their rank among the trace's steps
// without antecedents (the first of which are the formula's clauses).
namespace {

struct Leaf {
    std::size_t p;
    long rank;
};

std::vector<Leaf> leavesOf(const qrp::Trace& t) {
    std::vector<Leaf> leaves;
    long rank = 0;
    std::size_t p = 0;
    for (std::size_t i = 0; i < t.steps() && p < t.proof.size(); ++i) {
        bool inProof = t.proof[p] == static_cast<std::int32_t>(i);
        if (t.antCount[i] == 0) {
            if (inProof) leaves.push_back({p, rank});
            ++rank;
        }
        if (inProof) ++p;
    }
    return leaves;
}

}  // namespace

bool ProofAnalysis::cubeLeavesOk(const std::string& formulaPath) {
    const long clauses = static_cast<long>(clauseStart_.size()) - 1;
    std::vector<Leaf> leaves = leavesOf(t_);
    // Occurrence lists of the formula: literal -> the clauses holding it.
    std::size_t slots = 2 * o_.pos.size();
    auto slot = [](int l) { return 2 * static_cast<std::size_t>(absOf(l)) + (l < 0 ? 1 : 0); };
    std::vector<std::size_t> occStart(slots + 1, 0);
    for (int l : formulaLits_)
        if (absOf(l) < static_cast<int>(o_.pos.size())) ++occStart[slot(l) + 1];
    for (std::size_t s = 0; s < slots; ++s) occStart[s + 1] += occStart[s];
    std::vector<std::uint32_t> occ(occStart[slots]);
    {
        std::vector<std::size_t> fill(occStart.begin(), occStart.end() - 1);
        for (long c = 0; c < clauses; ++c)
            for (std::size_t k = clauseStart_[c]; k < clauseStart_[c + 1]; ++k) {
                int l = formulaLits_[k];
                if (absOf(l) < static_cast<int>(o_.pos.size())) occ[fill[slot(l)]++] = static_cast<std::uint32_t>(c);
            }
    }
    std::vector<std::uint32_t> stamp(static_cast<std::size_t>(clauses), 0);
    std::uint32_t now = 0;
    for (const Leaf& leaf : leaves) {
        std::int64_t id = idOf(leaf.p);
        bool final = leaf.p + 1 == t_.proof.size();
        if (final && t_.undefinedFinalAnt != 0 && clauses != 0)
            return stepFail(id, "antecedent " + std::to_string(t_.undefinedFinalAnt) + " not defined before its step");
        if (leaf.rank < clauses) {
            if (clauses > t_.numClauses) {
                failure_ = mismatch(formulaPath);
                return false;
            }
            return stepFail(id, "an input clause used as a cube");
        }
        if (clauses == 0) continue;
        ++now;
        long hit = 0;
        t_.literalsOf(leaf.p, lits_);
        for (int l : lits_) {
            if (absOf(l) >= static_cast<int>(o_.pos.size())) continue;
            std::size_t s = slot(l);
            for (std::size_t k = occStart[s]; k < occStart[s + 1]; ++k) {
                std::uint32_t c = occ[k];
                if (stamp[c] != now) {
                    stamp[c] = now;
                    ++hit;
                }
            }
        }
        if (hit == clauses) continue;
        long missed = 0;
        while (stamp[static_cast<std::size_t>(missed)] == now) ++missed;
        return stepFail(id, "initial cube misses clause " + std::to_string(missed + 1) +
                                " of the formula (counting non-tautological clauses)");
    }
    return true;
}

bool ProofAnalysis::clauseLeavesOk(const std::string& formulaPath) {
    const long clauses = static_cast<long>(clauseStart_.size()) - 1;
    // Every literal of a leaf must be in its clause and every literal of the clause in the
    // leaf: marks of the clause's literals and of the leaf's (a literal printed twice
    // counts once). A formula with more clauses than the trace's is another formula.
    std::vector<int> inClause(2 * o_.pos.size(), 0), inLeaf(2 * o_.pos.size(), 0);
    auto slot = [](int l) { return 2 * static_cast<std::size_t>(absOf(l)) + (l < 0 ? 1 : 0); };
    auto fail = [&](std::int64_t id, const std::string& what) {
        if (clauses > t_.numClauses) {
            failure_ = mismatch(formulaPath);
            return false;
        }
        return stepFail(id, what);
    };
    int now = 0;
    for (const Leaf& leaf : leavesOf(t_)) {
        std::int64_t id = idOf(leaf.p);
        bool final = leaf.p + 1 == t_.proof.size();
        if (final && t_.undefinedFinalAnt != 0)
            return stepFail(id, "antecedent " + std::to_string(t_.undefinedFinalAnt) + " not defined before its step");
        if (leaf.rank >= clauses)
            return fail(id, "a leaf of the proof that is none of the formula's " + std::to_string(clauses) +
                                " clauses (not counting tautologies)");
        ++now;
        std::size_t r = static_cast<std::size_t>(leaf.rank);
        for (std::size_t k = clauseStart_[r]; k < clauseStart_[r + 1]; ++k) {
            int l = formulaLits_[k];
            if (absOf(l) < static_cast<int>(o_.pos.size())) inClause[slot(l)] = now;
        }
        long distinct = 0;
        bool same = true;
        t_.literalsOf(leaf.p, lits_);
        for (int l : lits_) {
            std::size_t s = slot(l);
            if (inClause[s] != now) {
                same = false;
                break;
            }
            if (inLeaf[s] != now) {
                inLeaf[s] = now;
                ++distinct;
            }
        }
        if (!same || distinct != static_cast<long>(clauseStart_[r + 1] - clauseStart_[r]))
            return fail(id, "not input clause " + std::to_string(leaf.rank + 1) +
                                " of the formula (counting non-tautological clauses)");
    }
    return true;
}

Status ProofAnalysis::analyse(EntryProgram& program) {
    std::size_t n = t_.proof.size();
    if (t_.litStart[n] != t_.litStart[n - 1]) {
        stepFail(idOf(n - 1), "the last step is not empty");
        return Status::failure(failure_);
    }
    for (std::size_t p = 0; p < n; ++p)
        if (!step(p, program)) return Status::failure(failure_);
    return {};
}

// The step's clause or cube before reduction: for one antecedent its literals, for two
// the union of both less the clashing pivot. What the step does not print was removed by
// reduction. Every check is the same for cubes and clauses with the roles swapped; the
// entries are recorded for cubes, so a clause's literals are negated.
bool ProofAnalysis::step(std::size_t p, EntryProgram& program) {
    std::size_t s = static_cast<std::size_t>(t_.proof[p]);
    std::int64_t id = t_.ids[s];
    int ants = t_.antCount[s];
    ++epoch_;
    pre_.clear();
    const char* kind = cubes_ ? "cube" : "clause";
    if (ants == 0) {
        t_.literalsOf(p, lits_);
        for (int l : lits_) {
            int v = absOf(l);
            if (seen_[v] == epoch_ && mark_[v] != l)
                return stepFail(id, std::string("a ") + kind + " with both signs of variable " + std::to_string(v));
            seen_[v] = epoch_;
            mark_[v] = l;
        }
        return true;  // a leaf: nothing removed
    }
    int clashes = 0, pivot = 0;
    for (int k = 0; k < ants; ++k) {
        t_.literalsOf(posOfStep(t_.ants[2 * s + static_cast<std::size_t>(k)]), k == 0 ? antLits_ : lits_);
        for (int l : k == 0 ? antLits_ : lits_) {
            int v = absOf(l);
            if (seen_[v] == epoch_) {
                if (mark_[v] == -l && k == 1) {
                    if (mark_[v] != 0) ++clashes;
                    pivot = v;
                    mark_[v] = 0;  // the pivot leaves the resolvent
                }
                continue;
            }
            seen_[v] = epoch_;
            mark_[v] = l;
        }
    }
    if (ants == 2 && (clashes != 1 || !o_.input[static_cast<std::size_t>(pivot)]))
        return stepFail(id, cubes_ ? "a cube resolution without exactly one clashing universal"
                                   : "a clause resolution without exactly one clashing existential");
    for (int k = 0; k < ants; ++k) {
        for (int l : k == 0 ? antLits_ : lits_) {
            int v = absOf(l);
            if (mark_[v] == l && seen_[v] == epoch_) {
                pre_.push_back(l);
                seen_[v] = -epoch_;  // collected once
            }
        }
    }
    // The printed literals must all be in the step before reduction; the rest is removed.
    t_.literalsOf(p, lits_);
    for (int l : lits_) {
        int v = absOf(l);
        if (v >= static_cast<int>(seen_.size()) || seen_[v] != -epoch_ || mark_[v] != l)
            return stepFail(id, "literal " + std::to_string(l) + " is not in the " + kind + " of its antecedents");
        mark_[v] = 2 * l;  // kept (marked apart from removed)
    }
    // Every removed literal is checked: it must get a function and have no input left after
    // it. What counts is where literals stand in the order, which needs no sorting: the
    // first removed input, the last kept input, the first and the last removed literal.
    int firstRemovedInput = 0, lastInput = 0, firstRemoved = 0, lastRemoved = 0;  // positions, 0: none
    for (int l : pre_) {
        int v = absOf(l), at = o_.pos[static_cast<std::size_t>(v)];
        bool removed = mark_[v] == l;
        if (o_.input[static_cast<std::size_t>(v)]) {
            if (removed && (firstRemovedInput == 0 || at < firstRemovedInput)) firstRemovedInput = at;
            lastInput = std::max(lastInput, at);
        } else if (removed) {
            if (firstRemoved == 0 || at < firstRemoved) firstRemoved = at;
            lastRemoved = std::max(lastRemoved, at);
        }
    }
    if (firstRemovedInput != 0)
        return stepFail(id, std::string("a reduction removes ") + (cubes_ ? "universal " : "existential ") +
                                std::to_string(o_.byPos[static_cast<std::size_t>(firstRemovedInput)]));
    if (lastRemoved == 0) return true;
    if (firstRemoved < lastInput)
        return stepFail(id, std::string("a reduction removes ") + (cubes_ ? "existential " : "universal ") +
                                std::to_string(o_.byPos[static_cast<std::size_t>(firstRemoved)]) +
                                (cubes_ ? " with a later universal left" : " with a later existential left"));
    // The literals up to the last removed one, each into the list of its position (the
    // lists take the steps in file order; a step's literals may come in any order).
    std::uint32_t reduced = 0;
    if (!program.newStep(reduced)) return stepFail(id, "the proof is too large");
    for (int l : pre_) {
        int v = absOf(l), at = o_.pos[static_cast<std::size_t>(v)];
        if (at > lastRemoved) continue;
        Code code;
        code.step = reduced;
        code.positive = cubes_ ? l > 0 : l < 0;
        code.removed = mark_[v] == l;
        code.last = at == lastRemoved;
        program.add(at, code);
    }
    return true;
}

}  // namespace extraction
