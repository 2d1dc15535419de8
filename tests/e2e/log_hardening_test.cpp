// Malformed solver logs through the real binary: each gets its clear message in the
// pipeline's "Error: ... at line" result, exit code -1, and a balanced step tree; the
// mended format quirks (binary line ends, negative S_EQUIV literals) give valid
// certificates.
#include <gtest/gtest.h>

#include "tests/support/run.h"
#include "tests/unit/log_builder.h"

using logtest::LogBuilder;

namespace {

// a 1; e 2: (1 v 2) and (-1 v -2), so x2 = -u1.
const char* kFormula = "p cnf 2 2\na 1 0\ne 2 0\n1 2 0\n-1 -2 0\n";

struct Case {
    const char* what;
    bool binary;
    std::string kind, payload;
    std::string message;  // "" for a valid certificate
};

}  // namespace

TEST(LogHardening, MalformedEntriesAreReportedAtTheirLine) {
    testsupport::TempDir dir;
    std::string formula = dir.file("f.qdimacs");
    testsupport::writeFile(formula, kFormula);
    LogBuilder t(false, 3, {1}, {1, 2}), b(true, 3, {1}, {1, 2});
    std::vector<Case> cases = {
        {"count beyond the log", false, "G_RES", "2 1 0 1000000000 2 ", "Entry count exceeds the data left (corrupted log?)"},
        {"literal beyond the slots", true, "G_ASSIGN", b.i(-3), "Literal or variable out of range"},
        {"unparsable integer", false, "G_ASSIGN", "two\n", "Entry data parsing problems"},
        {"universal hypotheses too deep", false, "B_OUT", "1 ", "Universal hypotheses nested deeper than the stack"},
        {"CNF variable below the first row", false, "SAT_ENCODING",
         t.satEncoding(1, {1, 1}, {{2, 2, {}, {{{}, 2}}}}), "CNF variable outside the encoding"},
        {"equivalence to a universal", false, "S_EQUIV", "", "Universal variable where an existential is needed"},
        {"too few roots", true, "S_CUBES", "", "Embedded BDD array has too few roots"},
    };
    {
        bdd::Manager m(2);
        cases[5].payload = t.sEquiv(2, 1, 1, {}, {bdd::one()});
        cases[6].payload = b.sCubes({2, 2}, {bdd::ithVar(1)});
    }
    for (const Case& c : cases) {
        LogBuilder log(c.binary, 3, {1}, {1, 2}, "\"" + formula + "\"");
        log.entry(1, "G_CUBES", log.gCubes({{2, {1}}}));
        log.entry(2, "G_RES", log.gRes(2, {{1, 2}}, {{-1, -2}}));
        int id = 3;
        // Four hypotheses fill the stack of 3 + 1 slots; the fifth is one too many.
        if (c.kind == "B_OUT")
            for (; id < 7; ++id) log.entry(id, "B_OUT", "1 ");
        log.entry(id, c.kind, c.payload);
        std::string path = dir.file("x.Tobrin.log");
        std::string content = log.finish(id + 1);
        testsupport::writeFile(path, content);
        if (c.kind == "B_OUT") id = 3;  // replayed last first: the fifth push is entry 3
        long back = static_cast<long>(content.rfind("#" + std::to_string(id) + ":") -
                                      content.rfind("#" + std::to_string(id - 1) + ":"));
        testsupport::RunResult r = testsupport::plumex({path});
        std::string out = testsupport::maskTimes(r.out);
        EXPECT_EQ(r.status, 255) << c.what << "\n" << out;
        std::string expected = "[OK, Error: " + c.message + " at line \"#" + std::to_string(id) + ": " + c.kind +
                               " [" + std::to_string(back) + "]\", X.XXs]\n  [OK, PROBLEMS, X.XXs]";
        EXPECT_NE(out.find("1.Inductive reconstruction [0% "), std::string::npos) << c.what << "\n" << out;
        EXPECT_NE(out.find(expected), std::string::npos) << c.what << "\n" << out;
    }
}

TEST(LogHardening, MendedQuirksGiveValidCertificates) {
    testsupport::TempDir dir;
    std::string formula = dir.file("g.qdimacs");
    // x3 = -x8, spelled through a negative S_EQUIV b.
    testsupport::writeFile(formula, "p cnf 9 2\na 9 0\ne 1 2 3 4 5 6 8 0\n3 8 0\n-3 -8 0\n");
    for (bool binary : {false, true}) {
        // Internal 3 and 8 are the existentials (bytes 0x0C and 0x20 in binary mode),
        // internal 1 the universal; the rest are unused slots mapped to unused numbers.
        std::string path = dir.file(binary ? "b.Tobrin.log" : "t.Tobrin.log");
        {
            bdd::Manager m(2);
            LogBuilder log(binary, 9, {1}, {9, 1, 3, 2, 4, 5, 6, 8}, "\"" + formula + "\"");
            log.entry(1, "G_CUBES", log.gCubes({{3, {}}, {8, {}}}));
            log.entry(2, "S_EQUIV", log.sEquiv(3, -8, 1, {}, {bdd::one()}));  // x3 = -x8
            log.entry(3, "S_ASSIGN", log.sAssign(8, bdd::one()));
            testsupport::writeFile(path, log.finish(4));
        }
        testsupport::RunResult r = testsupport::plumex({path});
        EXPECT_EQ(r.status, 10) << r.out;
        EXPECT_NE(r.out.find("Certificate is VALID"), std::string::npos) << r.out;
    }
}
