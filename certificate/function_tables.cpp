// The truth-table builder of the extraction's functions, for few inputs, and the dry walk
// that tells whether its work is small.
#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "certificate/function_build.h"
#include "certificate/function_walk.h"

namespace extraction {

namespace {

// With few inputs every function is a truth table over the inputs before its variable
// (bit t: the assignment whose k-th input is bit b - k of t, for b inputs), and a step's
// condition is kept as the assignments its input literals fix (a subcube: mask and values
// over all U inputs, input k at bit U - k) and, only where a function literal cuts that
// subcube unevenly, a residue: the subcube's assignments of the first r inputs that are
// left (r: the inputs of the last function that cut it). A literal of a function whose
// inputs the subcube fixes is one look-up, and an entry under a subcube marks its
// assignments a word at a time, so a proof of nearly full cubes (a game's, every cube a
// play) costs a few operations a literal.

using Word = std::uint64_t;

// The 64 assignments of the six lowest bits with the bits of mask set to those of value.
const std::array<Word, 4096>& lowPatterns() {
    static const std::array<Word, 4096> patterns = [] {
        std::array<Word, 4096> p{};
        for (unsigned mask = 0; mask < 64; ++mask)
            for (unsigned value = 0; value < 64; ++value) {
                if (value & ~mask) continue;
                Word w = 0;
                for (unsigned t = 0; t < 64; ++t)
                    if ((t & mask) == value) w |= Word(1) << t;
                p[mask * 64 + value] = w;
            }
        return p;
    }();
    return patterns;
}

std::size_t wordsFor(int bits) { return bits <= 6 ? 1 : std::size_t(1) << (bits - 6); }
Word validBits(int bits) { return bits >= 6 ? ~Word(0) : (Word(1) << (1u << bits)) - 1; }
bool bitOf(const std::vector<Word>& t, std::uint32_t i) { return (t[i >> 6] >> (i & 63)) & 1; }

// Calls each(t) for every t of `bits` bits whose bits in mask equal those of value.
template <typename Each>
void forEachIn(std::uint32_t mask, std::uint32_t value, int bits, Each&& each) {
    std::uint32_t all = bits >= 32 ? ~0u : (1u << bits) - 1;
    std::uint32_t free = all & ~mask;
    std::uint32_t t = value;
    for (;;) {
        each(t);
        if (t == ((value | free) & all)) break;
        t = (((t | mask) + 1) & free) | value;
    }
}

// Where the inputs sit: U in all, and for each position the inputs before it.
struct TableShape {
    int inputs = 0;
    std::vector<int> inputsBefore;
    // The scenario bits of the first `bits` inputs.
    std::uint32_t top(int bits) const { return bits == 0 ? 0u : ((1u << bits) - 1) << (inputs - bits); }
};

TableShape shapeOf(const Order& o) {
    TableShape s;
    s.inputs = o.numInputs();
    s.inputsBefore.assign(o.byPos.size(), 0);
    int seen = 0;
    for (std::size_t p = 1; p < o.byPos.size(); ++p) {
        s.inputsBefore[p] = seen;
        if (o.input[static_cast<std::size_t>(o.byPos[p])]) ++seen;
    }
    return s;
}

// A condition: the subcube, and the residue where there is one.
struct TableCond {
    std::uint32_t mask = 0, value = 0;
    std::int32_t residue = -1;  // index of its assignments, -1 for none
    std::int8_t resolution = 0;  // inputs the residue's assignments give
    bool dead = false;
};

class TableDomain {
  public:
    TableDomain(const Order& o, std::uint32_t steps)
        : o_(o), shape_(shapeOf(o)), tables_(o.pos.size()), cond_(steps) {}

    bool function(int v, int p, Entries entries) {
        const int bits = shape_.inputsBefore[static_cast<std::size_t>(p)];
        const int shift = shape_.inputs - bits;
        const std::uint32_t top = shape_.top(bits);
        const std::size_t words = wordsFor(bits);
        std::vector<Word>& f = tables_[static_cast<std::size_t>(v)];
        f.assign(words, 0);
        open_.assign(words, ~Word(0));
        open_[words - 1] &= validBits(bits);
        std::uint64_t left = std::uint64_t(1) << bits;
        const auto& patterns = lowPatterns();
        for (const Code& e : entries) {
            if (left == 0) break;  // every assignment has its value: the entries after never apply
            if (!e.removed) continue;
            const TableCond& c = cond_[e.step];
            if (c.dead) continue;
            if (c.residue < 0) {
                // A subcube: its assignments within each word form one pattern.
                std::uint32_t mask = (c.mask & top) >> shift, value = (c.value & top) >> shift;
                Word pattern = patterns[(mask & 63) * 64 + (value & 63)] & validBits(bits);
                auto take = [&](std::uint32_t w) {
                    Word m = open_[w] & pattern;
                    if (!m) return;
                    open_[w] &= ~m;
                    if (e.positive) f[w] |= m;
                    left -= static_cast<std::uint64_t>(countBits(m));
                };
                if (bits <= 6)
                    take(0);
                else
                    forEachIn(mask >> 6, value >> 6, bits - 6, take);
            } else {
                forEachPoint(c, bits, [&](std::uint32_t t) {
                    Word m = Word(1) << (t & 63);
                    if (!(open_[t >> 6] & m)) return;
                    open_[t >> 6] &= ~m;
                    if (e.positive) f[t >> 6] |= m;
                    --left;
                });
            }
        }
        return true;
    }

    bool extend(std::uint32_t step, int v, bool positive) {
        TableCond& c = cond_[step];
        if (c.dead) return true;
        if (o_.input[static_cast<std::size_t>(v)]) {
            std::uint32_t b = 1u << (shape_.inputs - o_.inputIndex[static_cast<std::size_t>(v)]);
            if (c.mask & b) {
                if (((c.value & b) != 0) != positive) kill(c);
            } else {
                c.mask |= b;
                if (positive) c.value |= b;
            }
            return true;
        }
        const int bits = inputsBefore(v);
        const std::uint32_t top = shape_.top(bits);
        const std::vector<Word>& f = tables_[static_cast<std::size_t>(v)];
        if ((c.mask & top) == top) {
            // The subcube fixes every input of the function: one look-up.
            if (bitOf(f, (c.value & top) >> (shape_.inputs - bits)) != positive) kill(c);
            return true;
        }
        // The assignments of the first `bits` inputs that are left, the residue from now on
        // (none while the literal holds on all of them).
        std::vector<std::uint32_t>& next = scratch_;
        next.clear();
        std::size_t all = 0;
        forEachPoint(c, bits, [&](std::uint32_t t) {
            ++all;
            if (bitOf(f, t) == positive) next.push_back(t);
        });
        if (next.empty()) {
            kill(c);
        } else if (next.size() < all || c.residue >= 0) {
            std::vector<std::uint32_t>& r = residueOf(c);
            r.swap(next);
            c.resolution = static_cast<std::int8_t>(bits);
        }
        return true;
    }

    void release(std::uint32_t step) { kill(cond_[step]); }

    const std::vector<Word>& table(int v) const { return tables_[static_cast<std::size_t>(v)]; }
    int inputsBefore(int v) const {
        return shape_.inputsBefore[static_cast<std::size_t>(o_.pos[static_cast<std::size_t>(v)])];
    }

  private:
    // Calls each(t) for every assignment t of the first `bits` inputs in the condition.
    template <typename Each>
    void forEachPoint(const TableCond& c, int bits, Each&& each) {
        const std::uint32_t top = shape_.top(bits);
        const std::uint32_t mask = (c.mask & top) >> (shape_.inputs - bits);
        const std::uint32_t value = (c.value & top) >> (shape_.inputs - bits);
        if (c.residue < 0) {
            forEachIn(mask, value, bits, each);
            return;
        }
        // Each assignment of the residue, where the subcube still has it, with every
        // assignment of the inputs after its own that the subcube allows.
        const int more = bits - c.resolution;
        const std::uint32_t low = more == 0 ? 0u : (1u << more) - 1;
        for (std::uint32_t t : residues_[static_cast<std::size_t>(c.residue)]) {
            if (((t << more) & mask & ~low) != (value & ~low)) continue;
            forEachIn(mask & low, value & low, more, [&](std::uint32_t e) { each((t << more) | e); });
        }
    }

    std::vector<std::uint32_t>& residueOf(TableCond& c) {
        if (c.residue < 0) {
            if (free_.empty()) {
                free_.push_back(static_cast<std::int32_t>(residues_.size()));
                residues_.emplace_back();
            }
            c.residue = free_.back();
            free_.pop_back();
        }
        return residues_[static_cast<std::size_t>(c.residue)];
    }
    void kill(TableCond& c) {
        if (c.residue >= 0) {
            std::vector<std::uint32_t>().swap(residues_[static_cast<std::size_t>(c.residue)]);
            free_.push_back(c.residue);
        }
        c.residue = -1;
        c.dead = true;
    }

    const Order& o_;
    TableShape shape_;
    std::vector<std::vector<Word>> tables_;  // variable -> its function's table
    std::vector<TableCond> cond_;
    std::vector<std::vector<std::uint32_t>> residues_;
    std::vector<std::int32_t> free_;
    std::vector<std::uint32_t> scratch_;
    std::vector<Word> open_;
};

// The BDD of bits [from, from + 2^(n - k + 1)) of t, over inputs k..n.
bdd::Bdd tableBdd(const Word* t, int n, int k, std::size_t from) {
    std::size_t width = std::size_t(1) << (n - k + 1);
    bool all0 = true, all1 = true;
    if (width >= 64) {
        for (std::size_t w = from / 64; w < (from + width) / 64 && (all0 || all1); ++w) {
            all0 = all0 && t[w] == 0;
            all1 = all1 && t[w] == ~Word(0);
        }
    } else {
        Word mask = (width == 64 ? ~Word(0) : (Word(1) << width) - 1) << (from % 64);
        Word bits = t[from / 64] & mask;
        all0 = bits == 0;
        all1 = bits == mask;
    }
    if (all0) return bdd::zero();
    if (all1) return bdd::one();
    // The upper half has input k true.
    bdd::Bdd low = tableBdd(t, n, k + 1, from);
    bdd::Bdd high = tableBdd(t, n, k + 1, from + width / 2);
    return bdd::ite(bdd::ithVar(k), high, low);
}

// ---- the dry walk that sizes the tables' work ----
//
// The subcubes alone, and for each condition that a function literal may have cut, the
// most assignments its residue can hold.

class EstimateDomain {
  public:
    EstimateDomain(const Order& o, std::uint32_t steps) : o_(o), shape_(shapeOf(o)), cond_(steps) {}

    bool function(int, int p, Entries entries) {
        const int bits = shape_.inputsBefore[static_cast<std::size_t>(p)];
        const std::uint32_t top = shape_.top(bits);
        tableBytes += wordsFor(bits) * sizeof(Word);
        for (const Code& e : entries) {
            if (!e.removed) continue;
            const Cond& c = cond_[e.step];
            int free = bits - countBits(c.mask & top);
            work += c.residue ? double(std::uint64_t(1) << free) : double(std::uint64_t(1) << std::max(0, free - 6));
        }
        return true;
    }
    bool extend(std::uint32_t step, int v, bool) {
        Cond& c = cond_[step];
        work += 1;
        if (o_.input[static_cast<std::size_t>(v)]) {
            c.mask |= 1u << (shape_.inputs - o_.inputIndex[static_cast<std::size_t>(v)]);
            return true;
        }
        const int bits = shape_.inputsBefore[static_cast<std::size_t>(o_.pos[static_cast<std::size_t>(v)])];
        const std::uint32_t top = shape_.top(bits);
        if ((c.mask & top) == top) return true;
        double points = double(std::uint64_t(1) << (bits - countBits(c.mask & top)));
        work += points;
        residuePoints_ += points - c.residue;
        c.residue = points;
        maxResiduePoints = std::max(maxResiduePoints, residuePoints_);
        return true;
    }
    void release(std::uint32_t step) {
        residuePoints_ -= cond_[step].residue;
        cond_[step] = Cond();
    }

    double work = 0;
    std::size_t tableBytes = 0;
    double maxResiduePoints = 0;

  private:
    struct Cond {
        std::uint32_t mask = 0;
        double residue = 0;  // the most assignments its residue holds, 0 for none
    };
    const Order& o_;
    TableShape shape_;
    std::vector<Cond> cond_;
    double residuePoints_ = 0;
};

}  // namespace

// The budgets of the truth tables: their memory, and work in proportion to the lists
// (a table operation costs a few nanoseconds, a BDD operation some hundreds).
constexpr std::size_t kTableBytes = std::size_t(256) << 20;
constexpr std::size_t kResidueBytes = std::size_t(256) << 20;

bool tablesFit(EntryProgram& program, const Order& order, int maxInputs) {
    if (order.numInputs() > std::min(maxInputs, 24)) return false;
    EstimateDomain d(order, program.steps());
    walk(program, order, d, false, {});
    return d.tableBytes <= kTableBytes && d.maxResiduePoints * sizeof(std::uint32_t) <= kResidueBytes &&
           d.work <= 16.0 * static_cast<double>(program.codes()) + 5e7;
}

void buildTables(QBModel& m, const Order& o, EntryProgram& program, const Progress& progress) {
    TableDomain d(o, program.steps());
    walk(program, o, d, true, [&](double done) {
        if (progress) progress(0.9 * done);
    });
    for (int v = 1; v <= o.maxVar(); ++v) {
        if (o.input[static_cast<std::size_t>(v)]) continue;
        const std::vector<Word>& t = d.table(v);
        m.posBdd[static_cast<std::size_t>(v)] = t.empty() ? bdd::zero() : tableBdd(t.data(), d.inputsBefore(v), 1, 0);
    }
    completeFunctions(m, o);
}

}  // namespace extraction
