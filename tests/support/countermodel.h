// Countermodels built by hand for the tests of their check. The formula's variables are
// numbered as the certificate builders number them (free variables first, then the
// prefix in order); its existentials are the BDD variables 1, 2, ... in that order, and
// every universal starts without a function.
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "certificate/reconstruct.h"
#include "inputs/qdimacs_reader.h"

namespace testsupport {

struct Qbf {
    int numVars = 0;  // V of the problem line
    std::vector<std::pair<char, std::vector<int>>> blocks;
    std::vector<std::vector<int>> clauses;

    int maxVar() const {
        int m = numVars;
        for (const auto& [kind, vars] : blocks)
            for (int v : vars) m = std::max(m, v);
        return m;
    }
    bool quantified(int v) const {
        for (const auto& [kind, vars] : blocks)
            if (std::find(vars.begin(), vars.end(), v) != vars.end()) return true;
        return false;
    }
    // 'a', 'e', or 'e' for a free variable.
    char kindOf(int v) const {
        for (const auto& [kind, vars] : blocks)
            if (std::find(vars.begin(), vars.end(), v) != vars.end()) return kind;
        return 'e';
    }
    // External numbers in certificate order (slot 0 unused): free variables, then the prefix.
    std::vector<int> order() const {
        std::vector<int> o{0};
        for (int v = 1; v <= numVars; ++v)
            if (!quantified(v)) o.push_back(v);
        for (const auto& [kind, vars] : blocks) o.insert(o.end(), vars.begin(), vars.end());
        return o;
    }
    std::string text() const {
        std::string s = "p cnf " + std::to_string(numVars) + " " + std::to_string(clauses.size()) + "\n";
        for (const auto& [kind, vars] : blocks) {
            s += kind;
            for (int v : vars) s += " " + std::to_string(v);
            s += " 0\n";
        }
        for (const auto& c : clauses) {
            for (int l : c) s += std::to_string(l) + " ";
            s += "0\n";
        }
        return s;
    }
    // The prefix as the formula reader hands it.
    qdimacs::Prefix prefix() const {
        qdimacs::Prefix p;
        p.block.assign(static_cast<std::size_t>(maxVar()) + 1, 0);
        p.blockKind.assign(1, 0);
        for (const auto& [kind, vars] : blocks) {
            p.blockKind.push_back(kind);
            for (int v : vars) p.block[v] = static_cast<int>(p.blockKind.size()) - 1;
        }
        return p;
    }
};

// The countermodel of f with no function yet (posBdd and negBdd null for every universal).
inline std::unique_ptr<QBModel> emptyCountermodel(const Qbf& f, const std::string& path = "f.qdimacs") {
    std::vector<int> order = f.order();
    std::vector<int> inputs{0};
    for (std::size_t i = 1; i < order.size(); ++i)
        if (f.kindOf(order[i]) == 'e') inputs.push_back(static_cast<int>(i));
    // A small input keeps the engine's caches small: tests build thousands of these.
    auto model = newReplayModel(path, static_cast<int>(order.size()), inputs, order, f.maxVar(), 1024);
    model->polarity = Polarity::False;
    for (std::size_t i = 1; i < order.size(); ++i)
        if (model->univIndex[i] == 0) {
            model->posBdd[i] = bdd::Bdd();
            model->negBdd[i] = bdd::Bdd();
        }
    return model;
}

}  // namespace testsupport
