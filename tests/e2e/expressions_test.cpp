// The expression language end to end: the real binary over a QBM certificate written by
// the program's own QBM writer, with "-eval" lists, single direct expressions, argument
// errors, expression files and every expression dump.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "bdd/dddmp.h"
#include "bdd/engine.h"
#include "certificate/model.h"
#include "files/qbm.h"
#include "pipeline/settings.h"
#include "tests/support/run.h"

namespace {

using testsupport::fileExists;
using testsupport::maskTimes;
using testsupport::plumex;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

const std::string kBanner = "Plumex v0.3-beta, (revision 393, compiled Nov 10 2006)";

// Universals 3 and 4; existentials 5 (always true), 6 (= universal 3), 7 (true where 3
// and 4, false where neither, undetermined elsewhere).
// With contradictory, also 8: true everywhere and false where 3 (an inconsistent
// certificate). mode: the QBM file's DDDMP mode, which the dumps then use.
void writeCertificate(const std::string& path, bool contradictory = false, char mode = 'B') {
    QBModel model;
    model.manager = std::make_unique<bdd::Manager>(3);
    model.formula = "absent.qdimacs";
    int e = contradictory ? 4 : 3;
    model.numVars = 3 + e;
    model.numUniv = 2;
    model.numExist = e;
    model.maxExtVar = 4 + e;
    model.extToInt = {0, 0, 0, 1, 2, 3, 4, 5, 6};
    model.extToInt.resize(model.maxExtVar + 1);
    model.intToExt = {0, 3, 4, 5, 6, 7, 8};
    model.intToExt.resize(model.numVars);
    model.univVar = {0, 1, 2};
    model.univIndex.assign(model.numVars, 0);
    model.univIndex[1] = 1;
    model.univIndex[2] = 2;
    model.existVar = {0, 3, 4, 5, 6};
    model.existVar.resize(e + 1);
    model.existPos = {0, 0, 0, 1, 2, 3, 4};
    model.existPos.resize(model.numVars);
    bdd::Bdd a = bdd::ithVar(1), b = bdd::ithVar(2);
    model.posBdd = {bdd::zero(), bdd::zero(), bdd::zero(), bdd::one(), a, a & b, bdd::one()};
    model.negBdd = {bdd::zero(), bdd::zero(), bdd::zero(), bdd::zero(), !a, (!a) & (!b), a};
    model.posBdd.resize(model.numVars);
    model.negBdd.resize(model.numVars);
    model.dddmpMode = mode;
    ASSERT_EQ(writeQbm(model, path).message(), "");
}

struct Eval : ::testing::Test {
    void SetUp() override {
        qbm = dir.file("cert.qbm");
        writeCertificate(qbm);
    }
    testsupport::RunResult run(std::vector<std::string> args) {
        args.push_back(qbm);
        testsupport::RunResult r = plumex(args, dir.path());
        r.out = maskTimes(r.out);
        // The scratch directory's name changes from run to run.
        for (std::size_t at; (at = r.out.find(dir.path())) != std::string::npos;) r.out.replace(at, dir.path().size(), "DIR");
        return r;
    }
    TempDir dir;
    std::string qbm;
};


const std::string kCertification =
    "  a.Certification \n"
    "    1.Consistency check        [0% 10% 20% 30% 40% 50% 60% 70% 80% 90% 100%] [OK, X.XXs]\n"
    "    [OK, Verification skipped, cannot parse \"absent.qdimacs\", X.XXs]\n";

std::string expected(const std::string& steps, const std::string& verdict) {
    return kBanner + "\n\n1.Processing \"DIR/cert.qbm\"...  \n" + kCertification + steps + "  [OK, " + verdict +
           ", X.XXs]\n\n";
}

TEST_F(Eval, InverseListIsEvaluatedAndDumpedAsOneBddFile) {
    auto r = run({"-eval", "<5, dc 7, or(6,7)>"});
    EXPECT_EQ(r.status, 10);
    EXPECT_EQ(r.out, expected("  b.Evaluation (inverse) \n"
                              "    1.5 = always [OK, X.XXs]\n"
                              "    2.dc(7) = 50% [OK, X.XXs]\n"
                              "    3.or(6,7) = [50%:25%] [OK, X.XXs]\n"
                              "    [OK, X.XXs]\n"
                              "  c.Stripping variables [OK, X.XXs]\n"
                              "  d.Dump to file: \n"
                              "    1.BDD representation: \"DIR/cert.qbm.exp.bdd\" [OK, X.XXs]\n"
                              "    [OK, X.XXs]\n",
                              "VALID"));
    std::string dump = readFile(dir.file("cert.qbm.exp.bdd"));
    EXPECT_EQ(dump.substr(0, dump.find(".ver")),
              "c Tobrin BDD expression dump file\n"
              "c QBModel: " + qbm + "\n"
              "c Expression: <5,dc(7),or(6,7)> = <always,50%,[50%:25%]>\n"
              "c\n");
    EXPECT_NE(dump.find(".rootnames 5 dc(7) or(6,7) !or(6,7)\n"), std::string::npos);
    EXPECT_NE(dump.find(".auxids 3 4\n"), std::string::npos);
}

TEST_F(Eval, DirectListWithItsResultFile) {
    auto r = run({"-dump", "direxp", "-eval", "<6,and(6,7)>(3)"});
    EXPECT_EQ(r.status, 10);  // two expressions: the certificate's verdict stands
    EXPECT_EQ(r.out, expected("  b.Evaluation (direct) \n"
                              "    1.6(3) = T [OK, X.XXs]\n"
                              "    2.<and(6,7)>(3) = wT [OK, X.XXs]\n"
                              "    [OK, X.XXs]\n"
                              "  c.Stripping variables [OK, X.XXs]\n"
                              "  d.Dump to file: \n"
                              "    1.Direct expression result: \"DIR/cert.qbm.exp.direct\" [OK, X.XXs]\n"
                              "    [OK, X.XXs]\n",
                              "VALID"));
    EXPECT_EQ(readFile(dir.file("cert.qbm.exp.direct")), "<6,and(6,7)>(3) = <T,wT>\n");
}

TEST_F(Eval, ASingleDirectExpressionGivesTheExitStatus) {
    auto r = run({"-eval", "or(6, 7) (-3, 4)"});
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.out, expected("  b.Evaluation (direct) \n"
                              "    1.<or(6,7)>(-3,4) = DC [OK, X.XXs]\n"
                              "    [OK, X.XXs]\n"
                              "  c.Stripping variables [OK, X.XXs]\n"
                              "  d.Dump to file: [OK, X.XXs]\n",
                              "PROBLEMS"));
    const std::pair<const char*, int> codes[] = {
        {"6(-3)", 0}, {"6(3)", 1}, {"7(-3)", 2}, {"7(3)", 3}, {"7(3,-4)", 4}, {"6()", 5}, {"5()", 1}, {"6(3,-3)", 4},
    };
    for (const auto& [text, code] : codes) EXPECT_EQ(run({"-eval", text}).status, code) << text;
}

TEST_F(Eval, BadArgumentType) {
    auto r = run({"-eval", "and(6,3)"});
    EXPECT_EQ(r.status, 10);
    EXPECT_EQ(r.out, expected("  b.Evaluation (inverse) [OK, Bad argument type, X.XXs]\n"
                              "  c.Stripping variables [OK, X.XXs]\n"
                              "  d.Dump to file: [OK, X.XXs]\n",
                              "VALID"));
    EXPECT_FALSE(fileExists(dir.file("cert.qbm.exp.bdd")));
    // A single direct expression that fails the check has no code of its own: -1.
    r = run({"-eval", "6(5)"});
    EXPECT_EQ(r.status, 255);
    EXPECT_NE(r.out.find("  b.Evaluation (direct) [OK, Bad argument type, X.XXs]\n"), std::string::npos) << r.out;
    EXPECT_EQ(run({"-eval", "<6,7>(9)"}).status, 10);
    EXPECT_EQ(run({"-eval", "not(12)"}).status, 10);
}

TEST_F(Eval, ContradictoryCertificateGivesProblemsInEvaluation) {
    writeCertificate(qbm, true);
    auto r = run({"-eval", "8()"});
    EXPECT_EQ(r.status, 6);
    EXPECT_NE(r.out.find("  b.Evaluation (direct) \n"
                         "    1.8() = ERR [OK, X.XXs]\n"
                         "    [OK, Problems in evaluation, X.XXs]\n"),
              std::string::npos)
        << r.out;
    r = run({"-eval", "<6,8>"});
    EXPECT_EQ(r.status, 20);  // inconsistent, and its inverse evaluation still runs
    EXPECT_NE(r.out.find("    2.8 = always [OK, X.XXs]\n    [OK, X.XXs]\n"), std::string::npos) << r.out;
}

TEST_F(Eval, ExpressionFileWithGoodMalformedAndFailingLines) {
    writeFile(dir.file("queries.txt"), "7\nor(6, 7)  trailing words\nhello world\nand(6,3)\n<6,7>(-3)\n");
    auto r = run({"-eval", "queries.txt"});
    EXPECT_EQ(r.status, 10);
    EXPECT_EQ(r.out, expected("  b.Evaluation (queries.txt) \n"
                              "    1.7 = [25%:25%] [OK, X.XXs]\n"
                              "    2.Dump to file [OK, X.XXs]\n"
                              "    3.or(6,7) = [50%:25%] [OK, X.XXs]\n"
                              "    4.Dump to file [OK, X.XXs]\n"
                              "    5.and(6,3) [OK, Evaluation error, X.XXs]\n"
                              "    6.<6,7>(-3) = <F,wF> [OK, X.XXs]\n"
                              "    7.Dump to file [OK, X.XXs]\n"
                              "    [OK, X.XXs]\n"
                              "  c.Stripping variables [OK, X.XXs]\n"
                              "  d.Dump to file: \n"
                              "    1.Expressions [OK, Peformed on-the-fly during evaluation, X.XXs]\n"
                              "    [OK, X.XXs]\n",
                              "VALID"));
    EXPECT_EQ(readFile(dir.file("queries.txt.result")),
              "7 = [25%:25%] \n"
              "or(6, 7) = [50%:25%]   trailing words\n"
              "hello world\n"
              "and(6,3) =  [ERROR]  \n"
              "<6,7>(-3) = <F,wF> \n");
    // The raised BDD dump is written per inverse line; the direct line needs "direxp".
    EXPECT_TRUE(fileExists(dir.file("queries.txt.result.line1.exp.bdd")));
    EXPECT_TRUE(fileExists(dir.file("queries.txt.result.line2.exp.bdd")));
    EXPECT_FALSE(fileExists(dir.file("queries.txt.result.line4.exp.bdd")));
    EXPECT_FALSE(fileExists(dir.file("queries.txt.result.line5.exp.direct")));
    EXPECT_FALSE(fileExists(dir.file("cert.qbm.exp.bdd")));

    run({"-dump", "exp=cnf", "direxp", "-eval", "queries.txt"});
    EXPECT_TRUE(fileExists(dir.file("queries.txt.result.line5.exp.direct")));
    EXPECT_EQ(readFile(dir.file("queries.txt.result.line5.exp.direct")), "<6,7>(-3) = <F,wF>\n");
    EXPECT_TRUE(fileExists(dir.file("queries.txt.result.line1.true.exp.cnf")));
}

int dotStatus(const std::string& path) {
    return testsupport::run({"/usr/bin/dot", "-Tsvg", "-o", "/dev/null", path}).status;
}

TEST_F(Eval, DumpExpWritesEveryFormat) {
    auto r = run({"-dump", "exp", "-eval", "<5,7>"});
    EXPECT_EQ(r.status, 10);
    EXPECT_NE(r.out.find("  d.Dump to file: \n"
                         "    1.BDD representation: \"DIR/cert.qbm.exp.bdd\" [OK, X.XXs]\n"
                         "    2.CNF representation: \"DIR/cert.qbm.1.exp.cnf\" [OK, X.XXs]\n"
                         "    3.CNF representation: \"DIR/cert.qbm.2.true.exp.cnf\" [OK, X.XXs]\n"
                         "    4.CNF representation: \"DIR/cert.qbm.2.false.exp.cnf\" [OK, X.XXs]\n"
                         "    5.DOT representation: \"DIR/cert.qbm.exp.dot\" [OK, X.XXs]\n"
                         "    [OK, X.XXs]\n"),
              std::string::npos)
        << r.out;
    std::string cnf = readFile(dir.file("cert.qbm.1.exp.cnf"));
    EXPECT_NE(cnf.find("c Expression: 5\nc\nc NOTE: the expression is always TRUE\nc\np cnf 0 0\n"), std::string::npos);
    std::string t = readFile(dir.file("cert.qbm.2.true.exp.cnf"));
    EXPECT_NE(t.find("c Expression: 7\n"), std::string::npos);
    EXPECT_NE(t.find("\n3 0\n4 0\n"), std::string::npos) << t;  // universals by their formula numbers
    std::string f = readFile(dir.file("cert.qbm.2.false.exp.cnf"));
    EXPECT_NE(f.find("c Expression: !7\n"), std::string::npos);
    if (fileExists("/usr/bin/dot")) {
        EXPECT_EQ(dotStatus(dir.file("cert.qbm.exp.dot")), 0);
    }
    std::string dot = readFile(dir.file("cert.qbm.exp.dot"));
    EXPECT_NE(dot.find("\" a3 \""), std::string::npos);
    EXPECT_NE(dot.find("\"  !7  \""), std::string::npos);
}

TEST_F(Eval, OneFilePerExpression) {
    auto r = run({"-dump", "exp=bdds", "-eval", "<5,7,dc(dc(6))>"});
    EXPECT_EQ(r.status, 10);
    EXPECT_NE(r.out.find("    1.BDD representation: \"DIR/cert.qbm.1.exp.bdd\" [OK, X.XXs]\n"
                         "    2.BDD representation: \"DIR/cert.qbm.2.exp.bdd\" [OK, X.XXs]\n"
                         "    3.BDD representation: \"DIR/cert.qbm.3.exp.bdd\" [OK, X.XXs]\n"
                         "    [OK, X.XXs]\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(readFile(dir.file("cert.qbm.1.exp.bdd")),
              "c Tobrin BDD expression dump file\nc QBModel: " + qbm +
                  "\nc Expression: 5\nc\nc NOTE: the expression is always TRUE\nc\n\n");
    EXPECT_EQ(readFile(dir.file("cert.qbm.3.exp.bdd")),
              "c Tobrin BDD expression dump file\nc QBModel: " + qbm +
                  "\nc Expression: dc(dc(6))\nc\nc NOTE: the expression is always FALSE\nc\n");
    EXPECT_NE(readFile(dir.file("cert.qbm.2.exp.bdd")).find(".rootnames 7 !7\n"), std::string::npos);
    EXPECT_FALSE(fileExists(dir.file("cert.qbm.exp.bdd")));

    r = run({"-dump", "exp=dots", "-eval", "<6,7>"});
    EXPECT_NE(r.out.find("    1.DOT representation: \"DIR/cert.qbm.1.exp.dot\" [OK, X.XXs]\n"
                         "    2.DOT representation: \"DIR/cert.qbm.2.exp.dot\" [OK, X.XXs]\n"),
              std::string::npos)
        << r.out;
    for (const char* name : {"cert.qbm.1.exp.dot", "cert.qbm.2.exp.dot"}) {
        if (fileExists("/usr/bin/dot")) {
            EXPECT_EQ(dotStatus(dir.file(name)), 0) << name;
        }
    }
    EXPECT_EQ(readFile(dir.file("cert.qbm.1.exp.dot")).find("!6"), std::string::npos);  // one root: 6 is determined
    EXPECT_NE(readFile(dir.file("cert.qbm.2.exp.dot")).find("\"  !7  \""), std::string::npos);

    r = run({"-dump", "exp=cnf", "-eval", "6"});
    EXPECT_NE(r.out.find("    1.CNF representation: \"DIR/cert.qbm.exp.cnf\" [OK, X.XXs]\n    [OK, X.XXs]\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(readFile(dir.file("cert.qbm.exp.cnf")).find("\n3 0\n"), std::string::npos);
}

TEST_F(Eval, TextModeBddDumpsNameTheUniversalsSoThatTheyLoadBack) {
    writeCertificate(qbm, false, 'A');
    auto r = run({"-eval", "<6,7>"});
    EXPECT_EQ(r.status, 10);
    std::string dump = readFile(dir.file("cert.qbm.exp.bdd"));
    std::string data = dump.substr(dump.find(".ver"));
    EXPECT_NE(data.find(".mode A\n.varinfo 3\n"), std::string::npos);
    EXPECT_NE(data.find(".suppvarnames a3 a4\n.orderedvarnames a0 a3 a4\n"), std::string::npos) << data;
    EXPECT_NE(data.find(".nodes\n1 T 1 0 0\n"), std::string::npos) << data;
    bdd::Manager manager(3);
    std::FILE* fp = fmemopen(data.data(), data.size(), "rb");
    dddmp::LoadResult loaded = dddmp::loadArray(fp, 'A');
    std::fclose(fp);
    ASSERT_TRUE(loaded.ok()) << loaded.message();
    bdd::Bdd a = bdd::ithVar(1), b = bdd::ithVar(2);
    ASSERT_EQ(loaded->size(), 3u);
    EXPECT_EQ((*loaded)[0], a);
    EXPECT_EQ((*loaded)[1], a & b);
    EXPECT_EQ((*loaded)[2], (!a) & (!b));
}

TEST_F(Eval, ADumpThatCannotBeWrittenIsReportedAsAFailure) {
    // A directory in the way of the dump's name: the file cannot be put in place.
    ASSERT_EQ(testsupport::run({"/bin/mkdir", dir.file("cert.qbm.exp.bdd")}).status, 0);
    auto r = run({"-eval", "6"});
    EXPECT_EQ(r.status, 255);
    EXPECT_NE(r.out.find("    1.BDD representation: \"DIR/cert.qbm.exp.bdd\" [OK, cannot write \"DIR/cert.qbm.exp.bdd\""),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("\"DIR/cert.qbm.exp.bdd\" [OK, X.XXs]"), std::string::npos);
    // No temporary file is left behind.
    auto ls = testsupport::run({"/bin/ls", dir.path()});
    EXPECT_EQ(ls.out.find("tmp"), std::string::npos) << ls.out;
}

TEST_F(Eval, DeeplyNestedExpressionIsRefusedWithoutACrash) {
    // 20,000 levels: within what one command-line argument may hold, beyond the parser's limit.
    std::string deep;
    for (int i = 0; i < 20000; ++i) deep += "not(";
    deep += "6";
    for (int i = 0; i < 20000; ++i) deep += ")";
    // The input is named first, so the refused option only ends the scan.
    auto r = plumex({qbm, "-eval", deep}, dir.path());
    EXPECT_EQ(r.status, 10);
    EXPECT_EQ(r.out.find("Evaluation"), std::string::npos);
    EXPECT_EQ(r.err, "");
}

// From a solver log: a formula whose existentials are forced (3 = universal 1,
// 4 = 1 and 2), solved by the log writer; the dumps are named after the QBM file written
// next to the log, in the log's storage mode.
TEST(EvalLog, ExpressionsOverAReconstructedCertificate) {
    std::string writer = testsupport::binary("plumex-logwriter");
    if (!fileExists(writer)) GTEST_SKIP() << "the log writer is not built";
    TempDir dir;
    writeFile(dir.file("f.qdimacs"), "p cnf 4 5\na 1 2 0\ne 3 4 0\n-1 3 0\n1 -3 0\n-4 1 0\n-4 2 0\n4 -1 -2 0\n");
    for (const char* mode : {"text", "binary"}) {
        SCOPED_TRACE(mode);
        std::string log = dir.file(std::string("f-") + mode + ".Tobrin.log");
        auto w = testsupport::run({writer, "--mode", mode, "-o", log, dir.file("f.qdimacs")});
        ASSERT_EQ(w.status, 10) << w.err;  // the solver's code for a true formula
        auto r = plumex({"-dump", "qbm", "exp", "-eval", "<3,4,xor(3,4),implies(4,3)>", log}, dir.path());
        EXPECT_EQ(r.status, 10) << r.out;
        std::string out = maskTimes(r.out);
        EXPECT_NE(out.find("Certificate is VALID"), std::string::npos) << out;
        EXPECT_NE(out.find("Evaluation (inverse) \n"
                           "    1.3 = 50% [OK, X.XXs]\n"
                           "    2.4 = 25% [OK, X.XXs]\n"
                           "    3.xor(3,4) = 25% [OK, X.XXs]\n"
                           "    4.implies(4,3) = always [OK, X.XXs]\n"
                           "    [OK, X.XXs]\n"),
                  std::string::npos)
            << out;
        std::string qbm = dir.file(std::string("f-") + mode + ".qbm");
        EXPECT_NE(out.find("BDD representation: \"" + qbm + ".exp.bdd\" [OK, X.XXs]"), std::string::npos) << out;
        std::string bdd = readFile(qbm + ".exp.bdd");
        EXPECT_NE(bdd.find("c Expression: <3,4,xor(3,4),implies(4,3)> = <50%,25%,25%,always>\n"), std::string::npos);
        bool text = std::string(mode) == "text";
        EXPECT_EQ(bdd.find(".mode A\n.varinfo 3\n") != std::string::npos, text);
        EXPECT_EQ(bdd.find(".suppvarnames a1 a2\n") != std::string::npos, text) << bdd;
        // The universals' formula numbers name the CNF variables: 4 = 1 and 2.
        std::string cnf = readFile(qbm + ".2.exp.cnf");
        EXPECT_NE(cnf.find("\n1 0\n2 0\n"), std::string::npos) << cnf;
        if (fileExists("/usr/bin/dot")) {
            EXPECT_EQ(testsupport::run({"/usr/bin/dot", "-Tsvg", "-o", "/dev/null", qbm + ".exp.dot"}).status, 0);
        }
        // The certificate read back from its QBM file answers the same.
        r = plumex({"-dump", "direxp", "-eval", "4(1,-2)", qbm}, dir.path());
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(readFile(qbm + ".exp.direct"), "4(1,-2) = F\n");
    }
}

}  // namespace
