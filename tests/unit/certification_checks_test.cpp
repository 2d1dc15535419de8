// The consistency, dependency and clause checks on hand-built certificates.
#include <gtest/gtest.h>

#include <string>

#include "certificate/reconstruct.h"
#include "certification/checks.h"
#include "tests/support/recorder.h"
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
    std::string out;  // what the check reported
};

template <typename F>
Checked recorded(F f) {
    testsupport::Recorder recorder;
    int r = f(recorder);
    return {r, recorder.text};
}

TEST(Consistency, ReportsTheFirstOverlappingVariable) {
    auto m = model(3, {1});
    bdd::Bdd u = bdd::ithVar(1);
    m->posBdd[2] = u;
    m->negBdd[2] = !u;
    m->posBdd[3] = u;
    m->negBdd[3] = bdd::one();
    Checked c = recorded([&](steps::Reporter& r) { return certification::consistencyCheck(*m, r); });
    EXPECT_EQ(c.result, 0);
    EXPECT_NE(c.out.find("Consistency check        [0% "), std::string::npos) << c.out;
    EXPECT_NE(c.out.find("[OK, Problem with variable 3]"), std::string::npos) << c.out;

    m->negBdd[3] = !u;
    m->posBdd[1] = bdd::Bdd();  // absent functions are passed over
    c = recorded([&](steps::Reporter& r) { return certification::consistencyCheck(*m, r); });
    EXPECT_EQ(c.result, 1);
    EXPECT_NE(c.out.find("100%] [OK]"), std::string::npos) << c.out;
}

TEST(ClauseCheck, UniversalOnlyClauseFailsWithItsBdds) {
    auto m = model(3, {1, 2});
    int clause[] = {1, -2};
    certification::FailingClause failing;
    Checked c = recorded([&](steps::Reporter& r) { return certification::clauseCheck(*m, clause, 2, r, &failing); });
    EXPECT_EQ(c.result, 0);
    EXPECT_EQ(c.out, "Non-sat clause: A1(orig:1) A-2(orig:-2) ");
    // No existential literal: nothing satisfies it where both universals falsify theirs.
    EXPECT_TRUE(failing.satisfied.isZero());
    EXPECT_TRUE(failing.hypothesis == ((!bdd::ithVar(1)) & bdd::ithVar(2)));
    EXPECT_TRUE(failing.alwaysSat.isZero());
}

TEST(ClauseCheck, ExistentialAndMixedClauses) {
    auto m = model(4, {1});
    bdd::Bdd u = bdd::ithVar(1);
    m->posBdd[2] = u;
    m->negBdd[2] = !u;
    m->posBdd[3] = !u;
    m->negBdd[3] = u;
    int union_[] = {2, 3};
    EXPECT_EQ(certification::clauseCheck(*m, union_, 2, steps::silent()), 1);
    // u or x3: x3 must hold wherever u is false.
    int mixed[] = {1, 3};
    EXPECT_EQ(certification::clauseCheck(*m, mixed, 2, steps::silent()), 1);
    int wrong[] = {1, 2};
    Checked c = recorded([&](steps::Reporter& r) { return certification::clauseCheck(*m, wrong, 2, r); });
    EXPECT_EQ(c.result, 0);
    EXPECT_EQ(c.out, "Non-sat clause: A1(orig:1) E2(orig:2) ");
    // A literal of a variable the certificate does not know contributes nothing and is
    // never looked up beyond the tables.
    int unknown[] = {7, -1000000, 2, 3};
    EXPECT_EQ(certification::clauseCheck(*m, unknown, 4, steps::silent()), 1);
    int onlyUnknown[] = {7};
    c = recorded([&](steps::Reporter& r) { return certification::clauseCheck(*m, onlyUnknown, 1, r); });
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
    Checked c = recorded([&](steps::Reporter& r) { return certification::dependencyCheck(*m, late, r); });
    EXPECT_EQ(c.result, 0);
    EXPECT_EQ(c.out, "Problem, variable 2 depends on a later universal ");
    // a 1, e 2: the same function is a Skolem function.
    qdimacs::Prefix early;
    early.block = {0, 1, 2};
    early.blockKind = {0, 'a', 'e'};
    EXPECT_EQ(certification::dependencyCheck(*m, early, steps::silent()), 1);
    // Don't-cares that let the function be chosen without u pass even when u is later.
    m->posBdd[2] = u;
    m->negBdd[2] = bdd::zero();
    EXPECT_EQ(certification::dependencyCheck(*m, late, steps::silent()), 1);
    // A variable the formula quantifies universally has no function in a certificate.
    qdimacs::Prefix swapped;
    swapped.block = {0, 1, 1};
    swapped.blockKind = {0, 'a'};
    EXPECT_EQ(certification::dependencyCheck(*m, swapped, steps::silent()), 0);
}

TEST(Validity, EveryClauseIsCheckedAndTheDependencyToo) {
    TempDir dir;
    auto m = model(3, {1});
    bdd::Bdd u = bdd::ithVar(1);
    m->posBdd[2] = !u;
    m->negBdd[2] = u;
    m->posBdd[3] = u;
    m->negBdd[3] = !u;
    testsupport::writeFile(dir.file("ok.qdimacs"), "p cnf 3 2\na 1 0\ne 2 3 0\n1 2 0\n\n-1 3 0\n");
    // The failing clause stands after a blank line.
    testsupport::writeFile(dir.file("bad.qdimacs"), "p cnf 3 3\na 1 0\ne 2 3 0\n1 2 0\n\n-1 3 0\n1 3 0\n");
    testsupport::writeFile(dir.file("late.qdimacs"), "p cnf 3 2\ne 2 0\na 1 0\ne 3 0\n1 2 0\n-1 3 0\n");
    auto check = [&](const char* name, certification::FailingClause* failing = nullptr) {
        return recorded(
            [&](steps::Reporter& r) { return certification::validityCheck(*m, dir.file(name), r, failing); });
    };
    Checked ok = check("ok.qdimacs");
    certification::FailingClause failing;
    Checked bad = check("bad.qdimacs", &failing);
    Checked late = check("late.qdimacs");
    EXPECT_EQ(ok.result, 1);
    EXPECT_NE(ok.out.find("Validity check           [0% 10%"), std::string::npos) << ok.out;
    EXPECT_EQ(bad.result, 0);
    EXPECT_NE(bad.out.find("Non-sat clause: A1(orig:1) E3(orig:3) "), std::string::npos) << bad.out;
    // x3 holds only where u does, and the clause needs it where u is false.
    EXPECT_TRUE(failing.satisfied == u);
    EXPECT_TRUE(failing.hypothesis == !u);
    EXPECT_TRUE(failing.alwaysSat.isZero());
    EXPECT_EQ(late.result, 0);
    EXPECT_NE(late.out.find("Problem, variable 2 depends on a later universal [OK]"), std::string::npos) << late.out;
}

}  // namespace
