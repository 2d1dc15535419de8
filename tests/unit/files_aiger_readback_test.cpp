// Certificates read from Skolem circuits: Plumex's own AIGER exports of random
// certificates read back to the same functions, the conventions of certifying solvers'
// circuits, and circuits that do not fit their formula.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "certificate/circuit.h"
#include "certificate/reconstruct.h"
#include "files/aiger.h"
#include "tests/support/run.h"

namespace {

using testsupport::TempDir;
using testsupport::writeFile;

// The truth table of every existential's true set and false set, by external number,
// over the universals taken in increasing external number (bit k: k-th universal).
using Tables = std::map<int, std::pair<std::vector<bool>, std::vector<bool>>>;

Tables tablesOf(const QBModel& m) {
    std::vector<std::pair<int, int>> univ;  // external number, BDD index
    for (int k = 1; k <= m.numUniv; ++k) univ.emplace_back(m.intToExt[m.univVar[k]], k);
    std::sort(univ.begin(), univ.end());
    Tables t;
    for (int v = 1; v < m.numVars; ++v) {
        if (m.isUniversal(v)) continue;
        auto& [pos, neg] = t[m.intToExt[v]];
        for (unsigned s = 0; s < (1u << univ.size()); ++s) {
            std::vector<bdd::Bdd> lits;
            for (std::size_t k = 0; k < univ.size(); ++k) {
                bdd::Bdd x = bdd::ithVar(univ[k].second);
                lits.push_back((s >> k) & 1 ? x : !x);
            }
            bdd::Bdd cube = bdd::conjunction(lits);
            pos.push_back(bdd::cofactor(m.posBdd[v], cube).isOne());
            neg.push_back(bdd::cofactor(m.negBdd[v], cube).isOne());
        }
    }
    return t;
}

// Prefix e 1 | a 2 3 | e 4 5 | a 6 7 | e 8, with random functions of the universals
// (universals 6 and 7 come first in the engine's order, to differ from the prefix).
std::unique_ptr<QBModel> randomModel(std::mt19937& rng) {
    std::vector<int> intToExt = {0, 1, 4, 5, 8, 6, 7, 2, 3};
    auto m = newReplayModel("f.qdimacs", 9, {0, 5, 6, 7, 8}, intToExt, 8);
    std::vector<bdd::Bdd> pool = {bdd::one(), bdd::zero()};
    for (int k = 1; k <= 4; ++k) pool.push_back(bdd::ithVar(k));
    for (int step = 0; step < 12; ++step) {
        const bdd::Bdd& a = pool[rng() % pool.size()];
        const bdd::Bdd& b = pool[rng() % pool.size()];
        switch (rng() % 4) {
            case 0: pool.push_back(a & b); break;
            case 1: pool.push_back(a | b); break;
            case 2: pool.push_back(a ^ b); break;
            default: pool.push_back(!a); break;
        }
    }
    for (int x = 1; x <= 4; ++x) {
        bdd::Bdd f = pool[rng() % pool.size()];
        m->negBdd[x] = !f;
        m->posBdd[x] = f;
    }
    return m;
}

const char* const kFormula = "p cnf 8 0\ne 1 0\na 2 3 0\ne 4 5 0\na 6 7 0\ne 8 0\n";

TEST(CircuitCertificate, OwnExportsReadBackToTheSameFunctions) {
    TempDir dir;
    std::string formula = dir.file("f.qdimacs");
    writeFile(formula, kFormula);
    std::mt19937 rng(7);
    for (int round = 0; round < 40; ++round) {
        Tables expected;
        {
            auto m = randomModel(rng);
            ASSERT_EQ(writeAag(*m, dir.file("c.aag")).message(), "");
            ASSERT_EQ(writeAig(*m, dir.file("c.aig")).message(), "");
            expected = tablesOf(*m);
        }
        for (const char* name : {"c.aag", "c.aig"}) {
            ModelResult read = certificateFromCircuit(dir.file(name), formula);
            ASSERT_TRUE(read) << name << ": " << read.message();
            EXPECT_EQ(tablesOf(**read), expected) << name << " round " << round;
        }
    }
}

struct Case {
    const char* what;
    const char* circuit;
    const char* error;  // nullptr: read
};

TEST(CircuitCertificate, SolverConventionsAndMisfits) {
    TempDir dir;
    std::string formula = dir.file("f.qdimacs");
    // Universals 2 and 3, existentials 1 and 4; variable 5 is free (outermost existential).
    writeFile(formula, "c a formula\np cnf 5 2\na 3 2 0\ne 4 1 0\n4 1 0\n-4 2 0\n");
    const Case cases[] = {
        // Inputs in number order, named outputs, a dead gate, the constant "result" output.
        {"solver layout", "aag 9 2 0 3 3\n2\n4\n8\n1\n10\n6 5 3\n8 2 4\n10 3 5\n"
                          "i0 2\ni1 3\no0 4\no1 result\no2 1\nc\nmade by hand\n", nullptr},
        // No symbols: the variable's own index names it.
        {"index-based", "aag 4 2 0 1 1\n4\n6\n8\n8 4 7\n", nullptr},
        {"gates only", "aag 5 0 0 0 2\n2 1 1\n8 0 0\n", nullptr},
        {"carriage returns", "aag 4 2 0 1 1\r\n4\r\n6\r\n8\r\n8 4 7\r\n", nullptr},
        {"latch", "aag 3 1 1 1 0\n2\n4 2\n4\n", "a certificate has no latches"},
        {"output names a universal", "aag 1 1 0 1 0\n2\n2\ni0 2\no0 3\n", "names no existential"},
        {"output names nothing", "aag 1 1 0 1 0\n2\n2\ni0 2\no0 x\n", "names no existential"},
        {"input names an existential", "aag 1 1 0 1 0\n2\n2\ni0 4\no0 1\n", "names no universal"},
        {"two outputs, one existential", "aag 1 1 0 2 0\n2\n2\n3\ni0 2\no0 4\no1 4\n", "two outputs"},
        {"cycle", "aag 3 1 0 1 2\n2\n4\n4 2 6\n6 4 2\ni0 2\no0 4\n", "cycle"},
        {"undefined variable", "aag 3 1 0 1 1\n2\n4\n4 2 6\ni0 2\no0 4\n", "undefined variable"},
        {"cut binary", "aig 3 1 0 1 2\n6\n\x02\x01\x02", "bad binary encoding"},
        {"no header", "aiger 1 0 0 0 0\n", "no \"aag\" or \"aig\" header"},
        {"counts beyond the file", "aag 1000000 900000 0 0 0\n2\n", "too large"},
        {"variables beyond the file", "aag 111111115 2 0 1 0\n4\n6\n10\n", "too large"},
        {"binary inputs beyond the formula", "aig 9 9 0 0 0\n", "too large"},
    };
    for (const Case& c : cases) {
        writeFile(dir.file("c.aag"), c.circuit);
        ModelResult m = certificateFromCircuit(dir.file("c.aag"), formula);
        if (!c.error) {
            ASSERT_TRUE(m) << c.what << ": " << m.message();
            EXPECT_EQ((*m)->numUniv, 2) << c.what;
            EXPECT_EQ((*m)->numVars, 6) << c.what;
            continue;
        }
        EXPECT_NE(m.message().find(c.error), std::string::npos) << c.what << ": " << m.message();
    }

    // The solver layout's functions: 4 = 2 & 3 (gate 8), 1 = neither 2 nor 3 (gate 10).
    // Each certificate goes before the next is built: one manager at a time.
    auto tables = [&](const char* circuit) {
        writeFile(dir.file("c.aag"), circuit);
        ModelResult m = certificateFromCircuit(dir.file("c.aag"), formula);
        EXPECT_TRUE(m) << m.message();
        return m ? tablesOf(**m) : Tables();
    };
    Tables t = tables(cases[0].circuit);
    EXPECT_EQ(t[4].first, (std::vector<bool>{false, false, false, true}));
    EXPECT_EQ(t[1].first, (std::vector<bool>{true, false, false, false}));
    EXPECT_EQ(t[5].first, (std::vector<bool>{false, false, false, false}));  // free, no function
    EXPECT_EQ(t[5].second, t[5].first);
    // Gates only: 1 true, 4 false.
    t = tables(cases[2].circuit);
    EXPECT_EQ(t[1].first, (std::vector<bool>{true, true, true, true}));
    EXPECT_EQ(t[4].second, (std::vector<bool>{true, true, true, true}));

    std::string error = certificateFromCircuit(dir.file("c.aag"), dir.file("none.qdimacs")).message();
    EXPECT_NE(error.find("cannot open"), std::string::npos) << error;
}

}  // namespace
