#include "certificate/trace_extraction.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <deque>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <span>
#include <vector>

#include "certificate/reconstruct.h"
#include "inputs/input_kinds.h"
#include "inputs/qdimacs_reader.h"
#include "inputs/qrp_reader.h"
#include "outcomes/clocks.h"

namespace {

int absOf(int l) { return l < 0 ? -l : l; }

std::string stepTitle(const char* title) {
    char padded[64];
    std::snprintf(padded, sizeof padded, "%-24s", title);
    return padded;
}

// Progress marks of a step whose work is known as a share; only whole tens are marked.
struct Share {
    explicit Share(steps::Reporter& reporter) : marks(reporter) {}
    steps::Progress marks;
    void at(double share) {
        long p = static_cast<long>(share * 100.0);
        if (p > 100) p = 100;
        marks.update(p / 10 * 10, 100);
    }
};

// Variable order of the extraction: free variables first, then the prefix in order.
struct Order {
    std::vector<int> pos;          // variable -> position 1..maxVar
    std::vector<int> byPos;        // position -> variable
    std::vector<char> universal;   // variable -> 1 for a universal
    std::vector<int> universals;   // slot 0 unused, then the universals in prefix order
};

Order makeOrder(const qrp::Trace& t, int maxVar) {
    Order o;
    o.pos.assign(static_cast<std::size_t>(maxVar) + 1, 0);
    o.universal.assign(static_cast<std::size_t>(maxVar) + 1, 0);
    o.universals.assign(1, 0);
    std::vector<char> listed(static_cast<std::size_t>(maxVar) + 1, 0);
    for (const qrp::Block& b : t.blocks)
        for (int v : b.vars) listed[v] = 1;
    o.byPos.assign(1, 0);
    for (int v = 1; v <= maxVar; ++v)
        if (!listed[v]) o.byPos.push_back(v);
    for (const qrp::Block& b : t.blocks)
        for (int v : b.vars) {
            o.byPos.push_back(v);
            if (b.kind == 'a') {
                o.universal[v] = 1;
                o.universals.push_back(v);
            }
        }
    for (std::size_t p = 1; p < o.byPos.size(); ++p) o.pos[o.byPos[p]] = static_cast<int>(p);
    return o;
}

// One entry of a variable's function: under the first `length` literals of a step's
// sorted cube, the variable takes `value`.
struct Entry {
    int var = 0;
    int cube = 0;               // index into the step cubes
    unsigned length : 31 = 0;   // literals of the cube that form the condition
    unsigned value : 1 = 0;
};

// A step's cube before reduction, sorted by variable order, up to its last removed literal.
struct StepCube {
    std::int64_t start = 0;
    int length = 0;
};

class Extraction {
  public:
    Extraction(const qrp::Trace& t, const Order& order)
        : t_(t), o_(order), mark_(order.pos.size(), 0), seen_(order.pos.size(), 0) {}

    // The 0-antecedent steps of the proof, and their rank among all 0-antecedent steps
    // of the trace (the first N of which are the input clauses).
    void leaves() {
        long rank = 0;
        std::size_t p = 0;
        for (std::size_t i = 0; i < t_.steps() && p < t_.proof.size(); ++i) {
            bool inProof = t_.proof[p] == static_cast<std::int32_t>(i);
            if (t_.antCount[i] == 0) {
                if (inProof) {
                    leafPos_.push_back(static_cast<int>(p));
                    leafRank_.push_back(rank);
                }
                ++rank;
            }
            if (inProof) ++p;
        }
        missed_.assign(leafPos_.size(), 0);
        // Occurrence lists: literal -> the leaves holding it.
        std::size_t slots = 2 * o_.pos.size();
        occStart_.assign(slots + 1, 0);
        for (int p2 : leafPos_)
            for (std::int64_t k = t_.litStart[p2]; k < t_.litStart[p2 + 1]; ++k) ++occStart_[slot(t_.lits[k]) + 1];
        for (std::size_t s = 0; s < slots; ++s) occStart_[s + 1] += occStart_[s];
        occ_.resize(occStart_[slots]);
        std::vector<std::int64_t> fill(occStart_.begin(), occStart_.end() - 1);
        for (std::size_t c = 0; c < leafPos_.size(); ++c) {
            int p2 = leafPos_[c];
            for (std::int64_t k = t_.litStart[p2]; k < t_.litStart[p2 + 1]; ++k)
                occ_[fill[slot(t_.lits[k])]++] = static_cast<int>(c);
        }
        stamp_.assign(leafPos_.size(), 0);
    }

    // One non-tautological clause of the formula: every leaf that is an initial cube
    // must hold one of its literals.
    int clause(const int* literals, int count) {
        ++clauses_;
        if (leafPos_.empty()) return 1;
        long hit = 0;
        for (int i = 0; i < count; ++i) {
            int l = literals[i];
            if (absOf(l) >= static_cast<int>(o_.pos.size())) continue;
            std::size_t s = slot(l);
            for (std::int64_t k = occStart_[s]; k < occStart_[s + 1]; ++k) {
                int c = occ_[k];
                if (stamp_[c] != clauses_) {
                    stamp_[c] = clauses_;
                    ++hit;
                }
            }
        }
        if (hit == static_cast<long>(leafPos_.size())) return 1;
        for (std::size_t c = 0; c < leafPos_.size(); ++c)
            if (stamp_[c] != clauses_ && missed_[c] == 0) missed_[c] = clauses_;
        return 1;
    }

    // After the formula: the leaves among the input clauses, cubes that miss a clause.
    Status checkLeaves() { return verdict(leavesOk()); }

    // Every proof step in file order: the cube before reduction, the checks of the
    // resolution and the reduction, and the entries of the removed literals.
    Status analyse() { return verdict(stepsOk()); }

    void releaseLeaves() {
        std::vector<std::int64_t>().swap(occStart_);
        std::vector<int>().swap(occ_);
        std::vector<long>().swap(stamp_);
    }

    // After the last step: the entries regrouped by their variable's position, file order
    // kept within a variable, so that the builders walk them in sequence instead of
    // chasing a list through memory (the chase cost more than the BDD work).
    void groupByPosition() {
        std::size_t positions = o_.byPos.size();
        groupStart_.assign(positions + 1, 0);
        for (const Entry& e : entries_) ++groupStart_[static_cast<std::size_t>(o_.pos[e.var]) + 1];
        for (std::size_t p = 0; p < positions; ++p) groupStart_[p + 1] += groupStart_[p];
        std::vector<std::size_t> at(groupStart_.begin(), groupStart_.end() - 1);
        grouped_.resize(entries_.size());
        for (const Entry& e : entries_) grouped_[at[static_cast<std::size_t>(o_.pos[e.var])]++] = e;
        std::deque<Entry>().swap(entries_);
    }
    // A variable's entries in file order (after groupByPosition), and all of them.
    std::span<const Entry> entriesAt(std::size_t position) const {
        return {grouped_.data() + groupStart_[position], grouped_.data() + groupStart_[position + 1]};
    }
    const std::vector<Entry>& allEntries() const { return grouped_; }
    const std::vector<StepCube>& cubes() const { return cubes_; }
    const std::vector<int>& cubeLits() const { return cubeLits_; }

  private:
    bool leavesOk() {
        for (std::size_t c = 0; c < leafPos_.size(); ++c) {
            std::int64_t id = idOf(leafPos_[c]);
            bool final = leafPos_[c] + 1 == static_cast<int>(t_.proof.size());
            if (final && t_.undefinedFinalAnt != 0 && clauses_ != 0)
                return stepFail(id, "antecedent " + std::to_string(t_.undefinedFinalAnt) + " not defined before its step");
            if (leafRank_[c] < clauses_) return stepFail(id, "an input clause used as a cube");
            if (missed_[c] != 0)
                return stepFail(id, "initial cube misses clause " + std::to_string(missed_[c]) +
                                        " of the formula (counting non-tautological clauses)");
        }
        return true;
    }

    bool stepsOk() {
        std::size_t n = t_.proof.size();
        if (t_.litStart[n] != t_.litStart[n - 1]) return stepFail(idOf(static_cast<int>(n) - 1), "the last step is not empty");
        for (std::size_t p = 0; p < n; ++p)
            if (!step(static_cast<int>(p))) return false;
        return true;
    }

    std::size_t slot(int l) const { return 2 * static_cast<std::size_t>(absOf(l)) + (l < 0 ? 1 : 0); }
    std::int64_t idOf(int p) const { return t_.ids[static_cast<std::size_t>(t_.proof[p])]; }
    int posOfStep(std::int32_t stepIndex) const {
        return static_cast<int>(std::lower_bound(t_.proof.begin(), t_.proof.end(), stepIndex) - t_.proof.begin());
    }
    bool stepFail(std::int64_t id, const std::string& what) {
        failure_ = "step " + std::to_string(id) + ": " + what;
        return false;
    }
    Status verdict(bool ok) const { return ok ? Status() : Status::failure(failure_); }

    // Entries are kept in chunks (no copy of them all as they grow), in file order.
    bool addEntry(int var, bool value, int cube, int length) {
        if (entries_.size() >= static_cast<std::size_t>(INT32_MAX)) return false;
        Entry e;
        e.var = var;
        e.cube = cube;
        e.length = static_cast<unsigned>(length);
        e.value = value ? 1u : 0u;
        entries_.push_back(e);
        return true;
    }

    bool step(int p) {
        std::size_t s = static_cast<std::size_t>(t_.proof[p]);
        std::int64_t id = t_.ids[s];
        int ants = t_.antCount[s];
        ++epoch_;
        pre_.clear();
        auto litsOf = [this](int q) {
            return std::make_pair(t_.lits.begin() + t_.litStart[q], t_.lits.begin() + t_.litStart[q + 1]);
        };
        if (ants == 0) {
            auto [b, e] = litsOf(p);
            for (auto it = b; it != e; ++it) {
                int l = *it, v = absOf(l);
                if (seen_[v] == epoch_ && mark_[v] != l) return stepFail(id, "a cube with both signs of variable " + std::to_string(v));
                if (seen_[v] == epoch_) continue;
                seen_[v] = epoch_;
                mark_[v] = l;
                pre_.push_back(l);
            }
            return true;  // an initial cube: nothing removed
        }
        int clashes = 0, pivot = 0;
        for (int k = 0; k < ants; ++k) {
            auto [b, e] = litsOf(posOfStep(t_.ants[2 * s + k]));
            for (auto it = b; it != e; ++it) {
                int l = *it, v = absOf(l);
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
        if (ants == 2 && (clashes != 1 || !o_.universal[pivot]))
            return stepFail(id, "a cube resolution without exactly one clashing universal");
        for (int k = 0; k < ants; ++k) {
            auto [b, e] = litsOf(posOfStep(t_.ants[2 * s + k]));
            for (auto it = b; it != e; ++it) {
                int v = absOf(*it);
                if (mark_[v] == *it && seen_[v] == epoch_) {
                    pre_.push_back(*it);
                    seen_[v] = -epoch_;  // collected once
                }
            }
        }
        // The printed literals must all be in the cube; the rest of the cube is removed.
        auto [b, e] = litsOf(p);
        for (auto it = b; it != e; ++it) {
            int l = *it, v = absOf(l);
            if (seen_[v] != -epoch_ || mark_[v] != l)
                return stepFail(id, "literal " + std::to_string(l) + " is not in the cube of its antecedents");
            mark_[v] = 2 * l;  // kept (marked apart from removed)
        }
        // Sorted by variable order through plain keys (position and sign), which sort
        // faster than literals compared through the order table.
        for (int& l : pre_) l = 2 * o_.pos[absOf(l)] + (l < 0 ? 1 : 0);
        std::sort(pre_.begin(), pre_.end());
        for (int& k : pre_) k = (k & 1) ? -o_.byPos[k >> 1] : o_.byPos[k >> 1];
        int lastUniversal = -1, lastRemoved = -1;
        for (int i = 0; i < static_cast<int>(pre_.size()); ++i) {
            int l = pre_[i], v = absOf(l);
            bool removed = mark_[v] == l;
            if (o_.universal[v]) {
                if (removed) return stepFail(id, "a reduction removes universal " + std::to_string(v));
                lastUniversal = i;
            } else if (removed) {
                lastRemoved = i;
            }
        }
        if (lastRemoved < 0) return true;
        if (lastRemoved < lastUniversal) {
            for (int i = 0; i < lastUniversal; ++i) {
                int l = pre_[i];
                if (mark_[absOf(l)] == l)
                    return stepFail(id, "a reduction removes existential " + std::to_string(absOf(l)) +
                                            " with a later universal left");
            }
        }
        StepCube cube;
        cube.start = static_cast<std::int64_t>(cubeLits_.size());
        cube.length = lastRemoved;
        cubeLits_.insert(cubeLits_.end(), pre_.begin(), pre_.begin() + lastRemoved);
        int index = static_cast<int>(cubes_.size());
        cubes_.push_back(cube);
        for (int i = 0; i <= lastRemoved; ++i) {
            int l = pre_[i];
            if (mark_[absOf(l)] != l) continue;
            if (!addEntry(absOf(l), l > 0, index, i)) return stepFail(id, "the proof is too large");
        }
        return true;
    }

    const qrp::Trace& t_;
    const Order& o_;
    std::string failure_;  // why a check failed
    std::vector<int> mark_;  // variable -> literal in the current cube (0: the pivot)
    std::vector<int> seen_;  // variable -> epoch when in the current cube
    int epoch_ = 0;
    std::vector<int> pre_;

    std::vector<int> leafPos_;
    std::vector<long> leafRank_;
    std::vector<long> missed_;  // leaf -> first clause it misses (1-based), 0 for none
    std::vector<std::int64_t> occStart_;
    std::vector<int> occ_;
    std::vector<long> stamp_;
    long clauses_ = 0;

    std::deque<Entry> entries_;  // in file order, while the steps are analysed
    std::vector<Entry> grouped_;
    std::vector<std::size_t> groupStart_;  // position -> its first entry in grouped_
    std::vector<StepCube> cubes_;
    std::vector<int> cubeLits_;
};

// The functions, variable by variable in order. Each step cube's condition grows as its
// variables' functions become known, so the conditions of one step share their prefix.
void build(QBModel& m, const Order& o, const Extraction& x, Share& share) {
    struct Cursor {
        int done = 0;
        bdd::Bdd conj;
    };
    const std::vector<StepCube>& cubes = x.cubes();
    const std::vector<int>& lits = x.cubeLits();
    std::vector<Cursor> cursors(cubes.size());
    // Entries still to come per cube, so a finished cube's condition is let go.
    std::vector<int> left(cubes.size(), 0);
    for (const Entry& e : x.allEntries()) ++left[e.cube];
    // Universal literals, made once: the engine has no complement edges.
    std::vector<bdd::Bdd> univLiteral(2 * (static_cast<std::size_t>(m.numUniv) + 1));
    for (int k = 1; k <= m.numUniv; ++k) {
        univLiteral[2 * k] = bdd::ithVar(k);
        univLiteral[2 * k + 1] = !univLiteral[2 * k];
    }
    auto literal = [&](int l) -> const bdd::Bdd& {
        int v = absOf(l);
        if (o.universal[v]) return univLiteral[2 * static_cast<std::size_t>(m.univIndex[v]) + (l < 0 ? 1 : 0)];
        return l > 0 ? m.posBdd[v] : m.negBdd[v];
    };
    std::vector<bdd::Bdd> factors;
    std::vector<std::pair<bdd::Bdd, bool>> chain;
    std::size_t positions = o.byPos.size() - 1;
    for (std::size_t p = 1; p <= positions; ++p) {
        int v = o.byPos[p];
        if (o.universal[v]) continue;
        // The conditions in file order; the chain is folded from the last entry back to
        // the first, one if-then-else each (the first entry that holds wins).
        chain.clear();
        std::span<const Entry> here = x.entriesAt(p);
        for (auto it = here.begin(); it != here.end(); ++it) {
            const Entry& e = *it;
            // The cubes of the entries ahead are all over memory: their cursors and
            // literals are asked for early, so that they are at hand when their turn comes.
            if (here.end() - it > 8) {
                const Entry& far = it[8];
                __builtin_prefetch(&cursors[far.cube]);
                __builtin_prefetch(&cubes[far.cube]);
            }
            if (here.end() - it > 4) {
                const Entry& near = it[4];
                __builtin_prefetch(&lits[cubes[near.cube].start + cursors[near.cube].done]);
            }
            Cursor& c = cursors[e.cube];
            if (c.conj.isNull()) c.conj = bdd::one();
            const StepCube& cube = cubes[e.cube];
            const int length = static_cast<int>(e.length);
            if (c.done < length && !c.conj.isZero()) {
                // Constant factors (most existentials' functions are) cost nothing; the
                // new literals are conjoined from the bottom of the order up (a cube so
                // costs one node a literal), the condition so far last.
                factors.clear();
                factors.push_back(c.conj);
                bool zero = false;
                for (; c.done < length && !zero; ++c.done) {
                    const bdd::Bdd& b = literal(lits[cube.start + c.done]);
                    if (b.isZero())
                        zero = true;
                    else if (!b.isOne())
                        factors.push_back(b);
                }
                c.conj = zero ? bdd::zero() : bdd::conjunctionInPlace(factors);
            }
            if (!c.conj.isZero()) chain.emplace_back(c.conj, e.value != 0);
            if (--left[e.cube] == 0) c.conj.release();
            if (!chain.empty() && chain.back().first.isOne()) {
                // Holds everywhere: the entries after it never apply.
                for (auto rest = it + 1; rest != here.end(); ++rest)
                    if (--left[rest->cube] == 0) cursors[rest->cube].conj.release();
                break;
            }
        }
        bdd::Bdd f = bdd::zero();
        for (std::size_t i = chain.size(); i-- > 0;)
            f = chain[i].second ? chain[i].first | f : bdd::ite(chain[i].first, bdd::zero(), f);
        m.posBdd[v] = f;
        m.negBdd[v] = !f;
        share.at(static_cast<double>(p) / static_cast<double>(positions));
    }
}

// With few universals the functions are built as truth tables over the 2^U scenarios,
// 64 to a word (bit s: the scenario whose k-th universal is bit U - k of s), and turned
// into BDDs at the end: up to 14 universals (256 words a table) word operations cost
// less than BDD operations (a trace with 14 universals and a million entries: 0.37 s
// against 0.47 s with BDDs); beyond, the tables' width outweighs them. Used when the
// tables of the functions and of the conditions in flight fit in the budget below.
constexpr std::size_t kTableWords = std::size_t(1) << 23;  // 64 MB per kind of table

bool tablesFit(const QBModel& m, const Extraction& x, int tableUniversals) {
    if (m.numUniv > tableUniversals) return false;
    std::size_t words = m.numUniv <= 6 ? 1 : std::size_t(1) << (m.numUniv - 6);
    return static_cast<std::size_t>(m.numVars) * words <= kTableWords && x.cubes().size() * words <= kTableWords;
}

using Table = std::vector<std::uint64_t>;

// The BDD of bits [from, from + 2^(U - k + 1)) of t, over universals k..U.
bdd::Bdd tableBdd(const std::uint64_t* t, int numUniv, int k, std::size_t from) {
    std::size_t width = std::size_t(1) << (numUniv - k + 1);
    bool all0 = true, all1 = true;
    if (width >= 64) {
        for (std::size_t w = from / 64; w < (from + width) / 64 && (all0 || all1); ++w) {
            all0 = all0 && t[w] == 0;
            all1 = all1 && t[w] == ~std::uint64_t(0);
        }
    } else {
        std::uint64_t mask = (width == 64 ? ~std::uint64_t(0) : (std::uint64_t(1) << width) - 1) << (from % 64);
        std::uint64_t bits = t[from / 64] & mask;
        all0 = bits == 0;
        all1 = bits == mask;
    }
    if (all0) return bdd::zero();
    if (all1) return bdd::one();
    // The upper half has universal k true.
    bdd::Bdd low = tableBdd(t, numUniv, k + 1, from);
    bdd::Bdd high = tableBdd(t, numUniv, k + 1, from + width / 2);
    return bdd::ite(bdd::ithVar(k), high, low);
}

void buildTables(QBModel& m, const Order& o, const Extraction& x, Share& share) {
    const int U = m.numUniv;
    const std::size_t W = U <= 6 ? 1 : std::size_t(1) << (U - 6);
    const std::uint64_t lastMask = U >= 6 ? ~std::uint64_t(0) : (std::uint64_t(1) << (1u << U)) - 1;
    // Universal k true: bit U - k of the scenario.
    std::vector<Table> univTrue(static_cast<std::size_t>(U) + 1, Table(W, 0));
    for (int k = 1; k <= U; ++k)
        for (std::size_t s = 0; s < (std::size_t(1) << U); ++s)
            if ((s >> (U - k)) & 1) univTrue[k][s / 64] |= std::uint64_t(1) << (s % 64);
    Table func(static_cast<std::size_t>(m.numVars) * W, 0);
    auto funcOf = [&](int v) { return func.data() + static_cast<std::size_t>(v) * W; };

    const std::vector<StepCube>& cubes = x.cubes();
    const std::vector<int>& lits = x.cubeLits();
    struct Cursor {
        int done = 0;
        bool zero = false;
        Table conj;  // empty until the cube's first entry
    };
    std::vector<Cursor> cursors(cubes.size());
    std::vector<int> left(cubes.size(), 0);
    for (const Entry& e : x.allEntries()) ++left[e.cube];
    Table open(W);
    std::size_t positions = o.byPos.size() - 1;
    for (std::size_t p = 1; p <= positions; ++p) {
        int v = o.byPos[p];
        if (o.universal[v]) continue;
        std::uint64_t* f = funcOf(v);
        std::fill(open.begin(), open.end(), ~std::uint64_t(0));
        open[W - 1] &= lastMask;
        bool decided = false;  // open is empty: the entries after never apply
        for (const Entry& e : x.entriesAt(p)) {
            Cursor& c = cursors[e.cube];
            if (!decided) {
                if (c.conj.empty()) {
                    c.conj.assign(W, ~std::uint64_t(0));
                    c.conj[W - 1] &= lastMask;
                }
                const StepCube& cube = cubes[e.cube];
                const int length = static_cast<int>(e.length);
                for (; c.done < length && !c.zero; ++c.done) {
                    int l = lits[cube.start + c.done], u = absOf(l);
                    const std::uint64_t* t = o.universal[u] ? univTrue[m.univIndex[u]].data() : funcOf(u);
                    std::uint64_t any = 0;
                    if (l > 0)
                        for (std::size_t w = 0; w < W; ++w) any |= (c.conj[w] &= t[w]);
                    else
                        for (std::size_t w = 0; w < W; ++w) any |= (c.conj[w] &= ~t[w]);
                    c.zero = any == 0;
                }
                if (!c.zero) {
                    std::uint64_t rest = 0;
                    for (std::size_t w = 0; w < W; ++w) {
                        std::uint64_t d = open[w] & c.conj[w];
                        if (e.value) f[w] |= d;
                        rest |= (open[w] &= ~d);
                    }
                    decided = rest == 0;
                }
            }
            if (--left[e.cube] == 0) Table().swap(c.conj);
        }
        share.at(static_cast<double>(p) / static_cast<double>(positions) * 0.9);
    }
    for (int v = 1; v < m.numVars; ++v) {
        if (m.isUniversal(v)) continue;
        m.posBdd[v] = tableBdd(funcOf(v), U, 1, 0);
        m.negBdd[v] = !m.posBdd[v];
    }
}

bool formulaFits(const qdimacs::Prefix& prefix, const qrp::Trace& t) {
    if (prefix.blockKind.size() != t.blocks.size() + 1) return false;
    for (std::size_t b = 0; b < t.blocks.size(); ++b) {
        if (prefix.blockKind[b + 1] != t.blocks[b].kind) return false;
        for (int v : t.blocks[b].vars)
            if (v >= static_cast<int>(prefix.block.size()) || prefix.block[v] != static_cast<int>(b + 1)) return false;
    }
    return true;
}

}  // namespace

ModelResult extractFromTrace(const std::string& tracePath, const std::string& formulaPath,
                             const ExtractionOptions& options, steps::Reporter& reporter) {
    double start = clocks::checkMicros();
    qrp::Trace trace;

    reporter.open(stepTitle("Proof trace reading"));
    {
        Share share(reporter);
        share.marks.start();
        Status read = qrp::readIndex(tracePath, trace, [&](double d) { share.at(d / 2); });
        if (read && !trace.sat) {
            reporter.close();
            return Status::failure("This is not a TRUE formula");
        }
        if (read) read = qrp::readProof(tracePath, trace, [&](double d) { share.at(0.5 + d / 2); });
        if (!read) {
            reporter.close();
            return read;
        }
        share.marks.finish();
        char text[96];
        std::snprintf(text, sizeof text, "%zu steps, %zu in the proof", trace.steps(), trace.proof.size());
        reporter.close(text);
    }

    int maxVar = static_cast<int>(trace.numVars);
    long quantified = 0;
    for (const qrp::Block& b : trace.blocks)
        for (int v : b.vars) {
            maxVar = std::max(maxVar, v);
            ++quantified;
        }
    Order order = makeOrder(trace, maxVar);
    Extraction extraction(trace, order);

    reporter.open(stepTitle("Initial cube check"));
    extraction.leaves();
    qdimacs::Expect expect;
    expect.numVars = static_cast<int>(quantified + 1);
    expect.maxKnown = maxVar;
    bool fits = true;
    int read = qdimacs::read(
        formulaPath, expect, [&](const int* literals, int count) { return extraction.clause(literals, count); },
        reporter, [&](const qdimacs::Prefix& prefix) {
            fits = formulaFits(prefix, trace);
            return fits ? 1 : 0;
        });
    reporter.close();
    if (!read)
        return Status::failure(fits ? "the formula \"" + formulaPath + "\" cannot be read as the trace's formula"
                                    : "the trace's prefix is not that of the formula \"" + formulaPath + "\"");
    if (Status leaves = extraction.checkLeaves(); !leaves) return leaves;

    reporter.open(stepTitle("Skolem extraction"));
    Share share(reporter);
    share.marks.start();
    if (Status analysed = extraction.analyse(); !analysed) {
        reporter.close();
        return analysed;
    }
    // The entries hold all the building needs: the trace's tables go before the BDDs grow.
    extraction.releaseLeaves();
    extraction.groupByPosition();
    trace = qrp::Trace();
    std::vector<int> intToExt(static_cast<std::size_t>(maxVar) + 1);
    for (int v = 0; v <= maxVar; ++v) intToExt[v] = v;
    std::unique_ptr<QBModel> model =
        newReplayModel(formulaPath, maxVar + 1, order.universals, intToExt, maxVar, inputs::fileBytes(tracePath));
    model->solver = "DepQBF";
    if (options.reorderMethod != 1) {
        model->manager->enableReordering(options.reorderMethod);
        auto reorderStart = std::make_shared<double>(0.0);
        model->manager->setReorderHooks([reorderStart] { *reorderStart = clocks::checkMicros(); },
                                        [reorderStart, to = &reporter] { to->addReorderTime(clocks::checkSecondsSince(*reorderStart)); });
    } else {
        model->manager->disableReordering();
    }
    if (tablesFit(*model, extraction, options.tableUniversals))
        buildTables(*model, order, extraction, share);
    else
        build(*model, order, extraction, share);
    share.marks.finish();
    reporter.close();
    model->reconstructionTime = clocks::checkSecondsSince(start);
    return model;
}
