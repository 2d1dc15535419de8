// The callbacks the entry installs in the framework record.
#include "runcontrol/entry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "pipeline/settings.h"
#include "tests/support/run.h"

using testsupport::TempDir;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

class Entry : public ::testing::Test {
  protected:
    void SetUp() override {
        scanSettings() = Settings{};
        log = dir.file("fam/a.Tobrin.log");
        qbm = dir.file("fam/a.qbm");
        formula = dir.file("fam/a.qdimacs");
        std::filesystem::create_directory(dir.file("fam"));
        writeFile(log, "# Tobrin log file, 1.3\n# formula: \"" + formula + "\"\n# dump format: text\n");
        writeFile(qbm, "# QBM file, 1.3\n# solver: Tobrin\n# formula: \"" + formula + "\"\n");
        writeFile(formula, "p cnf 2 1\na 1 0\ne 2 0\n1 2 0\n");
    }
    TempDir dir;
    std::string log, qbm, formula;
};

}  // namespace

TEST_F(Entry, RecordFlagsAndConfigurationName) {
    scanSettings().batchMode = 1;
    scanSettings().giveup = 1;
    scanSettings().report = 1;
    InstanceFramework f = entry::makeFramework();
    EXPECT_EQ(f.batchMode, 1);
    EXPECT_EQ(f.giveup, 1);
    EXPECT_EQ(f.autoGiveup, 0);
    EXPECT_EQ(f.report, 1);
    EXPECT_EQ(f.configName, "Plumex.conf");
    EXPECT_TRUE(f.processInstance && f.isInstance && f.isSuccess && f.outcomeName && f.sortKey);
    EXPECT_TRUE(f.onTimeout && f.onCrash && f.applyLine);
    EXPECT_FALSE(f.onMemout);
}

TEST_F(Entry, InstancesDependOnModeAndCheck) {
    InstanceFramework f = entry::makeFramework();
    EXPECT_TRUE(f.isInstance(log));
    EXPECT_TRUE(f.isInstance(qbm));
    EXPECT_FALSE(f.isInstance(formula));
    scanSettings().batchMode = 1;
    EXPECT_TRUE(f.isInstance(log));
    EXPECT_FALSE(f.isInstance(qbm));
    scanSettings().check = 1;
    EXPECT_FALSE(f.isInstance(log));
    EXPECT_TRUE(f.isInstance(qbm));
}

TEST_F(Entry, SuccessOutcomeWordsAndSortKey) {
    InstanceFramework f = entry::makeFramework();
    EXPECT_TRUE(f.isSuccess(10));
    EXPECT_FALSE(f.isSuccess(20));
    EXPECT_FALSE(f.isSuccess(30));
    char word[kOutcomeNameSize];
    const std::pair<int, const char*> words[] = {{10, "VALID"}, {20, "INVALID"}, {-1, "PROBLEMS"}, {30, "PROBLEMS"},
                                                 {-6, "PROBLEMS"}};
    for (auto [code, expected] : words) {
        f.outcomeName(word, code);
        EXPECT_STREQ(word, expected);
    }
    writeFile(dir.file("sized"), std::string(1234, 'x'));
    EXPECT_EQ(f.sortKey(dir.file("sized")), 1234);
    EXPECT_EQ(f.sortKey(dir.file("missing")), 0);
}

TEST_F(Entry, ReportHooksWriteOnlyForInstancesThatAreFormulas) {
    InstanceFramework f = entry::makeFramework();
    std::string reportFile = dir.file("fam/fam.qbm.txt");
    f.onTimeout(formula);  // report off: nothing
    EXPECT_FALSE(testsupport::fileExists(reportFile));
    scanSettings().report = 1;
    // A solver log or a QBM file never passes the formula test: no line.
    f.onTimeout(log);
    f.onCrash(qbm, 11);
    EXPECT_FALSE(testsupport::fileExists(reportFile));
    f.onTimeout(formula);
    f.onCrash(formula, 11);
    EXPECT_EQ(readFile(reportFile),
              "a.qdimacs\t2\t1\tA[1]E[1]\t1\t0.00\t0.00\t0.00\t0\t0\tTIMEOUT\n"
              "a.qdimacs\t2\t1\tA[1]E[1]\t1\t0.00\t0.00\t0.00\t0\t0\tCRASH\n");
}
