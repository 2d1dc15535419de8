// Oracles for countermodels (certificates of false formulas): the functions of the
// universals evaluated straight from the model's BDDs and from its circuit, a brute-force
// check over every existential assignment, the check that a function reads only
// existentials quantified before its universal, and the matrix with the functions in
// CNF for a SAT solver. Nothing here uses the checks of Plumex itself.
#pragma once

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "bdd/engine.h"
#include "certificate/model.h"
#include "certificate_oracle.h"

namespace countermodel {

// The formula's variables in the extraction's order of quantification: free variables
// (outermost existentials) first, then the prefix; level[v] is v's place in it and
// existential[v] its quantifier.
struct Quantifiers {
    std::vector<int> level;
    std::vector<char> existential;
    explicit Quantifiers(const oracle::Formula& f) {
        int n = f.numVars;
        for (const auto& block : f.prefix)
            for (int v : block.second) n = std::max(n, v);
        level.assign(static_cast<std::size_t>(n) + 1, 0);
        existential.assign(static_cast<std::size_t>(n) + 1, 1);
        for (std::size_t b = 0; b < f.prefix.size(); ++b)
            for (int v : f.prefix[b].second) {
                level[static_cast<std::size_t>(v)] = static_cast<int>(b) + 1;
                existential[static_cast<std::size_t>(v)] = f.prefix[b].first == 'e';
            }
    }
};

// Value of f where BDD variable k has value[k].
inline bool bddValue(bdd::Bdd f, const std::vector<char>& value) {
    while (!f.isConstant()) f = value[static_cast<std::size_t>(f.var())] ? f.high() : f.low();
    return f.isOne();
}

// Values of every variable of the circuit where input k has value[k].
inline std::vector<char> circuitValues(const FunctionCircuit& c, const std::vector<char>& value) {
    std::vector<char> v(static_cast<std::size_t>(c.numInputs) + 1 + c.gates(), 0);
    for (int k = 1; k <= c.numInputs; ++k) v[static_cast<std::size_t>(k)] = value[static_cast<std::size_t>(k)];
    auto lit = [&](std::uint32_t l) -> bool { return v[l >> 1] ^ (l & 1); };
    for (std::size_t g = 0; g < c.gates(); ++g) v[c.variableOf(g)] = lit(c.left[g]) && lit(c.right[g]);
    return v;
}
inline bool circuitLiteral(const std::vector<char>& values, std::uint32_t l) { return values[l >> 1] ^ (l & 1); }

// Every function reads only existentials quantified before its universal: the support of
// its BDDs and the inputs in its circuit's cone.
inline bool readsOnlyEarlier(const QBModel& m, const oracle::Formula& f, std::string* why) {
    Quantifiers q(f);
    for (int u = 1; u < m.numVars; ++u) {
        if (m.isUniversal(u) || m.existPos[u] == 0) continue;  // an input, or no function
        std::set<int> reads;
        if (!m.posBdd[u].isNull()) {
            bdd::visitNodes(std::vector<bdd::Bdd>{m.posBdd[u], m.negBdd[u]}, [&](const bdd::VisitedNode& n) {
                if (n.var >= 0) reads.insert(n.var);
                return 0;
            });
        }
        if (m.circuit) {
            std::vector<std::uint32_t> todo{m.circuit->output[static_cast<std::size_t>(u)] >> 1};
            std::set<std::uint32_t> done;
            while (!todo.empty()) {
                std::uint32_t var = todo.back();
                todo.pop_back();
                if (var == 0 || !done.insert(var).second) continue;
                if (var <= static_cast<std::uint32_t>(m.circuit->numInputs)) {
                    reads.insert(static_cast<int>(var));
                    continue;
                }
                std::size_t g = var - static_cast<std::uint32_t>(m.circuit->numInputs) - 1;
                todo.push_back(m.circuit->left[g] >> 1);
                todo.push_back(m.circuit->right[g] >> 1);
            }
        }
        for (int k : reads) {
            int e = m.intToExt[static_cast<std::size_t>(m.univVar[static_cast<std::size_t>(k)])];
            int ue = m.intToExt[static_cast<std::size_t>(u)];
            if (q.level[static_cast<std::size_t>(e)] >= q.level[static_cast<std::size_t>(ue)]) {
                if (why) *why = "the function of " + std::to_string(ue) + " reads existential " + std::to_string(e);
                return false;
            }
        }
    }
    return true;
}

// With every universal set by its function, some clause is false under every assignment
// of the existentials (at most 20 of them). The BDDs (where the model has them) and the
// circuit (where it has one) are checked alike, and must agree.
inline bool refutes(const QBModel& m, const oracle::Formula& f, std::string* why) {
    if (m.numUniv > 20) {
        if (why) *why = "too many existentials for brute force";
        return false;
    }
    std::vector<char> value(static_cast<std::size_t>(m.numUniv) + 1, 0);
    std::vector<char> assigned(static_cast<std::size_t>(m.numVars), 0);
    for (std::uint64_t a = 0; a < (std::uint64_t(1) << m.numUniv); ++a) {
        for (int k = 1; k <= m.numUniv; ++k) {
            value[static_cast<std::size_t>(k)] = (a >> (k - 1)) & 1;
            assigned[static_cast<std::size_t>(m.univVar[static_cast<std::size_t>(k)])] = value[static_cast<std::size_t>(k)];
        }
        std::vector<char> circuit = m.circuit ? circuitValues(*m.circuit, value) : std::vector<char>();
        for (int u = 1; u < m.numVars; ++u) {
            if (m.isUniversal(u)) continue;
            bool byBdd = false, haveBdd = !m.posBdd[u].isNull();
            if (haveBdd) {
                byBdd = bddValue(m.posBdd[u], value);
                if (bddValue(m.negBdd[u], value) == byBdd) {
                    if (why) *why = "the two BDDs of " + std::to_string(u) + " overlap or leave a gap";
                    return false;
                }
            }
            if (m.circuit && m.circuit->output[static_cast<std::size_t>(u)] != FunctionCircuit::kNone) {
                bool byCircuit = circuitLiteral(circuit, m.circuit->output[static_cast<std::size_t>(u)]);
                if (haveBdd && byCircuit != byBdd) {
                    if (why) *why = "BDD and circuit of " + std::to_string(u) + " differ";
                    return false;
                }
                byBdd = byCircuit;
            } else if (!haveBdd) {
                if (why) *why = "universal " + std::to_string(u) + " has no function";
                return false;
            }
            assigned[static_cast<std::size_t>(u)] = byBdd;
        }
        bool someFalse = false;
        for (const std::vector<int>& clause : f.clauses) {
            bool sat = false;
            for (int l : clause) {
                int e = l < 0 ? -l : l;
                int x = m.knowsExternal(e) ? m.extToInt[static_cast<std::size_t>(e)] : 0;
                if (x != 0 && (assigned[static_cast<std::size_t>(x)] != 0) == (l > 0)) sat = true;
            }
            if (!sat) {
                someFalse = true;
                break;
            }
        }
        if (!someFalse) {
            if (why) {
                std::ostringstream os;
                os << "every clause holds under existential assignment";
                for (int k = 1; k <= m.numUniv; ++k)
                    os << " " << (value[static_cast<std::size_t>(k)] ? "" : "-")
                       << m.intToExt[static_cast<std::size_t>(m.univVar[static_cast<std::size_t>(k)])];
                *why = os.str();
            }
            return false;
        }
    }
    return true;
}

// The matrix with every universal replaced by its circuit's function, as DIMACS CNF: the
// formula's variables keep their numbers, gate g of the circuit is variable base + g.
inline std::string matrixWithFunctions(const QBModel& m, const oracle::Formula& f) {
    const FunctionCircuit& c = *m.circuit;
    int base = std::max(f.numVars, m.maxExtVar) + 1;
    auto var = [&](std::uint32_t v) -> long {
        if (v == 0) return base + static_cast<long>(c.gates());  // the constant, forced false
        if (v <= static_cast<std::uint32_t>(c.numInputs))
            return m.intToExt[static_cast<std::size_t>(m.univVar[v])];
        return base + static_cast<long>(v) - c.numInputs - 1;
    };
    auto lit = [&](std::uint32_t l) { return (l & 1) ? -var(l >> 1) : var(l >> 1); };
    std::ostringstream body;
    long clauses = 0;
    auto clause = [&](std::initializer_list<long> ls) {
        for (long l : ls) body << l << ' ';
        body << "0\n";
        ++clauses;
    };
    clause({-var(0)});
    for (std::size_t g = 0; g < c.gates(); ++g) {
        long out = var(c.variableOf(g)), a = lit(c.left[g]), b = lit(c.right[g]);
        clause({-out, a});
        clause({-out, b});
        clause({out, -a, -b});
    }
    for (int u = 1; u < m.numVars; ++u) {
        std::uint32_t o = c.output[static_cast<std::size_t>(u)];
        if (o == FunctionCircuit::kNone) continue;
        long ue = m.intToExt[static_cast<std::size_t>(u)];
        clause({-ue, lit(o)});
        clause({ue, -lit(o)});
    }
    for (const std::vector<int>& cl : f.clauses) {
        for (int l : cl) body << l << ' ';
        body << "0\n";
        ++clauses;
    }
    return "p cnf " + std::to_string(base + static_cast<long>(c.gates())) + " " + std::to_string(clauses) + "\n" +
           body.str();
}

}  // namespace countermodel
