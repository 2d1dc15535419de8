// Where the formula of an instance is found and what is said when an input is no input:
// a trace's or circuit's formula is checked whatever its name, directories on the way
// never decide what a file is, QBM files find their formula from anywhere, inputs of one
// stem write apart, and a file that is no input is named in an error.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "tests/support/run.h"

namespace {

using testsupport::plumex;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

// forall 1, exists 2: 2 = not 1 is the only certificate.
const char* const kFormula = "p cnf 2 2\na 1 0\ne 2 0\n1 2 0\n-1 -2 0\n";
// A circuit that sets 2 := 1, wrong for the formula; and one that sets 2 := not 1.
const char* const kWrongCircuit = "aag 1 1 0 1 0\n2\n2\ni0 1\no0 2\n";
const char* const kRightCircuit = "aag 1 1 0 1 0\n2\n3\ni0 1\no0 2\n";

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class FormulaPaths : public ::testing::Test {
  protected:
    TempDir dir;
    std::string put(const std::string& name, const std::string& text) {
        std::string path = dir.file(name);
        std::string parent = path.substr(0, path.rfind('/'));
        testsupport::run({"/bin/mkdir", "-p", parent});
        writeFile(path, text);
        return path;
    }
};

TEST_F(FormulaPaths, ACircuitsFormulaIsCheckedWhateverItsName) {
    for (const char* name : {"d1.txt", "d1.cnf", "d1.qdimacs.txt"}) {
        put(name, kFormula);
        put("d1.aag", kWrongCircuit);
        testsupport::RunResult r = plumex({"-qbf", name, "d1.aag"}, dir.path());
        EXPECT_EQ(r.status, 20) << name << "\n" << r.out;
        EXPECT_TRUE(has(r.out, "Certificate is INVALID")) << r.out;
        EXPECT_FALSE(has(r.out, "Verification skipped")) << r.out;
        put("d1.aag", kRightCircuit);
        EXPECT_EQ(plumex({"-qbf", name, "d1.aag"}, dir.path()).status, 10) << name;
    }
    // Not a formula at all: an error with the reason, never a verdict.
    put("notes.txt", "hello\n");
    testsupport::RunResult r = plumex({"-qbf", "notes.txt", "d1.aag"}, dir.path());
    EXPECT_EQ(r.status, 255) << r.out;
    EXPECT_TRUE(has(r.out, "Error: formula \"notes.txt\"")) << r.out;
}

TEST_F(FormulaPaths, ADirectoryOnTheWayIsFollowedAndNeverTakenAsTheFormula) {
    put("X.qdimacs/f.qdimacs", kFormula);
    put("X.qdimacs/c.aag", kWrongCircuit);
    testsupport::RunResult r = plumex({"-qbf", "X.qdimacs/f.qdimacs", "X.qdimacs/c.aag"}, dir.path());
    EXPECT_EQ(r.status, 20) << r.out;
    // A log's or QBM file's formula reached through such a directory is read too.
    r = plumex({"-check", "X.qdimacs/c.qbm"}, dir.path());
    EXPECT_EQ(r.status, 20) << r.out;
    EXPECT_TRUE(has(r.out, "Certificate is INVALID")) << r.out;
}

TEST_F(FormulaPaths, AQbmFileFindsItsFormulaFromAnyWorkingDirectory) {
    put("qbmpath/sub/d1.qdimacs", kFormula);
    put("qbmpath/sub/d1.aag", kWrongCircuit);
    EXPECT_EQ(plumex({"qbmpath/sub/d1.aag"}, dir.path()).status, 20);
    EXPECT_TRUE(has(readFile(dir.file("qbmpath/sub/d1.qbm")), "# formula: \"d1.qdimacs\"\n"));
    for (const auto& [cwd, path] : {std::pair<std::string, std::string>{dir.path(), "qbmpath/sub/d1.qbm"},
                                    {dir.file("qbmpath/sub"), "d1.qbm"},
                                    {dir.file("qbmpath"), "sub/d1.qbm"},
                                    {"/", dir.file("qbmpath/sub/d1.qbm")}}) {
        testsupport::RunResult r = plumex({"-check", path}, cwd);
        EXPECT_EQ(r.status, 20) << cwd << " " << path << "\n" << r.out;
    }
    // So does a batch run from elsewhere.
    put("qbmpath/sub/ok.qdimacs", kFormula);
    put("qbmpath/sub/ok.aag", kRightCircuit);
    EXPECT_EQ(plumex({"qbmpath/sub/ok.aag"}, dir.path()).status, 10);
    testsupport::RunResult r = plumex({"-check", dir.file("qbmpath")}, "/");
    EXPECT_TRUE(has(r.out, "1/2 instances successfully processed.")) << r.out;
}

TEST_F(FormulaPaths, InputsOfOneStemWriteApartAndPlumexReadsWhatItWrote) {
    put("x.qdimacs", kFormula);
    put("x.aag", kRightCircuit);
    put("x.aig", "aig 1 1 0 1 0\n3\ni0 1\no0 2\n");
    testsupport::RunResult r = plumex({"-v", "3", "."}, dir.path());
    EXPECT_TRUE(has(r.out, "2/2 instances successfully processed.")) << r.out;
    EXPECT_TRUE(testsupport::fileExists(dir.file("x.qbm")));
    EXPECT_TRUE(testsupport::fileExists(dir.file("x.aig.qbm")));
    // Plumex's own dump of a QBM file, read back, gives a QBM name Plumex reads.
    EXPECT_EQ(plumex({"-dump", "aag", "x.qbm"}, dir.path()).status, 10);
    r = plumex({"-qbf", "x.qdimacs", "x.qbm.aag"}, dir.path());
    EXPECT_EQ(r.status, 10) << r.out;
    EXPECT_EQ(plumex({"-check", "x_qbm.qbm"}, dir.path()).status, 10);
}

TEST_F(FormulaPaths, AFileThatIsNoInputIsNamedInAnError) {
    put("empty.aag", "");
    put("empty.qrp", "");
    testsupport::RunResult r = plumex({"empty.aag"}, dir.path());
    EXPECT_EQ(r.status, 255);
    EXPECT_TRUE(has(r.out, "Error: \"empty.aag\": the file is empty")) << r.out;
    r = plumex({"empty.qrp"}, dir.path());
    EXPECT_EQ(r.status, 255);
    EXPECT_TRUE(has(r.out, "Error: \"empty.qrp\": the file is empty")) << r.out;
    r = plumex({"/dev/zero"}, dir.path());
    EXPECT_EQ(r.status, 254);
    EXPECT_TRUE(has(r.out, "Error: \"/dev/zero\": it is not a regular file")) << r.out;
    // A pipe named like an input is never opened for reading (that would wait for a writer).
    ASSERT_EQ(mkfifo(dir.file("pipe.qrp").c_str(), 0600), 0);
    r = testsupport::run({"/usr/bin/timeout", "10", testsupport::binary("plumex"), "pipe.qrp"}, dir.path());
    EXPECT_EQ(r.status, 255) << r.out;
    EXPECT_TRUE(has(r.out, "Error: \"pipe.qrp\": it is not a regular file")) << r.out;
}

}  // namespace
