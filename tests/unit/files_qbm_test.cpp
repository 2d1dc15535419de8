// The QBM file: what is written, what reads back, and which bodies are refused.
#include <gtest/gtest.h>

#include <string>

#include "certificate/reconstruct.h"
#include "certificate/strip.h"
#include "files/qbm.h"
#include "outcomes/reporter.h"
#include "tests/support/run.h"

namespace {

using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

// Externals 10, 20 (universals) and 11, 12, 13 (existentials), internal 1..5 in the
// order 10 11 20 12 13.
std::unique_ptr<QBModel> sample() {
    auto m = newReplayModel("dir/my formula.qdimacs", 6, {0, 1, 3}, {0, 10, 11, 20, 12, 13}, 20);
    bdd::Bdd a = bdd::ithVar(1), b = bdd::ithVar(2);
    m->posBdd[2] = a & b;
    m->negBdd[2] = !(a & b);
    m->posBdd[4] = a;
    m->negBdd[4] = bdd::zero();
    m->posBdd[5] = bdd::one();
    m->negBdd[5] = bdd::zero();
    return m;
}

TEST(Qbm, WritesTheHeaderAndReadsTheSameFunctionsBack) {
    TempDir dir;
    std::string path = dir.file("c.qbm");
    for (char mode : {'A', 'B'}) {
        {
            auto m = sample();
            m->dddmpMode = mode;
            ASSERT_EQ(writeQbm(*m, path).message(), "");
            EXPECT_GT(m->nodeCount, 0);
        }
        std::string text = readFile(path);
        std::string header = std::string("# QBM file, 1.3\n# solver: Tobrin\n# formula: \"dir/my formula.qdimacs\"\n") +
                             "# complete: YES\n# dump format: " + (mode == 'A' ? "text" : "binary") +
                             "\n# universals[2]: 10 20 \n# existentials[3]: 11 12 13 \n.ver DDDMP-2.0\n";
        EXPECT_EQ(text.substr(0, header.size()), header);

        ModelResult read = readQbm(path);
        ASSERT_TRUE(read) << read.message();
        QBModel& r = **read;
        EXPECT_EQ(r.dddmpMode, mode);
        EXPECT_EQ(r.formula, "dir/my formula.qdimacs");
        EXPECT_EQ(r.numVars, 6);
        EXPECT_EQ(r.numExist, 3);
        EXPECT_EQ(r.numUniv, 2);
        // Existentials first, then universals.
        EXPECT_EQ(r.intToExt, (std::vector<int>{0, 11, 12, 13, 10, 20}));
        EXPECT_EQ(r.univVar, (std::vector<int>{0, 4, 5}));
        bdd::Bdd a = bdd::ithVar(1), b = bdd::ithVar(2);
        EXPECT_TRUE(r.posBdd[1] == (a & b));
        EXPECT_TRUE(r.negBdd[1] == !(a & b));
        EXPECT_TRUE(r.posBdd[2] == a);
        EXPECT_TRUE(r.negBdd[2].isZero());
        EXPECT_TRUE(r.posBdd[3].isOne());
        EXPECT_TRUE(r.posBdd[4].isZero() && r.negBdd[5].isZero());
        EXPECT_TRUE(r.posBdd[0].isNull());
        EXPECT_TRUE(r.indepCube[1].isNull());
    }
}

TEST(Qbm, RewritingAFileReadBackGivesTheSameBytes) {
    TempDir dir;
    for (char mode : {'A', 'B'}) {
        std::string first = dir.file("1.qbm"), second = dir.file("2.qbm");
        {
            auto m = sample();
            m->dddmpMode = mode;
            ASSERT_TRUE(writeQbm(*m, first));
        }
        ModelResult read = readQbm(first);
        ASSERT_TRUE(read) << read.message();
        stripVariables(**read, {}, {}, steps::silent());
        ASSERT_TRUE(writeQbm(**read, second));
        EXPECT_EQ(readFile(first), readFile(second));
    }
}

TEST(Qbm, StrippedAndEmptyCertificates) {
    TempDir dir;
    std::string path = dir.file("s.qbm");
    {
        auto m = sample();
        m->dddmpMode = 'A';
        stripVariables(*m, {12}, {13}, steps::silent());
        ASSERT_TRUE(writeQbm(*m, path));
    }
    std::string text = readFile(path);
    EXPECT_NE(text.find("# complete: NO\n"), std::string::npos);
    EXPECT_NE(text.find("# existentials[2]: 12 13 \n"), std::string::npos);
    {
        ModelResult read = readQbm(path);
        ASSERT_TRUE(read) << read.message();
        EXPECT_EQ((*read)->numExist, 2);
        EXPECT_EQ((*read)->complete, 0);
    }
    {
        auto m = sample();
        m->dddmpMode = 'A';
        stripVariables(*m, {100}, {200}, steps::silent());
        ASSERT_TRUE(writeQbm(*m, path));
    }
    EXPECT_NE(readFile(path).find("# existentials[0]: \n"), std::string::npos);
    ModelResult read = readQbm(path);
    ASSERT_TRUE(read) << read.message();
    EXPECT_EQ((*read)->numExist, 0);
}

TEST(Qbm, MalformedFilesAreRefusedWithAMessage) {
    TempDir dir;
    std::string good = dir.file("g.qbm");
    {
        auto m = sample();
        m->dddmpMode = 'A';
        ASSERT_TRUE(writeQbm(*m, good));
    }
    std::string text = readFile(good);
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string t = text;
        std::size_t at = t.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return t.replace(at, from.size(), to);
    };
    struct Case {
        std::string body;
        std::string error;
    } cases[] = {
        {replaced("1.3", "1.2"), "unsupported QBM version"},
        {replaced("text", "octal"), "unknown dump format \"octal\""},
        {replaced("universals[2]: 10 20", "universals[3]: 10 20"), "bad number in the universals line"},
        {replaced("universals[2]", "universals[99999999]"), "bad universals count"},
        {replaced("existentials[3]: 11 12 13", "existentials[3]: 11 0 13"), "bad number in the existentials line"},
        {replaced("existentials[3]: 11 12 13", "existentials[3]: 11 -12 13"), "bad number in the existentials line"},
        {replaced("existentials[3]: 11 12 13", "existentials[3]: 11 20 13"), "variable 20 listed twice"},
        {replaced("existentials[3]: 11 12 13", "existentials[3]: 11 11 13"), "variable 11 listed twice"},
        {replaced("existentials[3]: 11 12 13", "existentials[4]: 11 12 13 14"), "the forest has 6 roots for 4 existentials"},
        {replaced("\"dir/my formula.qdimacs\"", "dir"), "bad formula line"},
        {text.substr(0, 60), "header cut short"},
        {replaced(".nodes", ".nodez"), "bad forest: "},
        {text.substr(0, text.size() - 10), "bad forest: "},
    };
    for (const Case& c : cases) {
        std::string path = dir.file("bad.qbm");
        writeFile(path, c.body);
        ModelResult read = readQbm(path);
        EXPECT_FALSE(read) << c.error;
        EXPECT_NE(read.message().find(c.error), std::string::npos) << "expected " << c.error << ", got " << read.message();
    }
    ModelResult missing = readQbm(dir.file("none.qbm"));
    EXPECT_NE(missing.message().find("cannot open"), std::string::npos);
}

TEST(Qbm, UnwritableFileLeavesNothingAndSaysSo) {
    TempDir dir;
    auto m = sample();
    std::string error = writeQbm(*m, dir.file("no/such/dir/c.qbm")).message();
    EXPECT_NE(error.find("cannot create \"" + dir.file("no/such/dir/c.qbm") + "\""), std::string::npos) << error;
}

}  // namespace
