// Input kinds by name and first line, the formula-file test, and derived file names.
#include "inputs/input_kinds.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <filesystem>
#include <string>

#include "tests/support/run.h"

using testsupport::TempDir;
using testsupport::writeFile;

namespace {
const char* kLogBanner = "# Tobrin log file, 1.3\n# formula: \"f.qdimacs\"\n";
const char* kQbmBanner = "# QBM file, 1.3\n# solver: Tobrin\n";
}  // namespace

TEST(InputKinds, SolverLogNeedsItsEndingAndBanner) {
    TempDir dir;
    writeFile(dir.file("a.Tobrin.log"), kLogBanner);
    writeFile(dir.file("a.Tobrin.log.bak"), kLogBanner);
    writeFile(dir.file("q.Tobrin.log"), kQbmBanner);
    writeFile(dir.file("o.Tobrin.log"), "# Other log file, 1.3\n");
    writeFile(dir.file("x.Tobrin.log.Tobrin.log"), kLogBanner);
    writeFile(dir.file("e.Tobrin.log"), "");
    EXPECT_TRUE(inputs::isLogFile(dir.file("a.Tobrin.log")));
    EXPECT_FALSE(inputs::isLogFile(dir.file("a.Tobrin.log.bak")));
    EXPECT_FALSE(inputs::isLogFile(dir.file("q.Tobrin.log")));
    EXPECT_FALSE(inputs::isLogFile(dir.file("o.Tobrin.log")));
    EXPECT_FALSE(inputs::isLogFile(dir.file("x.Tobrin.log.Tobrin.log")));  // the ending occurs earlier
    EXPECT_FALSE(inputs::isLogFile(dir.file("e.Tobrin.log")));
    EXPECT_FALSE(inputs::isLogFile(dir.file("missing.Tobrin.log")));
    EXPECT_FALSE(inputs::isLogFile(dir.path()));
}

TEST(InputKinds, QbmFileNeedsVersion13) {
    TempDir dir;
    writeFile(dir.file("x.qbm"), kQbmBanner);
    writeFile(dir.file("old.qbm"), "# QBM file, 1.2\n");
    writeFile(dir.file("longer.qbm"), "# QBM file, 1.3.1\n");
    writeFile(dir.file("bare.qbm"), "# QBM file, 1.3");
    writeFile(dir.file("log.qbm"), kLogBanner);
    writeFile(dir.file("x.qbm.txt"), kQbmBanner);
    EXPECT_TRUE(inputs::isQbmFile(dir.file("x.qbm")));
    EXPECT_TRUE(inputs::isQbmFile(dir.file("bare.qbm")));
    EXPECT_FALSE(inputs::isQbmFile(dir.file("old.qbm")));
    EXPECT_FALSE(inputs::isQbmFile(dir.file("longer.qbm")));
    EXPECT_FALSE(inputs::isQbmFile(dir.file("log.qbm")));
    EXPECT_FALSE(inputs::isQbmFile(dir.file("x.qbm.txt")));
    EXPECT_FALSE(inputs::isLogFile(dir.file("x.qbm")));
}

TEST(InputKinds, FormulaFilesByEndingAndOpenability) {
    TempDir dir;
    for (const char* name : {"f.qdimacs", "f.qcnf", "f.dimacs", "f.qdimacs.txt", "f.qdimacs.qdimacs"})
        writeFile(dir.file(name), "p cnf 1 1\n");
    gzFile gz = gzopen(dir.file("g.qdimacs.gz").c_str(), "w");
    gzputs(gz, "p cnf 1 1\n");
    gzclose(gz);
    writeFile(dir.file("g.qcnf.gz"), "p cnf 1 1\n");  // zlib reads a plain file transparently
    EXPECT_TRUE(inputs::formulaExists(dir.file("f.qdimacs")));
    EXPECT_TRUE(inputs::formulaExists(dir.file("f.qcnf")));
    EXPECT_TRUE(inputs::formulaExists(dir.file("g.qdimacs.gz")));
    EXPECT_TRUE(inputs::formulaExists(dir.file("g.qcnf.gz")));
    EXPECT_FALSE(inputs::formulaExists(dir.file("f.dimacs")));
    EXPECT_FALSE(inputs::formulaExists(dir.file("f.qdimacs.txt")));
    EXPECT_FALSE(inputs::formulaExists(dir.file("f.qdimacs.qdimacs")));
    EXPECT_FALSE(inputs::formulaExists(dir.file("missing.qdimacs")));
    EXPECT_FALSE(inputs::formulaExists(dir.file("a.Tobrin.log")));
    EXPECT_FALSE(inputs::formulaExists(""));
    std::string folder = dir.file("d.qdimacs");
    std::filesystem::create_directory(folder);
    EXPECT_FALSE(inputs::formulaExists(folder));
}

TEST(DerivedNames, CertificateFamily) {
    EXPECT_EQ(inputs::logToQbmName("dir/f.Tobrin.log"), "dir/f.qbm");
    EXPECT_EQ(inputs::qbmToQdcName("dir/f.qbm"), "dir/f.qdc");
    EXPECT_EQ(inputs::dotName("dir/f.qbm"), "dir/f.qbm.dot");
    EXPECT_EQ(inputs::logToQbmName("a.Tobrin.log.x.Tobrin.log"), "a.qbm");
    EXPECT_EQ(inputs::qbmToQdcName("a.qbm.b.qbm"), "a.qdc");
    EXPECT_EQ(inputs::qbmToQdcName("plain"), "plain.qdc");
    EXPECT_EQ(inputs::resultName("e.txt"), "e.txt.result");
    EXPECT_EQ(inputs::lineName("e.txt", 12), "e.txt.line12");
}

TEST(DerivedNames, ExpressionDumps) {
    using inputs::ExpDump;
    EXPECT_EQ(inputs::expDumpName("m", 1, 3, ExpDump::Bdd), "m.2.exp.bdd");
    EXPECT_EQ(inputs::expDumpName("m", 0, 1, ExpDump::Bdd), "m.exp.bdd");
    EXPECT_EQ(inputs::expDumpName("m", 0, 2, ExpDump::Dot), "m.1.exp.dot");
    EXPECT_EQ(inputs::expDumpName("m", 0, 1, ExpDump::Direct), "m.exp.direct");
    EXPECT_EQ(inputs::expDumpName("m", 2, 3, ExpDump::Cnf, "pos"), "m.3.pos.exp.cnf");
    EXPECT_EQ(inputs::expDumpName("m", 0, 1, ExpDump::Cnf, ""), "m.exp.cnf");
}
