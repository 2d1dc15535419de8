// Oracles for the reconstruction property test: a plain QDIMACS parser, the truth table
// of a certificate over every universal scenario, and a brute-force check of that table
// against the formula. Nothing here uses the checks of Plumex itself.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bdd/engine.h"
#include "certificate/model.h"
#include "inputs/log_reader.h"

namespace oracle {

struct Formula {
    int numVars = 0;
    std::vector<std::pair<char, std::vector<int>>> prefix;  // 'a' / 'e' blocks, outermost first
    std::vector<std::vector<int>> clauses;
};

inline Formula parseQdimacs(const std::string& path) {
    Formula f;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream ls(line);
        std::string head;
        if (!(ls >> head) || head == "c") continue;
        if (head == "p") {
            std::string cnf;
            int clauses = 0;
            ls >> cnf >> f.numVars >> clauses;
            continue;
        }
        std::vector<int> lits;
        if (head == "a" || head == "e") {
            int v;
            while (ls >> v && v != 0) lits.push_back(v);
            f.prefix.emplace_back(head[0], lits);
            continue;
        }
        int v = std::stoi(head);
        while (v != 0) {
            lits.push_back(v);
            if (!(ls >> v)) break;
        }
        f.clauses.push_back(lits);
    }
    return f;
}

// Value of existential x in scenario s: '1' true, '0' false, '-' don't care, '!' both.
// Scenario bit k-1 is the value of the universal with BDD index k.
struct Table {
    int numUniv = 0;
    std::vector<std::string> rows;  // rows[s][x], x an internal number (slot 0 unused)
    bool operator==(const Table& o) const { return numUniv == o.numUniv && rows == o.rows; }
};

inline bdd::Bdd scenarioCube(int numUniv, unsigned s) {
    bdd::Bdd cube = bdd::one();
    for (int k = 1; k <= numUniv; ++k) {
        bdd::Bdd v = bdd::ithVar(k);
        cube &= ((s >> (k - 1)) & 1u) ? v : !v;
    }
    return cube;
}

inline bool holdsIn(const bdd::Bdd& f, const bdd::Bdd& cube) {
    return !f.isNull() && !(f & cube).isZero();
}

inline Table tabulate(const QBModel& m) {
    Table t;
    t.numUniv = m.numUniv;
    for (unsigned s = 0; s < (1u << m.numUniv); ++s) {
        bdd::Bdd cube = scenarioCube(m.numUniv, s);
        std::string row(static_cast<std::size_t>(m.numVars), ' ');
        for (int x = 1; x < m.numVars; ++x) {
            if (m.isUniversal(x)) continue;
            bool p = holdsIn(m.posBdd[x], cube), n = holdsIn(m.negBdd[x], cube);
            row[x] = p && n ? '!' : p ? '1' : n ? '0' : '-';
        }
        t.rows.push_back(row);
    }
    return t;
}

inline bool consistent(const Table& t) {
    for (const std::string& row : t.rows)
        if (row.find('!') != std::string::npos) return false;
    return true;
}

// Every clause holds in every scenario: a universal literal true in the scenario, or an
// existential literal that the certificate makes true there (a don't care satisfies
// nothing). Formula variables are external numbers, mapped through the model.
inline bool satisfies(const Table& t, const QBModel& m, const Formula& f, std::string* why = nullptr) {
    for (unsigned s = 0; s < t.rows.size(); ++s) {
        for (const std::vector<int>& clause : f.clauses) {
            bool sat = false;
            for (int l : clause) {
                int e = l < 0 ? -l : l;
                int x = m.knowsExternal(e) ? m.extToInt[e] : 0;
                if (x == 0) continue;
                if (m.isUniversal(x)) {
                    bool value = (s >> (m.univIndex[x] - 1)) & 1u;
                    sat = value == (l > 0);
                } else {
                    char value = t.rows[s][x];
                    sat = value == (l > 0 ? '1' : '0');
                }
                if (sat) break;
            }
            if (!sat) {
                if (why) {
                    std::ostringstream os;
                    os << "clause";
                    for (int l : clause) os << " " << l;
                    os << " fails in scenario " << s;
                    *why = os.str();
                }
                return false;
            }
        }
    }
    return true;
}

// Entries compared field by field; BDDs must belong to the same manager.
inline bool sameClauses(const std::vector<LogClause>& a, const std::vector<LogClause>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].literals != b[i].literals || a[i].bdd != b[i].bdd) return false;
    return true;
}

inline bool sameEntry(const LogEntry& a, const LogEntry& b) {
    if (a.kind != b.kind || a.id != b.id || a.variable != b.variable || a.literal != b.literal ||
        a.secondBranch != b.secondBranch || a.quantifier != b.quantifier || a.a != b.a || a.b != b.b ||
        a.s != b.s || a.values != b.values || a.bdd != b.bdd)
        return false;
    if (!sameClauses(a.positive, b.positive) || !sameClauses(a.negative, b.negative) ||
        !sameClauses(a.clauses, b.clauses))
        return false;
    if (a.cubes.size() != b.cubes.size()) return false;
    for (std::size_t i = 0; i < a.cubes.size(); ++i)
        if (a.cubes[i].variable != b.cubes[i].variable || a.cubes[i].dominators != b.cubes[i].dominators ||
            a.cubes[i].cube != b.cubes[i].cube)
            return false;
    const InverseVarMapping &x = a.mapping, &y = b.mapping;
    if (x.nonemptyExNumVar != y.nonemptyExNumVar || x.cnfVarNum != y.cnfVarNum || x.rows.size() != y.rows.size())
        return false;
    for (std::size_t i = 0; i < x.rows.size(); ++i) {
        const InverseVarRow &r = x.rows[i], &q = y.rows[i];
        if (r.exVar != q.exVar || r.startingIndex != q.startingIndex || r.numOfCubes != q.numOfCubes ||
            r.relevantUniv != q.relevantUniv || r.cubeMapping.size() != q.cubeMapping.size())
            return false;
        for (std::size_t k = 0; k < r.cubeMapping.size(); ++k)
            if (r.cubeMapping[k].univCube != q.cubeMapping[k].univCube ||
                r.cubeMapping[k].firstIndex != q.cubeMapping[k].firstIndex)
                return false;
    }
    return true;
}

}  // namespace oracle
