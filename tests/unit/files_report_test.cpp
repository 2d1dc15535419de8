// Batch report lines: the report file's name, the instance name and the formula's
// statistics fields.
#include "files/report.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/run.h"

using testsupport::TempDir;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

std::string statistics(const std::string& path) {
    char* data = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&data, &size);
    report::formulaStatistics(path, out);
    std::fclose(out);
    std::string text(data, size);
    std::free(data);
    return text;
}

}  // namespace

TEST(ReportNames, FileNamedAfterTheFormulasDirectory) {
    EXPECT_EQ(report::reportFileName("bench/family/f.qdimacs"), "bench/family/family.qbm.txt");
    EXPECT_EQ(report::reportFileName("/abs/dir/f.qdimacs"), "/abs/dir/dir.qbm.txt");
    EXPECT_EQ(report::reportFileName("f.qdimacs"), "certificationReport.qbm.txt");
    EXPECT_EQ(report::reportFileName("./f.qdimacs"), "./certificationReport.qbm.txt");
    EXPECT_EQ(report::reportFileName("/f.qdimacs"), "/certificationReport.qbm.txt");
}

TEST(ReportNames, InstanceName) {
    EXPECT_EQ(report::instanceName("d/f.qdimacs"), "f.qdimacs");
    EXPECT_EQ(report::instanceName("d/f.Tobrin.log"), "f");
    EXPECT_EQ(report::instanceName("d/f.qbm"), "f");
    EXPECT_EQ(report::instanceName("d/f.qbm.Tobrin.log"), "f.qbm");
    EXPECT_EQ(report::instanceName("f.qdimacs"), "noname");
}

TEST(ReportStatistics, CountsAndQuantifierBlocks) {
    TempDir dir;
    writeFile(dir.file("f.qdimacs"), "c comment\np cnf 5 3\na 1 2 0\ne 3 4 0\na 0\ne 5 0\n1 2 0\n");
    EXPECT_EQ(statistics(dir.file("f.qdimacs")), "5\t3\tA[2]E[2]E[1]\t2\t");
    writeFile(dir.file("n.qdimacs"), "p cnf 2 1\n1 2 0\n");
    EXPECT_EQ(statistics(dir.file("n.qdimacs")), "2\t1\t\t-1\t");
    writeFile(dir.file("bad.qdimacs"), "1 2 0\n");
    EXPECT_EQ(statistics(dir.file("bad.qdimacs")), "0\t0\t\t-1\t");
    EXPECT_EQ(statistics(dir.file("missing.qdimacs")), "0\t0\t\t-1\t");
}

TEST(ReportStatistics, CompressedAndPlainAgree) {
    TempDir dir;
    const char* text = "p cnf 3 1\ne 1 2 3 0\n1 2 3 0\n";
    writeFile(dir.file("f.qdimacs"), text);
    gzFile gz = gzopen(dir.file("f.qdimacs.gz").c_str(), "w");
    gzputs(gz, text);
    gzclose(gz);
    EXPECT_EQ(statistics(dir.file("f.qdimacs")), "3\t1\tE[3]\t0\t");
    EXPECT_EQ(statistics(dir.file("f.qdimacs.gz")), "3\t1\tE[3]\t0\t");
}

TEST(ReportStatistics, ALongLineRestartsWithoutRepeatingFields) {
    TempDir dir;
    std::string universals = "a";
    for (int v = 1; v <= 3000; ++v) universals += " " + std::to_string(v);  // over 10,000 characters
    writeFile(dir.file("long.qdimacs"),
              "p cnf 3001 1\ne 3001 0\n" + universals + " 0\n1 0\n");
    EXPECT_EQ(statistics(dir.file("long.qdimacs")), "3001\t1\tE[1]A[3000]\t1\t");
    // The larger buffer stays: a second read needs no restart and gives the same.
    EXPECT_EQ(statistics(dir.file("long.qdimacs")), "3001\t1\tE[1]A[3000]\t1\t");
}

TEST(ReportLine, AppendsOneLinePerCallAndNothingForNonFormulas) {
    TempDir dir;
    std::string family = dir.file("fam");
    std::filesystem::create_directory(family);
    std::string formula = family + "/g.qdimacs";
    writeFile(formula, "p cnf 2 1\na 1 0\ne 2 0\n1 2 0\n");
    EXPECT_TRUE(report::appendReportLine(formula, 1.5, 0.25, 0.125, 42, 7, "VALID").ok());
    EXPECT_TRUE(report::appendReportLine(formula, 0, 3, 0, 0, 0, "TIMEOUT").ok());
    EXPECT_EQ(readFile(family + "/fam.qbm.txt"),
              "g.qdimacs\t2\t1\tA[1]E[1]\t1\t1.50\t0.25\t0.12\t42\t7\tVALID\n"
              "g.qdimacs\t2\t1\tA[1]E[1]\t1\t0.00\t3.00\t0.00\t0\t0\tTIMEOUT\n");
    std::string log = family + "/g.Tobrin.log";
    writeFile(log, "# Tobrin log file, 1.3\n");
    EXPECT_TRUE(report::appendReportLine(log, 0, 0, 0, 0, 0, "CRASH").ok());
    EXPECT_TRUE(report::appendReportLine(family + "/missing.qdimacs", 0, 0, 0, 0, 0, "CRASH").ok());
    EXPECT_EQ(readFile(family + "/fam.qbm.txt").find("CRASH"), std::string::npos);
}
