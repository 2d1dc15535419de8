// Inputs as users hand them over: a formula path that is a directory, formulas whose
// problem line undercounts the variables they quantify, QBM files edited on Windows or
// carrying extra roots, and expression files with CRLF line ends. Each run is checked by
// its message and exit status; a certificate is VALID only when it was really verified.
#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>

#include "tests/support/run.h"

namespace {

using testsupport::plumex;
using testsupport::readFile;
using testsupport::RunResult;
using testsupport::TempDir;
using testsupport::writeFile;

// The three real formulas whose problem line counts fewer variables than their prefix
// quantifies and their clauses use.
const char* const kUndercounted[] = {"bug6rrmod", "partition", "pec_adder_32bit_sat_reduced"};

std::string cadet(const std::string& name) { return testsupport::dataDir() + "/cadet-tests/" + name + ".qdimacs"; }

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Writes NAME.qdimacs into dir, a log of it by the log writer, and certifies the log;
// returns that run. The QBM file is dir/NAME-MODE.qbm.
RunResult certify(const TempDir& dir, const std::string& name, const char* mode) {
    std::string formula = dir.file(name + ".qdimacs");
    writeFile(formula, readFile(cadet(name)));
    std::string stem = dir.file(name + "-" + mode);
    RunResult w = testsupport::run(
        {testsupport::binary("plumex-logwriter"), "-q", "-o", stem + ".Tobrin.log", "--mode", mode, formula});
    EXPECT_EQ(w.status, 10) << name << " " << w.out << w.err;
    return plumex({stem + ".Tobrin.log"});
}

TEST(InputTolerance, UndercountedProblemLinesAreCertifiedInBothModes) {
    TempDir dir;
    for (const char* name : kUndercounted)
        for (const char* mode : {"text", "binary"}) {
            RunResult r = certify(dir, name, mode);
            EXPECT_EQ(r.status, 10) << name << " " << mode << "\n" << r.out;
            EXPECT_TRUE(contains(r.out, "Certificate is VALID")) << name << " " << mode << "\n" << r.out;
            EXPECT_TRUE(r.err.empty()) << r.err;
        }
    // A clause literal above the count that no block quantifies is still out of range.
    std::string formula = readFile(cadet("bug6rrmod")) + "9 1 0\n";
    writeFile(dir.file("bug6rrmod.qdimacs"), formula);
    RunResult r = plumex({dir.file("bug6rrmod-text.qbm"), "-qbf", dir.file("bug6rrmod.qdimacs")});
    EXPECT_EQ(r.status, 20) << r.out;
    EXPECT_TRUE(contains(r.out, "Problem, literal 9 out of range at line 12")) << r.out;
}

TEST(InputTolerance, AFormulaPathThatIsADirectoryFailsTheVerification) {
    TempDir dir;
    ASSERT_EQ(certify(dir, "bug6rrmod", "text").status, 10);
    ASSERT_EQ(mkdir(dir.file("d.qdimacs").c_str(), 0755), 0);
    RunResult r = plumex({dir.file("bug6rrmod-text.qbm"), "-qbf", dir.file("d.qdimacs")});
    EXPECT_EQ(r.status, 20) << r.out;
    EXPECT_TRUE(contains(r.out, "Problem, cannot read the formula: Is a directory")) << r.out;
    EXPECT_TRUE(contains(r.out, "Certificate is INVALID")) << r.out;
    EXPECT_FALSE(contains(r.out, "[OK, VALID")) << r.out;
    // A formula that is not there at all is still a skipped verification.
    r = plumex({dir.file("bug6rrmod-text.qbm"), "-qbf", dir.file("absent.qdimacs")});
    EXPECT_EQ(r.status, 10) << r.out;
    EXPECT_TRUE(contains(r.out, "Verification skipped, cannot parse")) << r.out;
}

TEST(InputTolerance, QbmFilesWithOddVersionLinesOrExtraRoots) {
    TempDir dir;
    ASSERT_EQ(certify(dir, "bug6rrmod", "text").status, 10);
    std::string qbm = readFile(dir.file("bug6rrmod-text.qbm"));
    std::size_t eol = qbm.find('\n');
    ASSERT_EQ(qbm.substr(0, eol), "# QBM file, 1.3");
    std::string formula = dir.file("bug6rrmod.qdimacs");

    // A trailing blank, or a carriage return of a file edited on Windows, after the version.
    for (const std::string& line : {std::string("# QBM file, 1.3 "), std::string("# QBM file, 1.3\r")}) {
        writeFile(dir.file("v.qbm"), line + qbm.substr(eol));
        RunResult r = plumex({dir.file("v.qbm"), "-qbf", formula});
        EXPECT_EQ(r.status, 10) << r.out;
        EXPECT_TRUE(contains(r.out, "Certificate is VALID")) << r.out;
    }

    // Two roots more than the six existentials need: the first twelve are the certificate.
    auto withRoots = [&](const std::string& count, const std::string& extra, bool drop) {
        std::string text = qbm;
        std::size_t at = text.find(".nroots 12\n");
        text.replace(at, 11, ".nroots " + count + "\n");
        std::size_t ids = text.find(".rootids ");
        std::size_t end = text.find('\n', ids);
        std::string list = text.substr(ids, end - ids);
        if (drop) list = list.substr(0, list.rfind(' ', list.rfind(' ') - 1));
        text.replace(ids, end - ids, list + extra);
        return text;
    };
    writeFile(dir.file("x.qbm"), withRoots("14", " 1 -1", false));
    RunResult r = plumex({dir.file("x.qbm"), "-qbf", formula, "-dump", "qbm"});
    EXPECT_EQ(r.status, 10) << r.out;
    EXPECT_TRUE(contains(r.out, "Certificate is VALID")) << r.out;
    EXPECT_TRUE(contains(readFile(dir.file("x.qbm")), ".nroots 12\n"));

    // Too few roots make no certificate.
    writeFile(dir.file("y.qbm"), withRoots("10", "", true));
    r = plumex({dir.file("y.qbm")});
    EXPECT_EQ(r.status, 255) << r.out;
    EXPECT_TRUE(contains(r.out, "Error: the forest has 10 roots for 6 existentials")) << r.out;
}

TEST(InputTolerance, ExpressionFilesWithCrlfLineEndsGiveTheSameResults) {
    TempDir dir;
    ASSERT_EQ(certify(dir, "bug6rrmod", "text").status, 10);
    const std::string lines[] = {"1", "-2 & 3", "not a line", "dc(8)  comment", "(6,7)", "5 | -4"};
    std::string lf, crlf;
    for (const std::string& line : lines) {
        lf += line + "\n";
        crlf += line + "\r\n";
    }
    writeFile(dir.file("lf.txt"), lf);
    writeFile(dir.file("crlf.txt"), crlf);
    std::string qbm = dir.file("bug6rrmod-text.qbm");
    RunResult a = plumex({qbm, "-eval", dir.file("lf.txt")});
    RunResult b = plumex({qbm, "-eval", dir.file("crlf.txt")});
    EXPECT_EQ(a.status, b.status);
    std::string expected = readFile(dir.file("lf.txt.result"));
    for (std::size_t at = 0; (at = expected.find('\n', at)) != std::string::npos; at += 2) expected.insert(at, "\r");
    EXPECT_EQ(readFile(dir.file("crlf.txt.result")), expected);
    EXPECT_TRUE(contains(expected, "1 = ")) << expected;
    EXPECT_FALSE(contains(expected, "\r =")) << expected;
}

}  // namespace
