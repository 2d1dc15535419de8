// The validity check of countermodels, seen from the command line: countermodel circuits
// against their false formulas, one that holds, one that names the existential
// assignment under which every clause survives (plain and gzip formula), and one whose
// function reads an existential quantified after its universal.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/run.h"

namespace {

using testsupport::maskTimes;
using testsupport::RunResult;

struct CountermodelCheck : ::testing::Test {
    testsupport::TempDir dir;
    void file(const std::string& name, const std::string& content) { testsupport::writeFile(dir.file(name), content); }
    RunResult run(const std::vector<std::string>& args) { return testsupport::plumex(args, dir.path()); }
};

// The validity step's line of a run, times masked.
std::string validityLine(const std::string& out) {
    std::string masked = maskTimes(out);
    std::size_t at = masked.find("2.Validity check");
    if (at == std::string::npos) return "";
    return masked.substr(at, masked.find('\n', at) - at);
}

const std::string kMarks = "[0% 10% 20% 30% 40% 50% 60% 70% 80% 90% 100%] ";

// e1 e2 a3: x1 and x2 are forced, and then u3 = 0 falsifies the last clause.
const char kForced[] = "p cnf 3 3\ne 1 2 0\na 3 0\n1 0\n2 0\n3 -1 -2 0\n";
// u3 = -(x1 & x2) holds; u3 = x1 & x2 leaves every clause satisfied where x1 = x2 = 1.
const char kNand[] = "aag 3 2 0 1 1\n2\n4\n7\n6 2 4\ni0 1\ni1 2\no0 3\n";
const char kAnd[] = "aag 3 2 0 1 1\n2\n4\n6\n6 2 4\ni0 1\ni1 2\no0 3\n";

TEST_F(CountermodelCheck, ACircuitThatRefutesEveryAssignmentHolds) {
    file("f.qdimacs", kForced);
    file("f.aag", kNand);
    RunResult r = run({"f.aag"});
    EXPECT_EQ(r.status, 11) << r.out;
    EXPECT_EQ(validityLine(r.out), "2.Validity check           " + kMarks + "[OK, X.XXs]") << r.out;
    EXPECT_NE(r.out.find("Countermodel is VALID"), std::string::npos) << r.out;
}

TEST_F(CountermodelCheck, AFailingCircuitNamesTheSatisfyingAssignment) {
    file("f.qdimacs", kForced);
    file("f.aag", kAnd);
    RunResult r = run({"f.aag"});
    EXPECT_EQ(r.status, 20) << r.out;
    EXPECT_EQ(validityLine(r.out), "2.Validity check           " + kMarks + "Satisfying assignment: 1 2 [OK, X.XXs]")
        << r.out;
    EXPECT_NE(r.out.find("Countermodel is INVALID"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "");

    // The same from a gzip formula.
    std::string gz = dir.file("z.qdimacs.gz");
    ASSERT_EQ(testsupport::run({"/bin/sh", "-c", "gzip -c f.qdimacs > z.qdimacs.gz"}, dir.path()).status, 0);
    file("z.aag", kAnd);
    r = run({"-qbf", gz, "z.aag"});
    EXPECT_EQ(r.status, 20) << r.out;
    EXPECT_EQ(validityLine(r.out), "2.Validity check           " + kMarks + "Satisfying assignment: 1 2 [OK, X.XXs]")
        << r.out;
}

TEST_F(CountermodelCheck, AFunctionOfALaterExistentialIsRefused) {
    // e1 | a3 | e2: u3 may read x1 only; the circuit gives it x2.
    file("l.qdimacs", "p cnf 3 2\ne 1 0\na 3 0\ne 2 0\n3 1 0\n-3 -1 0\n");
    file("l.aag", "aag 2 1 0 1 0\n4\n4\ni0 2\no0 3\n");
    RunResult r = run({"l.aag"});
    EXPECT_EQ(r.status, 20) << r.out;
    EXPECT_EQ(validityLine(r.out),
              "2.Validity check           Problem, variable 3 depends on a later existential [OK, X.XXs]")
        << r.out;
}

}  // namespace
