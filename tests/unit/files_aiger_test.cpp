// The AIGER export: the layout of both forms, and the circuit simulated on every universal
// scenario against the true sets of the certificate.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "certificate/reconstruct.h"
#include "files/aiger.h"
#include "tests/support/run.h"

namespace {

using testsupport::fileExists;
using testsupport::readFile;
using testsupport::TempDir;

// A circuit as read back by this test's own reader.
struct Aiger {
    unsigned m = 0, i = 0, l = 0, o = 0, a = 0;
    std::vector<unsigned> inputs, outputs;
    std::vector<std::array<unsigned, 3>> gates;  // lhs, rhs0, rhs1 in file order
    std::map<std::string, std::string> symbols;  // "i0" -> "10"
    std::string comment;

    // Value of a literal; inputs[k] takes bit k of the scenario.
    bool value(unsigned lit, unsigned scenario) const {
        std::map<unsigned, bool> memo;
        std::map<unsigned, size_t> gateOf;
        for (size_t k = 0; k < gates.size(); ++k) gateOf[gates[k][0] >> 1] = k;
        return eval(lit, scenario, memo, gateOf);
    }
    bool eval(unsigned lit, unsigned scenario, std::map<unsigned, bool>& memo,
              const std::map<unsigned, size_t>& gateOf) const {
        unsigned v = lit >> 1;
        bool r;
        auto known = memo.find(v);
        if (v == 0) {
            r = false;
        } else if (known != memo.end()) {
            r = known->second;
        } else {
            auto in = std::find(inputs.begin(), inputs.end(), 2 * v);
            if (in != inputs.end()) {
                r = (scenario >> (in - inputs.begin())) & 1;
            } else {
                const auto& g = gates.at(gateOf.at(v));
                r = eval(g[1], scenario, memo, gateOf) && eval(g[2], scenario, memo, gateOf);
            }
            memo[v] = r;
        }
        return r != static_cast<bool>(lit & 1);
    }
};

unsigned readDelta(const std::string& s, size_t& pos) {
    unsigned x = 0;
    for (int shift = 0;; shift += 7) {
        unsigned char b = static_cast<unsigned char>(s.at(pos++));
        x |= static_cast<unsigned>(b & 0x7f) << shift;
        if (!(b & 0x80)) return x;
    }
}

Aiger parse(const std::string& text) {
    Aiger g;
    std::istringstream in(text);
    std::string kind;
    in >> kind >> g.m >> g.i >> g.l >> g.o >> g.a;
    in.get();
    bool binary = kind == "aig";
    EXPECT_TRUE(binary || kind == "aag");
    for (unsigned k = 0; k < g.i; ++k) {
        unsigned lit = 2 * (k + 1);
        if (!binary) in >> lit;
        g.inputs.push_back(lit);
    }
    for (unsigned k = 0; k < g.o; ++k) {
        unsigned lit;
        in >> lit;
        g.outputs.push_back(lit);
    }
    if (binary) {
        in.get();  // the line end of the last output
        size_t pos = static_cast<size_t>(in.tellg());
        for (unsigned k = 0; k < g.a; ++k) {
            unsigned lhs = 2 * (g.i + 1 + k);
            unsigned d0 = readDelta(text, pos), d1 = readDelta(text, pos);
            g.gates.push_back({lhs, lhs - d0, lhs - d0 - d1});
        }
        in.seekg(static_cast<std::streamoff>(pos));
    } else {
        for (unsigned k = 0; k < g.a; ++k) {
            std::array<unsigned, 3> gate{};
            in >> gate[0] >> gate[1] >> gate[2];
            g.gates.push_back(gate);
        }
        in.get();
    }
    std::string line;
    while (std::getline(in, line)) {
        if (line == "c") {
            std::ostringstream rest;
            rest << in.rdbuf();
            g.comment = rest.str();
            break;
        }
        size_t space = line.find(' ');
        g.symbols[line.substr(0, space)] = line.substr(space + 1);
    }
    return g;
}

// Universals 30, 10, 20 in BDD order 1, 2, 3 (so the inputs sort to 10, 20, 30);
// existentials 5, 40, 7, 8, 9, 11 with the functions given per internal slot 4..9.
struct Sample {
    std::unique_ptr<QBModel> model;
    bdd::Bdd u10() const { return bdd::ithVar(2); }
    bdd::Bdd u20() const { return bdd::ithVar(3); }
    bdd::Bdd u30() const { return bdd::ithVar(1); }
};

Sample sample() {
    Sample s;
    s.model = newReplayModel("f.qdimacs", 10, {0, 1, 2, 3}, {0, 30, 10, 20, 5, 40, 7, 8, 9, 11}, 40);
    QBModel& m = *s.model;
    bdd::Bdd a = s.u10(), b = s.u20(), c = s.u30();
    bdd::Bdd shared = (a & b) | ((!a) & c);
    m.posBdd[4] = bdd::one();              // 5: constant true
    m.posBdd[5] = shared;                  // 40: a node with both children inner
    m.posBdd[6] = !shared;                 // 7: its complement (own nodes in the engine)
    m.posBdd[7] = a;                       // 8: one literal
    m.posBdd[8] = !b;                      // 9: a negated literal
    m.posBdd[9] = (a ^ b ^ c) & shared;    // 11: reuses the shared nodes
    m.negBdd[9] = !(a | b | c);            // don't-cares where neither holds: exported as false
    return s;
}

bool truth(const QBModel& m, const bdd::Bdd& f, const Aiger& g, unsigned scenario) {
    // Scenario bit k is input k, whose symbol names the universal's QDIMACS number.
    bdd::Bdd cube = bdd::one();
    for (unsigned k = 0; k < g.i; ++k) {
        int ext = std::stoi(g.symbols.at("i" + std::to_string(k)));
        int index = m.univIndex[m.extToInt[ext]];
        cube &= (scenario >> k) & 1 ? bdd::ithVar(index) : !bdd::ithVar(index);
    }
    bdd::Bdd r = f.isNull() ? bdd::zero() : bdd::cofactor(f, cube);
    EXPECT_TRUE(r.isConstant());
    return r.isOne();
}

// Every output, named by its symbol, computes the existential's true set.
void expectSimulatesTrueSets(const QBModel& m, const Aiger& g) {
    ASSERT_EQ(g.inputs.size(), g.i);
    for (unsigned k = 0; k < g.o; ++k) {
        int ext = std::stoi(g.symbols.at("o" + std::to_string(k)));
        ASSERT_TRUE(m.knowsExternal(ext));
        int v = m.extToInt[ext];
        for (unsigned s = 0; s < (1u << g.i); ++s)
            ASSERT_EQ(g.value(g.outputs[k], s), truth(m, m.posBdd[v], g, s))
                << "output of existential " << ext << " in scenario " << s;
    }
}

TEST(Aiger, AsciiKeepsTheQdimacsNumbersAndComputesTheTrueSets) {
    TempDir dir;
    Sample s = sample();
    ASSERT_EQ(writeAag(*s.model, dir.file("c.aag")).message(), "");
    Aiger g = parse(readFile(dir.file("c.aag")));
    EXPECT_EQ(g.l, 0u);
    EXPECT_EQ(g.i, 3u);
    EXPECT_EQ(g.o, 6u);
    EXPECT_EQ(g.inputs, (std::vector<unsigned>{20, 40, 60}));
    EXPECT_EQ(g.outputs, (std::vector<unsigned>{10, 14, 16, 18, 22, 80}));
    // One gate "2e f 1" per existential, then the helpers above the largest variable 40.
    unsigned helpers = g.a - g.o;
    EXPECT_EQ(g.m, 40 + helpers);
    for (unsigned k = 0; k < g.o; ++k) {
        EXPECT_EQ(g.gates[k][0], g.outputs[k]);
        EXPECT_EQ(g.gates[k][2], 1u);
    }
    EXPECT_EQ(g.gates[0][1], 1u);   // 5 is always true
    EXPECT_EQ(g.gates[2][1], 20u);  // 8 is input 10
    EXPECT_EQ(g.gates[3][1], 41u);  // 9 is not input 20
    for (unsigned k = g.o; k < g.a; ++k) {
        EXPECT_EQ(g.gates[k][0], 2 * (41 + (k - g.o)));
        EXPECT_LT(g.gates[k][1], g.gates[k][0]);
        EXPECT_LT(g.gates[k][2], g.gates[k][0]);
    }
    EXPECT_EQ(g.symbols.at("i0"), "10");
    EXPECT_EQ(g.symbols.at("i2"), "30");
    EXPECT_EQ(g.symbols.at("o0"), "5");
    EXPECT_EQ(g.symbols.at("o5"), "40");
    EXPECT_EQ(g.comment, "Plumex certificate of \"f.qdimacs\"\n");
    expectSimulatesTrueSets(*s.model, g);
}

TEST(Aiger, BinaryIsTheSameCircuitRenumbered) {
    TempDir dir;
    Sample s = sample();
    ASSERT_EQ(writeAag(*s.model, dir.file("c.aag")).message(), "");
    ASSERT_EQ(writeAig(*s.model, dir.file("c.aig")).message(), "");
    Aiger ascii = parse(readFile(dir.file("c.aag")));
    Aiger g = parse(readFile(dir.file("c.aig")));
    EXPECT_EQ(g.i, ascii.i);
    EXPECT_EQ(g.o, ascii.o);
    EXPECT_EQ(g.a, ascii.a);
    EXPECT_EQ(g.m, g.i + g.a);
    EXPECT_EQ(g.symbols, ascii.symbols);
    for (const auto& gate : g.gates) {
        EXPECT_GT(gate[0], gate[1]);
        EXPECT_GE(gate[1], gate[2]);
    }
    for (unsigned k = 0; k < g.o; ++k) EXPECT_EQ(g.outputs[k], 2 * (g.i + g.a - g.o + 1 + k));
    expectSimulatesTrueSets(*s.model, g);
}

// Random forests over five universals: every output matches its BDD in all 32 scenarios,
// and the gates stay within three per engine node of the forest.
TEST(Aiger, RandomForestsSimulateCorrectlyWithinThreeGatesPerNode) {
    std::mt19937 rng(7);
    for (int round = 0; round < 20; ++round) {
        TempDir dir;
        auto m = newReplayModel("r.qdimacs", 12, {0, 1, 2, 3, 4, 5}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, 11);
        for (int v = 6; v < 12; ++v) {
            bdd::Bdd f = bdd::zero();
            for (unsigned s = 0; s < 32; ++s) {
                if (rng() % 3) continue;
                bdd::Bdd minterm = bdd::one();
                for (int k = 1; k <= 5; ++k) minterm &= (s >> (k - 1)) & 1 ? bdd::ithVar(k) : !bdd::ithVar(k);
                f |= minterm;
            }
            if (v == 11) f = m->posBdd[6] | m->posBdd[7];  // shares with the others
            m->posBdd[v] = f;
        }
        std::size_t nodes = 0;
        bdd::visitNodes(std::vector<bdd::Bdd>(m->posBdd.begin() + 6, m->posBdd.begin() + 12),
                        [&nodes](const bdd::VisitedNode& n) {
                            nodes += n.var >= 0;
                            return 0;
                        });
        for (bool binary : {false, true}) {
            std::string path = dir.file(binary ? "r.aig" : "r.aag");
            ASSERT_TRUE(binary ? writeAig(*m, path) : writeAag(*m, path));
            Aiger g = parse(readFile(path));
            EXPECT_LE(g.a - g.o, 3 * nodes);
            expectSimulatesTrueSets(*m, g);
        }
    }
}

TEST(Aiger, PartialCertificateExportsOnlyTheKeptExistentials) {
    TempDir dir;
    Sample s = sample();
    s.model->inScope.assign(s.model->numVars, 0);
    s.model->inScope[5] = 1;  // 40
    s.model->inScope[7] = 1;  // 8
    ASSERT_TRUE(writeAag(*s.model, dir.file("p.aag")));
    Aiger g = parse(readFile(dir.file("p.aag")));
    EXPECT_EQ(g.i, 3u);
    EXPECT_EQ(g.outputs, (std::vector<unsigned>{16, 80}));
    EXPECT_EQ(g.symbols.count("o2"), 0u);
    expectSimulatesTrueSets(*s.model, g);
    ASSERT_TRUE(writeAig(*s.model, dir.file("p.aig")));
    Aiger b = parse(readFile(dir.file("p.aig")));
    EXPECT_EQ(b.o, 2u);
    expectSimulatesTrueSets(*s.model, b);
}

TEST(Aiger, WithoutUniversalsEveryOutputIsAConstant) {
    TempDir dir;
    auto m = newReplayModel("n.qdimacs", 3, {0}, {0, 4, 2}, 4);
    m->posBdd[1] = bdd::one();
    ASSERT_TRUE(writeAag(*m, dir.file("n.aag")));
    EXPECT_EQ(readFile(dir.file("n.aag")),
              "aag 4 0 0 2 2\n4\n8\n4 0 1\n8 1 1\no0 2\no1 4\nc\nPlumex certificate of \"n.qdimacs\"\n");
    ASSERT_TRUE(writeAig(*m, dir.file("n.aig")));
    EXPECT_EQ(readFile(dir.file("n.aig")),
              std::string("aig 2 0 0 2 2\n2\n4\n\x01\x01\x03\x00o0 2\no1 4\nc\nPlumex certificate of \"n.qdimacs\"\n", 68));
}

TEST(Aiger, AnUnwritableFileIsReportedAndNothingIsLeft) {
    TempDir dir;
    Sample s = sample();
    for (bool binary : {false, true}) {
        std::string path = dir.file(binary ? "no/such/c.aig" : "no/such/c.aag");
        std::string error = (binary ? writeAig(*s.model, path) : writeAag(*s.model, path)).message();
        EXPECT_NE(error.find("cannot create \"" + path + "\""), std::string::npos) << error;
        EXPECT_FALSE(fileExists(path));
    }
}

}  // namespace
