// Circuits read by the real binary: CADET's bug10rr certificate, which only reordering
// makes fit, and its QBM file read back; circuits that mix a certificate's and a
// countermodel's variables; a formula with comments inside its prefix; an AIGER header
// whose M is too small; and a circuit whose BDDs exceed the memory the process may use.
// Countermodel circuits through the pipeline: one that holds, and wrong ones.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/run.h"

namespace {

using testsupport::fileExists;
using testsupport::maskTimes;
using testsupport::plumex;
using testsupport::readFile;
using testsupport::RunResult;
using testsupport::TempDir;
using testsupport::writeFile;

const std::string kBanner = "Plumex v0.3-beta, (revision 393, compiled Nov 10 2006)\n";

// One instance at -v 1: its line, closed as `closing`.
std::string oneLine(const std::string& name, const std::string& closing) {
    return kBanner + "1.Processing \"" + name + "\"...  [OK, " + closing + ", X.XXs]\n\n";
}

// The step of a circuit that cannot be read, at the default verbosity.
std::string refused(const std::string& name, const std::string& error) {
    return kBanner + "\n1.Processing \"" + name + "\"...  \n  a.Model extraction and certification. [OK, Error: " +
           error + ", X.XXs]\n  [OK, PROBLEMS, X.XXs]\n\n";
}

struct CircuitInput : ::testing::Test {
    TempDir dir;
    std::string file(const std::string& name, const std::string& content) {
        writeFile(dir.file(name), content);
        return dir.file(name);
    }
    RunResult run(const std::vector<std::string>& args) { return plumex(args, dir.path()); }
};

TEST_F(CircuitInput, Bug10rrNeedsReorderingAndIsValidInBothForms) {
    writeFile(dir.file("bug10rr.qdimacs"), readFile(testsupport::cadetDir() + "/bug10rr.qdimacs"));
    for (const std::string name : {"bug10rr.aag", "bug10rr.aig"}) {
        writeFile(dir.file(name), readFile(testsupport::dataDir() + "/cadet-certs/" + name));
        RunResult r = run({"-v", "1", name});
        EXPECT_EQ(r.status, 10) << r.out;
        EXPECT_EQ(maskTimes(r.out), oneLine(name, "VALID"));
    }
    // The QBM file was written after reordering; it loads and checks again.
    RunResult r = run({"-v", "1", "bug10rr.qbm"});
    EXPECT_EQ(r.status, 10) << r.out;
    EXPECT_EQ(maskTimes(r.out), oneLine("bug10rr.qbm", "VALID"));
    // Its AIGER export holds for the independent checker.
    std::string checker = testsupport::binary("plumex-aigercheck");
    if (!fileExists(checker)) GTEST_SKIP() << "plumex-aigercheck not built: install the Debian package libcadical-dev";
    ASSERT_EQ(run({"-v", "1", "-dump", "aig", "bug10rr.qbm"}).status, 10);
    RunResult c = testsupport::run({checker, dir.file("bug10rr.qdimacs"), dir.file("bug10rr.qbm.aig")});
    EXPECT_EQ(c.status, 0) << c.out << c.err;
}

TEST_F(CircuitInput, ACircuitOfBothKindsIsRefused) {
    // Universals 1 and 3, existential 2.
    file("f.qdimacs", "p cnf 3 2\na 1 0\ne 2 0\na 3 0\n2 1 0\n-2 -1 3 0\n");
    const std::string mix =
        ": the circuit mixes a countermodel's variables (%) with a certificate's (#); a certificate's inputs are "
        "universals and its outputs existentials, a countermodel's the other way round";
    auto message = [&mix](const std::string& first, const std::string& countermodel, const std::string& certificate) {
        std::string text = first + mix;
        text.replace(text.find('%'), 1, countermodel);
        text.replace(text.find('#'), 1, certificate);
        return text;
    };
    // Inputs of both kinds.
    file("inputs.aag", "aag 2 2 0 1 0\n2\n4\n2\ni0 2\ni1 1\no0 3\n");
    RunResult r = run({"-qbf", "f.qdimacs", "inputs.aag"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(maskTimes(r.out), refused("inputs.aag", message("input 0 (\"2\") names no universal of the formula",
                                                              "input 0 names the existential 2",
                                                              "input 1 names the universal 1")));
    // A function for an existential and one for a universal.
    file("outputs.aag", "aag 1 1 0 2 0\n2\n2\n3\ni0 1\no0 2\no1 3\n");
    r = run({"-qbf", "f.qdimacs", "outputs.aag"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(maskTimes(r.out), refused("outputs.aag", message("output 1 (\"3\") names no existential of the formula",
                                                               "output 1 names the universal 3",
                                                               "input 0 names the universal 1")));
    std::string checker = testsupport::binary("plumex-aigercheck");
    if (!fileExists(checker)) GTEST_SKIP() << "plumex-aigercheck not built: install the Debian package libcadical-dev";
    RunResult c = testsupport::run({checker, dir.file("f.qdimacs"), dir.file("outputs.aag")});
    EXPECT_EQ(c.status, 2);
    EXPECT_EQ(c.err,
              "plumex-aigercheck: output 1 names 3, which is no existential of the formula: the circuit mixes a "
              "countermodel (output 1 names the universal 3) and a certificate (input 0 names the universal 1)\n");
}

TEST_F(CircuitInput, AFormulaWithCommentsInsideItsPrefixFitsItsCircuit) {
    // Universal 3 comes after the comment: e2 = not u1 is right, e2 = u3 reads a later one.
    file("f.qdimacs", "c head\np cnf 3 2\na 1 0\nc inside the prefix\ne 2 0\nc and again\na 3 0\n2 1 0\n-2 -1 3 0\n");
    file("f.aag", "aag 2 1 0 1 1\n2\n4\n4 3 3\ni0 1\no0 2\n");
    RunResult r = run({"-v", "1", "f.aag"});
    EXPECT_EQ(r.status, 10) << r.out;
    EXPECT_EQ(maskTimes(r.out), oneLine("f.aag", "VALID"));
    r = run({"-v", "1", "f.qbm"});
    EXPECT_EQ(r.status, 10) << r.out;
    EXPECT_EQ(maskTimes(r.out), oneLine("f.qbm", "VALID"));
    file("later.aag", "aag 3 1 0 1 0\n6\n6\ni0 3\no0 2\n");
    r = run({"-qbf", "f.qdimacs", "later.aag"});
    EXPECT_EQ(r.status, 20) << r.out;
    EXPECT_NE(r.out.find("Problem, variable 2 depends on a later universal "), std::string::npos) << r.out;
}

TEST_F(CircuitInput, AHeaderWhoseMIsBelowItsCountsSaysSo) {
    file("f.qdimacs", "p cnf 3 2\na 1 0\ne 2 0\na 3 0\n2 1 0\n-2 -1 3 0\n");
    file("m.aag", "aag 3 2 0 1 2\n2\n4\n6\n6 2 4\n");
    RunResult r = run({"-qbf", "f.qdimacs", "m.aag"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(maskTimes(r.out),
              refused("m.aag", "circuit \"m.aag\": header M (3) is below I + L + A (4): every input and gate needs "
                               "a variable of its own up to M"));
}

// The middle bit of an n-by-n array multiplier over universals 1..2n, as the function of
// existential 2n+1: a BDD of exponential size in every order.
std::string multiplier(int n) {
    std::vector<std::string> gates;
    unsigned next = 2 * n + 1;
    auto conj = [&](unsigned a, unsigned b) -> unsigned {
        if (a == 0 || b == 0) return 0;
        unsigned v = 2 * next++;
        gates.push_back(std::to_string(v) + " " + std::to_string(a) + " " + std::to_string(b));
        return v;
    };
    auto disj = [&](unsigned a, unsigned b) { return conj(a ^ 1, b ^ 1) ^ 1; };
    auto exor = [&](unsigned a, unsigned b) { return disj(conj(a, b ^ 1), conj(a ^ 1, b)); };
    std::vector<std::vector<unsigned>> column(2 * n);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) column[i + j].push_back(conj(2 * (i + 1), 2 * (n + j + 1)));
    unsigned middle = 0;
    for (int c = 0; c < n; ++c) {
        std::vector<unsigned>& bits = column[c];
        while (bits.size() > 1) {
            unsigned x = bits.back();
            bits.pop_back();
            unsigned y = bits.back();
            bits.pop_back();
            bits.insert(bits.begin(), exor(x, y));
            column[c + 1].push_back(conj(x, y));
        }
        middle = bits.empty() ? 0 : bits[0];
    }
    std::string text = "aag " + std::to_string(next - 1) + " " + std::to_string(2 * n) + " 0 1 " +
                       std::to_string(gates.size()) + "\n";
    for (int k = 1; k <= 2 * n; ++k) text += std::to_string(2 * k) + "\n";
    text += std::to_string(middle) + "\n";
    for (const std::string& g : gates) text += g + "\n";
    for (int k = 0; k < 2 * n; ++k) text += "i" + std::to_string(k) + " " + std::to_string(k + 1) + "\n";
    return text + "o0 " + std::to_string(2 * n + 1) + "\n";
}

TEST_F(CircuitInput, ACertificateBeyondTheMemoryLimitEndsWithMemout) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer reserves more address space than any limit leaves";
#endif
    const std::string prlimit = "/usr/bin/prlimit";
    if (!fileExists(prlimit)) GTEST_SKIP() << "prlimit missing: install the Debian package util-linux";
    std::string universals;
    for (int k = 1; k <= 32; ++k) universals += std::to_string(k) + " ";
    file("mul.qdimacs", "p cnf 33 1\na " + universals + "0\ne 33 0\n33 1 0\n");
    file("mul.aag", multiplier(16));
    // 80 MB of address space; no reordering, so that the run does not sift on its way.
    RunResult r = testsupport::run(
        {prlimit, "--as=80000000", testsupport::binary("plumex"), "-v", "1", "-hbdd", "0", "mul.aag"}, dir.path());
    EXPECT_EQ(r.status, 250) << r.out << r.err;
    EXPECT_EQ(r.out, kBanner + "1.Processing \"mul.aag\"...  MEMOUT");
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(fileExists(dir.file("mul.qbm")));
}

// ---- countermodels through the pipeline ----

// e1 | a2 | e3: 2 must differ from 1, and 3 from 2; the countermodel u2 = e1 wins.
const char kFalse[] = "p cnf 3 3\ne 1 0\na 2 0\ne 3 0\n1 2 0\n-1 -2 0\n3 -3 2 0\n";

TEST_F(CircuitInput, ACountermodelCircuitHolds) {
    file("f.qdimacs", kFalse);
    file("f.aag", "aag 1 1 0 1 0\n2\n2\ni0 1\no0 2\n");
    RunResult r = run({"-v", "1", "f.aag"});
    EXPECT_EQ(r.status, 11) << r.out;
    EXPECT_EQ(maskTimes(r.out), oneLine("f.aag", "VALID"));
}

TEST_F(CircuitInput, AWrongCountermodelCircuitDoesNotHold) {
    file("f.qdimacs", kFalse);
    // u2 = not e1 satisfies both clauses on 1 and 2.
    file("not.aag", "aag 1 1 0 1 0\n2\n3\ni0 1\no0 2\n");
    RunResult r = run({"-qbf", "f.qdimacs", "not.aag"});
    EXPECT_EQ(r.status, 20) << r.out;
    EXPECT_NE(r.out.find("INVALID"), std::string::npos) << r.out;
    // u2 = e3 reads an existential quantified after it.
    file("later.aag", "aag 1 1 0 1 0\n2\n2\ni0 3\no0 2\n");
    r = run({"-qbf", "f.qdimacs", "later.aag"});
    EXPECT_EQ(r.status, 20) << r.out;
}

}  // namespace
