// Files written from a countermodel: the QBM file names its polarity and reads back as a
// countermodel, and the drawings, the partial certificate and the AIGER files name the
// existentials as inputs and the universals as functions.
#include <gtest/gtest.h>

#include <string>

#include "certificate/model.h"
#include "certificate/reconstruct.h"
#include "files/aiger.h"
#include "files/certificate_dot.h"
#include "files/qbm.h"
#include "files/qdc.h"
#include "tests/support/run.h"

namespace {

using testsupport::readFile;
using testsupport::TempDir;

// forall 1, exists 2 3, forall 4: the universals 1 (constant true) and 4 (= 2 and 3)
// are functions of the existentials 2 and 3 (internal 1..4 = external 1..4).
std::unique_ptr<QBModel> sample() {
    auto m = newReplayModel("f.qdimacs", 5, {0, 2, 3}, {0, 1, 2, 3, 4}, 4);
    m->polarity = Polarity::False;
    bdd::Bdd x2 = bdd::ithVar(1), x3 = bdd::ithVar(2);
    m->posBdd[1] = bdd::one();
    m->negBdd[1] = bdd::zero();
    m->posBdd[4] = x2 & x3;
    m->negBdd[4] = !(x2 & x3);
    return m;
}

TEST(CountermodelFiles, TheQbmFileNamesItsPolarityAndReadsBackAsACountermodel) {
    TempDir dir;
    std::string path = dir.file("c.qbm");
    for (char mode : {'A', 'B'}) {
        {
            auto m = sample();
            m->dddmpMode = mode;
            ASSERT_EQ(writeQbm(*m, path).message(), "");
        }
        std::string header = std::string("# QBM file, 1.4\n# polarity: countermodel\n# solver: Tobrin\n") +
                             "# formula: \"f.qdimacs\"\n# complete: YES\n# dump format: " +
                             (mode == 'A' ? "text" : "binary") + "\n# existentials[2]: 2 3 \n# universals[2]: 1 4 \n";
        EXPECT_EQ(readFile(path).substr(0, header.size()), header);
        ModelResult read = readQbm(path);
        ASSERT_TRUE(read) << read.message();
        QBModel& r = **read;
        EXPECT_TRUE(r.countermodel());
        EXPECT_EQ(r.numUniv, 2);   // the inputs: existentials 2 and 3
        EXPECT_EQ(r.numExist, 2);  // the functions: universals 1 and 4
        int u4 = r.extToInt[4];
        bdd::Bdd x2 = bdd::ithVar(1), x3 = bdd::ithVar(2);
        EXPECT_TRUE(r.posBdd[u4] == (x2 & x3));
        EXPECT_TRUE(r.posBdd[r.extToInt[1]].isOne());
    }
    // A polarity Plumex does not know is refused, not misread.
    std::string text = readFile(path);
    text.replace(text.find("countermodel"), 12, "sideways");
    testsupport::writeFile(path, text);
    ModelResult bad = readQbm(path);
    ASSERT_FALSE(bad);
    EXPECT_EQ(bad.message(), "unknown polarity \"sideways\"");
}

TEST(CountermodelFiles, DrawingsAndPartialCertificatesNameTheRolesTheRightWayRound) {
    TempDir dir;
    auto m = sample();
    ASSERT_TRUE(writeCertificateDot(*m, dir.file("c.dot")));
    std::string dot = readFile(dir.file("c.dot"));
    EXPECT_NE(dot.find("\" e2 \""), std::string::npos) << dot;
    EXPECT_NE(dot.find("\"  a4  \""), std::string::npos) << dot;
    EXPECT_EQ(dot.find("a2"), std::string::npos) << dot;

    // Universal 1 comes before every existential: its value is the partial certificate.
    markOutermostFunctions(*m, {{'a', {1}}, {'e', {2, 3}}, {'a', {4}}});
    ASSERT_TRUE(writeQdc(*m, dir.file("c.qdc")));
    std::string qdc = readFile(dir.file("c.qdc"));
    EXPECT_NE(qdc.find("s cnf 0 5 [unknown]\nv 1 \n"), std::string::npos) << qdc;

    // A free existential comes before every universal: nothing is outermost.
    m.reset();
    auto free = sample();
    markOutermostFunctions(*free, {{'a', {1}}, {'e', {3}}, {'a', {4}}});
    ASSERT_TRUE(writeQdc(*free, dir.file("f.qdc")));
    EXPECT_NE(readFile(dir.file("f.qdc")).find("\nv \n"), std::string::npos);
}

TEST(CountermodelFiles, AigerFilesTakeTheExistentialsInAndGiveTheUniversalsOut) {
    TempDir dir;
    auto m = sample();
    ASSERT_TRUE(writeAag(*m, dir.file("c.aag")));
    std::string bdds = readFile(dir.file("c.aag"));
    EXPECT_NE(bdds.find("i0 2\ni1 3\no0 1\no1 4\nc\nPlumex countermodel of \"f.qdimacs\"\n"), std::string::npos)
        << bdds;

    // Without BDDs the circuit form is written: universal 4 = 2 and 3, universal 1 true.
    auto circuit = std::make_shared<FunctionCircuit>();
    circuit->numInputs = 2;
    circuit->output.assign(5, FunctionCircuit::kNone);
    circuit->output[1] = FunctionCircuit::kTrue;
    circuit->output[4] = circuit->conjoin(circuit->input(1), circuit->input(2));
    m->circuit = circuit;
    m->noBdds = "too large";
    for (int v : {1, 4}) m->posBdd[v] = m->negBdd[v] = bdd::Bdd();
    ASSERT_TRUE(writeAag(*m, dir.file("d.aag")));
    EXPECT_EQ(readFile(dir.file("d.aag")).substr(0, readFile(dir.file("d.aag")).find("i0")),
              "aag 5 2 0 2 3\n4\n6\n2\n8\n2 1 1\n8 10 1\n10 6 4\n");
}

}  // namespace
