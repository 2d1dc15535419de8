// The command-line scan: options, their arguments, the input and the TIMEOUT, and the
// configuration-line form used inside batch children.
#include "runcontrol/cli.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pipeline/settings.h"
#include "tests/support/run.h"

using testsupport::TempDir;
using testsupport::writeFile;

namespace {

class Scan : public ::testing::Test {
  protected:
    void SetUp() override {
        scanSettings() = Settings{};
        qbm = dir.file("x.qbm");
        writeFile(qbm, "# QBM file, 1.3\n# solver: Tobrin\n");
        log = dir.file("a.Tobrin.log");
        writeFile(log, "# Tobrin log file, 1.3\n");
        testing::internal::CaptureStdout();
    }
    void TearDown() override {
        printed = testing::internal::GetCapturedStdout();
        if (HasFailure()) std::fputs(printed.c_str(), stdout);
    }

    // Runs the scan over "plumex" and the arguments.
    int scan(std::vector<std::string> args) {
        args.insert(args.begin(), "plumex");
        std::vector<const char*> argv;
        for (const std::string& a : args) argv.push_back(a.c_str());
        return cli::scanCommandLine(static_cast<int>(argv.size()), argv.data());
    }
    int line(std::vector<std::string> tokens) {
        tokens.insert(tokens.begin(), "");
        std::vector<const char*> argv;
        for (const std::string& a : tokens) argv.push_back(a.c_str());
        return cli::applyConfigurationLine(static_cast<int>(argv.size()), argv.data());
    }

    TempDir dir;
    std::string qbm, log, printed;
};

using ScanDeath = Scan;

const Settings& s() { return settings(); }

}  // namespace

TEST_F(Scan, InputKindsSetModeAndDefaultVerbosity) {
    EXPECT_EQ(scan({qbm}), 1);
    EXPECT_EQ(s().inputPath, qbm);
    EXPECT_EQ(s().batchMode, 0);
    EXPECT_EQ(s().verbosity, 3);
    EXPECT_EQ(scan({log}), 1);
    EXPECT_EQ(s().verbosity, 3);
    EXPECT_EQ(scan({dir.path()}), 1);
    EXPECT_EQ(s().batchMode, 1);
    EXPECT_EQ(s().verbosity, 1);
    EXPECT_EQ(s().inputPath, dir.path());
}

TEST_F(Scan, ExplicitVerbosityBeforeTheInputKeepsItsDefaultAwayAndAfterItOverrides) {
    scan({"-v", "0", qbm});
    EXPECT_EQ(s().verbosity, 0);
    scan({dir.path(), "-v", "4"});
    EXPECT_EQ(s().verbosity, 4);
}

TEST_F(Scan, VerbosityCharacterMapping) {
    const std::pair<const char*, int> cases[] = {{"0", 0}, {"2", 2}, {"4", 4}, {"5", 4}, {"7", 4},
                                                 {"z", 4}, {"!", 0}, {"/", 0}};
    for (auto [text, expected] : cases) {
        scan({qbm, "-v", text});
        EXPECT_EQ(s().verbosity, expected) << text;
    }
}

TEST_F(Scan, AnUnknownOptionStopsTheScanAndTheRestIsNeverRead) {
    EXPECT_EQ(scan({qbm, "-bogus", "-v", "0"}), 1);
    EXPECT_EQ(s().verbosity, 3);
    // "-timeout" belongs to configuration lines only.
    scan({qbm, "-timeout", "5", "-check"});
    EXPECT_EQ(s().check, 0);
    EXPECT_EQ(s().timeout, 0);
}

TEST_F(Scan, MalformedArgumentsStopTheScan) {
    const std::vector<std::vector<std::string>> lines = {
        {"-v", "12"}, {"-v", ""},   {"-hbdd", "x"},  {"-hbdd", "20"}, {"-hbdd", "-1"},
        {"-remove", "all"}, {"-var", "x"}, {"-var", ""}, {"-eval", "/no/such/file"},
        {"-dump", "qbc"}, {"-v"}, {"-qbf"},
    };
    for (std::vector<std::string> args : lines) {
        scanSettings() = Settings{};
        args.insert(args.begin(), qbm);
        args.push_back("-check");
        scan(args);
        EXPECT_EQ(s().check, 0) << args[1] << " " << (args.size() > 3 ? args[2] : "");
        EXPECT_EQ(s().inputPath, qbm);
    }
}

TEST_F(Scan, DumpItemsActInOrderAndLaterOnesOverride) {
    struct Case {
        std::vector<std::string> items;
        int qbmBdd, qbmDot, expBdd, expDot, expCnf, dirExp, qdc, singleBdd, singleDot;
    };
    const Case cases[] = {
        {{"qbm"}, 1, 1, 0, 0, 0, 0, 0, 1, 1},
        {{"qbm=bdd", "qbm=dot"}, 0, 1, 0, 0, 0, 0, 0, 1, 1},
        {{"qbm=dot", "qbm=bdd"}, 1, 0, 0, 0, 0, 0, 0, 1, 1},
        {{"exp=bdd", "exp=cnf"}, 0, 0, 0, 0, 1, 0, 0, 1, 1},
        {{"exp"}, 0, 0, 1, 1, 1, 0, 0, 1, 1},
        {{"exp=bdds"}, 0, 0, 1, 0, 0, 0, 0, 0, 1},
        {{"exp=bdds", "exp=bdd"}, 0, 0, 1, 0, 0, 0, 0, 1, 1},
        {{"exp=dots"}, 0, 0, 0, 1, 0, 0, 0, 1, 0},
        {{"exp", "exp=dot"}, 0, 0, 0, 1, 0, 0, 0, 1, 1},
        {{"direxp"}, 0, 0, 0, 0, 0, 1, 0, 1, 1},
        {{"qdc"}, 0, 0, 0, 0, 0, 0, 1, 1, 1},
        {{"exp=bdds", "exp=dots", "all"}, 1, 1, 1, 1, 1, 0, 1, 0, 0},
    };
    for (const Case& c : cases) {
        scanSettings() = Settings{};
        std::vector<std::string> args{qbm, "-dump"};
        args.insert(args.end(), c.items.begin(), c.items.end());
        scan(args);
        std::string what = c.items.front() + (c.items.size() > 1 ? " " + c.items[1] : "");
        EXPECT_EQ(s().dumpQbmBdd, c.qbmBdd) << what;
        EXPECT_EQ(s().dumpQbmDot, c.qbmDot) << what;
        EXPECT_EQ(s().dumpExpBdd, c.expBdd) << what;
        EXPECT_EQ(s().dumpExpDot, c.expDot) << what;
        EXPECT_EQ(s().dumpExpCnf, c.expCnf) << what;
        EXPECT_EQ(s().dumpDirExp, c.dirExp) << what;
        EXPECT_EQ(s().dumpQdc, c.qdc) << what;
        EXPECT_EQ(s().singleExpBddFile, c.singleBdd) << what;
        EXPECT_EQ(s().singleExpDotFile, c.singleDot) << what;
    }
}

TEST_F(Scan, DumpListEndsAtTheFirstNonItemWhichIsReadNormally) {
    scan({qbm, "-dump", "qdc", "-check"});
    EXPECT_EQ(s().dumpQdc, 1);
    EXPECT_EQ(s().check, 1);
    scanSettings() = Settings{};
    EXPECT_EQ(scan({"-dump", "qbm", qbm}), 1);
    EXPECT_EQ(s().dumpQbmBdd, 1);
    EXPECT_EQ(s().inputPath, qbm);
    scanSettings() = Settings{};
    scan({qbm, "-dump"});  // last: no effect
    EXPECT_FALSE(anyDump());
    EXPECT_FALSE(anyDump() && s().dumpDirExp);
}

TEST_F(Scan, DirexpAloneIsNoDump) {
    scan({qbm, "-dump", "direxp"});
    EXPECT_EQ(s().dumpDirExp, 1);
    EXPECT_FALSE(anyDump());
}

TEST_F(Scan, HbddMapsUserNumbersAndKeepsH1WhenOnlyH2IsOutOfRange) {
    EXPECT_EQ(s().reorderReconstruction, 14);
    EXPECT_EQ(s().reorderFinal, 1);
    scan({qbm, "-hbdd", "13"});
    EXPECT_EQ(s().reorderReconstruction, 14);
    EXPECT_EQ(s().reorderFinal, 1);
    EXPECT_EQ(reorderCurrent(), 14);
    scan({qbm, "-hbdd", "17:0"});
    EXPECT_EQ(s().reorderReconstruction, 19);
    EXPECT_EQ(s().reorderFinal, 1);
    scan({qbm, "-hbdd", "0:19"});
    EXPECT_EQ(s().reorderReconstruction, 1);
    EXPECT_EQ(s().reorderFinal, 21);
    scanSettings() = Settings{};
    scan({qbm, "-hbdd", "3:25", "-check"});
    EXPECT_EQ(s().reorderReconstruction, 4);
    EXPECT_EQ(s().reorderFinal, 1);
    EXPECT_EQ(s().check, 0);
}

TEST_F(Scan, VarIntervalsInOrder) {
    scan({qbm, "-var", "10-20,50"});
    ASSERT_EQ(varCount(), 2);
    EXPECT_EQ(s().varLow, (std::vector<int>{10, 50}));
    EXPECT_EQ(s().varHigh, (std::vector<int>{20, 50}));
    scan({qbm, "-var", "0x10-010"});
    ASSERT_EQ(varCount(), 1);
    EXPECT_EQ(s().varLow[0], 16);
    EXPECT_EQ(s().varHigh[0], 8);
}

TEST_F(Scan, VarListsWithEmptyItemsAreRefused) {
    for (const char* list : {"1,,2", ",1", "1,", ","}) {
        scanSettings() = Settings{};
        scan({qbm, "-var", list, "-check"});
        EXPECT_EQ(varCount(), 0) << list;
        EXPECT_EQ(s().check, 0) << list;
    }
    // A refused list leaves earlier intervals alone.
    scanSettings() = Settings{};
    scan({qbm, "-var", "3", "-var", "4,x"});
    ASSERT_EQ(varCount(), 1);
    EXPECT_EQ(s().varLow[0], 3);
}

TEST_F(Scan, FlagsRemoveAndQbf) {
    scan({qbm, "-check", "-report", "-giveup", "-autogiveup", "-remove", "log", "-remove", "qbm", "-qbf",
          "f.qdimacs"});
    EXPECT_EQ(s().check, 1);
    EXPECT_EQ(s().report, 1);
    EXPECT_EQ(s().giveup, 1);
    EXPECT_EQ(s().autoGiveup, 1);
    EXPECT_EQ(s().removeLog, 1);
    EXPECT_EQ(s().removeQbm, 1);
    EXPECT_EQ(s().qbfPath, "f.qdimacs");
}

TEST_F(Scan, EvalTakesAReadableFileAndDefaultsTheBddDump) {
    std::string file = dir.file("e.txt");
    writeFile(file, "1\n");
    scan({qbm, "-eval", file});
    EXPECT_EQ(s().expressionFile, file);
    EXPECT_EQ(s().dumpExpBdd, 1);
    scanSettings() = Settings{};
    scan({qbm, "-dump", "exp=cnf", "-eval", file});
    EXPECT_EQ(s().dumpExpBdd, 0);
    EXPECT_EQ(s().dumpExpCnf, 1);
}

TEST_F(Scan, EvalTakesAnExpressionAndALaterEvalReplacesIt) {
    scan({qbm, "-eval", "not or(-20, and (dc 2, dc 10))"});
    ASSERT_NE(s().expressions, nullptr);
    EXPECT_EQ(s().dumpExpBdd, 1);
    std::string file = dir.file("e.txt");
    writeFile(file, "1\n");
    EXPECT_EQ(line({"-eval", file.c_str()}), 1);
    EXPECT_EQ(s().expressions, nullptr);
    EXPECT_EQ(s().expressionFile, file);
}

TEST_F(Scan, ANegativeNumberAfterTheInputIsAnOption) {
    EXPECT_EQ(scan({qbm, "-3", "-check"}), 1);
    EXPECT_EQ(s().timeout, 0);
    EXPECT_EQ(s().check, 0);
}

TEST_F(Scan, TimeoutIsTruncatedToWholeSeconds) {
    scan({qbm, "2.9"});
    EXPECT_EQ(s().timeout, 2);
    scan({dir.path(), "-v", "2", "7"});
    EXPECT_EQ(s().timeout, 7);
}

TEST_F(Scan, VersionAnywhereEndsTheScanWithZero) {
    EXPECT_EQ(scan({"-version"}), 0);
    EXPECT_EQ(scan({qbm, "-check", "-version"}), 0);
    EXPECT_EQ(scan({"-copyright", "/no/such"}), 0);
}

TEST_F(ScanDeath, RejectedCommandLinesPrintTheUsageAndEndWithMinusTwo) {
    const std::vector<std::vector<std::string>> lines = {
        {},
        {"-bogus", qbm},
        {"/no/such/file"},
        {qbm, "0.5"},
        {qbm, "0"},
        {qbm, "abc"},
        {qbm, "5", "6"},
        {qbm, "5", "-v", "1"},
        {dir.file("x.qbm.bak")},
        {"-v", "2"},
        {"-bogus", "-version"},
    };
    for (const auto& args : lines) {
        std::string what;
        for (const auto& a : args) what += a + " ";
        EXPECT_EXIT(scan(args), testing::ExitedWithCode(254), "") << what;
    }
}

TEST_F(Scan, ConfigurationLineAppliesOptionsOverTheInheritedSettings) {
    scan({dir.path(), "-dump", "qdc", "9"});
    ASSERT_EQ(s().verbosity, 1);
    // A line of options only.
    EXPECT_EQ(line({"-v", "2", "-check", "-timeout", "3", "-dump", "qbm=dot"}), 1);
    EXPECT_EQ(s().verbosity, 2);
    EXPECT_EQ(s().check, 1);
    EXPECT_EQ(s().dumpQbmDot, 1);
    EXPECT_EQ(s().dumpQdc, 1);  // inherited
    EXPECT_EQ(s().timeout, 9);  // the runner bounds the instance with the line's value
    EXPECT_EQ(s().inputPath, dir.path());
    // A line that names an input (here the directory itself) works the same way.
    EXPECT_EQ(line({dir.path(), "-report", "-timeout", "1"}), 1);
    EXPECT_EQ(s().report, 1);
    EXPECT_EQ(s().inputPath, dir.path());
    // An empty line changes nothing.
    EXPECT_EQ(line({}), 1);
    EXPECT_EQ(s().verbosity, 2);
    // A bad option stops the line there.
    EXPECT_EQ(line({"-bogus", "-giveup"}), 1);
    EXPECT_EQ(s().giveup, 0);
    EXPECT_EQ(line({"-timeout"}), 1);
    EXPECT_EQ(line({"-version"}), 0);
}
