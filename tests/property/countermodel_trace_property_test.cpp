// Countermodels extracted from DepQBF's proof traces of random false formulas: the ASCII
// and the binary trace give the same functions, built as truth tables, as BDDs and as a
// circuit alike; every countermodel refutes its formula by brute force (under every
// existential assignment, with the universals set by their functions, a clause is false)
// and its functions read only earlier existentials. Planted faults: a flipped literal in
// a derived step is refused; a literal dropped from a step that others resolve is
// refused or still gives a countermodel that refutes the formula (the proof it leaves is
// a proof); none ever gives one that does not.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "certificate/trace_extraction.h"
#include "countermodel_oracle.h"
#include "tests/support/run.h"
#include "trace_text.h"

namespace {

ModelResult extract(const std::string& trace, const std::string& formula, int tableInputs = 20, long nodes = 8000000) {
    ExtractionOptions options;
    options.countermodels = true;
    options.tableUniversals = tableInputs;
    options.countermodelNodes = nodes;
    return extractFromTrace(trace, formula, options, steps::silent());
}

// The universals' values under every existential assignment, from the BDDs (or, where
// there are none, the circuit).
std::vector<std::string> tabulate(const QBModel& m) {
    std::vector<std::string> rows;
    std::vector<char> value(static_cast<std::size_t>(m.numUniv) + 1, 0);
    for (std::uint64_t a = 0; a < (std::uint64_t(1) << m.numUniv); ++a) {
        for (int k = 1; k <= m.numUniv; ++k) value[static_cast<std::size_t>(k)] = (a >> (k - 1)) & 1;
        std::vector<char> circuit = m.circuit ? countermodel::circuitValues(*m.circuit, value) : std::vector<char>();
        std::string row;
        for (int u = 1; u < m.numVars; ++u) {
            if (m.isUniversal(u)) continue;
            bool v = m.posBdd[u].isNull()
                         ? countermodel::circuitLiteral(circuit, m.circuit->output[static_cast<std::size_t>(u)])
                         : countermodel::bddValue(m.posBdd[u], value);
            row += v ? '1' : '0';
        }
        rows.push_back(row);
    }
    return rows;
}

}  // namespace

TEST(CountermodelTraceProperty, CountermodelsFromFalseTracesRefuteTheirFormulaAndPlantedFaultsNeverPass) {
    if (!testsupport::fileExists(tracetext::kDepqbf)) GTEST_SKIP() << "depqbf is missing: install the Debian package depqbf";
    std::string gen = testsupport::binary("plumex-logwriter");
    ASSERT_TRUE(testsupport::fileExists(gen)) << gen;
    testsupport::TempDir dir;
    std::mt19937 rng(24);
    int falseOnes = 0, withUniversals = 0, withoutBdds = 0, flips = 0, drops = 0, dropsRefused = 0;
    for (int seed = 1; falseOnes < 150 && seed < 4000; ++seed) {
        int vars = 3 + static_cast<int>(rng() % 14);
        int clauses = vars / 2 + static_cast<int>(rng() % static_cast<unsigned>(2 * vars));
        int blocks = 1 + static_cast<int>(rng() % 4);
        const char* first = rng() % 2 ? "a" : "e";
        int width = 2 + static_cast<int>(rng() % 3);
        std::string base = dir.file("f" + std::to_string(seed));
        std::string qdimacs = base + ".qdimacs";
        ASSERT_EQ(tracetext::spawnTo({gen, "gen", "--vars", std::to_string(vars), "--clauses", std::to_string(clauses),
                                      "--blocks", std::to_string(blocks), "--first", first, "--width",
                                      std::to_string(width), "--seed", std::to_string(seed), "-o", qdimacs},
                                     "/dev/null"),
                  0);
        oracle::Formula formula = oracle::parseQdimacs(qdimacs);
        std::string ascii = base + ".qrp", binary = dir.file("b" + std::to_string(seed) + ".qrp");
        int verdict = tracetext::writeTrace(qdimacs, ascii, false);
        ASSERT_TRUE(verdict == 10 || verdict == 20) << verdict;
        if (verdict != 20) continue;
        ASSERT_EQ(tracetext::writeTrace(qdimacs, binary, true), 20);
        ++falseOnes;
        SCOPED_TRACE("seed " + std::to_string(seed) + ": " + testsupport::readFile(qdimacs));

        std::vector<std::string> tables[4];
        for (int mode = 0; mode < 4; ++mode) {
            // ASCII and binary with tables, ASCII with BDDs, ASCII with no room for BDDs.
            ModelResult e = extract(mode == 1 ? binary : ascii, qdimacs, mode >= 2 ? -1 : 20, mode == 3 ? 0 : 8000000);
            ASSERT_TRUE(e) << "mode " << mode << ": " << e.message();
            const QBModel& m = **e;
            EXPECT_EQ(m.polarity, Polarity::False);
            ASSERT_TRUE(m.circuit);
            if (mode != 3) {
                EXPECT_TRUE(m.noBdds.empty()) << m.noBdds;
            } else if (m.noBdds.empty()) {  // only constant functions fit in no node
                for (int u = 1; u < m.numVars; ++u)
                    EXPECT_TRUE(m.isUniversal(u) || m.posBdd[u].isConstant()) << u;
            } else {
                for (int u = 1; u < m.numVars; ++u) EXPECT_TRUE(m.posBdd[u].isNull() || m.isUniversal(u)) << u;
                ++withoutBdds;
            }
            std::string why;
            EXPECT_TRUE(countermodel::refutes(m, formula, &why)) << "mode " << mode << ": " << why;
            EXPECT_TRUE(countermodel::readsOnlyEarlier(m, formula, &why)) << "mode " << mode << ": " << why;
            tables[mode] = tabulate(m);
            if (mode == 0 && m.numExist > 0) ++withUniversals;
        }
        EXPECT_EQ(tables[0], tables[1]) << "ASCII and binary traces give different functions";
        EXPECT_EQ(tables[0], tables[2]) << "tables and BDDs give different functions";
        EXPECT_EQ(tables[0], tables[3]) << "BDDs and the circuit give different functions";

        // Planted faults in the ASCII trace.
        tracetext::Steps steps(testsupport::readFile(ascii));
        std::string planted = dir.file("x" + std::to_string(seed) + ".qrp");
        for (std::size_t i = 0; i < steps.ids.size(); ++i) {
            if (!steps.proof[i] || steps.ants[i].empty() || steps.lits[i].empty()) continue;
            tracetext::Steps bad = steps;
            std::size_t k = rng() % bad.lits[i].size();
            bad.lits[i][k] = -bad.lits[i][k];
            testsupport::writeFile(planted, bad.text());
            EXPECT_FALSE(extract(planted, qdimacs)) << "a flipped literal passes:\n" << bad.text();
            ++flips;
            break;
        }
        // The antecedents that the proof resolves, derived ones first (an input clause
        // that loses a literal is no input clause).
        std::vector<std::size_t> resolved[2];
        for (std::size_t i = 0; i < steps.ids.size(); ++i) {
            if (!steps.proof[i]) continue;
            for (long id : steps.ants[i]) {
                std::size_t a = steps.indexOf(id);
                if (a < steps.ids.size() && !steps.lits[a].empty()) resolved[steps.ants[a].empty() ? 1 : 0].push_back(a);
            }
        }
        for (const std::vector<std::size_t>& candidates : resolved) {
            if (candidates.empty()) continue;
            std::size_t a = candidates[rng() % candidates.size()];
            tracetext::Steps bad = steps;
            bad.lits[a].erase(bad.lits[a].begin() + static_cast<long>(rng() % bad.lits[a].size()));
            testsupport::writeFile(planted, bad.text());
            ModelResult e = extract(planted, qdimacs);
            ++drops;
            if (!e) {
                ++dropsRefused;
            } else {
                std::string why;
                EXPECT_TRUE(countermodel::refutes(**e, formula, &why) && countermodel::readsOnlyEarlier(**e, formula, &why))
                    << "a dropped literal gives a countermodel that does not hold (" << why << "):\n"
                    << bad.text();
            }
            break;
        }
    }
    EXPECT_GE(falseOnes, 120);
    EXPECT_GE(withUniversals, 60);
    EXPECT_GT(flips, 40);
    EXPECT_GT(dropsRefused, drops / 2);
    EXPECT_GT(withoutBdds, 30);
    std::printf("%d false formulas (%d with universal functions, %d too large for no BDD node), %d flips, %d drops "
                "(%d refused)\n",
                falseOnes, withUniversals, withoutBdds, flips, drops, dropsRefused);
}
