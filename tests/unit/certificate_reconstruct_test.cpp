// Inductive reconstruction: the replay rules on hand-built entries, and the whole
// reconstruction over hand-made logs with its step line and progress marks.
#include "certificate/reconstruct.h"

#include <gtest/gtest.h>

#include "log_builder.h"
#include "pipeline/settings.h"
#include "outcomes/steps.h"
#include "tests/support/run.h"

using bdd::Bdd;
using logtest::LogBuilder;

namespace {

LogClause clause(std::vector<int> literals, Bdd condition = Bdd()) {
    LogClause c;
    c.literals = std::move(literals);
    c.bdd = std::move(condition);
    return c;
}

LogEntry entry(int kind, int literal = 0, Bdd condition = Bdd()) {
    LogEntry e;
    e.kind = kind;
    e.literal = literal;
    e.bdd = std::move(condition);
    return e;
}

LogEntry res(int kind, int pivot, std::vector<LogClause> positive, std::vector<LogClause> negative) {
    LogEntry e;
    e.kind = kind;
    e.variable = pivot;
    e.positive = std::move(positive);
    e.negative = std::move(negative);
    return e;
}

LogEntry equiv(int a, int b, int s, Bdd condition, std::vector<LogClause> clauses = {}) {
    LogEntry e;
    e.kind = S_EQUIV;
    e.a = a;
    e.b = b;
    e.s = s;
    e.bdd = std::move(condition);
    e.clauses = std::move(clauses);
    return e;
}

// Existentials 1, 2, 4; universals 3 (engine variable 1) and 5 (engine variable 2).
class Replay : public ::testing::Test {
  protected:
    std::unique_ptr<QBModel> model = newReplayModel("f.qdimacs", 6, {0, 3, 5}, {0, 11, 12, 13, 14, 15}, 15);
    QBModel& m = *model;
    Bdd u3 = bdd::ithVar(1);
    Bdd u5 = bdd::ithVar(2);

    int replay(LogEntry e) { return replayEntry(m, e).replayed() ? 1 : 0; }
    int faultOf(LogEntry e) {
        ReplayVerdict verdict = replayEntry(m, e);
        EXPECT_FALSE(verdict.replayed());
        return verdict.fault;
    }
    void set(int literal, Bdd where) {
        EXPECT_EQ(replay(entry(S_ASSIGN, literal, std::move(where))), 1);
    }
};

}  // namespace

TEST_F(Replay, SetUpNumbersUniversalsAndExistentials) {
    EXPECT_EQ(m.formula, "f.qdimacs");
    EXPECT_EQ(m.numVars, 6);
    EXPECT_EQ(m.numUniv, 2);
    EXPECT_EQ(m.univVar, (std::vector<int>{0, 3, 5}));
    EXPECT_EQ(m.univIndex, (std::vector<int>{0, 0, 0, 1, 0, 2}));
    EXPECT_EQ(m.numExist, 3);
    EXPECT_EQ(m.existVar[1], 1);
    EXPECT_EQ(m.existVar[2], 2);
    EXPECT_EQ(m.existVar[3], 4);
    EXPECT_EQ(m.existPos[4], 3);
    EXPECT_EQ(m.existPos[3], 0);
    EXPECT_EQ(m.extToInt[14], 4);
    EXPECT_EQ(m.intToExt[5], 15);
    EXPECT_TRUE(m.allUnivCube == (u3 & u5));
    for (int v = 0; v < 6; ++v) {
        EXPECT_TRUE(m.posBdd[v].isZero());
        EXPECT_TRUE(m.negBdd[v].isZero());
        EXPECT_TRUE(m.indepCube[v].isNull());
    }
    EXPECT_EQ(m.hypStack.size(), 7u);
    EXPECT_EQ(m.hypDepth, 0);
}

TEST_F(Replay, CubesSetTheUniversalsAVariableMustNotDependOn) {
    LogEntry g;
    g.kind = G_CUBES;
    g.cubes = {LogCube{1, {3}, Bdd()}, LogCube{2, {3, 5}, Bdd()}, LogCube{4, {}, Bdd()}};
    EXPECT_EQ(replay(std::move(g)), 1);
    EXPECT_TRUE(m.indepCube[1] == u5);
    EXPECT_TRUE(m.indepCube[2].isOne());
    EXPECT_TRUE(m.indepCube[4] == (u3 & u5));
    LogEntry s;
    s.kind = S_CUBES;
    s.cubes = {LogCube{1, {}, u5}};
    EXPECT_EQ(replay(std::move(s)), 1);
    EXPECT_TRUE(m.indepCube[1] == u3);
    // A cube that is no conjunction of variables.
    LogEntry bad;
    bad.kind = S_CUBES;
    bad.cubes = {LogCube{1, {}, u3 | u5}};
    EXPECT_EQ(faultOf(std::move(bad)), LOG_BAD_CUBE);
}

TEST_F(Replay, AssignmentsGrowTheTrueAndFalseSets) {
    set(1, u3);
    set(1, u5);
    set(-2, !u3);
    EXPECT_EQ(replay(entry(G_ASSIGN, 4)), 1);
    EXPECT_TRUE(m.posBdd[1] == (u3 | u5));
    EXPECT_TRUE(m.negBdd[2] == !u3);
    EXPECT_TRUE(m.posBdd[4].isOne());
    // Universals are never assigned.
    EXPECT_EQ(replay(entry(G_ASSIGN, -3)), 1);
    set(5, u3);
    EXPECT_TRUE(m.negBdd[3].isZero());
    EXPECT_TRUE(m.posBdd[5].isZero());
}

TEST_F(Replay, HypothesesRestrictAssignments) {
    // Replay order: B_OUT pushes the universal literal, B_IN pops it.
    EXPECT_EQ(replay(entry(B_OUT, -3)), 1);
    EXPECT_EQ(m.hypDepth, 1);
    EXPECT_EQ(replay(entry(B_OUT, 5)), 1);
    EXPECT_EQ(m.hypDepth, 2);
    EXPECT_TRUE(m.hypStack[1] == ((!u3) & u5));
    EXPECT_EQ(replay(entry(G_ASSIGN, 1)), 1);
    EXPECT_TRUE(m.posBdd[1] == ((!u3) & u5));
    // An existential B_OUT is an assignment under the hypothesis; its B_IN is nothing.
    EXPECT_EQ(replay(entry(B_OUT, -2)), 1);
    EXPECT_TRUE(m.negBdd[2] == ((!u3) & u5));
    EXPECT_EQ(replay(entry(B_IN, -2)), 1);
    EXPECT_EQ(m.hypDepth, 2);
    EXPECT_EQ(replay(entry(B_IN, 5)), 1);
    EXPECT_EQ(m.hypDepth, 1);
    set(4, u5);
    EXPECT_TRUE(m.posBdd[4] == ((!u3) & u5));
    EXPECT_EQ(replay(entry(B_IN, -3)), 1);
    EXPECT_EQ(m.hypDepth, 0);
    set(-4, u3);
    EXPECT_TRUE(m.negBdd[4] == u3);
}

TEST_F(Replay, HypothesisStackBounds) {
    // numVars + 1 = 7 slots.
    for (int i = 0; i < 7; ++i) EXPECT_EQ(replay(entry(B_OUT, i % 2 ? 3 : 5)), 1);
    EXPECT_EQ(faultOf(entry(B_OUT, 3)), LOG_DEEP_HYPOTHESIS);
    EXPECT_STREQ(logStatusMessage(LOG_DEEP_HYPOTHESIS), "Universal hypotheses nested deeper than the stack");
    for (int i = 0; i < 7; ++i) EXPECT_EQ(replay(entry(B_IN, 3)), 1);
    logtest::Ended ended = logtest::inChild([&] { replay(entry(B_IN, 3)); });
    EXPECT_EQ(ended.status, 255);
    EXPECT_EQ(ended.out,
              "[Abnormal exit due to error \"Bad univ. hypothesis depth\" at line 166, file \"QbfModelReconstruct\"]\n");
}

TEST_F(Replay, GroundResolutionWithoutOverlap) {
    // (1 v 3) and (-1 v -3): x1 must be true where u3 is false and false where it is true.
    LogEntry e = res(G_RES, 1, {clause({1, 3})}, {clause({-3, -1})});
    EXPECT_EQ(replay(std::move(e)), 1);
    EXPECT_TRUE(m.posBdd[1] == !u3);
    EXPECT_TRUE(m.negBdd[1] == u3);
}

TEST_F(Replay, GroundClausesBecomeConditionsOfTheirUniversals) {
    // The universal literals' negations, conjoined, are the clause's condition; the
    // existential literals stay in their order.
    LogEntry e = res(G_RES, 1, {clause({4, 3, 1, -5, 2})}, {});
    // Make the clause satisfied nowhere yet, so that it stays and shows its condition.
    EXPECT_EQ(replay(std::move(e)), 1);
    EXPECT_TRUE(m.posBdd[1] == ((!u3) & u5));
    EXPECT_TRUE(m.negBdd[1].isZero());
}

TEST_F(Replay, ExpungingDropsSatisfiedClausesAndNarrowsTheRest) {
    set(2, u3);   // (1 v 2) satisfied where u3
    set(-4, bdd::one());  // (1 v -4) satisfied everywhere: dropped
    LogEntry e = res(S_RES, 1, {clause({1, 2}, bdd::one()), clause({1, -4}, bdd::one()), clause({1}, bdd::zero())},
                     {clause({-1}, u3 & u5)});
    EXPECT_EQ(replay(std::move(e)), 1);
    // Positive requirement: !u3; negative: u3 & u5; no overlap.
    EXPECT_TRUE(m.posBdd[1] == !u3);
    EXPECT_TRUE(m.negBdd[1] == (u3 & u5));
}

TEST_F(Replay, ProjectionOntoTheUniversalsThePivotMayDependOn) {
    // x1 depends on u3 only: requirements are projected onto u3.
    LogEntry c;
    c.kind = G_CUBES;
    c.cubes = {LogCube{1, {3}, Bdd()}};
    EXPECT_EQ(replay(std::move(c)), 1);
    LogEntry e = res(S_RES, 1, {clause({1}, u3 & u5)}, {clause({-1}, !u3)});
    EXPECT_EQ(replay(std::move(e)), 1);
    EXPECT_TRUE(m.posBdd[1] == u3);
    EXPECT_TRUE(m.negBdd[1] == !u3);
    // Without a cube the pivot depends on every universal: no projection.
    LogEntry f = res(S_RES, 2, {clause({2}, u3 & u5)}, {clause({-2}, u3 & !u5)});
    EXPECT_EQ(replay(std::move(f)), 1);
    EXPECT_TRUE(m.posBdd[2] == (u3 & u5));
    EXPECT_TRUE(m.negBdd[2] == (u3 & !u5));
}

TEST_F(Replay, ClashIsBrokenOnTheFirstOppositeVariable) {
    // (1 v 4 v 2) and (-1 v -2 v -4) clash everywhere; 2 is the first variable (by
    // number) held with opposite signs: it becomes false, which satisfies the negative
    // clause, and x1 then is true.
    LogEntry e = res(S_RES, 1, {clause({4, 1, 2}, bdd::one())}, {clause({-4, -1, -2}, bdd::one())});
    EXPECT_EQ(replay(std::move(e)), 1);
    EXPECT_TRUE(m.negBdd[2].isOne());
    EXPECT_TRUE(m.negBdd[4].isZero());
    EXPECT_TRUE(m.posBdd[1].isOne());
    EXPECT_TRUE(m.negBdd[1].isZero());
}

TEST_F(Replay, UnbreakableClashIsAContradiction) {
    LogEntry e = res(S_RES, 1, {clause({1, 2}, bdd::one())}, {clause({-1, 4}, u3)});
    EXPECT_EQ(replay(std::move(e)), 0);
    // A clash variable already assigned where the clauses meet cannot break it either.
    set(2, u3);
    set(-2, !u3);
    LogEntry f = res(S_RES, 4, {clause({4, 2}, bdd::one())}, {clause({-4, -2}, bdd::one())});
    EXPECT_EQ(replay(std::move(f)), 1);  // the clauses are satisfied by x2 already
}

TEST_F(Replay, ClashOutsideTheHypothesisEnds) {
    // Under the hypothesis u3, clauses present only where u3 is false clash there. An
    // assignment to break that clash would be restricted away; the replay must end.
    EXPECT_EQ(replay(entry(B_OUT, 3)), 1);
    LogEntry e = res(S_RES, 1, {clause({1, 2}, !u3)}, {clause({-1, -2}, !u3)});
    EXPECT_EQ(replay(std::move(e)), 1);
    EXPECT_TRUE(m.posBdd[1].isZero());
    EXPECT_TRUE(m.negBdd[2].isZero());
    // Inside the hypothesis the clash is broken as usual, restricted to it.
    LogEntry f = res(S_RES, 1, {clause({1, 2}, bdd::one())}, {clause({-1, -2}, bdd::one())});
    EXPECT_EQ(replay(std::move(f)), 1);
    EXPECT_TRUE(m.negBdd[2] == u3);
    EXPECT_TRUE(m.posBdd[1] == u3);
}

TEST_F(Replay, EquivalenceCopiesTheFunctionWithItsSign) {
    set(2, u3);
    set(-2, !u3);
    EXPECT_EQ(replay(equiv(1, 2, 1, u5)), 1);  // x1 = x2 where u5
    EXPECT_TRUE(m.posBdd[1] == (u3 & u5));
    EXPECT_TRUE(m.negBdd[1] == ((!u3) & u5));
    // x4 = -x2: by s, by a negative b, and both (which cancel).
    EXPECT_EQ(replay(equiv(4, 2, -1, bdd::one())), 1);
    EXPECT_TRUE(m.posBdd[4] == !u3);
    EXPECT_TRUE(m.negBdd[4] == u3);
}

TEST_F(Replay, EquivalenceWithANegativeB) {
    set(2, u3);
    set(-2, !u3);
    EXPECT_EQ(replay(equiv(4, -2, 1, bdd::one())), 1);  // x4 = -x2
    EXPECT_TRUE(m.posBdd[4] == !u3);
    EXPECT_TRUE(m.negBdd[4] == u3);
    EXPECT_EQ(replay(equiv(1, -2, -1, bdd::one())), 1);  // x1 = --x2
    EXPECT_TRUE(m.posBdd[1] == u3);
    EXPECT_TRUE(m.negBdd[1] == !u3);
    EXPECT_EQ(faultOf(equiv(1, 0, 1, bdd::one())), LOG_BAD_VARIABLE);
    EXPECT_EQ(faultOf(equiv(1, 6, 1, bdd::one())), LOG_BAD_VARIABLE);
    EXPECT_EQ(faultOf(equiv(1, -6, 1, bdd::one())), LOG_BAD_VARIABLE);
    EXPECT_EQ(faultOf(equiv(1, 3, 1, bdd::one())), LOG_UNIVERSAL_ASSIGNED);
}

TEST_F(Replay, EquivalenceClausesStillUnsatisfiedAssignBothSides) {
    // Nothing known about x2; the clause (1 v 2), present where u5, is unsatisfied there:
    // x1 and x2 (s = 1) become true there.
    EXPECT_EQ(replay(equiv(1, 2, 1, bdd::one(), {clause({1, 2}, u5)})), 1);
    EXPECT_TRUE(m.posBdd[1] == u5);
    EXPECT_TRUE(m.posBdd[2] == u5);
    // With s = -1 and a negative b the second assignment is to s * y = x4.
    EXPECT_EQ(replay(equiv(1, -4, 1, u3, {clause({1}, u3)})), 1);
    EXPECT_TRUE(m.posBdd[1] == (u5 | u3));
    EXPECT_TRUE(m.negBdd[4] == (u3 & !u5));
    EXPECT_TRUE(m.posBdd[4].isZero());
}

TEST_F(Replay, SatEncodingAssignsTheEncodedScenarios) {
    LogEntry e;
    e.kind = SAT_ENCODING;
    InverseVarMapping& map = e.mapping;
    map.nonemptyExNumVar = 2;
    map.cnfVarNum = 6;
    InverseVarRow a;
    a.exVar = 1;
    a.startingIndex = 1;
    a.relevantUniv = {3, 5};
    a.relevantUnivSize = 2;
    a.cubeMapping = {CubeMapping{{2, 2}, 1}};
    a.numOfCubes = 1;
    InverseVarRow b;
    b.exVar = 4;
    b.startingIndex = 5;
    b.relevantUniv = {};
    b.relevantUnivSize = 0;
    b.cubeMapping = {CubeMapping{{}, 5}};
    b.numOfCubes = 1;
    map.rows = {a, b};
    // CNF 1..4: x1 at (u3,u5) = 00, 10, 01, 11; CNF 5: x4; CNF 6: beyond the row, also x4.
    e.values = {0, 1, 0, 7, 1, 0, -1};
    EXPECT_EQ(replay(std::move(e)), 1);
    EXPECT_TRUE(m.posBdd[1] == (((!u3) & (!u5)) | (u3 & u5)));
    EXPECT_TRUE(m.negBdd[1] == (u3 & !u5));
    EXPECT_TRUE(m.negBdd[4].isOne());  // no relevant universals: the constant one
    EXPECT_TRUE(m.posBdd[4].isZero());
}

TEST_F(Replay, SatEncodingRefusesWhatItCannotMap) {
    LogEntry e;
    e.kind = SAT_ENCODING;
    InverseVarRow a;
    a.exVar = 1;
    a.startingIndex = 3;
    a.cubeMapping = {CubeMapping{{}, 3}};
    a.numOfCubes = 1;
    e.mapping.rows = {a};
    e.mapping.nonemptyExNumVar = 1;
    e.mapping.cnfVarNum = 3;
    e.values = {0, 2, 1, 1};  // CNF 1 is unassigned (skipped); CNF 2 lies below the first row
    LogEntry copy = e;
    EXPECT_EQ(faultOf(std::move(e)), LOG_BAD_CNF_VARIABLE);
    copy.values = {0, 2, 2, 1};
    EXPECT_EQ(replay(std::move(copy)), 1);
    EXPECT_TRUE(m.posBdd[1].isOne());
    LogEntry universal;
    universal.kind = SAT_ENCODING;
    a.exVar = 3;
    universal.mapping.rows = {a};
    universal.mapping.nonemptyExNumVar = 1;
    universal.mapping.cnfVarNum = 3;
    universal.values = {0, 2, 2, 0};
    EXPECT_EQ(faultOf(std::move(universal)), LOG_UNIVERSAL_ASSIGNED);
}

TEST_F(Replay, NumbersOutsideTheSlotsAreFaults) {
    EXPECT_EQ(faultOf(entry(G_ASSIGN, 6)), LOG_BAD_VARIABLE);
    EXPECT_EQ(faultOf(entry(S_ASSIGN, -9, bdd::one())), LOG_BAD_VARIABLE);
    EXPECT_EQ(faultOf(entry(B_OUT, 0)), LOG_BAD_VARIABLE);
    EXPECT_EQ(faultOf(res(G_RES, 7, {}, {})), LOG_BAD_VARIABLE);
    EXPECT_EQ(faultOf(res(S_RES, 1, {clause({1, 12}, bdd::one())}, {})), LOG_BAD_VARIABLE);
    EXPECT_EQ(faultOf(res(S_RES, 3, {}, {})), LOG_UNIVERSAL_ASSIGNED);
    LogEntry cubes;
    cubes.kind = G_CUBES;
    cubes.cubes = {LogCube{1, {-3}, Bdd()}};
    EXPECT_EQ(faultOf(std::move(cubes)), LOG_BAD_VARIABLE);
    // Nothing was assigned on the way.
    for (int v = 0; v < 6; ++v) EXPECT_TRUE(m.posBdd[v].isZero() && m.negBdd[v].isZero());
}

TEST_F(Replay, OtherKindsChangeNothing) {
    for (int kind : {0, 11, 12, 42}) EXPECT_EQ(replay(entry(kind, 1)), 1);  // replayed: no fault either
    for (int v = 0; v < 6; ++v) EXPECT_TRUE(m.posBdd[v].isZero() && m.negBdd[v].isZero());
}

// ---- the whole reconstruction ----

namespace {

// Runs reconstruction over the log in a child (one manager per process is all the
// engine holds) and reports its output, the certificate's x1 and the reader's status.
struct Outcome {
    std::string out;
    int status = -1;
};

Outcome reconstructIn(const std::string& content, int verbosity) {
    testsupport::TempDir dir;
    std::string path = dir.file("r.Tobrin.log");
    testsupport::writeFile(path, content);
    logtest::Ended ended = logtest::inChild([&] {
        steps::setVerbosity(verbosity);
        auto reader = logOpen(path);
        std::unique_ptr<QBModel> model = reconstructModel(*reader, {1, false}, steps::display());
        std::printf("|");
        if (model) {
            std::printf("model x1=%s/%s", model->posBdd[1].isOne() ? "1" : "?", model->negBdd[1].isZero() ? "0" : "?");
        } else if (logIsError(*reader)) {
            std::printf("reader: %s at line \"%s\"", logStatusText(*reader), logLastLine(*reader));
        } else {
            std::printf("none");
        }
    });
    return Outcome{testsupport::maskTimes(ended.out), ended.status};
}

LogBuilder small() { return LogBuilder(false, 6, {3, 5}, {11, 12, 13, 14, 15}); }

}  // namespace

TEST(Reconstruction, ProgressMarksCountDownFromTheTrailer) {
    LogBuilder b = small();
    for (int id = 1; id <= 19; ++id) b.entry(id, "G_ASSIGN", b.assign(id == 19 ? 1 : 2));
    Outcome r = reconstructIn(b.finish(20), 3);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "\n\n1.Inductive reconstruction [0% 10% 20% 30% 40% 50% 60% 70% 80% 90% 100%] "
                     "[OK, X.XXs]|model x1=1/0");
}

TEST(Reconstruction, MarksSkippedByLargeStepsAreCaughtUp) {
    // Trailer 3: entries 2 and 1 give 33% (no mark) and 66% (no mark); all come at the end.
    LogBuilder b = small();
    b.entry(1, "G_ASSIGN", b.assign(1));
    b.entry(2, "G_ASSIGN", b.assign(2));
    Outcome r = reconstructIn(b.finish(3), 3);
    EXPECT_EQ(r.out, "\n\n1.Inductive reconstruction [0% 10% 20% 30% 40% 50% 60% 70% 80% 90% 100%] "
                     "[OK, X.XXs]|model x1=1/0");
}

TEST(Reconstruction, EmptyLogWithTrailerZero) {
    Outcome r = reconstructIn(small().finish(0), 3);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "\n\n1.Inductive reconstruction [0% 10% 20% 30% 40% 50% 60% 70% 80% 90% 100%] "
                     "[OK, X.XXs]|model x1=?/0");
}

TEST(Reconstruction, SilentBeyondTheVerbosity) {
    LogBuilder b = small();
    b.entry(1, "G_ASSIGN", b.assign(1));
    EXPECT_EQ(reconstructIn(b.finish(2), 0).out, "|model x1=1/0");
}

TEST(Reconstruction, ContradictionClosesTheStepWithTheEntry) {
    LogBuilder b = small();
    b.entry(1, "G_ASSIGN", b.assign(1));
    b.entry(2, "G_RES", b.gRes(1, {{1, 2}}, {{-1, 4}}));
    b.entry(3, "G_ASSIGN", b.assign(-4));  // leaves (-1 v 4) unsatisfied
    Outcome r = reconstructIn(b.finish(10), 3);
    // Entry 3 is replayed (70%), entry 2 fails at 80%: the marks go up to it.
    EXPECT_EQ(r.out, "\n\n1.Inductive reconstruction [0% 10% 20% 30% 40% 50% 60% 70% (UNSAT contradiction)80% "
                     "[OK, PROBLEMS, entry 2, X.XXs]|none");
}

TEST(Reconstruction, ReaderErrorClosesTheStepPlainly) {
    LogBuilder b = small();
    b.entry(1, "G_ASSIGN", b.assign(1));
    b.entry(2, "G_WHAT", b.assign(1));
    b.entry(3, "G_ASSIGN", b.assign(2));
    Outcome r = reconstructIn(b.finish(4), 3);
    // Entry 3 is at 25%: no mark yet.
    EXPECT_EQ(r.out, "\n\n1.Inductive reconstruction [0% [OK, X.XXs]|reader: Unknown log entry type at line "
                     "\"#2: G_WHAT [" + std::to_string(b.data().find("#2:") - b.data().find("#1:")) + "]\n\"");
}

TEST(Reconstruction, MalformedReplaySetsTheReaderStatus) {
    LogBuilder b = small();
    b.entry(1, "G_ASSIGN", b.assign(1));
    for (int id = 2; id <= 9; ++id) b.entry(id, "B_OUT", b.i(3));  // 8 hypotheses, 7 slots
    Outcome r = reconstructIn(b.finish(10), 3);
    EXPECT_NE(r.out.find("[OK, X.XXs]|reader: Universal hypotheses nested deeper than the stack at line \"#2: B_OUT"),
              std::string::npos)
        << r.out;
}

TEST(Reconstruction, ReaderAlreadyInError) {
    Outcome r = reconstructIn(small().finish(1, "FALSE"), 3);
    EXPECT_EQ(r.out, "|reader: This is not a TRUE formula at line \"outcome: FALSE\n\"");
}

TEST(Reconstruction, SymbolicLogInBothModes) {
    for (bool binary : {false, true}) {
        testsupport::TempDir dir;
        std::string path = dir.file("s.Tobrin.log");
        {
            bdd::Manager writer(3);
            Bdd u1 = bdd::ithVar(1), u2 = bdd::ithVar(2);
            LogBuilder b(binary, 6, {3, 5}, {11, 12, 13, 14, 15});
            b.entry(1, "S_CUBES", b.sCubes({1, 2, 4}, {u1, u1 & u2, bdd::one()}));
            b.entry(2, "S_RES", b.sRes(1, {{1, 2}}, {{-1}}, {u1, !u1}));
            b.entry(3, "S_ASSIGN", b.sAssign(-2, u1 & u2));
            testsupport::writeFile(path, b.finish(4));
        }
        logtest::Ended ended = logtest::inChild([&] {
            steps::setVerbosity(0);
            auto reader = logOpen(path);
            std::unique_ptr<QBModel> model = reconstructModel(*reader, {}, steps::display());
            if (!model) return;
            Bdd u1 = bdd::ithVar(1), u2 = bdd::ithVar(2);
            // Replayed last first: x2 false where u1 & u2; the resolution on x1 (no cube
            // yet: no projection) needs x1 where u1 and -x1 where !u1; then the cubes.
            std::printf("%d%d%d%d", model->negBdd[2] == (u1 & u2), model->posBdd[1] == u1, model->negBdd[1] == !u1,
                        model->indepCube[1] == u2);
        });
        EXPECT_EQ(ended.out, "1111") << (binary ? "binary" : "text");
    }
}

TEST(Reconstruction, DamagedLogsEndCleanly) {
    // Random bytes of a log with every kind overwritten: reconstruction ends with a
    // certificate, none, or the documented abnormal exit; never a crash or a hang.
    for (bool binary : {false, true}) {
        std::string content;
        {
            bdd::Manager writer(3);
            Bdd u1 = bdd::ithVar(1), u2 = bdd::ithVar(2);
            LogBuilder b(binary, 6, {3, 5}, {11, 12, 13, 14, 15});
            b.entry(1, "G_CUBES", b.gCubes({{1, {3}}, {2, {3, 5}}}));
            b.entry(2, "S_CUBES", b.sCubes({4}, {u1}));
            b.entry(3, "B_IN", LogBuilder::bIn(1, 'a', 3));
            b.entry(4, "G_RES", b.gRes(1, {{1, 3, 2}}, {{-1, -5}}));
            b.entry(5, "S_RES", b.sRes(2, {{2, 4}}, {{-2}}, {u1 | u2, !u1}));
            b.entry(6, "S_EQUIV", b.sEquiv(4, -2, 1, {{4, 1}}, {u2, bdd::one()}));
            b.entry(7, "B_OUT", b.i(3));
            b.entry(8, "S_ASSIGN", b.sAssign(-4, u1 & u2));
            b.entry(9, "SAT_ENCODING", b.satEncoding(1, {1, 0, 1}, {{1, 1, {3, 5}, {{{2, 0}, 1}, {{1, 1}, 3}}}}));
            b.entry(10, "ROLLBACK", LogBuilder::rollback(9));
            content = b.finish(11);
        }
        Outcome whole = reconstructIn(content, 0);
        EXPECT_EQ(whole.out, "|model x1=?/?") << (binary ? "binary" : "text");
        std::srand(binary ? 7 : 3);
        for (int round = 0; round < 60; ++round) {
            std::string damaged = content;
            int hits = 1 + std::rand() % 4;
            for (int h = 0; h < hits; ++h) {
                std::size_t at = static_cast<std::size_t>(std::rand()) % damaged.size();
                damaged[at] = static_cast<char>(std::rand() % 256);
            }
            Outcome r = reconstructIn(damaged, 0);
            bool abnormal = r.out.rfind("[Abnormal exit due to error", 0) == 0;
            EXPECT_TRUE(r.status == 0 || (r.status == 255 && abnormal)) << r.status << " " << r.out;
        }
    }
}
