// The pipeline end to end: the real binary on solver logs and QBM files, whole standard
// output compared with processor times masked.
//
// The logs here spell out a certificate scenario by scenario: for every assignment of
// the universals, B_OUT entries push the universal literals as hypotheses, B_OUT entries
// assign the existentials under them, and B_IN entries pop the hypotheses again. That
// makes any certificate, also a wrong or contradictory one, expressible as a log.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/run.h"
#include "tests/unit/log_builder.h"

namespace {

using testsupport::fileExists;
using testsupport::maskTimes;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

struct ScenarioLog {
    std::string formula;
    std::vector<int> universals;    // external numbers, in BDD-index order
    std::vector<int> existentials;  // external numbers
    bool binary = false;
    // For a scenario (bit k = value of the k-th universal): the existential literals
    // (external numbers) that hold in it.
    std::function<std::vector<int>(unsigned)> literals;
};

// Internal numbering: existentials first, then universals.
void writeLog(const std::string& path, const ScenarioLog& plan) {
    int e = static_cast<int>(plan.existentials.size());
    int u = static_cast<int>(plan.universals.size());
    std::vector<int> intToExt{0};
    for (int x : plan.existentials) intToExt.push_back(x);
    for (int x : plan.universals) intToExt.push_back(x);
    auto internal = [&](int lit) {
        int var = lit < 0 ? -lit : lit;
        for (int i = 1; i < static_cast<int>(intToExt.size()); ++i)
            if (intToExt[i] == var) return lit < 0 ? -i : i;
        return 0;
    };
    auto num = [&](int v) { return plan.binary ? logtest::binaryInt(v) : std::to_string(v) + " "; };

    std::string out = "# Tobrin log file, 1.3\n# written by the pipeline test\n# formula: \"" + plan.formula +
                      "\"\n# dump format: " + (plan.binary ? "binary" : "text") + "\n# vars: (" +
                      std::to_string(e + u + 1) + "," + std::to_string(u) + ")\n\n# universals: ";
    for (int k = 1; k <= u; ++k) out += std::to_string(e + k) + " ";
    out += "\n# int/ext mapping: ";
    for (int i = 1; i <= e + u; ++i) out += std::to_string(intToExt[i]) + " ";
    out += "\n";

    // Replay order, then written the other way round.
    std::vector<std::pair<std::string, std::string>> replay;
    for (unsigned s = 0; s < (1u << u); ++s) {
        for (int k = 0; k < u; ++k) replay.push_back({"B_OUT", num((s >> k) & 1 ? e + k + 1 : -(e + k + 1))});
        for (int lit : plan.literals(s)) replay.push_back({"B_OUT", num(internal(lit))});
        for (int k = u - 1; k >= 0; --k)
            replay.push_back({"B_IN", "1a" + std::to_string((s >> k) & 1 ? e + k + 1 : -(e + k + 1)) + "\n"});
    }
    std::string cubes = num(e) + "\n";
    for (int x = 1; x <= e; ++x) {
        cubes += num(x) + num(u);
        for (int k = 1; k <= u; ++k) cubes += num(e + k);
        cubes += "\n";
    }
    std::vector<std::pair<std::string, std::string>> entries{{"G_CUBES", cubes}};
    for (auto it = replay.rbegin(); it != replay.rend(); ++it) entries.push_back(*it);
    long previous = -1;
    int id = 0;
    for (auto& [kind, payload] : entries) {
        long here = static_cast<long>(out.size());
        out += "#" + std::to_string(++id) + ": " + kind + " [" + std::to_string(previous < 0 ? 0 : here - previous) +
               "]\n" + payload;
        previous = here;
    }
    long here = static_cast<long>(out.size());
    out += "#" + std::to_string(++id) + ": END [" + std::to_string(here - previous) + "]\noutcome: TRUE\ntime: 1.25\n";
    writeFile(path, out);
}

// a 1 2, e 3 4: 3 must hold where 1 is false, 4 where 1 is true.
const char* kFormula =
    "c the pipeline test's formula\n"
    "p cnf 4 3\n"
    "a 1 2 0\n"
    "e 3 4 0\n"
    "1 3 0\n"
    "-1 4 0\n"
    "3 4 2 0\n";

// 3 = not 1, 4 = 1: a certificate of kFormula.
std::vector<int> goodLiterals(unsigned s) { return s & 1 ? std::vector<int>{-3, 4} : std::vector<int>{3, -4}; }

const std::string kBanner = "Plumex v0.3-beta, (revision 393, compiled Nov 10 2006)\n";
const std::string kMarks = "[0% 10% 20% 30% 40% 50% 60% 70% 80% 90% 100%] ";

class Pipeline : public testing::Test {
  protected:
    void SetUp() override { writeFile(dir.file("f.qdimacs"), kFormula); }
    void log(const std::string& name, bool binary = false,
             std::function<std::vector<int>(unsigned)> literals = goodLiterals, const std::string& formula = "f.qdimacs") {
        ScenarioLog plan;
        plan.formula = formula;
        plan.universals = {1, 2};
        plan.existentials = {3, 4};
        plan.binary = binary;
        plan.literals = std::move(literals);
        writeLog(dir.file(name), plan);
    }
    testsupport::RunResult run(const std::vector<std::string>& args) {
        testsupport::RunResult r = testsupport::plumex(args, dir.path());
        r.out = maskTimes(r.out);
        return r;
    }
    std::string file(const std::string& name) { return readFile(dir.file(name)); }
    TempDir dir;
};

std::string reconstruction(const std::string& log) {
    return kBanner + "\n1.Processing \"" + log + "\"...  \n  a.Model reconstruction and certification. \n" +
           "    1.Inductive reconstruction " + kMarks + "[OK, X.XXs]\n";
}

const std::string kChecksValid = "    2.Consistency check        " + kMarks + "[OK, X.XXs]\n" +
                                 "    3.Validity check           " + kMarks + "[OK, X.XXs]\n" +
                                 "    [OK, Certificate is VALID, X.XXs, X.XX% in BDD]\n";

// The whole output of a default run on f.Tobrin.log for a certificate of kFormula.
const std::string kValidRun = reconstruction("f.Tobrin.log") + kChecksValid +
                              "  b.Stripping variables [OK, X.XXs]\n"
                              "  c.Dump to file: \n"
                              "    1.QBM representation: \"f.qbm\" [OK, 2 nodes, 0.3 KBytes, X.XXs]\n"
                              "    [OK, X.XXs]\n"
                              "  [OK, VALID, X.XXs]\n\n";

TEST_F(Pipeline, ValidLogInBothStorageModesWritesItsQbmFile) {
    for (bool binary : {false, true}) {
        log("f.Tobrin.log", binary);
        auto r = run({"f.Tobrin.log"});
        EXPECT_EQ(r.status, 10);
        EXPECT_EQ(r.out, kValidRun)
            << (binary ? "binary" : "text");
        std::string qbm = file("f.qbm");
        EXPECT_EQ(qbm.substr(0, qbm.find(".ver")),
                  std::string("# QBM file, 1.3\n# solver: Tobrin\n# formula: \"f.qdimacs\"\n# complete: YES\n") +
                      "# dump format: " + (binary ? "binary" : "text") +
                      "\n# universals[2]: 1 2 \n# existentials[2]: 3 4 \n");
        EXPECT_TRUE(fileExists(dir.file("f.Tobrin.log")));
    }
}

TEST_F(Pipeline, QbmInputWithAndWithoutCheck) {
    log("f.Tobrin.log");
    ASSERT_EQ(run({"f.Tobrin.log"}).status, 10);
    std::string certification = kBanner + "\n1.Processing \"f.qbm\"...  \n  a.Certification \n" +
                                "    1.Consistency check        " + kMarks + "[OK, X.XXs]\n";
    // Without expressions the certificate is always checked.
    auto r = run({"f.qbm"});
    EXPECT_EQ(r.status, 10);
    EXPECT_EQ(r.out, certification + "    2.Validity check           " + kMarks + "[OK, X.XXs]\n" +
                         "    [OK, Certificate is VALID, X.XXs, X.XX% in BDD]\n" +
                         "  b.Stripping variables [OK, X.XXs]\n  [OK, VALID, X.XXs]\n\n");
    // With an inverse expression only "-check" asks for the validity check.
    r = run({"-eval", "3", "f.qbm"});
    EXPECT_EQ(r.status, 10);
    EXPECT_NE(r.out.find(certification + "    [OK, Verification skipped as requested, X.XXs]\n"), std::string::npos)
        << r.out;
    r = run({"-eval", "3", "-check", "f.qbm"});
    EXPECT_EQ(r.status, 10);
    EXPECT_NE(r.out.find(certification + "    2.Validity check           " + kMarks), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("[OK, Certificate is VALID, "), std::string::npos) << r.out;
}

TEST_F(Pipeline, QbmFileReadBackPassesTheSameChecksAndRewritesToTheSameBytes) {
    for (bool binary : {false, true}) {
        log("f.Tobrin.log", binary);
        ASSERT_EQ(run({"-hbdd", "0", "f.Tobrin.log"}).status, 10);
        std::string first = file("f.qbm");
        auto r = run({"-hbdd", "0", "-dump", "qbm=bdd", "f.qbm"});
        EXPECT_EQ(r.status, 10);
        EXPECT_NE(r.out.find("[OK, Certificate is VALID, "), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("    1.QBM representation: \"f.qbm\" [OK, 2 nodes, "), std::string::npos) << r.out;
        EXPECT_EQ(file("f.qbm"), first) << (binary ? "binary" : "text");
    }
}

TEST_F(Pipeline, VarNarrowsTheCertificate) {
    log("f.Tobrin.log");
    auto r = run({"-var", "4-9", "f.Tobrin.log"});
    EXPECT_EQ(r.status, 10);
    EXPECT_NE(r.out.find("  b.Stripping variables [4-9] [OK, X.XXs]\n"), std::string::npos) << r.out;
    std::string qbm = file("f.qbm");
    EXPECT_NE(qbm.find("# complete: NO\n"), std::string::npos);
    EXPECT_NE(qbm.find("# existentials[1]: 4 \n"), std::string::npos) << qbm;
    // A partial certificate no longer matches the formula's prefix.
    r = run({"-var", "1-2", "-dump", "qbm=bdd", "f.qbm"});
    EXPECT_EQ(r.status, 20);
    EXPECT_NE(r.out.find("Problem, var number mismatch, in qbf:4 in log:4 "), std::string::npos) << r.out;
    // Narrowed to nothing: no existential is left.
    EXPECT_NE(file("f.qbm").find("# existentials[0]: \n"), std::string::npos);
}

TEST_F(Pipeline, EachDumpItem) {
    log("f.Tobrin.log");
    // qbm=dot on a log: only the drawing, named after the QBM name.
    auto r = run({"-dump", "qbm=dot", "f.Tobrin.log"});
    EXPECT_EQ(r.status, 10);
    EXPECT_NE(r.out.find("  c.Dump to file: \n    1.DOT representation: \"f.qbm.dot\" [OK, X.XXs]\n    [OK, X.XXs]\n"),
              std::string::npos)
        << r.out;
    EXPECT_FALSE(fileExists(dir.file("f.qbm")));
    EXPECT_EQ(testsupport::run({"/bin/sh", "-c", "dot -Tsvg '" + dir.file("f.qbm.dot") + "' >/dev/null"}).status, 0);
    std::string dot = file("f.qbm.dot");
    EXPECT_NE(dot.find("\"  e3 !e4  \""), std::string::npos) << dot;  // 4 is the negation of 3

    r = run({"-dump", "qdc", "f.Tobrin.log"});
    EXPECT_EQ(r.status, 10);
    // The QBM file of a log is written unless a QBM item was asked for.
    EXPECT_NE(r.out.find("  c.Dump to file: \n    1.QBM representation: \"f.qbm\" [OK, 2 nodes, 0.3 KBytes, X.XXs]\n"
                         "    2.QDC representation: \"f.qdc\" [OK, X.XXs]\n    [OK, X.XXs]\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(file("f.qdc"),
              "c Solver: Tobrin v0.3-beta, (revision 311, compiled Nov 10 2006)\nc Instance: \"f.qdimacs\"\n"
              "s cnf 1 5 [unknown]\nv \n");

    r = run({"-dump", "qbm", "f.Tobrin.log"});
    EXPECT_EQ(r.status, 10);
    EXPECT_NE(r.out.find("    1.QBM representation: \"f.qbm\" [OK, 2 nodes, 0.3 KBytes, X.XXs]\n"
                         "    2.DOT representation: \"f.qbm.dot\" [OK, X.XXs]\n    [OK, X.XXs]\n"),
              std::string::npos)
        << r.out;

    r = run({"-dump", "all", "-eval", "3", "f.qbm"});
    EXPECT_EQ(r.status, 10);
    for (const char* step : {"1.QBM representation: \"f.qbm\" [OK, 2 nodes", "2.DOT representation: \"f.qbm.dot\" [OK, ",
                             "3.QDC representation: \"f.qdc\" [OK, "})
        EXPECT_NE(r.out.find(step), std::string::npos) << step << "\n" << r.out;
    EXPECT_TRUE(fileExists(dir.file("f.qbm.exp.bdd")));

    // No dump asked for on a QBM input: no dump step at all.
    r = run({"f.qbm"});
    EXPECT_EQ(r.out.find("Dump to file:"), std::string::npos) << r.out;
}

TEST_F(Pipeline, ConstantExistentialsInTheQdcFile) {
    // 3 always true, 4 always false, whatever the universals.
    log("c.Tobrin.log", false, [](unsigned) { return std::vector<int>{3, -4}; });
    writeFile(dir.file("f.qdimacs"), "p cnf 4 2\na 1 2 0\ne 3 4 0\n3 1 0\n-4 2 0\n");
    auto r = run({"-dump", "qdc", "qbm=bdd", "c.Tobrin.log"});
    EXPECT_EQ(r.status, 10) << r.out;
    EXPECT_NE(file("c.qdc").find("\nv 3 -4 \n"), std::string::npos) << file("c.qdc");
    // A QBM file keeps no dependency information: its QDC file lists nothing.
    std::remove(dir.file("c.qdc").c_str());
    r = run({"-dump", "qdc", "c.qbm"});
    EXPECT_NE(file("c.qdc").find("\nv \n"), std::string::npos) << file("c.qdc");
}

TEST_F(Pipeline, InvalidCertificateNamesTheClauseAndLeavesTheDrawing) {
    // 4 = 2 instead of 1: the clause -1 4 fails.
    log("bad.Tobrin.log", false, [](unsigned s) {
        std::vector<int> l{s & 1 ? -3 : 3, s & 2 ? 4 : -4};
        return l;
    });
    auto r = run({"bad.Tobrin.log"});
    EXPECT_EQ(r.status, 20);
    EXPECT_EQ(r.out, reconstruction("bad.Tobrin.log") + "    2.Consistency check        " + kMarks + "[OK, X.XXs]\n" +
                         "    3.Validity check           [0% Non-sat clause: A-3(orig:-1) E2(orig:4) [OK, X.XXs]\n" +
                         "    [OK, Certificate is INVALID, X.XXs, X.XX% in BDD]\n" +
                         "  b.Stripping variables [OK, X.XXs]\n" + "  c.Dump to file: \n" +
                         "    1.QBM representation: \"bad.qbm\" [OK, 3 nodes, 0.3 KBytes, X.XXs]\n" +
                         "    [OK, X.XXs]\n" + "  [OK, INVALID, X.XXs]\n\n");
    std::string drawing = file("bdd_test.dot");
    EXPECT_NE(drawing.find("satIndexSet"), std::string::npos);
    EXPECT_EQ(testsupport::run({"/bin/sh", "-c", "dot -Tsvg '" + dir.file("bdd_test.dot") + "' >/dev/null"}).status, 0);
}

TEST_F(Pipeline, ExistentialDependingOnALaterUniversalIsInvalid) {
    // 4 = 1 is fine when 1 comes first, but not when 4 is quantified before 1.
    log("f.Tobrin.log");
    writeFile(dir.file("f.qdimacs"), "p cnf 4 3\na 2 0\ne 4 0\na 1 0\ne 3 0\n1 3 0\n-1 4 0\n3 4 2 0\n");
    auto r = run({"f.Tobrin.log"});
    EXPECT_EQ(r.status, 20);
    EXPECT_NE(r.out.find("    3.Validity check           Problem, variable 4 depends on a later universal [OK, X.XXs]\n"
                         "    [OK, Certificate is INVALID, "),
              std::string::npos)
        << r.out;
}

TEST_F(Pipeline, InconsistentCertificate) {
    // 3 is true and false where 1 and 2 are both true.
    log("i.Tobrin.log", false, [](unsigned s) {
        std::vector<int> l = goodLiterals(s);
        if (s == 3) l.push_back(3);
        return l;
    });
    auto r = run({"i.Tobrin.log"});
    EXPECT_EQ(r.status, 20);
    EXPECT_EQ(r.out, reconstruction("i.Tobrin.log") + "    2.Consistency check        [0% 10% 20% " +
                         "[OK, Problem with variable 3, X.XXs]\n" +
                         "    [OK, \nCertificate is INCONSISTENT, X.XXs, X.XX% in BDD]\n" +
                         "  b.Stripping variables [OK, X.XXs]\n  c.Dump to file: \n" +
                         "    1.QBM representation: \"i.qbm\" [OK, 4 nodes, 0.3 KBytes, X.XXs]\n" +
                         "    [OK, X.XXs]\n  [OK, INVALID, X.XXs]\n\n");
}

TEST_F(Pipeline, FormulaThatCannotBeFound) {
    log("f.Tobrin.log", false, goodLiterals, "missing.qdimacs");
    auto r = run({"f.Tobrin.log"});
    EXPECT_EQ(r.status, 10);
    EXPECT_NE(r.out.find("    [OK, Verification skipped, cannot parse \"missing.qdimacs\", X.XXs]\n"), std::string::npos)
        << r.out;
}

TEST_F(Pipeline, RelativeFormulaIsAlsoLookedForBesideTheLog) {
    ASSERT_EQ(mkdir(dir.file("sub").c_str(), 0777), 0);
    writeFile(dir.file("sub/g.qdimacs"), kFormula);
    ScenarioLog plan;
    plan.formula = "g.qdimacs";
    plan.universals = {1, 2};
    plan.existentials = {3, 4};
    plan.literals = goodLiterals;
    writeLog(dir.file("sub/g.Tobrin.log"), plan);
    auto r = run({"sub/g.Tobrin.log"});
    EXPECT_EQ(r.status, 10);
    EXPECT_NE(r.out.find("[OK, Certificate is VALID, "), std::string::npos) << r.out;
}

TEST_F(Pipeline, GzipFormulaGivesTheSameResultAsItsPlainTwin) {
    gzFile gz = gzopen(dir.file("z.qdimacs.gz").c_str(), "wb");
    ASSERT_TRUE(gz);
    gzputs(gz, kFormula);
    gzclose(gz);
    log("z.Tobrin.log", false, goodLiterals, "z.qdimacs.gz");
    log("f.Tobrin.log");
    auto plain = run({"f.Tobrin.log"});
    auto packed = run({"z.Tobrin.log"});
    EXPECT_EQ(packed.status, 10);
    auto strip = [](std::string s, const std::string& a, const std::string& b) {
        for (std::size_t at; (at = s.find(a)) != std::string::npos;) s.replace(at, a.size(), b);
        return s;
    };
    EXPECT_EQ(strip(packed.out, "z.", "f."), plain.out);
    // An invalid certificate is invalid against either.
    auto bad = [](unsigned s) { return std::vector<int>{s & 1 ? -3 : 3, s & 2 ? 4 : -4}; };
    log("z.Tobrin.log", false, bad, "z.qdimacs.gz");
    log("f.Tobrin.log", false, bad);
    EXPECT_EQ(run({"z.Tobrin.log"}).status, 20);
    EXPECT_EQ(run({"f.Tobrin.log"}).status, 20);
}

TEST_F(Pipeline, MalformedFormulaIsNeverValid) {
    log("f.Tobrin.log");
    struct Case {
        const char* formula;
        const char* message;
    } cases[] = {
        {"p cnf 4 3\na 1 2 0\ne 3 4 0\n1 3 0\n-1 4 0\n3 4 2", "Problem, clause without closing 0 at line 6 "},
        {"p cnf 4 3\na 1 2 0\ne 3 4 0\n1 3 0\n-1 5 0\n3 4 2 0\n", "Problem, literal 5 out of range at line 5 "},
        {"p cnf 4 3\na 1 2 0\ne 3 4 0\n1 3 0\n-1 four 0\n3 4 2 0\n", "Problem, not a number at line 5 "},
    };
    for (const Case& c : cases) {
        writeFile(dir.file("f.qdimacs"), c.formula);
        auto r = run({"f.Tobrin.log"});
        EXPECT_EQ(r.status, 20) << c.formula;
        EXPECT_NE(r.out.find(c.message), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("[OK, Certificate is INVALID, "), std::string::npos) << r.out;
    }
}

TEST_F(Pipeline, RemoveLogOnlyOnceTheQbmFileIsWritten) {
    log("f.Tobrin.log");
    auto r = run({"-remove", "log", "f.Tobrin.log"});
    EXPECT_EQ(r.status, 10);
    EXPECT_FALSE(fileExists(dir.file("f.Tobrin.log")));
    EXPECT_TRUE(fileExists(dir.file("f.qbm")));

    // Only the drawing is written: the log stays, and the run says so.
    log("f.Tobrin.log");
    r = run({"-remove", "log", "-dump", "qbm=dot", "f.Tobrin.log"});
    EXPECT_EQ(r.status, 10);
    EXPECT_TRUE(fileExists(dir.file("f.Tobrin.log")));
    EXPECT_NE(r.out.find("  d.Log \"f.Tobrin.log\" kept [OK, no QBM file was written, X.XXs]\n"), std::string::npos)
        << r.out;

    // The QBM file cannot be written (a directory holds its name): the log stays, the
    // step says why, and the instance fails.
    std::remove(dir.file("f.qbm").c_str());
    ASSERT_EQ(mkdir(dir.file("f.qbm").c_str(), 0777), 0);
    r = run({"-remove", "log", "f.Tobrin.log"});
    EXPECT_EQ(r.status, 255);
    EXPECT_TRUE(fileExists(dir.file("f.Tobrin.log")));
    EXPECT_NE(r.out.find("    1.QBM representation: \"f.qbm\" [OK, cannot write \"f.qbm\""), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("nodes"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  [OK, PROBLEMS, X.XXs]\n"), std::string::npos) << r.out;
}

TEST_F(Pipeline, RemoveQbm) {
    log("f.Tobrin.log");
    auto r = run({"-remove", "qbm", "f.Tobrin.log"});
    EXPECT_EQ(r.status, 10);
    EXPECT_NE(r.out.find("1.QBM representation: \"f.qbm\" [OK, 2 nodes"), std::string::npos) << r.out;
    EXPECT_FALSE(fileExists(dir.file("f.qbm")));
    EXPECT_TRUE(fileExists(dir.file("f.Tobrin.log")));
    ASSERT_EQ(run({"f.Tobrin.log"}).status, 10);
    r = run({"-remove", "qbm", "f.qbm"});
    EXPECT_EQ(r.status, 10);
    EXPECT_FALSE(fileExists(dir.file("f.qbm")));
}

TEST_F(Pipeline, UnreadableQbmBodyIsAnError) {
    log("f.Tobrin.log");
    ASSERT_EQ(run({"f.Tobrin.log"}).status, 10);
    std::string qbm = file("f.qbm");
    std::size_t at = qbm.find("# existentials[2]: 3 4");
    ASSERT_NE(at, std::string::npos);
    writeFile(dir.file("f.qbm"), qbm.replace(at, 22, "# existentials[2]: 3 1"));
    auto r = run({"f.qbm"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, kBanner + "\n1.Processing \"f.qbm\"...  \n  a.Certification [OK, Error: variable 1 listed twice, "
                               "X.XXs]\n  [OK, PROBLEMS, X.XXs]\n\n");
}

// The same road on logs that the log writer wrote for the formula, as the solver would.
class WriterLogs : public Pipeline {
  protected:
    // Writes NAME.Tobrin.log for the formula; extra: further writer options.
    void writerLog(const std::string& name, std::vector<std::string> extra = {},
                   const std::string& formula = "f.qdimacs") {
        std::vector<std::string> argv{testsupport::binary("plumex-logwriter"), "-q", "-o", name};
        argv.insert(argv.end(), extra.begin(), extra.end());
        argv.push_back(formula);
        testsupport::RunResult r = testsupport::run(argv, dir.path());
        ASSERT_EQ(r.status, 10) << r.out << r.err;
    }
};

TEST_F(WriterLogs, ValidInBothStorageModesAndEveryStyle) {
    for (const char* mode : {"text", "binary"}) {
        for (const char* style : {"search", "symbolic", "mix"}) {
            writerLog("f", {"--mode", mode, "--style", style, "--noise", "30"});
            auto r = run({"f.Tobrin.log"});
            EXPECT_EQ(r.status, 10);
            EXPECT_EQ(r.out, kValidRun)
                << mode << " " << style;
            // Read back, the certificate passes the same checks; "-eval" without "-check"
            // skips the validity check.
            r = run({"f.qbm"});
            EXPECT_EQ(r.status, 10);
            EXPECT_NE(r.out.find("[OK, Certificate is VALID, "), std::string::npos) << r.out;
            r = run({"-eval", "4", "f.qbm"});
            EXPECT_NE(r.out.find("[OK, Verification skipped as requested, "), std::string::npos) << r.out;
        }
    }
}

TEST_F(WriterLogs, InvalidAndInconsistentCertificates) {
    writerLog("inv", {"--fault", "invalid"});
    auto r = run({"inv.Tobrin.log"});
    EXPECT_EQ(r.status, 20);
    EXPECT_EQ(r.out, reconstruction("inv.Tobrin.log") + "    2.Consistency check        " + kMarks + "[OK, X.XXs]\n" +
                         "    3.Validity check           [0% Non-sat clause: A1(orig:1) E3(orig:3) [OK, X.XXs]\n" +
                         "    [OK, Certificate is INVALID, X.XXs, X.XX% in BDD]\n" +
                         "  b.Stripping variables [OK, X.XXs]\n  c.Dump to file: \n" +
                         "    1.QBM representation: \"inv.qbm\" [OK, 4 nodes, 0.3 KBytes, X.XXs]\n" +
                         "    [OK, X.XXs]\n  [OK, INVALID, X.XXs]\n\n");
    EXPECT_NE(file("bdd_test.dot").find("alwaysSat"), std::string::npos);

    writerLog("inc", {"--fault", "inconsistent", "--mode", "binary"});
    r = run({"inc.Tobrin.log"});
    EXPECT_EQ(r.status, 20);
    EXPECT_EQ(r.out, reconstruction("inc.Tobrin.log") +
                         "    2.Consistency check        [0% 10% 20% 30% 40% 50% 60% [OK, Problem with variable 3, "
                         "X.XXs]\n" +
                         "    [OK, \nCertificate is INCONSISTENT, X.XXs, X.XX% in BDD]\n" +
                         "  b.Stripping variables [OK, X.XXs]\n  c.Dump to file: \n" +
                         "    1.QBM representation: \"inc.qbm\" [OK, 2 nodes, 0.3 KBytes, X.XXs]\n" +
                         "    [OK, X.XXs]\n  [OK, INVALID, X.XXs]\n\n");
}

TEST_F(WriterLogs, GzipFormulaAndRemovals) {
    gzFile gz = gzopen(dir.file("z.qdimacs.gz").c_str(), "wb");
    ASSERT_TRUE(gz);
    gzputs(gz, kFormula);
    gzclose(gz);
    writerLog("z", {}, "z.qdimacs.gz");
    writerLog("f");
    auto packed = run({"z.Tobrin.log"});
    auto plain = run({"f.Tobrin.log"});
    EXPECT_EQ(packed.status, 10);
    std::string renamed = packed.out;
    for (std::size_t at; (at = renamed.find("z.")) != std::string::npos;) renamed.replace(at, 2, "f.");
    EXPECT_EQ(renamed, plain.out);

    auto r = run({"-remove", "log", "z.Tobrin.log"});
    EXPECT_EQ(r.status, 10);
    EXPECT_FALSE(fileExists(dir.file("z.Tobrin.log")));
    EXPECT_TRUE(fileExists(dir.file("z.qbm")));
    r = run({"-remove", "qbm", "f.Tobrin.log"});
    EXPECT_EQ(r.status, 10);
    EXPECT_FALSE(fileExists(dir.file("f.qbm")));
    EXPECT_TRUE(fileExists(dir.file("f.Tobrin.log")));
}

TEST_F(WriterLogs, FinalReorderingAndReportLine) {
    writerLog("f");
    auto r = run({"-hbdd", "2:3", "-report", "f.Tobrin.log"});
    EXPECT_EQ(r.status, 10);
    EXPECT_NE(r.out.find("    [OK, Certificate is VALID, X.XXs, X.XX% in BDD]\n  b.Additional reordering [OK, X.XXs]\n"
                         "  c.Stripping variables [OK, X.XXs]\n"),
              std::string::npos)
        << r.out;
    // The formula path has no directory: the report file sits in the working directory.
    std::string line = file("certificationReport.qbm.txt");
    EXPECT_EQ(line.substr(0, line.find('\t')), "noname");
    EXPECT_NE(line.find("\t4\t3\tA[2]E[2]\t1\t"), std::string::npos) << line;
    EXPECT_EQ(line.substr(line.size() - 7), "\tVALID\n") << line;
}

}  // namespace
