// Skolem functions extracted from DepQBF's proof traces, over random small formulas:
// for every true formula, the ASCII and the binary trace give the same certificate, and
// that certificate is consistent and satisfies every clause in every universal scenario
// (brute force, without Plumex's own checks). A planted wrong trace (an initial cube
// that misses a clause, or one flipped literal in a derived proof step) is never VALID.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "certificate/trace_extraction.h"
#include "certificate_oracle.h"
#include "pipeline/settings.h"
#include "tests/support/run.h"
#include "trace_text.h"

namespace {

using tracetext::kDepqbf;
using tracetext::spawnTo;
using tracetext::Steps;
using tracetext::writeTrace;

ModelResult extract(const std::string& trace, const std::string& formula, bool tables = true) {
    ExtractionOptions options;
    if (!tables) options.tableUniversals = -1;
    return extractFromTrace(trace, formula, options, steps::silent());
}

bool clauseTautological(const std::vector<int>& clause) {
    for (int l : clause)
        for (int k : clause)
            if (l == -k) return true;
    return false;
}

// The plumex verdict on a trace beside its formula: true when it says VALID.
bool plumexValid(const std::string& trace) {
    testsupport::RunResult r = testsupport::plumex({"-v", "2", trace});
    return r.status == 10 && r.out.find("Certificate is VALID") != std::string::npos;
}

}  // namespace

TEST(TraceProperty, FunctionsFromTracesHoldInEveryScenarioAndPlantedFaultsAreCaught) {
    if (!testsupport::fileExists(kDepqbf)) GTEST_SKIP() << "depqbf is missing: install the Debian package depqbf";
    std::string gen = testsupport::binary("plumex-logwriter");
    ASSERT_TRUE(testsupport::fileExists(gen)) << gen;
    scanSettings().verbosity = 0;
    testsupport::TempDir dir;
    std::mt19937 rng(16);
    int trueOnes = 0, plantedCubes = 0, plantedFlips = 0;
    for (int seed = 1; trueOnes < 120 && seed < 3000; ++seed) {
        int vars = 3 + static_cast<int>(rng() % 14);
        int clauses = vars / 3 + static_cast<int>(rng() % static_cast<unsigned>(vars));
        int blocks = 1 + static_cast<int>(rng() % 4);
        const char* first = rng() % 2 ? "a" : "e";
        int width = 2 + static_cast<int>(rng() % 3);
        std::string base = dir.file("f" + std::to_string(seed));
        std::string qdimacs = base + ".qdimacs";
        ASSERT_EQ(spawnTo({gen, "gen", "--vars", std::to_string(vars), "--clauses", std::to_string(clauses), "--blocks",
                           std::to_string(blocks), "--first", first, "--width", std::to_string(width), "--seed",
                           std::to_string(seed), "-o", qdimacs},
                          "/dev/null"),
                  0);
        oracle::Formula formula = oracle::parseQdimacs(qdimacs);
        std::string ascii = base + ".qrp", binary = dir.file("b" + std::to_string(seed) + ".qrp");
        int verdict = writeTrace(qdimacs, ascii, false);
        ASSERT_TRUE(verdict == 10 || verdict == 20) << verdict;
        if (verdict != 10) continue;
        ASSERT_EQ(writeTrace(qdimacs, binary, true), 10);
        ++trueOnes;
        SCOPED_TRACE("seed " + std::to_string(seed) + ": " + testsupport::readFile(qdimacs));

        oracle::Table tables[2];
        for (int mode = 0; mode < 2; ++mode) {
            ModelResult e = extract(mode ? binary : ascii, qdimacs);
            ASSERT_TRUE(e) << (mode ? "binary: " : "ascii: ") << e.message();
            tables[mode] = oracle::tabulate(**e);
            std::string why;
            EXPECT_TRUE(oracle::consistent(tables[mode]));
            EXPECT_TRUE(oracle::satisfies(tables[mode], **e, formula, &why)) << why;
        }
        EXPECT_TRUE(tables[0] == tables[1]) << "ASCII and binary traces give different functions";
        {
            ModelResult e = extract(ascii, qdimacs, false);
            ASSERT_TRUE(e) << e.message();
            EXPECT_TRUE(oracle::tabulate(**e) == tables[0]) << "built with BDDs, the functions differ";
        }

        // Planted faults, checked through the real binary every few formulas.
        if (trueOnes % 4 != 1) continue;
        Steps steps(testsupport::readFile(ascii));
        std::vector<std::vector<int>> nonTautological;
        for (const auto& c : formula.clauses)
            if (!clauseTautological(c)) nonTautological.push_back(c);
        for (std::size_t i = 0; i < steps.ids.size() && !nonTautological.empty(); ++i) {
            if (!steps.proof[i] || !steps.ants[i].empty() || steps.lits[i].empty()) continue;
            const std::vector<int>& clause = nonTautological[rng() % nonTautological.size()];
            Steps bad = steps;
            std::vector<long> kept;
            for (long l : bad.lits[i])
                if (std::find(clause.begin(), clause.end(), static_cast<int>(l)) == clause.end()) kept.push_back(l);
            bad.lits[i] = kept;
            std::string planted = dir.file("c" + std::to_string(seed) + ".qrp");
            testsupport::writeFile(planted, bad.text());
            testsupport::writeFile(dir.file("c" + std::to_string(seed) + ".qdimacs"), testsupport::readFile(qdimacs));
            EXPECT_FALSE(plumexValid(planted)) << "an initial cube missing a clause passes:\n" << bad.text();
            ++plantedCubes;
            break;
        }
        for (std::size_t i = 0; i < steps.ids.size(); ++i) {
            if (!steps.proof[i] || steps.ants[i].empty() || steps.lits[i].empty()) continue;
            Steps bad = steps;
            std::size_t k = rng() % bad.lits[i].size();
            bad.lits[i][k] = -bad.lits[i][k];
            std::string planted = dir.file("x" + std::to_string(seed) + ".qrp");
            testsupport::writeFile(planted, bad.text());
            testsupport::writeFile(dir.file("x" + std::to_string(seed) + ".qdimacs"), testsupport::readFile(qdimacs));
            EXPECT_FALSE(plumexValid(planted)) << "a flipped literal passes:\n" << bad.text();
            ++plantedFlips;
            break;
        }
    }
    EXPECT_GE(trueOnes, 100);
    EXPECT_GT(plantedCubes, 5);
    EXPECT_GT(plantedFlips, 5);
    std::printf("%d true formulas, %d planted cubes, %d planted flips\n", trueOnes, plantedCubes, plantedFlips);
}
