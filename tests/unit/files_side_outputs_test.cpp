// The QDC partial certificate and the certificate's DOT drawing.
#include <gtest/gtest.h>

#include <string>

#include "certificate/reconstruct.h"
#include "certificate/strip.h"
#include "files/certificate_dot.h"
#include "files/qbm.h"
#include "files/qdc.h"
#include "pipeline/settings.h"
#include "tests/support/recorder.h"
#include "tests/support/run.h"

namespace {

using testsupport::readFile;
using testsupport::TempDir;

// Externals: universal 7, existentials 1..5 (internal 1..5, universal internal 6).
std::unique_ptr<QBModel> sample() {
    auto m = newReplayModel("f.qdimacs", 7, {0, 6}, {0, 1, 2, 3, 4, 5, 7}, 7);
    bdd::Bdd u = bdd::ithVar(1);
    m->posBdd[1] = bdd::one();   // true everywhere
    m->negBdd[2] = bdd::one();   // false everywhere
    m->posBdd[3] = u;            // depends on u
    m->negBdd[3] = !u;
    m->posBdd[4] = !u;           // the negation of 3
    m->negBdd[4] = u;
    m->posBdd[5] = u;            // the same as 3, after 4
    m->negBdd[5] = !u;
    // 1 and 2 depend on no universal; 3..5 on u.
    m->indepCube[1] = m->allUnivCube;
    m->indepCube[2] = m->allUnivCube;
    for (int v = 3; v <= 5; ++v) m->indepCube[v] = bdd::one();
    return m;
}

TEST(Qdc, ListsExactlyTheExistentialsConstantInEveryScenario) {
    TempDir dir;
    std::string path = dir.file("c.qdc");
    std::string expected =
        "c Solver: Tobrin v0.3-beta, (revision 311, compiled Nov 10 2006)\n"
        "c Instance: \"f.qdimacs\"\n"
        "s cnf 1 7 [unknown]\n"
        "v 1 -2 \n";
    {
        auto m = sample();
        ASSERT_TRUE(writeQdc(*m, path));
        EXPECT_EQ(readFile(path), expected);
        // Read back from its QBM file the certificate has no dependency information.
        m->dddmpMode = 'A';
        ASSERT_TRUE(writeQbm(*m, dir.file("c.qbm")));
    }
    {
        ModelResult read = readQbm(dir.file("c.qbm"));
        ASSERT_TRUE(read) << read.message();
        ASSERT_TRUE(writeQdc(**read, path));
        EXPECT_EQ(readFile(path).substr(readFile(path).find("\nv ") + 1), "v \n");
    }
    // Stripped variables are not listed.
    auto m = sample();
    stripVariables(*m, {2}, {5}, steps::silent());
    ASSERT_TRUE(writeQdc(*m, path));
    EXPECT_EQ(readFile(path).substr(readFile(path).find("\nv ") + 1), "v -2 \n");
}

TEST(CertificateDot, GroupsSameAndComplementaryFunctions) {
    TempDir dir;
    std::string path = dir.file("c.qbm.dot");
    auto m = sample();
    ASSERT_EQ(writeCertificateDot(*m, path).message(), "");
    std::string dot = readFile(path);
    // 1 (one/zero) and 2 (zero/one) are complementary and total: one root for both.
    EXPECT_NE(dot.find("\"  e1 !e2  \""), std::string::npos) << dot;
    // 3, 4 (negated), 5 (same) form one group.
    EXPECT_NE(dot.find("\"  e3 !e4 e5  \""), std::string::npos) << dot;
    EXPECT_EQ(dot.find("!e3 e4 !e5"), std::string::npos) << dot;  // total: no second root
    EXPECT_NE(dot.find("a7"), std::string::npos) << dot;
    testsupport::RunResult r = testsupport::run({"/bin/sh", "-c", "dot -Tsvg '" + path + "' > /dev/null"});
    EXPECT_EQ(r.status, 0) << r.err;

    // A partial function keeps its second root.
    m->negBdd[5] = bdd::zero();
    ASSERT_EQ(writeCertificateDot(*m, path).message(), "");
    dot = readFile(path);
    EXPECT_NE(dot.find("\"  e5  \""), std::string::npos) << dot;
    EXPECT_NE(dot.find("\"  !e5  \""), std::string::npos) << dot;

    std::string error = writeCertificateDot(*m, dir.file("none/c.dot")).message();
    EXPECT_NE(error.find("cannot create"), std::string::npos) << error;
}

TEST(Stripping, KeepsTheIntervalsAndDropsTheRest) {
    auto m = sample();
    testsupport::Recorder recorder;
    stripVariables(*m, {2, 4, 9, 3}, {3, 4, 1000000000, 2}, recorder);
    EXPECT_EQ(recorder.text, "Stripping variables [2-3] [4-4] [9-1000000000] [3-2] [OK]");
    EXPECT_EQ(m->complete, 0);
    EXPECT_EQ(m->inScope, (std::vector<int>{0, 0, 1, 1, 1, 0, 0}));
    EXPECT_TRUE(m->posBdd[1].isNull() && m->negBdd[1].isNull() && m->posBdd[5].isNull());
    EXPECT_TRUE(m->negBdd[2].isOne());

    m.reset();  // one manager at a time
    auto all = sample();
    stripVariables(*all, {}, {}, steps::silent());
    EXPECT_EQ(all->complete, 1);
    EXPECT_EQ(all->inScope, std::vector<int>(7, 1));
}

}  // namespace
