// Proof traces whose faults used to slip by or got the wrong words, end to end: a step
// that removes an existential before a universal beside one it may remove, a trace whose
// header counts fewer variables than its formula, a formula with more clauses than the
// trace's, a number too large, and gzip traces too short to hold a header.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "tests/support/run.h"

namespace {

using testsupport::readFile;
using testsupport::writeFile;

// The step's closing text after "Error: ", or "".
std::string errorOf(const testsupport::RunResult& r) {
    std::size_t at = r.out.find("[OK, Error: ");
    if (at == std::string::npos) return "";
    at += 12;
    std::size_t end = r.out.rfind(", ", r.out.find("s]", at));
    return r.out.substr(at, end - at);
}

class TraceFaults : public ::testing::Test {
  protected:
    testsupport::TempDir dir;
    testsupport::RunResult run(const std::string& name, const std::string& trace, const std::string& formula) {
        writeFile(dir.file(name + ".qdimacs"), formula);
        writeFile(dir.file(name + ".qrp"), trace);
        return testsupport::plumex({"-v", "3", name + ".qrp"}, dir.path());
    }
};

TEST_F(TraceFaults, EveryRemovedExistentialIsCheckedNotOnlyTheLast) {
    // Step 3 removes 4, which it may (no universal after it), and 2, which it may not:
    // universal 3 stays after it.
    const char* formula = "p cnf 4 1\na 1 0\ne 2 0\na 3 0\ne 4 0\n2 4 0\n";
    const char* trace =
        "p qrp 4 1\na 1 0\ne 2 0\na 3 0\ne 4 0\n1 2 4 0 0\n2 2 3 4 0 0\n3 3 0 2 0\n4 2 -3 4 0 0\n5 -3 0 4 0\n"
        "6 0 5 3 0\nr SAT\n";
    testsupport::RunResult r = run("r3", trace, formula);
    EXPECT_EQ(errorOf(r), "step 3: a reduction removes existential 2 with a later universal left") << r.out;
    EXPECT_EQ(r.status, 255);
}

TEST_F(TraceFaults, FreeVariablesAboveTheTracesCountDoNotMakeACorrectTraceInvalid) {
    // DepQBF's trace of the formula with V = 5, certified against one with V = 7 whose
    // free variable 6 only widens a clause.
    const char* formula = "p cnf 7 4\na 1 0\ne 2 3 0\na 4 0\ne 5 0\n1 2 6 0\n-1 -2 0\n2 3 -4 0\n1 -1 3 0\n";
    const char* trace =
        "p qrp 6 4\na 1 0\ne 2 3 0\na 4 0\ne 5 0\n1 1 2 6 0 0\n2 -1 -2 0 0\n3 2 3 -4 0 0\n4 2 3 0 3 0\n"
        "6 -2 3 1 0 0\n7 1 0 6 0\n8 2 -1 0 0\n9 -1 0 8 0\n10 0 9 7 0\nr SAT\n";
    testsupport::RunResult r = run("v", trace, formula);
    EXPECT_EQ(r.status, 10) << r.out;
    EXPECT_NE(r.out.find("Certificate is VALID"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("mismatch"), std::string::npos) << r.out;
}

TEST_F(TraceFaults, AFormulaWithMoreClausesThanTheTracesIsSaidNotToMatch) {
    const char* trace =
        "p qrp 5 4\na 1 0\ne 2 3 0\na 4 0\ne 5 0\n1 1 2 0 0\n2 -1 -2 0 0\n3 2 3 -4 0 0\n4 2 3 0 3 0\n"
        "6 -2 3 1 0 0\n7 1 0 6 0\n8 2 -1 0 0\n9 -1 0 8 0\n10 0 9 7 0\nr SAT\n";
    const char* formula = "p cnf 5 6\na 1 0\ne 2 3 0\na 4 0\ne 5 0\n1 2 0\n-1 -2 0\n2 3 -4 0\n1 -1 3 0\n2 -1 0\n3 1 0\n";
    testsupport::RunResult r = run("c", trace, formula);
    EXPECT_EQ(errorOf(r),
              "the trace and the formula \"c.qdimacs\" do not match: the formula has 5 clauses (not counting "
              "tautologies), the trace's formula 4")
        << r.out;
    EXPECT_EQ(r.status, 255);
}

TEST_F(TraceFaults, ANumberTooLargeForAStepIsABadNumber) {
    // Found by fuzzing: 29 digits overflowed the reading of a whole line at once.
    const char* formula = "p cnf 5 4\na 1 0\ne 2 3 0\na 4 0\ne 5 0\n1 2 0\n-1 -2 0\n2 3 -4 0\n1 -1 3 0\n";
    const char* trace =
        "p qrp 5 4\na 1 0\ne 2 3 0\na 4 0\ne 5 0\n1 1 2 0 0\n2 -1 -2 0 0\n3 2 3 -4 0 0\n4 2 3 0 3 0\n"
        "6 -2 3 1 0 0\n7 1 0 6 0\n8 22222222222222222222222222222 -1 0 0\n9 -1 0 8 0\n10 0 9 7 0\nr SAT\n";
    testsupport::RunResult r = run("n", trace, formula);
    EXPECT_EQ(errorOf(r), "step 8: bad number in literals") << r.out;
    EXPECT_EQ(r.status, 255);
}

TEST_F(TraceFaults, AVeryShortGzipTraceGetsAnErrorNamingIt) {
    const char* formula = "p cnf 1 1\ne 1 0\n1 0\n";
    writeFile(dir.file("s.qdimacs"), formula);
    gzFile out = gzopen(dir.file("s.qrp.gz").c_str(), "wb");
    gzwrite(out, "p q", 3);
    gzclose(out);
    testsupport::RunResult r = testsupport::plumex({"s.qrp.gz"}, dir.path());
    EXPECT_EQ(errorOf(r), "not a proof trace (no header): \"s.qrp.gz\" ends before its first line") << r.out;
    EXPECT_EQ(r.status, 255);
    // A gzip stream cut short after its own header.
    std::string whole = readFile(dir.file("s.qrp.gz"));
    writeFile(dir.file("t.qdimacs"), formula);
    writeFile(dir.file("t.qrp.gz"), whole.substr(0, 12));
    r = testsupport::plumex({"t.qrp.gz"}, dir.path());
    EXPECT_NE(errorOf(r).find("\"t.qrp.gz\""), std::string::npos) << r.out;
    EXPECT_EQ(r.status, 255);
}

}  // namespace
