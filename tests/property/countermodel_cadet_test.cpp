// Real false formulas through DepQBF's proof traces: every formula of the CADET test set
// that DepQBF, with the tracing options, refutes within 10 seconds gives a countermodel
// from its ASCII and from its binary trace, and the countermodel holds: the matrix with
// every universal replaced by its function's circuit is unsatisfiable (CaDiCaL, the SAT
// solver, decides), every function reads only earlier existentials, and its BDDs, where
// it has them, agree with the circuit. The set includes a formula that is one empty
// clause and formulas without a prefix. The binary, given the same trace, certifies the
// countermodel: exit status 11, "Countermodel is VALID".
#include <gtest/gtest.h>
#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "certificate/trace_extraction.h"
#include "countermodel_oracle.h"
#include "tests/support/run.h"
#include "trace_text.h"

namespace {

const char* const kCadical = "/usr/bin/cadical";

// The set's formulas, less those every listed result calls true; the sanitizer build's
// sample keeps the formula of one empty clause.
std::vector<std::string> formulas() {
    return testsupport::sanitizerSample(testsupport::cadetFormulasBut(10), {"false.qdimacs"});
}

// The trace of DepQBF within 10 seconds; its exit status (10 true, 20 false, 124 timeout).
int writeTrace(const std::string& formula, const std::string& trace, bool binary) {
    return testsupport::depqbfTrace(formula, trace, binary, 10);
}

// What is wrong with the countermodel, or "".
std::string fault(const QBModel& m, const oracle::Formula& f, const std::string& cnf) {
    if (m.polarity != Polarity::False) return "not a countermodel";
    if (!m.circuit) return "no circuit";
    std::string why;
    if (!countermodel::readsOnlyEarlier(m, f, &why)) return why;
    // BDDs and circuit agree under random existential assignments.
    std::mt19937 rng(7);
    std::vector<char> value(static_cast<std::size_t>(m.numUniv) + 1, 0);
    for (int round = 0; round < 64 && m.noBdds.empty(); ++round) {
        for (int k = 1; k <= m.numUniv; ++k) value[static_cast<std::size_t>(k)] = rng() & 1;
        std::vector<char> c = countermodel::circuitValues(*m.circuit, value);
        for (int u = 1; u < m.numVars; ++u) {
            if (m.isUniversal(u) || m.circuit->output[static_cast<std::size_t>(u)] == FunctionCircuit::kNone) continue;
            if (countermodel::bddValue(m.posBdd[u], value) !=
                countermodel::circuitLiteral(c, m.circuit->output[static_cast<std::size_t>(u)]))
                return "BDD and circuit of " + std::to_string(u) + " differ";
        }
    }
    testsupport::writeFile(cnf, countermodel::matrixWithFunctions(m, f));
    int status = testsupport::run({kCadical, "-q", cnf}).status;
    if (status != 20) return "the matrix with the functions is not unsatisfiable (CaDiCaL: " + std::to_string(status) + ")";
    return "";
}

}  // namespace

TEST(CountermodelCadet, EveryFormulaDepqbfRefutesGetsACountermodelThatHolds) {
    if (!testsupport::fileExists(tracetext::kDepqbf)) GTEST_SKIP() << "depqbf is missing: install the Debian package depqbf";
    if (!testsupport::fileExists(kCadical)) GTEST_SKIP() << "cadical is missing: install the Debian package cadical";
    testsupport::TempDir dir;
    int refuted = 0, held = 0, emptyClause = 0, noPrefix = 0;
    std::vector<std::string> failures;
    for (const std::string& name : formulas()) {
        std::string base = name;
        for (char& c : base)
            if (c == '.' || c == '=' || c == ' ') c = '_';
        std::string formula = dir.file(base + ".qdimacs");
        testsupport::writeFile(formula, testsupport::readFile(testsupport::cadetDir() + "/" + name));
        oracle::Formula f = oracle::parseQdimacs(formula);
        for (bool binary : {false, true}) {
            std::string trace = dir.file(base + (binary ? "-b" : "-a") + ".qrp");
            int status = writeTrace(formula, trace, binary);
            if (status != 20) {
                std::remove(trace.c_str());
                break;  // true, or not refuted in time (then in neither mode)
            }
            ++refuted;
            ExtractionOptions options;
            options.countermodels = true;
            ModelResult e = extractFromTrace(trace, formula, options, steps::silent());
            std::string what = e ? fault(**e, f, dir.file("check.cnf")) : e.message();
            if (what.empty()) {
                testsupport::RunResult r = testsupport::plumex({"-qbf", formula, trace});
                if (r.status != 11 || r.out.find("Countermodel is VALID") == std::string::npos)
                    what = "the binary says:\n" + r.out;
                std::remove((trace.substr(0, trace.size() - 4) + ".qbm").c_str());
            }
            if (what.empty()) {
                ++held;
                if (f.prefix.empty()) ++noPrefix;
                for (const auto& clause : f.clauses) emptyClause += clause.empty() && !binary;
            } else {
                failures.push_back(name + (binary ? " (binary): " : " (ASCII): ") + what);
            }
            std::remove(trace.c_str());
        }
        std::remove(formula.c_str());
    }
    for (const std::string& failure : failures) ADD_FAILURE() << failure;
    std::printf("%d traces of formulas refuted, %d countermodels hold (%d without a prefix, %d of the empty clause)\n",
                refuted, held, noPrefix, emptyClause);
    EXPECT_GT(refuted, testsupport::kSanitized ? 30 : 100);
    EXPECT_GT(noPrefix, 0);
    EXPECT_EQ(emptyClause, 1);
}
