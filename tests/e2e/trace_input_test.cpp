// Proof traces as input, end to end: the real binary on hand-made traces of one small
// formula (valid, malformed, false), the formula found beside the trace or named with
// -qbf, gzip traces, the QBM file written next to the trace, and traces as batch
// instances.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include <cstdio>

#include <sstream>
#include <string>
#include <vector>

#include "tests/support/run.h"
#include "tests/support/trace_forms.h"

namespace {

using testsupport::fileExists;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

// forall 1, exists 2 3, forall 4, exists 5: true (2 = not 1).
const char* const kFormula =
    "p cnf 5 4\na 1 0\ne 2 3 0\na 4 0\ne 5 0\n1 2 0\n-1 -2 0\n2 3 -4 0\n1 -1 3 0\n";

// What DepQBF writes for it (clause 5 is tautological: its id prints nothing).
const char* const kTrace =
    "p qrp 5 4\na 1 0\ne 2 3 0\na 4 0\ne 5 0\n"
    "1 1 2 0 0\n2 -1 -2 0 0\n3 2 3 -4 0 0\n4 2 3 0 3 0\n"
    "6 -2 3 1 0 0\n7 1 0 6 0\n8 2 -1 0 0\n9 -1 0 8 0\n10 0 9 7 0\nr SAT\n";

using testsupport::binaryTrace;
using testsupport::replaced;
using testsupport::varint;

void writeGzip(const std::string& path, const std::string& content) {
    gzFile gz = gzopen(path.c_str(), "wb");
    gzwrite(gz, content.data(), static_cast<unsigned>(content.size()));
    gzclose(gz);
}

// The step's closing text after "Error: ", or "".
std::string errorOf(const testsupport::RunResult& r) {
    std::size_t at = r.out.find("[OK, Error: ");
    if (at == std::string::npos) return "";
    at += 12;
    std::size_t end = r.out.rfind(", ", r.out.find("s]", at));  // before the step's seconds
    return r.out.substr(at, end - at);
}

class TraceInput : public ::testing::Test {
  protected:
    TempDir dir;
    std::string run(const std::string& name, const std::string& trace, std::vector<std::string> args = {}) {
        writeFile(dir.file(name + ".qdimacs"), kFormula);
        writeFile(dir.file(name + ".qrp"), trace);
        args.push_back(name + ".qrp");
        last = testsupport::plumex(args, dir.path());
        return errorOf(last);
    }
    testsupport::RunResult last;
};

TEST_F(TraceInput, AValidTraceIsCertifiedAndItsQbmRecordsFormulaAndSolver) {
    EXPECT_EQ(run("f", kTrace), "");
    EXPECT_EQ(last.status, 10) << last.out;
    EXPECT_NE(last.out.find("Certificate is VALID"), std::string::npos) << last.out;
    std::string qbm = readFile(dir.file("f.qbm"));
    EXPECT_NE(qbm.find("# solver: DepQBF\n# formula: \"f.qdimacs\"\n"), std::string::npos) << qbm;
}

TEST_F(TraceInput, BinaryAndGzipTracesGiveTheSameCertificate) {
    run("f", kTrace);
    std::string ascii = readFile(dir.file("f.qbm"));
    writeFile(dir.file("b.qdimacs"), kFormula);
    writeFile(dir.file("b.qrp"), binaryTrace(kTrace));
    testsupport::RunResult b = testsupport::plumex({"b.qrp"}, dir.path());
    EXPECT_EQ(b.status, 10) << b.out;
    writeGzip(dir.file("g.qrp.gz"), binaryTrace(kTrace));
    writeGzip(dir.file("g.qdimacs.gz"), kFormula);
    testsupport::RunResult g = testsupport::plumex({"g.qrp.gz"}, dir.path());
    EXPECT_EQ(g.status, 10) << g.out;
    std::string gq = readFile(dir.file("g.qbm"));
    auto forest = [](const std::string& q) { return q.substr(q.find("# complete")); };
    EXPECT_EQ(forest(gq), forest(ascii));
    EXPECT_EQ(forest(readFile(dir.file("b.qbm"))), forest(ascii));
}

TEST_F(TraceInput, WithoutAFormulaATraceOrCircuitIsRefused) {
    writeFile(dir.file("lone.qrp"), kTrace);
    testsupport::RunResult r = testsupport::plumex({"lone.qrp"}, dir.path());
    EXPECT_EQ(r.status, 255);
    EXPECT_NE(r.out.find("Error: no formula for \"lone.qrp\""), std::string::npos) << r.out;
    // A circuit needs its formula as well; a file named like a circuit without the format's
    // first bytes is named in an error.
    writeFile(dir.file("lone.aag"), "aag 0 0 0 0 0\n");
    r = testsupport::plumex({"lone.aag"}, dir.path());
    EXPECT_EQ(r.status, 255);
    EXPECT_NE(r.out.find("Error: no formula for \"lone.aag\""), std::string::npos) << r.out;
    writeFile(dir.file("fake.aig"), "aag 0 0 0 0 0\n");
    r = testsupport::plumex({"fake.aig"}, dir.path());
    EXPECT_EQ(r.status, 255);
    EXPECT_NE(r.out.find("Error: \"fake.aig\": it is not a binary AIGER circuit (it does not begin with \"aig \")"),
              std::string::npos)
        << r.out;
    writeFile(dir.file("other.qcnf"), kFormula);
    r = testsupport::plumex({"-qbf", "other.qcnf", "lone.qrp"}, dir.path());
    EXPECT_EQ(r.status, 10) << r.out;
}

TEST_F(TraceInput, MalformedTracesGetClearMessages) {
    const std::string body = kTrace;
    struct Case {
        std::string trace;
        std::string message;
    } cases[] = {
        {replaced(body, "r SAT\n", ""), "the trace is cut short"},
        {body.substr(0, body.find("10 0 9")) + "10 0 9 7", "the trace is cut short"},
        // Read as a false formula's trace, its cube steps are no clauses of the formula.
        {replaced(body, "r SAT", "r UNSAT"), "step 6: a leaf of the proof"},
        {replaced(body, "p qrp 5 4", "p qrp 5 x"), "not a proof trace (bad header)"},
        {replaced(body, "8 2 -1 0 0", "5 2 -1 0 0"), "step 5: id out of order (after 7)"},
        {replaced(body, "9 -1 0 8 0", "9 -1 0 11 0"), "step 9: antecedent 11 not defined before its step"},
        {replaced(body, "10 0 9 7 0", "10 0 9 7 6 0"), "step 10: more than two antecedents"},
        {replaced(body, "10 0 9 7 0", "10 0 7 7 0"), "step 10: a cube resolution without exactly one clashing universal"},
        {replaced(body, "7 1 0 6 0", "7 0 6 0"), "step 7: a reduction removes universal 1"},
        {replaced(body, "6 -2 3 1 0 0\n7 1 0 6 0", "6 -2 3 1 4 0 0\n7 1 4 0 6 0"),
         "step 7: a reduction removes existential 2 with a later universal left"},
        {replaced(body, "6 -2 3 1 0 0", "6 -2 1 0 0"), "step 6: initial cube misses clause 3"},
        {replaced(body, "9 -1 0 8 0", "9 1 0 8 0"), "step 9: literal 1 is not in the cube of its antecedents"},
        {replaced(body, "10 0 9 7 0", "10 0 9 1 0"), "step 1: an input clause used as a cube"},
        {replaced(body, "10 0 9 7 0\n", ""), "step 9: the last step is not empty"},
        {replaced(body, "8 2 -1 0 0", "8 2 -9 0 0"), "step 8: literal -9 out of range"},
    };
    int k = 0;
    for (const Case& c : cases) {
        std::string name = "m" + std::to_string(k++);
        std::string message = run(name, c.trace);
        EXPECT_EQ(message.substr(0, c.message.size()), c.message) << c.trace << last.out;
        EXPECT_EQ(last.status, 255) << c.trace;
        EXPECT_FALSE(fileExists(dir.file(name + ".qbm")));
        // The binary form says the same, except where the fault is in the ASCII syntax.
        if (c.message.find("cut short") != std::string::npos || c.message.find("header") != std::string::npos) continue;
        std::string b = "n" + std::to_string(k);
        message = run(b, binaryTrace(c.trace));
        EXPECT_EQ(message.substr(0, c.message.size()), c.message) << "binary: " << c.trace << last.out;
    }
}

TEST_F(TraceInput, TracesAreBatchInstancesButNotWithCheck) {
    std::string sub = dir.file("batch");
    ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
    writeFile(sub + "/f.qdimacs", kFormula);
    writeFile(sub + "/f.qrp", kTrace);
    writeFile(sub + "/g.qdimacs", kFormula);
    writeFile(sub + "/g.qrp", binaryTrace(kTrace));
    testsupport::RunResult r = testsupport::plumex({sub});
    EXPECT_NE(r.out.find("2/2 instances successfully processed."), std::string::npos) << r.out;
    r = testsupport::plumex({"-check", sub});
    EXPECT_NE(r.out.find("2/2 instances successfully processed."), std::string::npos) << r.out;  // the QBM files
    ASSERT_EQ(std::remove((sub + "/f.qbm").c_str()) + std::remove((sub + "/g.qbm").c_str()), 0);
    r = testsupport::plumex({"-check", sub});
    EXPECT_NE(r.out.find("0/0 instances successfully processed."), std::string::npos) << r.out;
}

}  // namespace
