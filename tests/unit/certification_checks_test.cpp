// The consistency, dependency and clause checks on hand-built certificates.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "certificate/reconstruct.h"
#include "certification/checks.h"
#include "pipeline/steps.h"
#include "runcontrol/settings.h"
#include "tests/support/run.h"

namespace {

using testsupport::TempDir;

// Internal = external numbering; the universals are given by number, each gets the next
// BDD index.
std::unique_ptr<QBModel> model(int vars, const std::vector<int>& universals) {
    std::vector<int> univ{0};
    univ.insert(univ.end(), universals.begin(), universals.end());
    std::vector<int> intToExt(static_cast<std::size_t>(vars) + 1);
    for (int i = 0; i <= vars; ++i) intToExt[i] = i;
    return newReplayModel("f.qdimacs", vars + 1, univ, intToExt, vars);
}

struct Checked {
    int result;
    std::string out;
};

template <typename F>
Checked shown(F f) {
    steps::setVerbosity(3);
    testing::internal::CaptureStdout();
    int r = f();
    return {r, testing::internal::GetCapturedStdout()};
}

// Runs in a scratch directory, where "bdd_test.dot" lands.
class InDir : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(getcwd(old_, sizeof old_));
        ASSERT_EQ(chdir(dir_.path().c_str()), 0);
    }
    void TearDown() override { ASSERT_EQ(chdir(old_), 0); }
    TempDir dir_;
    char old_[4096] = {};
};

using ClauseCheck = InDir;
using Validity = InDir;

TEST(Consistency, ReportsTheFirstOverlappingVariable) {
    auto m = model(3, {1});
    bdd::Bdd u = bdd::ithVar(1);
    m->posBdd[2] = u;
    m->negBdd[2] = !u;
    m->posBdd[3] = u;
    m->negBdd[3] = bdd::one();
    Checked c = shown([&] { return certification::consistencyCheck(*m); });
    EXPECT_EQ(c.result, 0);
    EXPECT_NE(c.out.find("Consistency check        [0% "), std::string::npos) << c.out;
    EXPECT_NE(c.out.find("[OK, Problem with variable 3, "), std::string::npos) << c.out;

    m->negBdd[3] = !u;
    m->posBdd[1] = bdd::Bdd();  // absent functions are passed over
    c = shown([&] { return certification::consistencyCheck(*m); });
    EXPECT_EQ(c.result, 1);
    EXPECT_NE(c.out.find("100%] [OK, "), std::string::npos) << c.out;
}

TEST_F(ClauseCheck, UniversalOnlyClauseFailsAndLeavesTheDrawing) {
    auto m = model(3, {1, 2});
    int clause[] = {1, -2};
    Checked c = shown([&] { return certification::clauseCheck(*m, clause, 2); });
    EXPECT_EQ(c.result, 0);
    EXPECT_EQ(c.out, "Non-sat clause: A1(orig:1) A-2(orig:-2) ");
    std::string dot = testsupport::readFile("bdd_test.dot");
    EXPECT_NE(dot.find("satIndexSet"), std::string::npos);
    EXPECT_NE(dot.find("univHypothesis"), std::string::npos);
    EXPECT_NE(dot.find("alwaysSat"), std::string::npos);
}

TEST_F(ClauseCheck, ExistentialAndMixedClauses) {
    auto m = model(4, {1});
    bdd::Bdd u = bdd::ithVar(1);
    m->posBdd[2] = u;
    m->negBdd[2] = !u;
    m->posBdd[3] = !u;
    m->negBdd[3] = u;
    int union_[] = {2, 3};
    EXPECT_EQ(certification::clauseCheck(*m, union_, 2), 1);
    // u or x3: x3 must hold wherever u is false.
    int mixed[] = {1, 3};
    EXPECT_EQ(certification::clauseCheck(*m, mixed, 2), 1);
    int wrong[] = {1, 2};
    Checked c = shown([&] { return certification::clauseCheck(*m, wrong, 2); });
    EXPECT_EQ(c.result, 0);
    EXPECT_EQ(c.out, "Non-sat clause: A1(orig:1) E2(orig:2) ");
    // A literal of a variable the certificate does not know contributes nothing and is
    // never looked up beyond the tables.
    int unknown[] = {7, -1000000, 2, 3};
    EXPECT_EQ(certification::clauseCheck(*m, unknown, 4), 1);
    int onlyUnknown[] = {7};
    c = shown([&] { return certification::clauseCheck(*m, onlyUnknown, 1); });
    EXPECT_EQ(c.result, 0);
    EXPECT_EQ(c.out, "Non-sat clause: E0(orig:7) ");
}

TEST(Dependency, ExistentialMustNotDependOnALaterUniversal) {
    // e 2, a 1: x2 depends on u1, which is quantified after it.
    auto m = model(2, {1});
    bdd::Bdd u = bdd::ithVar(1);
    m->posBdd[2] = u;
    m->negBdd[2] = !u;
    qdimacs::Prefix late;
    late.block = {0, 2, 1};
    late.blockKind = {0, 'e', 'a'};
    steps::setVerbosity(3);
    steps::open("Check");
    Checked c = shown([&] { return certification::dependencyCheck(*m, late); });
    steps::close();
    EXPECT_EQ(c.result, 0);
    EXPECT_EQ(c.out, "Problem, variable 2 depends on a later universal ");
    // a 1, e 2: the same function is a Skolem function.
    qdimacs::Prefix early;
    early.block = {0, 1, 2};
    early.blockKind = {0, 'a', 'e'};
    EXPECT_EQ(certification::dependencyCheck(*m, early), 1);
    // Don't-cares that let the function be chosen without u pass even when u is later.
    m->posBdd[2] = u;
    m->negBdd[2] = bdd::zero();
    EXPECT_EQ(certification::dependencyCheck(*m, late), 1);
    // A variable the formula quantifies universally has no function in a certificate.
    qdimacs::Prefix swapped;
    swapped.block = {0, 1, 1};
    swapped.blockKind = {0, 'a'};
    EXPECT_EQ(certification::dependencyCheck(*m, swapped), 0);
}

TEST_F(Validity, EveryClauseIsCheckedAndTheDependencyToo) {
    auto m = model(3, {1});
    bdd::Bdd u = bdd::ithVar(1);
    m->posBdd[2] = !u;
    m->negBdd[2] = u;
    m->posBdd[3] = u;
    m->negBdd[3] = !u;
    testsupport::writeFile("ok.qdimacs", "p cnf 3 2\na 1 0\ne 2 3 0\n1 2 0\n\n-1 3 0\n");
    // The failing clause stands after a blank line.
    testsupport::writeFile("bad.qdimacs", "p cnf 3 3\na 1 0\ne 2 3 0\n1 2 0\n\n-1 3 0\n1 3 0\n");
    testsupport::writeFile("late.qdimacs", "p cnf 3 2\ne 2 0\na 1 0\ne 3 0\n1 2 0\n-1 3 0\n");
    steps::open("Certification");
    Checked ok = shown([&] { return certification::validityCheck(*m, "ok.qdimacs"); });
    Checked bad = shown([&] { return certification::validityCheck(*m, "bad.qdimacs"); });
    Checked late = shown([&] { return certification::validityCheck(*m, "late.qdimacs"); });
    steps::close();
    EXPECT_EQ(ok.result, 1);
    EXPECT_NE(ok.out.find("Validity check           [0% 10%"), std::string::npos) << ok.out;
    EXPECT_EQ(bad.result, 0);
    EXPECT_NE(bad.out.find("Non-sat clause: A1(orig:1) E3(orig:3) "), std::string::npos) << bad.out;
    EXPECT_EQ(late.result, 0);
    EXPECT_NE(late.out.find("Problem, variable 2 depends on a later universal [OK, "), std::string::npos) << late.out;
}

}  // namespace
