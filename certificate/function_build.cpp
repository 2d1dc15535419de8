// The BDD and circuit builders of the extraction's functions (the truth tables are
// certificate/function_tables.cpp).
#include "certificate/function_build.h"
#include "certificate/function_walk.h"

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

namespace extraction {

namespace {

// ---- BDDs ----

class BddDomain {
  public:
    BddDomain(QBModel& m, const Order& o, std::uint32_t steps, long budget)
        : m_(m), o_(o), cond_(steps), pending_(steps), budget_(budget) {
        // Input literals, made once: the engine has no complement edges.
        inputLiteral_.resize(2 * (static_cast<std::size_t>(o.numInputs()) + 1));
        for (int k = 1; k <= o.numInputs(); ++k) {
            inputLiteral_[2 * static_cast<std::size_t>(k)] = bdd::ithVar(k);
            inputLiteral_[2 * static_cast<std::size_t>(k) + 1] = !inputLiteral_[2 * static_cast<std::size_t>(k)];
        }
    }

    bool function(int v, int, Entries entries) {
        // The conditions in file order, up to the first that holds everywhere; the first
        // entry that holds wins.
        chain_.clear();
        forEntry(entries, [&](const Code& e) {
            const bdd::Bdd& c = condition(e.step);
            if (!c.isZero()) chain_.emplace_back(c, e.positive);
            return chain_.empty() || !chain_.back().first.isOne();  // the entries after never apply
        });
        bdd::Bdd f;
        if (!merge(0, chain_.size(), f, nullptr)) return false;
        chain_.clear();
        m_.posBdd[static_cast<std::size_t>(v)] = f;
        m_.negBdd[static_cast<std::size_t>(v)] = !f;
        return !overBudget();
    }

    bool extend(std::uint32_t step, int v, bool positive) {
        bdd::Bdd& c = cond_[step];
        if (!c.isNull() && c.isZero()) return true;
        if (o_.input[static_cast<std::size_t>(v)]) {
            // Kept until the condition is asked for: a cube conjoined from the bottom of the
            // order up costs one node a literal, from the top each literal rebuilds it.
            int k = o_.inputIndex[static_cast<std::size_t>(v)];
            pending_[step].push_back(positive ? k : -k);
            return true;
        }
        const bdd::Bdd& b = positive ? m_.posBdd[static_cast<std::size_t>(v)] : m_.negBdd[static_cast<std::size_t>(v)];
        if (b.isOne()) return true;
        if (b.isZero()) {
            c = bdd::zero();
            std::vector<int>().swap(pending_[step]);
            return true;
        }
        flush(step, &b);
        return !overBudget();
    }

    void release(std::uint32_t step) {
        cond_[step].release();
        std::vector<int>().swap(pending_[step]);
    }

  private:
    // The chain's entries [from, to) as one: f, the value of the first that holds (false
    // where none does), and where one holds (unless covered is null). Long chains are
    // halved: each half's function is much smaller than the whole, where a fold from the
    // back would carry the function of all later entries through every step (a chain of
    // 677,160 entries over 36 universals: 2.4M nodes in 60 s halved, not done in 600 s
    // folded); short ones cost less folded.
    bool merge(std::size_t from, std::size_t to, bdd::Bdd& f, bdd::Bdd* covered) {
        if (to - from <= (covered ? kFold : kChain)) {
            f = bdd::zero();
            if (covered) *covered = bdd::zero();
            for (std::size_t i = to; i-- > from;) {
                const bdd::Bdd& c = chain_[i].first;
                f = chain_[i].second ? c | f : bdd::ite(c, bdd::zero(), f);
                if (covered) *covered = c | *covered;
                if (overBudget()) return false;
            }
            return true;
        }
        std::size_t mid = from + (to - from) / 2;
        bdd::Bdd first, rest, firstCovered, restCovered;
        if (!merge(from, mid, first, &firstCovered)) return false;
        if (!merge(mid, to, rest, covered ? &restCovered : nullptr)) return false;
        f = bdd::ite(firstCovered, first, rest);
        if (covered) *covered = firstCovered | restCovered;
        return !overBudget();
    }
    // Chains up to kChain entries are folded, longer ones halved down to kFold.
    static constexpr std::size_t kChain = 4096, kFold = 64;

    const bdd::Bdd& condition(std::uint32_t step) {
        if (!pending_[step].empty())
            flush(step, nullptr);
        else if (cond_[step].isNull())
            cond_[step] = bdd::one();
        return cond_[step];
    }

    // The condition with its pending input literals and one more factor, conjoined.
    void flush(std::uint32_t step, const bdd::Bdd* extra) {
        factors_.clear();
        bdd::Bdd& c = cond_[step];
        if (!c.isNull() && !c.isOne()) factors_.push_back(c);
        for (int k : pending_[step])
            factors_.push_back(inputLiteral_[2 * static_cast<std::size_t>(k < 0 ? -k : k) + (k < 0 ? 1 : 0)]);
        std::vector<int>().swap(pending_[step]);
        if (extra) factors_.push_back(*extra);
        c = factors_.empty() ? bdd::one() : bdd::conjunctionInPlace(factors_);
        factors_.clear();
    }

    // Under a budget (a countermodel's BDDs), automatic reordering stops once a sifting
    // pass would cost more than about two seconds (live nodes times variables: a pass over
    // 122,000 nodes of 484 variables took 6.8 s), and the rest is built in the order
    // reached.
    bool overBudget() {
        if (budget_ == std::numeric_limits<long>::max()) return false;
        long live = m_.manager->liveNodes();
        if (sifting_ && static_cast<double>(live) * o_.numInputs() > kSiftWork) {
            m_.manager->disableReordering();
            sifting_ = false;
        }
        return live > budget_;
    }
    static constexpr double kSiftWork = 2e7;

    QBModel& m_;
    const Order& o_;
    std::vector<bdd::Bdd> cond_;           // per step; null until it is first asked for
    std::vector<std::vector<int>> pending_;  // per step: input literals (signed BDD indices) not yet in cond_
    long budget_;
    bool sifting_ = true;
    std::vector<bdd::Bdd> inputLiteral_;
    std::vector<bdd::Bdd> factors_;
    std::vector<std::pair<bdd::Bdd, bool>> chain_;
};

// ---- and-inverter graph ----

class CircuitDomain {
  public:
    CircuitDomain(FunctionCircuit& c, const Order& o, std::uint32_t steps)
        : c_(c), o_(o), cond_(steps, FunctionCircuit::kTrue), slots_(1u << 16, kEmpty) {}

    bool function(int v, int, Entries entries) {
        // The chain folded from the last entry back: ite(c, value, rest), one gate each.
        chain_.clear();
        forEntry(entries, [&](const Code& e) {
            std::uint32_t c = cond_[e.step];
            if (c != FunctionCircuit::kFalse) chain_.emplace_back(c, e.positive);
            return c != FunctionCircuit::kTrue;
        });
        std::uint32_t f = FunctionCircuit::kFalse;
        for (std::size_t i = chain_.size(); i-- > 0;) {
            std::uint32_t c = chain_[i].first;
            f = chain_[i].second ? negateLiteral(conjoin(negateLiteral(c), negateLiteral(f)))
                                : conjoin(negateLiteral(c), f);
        }
        c_.output[static_cast<std::size_t>(v)] = f;
        return true;
    }
    bool extend(std::uint32_t step, int v, bool positive) {
        std::uint32_t& c = cond_[step];
        if (c == FunctionCircuit::kFalse) return true;
        std::uint32_t l = o_.input[static_cast<std::size_t>(v)]
                              ? c_.input(o_.inputIndex[static_cast<std::size_t>(v)])
                              : c_.output[static_cast<std::size_t>(v)];
        c = conjoin(c, positive ? l : negateLiteral(l));
        return true;
    }
    void release(std::uint32_t step) { cond_[step] = FunctionCircuit::kTrue; }

  private:
    static constexpr std::uint32_t kEmpty = ~std::uint32_t{0};

    // The AND of a and b, a gate made once for each pair (structural hashing).
    std::uint32_t conjoin(std::uint32_t a, std::uint32_t b) {
        if (a > b) std::swap(a, b);
        if (a <= FunctionCircuit::kTrue || a == b || a == negateLiteral(b)) return c_.conjoin(a, b);
        std::size_t mask = slots_.size() - 1;
        std::size_t i = hash(a, b) & mask;
        for (; slots_[i] != kEmpty; i = (i + 1) & mask) {
            std::uint32_t g = slots_[i];
            if (c_.left[g] == a && c_.right[g] == b) return 2 * c_.variableOf(g);
        }
        std::uint32_t literal = c_.conjoin(a, b);
        slots_[i] = static_cast<std::uint32_t>(c_.gates() - 1);
        if (2 * c_.gates() > slots_.size()) grow();
        return literal;
    }
    static std::size_t hash(std::uint32_t a, std::uint32_t b) {
        return (std::uint64_t(a) * 0x9E3779B97F4A7C15ull) ^ (std::uint64_t(b) * 0xC2B2AE3D27D4EB4Full >> 7);
    }
    void grow() {
        std::vector<std::uint32_t> bigger(2 * slots_.size(), kEmpty);
        std::size_t mask = bigger.size() - 1;
        for (std::uint32_t g : slots_) {
            if (g == kEmpty) continue;
            std::size_t i = hash(c_.left[g], c_.right[g]) & mask;
            while (bigger[i] != kEmpty) i = (i + 1) & mask;
            bigger[i] = g;
        }
        slots_.swap(bigger);
    }

    FunctionCircuit& c_;
    const Order& o_;
    std::vector<std::uint32_t> cond_;
    std::vector<std::uint32_t> slots_;  // gate indices, open addressing
    std::vector<std::pair<std::uint32_t, bool>> chain_;
};

}  // namespace

constexpr std::size_t kRoom = std::size_t(1) << 19;

bool buildBdds(QBModel& m, const Order& o, EntryProgram& program, const Progress& progress, long nodeBudget) {
    bool built;
    {
        // Room for the conditions in flight: in a small node table they set off collection
        // after collection, each of which clears the operator caches (a proof of 98,000
        // steps over 21 universals: 0.8 s of 3.7 s). A node per code of the program, at
        // most 512K: a small proof does not grow the table to a size it never uses, which
        // cost a trace of 1,200 steps 5,000 page faults, 8 ms of its 12.
        bdd::NodeBuilder room;
        room.reserve(static_cast<long>(std::min(program.codes(), kRoom)));
    }
    {
        BddDomain d(m, o, program.steps(), nodeBudget);
        built = walk(program, o, d, true, progress);
    }
    if (!built) {
        for (int v = 1; v <= o.maxVar(); ++v) {
            if (o.input[static_cast<std::size_t>(v)]) continue;
            m.posBdd[static_cast<std::size_t>(v)] = bdd::Bdd();
            m.negBdd[static_cast<std::size_t>(v)] = bdd::Bdd();
        }
        return false;
    }
    completeFunctions(m, o);
    return true;
}

void buildCircuit(FunctionCircuit& circuit, const Order& o, EntryProgram& program, const Progress& progress) {
    circuit.numInputs = o.numInputs();
    circuit.left.clear();
    circuit.right.clear();
    circuit.output.assign(o.pos.size(), FunctionCircuit::kNone);
    for (int v = 1; v <= o.maxVar(); ++v)
        if (!o.input[static_cast<std::size_t>(v)]) circuit.output[static_cast<std::size_t>(v)] = FunctionCircuit::kFalse;
    CircuitDomain d(circuit, o, program.steps());
    walk(program, o, d, false, progress);
}

}  // namespace extraction