// The QDIMACS reader: clauses as the callback sees them, the prefix, malformed files.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "inputs/qdimacs_reader.h"
#include "tests/support/recorder.h"
#include "tests/support/run.h"

namespace {

using testsupport::TempDir;
using testsupport::writeFile;

struct Read {
    int result = -1;
    std::vector<std::vector<int>> clauses;
    std::string out;  // what the reader printed on the open step's line
    qdimacs::Prefix prefix;
};

// Reads the file, collecting the clauses and what the reader reports; reject: the clause
// index (from 0) at which the callback says no.
Read readFile(const std::string& path, int numVars, int maxKnown, int reject = -1) {
    Read r;
    qdimacs::Expect expect{numVars, maxKnown};
    testsupport::Recorder recorder;
    r.result = qdimacs::read(
        path, expect,
        [&](const int* l, int n) {
            r.clauses.emplace_back(l, l + n);
            return static_cast<int>(r.clauses.size()) - 1 == reject ? 0 : 1;
        },
        recorder,
        [&](const qdimacs::Prefix& p) {
            r.prefix = p;
            return 1;
        });
    r.out = recorder.text;
    return r;
}

const char* kMarks = "[0% 10% 20% 30% 40% 50% 60% 70% 80% 90% 100%] ";

TEST(QdimacsReader, DeduplicatesDropsTautologiesAndShowsAllMarks) {
    TempDir dir;
    std::string f = dir.file("f.qdimacs");
    writeFile(f, "c comment\np cnf 3 3\na 1 0\ne 2 3 0\n1 -2 1 0\n1 -2 -1 0\n-3\t2 0\n");
    Read r = readFile(f, 4, 3);
    EXPECT_EQ(r.result, 1);
    ASSERT_EQ(r.clauses.size(), 2u);
    EXPECT_EQ(r.clauses[0], (std::vector<int>{1, -2}));
    EXPECT_EQ(r.clauses[1], (std::vector<int>{-3, 2}));
    EXPECT_NE(r.out.find(kMarks), std::string::npos) << r.out;
    // The prefix: 1 in the first block (universal), 2 and 3 in the second (existential).
    ASSERT_EQ(r.prefix.blockKind.size(), 3u);
    EXPECT_EQ(r.prefix.blockKind[1], 'a');
    EXPECT_EQ(r.prefix.blockKind[2], 'e');
    EXPECT_EQ(r.prefix.block, (std::vector<int>{0, 1, 2, 2}));
}

TEST(QdimacsReader, SeveralClausesOnALineAreAllRead) {
    TempDir dir;
    std::string f = dir.file("f.qdimacs");
    writeFile(f, "p cnf 2 3\ne 1 2 0\n1 0 -2 0\n2 1 0\n");
    Read r = readFile(f, 3, 2);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.clauses, (std::vector<std::vector<int>>{{1}, {-2}, {2, 1}}));
}

TEST(QdimacsReader, BlankLinesAndCommentsAmongClausesEndNothing) {
    TempDir dir;
    std::string f = dir.file("f.qdimacs");
    writeFile(f, "p cnf 2 3\ne 1 2 0\n1 0\n\nc a remark\n   \n-2 0\n1 2 0\n");
    Read r = readFile(f, 3, 2, 1);
    // The clause after the blank line is read, and its rejection fails the read.
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.clauses.size(), 2u);
}

TEST(QdimacsReader, MalformedClausesStopWithTheirLine) {
    TempDir dir;
    struct Case {
        const char* text;
        const char* message;
    } cases[] = {
        {"p cnf 2 5\ne 1 2 0\n1 0\n3 0\n", "Problem, literal 3 out of range at line 4 "},
        {"p cnf 2 5\ne 1 2 0\n1 0\n-3 1 0\n", "Problem, literal -3 out of range at line 4 "},
        {"p cnf 2 5\ne 1 2 0\n1 0\n2 x 0\n", "Problem, not a number at line 4 "},
        {"p cnf 2 5\ne 1 2 0\n1 0\n2 99999999999999999999 0\n", "Problem, literal out of range at line 4 "},
        {"p cnf 2 5\ne 1 2 0\n1 0\n2 1\n\n", "Problem, clause without closing 0 at line 4 "},
        {"p cnf 2 5\ne 1 2 0\n1 0\n0\n", "Problem, empty clause at line 4 "},
        {"p cnf 2 5\ne 1 x 0\n1 0\n", "Problem, not a number at line 2 "},
        {"p cnf 2 5\ne 1 2 0\na 2 0\n", "Problem, variable 2 quantified twice at line 3 "},
        {"p cnf 2 5\ne 1 -2 0\n", "Problem, variable -2 out of range at line 2 "},
        {"p cnf 2 5\ne 1 99999999999 0\n", "Problem, variable out of range at line 2 "},
        {"c only\n", "Problem, no problem line "},
        {"e 1 0\n", "Problem, no problem line at line 1 "},
        {"p dnf 2 2\n", "Problem, bad problem line at line 1 "},
        {"p cnf 2\n", "Problem, bad problem line at line 1 "},
    };
    for (const Case& c : cases) {
        std::string f = dir.file("bad.qdimacs");
        writeFile(f, c.text);
        Read r = readFile(f, 3, 2);
        EXPECT_EQ(r.result, 0) << c.text;
        EXPECT_NE(r.out.find(c.message), std::string::npos) << c.text << " gave " << r.out;
        EXPECT_EQ(r.out.find("100%]"), std::string::npos) << c.text;
    }
}

TEST(QdimacsReader, PrefixMustMatchTheCertificate) {
    TempDir dir;
    std::string f = dir.file("f.qdimacs");
    writeFile(f, "p cnf 12 1\na 1 2 3 0\ne 4 5 6 7 8 9 10 0\n1 0\n");
    EXPECT_EQ(readFile(f, 11, 12).result, 1);
    Read r = readFile(f, 12, 12);
    EXPECT_EQ(r.result, 0);
    EXPECT_NE(r.out.find("Problem, var number mismatch, in qbf:10 in log:12 "), std::string::npos) << r.out;
    // A comment between the problem line and the prefix ends the prefix early.
    writeFile(f, "p cnf 3 1\nc here\ne 1 2 0\n1 0\n");
    r = readFile(f, 3, 3);
    EXPECT_EQ(r.result, 0);
    EXPECT_NE(r.out.find("in qbf:0 in log:3"), std::string::npos) << r.out;
    // Even when the problem line counts the certificate's variables: after a comment the
    // rest of the prefix is unknown, so its variables are not taken for free ones.
    writeFile(f, "p cnf 2 1\nc here\ne 1 2 0\n1 0\n");
    r = readFile(f, 3, 2);
    EXPECT_EQ(r.result, 0);
    EXPECT_NE(r.out.find("Problem, var number mismatch, in qbf:0 in log:3 "), std::string::npos) << r.out;
    // Unquantified variables are free when the problem line counts the certificate's
    // variables and the prefix ends at a clause.
    writeFile(f, "p cnf 3 2\ne 1 0\n1 2 0\n-3 1 0\n");
    r = readFile(f, 4, 3);
    EXPECT_EQ(r.result, 1) << r.out;
    EXPECT_EQ(r.prefix.block, (std::vector<int>{0, 1, 0, 0}));
}

TEST(QdimacsReader, VariablesTheCertificateDoesNotKnowAreStillDeduplicated) {
    TempDir dir;
    std::string f = dir.file("f.qdimacs");
    writeFile(f, "p cnf 9 2\ne 1 0\n1 9 9 0\n9 -9 0\n");
    Read r = readFile(f, 2, 1);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.clauses, (std::vector<std::vector<int>>{{1, 9}}));
}

TEST(QdimacsReader, LongLineRestartsWithADoubledBuffer) {
    TempDir dir;
    std::string f = dir.file("long.qdimacs");
    std::string text = "p cnf 2 2\ne 1 2 0\n1 0\n";
    std::string line;
    while (line.size() < 12000) line += "1 2 ";
    text += line + "0\n";
    writeFile(f, text);
    std::size_t before = qdimacs::lineSize();
    Read r = readFile(f, 3, 2);
    EXPECT_EQ(r.result, 1);
    EXPECT_GE(qdimacs::lineSize(), 2 * before);
    // The first clause is seen again after the restart; the marks are shown once.
    ASSERT_GE(r.clauses.size(), 3u);
    EXPECT_EQ(r.clauses.back(), (std::vector<int>{1, 2}));
    EXPECT_EQ(r.out.find("[0% "), r.out.rfind("[0% "));
    EXPECT_NE(r.out.find(kMarks), std::string::npos) << r.out;
}

TEST(QdimacsReader, GzipTwinGivesTheSameClausesAndCutGzipFails) {
    TempDir dir;
    std::string text = "c x\np cnf 4 3\na 1 2 0\ne 3 4 0\n1 3 0\n-2 4 3 0\n2 -4 0\n";
    std::string plain = dir.file("f.qdimacs"), packed = dir.file("f.qdimacs.gz");
    writeFile(plain, text);
    gzFile gz = gzopen(packed.c_str(), "wb");
    ASSERT_TRUE(gz);
    gzwrite(gz, text.data(), static_cast<unsigned>(text.size()));
    gzclose(gz);
    Read a = readFile(plain, 5, 4), b = readFile(packed, 5, 4);
    EXPECT_EQ(a.result, 1);
    EXPECT_EQ(b.result, 1);
    EXPECT_EQ(a.clauses, b.clauses);

    std::string cut = testsupport::readFile(packed);
    cut.resize(cut.size() - 6);
    writeFile(dir.file("cut.qdimacs.gz"), cut);
    Read c = readFile(dir.file("cut.qdimacs.gz"), 5, 4);
    EXPECT_EQ(c.result, 0);
    EXPECT_NE(c.out.find("Problem, cannot read the formula"), std::string::npos) << c.out;
}

}  // namespace

TEST(QdimacsReader, LongClausesAreDeduplicatedAndTautologiesDroppedToo) {
    TempDir dir;
    std::string f = dir.file("f.qdimacs");
    std::string text = "p cnf 30 2\ne";
    for (int v = 1; v <= 30; ++v) text += " " + std::to_string(v);
    text += " 0\n";
    std::vector<int> expected;
    for (int v = 1; v <= 20; ++v) {
        text += std::to_string(v % 2 ? v : -v) + " ";
        expected.push_back(v % 2 ? v : -v);
    }
    text += "3 -4 25 3 25 0\n";  // repeats before and after the twentieth literal
    expected.push_back(25);
    for (int v = 1; v <= 20; ++v) text += std::to_string(v) + " ";
    text += "-19 0\n";  // a tautology found late
    writeFile(f, text);
    Read r = readFile(f, 31, 30);
    EXPECT_EQ(r.result, 1);
    ASSERT_EQ(r.clauses.size(), 1u);
    EXPECT_EQ(r.clauses[0], expected);
}

namespace {

// The head of a formula as the prefix reader of other certificate formats sees it: the
// same lines as the formula reader, so a NUL byte ends a prefix line for both, and a long
// line restarts the walk without repeating blocks.
TEST(QdimacsPrefixReader, SeesTheLinesTheFormulaReaderSees) {
    TempDir dir;
    std::string text = "c " + std::string(12000, 'x') + "\n" +
                       std::string("p cnf 6 1\na 1 2\0 9 0\ne 3 4 0\ne 5 6 0\n1 3 5 0\n", 45);
    std::string path = dir.path() + "/f.qdimacs";
    writeFile(path, text);
    Result<qdimacs::HeadPrefix> prefix = qdimacs::readPrefix(path);
    ASSERT_TRUE(prefix.ok()) << prefix.message();
    EXPECT_EQ(prefix->numVars, 6);
    ASSERT_EQ(prefix->blocks.size(), 3u);
    EXPECT_EQ(prefix->blocks[0].second, (std::vector<int>{1, 2}));
    EXPECT_EQ(prefix->blocks[1].second, (std::vector<int>{3, 4}));
    EXPECT_EQ(prefix->blocks[2].second, (std::vector<int>{5, 6}));

    Read r = readFile(path, 7, 6);
    EXPECT_EQ(r.prefix.block[2], 1);
    EXPECT_EQ(r.prefix.block[3], 2);

    EXPECT_FALSE(qdimacs::readPrefix(dir.path() + "/missing.qdimacs").ok());
    writeFile(path, "c only comments\n");
    EXPECT_EQ(qdimacs::readPrefix(path).message(), "no problem line at line 2");
}

}  // namespace
