// Test certificates built directly as QBModel: random three-valued functions of up to a
// few universals, with the truth tables kept beside them as the oracle.
#pragma once

#include <algorithm>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bdd/engine.h"
#include "certificate/model.h"
#include "expressions/parser.h"

namespace exptest {

enum Tri { F = 0, T = 1, U = 2 };

struct ListDeleter {
    void operator()(ExpList* l) const { expListFree(l); }
};
using ListPtr = std::unique_ptr<ExpList, ListDeleter>;

// Scenario m: BDD variable j (1..numUniv) has the value of bit j-1 of m.
inline bdd::Bdd minterm(int numUniv, unsigned m) {
    bdd::Bdd c = bdd::one();
    for (int j = 1; j <= numUniv; ++j) c &= (m >> (j - 1)) & 1 ? bdd::ithVar(j) : !bdd::ithVar(j);
    return c;
}

inline bool holds(const bdd::Bdd& f, int numUniv, unsigned m) { return bdd::cofactor(f, minterm(numUniv, m)).isOne(); }

inline bdd::Bdd fromTable(int numUniv, const std::vector<bool>& table) {
    bdd::Bdd f = bdd::zero();
    for (unsigned m = 0; m < table.size(); ++m)
        if (table[m]) f |= minterm(numUniv, m);
    return f;
}

struct Certificate {
    QBModel model;
    int numUniv = 0;
    std::vector<int> univExt;   // BDD index -> formula number (entry 0 unused)
    std::vector<int> existExt;  // formula numbers of the existentials
    std::map<int, std::vector<int>> table;  // existential formula number -> Tri per scenario
    int scenarios() const { return 1 << numUniv; }
};

// u universals and e existentials with random formula numbers (with holes) and random
// consistent functions; undetermined scenarios appear with probability dcShare.
inline std::unique_ptr<Certificate> randomCertificate(std::mt19937& rng, int u, int e, double dcShare = 0.3) {
    auto c = std::make_unique<Certificate>();
    QBModel& m = c->model;
    c->numUniv = u;
    m.manager = std::make_unique<bdd::Manager>(u + 1);
    int n = u + e;
    m.numVars = n + 1;
    m.numUniv = u;
    m.numExist = e;
    std::vector<int> internal(n);
    for (int i = 0; i < n; ++i) internal[i] = i + 1;
    std::shuffle(internal.begin(), internal.end(), rng);
    std::vector<int> external(2 * n + 3);
    for (int i = 0; i < static_cast<int>(external.size()); ++i) external[i] = i + 1;
    std::shuffle(external.begin(), external.end(), rng);
    external.resize(n);
    m.maxExtVar = *std::max_element(external.begin(), external.end());
    m.extToInt.assign(m.maxExtVar + 1, 0);
    m.intToExt.assign(m.numVars, 0);
    m.univVar.assign(u + 1, 0);
    m.univIndex.assign(m.numVars, 0);
    m.existVar.assign(e + 1, 0);
    m.existPos.assign(m.numVars, 0);
    m.posBdd.assign(m.numVars, bdd::zero());
    m.negBdd.assign(m.numVars, bdd::zero());
    c->univExt.assign(u + 1, 0);
    for (int k = 0; k < n; ++k) {
        m.extToInt[external[k]] = internal[k];
        m.intToExt[internal[k]] = external[k];
    }
    std::uniform_real_distribution<double> coin(0.0, 1.0);
    for (int k = 0; k < n; ++k) {
        int v = internal[k];
        if (k < u) {
            m.univVar[k + 1] = v;
            m.univIndex[v] = k + 1;
            c->univExt[k + 1] = external[k];
        } else {
            int pos = k - u + 1;
            m.existVar[pos] = v;
            m.existPos[v] = pos;
            c->existExt.push_back(external[k]);
            std::vector<int> values(c->scenarios());
            std::vector<bool> t(values.size()), f(values.size());
            for (std::size_t s = 0; s < values.size(); ++s) {
                values[s] = coin(rng) < dcShare ? U : (coin(rng) < 0.5 ? T : F);
                t[s] = values[s] == T;
                f[s] = values[s] == F;
            }
            m.posBdd[v] = fromTable(u, t);
            m.negBdd[v] = fromTable(u, f);
            c->table[external[k]] = values;
        }
    }
    m.allUnivCube = bdd::one();
    for (int j = 1; j <= u; ++j) m.allUnivCube &= bdd::ithVar(j);
    return c;
}

// A random expression over the existentials, as a tree with its canonical text and its
// value scenario by scenario (three-valued, Kleene's tables).
struct Gen {
    int kind = EXP_LIT;
    int literal = 0;
    std::unique_ptr<Gen> a, b;
};

inline std::unique_ptr<Gen> randomExpression(std::mt19937& rng, const std::vector<int>& literals, int depth) {
    auto g = std::make_unique<Gen>();
    std::uniform_int_distribution<int> kind(EXP_LIT, EXP_DC);
    g->kind = depth <= 0 ? EXP_LIT : kind(rng);
    if (g->kind == EXP_LIT) {
        int v = literals[std::uniform_int_distribution<int>(0, static_cast<int>(literals.size()) - 1)(rng)];
        g->literal = rng() % 2 ? v : -v;
        return g;
    }
    g->a = randomExpression(rng, literals, depth - 1);
    if (g->kind >= EXP_AND && g->kind <= EXP_XOR) g->b = randomExpression(rng, literals, depth - 1);
    return g;
}

inline std::string text(const Gen& g) {
    static const char* names[] = {"", "", "!", "and", "or", "implies", "xor", "dc"};
    if (g.kind == EXP_LIT) return std::to_string(g.literal);
    std::string s = std::string(names[g.kind]) + "(" + text(*g.a);
    if (g.b) s += "," + text(*g.b);
    return s + ")";
}

inline int tri(const Certificate& c, const Gen& g, unsigned s) {
    if (g.kind == EXP_LIT) {
        int v = c.table.at(std::abs(g.literal))[s];
        if (g.literal < 0 && v != U) v = 1 - v;
        return v;
    }
    int x = tri(c, *g.a, s);
    int y = g.b ? tri(c, *g.b, s) : U;
    switch (g.kind) {
        case EXP_NOT: return x == U ? U : 1 - x;
        case EXP_AND: return (x == F || y == F) ? F : (x == T && y == T) ? T : U;
        case EXP_OR: return (x == T || y == T) ? T : (x == F && y == F) ? F : U;
        case EXP_IMPLIES: return (x == F || y == T) ? T : (x == T && y == F) ? F : U;
        case EXP_XOR: return (x == U || y == U) ? U : (x != y ? T : F);
        case EXP_DC: return x == U ? T : F;
    }
    return U;
}

// A hand-made certificate: universals 3 (BDD index 1) and 4 (index 2); existentials
// 5 (always true), 6 (= universal 3), 7 (true where 3 and 4, false where neither),
// 8 (contradictory: true everywhere, false where 3), 9 (stripped: no functions).
struct Small {
    QBModel model;
    Small() {
        model.manager = std::make_unique<bdd::Manager>(3);
        model.numVars = 8;
        model.numUniv = 2;
        model.numExist = 5;
        model.maxExtVar = 9;
        model.extToInt = {0, 0, 0, 1, 2, 3, 4, 5, 6, 7};
        model.intToExt = {0, 3, 4, 5, 6, 7, 8, 9};
        model.univVar = {0, 1, 2};
        model.univIndex = {0, 1, 2, 0, 0, 0, 0, 0};
        model.existVar = {0, 3, 4, 5, 6, 7};
        model.existPos = {0, 0, 0, 1, 2, 3, 4, 5};
        bdd::Bdd a = bdd::ithVar(1), b = bdd::ithVar(2);
        model.posBdd = {bdd::zero(), bdd::zero(), bdd::zero(), bdd::one(), a, a & b, bdd::one(), bdd::Bdd()};
        model.negBdd = {bdd::zero(), bdd::zero(), bdd::zero(), bdd::zero(), !a, (!a) & (!b), a, bdd::Bdd()};
    }
};

}  // namespace exptest
