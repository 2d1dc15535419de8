// The SAT-based AIGER certificate checker over hand-written formulas and circuits, and
// over certificates exported by Plumex, where its verdict must agree with the BDD-based
// validity check of the real binary. Where berkeley-abc is installed it reads the binary
// exports too.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "certificate/reconstruct.h"
#include "files/aiger.h"
#include "files/qbm.h"
#include "pipeline/settings.h"
#include "tests/support/run.h"

namespace {

using testsupport::binary;
using testsupport::fileExists;
using testsupport::plumex;
using testsupport::readFile;
using testsupport::RunResult;
using testsupport::TempDir;
using testsupport::writeFile;

RunResult check(const std::string& formula, const std::string& certificate) {
    return testsupport::run({binary("plumex-aigercheck"), formula, certificate});
}

struct Checker : ::testing::Test {
    void SetUp() override {
        if (!fileExists(binary("plumex-aigercheck"))) GTEST_SKIP() << "plumex-aigercheck not built: install the Debian package libcadical-dev";
    }
    std::string file(const std::string& name, const std::string& content) {
        writeFile(dir.file(name), content);
        return dir.file(name);
    }
    TempDir dir;
};

// e3 = u1 xor u2.
const std::string kXor = "c xor\np cnf 3 4\na 1 2 0\ne 3 0\n-3 1 2 0\n-3 -1 -2 0\n3 -1 2 0\n3 1 -2 0\n";

// The index-based layout without a symbol table; gate 3 is listed before the helpers
// it reads.
const std::string kXorAag = "aag 6 2 0 1 4\n2\n4\n6\n6 13 1\n8 2 5\n10 3 4\n12 9 11\n";

// The same circuit renumbered for the binary form, named through the symbol table.
std::string xorAig() {
    return std::string("aig 6 2 0 1 4\n12\n") + std::string("\x01\x03\x04\x01\x01\x02\x01\x0a", 8) +
           "i0 1\ni1 2\no0 3\nc\nhand-written\n";
}

TEST_F(Checker, ValidCertificatesInBothFormsPass) {
    std::string f = file("xor.qdimacs", kXor);
    for (const std::string& c : {file("xor.aag", kXorAag), file("xor.aig", xorAig())}) {
        RunResult r = check(f, c);
        EXPECT_EQ(r.status, 0) << c << "\n" << r.out << r.err;
        EXPECT_NE(r.out.find("c certificate: 2 inputs, 1 outputs, 4 gates\n"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("s VALID\n"), std::string::npos) << r.out;
    }
    // A gzip-compressed formula reads the same.
    ASSERT_EQ(testsupport::run({"/usr/bin/gzip", "-k", f}).status, 0);
    EXPECT_EQ(check(f + ".gz", dir.file("xor.aag")).status, 0);
}

// What certifying solvers write: inputs in number order named by the symbol table, a
// constant output "result", a dead gate; and, for a formula without universals, gates
// alone, one per existential, numbered like it.
TEST_F(Checker, SolverConventionsAreAccepted) {
    std::string f = file("xor.qdimacs", kXor);
    std::string solver = file("solver.aag", "aag 7 2 0 2 5\n2\n4\n1\n14\n6 2 4\n8 3 5\n10 7 9\n12 11 1\n14 10 10\n"
                                            "i0 1\ni1 2\no0 result\no1 3\nc\n");
    RunResult r = check(f, solver);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("s VALID"), std::string::npos) << r.out;
    std::string flipped = file("flipped.aag", "aag 7 2 0 2 5\n2\n4\n1\n15\n6 2 4\n8 3 5\n10 7 9\n12 11 1\n14 10 10\n"
                                              "i0 1\ni1 2\no0 result\no1 3\n");
    EXPECT_EQ(check(f, flipped).status, 1);

    std::string g = file("prop.qdimacs", "p cnf 3 2\ne 1 2 3 0\n1 0\n-3 2 0\n");
    r = check(g, file("prop.aag", "aag 3 0 0 0 3\n2 1 1\n4 1 1\n6 0 0\n"));
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(check(g, file("wrong.aag", "aag 3 0 0 0 3\n2 0 0\n4 1 1\n6 0 0\n")).status, 1);
}

TEST_F(Checker, AnInvalidCertificateGetsAFalsifyingScenario) {
    std::string f = file("xor.qdimacs", kXor);
    // e3 = u1: wrong exactly where u2 is true.
    RunResult r = check(f, file("u1.aag", "aag 3 2 0 1 1\n2\n4\n6\n6 2 1\ni0 1\ni1 2\no0 3\n"));
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("s INVALID\n"), std::string::npos) << r.out;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.out, m, std::regex("\nv (-?1) 2 0\n"))) << r.out;
    // The clause named is the one the scenario falsifies: with u2 true, the clause
    // "-3 -1 -2" when u1 (and so e3) is true, else "3 1 -2".
    bool u1 = m[1].str()[0] != '-';
    EXPECT_NE(r.out.find(u1 ? "c clause 2 is falsified: -3 -1 -2 0\n" : "c clause 4 is falsified: 3 1 -2 0\n"),
              std::string::npos)
        << r.out;
}

TEST_F(Checker, AFunctionReadingALaterUniversalIsInvalid) {
    // e2 = not u3 satisfies both clauses, but u3 is quantified after e2.
    std::string f = file("dep.qdimacs", "p cnf 3 2\na 1 0\ne 2 0\na 3 0\n2 3 0\n-2 -3 0\n");
    RunResult r = check(f, file("dep.aag", "aag 3 2 0 1 1\n2\n6\n4\n4 7 1\n"));
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("s INVALID\nc the function of existential 2 reads universal 3, quantified after it\n"),
              std::string::npos)
        << r.out;
}

TEST_F(Checker, ExistentialsWithoutOutputCountForBothValues) {
    std::string circuit = file("one.aag", "aag 2 1 0 1 1\n2\n4\n4 1 1\n");  // e2 = true, e3 missing
    RunResult ok = check(file("a.qdimacs", "p cnf 3 2\na 1 0\ne 2 3 0\n2 1 0\n2 -3 0\n"), circuit);
    EXPECT_EQ(ok.status, 0) << ok.out << ok.err;
    EXPECT_NE(ok.out.find("c 1 existentials have no output and count for both values\n"), std::string::npos);
    RunResult bad = check(file("b.qdimacs", "p cnf 3 2\na 1 0\ne 2 3 0\n2 1 0\n-2 3 0\n"), circuit);
    EXPECT_EQ(bad.status, 1) << bad.out << bad.err;
}

TEST_F(Checker, UnreadableOrMismatchedInputsAreRefusedWithAMessage) {
    std::string f = file("xor.qdimacs", kXor);
    struct Case {
        const char* name;
        std::string content;
        const char* message;
    };
    const Case cases[] = {
        {"text.aag", "hello\n", "not an AIGER file"},
        {"latch.aag", "aag 3 2 1 1 0\n2\n4\n6 2\n6\n", "latches are not supported"},
        {"huge.aag", "aag 100000000 90000000 0 0 0\n2\n", "header counts too large"},
        {"huge.aig", "aig 1000000 999999 0 0 1\n", "header counts too large"},
        {"cycle.aag", "aag 4 2 0 1 2\n2\n4\n6\n6 8 2\n8 6 4\n", "cycle"},
        {"undef.aag", "aag 5 2 0 1 1\n2\n4\n6\n6 10 2\n", "undefined variable"},
        {"twice.aag", "aag 3 2 0 1 1\n2\n2\n6\n6 2 4\n", "input 1"},
        {"cut.aig", "aig 3 2 0 1 1\n6\n\x01", "bad binary encoding"},
        {"exist.aag", "aag 3 2 0 1 1\n2\n6\n4\n4 2 6\n", "no universal of the formula"},
        {"univ.aag", "aag 3 2 0 1 1\n2\n4\n4\n6 2 4\n", "no existential of the formula"},
        {"symbol.aag", "aag 3 2 0 1 1\n2\n4\n6\n6 2 4\ni7 1\n", "symbol for the missing input 7"},
    };
    for (const Case& c : cases) {
        RunResult r = check(f, file(c.name, c.content));
        EXPECT_EQ(r.status, 2) << c.name << "\n" << r.out << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.name << ": " << r.err;
    }
    RunResult none = check(dir.file("none.qdimacs"), dir.file("none.aag"));
    EXPECT_EQ(none.status, 2);
    EXPECT_NE(none.err.find("cannot read"), std::string::npos) << none.err;
    EXPECT_EQ(check(file("bad.qdimacs", "p cnf 2 1\n1 5 0\n"), file("ok.aag", kXorAag)).status, 2);
}

// Random certificates of the prefix  a 1 2  e 3 4  a 5  e 6 7  (total functions, each
// existential over the universals before it, or, when planted, over a later one too),
// and formulas of clauses that the unplanted certificate satisfies, so that the QBF is
// true. A planted fault flips a function in one scenario or adds a dependency.
struct Instance {
    std::string formula;
    std::vector<unsigned> table[8];  // table[e][scenario], scenario bits: u1, u2, u5
};

bool literalValue(const Instance& in, int lit, unsigned s) {
    int v = lit < 0 ? -lit : lit;
    bool value = v == 1 ? (s & 1) : v == 2 ? (s >> 1) & 1 : v == 5 ? (s >> 2) & 1 : in.table[v][s];
    return lit < 0 ? !value : value;
}

TEST_F(Checker, ExportedCertificatesAgreeWithTheBddValidityCheck) {
    std::mt19937 rng(2024);
    int valid = 0, invalid = 0;
    for (int round = 0; round < 24; ++round) {
        Instance in;
        for (int e : {3, 4, 6, 7}) {
            in.table[e].resize(8);
            unsigned bits = rng();
            for (unsigned s = 0; s < 8; ++s) {
                // 3 and 4 see u1 and u2 only: their value repeats across u5.
                unsigned row = e < 5 ? (s & 3) : s;
                in.table[e][s] = (bits >> row) & 1;
            }
        }
        std::ostringstream clauses;
        int count = 0;
        for (int tries = 0; tries < 400 && count < 14; ++tries) {
            int lits[3];
            for (int& l : lits) l = static_cast<int>(rng() % 7 + 1) * (rng() % 2 ? 1 : -1);
            bool holds = true;
            for (unsigned s = 0; s < 8 && holds; ++s)
                holds = literalValue(in, lits[0], s) || literalValue(in, lits[1], s) || literalValue(in, lits[2], s);
            if (!holds) continue;
            clauses << lits[0] << " " << lits[1] << " " << lits[2] << " 0\n";
            ++count;
        }
        std::string formula = file("r.qdimacs", "p cnf 7 " + std::to_string(count) +
                                                    "\na 1 2 0\ne 3 4 0\na 5 0\ne 6 7 0\n" + clauses.str());
        int planted = round % 3;  // 0 none, 1 a flipped value, 2 a dependency on u5
        if (planted == 1) {
            unsigned s = rng() % 8;
            int e = std::vector<int>{6, 7}[rng() % 2];
            in.table[e][s] ^= 1;
        } else if (planted == 2) {
            in.table[3][4 | (rng() % 4)] ^= 1;
        }
        std::string qbm = dir.file("r.qbm"), aag = dir.file("r.aag"), aig = dir.file("r.aig");
        {
            auto m = newReplayModel("r.qdimacs", 8, {0, 1, 2, 5}, {0, 1, 2, 3, 4, 5, 6, 7}, 7);
            for (int e : {3, 4, 6, 7}) {
                bdd::Bdd f = bdd::zero();
                for (unsigned s = 0; s < 8; ++s) {
                    if (!in.table[e][s]) continue;
                    bdd::Bdd minterm = bdd::one();
                    for (int k = 1; k <= 3; ++k)
                        minterm &= (s >> (k - 1)) & 1 ? bdd::ithVar(k) : !bdd::ithVar(k);
                    f |= minterm;
                }
                m->posBdd[e] = f;
                m->negBdd[e] = !f;
            }
            m->dddmpMode = 'A';
            ASSERT_EQ(writeQbm(*m, qbm).message(), "");
            ASSERT_EQ(writeAag(*m, aag).message(), "");
            ASSERT_EQ(writeAig(*m, aig).message(), "");
        }
        RunResult bddCheck = plumex({"-qbf", formula, qbm}, dir.path());
        bool bddValid = bddCheck.out.find("Certificate is VALID") != std::string::npos;
        ASSERT_TRUE(bddValid || bddCheck.out.find("Certificate is INVALID") != std::string::npos) << bddCheck.out;
        if (planted == 0) {
            EXPECT_TRUE(bddValid) << bddCheck.out;
        }
        (bddValid ? valid : invalid)++;
        for (const std::string& c : {aag, aig}) {
            RunResult r = check(formula, c);
            EXPECT_EQ(r.status, bddValid ? 0 : 1) << "round " << round << " " << c << "\n"
                                                  << readFile(formula) << r.out << r.err << bddCheck.out;
        }
    }
    EXPECT_GT(valid, 8);
    EXPECT_GT(invalid, 4);
}

// The "-dump aag aig" items of the real binary: both files next to the QBM file, one step
// each, and the checker's verdict is the pipeline's.
TEST_F(Checker, PlumexDumpsBothFormsForTheChecker) {
    std::string f = file("xor.qdimacs", kXor);
    std::string qbm = dir.file("x.qbm");
    for (bool broken : {false, true}) {
        {
            auto m = newReplayModel("xor.qdimacs", 4, {0, 1, 2}, {0, 1, 2, 3}, 3);
            bdd::Bdd fn = bdd::ithVar(1) ^ bdd::ithVar(2);
            if (broken) fn = bdd::ithVar(1) | bdd::ithVar(2);
            m->posBdd[3] = fn;
            m->negBdd[3] = !fn;
            m->dddmpMode = 'A';
            ASSERT_TRUE(writeQbm(*m, qbm));
        }
        RunResult r = plumex({"-qbf", f, "-dump", "aag", "aig", qbm}, dir.path());
        if (r.out.find("Usage") != std::string::npos || r.out.find("usage") != std::string::npos)
            GTEST_SKIP() << "this build has no \"aag\"/\"aig\" dump items";
        std::string out = testsupport::maskTimes(r.out);
        EXPECT_NE(out.find("AIGER representation: \"" + qbm + ".aag\""), std::string::npos) << out;
        EXPECT_NE(out.find("AIGER representation: \"" + qbm + ".aig\""), std::string::npos) << out;
        EXPECT_NE(out.find(broken ? "Certificate is INVALID" : "Certificate is VALID"), std::string::npos) << out;
        for (const std::string& c : {qbm + ".aag", qbm + ".aig"}) {
            RunResult v = check(f, c);
            EXPECT_EQ(v.status, broken ? 1 : 0) << c << "\n" << v.out << v.err;
        }
    }
    // A file that cannot be put in place (a directory has its name) is reported on its
    // step, and the instance fails.
    std::filesystem::remove(qbm + ".aag");
    std::filesystem::create_directory(qbm + ".aag");
    RunResult r = plumex({"-qbf", f, "-dump", "aag", qbm}, dir.path());
    EXPECT_NE(r.out.find("cannot write \"" + qbm + ".aag\""), std::string::npos) << r.out;
    EXPECT_EQ(r.status, 255) << r.out;
    EXPECT_TRUE(std::filesystem::is_directory(qbm + ".aag"));
}

// abc reads the binary export, and finds the exports of the same functions under two
// variable orders (different circuits) equivalent, and a changed function not.
TEST_F(Checker, BerkeleyAbcReadsTheBinaryExport) {
    const std::string abc = "/usr/bin/berkeley-abc";
    if (!fileExists(abc)) GTEST_SKIP() << "abc is missing: install the Debian package berkeley-abc";
    std::string first = dir.file("first.aig"), second = dir.file("second.aig"), other = dir.file("other.aig");
    {
        auto m = newReplayModel("c.qdimacs", 8, {0, 1, 2, 3, 4}, {0, 1, 2, 3, 4, 5, 6, 7}, 7);
        bdd::Bdd a = bdd::ithVar(1), b = bdd::ithVar(2), c = bdd::ithVar(3), d = bdd::ithVar(4);
        m->posBdd[5] = (a & b) | ((!a) & c) | (d & (!b));
        m->posBdd[6] = a ^ b ^ c ^ d;
        m->posBdd[7] = bdd::one();
        ASSERT_TRUE(writeAig(*m, first));
        m->manager->setOrder({0, 4, 3, 2, 1});
        ASSERT_TRUE(writeAig(*m, second));
        m->posBdd[6] = a ^ b ^ c;
        ASSERT_TRUE(writeAig(*m, other));
    }
    RunResult r = testsupport::run({abc, "-c", "read_aiger " + first + "; print_stats"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(std::regex_search(r.out, std::regex("i/o = +4/ +3"))) << r.out;
    EXPECT_EQ(r.out.find("failed"), std::string::npos) << r.out;
    EXPECT_NE(readFile(first), readFile(second));
    RunResult same = testsupport::run({abc, "-c", "cec " + first + " " + second});
    EXPECT_NE(same.out.find("Networks are equivalent"), std::string::npos) << same.out;
    RunResult differ = testsupport::run({abc, "-c", "cec " + first + " " + other});
    EXPECT_NE(differ.out.find("NOT EQUIVALENT"), std::string::npos) << differ.out;
}

// A false formula (e1 | a2 | e3: 2 must differ from 1, and 1 needs 2) and its countermodels: inputs
// existentials, outputs universals; exit status 3 when one holds.
TEST_F(Checker, CountermodelsHoldWhenTheMatrixCannotBeSatisfied) {
    std::string f = file("false.qdimacs", "p cnf 3 4\ne 1 0\na 2 0\ne 3 0\n1 2 0\n-1 -2 0\n3 -2 0\n-1 2 0\n");
    RunResult r = check(f, file("good.aag", "aag 1 1 0 1 0\n2\n2\ni0 1\no0 2\n"));
    EXPECT_EQ(r.status, 3) << r.out << r.err;
    EXPECT_EQ(r.out, "c formula: 3 variables, 4 clauses, 1 universals\nc countermodel: 1 inputs, 1 outputs, 0 gates\ns VALID\n");
    // u2 = not e1: with e1 false and e3 true (and only then) every clause holds.
    r = check(f, file("wrong.aag", "aag 1 1 0 1 0\n2\n3\ni0 1\no0 2\n"));
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("s INVALID\nc every clause is satisfied under the existential assignment\nv -1 3 0\n"),
              std::string::npos)
        << r.out;
    // u2 = not e3 would win, but e3 is quantified after u2.
    r = check(f, file("later.aag", "aag 3 1 0 1 0\n6\n7\ni0 3\no0 2\n"));
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("s INVALID\nc the function of universal 2 reads existential 3, quantified after it\n"),
              std::string::npos)
        << r.out;
    // A universal without an output counts for both values.
    r = check(f, file("none.aag", "aag 0 0 0 0 0\n"));
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    // Mixed kinds and duplicates are unfit.
    r = check(f, file("twice.aag", "aag 1 1 0 2 0\n2\n2\n3\ni0 1\no0 2\no1 2\n"));
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "plumex-aigercheck: two outputs name the universal 2\n");
    r = check(f, file("mixed.aag", "aag 2 2 0 1 0\n2\n4\n2\ni0 1\ni1 2\no0 3\n"));
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("input 0 names 1, which is no universal of the formula: the circuit mixes"), std::string::npos)
        << r.err;
    // An empty clause needs no countermodel function at all.
    r = check(file("empty.qdimacs", "p cnf 1 1\na 1 0\n0\n"), file("const.aag", "aag 0 0 0 1 0\n0\no0 1\n"));
    EXPECT_EQ(r.status, 3) << r.out << r.err;
}

}  // namespace
