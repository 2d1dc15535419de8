// The command line of the real binary: usage and exit statuses, the version and licence
// texts, the banner, the single-instance layout, and nothing ever on standard error.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/run.h"

using testsupport::plumex;
using testsupport::RunResult;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

const std::string kBanner = "Plumex v0.3-beta, (revision 393, compiled Nov 10 2006)";
const std::string kUsageStart = "Usage:\n  \"Plumex [OPT] (LOG|QBM|DIR) [TIMEOUT]\", where you have to provide:\n\n";

class Cli : public ::testing::Test {
  protected:
    void SetUp() override {
        qbm = dir.file("x.qbm");
        writeFile(qbm, "# QBM file, 1.3\n# solver: Tobrin\n# formula: \"x.qdimacs\"\n");
    }
    RunResult run(const std::vector<std::string>& args) {
        RunResult r = plumex(args, dir.path());
        EXPECT_EQ(r.err, "") << "standard error must stay empty";
        return r;
    }
    TempDir dir;
    std::string qbm;
};

bool rejected(const RunResult& r) { return r.status == 254 && r.out.rfind(kUsageStart, 0) == 0; }

}  // namespace

TEST_F(Cli, NoArgumentPrintsTheUsageAndEndsWith254) {
    RunResult r = run({});
    EXPECT_TRUE(rejected(r)) << r.status << "\n" << r.out;
    EXPECT_EQ(r.out.find(kBanner), std::string::npos);
    EXPECT_EQ(r.out.substr(r.out.size() - 63),
              "  -copyright,   to print Plumex' copyright and license notes.\n\n");
}

TEST_F(Cli, RejectedCommandLines) {
    const std::vector<std::vector<std::string>> lines = {
        {"-bogus", "x.qbm"},   {"missing.qbm"},      {"x.qbm", "0.5"}, {"x.qbm", "0"},
        {"x.qbm", "abc"},      {"x.qbm", "5", "6"},  {"-v", "2"},      {"-bogus", "-version"},
        {"-timeout", "5", "x.qbm"},
    };
    for (const auto& args : lines) {
        RunResult r = run(args);
        EXPECT_TRUE(rejected(r)) << args[0] << " " << args[1] << ": " << r.status;
    }
}

TEST_F(Cli, VersionAnywhereEndsWithZero) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-version"}, {"-check", "-version"}, {"x.qbm", "-v", "1", "-version"},
          {"-version", "missing.qbm"}}) {
        RunResult r = run(args);
        EXPECT_EQ(r.status, 0);
        std::string dashes(68, '-');
        EXPECT_EQ(r.out.rfind(dashes + "\nThis is " + kBanner + "\n", 0), 0u) << r.out;
        EXPECT_NE(r.out.find("\nUse the \"-copyright\" option to print copyright and license notes.\n" + dashes +
                             "\n"),
                  std::string::npos);
    }
}

TEST_F(Cli, CopyrightEndsWithZero) {
    RunResult r = run({"-copyright"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("MIT License"), std::string::npos);
    EXPECT_EQ(r.out.find(kBanner), std::string::npos);
}

TEST_F(Cli, SingleInstanceLayoutFollowsVerbosity) {
    // Verbosity 3 by default: an empty line before the instance's step.
    RunResult r = run({"x.qbm"});
    EXPECT_EQ(r.out.rfind(kBanner + "\n\n1.Processing \"x.qbm\"...  ", 0), 0u) << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - 3), "]\n\n") << r.out;
    // An unknown option stops the scan: the "-v 0" after it is never read.
    RunResult stopped = run({"x.qbm", "-bogus", "-v", "0"});
    EXPECT_EQ(stopped.out.rfind(kBanner + "\n\n1.Processing \"x.qbm\"...  ", 0), 0u) << stopped.out;
    EXPECT_EQ(stopped.status, r.status);
    RunResult quiet = run({"-v", "1", "x.qbm", "2.9"});
    EXPECT_EQ(quiet.out.rfind(kBanner + "\n1.Processing \"x.qbm\"...  ", 0), 0u) << quiet.out;
    EXPECT_EQ(testsupport::maskTimes(quiet.out).substr(quiet.out.size() - 3), "]\n\n");
}

TEST_F(Cli, SingleInstanceExitsWithItsResultCode) {
    // The exit status is the instance's code as a status byte: 10, 20, or 255 for -1.
    RunResult r = run({"x.qbm"});
    EXPECT_TRUE(r.status == 10 || r.status == 20 || r.status == 255) << r.status;
    const char* word = r.status == 10 ? "[OK, VALID, " : r.status == 20 ? "[OK, INVALID, " : "[OK, PROBLEMS, ";
    EXPECT_NE(r.out.find(word), std::string::npos) << r.out;
}

TEST_F(Cli, ASingleInstanceRunsWithoutTimeout) {
    // A TIMEOUT on the command line bounds batch children only.
    RunResult r = run({"x.qbm", "1"});
    EXPECT_EQ(r.out.find("[TIMEOUT]"), std::string::npos);
}
