// Expansion solver. A clause is copied once per assignment of the universals up to the
// deepest dependency of its existentials; universals quantified after every existential
// of the clause are reduced away (some scenario falsifies them), and copies in which a
// universal literal is true are dropped.
#include "tools/plumex-logwriter/solver.h"

#include <cadical.hpp>

#include <cstdlib>

namespace lw {

Solution solve(const Model& m, long long literalBudget) {
    Solution out;
    int U = m.numUniv();
    // Copy variables: base[x] + s for each assignment s of x's dependencies.
    std::vector<long long> base(static_cast<std::size_t>(m.numVars), 0);
    long long next = 1;
    for (int x : m.exist) {
        // Tables and the search tree grow with 2^depth: beyond 24 universals neither fits.
        if (m.depth[x] > 24) return out;
        base[x] = next;
        next += 1LL << m.depth[x];
        if (next > (1LL << 31) - 2 || next > literalBudget) return out;
    }
    // Cost first, so that a hopeless expansion is refused before any work.
    long long cost = 0;
    for (const auto& c : m.clauses) {
        int maxd = 0, fixed = 0;
        for (int l : c)
            if (!m.isUniv(std::abs(l))) maxd = std::max(maxd, m.depth[std::abs(l)]);
        for (int l : c)
            if (m.isUniv(std::abs(l)) && m.univIndex[std::abs(l)] <= maxd) ++fixed;
        if (maxd - fixed > 40) return out;
        cost += (1LL << (maxd - fixed)) * static_cast<long long>(c.size() + 1);
        if (cost > literalBudget) return out;
    }
    (void)U;
    CaDiCaL::Solver sat;
    sat.set("quiet", 1);
    bool empty = false;
    std::vector<int> exLits;
    for (const auto& c : m.clauses) {
        int maxd = 0;
        exLits.clear();
        unsigned long long fixMask = 0, fixVal = 0;
        bool dead = false;
        for (int l : c) {
            int v = std::abs(l);
            if (!m.isUniv(v)) {
                exLits.push_back(l);
                maxd = std::max(maxd, m.depth[v]);
            }
        }
        for (int l : c) {
            int v = std::abs(l);
            if (!m.isUniv(v) || m.univIndex[v] > maxd) continue;
            unsigned long long bit = 1ULL << (m.univIndex[v] - 1);
            // The copy survives only where the universal literal is false.
            unsigned long long want = l > 0 ? 0 : bit;
            if ((fixMask & bit) && (fixVal & bit) != want) dead = true;
            fixMask |= bit;
            fixVal |= want;
        }
        if (dead) continue;
        if (exLits.empty()) {
            empty = true;
            break;
        }
        // Enumerate the free bits of the low maxd universals.
        unsigned long long freeMask = ((maxd >= 64) ? ~0ULL : ((1ULL << maxd) - 1)) & ~fixMask;
        unsigned long long sub = 0;
        for (;;) {
            unsigned long long s = sub | fixVal;
            for (int l : exLits) {
                int v = std::abs(l);
                unsigned long long mine = s & ((1ULL << m.depth[v]) - 1);
                int copy = static_cast<int>(base[v] + static_cast<long long>(mine));
                sat.add(l > 0 ? copy : -copy);
            }
            sat.add(0);
            if (sub == freeMask) break;
            sub = (sub - freeMask) & freeMask;
        }
    }
    if (empty) {
        out.verdict = Verdict::False;
        return out;
    }
    int res = sat.solve();
    if (res != 10) {
        out.verdict = Verdict::False;
        return out;
    }
    out.verdict = Verdict::True;
    out.table.assign(static_cast<std::size_t>(m.numVars), {});
    int maxVar = sat.vars();
    for (int x : m.exist) {
        std::size_t n = std::size_t{1} << m.depth[x];
        auto& t = out.table[x];
        t.assign(n, 0);
        for (std::size_t s = 0; s < n; ++s) {
            long long copy = base[x] + static_cast<long long>(s);
            t[s] = copy <= maxVar && sat.val(static_cast<int>(copy)) > 0 ? 1 : 0;
        }
    }
    return out;
}

}  // namespace lw
