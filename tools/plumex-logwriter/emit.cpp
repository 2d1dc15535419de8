// Log layouts. The log is read backwards, so what the replay needs first is written
// last: the cubes section sits at the end, the resolution and equivalence sections at the
// start (their pivots are reconstructed after everything else is known). Universal
// branches are written B_IN ... B_OUT: the replay meets B_OUT first and pushes the
// hypothesis. Every assignment written is a piece of the solver's Skolem tables, so
// the replayed union is exactly the solver's certificate.
#include "tools/plumex-logwriter/emit.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <set>

#include "bdd/dddmp.h"
#include "bdd/engine.h"
#include "tools/plumex-logwriter/log_out.h"

namespace lw {

namespace {

using bdd::Bdd;

class Emitter {
  public:
    Emitter(const Model& m, const Solution& sol, const EmitOptions& o)
        : m_(m), table_(sol.table), o_(o), rng_(o.seed), truth_(sol.verdict == Verdict::True) {}

    bool run(const std::string& path, std::string& error);

  private:
    // ---- randomness and tables ----
    unsigned pick(unsigned n) { return n ? static_cast<unsigned>(rng_() % n) : 0; }
    bool chance(int percent) { return static_cast<int>(rng_() % 100) < percent; }
    int depth(int x) const { return m_.depth[x]; }
    int value(int x, unsigned long long s) const {
        return table_[x][s & ((1ULL << depth(x)) - 1)];
    }
    Bdd var(int k) { return bdd::ithVar(k); }
    Bdd fun(int x);  // the Skolem function of x as a BDD over universals 1..depth(x)
    Bdd litFun(int l) { return l > 0 ? fun(l) : !fun(-l); }
    Bdd point(unsigned long long s, int d) {
        Bdd c = bdd::one();
        for (int k = 1; k <= d; ++k) c &= (s >> (k - 1)) & 1 ? var(k) : !var(k);
        return c;
    }
    Bdd upperCube(int d) {  // universals d+1..U, which a variable of depth d must not see
        Bdd c = bdd::one();
        for (int k = d + 1; k <= m_.numUniv(); ++k) c &= var(k);
        return c;
    }
    Bdd lowerCube(int d) {
        Bdd c = bdd::one();
        for (int k = 1; k <= d; ++k) c &= var(k);
        return c;
    }

    // ---- entries ----
    int entry(const char* kind);  // a real entry, perhaps preceded by rolled-back noise
    void noiseStretch(int target);
    void junk(int count, bool inBranch);
    void gAssign(int lit) {
        entry("G_ASSIGN");
        out_.integer(lit);
        out_.eol();
    }
    void sAssign(int lit, const Bdd& b) {
        entry("S_ASSIGN");
        out_.integer(lit);
        out_.eol();
        out_.dump({b});
    }
    void bIn(char digit, char letter, int lit) {
        entry("B_IN");
        out_.put(digit);
        out_.put(letter);
        out_.text(std::to_string(lit));
        out_.eol();
    }
    void bOut(int lit) {
        entry("B_OUT");
        out_.integer(lit);
        out_.eol();
    }
    void gCubes(const std::vector<int>& xs);
    void sCubes(const std::vector<int>& xs);
    void cubesAtEnd();
    // One SAT_ENCODING entry. fixedTo >= 0: a single fully fixed cube per row for that
    // scenario; otherwise whole tables. echo rows leave some values unassigned.
    void satEncoding(const std::vector<int>& xs, long long fixedTo, const std::vector<bool>& echo);

    // ---- layouts ----
    void chooseResolution();
    void resolutionSection();
    void chooseEquivalences();
    void equivalenceSection();
    void assignSection();
    void node(int i, unsigned long long s, bool mix);
    void padding();
    bool plantTableFault(std::string& error);
    bool faultEntries(std::string& error);

    const Model& m_;
    std::vector<std::vector<std::uint8_t>> table_;
    EmitOptions o_;
    std::mt19937_64 rng_;
    bool truth_;
    LogOut out_;
    std::vector<Bdd> fun_;
    int lastReal_ = 0;
    bool inNoise_ = false;
    std::vector<bool> isRes_, isEqTarget_, isEqSource_;
    std::vector<int> resVars_;
    struct Equiv {
        int x, y, s;
        Bdd c;
    };
    std::vector<Equiv> equivs_;
    std::vector<std::vector<int>> atDepth_;
    std::vector<std::vector<int>> clausesOf_;
};

Bdd Emitter::fun(int x) {
    if (fun_[x]) return fun_[x];
    int d = depth(x);
    // Bottom-up over the table: level k combines pairs that differ in universal k.
    std::vector<Bdd> layer(table_[x].size());
    for (std::size_t s = 0; s < layer.size(); ++s) layer[s] = table_[x][s] ? bdd::one() : bdd::zero();
    for (int k = d; k >= 1; --k) {
        // Entries differ in bit k-1 at distance 2^(k-1); after folding universal k the
        // remaining index keeps bits 0..k-2.
        std::size_t half = std::size_t{1} << (k - 1);
        std::vector<Bdd> next(half);
        for (std::size_t s = 0; s < half; ++s) next[s] = bdd::ite(var(k), layer[s | half], layer[s]);
        layer.swap(next);
    }
    fun_[x] = layer[0];
    return fun_[x];
}

int Emitter::entry(const char* kind) {
    if (!inNoise_ && o_.noise > 0 && lastReal_ > 0 && chance(o_.noise)) noiseStretch(lastReal_);
    int id = out_.begin(kind);
    if (!inNoise_) lastReal_ = id;
    return id;
}

// Entries that would spoil the certificate if they were replayed. Inside a failed
// existential branch no B_IN may carry that branch's literal, so junk branches are
// universal ones only.
void Emitter::junk(int count, bool inBranch) {
    bool saved = inNoise_;
    inNoise_ = true;
    for (int i = 0; i < count; ++i) {
        int kinds = inBranch ? 5 : 8;
        int k = static_cast<int>(pick(kinds));
        int x = m_.exist.empty() ? 0 : m_.exist[pick(static_cast<unsigned>(m_.exist.size()))];
        int u = m_.numUniv() ? m_.univ[1 + pick(static_cast<unsigned>(m_.numUniv()))] : 0;
        if ((k == 2 || k == 3) && !u) k = 0;
        if ((k == 0 || k == 1 || k == 4) && !x) k = u ? 2 : 5;
        switch (k) {
            case 0: gAssign(rng_() & 1 ? x : -x); break;
            case 1: sAssign(rng_() & 1 ? x : -x, bdd::one()); break;
            case 2: bIn('1', 'a', rng_() & 1 ? u : -u); break;  // never closed
            case 3: bOut(rng_() & 1 ? u : -u); break;           // never opened
            case 4:
                entry("G_RES");
                out_.integer(x);
                out_.integer(1);
                out_.integer(1);
                out_.integer(1);
                out_.integer(x);
                out_.integer(1);
                out_.integer(-x);
                out_.eol();
                break;
            case 5:
                entry("G_NOISE");
                out_.text("unreadable payload\n");
                break;
            case 6: entry("END"); break;
            default:
                entry("ROLLBACK");
                out_.text("to: -1\n");
                break;
        }
    }
    inNoise_ = saved;
}

void Emitter::noiseStretch(int target) {
    inNoise_ = true;
    junk(1 + static_cast<int>(pick(3)), false);
    out_.begin("ROLLBACK");
    out_.text("to: " + std::to_string(target) + "\n");
    inNoise_ = false;
}

void Emitter::gCubes(const std::vector<int>& xs) {
    entry("G_CUBES");
    out_.integer(static_cast<int>(xs.size()));
    out_.eol();
    for (int x : xs) {
        out_.integer(x);
        out_.integer(depth(x));
        for (int k = 1; k <= depth(x); ++k) out_.integer(m_.univ[k]);
        out_.eol();
    }
}

void Emitter::sCubes(const std::vector<int>& xs) {
    entry("S_CUBES");
    out_.integer(static_cast<int>(xs.size()));
    std::vector<Bdd> roots;
    for (int x : xs) {
        out_.integer(x);
        roots.push_back(lowerCube(depth(x)));
    }
    out_.eol();
    out_.dump(roots);
}

void Emitter::cubesAtEnd() {
    if (m_.exist.empty()) {
        gCubes({});
        return;
    }
    if (o_.style == Style::Symbolic) {
        sCubes(m_.exist);
        return;
    }
    std::vector<int> g, s;
    for (int x : m_.exist) (rng_() & 1 ? g : s).push_back(x);
    if (!g.empty()) gCubes(g);
    if (!s.empty()) sCubes(s);
}

void Emitter::satEncoding(const std::vector<int>& xs, long long fixedTo, const std::vector<bool>& echo) {
    struct Row {
        int x;
        std::vector<int> perm;  // position -> universal index (1-based)
        struct Cube {
            std::vector<int> vals;  // per position: 0, 1 or 2 (free)
            int first;
        };
        std::vector<Cube> cubes;
        int start;
    };
    std::vector<Row> rows;
    std::vector<int> values{0};  // CNF variables from 1
    for (std::size_t r = 0; r < xs.size(); ++r) {
        int x = xs[r];
        int d = depth(x);
        Row row{x, {}, {}, static_cast<int>(values.size())};
        for (int k = 1; k <= d; ++k) row.perm.push_back(k);
        if (rng_() & 1) std::reverse(row.perm.begin(), row.perm.end());
        auto addCube = [&](const std::vector<int>& vals) {
            Row::Cube c{vals, static_cast<int>(values.size())};
            std::vector<int> freePos;
            for (int p = 0; p < d; ++p)
                if (vals[p] == 2) freePos.push_back(p);
            for (unsigned long long off = 0; off < (1ULL << freePos.size()); ++off) {
                unsigned long long s = 0;
                for (int p = 0; p < d; ++p) {
                    int bit = vals[p];
                    if (bit == 2) {
                        std::size_t j = static_cast<std::size_t>(std::find(freePos.begin(), freePos.end(), p) - freePos.begin());
                        bit = static_cast<int>((off >> j) & 1);  // lowest bit to the first free position
                    }
                    if (bit) s |= 1ULL << (row.perm[p] - 1);
                }
                int v = value(x, s);
                if (echo[r] && (rng_() & 1)) v = rng_() & 1 ? 2 : 7;  // unassigned here
                values.push_back(v);
            }
            row.cubes.push_back(std::move(c));
        };
        if (fixedTo >= 0) {
            std::vector<int> vals(static_cast<std::size_t>(d));
            for (int p = 0; p < d; ++p) vals[p] = static_cast<int>((fixedTo >> (row.perm[p] - 1)) & 1);
            addCube(vals);
        } else {
            int fixed = std::min(d, static_cast<int>(pick(3)));
            for (unsigned long long f = 0; f < (1ULL << fixed); ++f) {
                std::vector<int> vals(static_cast<std::size_t>(d), 2);
                for (int p = 0; p < fixed; ++p) vals[p] = static_cast<int>((f >> p) & 1);
                addCube(vals);
            }
        }
        rows.push_back(std::move(row));
    }
    entry("SAT_ENCODING");
    int c = static_cast<int>(values.size()) - 1;
    out_.text("symbVar: " + std::to_string(xs.size()) + "(" + std::to_string(rows.size()) +
              ") cnfVar: " + std::to_string(c) + "\n");
    for (int i = 1; i <= c; ++i) out_.integer(values[i]);
    out_.eol();
    for (const Row& row : rows) {
        out_.text("var " + std::to_string(row.x) + ": (" + std::to_string(row.start) + "," +
                  std::to_string(row.cubes.size()) + ")\n");
        out_.integer(static_cast<int>(row.perm.size()));
        for (int k : row.perm) out_.integer(m_.univ[k]);
        out_.eol();
        for (const auto& cube : row.cubes) {
            for (int v : cube.vals) out_.integer(v);
            out_.paired(cube.first);
            out_.eol();
        }
    }
}

// Resolution pivots: no two of them share a clause, so that when a pivot is replayed
// every other variable of its clauses is already complete and the projected
// requirements never clash.
void Emitter::chooseResolution() {
    if (o_.style == Style::Search || o_.fault == Fault::Invalid) return;
    std::vector<int> order = m_.exist;
    std::shuffle(order.begin(), order.end(), rng_);
    std::vector<bool> blocked(static_cast<std::size_t>(m_.numVars), false);
    for (int x : order) {
        if (blocked[x] || clausesOf_[x].empty() || clausesOf_[x].size() > 400 || !chance(35)) continue;
        resVars_.push_back(x);
        isRes_[x] = true;
        for (int ci : clausesOf_[x])
            for (int l : m_.clauses[ci]) blocked[std::abs(l)] = true;
        if (resVars_.size() >= 60) break;
    }
}

void Emitter::resolutionSection() {
    for (int x : resVars_) {
        // What the replay will derive: the scenarios in which some clause of x is not
        // satisfied by the rest of its literals, projected on x's dependencies.
        Bdd a = bdd::zero(), b = bdd::zero();
        std::vector<int> P, N;
        for (int ci : clausesOf_[x]) {
            Bdd cond = bdd::one();
            bool pos = false;
            for (int l : m_.clauses[ci]) {
                int v = std::abs(l);
                if (v == x) {
                    pos = l > 0;
                } else if (m_.isUniv(v)) {
                    cond &= l > 0 ? !var(m_.univIndex[v]) : var(m_.univIndex[v]);
                } else {
                    cond &= !litFun(l);
                }
            }
            (pos ? a : b) |= cond;
            (pos ? P : N).push_back(ci);
        }
        Bdd hide = upperCube(depth(x));
        Bdd cp = bdd::exist(a, hide), cn = bdd::exist(b, hide);
        Bdd f = fun(x);
        if (!(cp & !f).isZero() || !(cn & f).isZero()) {
            // Cannot happen for a valid certificate; keep the log sound anyway.
            isRes_[x] = false;
            continue;
        }
        Bdd restPos = f & (!cp), restNeg = (!f) & (!cn);
        if (!restPos.isZero()) sAssign(x, restPos);
        if (!restNeg.isZero()) sAssign(-x, restNeg);
        bool symbolic = rng_() & 1;
        entry(symbolic ? "S_RES" : "G_RES");
        out_.integer(x);
        out_.integer(static_cast<int>(P.size()));
        out_.integer(static_cast<int>(N.size()));
        std::vector<Bdd> roots;
        for (const auto* list : {&P, &N}) {
            for (int ci : *list) {
                std::vector<int> lits;
                Bdd cond = bdd::one();
                for (int l : m_.clauses[ci]) {
                    int v = std::abs(l);
                    if (symbolic && m_.isUniv(v))
                        cond &= l > 0 ? !var(m_.univIndex[v]) : var(m_.univIndex[v]);
                    else
                        lits.push_back(l);
                }
                out_.integer(static_cast<int>(lits.size()));
                for (int l : lits) out_.integer(l);
                roots.push_back(cond);
            }
        }
        out_.eol();
        if (symbolic) out_.dump(roots);
    }
}

void Emitter::chooseEquivalences() {
    if (o_.style == Style::Search) return;
    std::vector<int> order = m_.exist;
    std::shuffle(order.begin(), order.end(), rng_);
    for (int x : order) {
        if (isRes_[x] || isEqSource_[x] || !chance(30)) continue;
        // A partner that x may depend on: quantified in x's block or before it.
        std::vector<int> cands;
        for (int y : m_.exist)
            if (y != x && !isRes_[y] && !isEqTarget_[y] && depth(y) <= depth(x)) cands.push_back(y);
        if (cands.empty()) continue;
        int y = cands[pick(static_cast<unsigned>(cands.size()))];
        Bdd same = !(fun(x) ^ fun(y));
        Bdd c = bdd::mintermFraction(same) >= 0.5 ? same : !same;
        int s = c == same ? 1 : -1;
        if (c.isZero()) continue;
        equivs_.push_back({x, y, s, c});
        isEqTarget_[x] = true;
        isEqSource_[y] = true;
        if (equivs_.size() >= 40) break;
    }
}

void Emitter::equivalenceSection() {
    for (const Equiv& e : equivs_) {
        entry("S_EQUIV");
        // b may be written as a negative literal, its sign then folded into s.
        bool negate = rng_() & 1;
        out_.integer(e.x);
        out_.integer(negate ? -e.y : e.y);
        out_.integer(negate ? -e.s : e.s);
        out_.eol();
        Bdd hit = e.c & fun(e.x);
        std::vector<Bdd> roots;
        if (hit.isZero()) {
            out_.integer(0);
        } else if (depth(e.y) == depth(e.x)) {
            // A clause (-x) still open where x is true: the replay re-asserts x and s*y there.
            out_.integer(1);
            out_.integer(1);
            out_.integer(-e.x);
            roots.push_back(hit);
        } else {
            // A clause (x) that the equivalence itself satisfies: expunged.
            out_.integer(1);
            out_.integer(1);
            out_.integer(e.x);
            roots.push_back(hit);
        }
        out_.eol();
        roots.push_back(e.c);
        out_.dump(roots);
    }
}

// Symbolic style: everything that the resolution section does not give, at top level.
void Emitter::assignSection() {
    std::vector<int> batch;
    std::vector<bool> echo;
    for (int x : m_.exist) {
        if (isRes_[x]) continue;
        Bdd f = fun(x);
        Bdd region = bdd::one();
        if (isEqTarget_[x]) {
            for (const Equiv& e : equivs_)
                if (e.x == x) region = !e.c;
        } else if (chance(40)) {
            batch.push_back(x);
            echo.push_back(false);
            continue;
        }
        Bdd p = f & region, n = (!f) & region;
        if (!p.isZero()) sAssign(x, p);
        if (!n.isZero()) sAssign(-x, n);
        if (!isEqTarget_[x] && chance(20)) {
            batch.push_back(x);
            echo.push_back(true);
        }
    }
    if (!batch.empty()) satEncoding(batch, -1, echo);
}

void Emitter::node(int i, unsigned long long s, bool mix) {
    std::vector<int> opened;
    std::vector<int> sat;
    for (int x : atDepth_[i]) {
        if (isRes_[x]) continue;
        int lit = value(x, s) ? x : -x;
        int form = static_cast<int>(pick(100));
        if (!mix) form = form < 50 ? 0 : form < 75 ? 1 : 2;
        else form = form < 20 ? 0 : form < 35 ? 1 : form < 50 ? 2 : form < 75 ? 3 : 4;
        switch (form) {
            case 0: gAssign(lit); break;
            case 1:
                bIn('1', 'e', lit);
                opened.push_back(lit);
                break;
            case 2:
                // A first branch that failed: the reader drops it up to here.
                bIn('1', 'e', -lit);
                junk(1 + static_cast<int>(pick(3)), true);
                bIn('2', 'e', lit);
                opened.push_back(lit);
                break;
            case 3:
                if (rng_() & 1) {
                    sAssign(lit, bdd::one());
                } else {
                    // The whole function: the hypothesis cuts it down to this scenario.
                    Bdd f = fun(x);
                    if (!f.isZero()) sAssign(x, f);
                    if (!f.isOne()) sAssign(-x, !f);
                }
                break;
            default: sat.push_back(x); break;
        }
    }
    if (!sat.empty()) satEncoding(sat, rng_() & 1 ? static_cast<long long>(s) : -1, std::vector<bool>(sat.size(), false));
    if (i < m_.numUniv()) {
        int u = m_.univ[i + 1];
        bool firstTrue = rng_() & 1;
        for (int b = 0; b < 2; ++b) {
            bool val = b == 0 ? firstTrue : !firstTrue;
            int lit = val ? u : -u;
            bIn(b == 0 ? '1' : '2', 'a', lit);
            node(i + 1, val ? s | (1ULL << i) : s, mix);
            bOut(lit);
        }
    }
    for (auto it = opened.rbegin(); it != opened.rend(); ++it) bOut(*it);
}

// Padding up to the requested size: either one long rolled-back stretch of big
// contradictory resolutions, or repeated top-level re-assignments of the same functions.
void Emitter::padding() {
    if (o_.size <= 0) return;
    const long long tail = 160;  // faults and trailer
    long long pos = out_.position();
    if (pos + tail >= o_.size) return;
    int x = m_.exist.empty() ? 0 : m_.exist[0];
    if (o_.padding == Padding::Reassign && truth_ && x) {
        // Bodies rendered once, written many times.
        std::vector<std::string> bodies;
        for (int v : m_.exist) {
            for (int lit : {v, -v}) {
                Bdd f = litFun(lit);
                if (f.isZero()) continue;
                char* data = nullptr;
                std::size_t len = 0;
                std::FILE* ms = open_memstream(&data, &len);
                if (out_.binary()) {
                    dddmp::writeInt(ms, lit >= 0 ? 2 * lit : 1 - 2 * lit);
                } else {
                    std::fprintf(ms, "%d ", lit);
                }
                std::fputc('\n', ms);
                dddmp::StoreOptions so;
                so.mode = out_.binary() ? 'B' : 'A';
                dddmp::storeArray(ms, {f}, so);
                std::fclose(ms);
                bodies.emplace_back(data, len);
                std::free(data);
            }
        }
        std::size_t k = 0;
        while (out_.position() + tail < o_.size) {
            out_.begin("S_ASSIGN");
            out_.text(bodies[k++ % bodies.size()]);
        }
        return;
    }
    int target = out_.lastId();
    if (o_.padding == Padding::Tiny && truth_ && x && m_.numUniv() > 0) {
        // The first half: a rolled-back stretch of one-literal entries and universal
        // branches; the second half: full-scenario universal branches that re-assign
        // every existential its value there (the certificate stays the same).
        long long half = pos + (o_.size - pos) / 2;
        int u0 = m_.univ[1];
        while (out_.position() + tail < half) {
            gAssign(x);
            bIn('1', 'a', u0);
            bOut(-x);
        }
        out_.begin("ROLLBACK");
        out_.text("to: " + std::to_string(target) + "\n");
        int n = std::min(m_.numUniv(), 20);
        unsigned long long s = 0;
        while (out_.position() + tail < o_.size) {
            for (int i = 0; i < n; ++i) bIn('1', 'a', (s >> i) & 1 ? m_.univ[i + 1] : -m_.univ[i + 1]);
            for (int y : m_.exist) gAssign(value(y, s) ? y : -y);
            for (int i = n - 1; i >= 0; --i) bOut((s >> i) & 1 ? m_.univ[i + 1] : -m_.univ[i + 1]);
            s = (s + 1) & ((1ULL << n) - 1);
        }
        return;
    }
    if (!x) x = 1;
    // Body: G_RES x with one clause (x) and one huge clause (-x l l l ...).
    const int chunk = 1 << 20;
    std::string lits;
    {
        char* data = nullptr;
        std::size_t len = 0;
        std::FILE* ms = open_memstream(&data, &len);
        for (int i = 0; i < chunk / 4; ++i) {
            int l = (i & 1) ? x : -x;
            if (out_.binary()) dddmp::writeInt(ms, l >= 0 ? 2 * l : 1 - 2 * l);
            else std::fprintf(ms, "%d ", l);
        }
        std::fclose(ms);
        lits.assign(data, len);
        std::free(data);
    }
    const long long rollbackLen = 40;
    for (;;) {
        long long room = o_.size - out_.position() - tail - rollbackLen - 64;
        if (room <= 0) break;
        std::size_t take = static_cast<std::size_t>(std::min<long long>(room, static_cast<long long>(lits.size())));
        // Whole integers only in binary mode: cut after a byte without continuation bit.
        if (out_.binary())
            while (take > 0 && (static_cast<unsigned char>(lits[take - 1]) & 1)) --take;
        else
            while (take > 0 && lits[take - 1] != ' ') --take;
        if (take == 0) break;
        out_.begin("G_RES");
        out_.integer(x);
        out_.integer(1);
        out_.integer(1);
        out_.integer(1);
        out_.integer(x);
        out_.integer(static_cast<int>(take));  // a count; the reader never looks
        out_.raw(lits.data(), take);
        out_.eol();
    }
    out_.begin("ROLLBACK");
    out_.text("to: " + std::to_string(target) + "\n");
}

// A consistent certificate that misses a clause: every existential literal of some
// clause is made false in a scenario where its universal literals are false too.
bool Emitter::plantTableFault(std::string& error) {
    for (const auto& c : m_.clauses) {
        unsigned long long s = 0;
        bool any = false;
        for (int l : c) {
            int v = std::abs(l);
            if (m_.isUniv(v)) {
                if (l < 0) s |= 1ULL << (m_.univIndex[v] - 1);
            } else {
                any = true;
            }
        }
        if (!any) continue;
        for (int l : c) {
            int v = std::abs(l);
            if (!m_.isUniv(v)) table_[v][s & ((1ULL << depth(v)) - 1)] = l > 0 ? 0 : 1;
        }
        return true;
    }
    error = "cannot plant an invalid certificate: no clause with an existential literal";
    return false;
}

bool Emitter::faultEntries(std::string& error) {
    int x = m_.exist.empty() ? 0 : m_.exist[0];
    int u = m_.numUniv() ? m_.univ[1] : 0;
    switch (o_.fault) {
        case Fault::BackOffset:
            // One byte too far back lands on the line end before the previous entry.
            out_.begin("G_ASSIGN", 1);
            out_.integer(u ? u : 1);
            out_.eol();
            break;
        case Fault::UnknownKind:
            out_.begin("G_MAGIC");
            out_.integer(0);
            out_.eol();
            break;
        case Fault::EndInMiddle: out_.begin("END"); break;
        case Fault::NegativeRollback:
            out_.begin("ROLLBACK");
            out_.text("to: -3\n");
            break;
        case Fault::TruncatedInt:
            // The escape byte of an escaped code with its second byte cut off.
            out_.begin("G_ASSIGN");
            out_.put('\0');
            out_.eol();
            break;
        case Fault::UnbalancedBranch:
            if (!u) {
                error = "cannot plant a universal B_IN: the formula has no universal";
                return false;
            }
            out_.begin("B_IN");
            out_.text("1a" + std::to_string(u) + "\n");
            break;
        case Fault::ResContradiction:
            if (!x) {
                error = "cannot plant a contradiction: the formula has no existential";
                return false;
            }
            out_.begin("G_RES");
            for (int v : {x, 1, 1, 1, x, 1, -x}) out_.integer(v);
            out_.eol();
            break;
        case Fault::Inconsistent:
            if (!x) {
                error = "cannot plant an inconsistency: the formula has no existential";
                return false;
            }
            if (truth_) {
                bool anyTrue = false;
                for (auto v : table_[x]) anyTrue = anyTrue || v;
                out_.begin("G_ASSIGN");
                out_.integer(anyTrue ? -x : x);
                out_.eol();
            }
            break;
        default: break;
    }
    return true;
}

bool Emitter::run(const std::string& path, std::string& error) {
    if (o_.fault == Fault::TruncatedInt) o_.binary = true;
    if (truth_ && o_.fault == Fault::Invalid && !plantTableFault(error)) return false;
    bdd::Manager manager(m_.numUniv() + 1);
    fun_.assign(static_cast<std::size_t>(m_.numVars), Bdd());
    isRes_.assign(static_cast<std::size_t>(m_.numVars), false);
    isEqTarget_ = isEqSource_ = isRes_;
    atDepth_.assign(static_cast<std::size_t>(m_.numUniv()) + 1, {});
    for (int x : m_.exist) atDepth_[depth(x)].push_back(x);
    clausesOf_.assign(static_cast<std::size_t>(m_.numVars), {});
    for (std::size_t ci = 0; ci < m_.clauses.size(); ++ci)
        for (int l : m_.clauses[ci])
            if (!m_.isUniv(std::abs(l))) clausesOf_[std::abs(l)].push_back(static_cast<int>(ci));

    if (!out_.open(path, o_.binary)) {
        error = "cannot write \"" + path + "\"";
        return false;
    }
    out_.header(o_.fault == Fault::BadVersion ? "1.2" : "1.3", o_.formulaName,
                o_.fault == Fault::BadFormat ? "ascii" : (o_.binary ? "binary" : "text"), m_);

    if (!truth_) {
        gCubes(m_.exist);
    } else if (o_.style == Style::Search) {
        gCubes(m_.exist);
        node(0, 0, false);
    } else {
        if (o_.style == Style::Mix) gCubes(m_.exist);
        chooseResolution();
        chooseEquivalences();
        resolutionSection();
        equivalenceSection();
        if (o_.style == Style::Symbolic) assignSection();
        else node(0, 0, true);
        cubesAtEnd();
    }
    padding();
    if (!faultEntries(error)) return false;
    bool trueOut = truth_ && o_.fault != Fault::OutcomeFalse;
    out_.trailer(trueOut ? "TRUE" : "FALSE", o_.seconds, trueOut);
    if (o_.fault == Fault::NoTrailer) out_.text(std::string(120, 'x') + "\n");
    if (!out_.commit()) {
        error = "cannot write \"" + path + "\"";
        return false;
    }
    return true;
}

}  // namespace

bool writeLog(const std::string& path, const Model& m, const Solution& sol, const EmitOptions& o,
              std::string& error) {
    Emitter e(m, sol, o);
    return e.run(path, error);
}

}  // namespace lw
