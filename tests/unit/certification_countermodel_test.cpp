// The countermodel check on hand-built countermodels: constant functions, the empty
// clause, formulas without universals, universals without functions or with open
// scenarios, variables beyond the problem line, roles and dependencies, the step's line.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "certification/checks.h"
#include "certification/countermodel_check.h"
#include "tests/support/countermodel.h"
#include "tests/support/recorder.h"
#include "tests/support/run.h"

namespace {

using testsupport::Qbf;

// The BDD of existential e (its external number) in model m.
bdd::Bdd exist(const QBModel& m, int e) { return bdd::ithVar(m.univIndex[m.extToInt[e]]); }

void setFunction(QBModel& m, int universal, const bdd::Bdd& f) {
    m.posBdd[m.extToInt[universal]] = f;
    m.negBdd[m.extToInt[universal]] = !f;
}

// A circuit over m's inputs with no function yet; setOutput gives universal u one.
std::shared_ptr<FunctionCircuit> circuitOf(const QBModel& m) {
    auto c = std::make_shared<FunctionCircuit>();
    c->numInputs = m.numUniv;
    c->output.assign(static_cast<std::size_t>(m.numVars), FunctionCircuit::kNone);
    return c;
}
std::uint32_t inputOf(const QBModel& m, int e) { return 2 * static_cast<std::uint32_t>(m.univIndex[m.extToInt[e]]); }

struct Checked {
    int result;
    std::string out;
};

Checked inMemory(const QBModel& m, const Qbf& f, const qdimacs::Prefix& prefix) {
    testsupport::Recorder r;
    int result = certification::countermodelCheck(m, prefix, f.clauses, r);
    return {result, r.text};
}
Checked inMemory(const QBModel& m, const Qbf& f) { return inMemory(m, f, f.prefix()); }

// e 1, a 2: (u or x) and (u or -x) are refuted by u = 0 alone.
Qbf constantCase() { return {2, {{'e', {1}}, {'a', {2}}}, {{2, 1}, {2, -1}}}; }

TEST(CountermodelCheck, ConstantFunctionsAsBddsAndAsCircuit) {
    Qbf f = constantCase();
    auto m = testsupport::emptyCountermodel(f);
    setFunction(*m, 2, bdd::zero());
    EXPECT_EQ(inMemory(*m, f).result, 1);
    setFunction(*m, 2, bdd::one());
    Checked wrong = inMemory(*m, f);
    EXPECT_EQ(wrong.result, 0);
    EXPECT_EQ(wrong.out.rfind("Satisfying assignment: ", 0), 0u) << wrong.out;

    m->posBdd[2] = bdd::Bdd();
    m->negBdd[2] = bdd::Bdd();
    auto c = circuitOf(*m);
    c->output[2] = FunctionCircuit::kFalse;
    m->circuit = c;
    m->noBdds = "too large";
    EXPECT_EQ(inMemory(*m, f).result, 1);
    c->output[2] = FunctionCircuit::kTrue;
    EXPECT_EQ(inMemory(*m, f).result, 0);
}

TEST(CountermodelCheck, AnEmptyClauseRefutesWhateverTheFunctions) {
    Qbf f{2, {{'e', {1}}, {'a', {2}}}, {{1, 2}, {}, {-1}}};
    auto m = testsupport::emptyCountermodel(f);
    EXPECT_EQ(inMemory(*m, f).result, 1);
    setFunction(*m, 2, exist(*m, 1));
    EXPECT_EQ(inMemory(*m, f).result, 1);
}

TEST(CountermodelCheck, WithoutUniversalsTheMatrixDecidesAlone) {
    Qbf f{2, {{'e', {1, 2}}}, {{1, 2}, {-1}, {-2}}};
    auto m = testsupport::emptyCountermodel(f);
    EXPECT_EQ(inMemory(*m, f).result, 1);
    f.clauses.pop_back();
    Checked c = inMemory(*m, f);
    EXPECT_EQ(c.result, 0);
    EXPECT_EQ(c.out, "Satisfying assignment: -1 2 ");
}

TEST(CountermodelCheck, WitnessListsFreeVariablesFirstThenThePrefix) {
    // Variable 4 is free; the prefix lists 3 before 1.
    Qbf f{4, {{'e', {3, 1}}, {'a', {2}}}, {{4}, {3}, {1}, {-2, 1}}};
    auto m = testsupport::emptyCountermodel(f);
    Checked c = inMemory(*m, f);
    EXPECT_EQ(c.result, 0);
    EXPECT_EQ(c.out, "Satisfying assignment: 4 3 1 ");
}

TEST(CountermodelCheck, AUniversalWithoutFunctionCountsForEveryValue) {
    // x must be false, and then neither value of u satisfies both clauses.
    Qbf f{2, {{'e', {1}}, {'a', {2}}}, {{2, 1}, {-2, 1}, {-1}}};
    auto m = testsupport::emptyCountermodel(f);
    EXPECT_EQ(inMemory(*m, f).result, 1);
    // Without (-u or x), u = 1 satisfies the rest.
    f.clauses = {{2, 1}, {-1}};
    Checked c = inMemory(*m, f);
    EXPECT_EQ(c.result, 0);
    EXPECT_EQ(c.out, "Satisfying assignment: -1 ");
}

TEST(CountermodelCheck, AnOpenScenarioCountsForBothValues) {
    // (u or x) and (-u or -x): u = x refutes both scenarios of x.
    Qbf f{2, {{'e', {1}}, {'a', {2}}}, {{2, 1}, {-2, -1}}};
    auto m = testsupport::emptyCountermodel(f);
    bdd::Bdd x = exist(*m, 1);
    setFunction(*m, 2, x);
    EXPECT_EQ(inMemory(*m, f).result, 1);
    // Open where x is false: the completion u = 1 satisfies both clauses there.
    m->negBdd[2] = bdd::zero();
    Checked c = inMemory(*m, f);
    EXPECT_EQ(c.result, 0);
    EXPECT_EQ(c.out, "Satisfying assignment: -1 ");
    // Open where x is true instead: there the completion u = 0 satisfies both clauses.
    m->posBdd[2] = bdd::zero();
    m->negBdd[2] = !x;
    c = inMemory(*m, f);
    EXPECT_EQ(c.out, "Satisfying assignment: 1 ");
}

// e 1 2, a 3 with 3 above the problem line's count: f(u) = x1 refutes the formula.
Qbf aboveCase() { return {2, {{'e', {1, 2}}, {'a', {3}}}, {{3, 1}, {-3, 2}, {-1, -2}}}; }

TEST(CountermodelCheck, VariablesAboveTheProblemLineCount) {
    testsupport::TempDir dir;
    Qbf f = aboveCase();
    testsupport::writeFile(dir.file("f.qdimacs"), f.text());
    auto m = testsupport::emptyCountermodel(f, dir.file("f.qdimacs"));
    setFunction(*m, 3, exist(*m, 1));
    testsupport::Recorder ok;
    EXPECT_EQ(certification::countermodelCheck(*m, dir.file("f.qdimacs"), ok), 1) << ok.text;
    setFunction(*m, 3, !exist(*m, 1));
    testsupport::Recorder wrong;
    EXPECT_EQ(certification::countermodelCheck(*m, dir.file("f.qdimacs"), wrong), 0);
    bool named = wrong.text.find("Satisfying assignment: -1 2 ") != std::string::npos ||
                 wrong.text.find("Satisfying assignment: 1 -2 ") != std::string::npos;
    EXPECT_TRUE(named) << wrong.text;
}

TEST(CountermodelCheck, TheStepReadsTheFormulaAndClosesAfterTheWitness) {
    testsupport::TempDir dir;
    Qbf f{2, {{'e', {1}}, {'a', {2}}}, {{2, 1}, {-2, -1}}};
    testsupport::writeFile(dir.file("f.qdimacs"), f.text());
    auto m = testsupport::emptyCountermodel(f, dir.file("f.qdimacs"));
    setFunction(*m, 2, !exist(*m, 1));
    m->validityTime = -1.0;
    testsupport::Recorder r;
    // Through the validity check, which hands a countermodel to its own check.
    EXPECT_EQ(certification::validityCheck(*m, dir.file("f.qdimacs"), r), 0);
    bool named = r.text == "Validity check           [0% 10% 20% 30% 40% 50% 60% 70% 80% 90% 100%] "
                           "Satisfying assignment: 1 [OK]" ||
                 r.text == "Validity check           [0% 10% 20% 30% 40% 50% 60% 70% 80% 90% 100%] "
                           "Satisfying assignment: -1 [OK]";
    EXPECT_TRUE(named) << r.text;
    EXPECT_GE(m->validityTime, 0.0);

    setFunction(*m, 2, exist(*m, 1));
    testsupport::Recorder ok;
    EXPECT_EQ(certification::countermodelCheck(*m, dir.file("f.qdimacs"), ok), 1);
    EXPECT_EQ(ok.text, "Validity check           [0% 10% 20% 30% 40% 50% 60% 70% 80% 90% 100%] [OK]");
}

TEST(CountermodelCheck, AProblemOfTheFormulaIsTheReadersMessage) {
    testsupport::TempDir dir;
    Qbf f = constantCase();
    testsupport::writeFile(dir.file("f.qdimacs"), "p cnf 2 1\ne 1 0\na 2 0\n2 x 0\n");
    auto m = testsupport::emptyCountermodel(f);
    setFunction(*m, 2, bdd::zero());
    testsupport::Recorder r;
    EXPECT_EQ(certification::countermodelCheck(*m, dir.file("f.qdimacs"), r), 0);
    EXPECT_EQ(r.text, "Validity check           [0% Problem, not a number at line 4 [OK]");
}

TEST(CountermodelCheck, RolesMustMatchTheFormula) {
    Qbf f = constantCase();
    auto m = testsupport::emptyCountermodel(f);
    setFunction(*m, 2, bdd::zero());
    Qbf swapped = f;
    swapped.blocks = {{'e', {1, 2}}};
    EXPECT_EQ(inMemory(*m, f, swapped.prefix()).out, "Problem, variable 2 is existential in the formula ");
    swapped.blocks = {{'a', {1, 2}}};
    EXPECT_EQ(inMemory(*m, f, swapped.prefix()).out, "Problem, variable 1 is universal in the formula ");
    // A free variable is an outermost existential.
    swapped.blocks = {{'e', {1}}};
    EXPECT_EQ(inMemory(*m, f, swapped.prefix()).out, "Problem, variable 2 is existential in the formula ");
}

// e 1, a 2, e 3: u may read x1, not x3.
Qbf laterCase() { return {3, {{'e', {1}}, {'a', {2}}, {'e', {3}}}, {{2, 1}, {-2, -1}}}; }

TEST(CountermodelCheck, AFunctionMustNotReadALaterExistential) {
    Qbf f = laterCase();
    auto m = testsupport::emptyCountermodel(f);
    bdd::Bdd x1 = exist(*m, 1), x3 = exist(*m, 3);
    setFunction(*m, 2, x1 ^ x3);
    EXPECT_EQ(inMemory(*m, f).out, "Problem, variable 2 depends on a later existential ");
    // An open scenario that lets the function be chosen without x3 passes.
    m->posBdd[2] = x1 & x3;
    m->negBdd[2] = (!x1) & (!x3);
    Checked open = inMemory(*m, f);
    EXPECT_TRUE(open.out == "Satisfying assignment: -1 3 " || open.out == "Satisfying assignment: 1 -3 ") << open.out;

    // A circuit is judged on its structure: (x1 & x3) | (x1 & -x3) reads x3.
    auto c = circuitOf(*m);
    std::uint32_t a = c->conjoin(inputOf(*m, 1), inputOf(*m, 3));
    std::uint32_t b = c->conjoin(inputOf(*m, 1), negateLiteral(inputOf(*m, 3)));
    c->output[2] = negateLiteral(c->conjoin(negateLiteral(a), negateLiteral(b)));
    m->circuit = c;
    m->posBdd[2] = bdd::Bdd();
    m->negBdd[2] = bdd::Bdd();
    EXPECT_EQ(inMemory(*m, f).out, "Problem, variable 2 depends on a later existential ");
    // With its BDDs beside it, their function decides (it is x1) and is encoded.
    setFunction(*m, 2, x1);
    EXPECT_EQ(inMemory(*m, f).result, 1);
}

TEST(CountermodelCheck, OnlyTheUsedSideOfAFunctionIsNeeded) {
    // u occurs only positively: only its false set matters.
    Qbf f{2, {{'e', {1}}, {'a', {2}}}, {{2, 1}, {-1}}};
    auto m = testsupport::emptyCountermodel(f);
    m->posBdd[2] = bdd::zero();
    m->negBdd[2] = !exist(*m, 1);
    EXPECT_EQ(inMemory(*m, f).result, 1);
    m->negBdd[2] = exist(*m, 1);
    EXPECT_EQ(inMemory(*m, f).out, "Satisfying assignment: -1 ");
}

TEST(CountermodelConsistency, NamesTheUniversalAndPassesACircuitAlone) {
    Qbf f = constantCase();
    auto m = testsupport::emptyCountermodel(f);
    m->posBdd[2] = exist(*m, 1);
    m->negBdd[2] = bdd::one();
    testsupport::Recorder r;
    EXPECT_EQ(certification::consistencyCheck(*m, r), 0);
    EXPECT_NE(r.text.find("[OK, Problem with variable 2]"), std::string::npos) << r.text;

    m->posBdd[2] = bdd::Bdd();
    m->negBdd[2] = bdd::Bdd();
    for (int v = 1; v < m->numVars; ++v) {
        m->posBdd[v] = bdd::Bdd();
        m->negBdd[v] = bdd::Bdd();
    }
    auto c = circuitOf(*m);
    c->output[2] = FunctionCircuit::kFalse;
    m->circuit = c;
    m->noBdds = "too large";
    testsupport::Recorder alone;
    EXPECT_EQ(certification::consistencyCheck(*m, alone), 1);
    EXPECT_EQ(alone.text, "Consistency check        [0% 10% 20% 30% 40% 50% 60% 70% 80% 90% 100%] [OK]");
}

}  // namespace
