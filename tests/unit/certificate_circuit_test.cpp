// Circuits read as certificates and countermodels: which kind a circuit is, what the
// countermodel's tables hold, its and-inverter graph, the node budget, and a certificate
// that needs reordering (CADET's bug10rr), checked against a simulation of its circuit.
#include "certificate/circuit.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "inputs/aiger_reader.h"
#include "tests/support/run.h"

namespace {

using testsupport::TempDir;
using testsupport::writeFile;

// The value of f where the BDD variables take `values` (index 1..n; slot 0 unused).
bool valueAt(const bdd::Bdd& f, const std::vector<bool>& values) {
    std::vector<bdd::Bdd> literals;
    for (std::size_t k = 1; k < values.size(); ++k) {
        bdd::Bdd x = bdd::ithVar(static_cast<int>(k));
        literals.push_back(values[k] ? x : !x);
    }
    return bdd::cofactor(f, bdd::conjunction(literals)).isOne();
}

// The value of a literal of the model's and-inverter graph under the same assignment.
bool circuitValue(const FunctionCircuit& c, std::uint32_t literal, const std::vector<bool>& values) {
    std::vector<char> v(static_cast<std::size_t>(c.numInputs) + 1 + c.gates(), 0);
    for (int k = 1; k <= c.numInputs; ++k) v[k] = values[k];
    auto of = [&v](std::uint32_t l) { return static_cast<bool>(v[l >> 1] ^ (l & 1)); };
    for (std::size_t g = 0; g < c.gates(); ++g) v[c.variableOf(g)] = of(c.left[g]) && of(c.right[g]);
    return of(literal);
}

// Free 6, then e 1 | a 2 | e 3 4 | a 5: a false formula (5 must differ from 3 and 4
// together, 2 from 1).
const char kFalse[] = "p cnf 6 4\ne 1 0\na 2 0\ne 3 4 0\na 5 0\n1 2 0\n-1 -2 0\n3 4 5 0\n-3 -4 -5 0\n";

TEST(CircuitCountermodel, InputsAreExistentialsAndOutputsUniversals) {
    TempDir dir;
    writeFile(dir.file("f.qdimacs"), kFalse);
    // u2 = e1; u5 = e3 & e4 (the AIGER variables are numbered apart from the formula's).
    writeFile(dir.file("c.aag"), "aag 7 3 0 2 1\n2\n4\n6\n2\n14\n14 4 6\ni0 1\ni1 3\ni2 4\no0 2\no1 5\n");
    ModelResult read = certificateFromCircuit(dir.file("c.aag"), dir.file("f.qdimacs"), CircuitOptions{4});
    ASSERT_TRUE(read) << read.message();
    const QBModel& m = **read;
    EXPECT_TRUE(m.countermodel());
    EXPECT_STREQ(m.inputQuantifier(), "existential");
    // The BDD variables are the existentials, free ones first, then in prefix order.
    ASSERT_EQ(m.numUniv, 4);
    std::vector<int> inputs;
    for (int k = 1; k <= m.numUniv; ++k) inputs.push_back(m.intToExt[m.univVar[k]]);
    EXPECT_EQ(inputs, (std::vector<int>{6, 1, 3, 4}));
    ASSERT_EQ(m.numExist, 2);
    EXPECT_EQ(m.intToExt[m.existVar[1]], 2);
    EXPECT_EQ(m.intToExt[m.existVar[2]], 5);
    ASSERT_TRUE(m.circuit);
    EXPECT_TRUE(m.noBdds.empty());
    int u2 = m.extToInt[2], u5 = m.extToInt[5];
    for (unsigned bits = 0; bits < 16; ++bits) {
        std::vector<bool> values(5);
        for (int k = 1; k <= 4; ++k) values[k] = (bits >> (k - 1)) & 1;
        bool e1 = values[2], e3 = values[3], e4 = values[4];
        EXPECT_EQ(valueAt(m.posBdd[u2], values), e1) << bits;
        EXPECT_EQ(valueAt(m.negBdd[u2], values), !e1) << bits;
        EXPECT_EQ(valueAt(m.posBdd[u5], values), e3 && e4) << bits;
        EXPECT_EQ(circuitValue(*m.circuit, m.circuit->output[u2], values), e1) << bits;
        EXPECT_EQ(circuitValue(*m.circuit, m.circuit->output[u5], values), e3 && e4) << bits;
    }
    // Only the universals have functions in the graph.
    for (int v = 1; v < m.numVars; ++v)
        EXPECT_EQ(m.circuit->output[v] == FunctionCircuit::kNone, v != u2 && v != u5) << v;
}

TEST(CircuitCountermodel, OverItsNodeBudgetACountermodelKeepsItsCircuitAlone) {
    TempDir dir;
    writeFile(dir.file("f.qdimacs"), kFalse);
    writeFile(dir.file("c.aag"), "aag 7 3 0 2 1\n2\n4\n6\n2\n14\n14 4 6\ni0 1\ni1 3\ni2 4\no0 2\no1 5\n");
    CircuitOptions options;
    options.countermodelNodes = 1;
    ModelResult read = certificateFromCircuit(dir.file("c.aag"), dir.file("f.qdimacs"), options);
    ASSERT_TRUE(read) << read.message();
    const QBModel& m = **read;
    EXPECT_EQ(m.noBdds, "the BDDs of its functions exceed 1 nodes");
    for (int u : {2, 5}) {
        EXPECT_TRUE(m.posBdd[m.extToInt[u]].isNull()) << u;
        EXPECT_TRUE(m.negBdd[m.extToInt[u]].isNull()) << u;
    }
    ASSERT_TRUE(m.circuit);
    EXPECT_NE(m.circuit->output[m.extToInt[5]], FunctionCircuit::kNone);
}

TEST(CircuitCountermodel, CircuitsOfBothKindsAreRefused) {
    TempDir dir;
    writeFile(dir.file("f.qdimacs"), kFalse);
    struct Case {
        const char* circuit;
        const char* message;
    };
    const Case cases[] = {
        // Inputs of both kinds.
        {"aag 2 2 0 1 0\n2\n4\n2\ni0 1\ni1 2\no0 5\n",
         "input 0 (\"1\") names no universal of the formula: the circuit mixes a countermodel's variables "
         "(input 0 names the existential 1) with a certificate's (input 1 names the universal 2); a "
         "certificate's inputs are universals and its outputs existentials, a countermodel's the other way round"},
        // An output names an existential, another a universal.
        {"aag 2 2 0 2 0\n2\n4\n2\n3\ni0 2\ni1 5\no0 3\no1 5\n",
         "output 1 (\"5\") names no existential of the formula: the circuit mixes a countermodel's variables "
         "(output 1 names the universal 5) with a certificate's (input 0 names the universal 2)"},
        // A countermodel whose output names nothing of the formula.
        {"aag 1 1 0 2 0\n2\n2\n3\ni0 1\no0 2\no1 x\n", "output 1 (\"x\") names no universal of the formula"},
        {"aag 1 1 0 2 0\n2\n2\n3\ni0 1\no0 2\no1 2\n", "two outputs name the universal 2"},
    };
    for (const Case& c : cases) {
        writeFile(dir.file("c.aag"), c.circuit);
        ModelResult m = certificateFromCircuit(dir.file("c.aag"), dir.file("f.qdimacs"));
        ASSERT_FALSE(m) << c.circuit;
        EXPECT_NE(m.message().find(c.message), std::string::npos) << m.message();
    }
}

// bug10rr: 128 universals, 1,033 outputs; without a good order and reordering its BDDs
// do not fit in memory. Read with sifting, every function agrees with the circuit on
// random scenarios, and the universals keep their prefix positions as BDD indices.
TEST(CircuitCertificate, ACertificateThatNeedsReorderingIsReadRight) {
    std::string circuit = testsupport::dataDir() + "/cadet-certs/bug10rr.aag";
    std::string formula = testsupport::cadetDir() + "/bug10rr.qdimacs";
    ModelResult read = certificateFromCircuit(circuit, formula, CircuitOptions{14});
    ASSERT_TRUE(read) << read.message();
    const QBModel& m = **read;
    EXPECT_FALSE(m.countermodel());
    ASSERT_EQ(m.numUniv, 128);
    for (int k = 1; k <= 128; ++k) EXPECT_EQ(m.intToExt[m.univVar[k]], k);
    bool moved = false;
    for (int k = 1; k <= 128; ++k) moved = moved || m.manager->levelOf(k) != k;
    EXPECT_TRUE(moved) << "the static order or reordering left the prefix order";

    Result<aiger::Circuit> parsed = aiger::readCircuit(circuit, 1161);
    ASSERT_TRUE(parsed) << parsed.message();
    const aiger::Circuit& c = *parsed;
    std::mt19937 rng(3);
    for (int round = 0; round < 20; ++round) {
        std::vector<bool> values(129);
        for (int k = 1; k <= 128; ++k) values[k] = rng() & 1;
        std::vector<int> known(c.maxVar + 1, -1);
        known[0] = 0;
        for (std::size_t k = 0; k < c.inputs.size(); ++k) known[c.inputs[k] >> 1] = values[std::stoi(c.inputName[k])];
        std::function<bool(unsigned)> lit = [&](unsigned l) -> bool {
            unsigned v = l >> 1;
            if (known[v] < 0) {
                unsigned g = c.gateOfVar[v];
                known[v] = lit(c.rhs0[g]) && lit(c.rhs1[g]);
            }
            return static_cast<bool>(known[v]) != static_cast<bool>(l & 1);
        };
        for (std::size_t k = 0; k < c.outputs.size(); ++k) {
            if (c.outputName[k] == "result") continue;
            int x = m.extToInt[std::stoi(c.outputName[k])];
            ASSERT_EQ(valueAt(m.posBdd[x], values), lit(c.outputs[k])) << "output " << k << " round " << round;
        }
    }
}

}  // namespace
