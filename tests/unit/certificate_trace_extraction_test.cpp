// Countermodels from hand-made traces of false formulas (the shapes DepQBF writes: input
// clauses printed before reduction, resolvents already reduced, the formula's own empty
// clause, no prefix), in ASCII, binary and gzip, and the message of every malformed one.
#include <gtest/gtest.h>
#include <zlib.h>

#include <sstream>
#include <string>

#include "certificate/trace_extraction.h"
#include "tests/support/run.h"
#include "tests/support/trace_forms.h"

namespace {

// forall 1, exists 2 3: false (whatever 2 and 3 do, 1 = true falsifies -1 3 or -1 -3).
const char* const kFormula = "p cnf 3 4\na 1 0\ne 2 3 0\n1 2 0\n1 -2 0\n-1 3 0\n-1 -3 0\n";
const char* const kTrace =
    "p qrp 3 4\na 1 0\ne 2 3 0\n1 1 2 0 0\n2 1 -2 0 0\n3 -1 3 0 0\n4 -1 -3 0 0\n5 0 4 3 0\nr UNSAT\n";

// forall 1 2, exists 3: false; clause 1 is all universal and is reduced to the empty one,
// clause 2 is a tautology (its id prints nothing).
const char* const kUniversalFormula = "p cnf 3 2\na 1 2 0\ne 3 0\n1 2 0\n-1 3 -3 0\n";
const char* const kUniversalTrace = "p qrp 3 2\na 1 2 0\ne 3 0\n1 1 2 0 0\n2 0 1 0\n4 0 2 0\nr UNSAT\n";

using testsupport::binaryTrace;
using testsupport::replaced;
using testsupport::varint;

class FalseTrace : public ::testing::Test {
  protected:
    testsupport::TempDir dir;
    int files = 0;
    ModelResult extract(const std::string& trace, const std::string& formula = kFormula, bool countermodels = true) {
        std::string name = dir.file("t" + std::to_string(files++));
        testsupport::writeFile(name + ".qdimacs", formula);
        testsupport::writeFile(name + ".qrp", trace);
        ExtractionOptions options;
        options.countermodels = countermodels;
        return extractFromTrace(name + ".qrp", name + ".qdimacs", options, steps::silent());
    }
    // The message of a refused trace, "" when it is not refused.
    std::string message(const std::string& trace, const std::string& formula = kFormula) {
        ModelResult r = extract(trace, formula);
        return r ? "" : r.message();
    }
};

// The function of each universal as the values under every existential assignment.
std::string functions(const QBModel& m) {
    std::string out;
    for (int u = 1; u < m.numVars; ++u) {
        if (m.isUniversal(u)) continue;
        out += std::to_string(u) + ":";
        for (unsigned a = 0; a < (1u << m.numUniv); ++a) {
            bdd::Bdd f = m.posBdd[u];
            while (!f.isConstant()) f = ((a >> (f.var() - 1)) & 1) ? f.high() : f.low();
            out += f.isOne() ? '1' : '0';
        }
        out += ' ';
    }
    return out;
}

TEST_F(FalseTrace, ACountermodelGivesEveryUniversalAFunctionOfTheExistentialsBeforeIt) {
    ModelResult r = extract(kTrace);
    ASSERT_TRUE(r) << r.message();
    const QBModel& m = **r;
    EXPECT_EQ(m.polarity, Polarity::False);
    EXPECT_EQ(m.numUniv, 2);  // the existentials are the functions' inputs, in prefix order
    EXPECT_EQ(m.univVar[1], 2);
    EXPECT_EQ(m.univVar[2], 3);
    EXPECT_EQ(m.numExist, 1);
    EXPECT_EQ(functions(m), "1:1111 ");  // the resolvent -1 is reduced: 1 := true
    ASSERT_TRUE(m.circuit);
    EXPECT_EQ(m.circuit->output[1], FunctionCircuit::kTrue);
    EXPECT_TRUE(m.noBdds.empty());
}

TEST_F(FalseTrace, BinaryAndGzipTracesGiveTheSameCountermodel) {
    // One BDD manager at a time: each model is tabulated and let go.
    auto tabulated = [](ModelResult r) { return r ? functions(**r) : r.message(); };
    std::string ascii = tabulated(extract(kTrace));
    EXPECT_EQ(tabulated(extract(binaryTrace(kTrace))), ascii);
    std::string gz = dir.file("g.qrp.gz");
    gzFile out = gzopen(gz.c_str(), "wb");
    std::string b = binaryTrace(kTrace);
    gzwrite(out, b.data(), static_cast<unsigned>(b.size()));
    gzclose(out);
    testsupport::writeFile(dir.file("g.qdimacs"), kFormula);
    ExtractionOptions options;
    options.countermodels = true;
    EXPECT_EQ(tabulated(extractFromTrace(gz, dir.file("g.qdimacs"), options, steps::silent())), ascii);
}

TEST_F(FalseTrace, AnInputClauseOfUniversalsAloneIsReducedToTheEmptyClause) {
    ModelResult r = extract(kUniversalTrace, kUniversalFormula);
    ASSERT_TRUE(r) << r.message();
    // Clause 1 2 is reduced at once: 1 := false, and 2 := false where 1 is false (always).
    EXPECT_EQ(functions(**r), "1:00 2:00 ");
}

TEST_F(FalseTrace, TheFormulasOwnEmptyClauseAndAFormulaWithoutPrefix) {
    {
        ModelResult r = extract("p qrp 0 1\n1 0 0\nr UNSAT\n", "p cnf 0 1\n0\n");
        ASSERT_TRUE(r) << r.message();
        EXPECT_EQ((*r)->numExist, 0);
    }
    // Without a prefix every variable is free: an existential, and no function at all.
    ModelResult r = extract("p qrp 2 3\n1 1 2 0 0\n2 -1 0 0\n3 -2 0 0\n4 2 0 1 2 0\n5 0 4 3 0\nr UNSAT\n",
                "p cnf 2 3\n1 2 0\n-1 0\n-2 0\n");
    ASSERT_TRUE(r) << r.message();
    EXPECT_EQ((*r)->numUniv, 2);
    EXPECT_EQ((*r)->numExist, 0);
}

TEST_F(FalseTrace, WithoutCountermodelsAFalseTraceIsRefusedAsBefore) {
    ModelResult r = extract(kTrace, kFormula, false);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.message(), "This is not a TRUE formula");
}

TEST_F(FalseTrace, MalformedProofsGetClearMessages) {
    const std::string body = kTrace;
    struct Case {
        std::string trace, formula, message;
    } cases[] = {
        {replaced(body, "5 0 4 3 0", "5 0 4 1 0"), kFormula, "step 5: a clause resolution without exactly one clashing existential"},
        {replaced(body, "5 0 4 3 0", "5 -1 3 0 4 3 0\n6 0 5 0"), kFormula, "step 5: literal 3 is not in the clause of its antecedents"},
        {replaced(body, "5 0 4 3 0", "5 -1 0 4 0\n6 0 5 3 0"), kFormula, "step 5: a reduction removes existential 3"},
        {replaced(body, "5 0 4 3 0", "5 -1 0 4 3 0"), kFormula, "step 5: the last step is not empty"},
        {replaced(body, "3 -1 3 0 0", "3 -1 2 0 0"), kFormula,
         "step 3: not input clause 3 of the formula (counting non-tautological clauses)"},
        {replaced(body, "5 0 4 3 0", "5 -1 -3 0 0\n6 0 5 3 0"), kFormula,
         "step 5: a leaf of the proof that is none of the formula's 4 clauses (not counting tautologies)"},
        {replaced(body, "3 -1 3 0 0", "3 -1 2 0 0"), std::string(kFormula) + "2 3 0\n",
         "the trace and the formula \""},
        {"p qrp 2 1\na 1 0\ne 2 0\n1 1 2 0 0\n2 2 0 1 0\n3 0 2 0\nr UNSAT\n", "p cnf 2 1\na 1 0\ne 2 0\n1 2 0\n",
         "step 2: a reduction removes universal 1 with a later existential left"},
        {"p qrp 2 1\na 1 0\ne 2 0\n1 1 2 0 0\n2 0 1 0\nr UNSAT\n", "p cnf 2 1\na 1 0\ne 2 0\n1 2 0\n",
         "step 2: a reduction removes existential 2"},
        {replaced(body, "5 0 4 3 0", "5 0 4 9 0"), kFormula, "step 5: antecedent 9 not defined before its step"},
    };
    for (const Case& c : cases) {
        std::string m = message(c.trace, c.formula);
        EXPECT_EQ(m.substr(0, c.message.size()), c.message) << c.trace;
        // The binary form says the same.
        m = message(binaryTrace(c.trace), c.formula);
        EXPECT_EQ(m.substr(0, c.message.size()), c.message) << "binary: " << c.trace;
    }
}

}  // namespace
