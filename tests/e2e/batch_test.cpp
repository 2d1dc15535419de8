// Batch runs of the real binary over directory trees: run order and giveup, configuration
// lines, subdirectories first, the final count line and exit status, layouts by verbosity.
//
// The first group uses files that pass the solver-log test but whose body is no log, so
// every instance ends as PROBLEMS: which instances run, in which order, how often, and
// how they are numbered and counted does not depend on what the pipeline makes of them.
// The second group uses small hand-written logs that the pipeline certifies as VALID or
// INVALID, for the success counts, timeouts and report lines.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/run.h"

using testsupport::plumex;
using testsupport::RunResult;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

const std::string kBanner = "Plumex v0.3-beta, (revision 393, compiled Nov 10 2006)";

class BatchRun : public ::testing::Test {
  protected:
    void SetUp() override {
        root = dir.file("bench");
        std::filesystem::create_directory(root);
    }
    // A file that passes the solver-log test, padded to the given size.
    void log(const std::string& relative, std::size_t size = 40) {
        std::string text = "# Tobrin log file, 1.3\n";
        if (text.size() < size) text += std::string(size - text.size(), 'x');
        std::filesystem::create_directories(std::filesystem::path(root + "/" + relative).parent_path());
        writeFile(root + "/" + relative, text);
    }
    RunResult run(std::vector<std::string> args) {
        RunResult r = plumex(args, dir.path());
        EXPECT_EQ(r.err, "") << "standard error must stay empty";
        return r;
    }
    TempDir dir;
    std::string root;
};

struct Step {
    int label;
    std::string path;
};

// The instances' "Processing" lines in output order.
std::vector<Step> processed(const std::string& out) {
    std::vector<Step> steps;
    static const std::regex line("\n([0-9]+)\\.Processing \"([^\"]*)\"\\.\\.\\.  ");
    for (auto it = std::sregex_iterator(out.begin(), out.end(), line); it != std::sregex_iterator(); ++it)
        steps.push_back({std::stoi((*it)[1]), (*it)[2]});
    return steps;
}

std::vector<std::string> names(const std::vector<Step>& steps) {
    std::vector<std::string> out;
    for (const Step& s : steps) out.push_back(s.path.substr(s.path.rfind('/') + 1));
    return out;
}

std::string countLine(int successes, int total) {
    return "\n\n" + std::to_string(successes) + "/" + std::to_string(total) + " instances successfully processed.\n\n";
}

using Names = std::vector<std::string>;

}  // namespace

TEST_F(BatchRun, AnEmptyDirectoryCountsNothing) {
    RunResult r = run({"bench"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, kBanner + countLine(0, 0));
}

TEST_F(BatchRun, FailedInstancesEndWithTheCountLineAndStatusZero) {
    for (const char* name : {"a.Tobrin.log", "b.Tobrin.log", "c.Tobrin.log", "d.Tobrin.log", "e.Tobrin.log"})
        log(name);
    writeFile(root + "/notes.txt", "not an instance\n");
    writeFile(root + "/x.qbm", "# QBM file, 1.3\n");  // not an instance without -check
    RunResult r = run({"bench"});
    EXPECT_EQ(r.status, 0);
    ASSERT_GE(r.out.size(), countLine(0, 5).size());
    EXPECT_EQ(r.out.substr(r.out.size() - countLine(0, 5).size()), countLine(0, 5));
    EXPECT_EQ(r.out.rfind(kBanner + "\n1.Processing \"bench/", 0), 0u) << r.out;
    EXPECT_EQ(processed(r.out).size(), 5u);
}

TEST_F(BatchRun, SizeAndNameOrdersDisagree) {
    log("a2.Tobrin.log", 100);
    log("a10.Tobrin.log", 300);
    log("a1.Tobrin.log", 200);
    EXPECT_EQ(names(processed(run({"bench"}).out)), (Names{"a1.Tobrin.log", "a2.Tobrin.log", "a10.Tobrin.log"}));
    // The orders disagree: "-autogiveup" has no effect ...
    EXPECT_EQ(processed(run({"-autogiveup", "bench"}).out).size(), 3u);
    // ... while "-giveup" stops at the first failure.
    EXPECT_EQ(names(processed(run({"-giveup", "bench"}).out)), (Names{"a1.Tobrin.log"}));
}

TEST_F(BatchRun, SizeAndNameOrdersAgree) {
    log("a1.Tobrin.log", 100);
    log("a2.Tobrin.log", 200);
    log("a10.Tobrin.log", 300);
    EXPECT_EQ(names(processed(run({"bench"}).out)), (Names{"a1.Tobrin.log", "a2.Tobrin.log", "a10.Tobrin.log"}));
    EXPECT_EQ(names(processed(run({"-autogiveup", "bench"}).out)), (Names{"a1.Tobrin.log"}));
}

TEST_F(BatchRun, SubdirectoriesFirstAndNumberedAcrossDirectories) {
    log("top.Tobrin.log");
    log("sub/inner.Tobrin.log");
    log("sub/deeper/deep.Tobrin.log");
    RunResult r = run({"bench"});
    std::vector<Step> steps = processed(r.out);
    ASSERT_EQ(steps.size(), 3u);
    EXPECT_EQ(names(steps), (Names{"deep.Tobrin.log", "inner.Tobrin.log", "top.Tobrin.log"}));
    EXPECT_EQ(steps[0].path, "bench/sub/deeper/deep.Tobrin.log");
    for (int i = 0; i < 3; ++i) EXPECT_EQ(steps[static_cast<std::size_t>(i)].label, i + 1);
    EXPECT_NE(r.out.find(countLine(0, 3)), std::string::npos);
}

TEST_F(BatchRun, TwoConfigurationLinesRunEveryInstanceTwiceWithLabelsAdvancing) {
    log("a.Tobrin.log", 50);
    log("b.Tobrin.log", 60);
    log("c.Tobrin.log", 70);
    writeFile(root + "/Plumex.conf", "-check\n-dump qdc -timeout 5\n");
    RunResult r = run({"bench"});
    std::vector<Step> steps = processed(r.out);
    ASSERT_EQ(steps.size(), 6u);
    EXPECT_EQ(names(steps), (Names{"a.Tobrin.log", "b.Tobrin.log", "c.Tobrin.log", "a.Tobrin.log", "b.Tobrin.log",
                                   "c.Tobrin.log"}));
    for (int i = 0; i < 6; ++i) EXPECT_EQ(steps[static_cast<std::size_t>(i)].label, i + 1);
    // Each instance counts once towards the total.
    EXPECT_NE(r.out.find(countLine(0, 3)), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Usage:"), std::string::npos);  // lines of options only are fine
}

TEST_F(BatchRun, AnEmptyLineIsAPassWithTheCommandLinesSettings) {
    log("a.Tobrin.log");
    writeFile(root + "/Plumex.conf", "\n-v 0\n");
    RunResult r = run({"bench"});
    // The second pass runs silently: its line asks for verbosity 0.
    std::vector<Step> steps = processed(r.out);
    ASSERT_EQ(steps.size(), 1u);
    EXPECT_EQ(steps[0].label, 1);
    EXPECT_NE(r.out.find(countLine(0, 1)), std::string::npos);
}

TEST_F(BatchRun, AConfigurationWithoutLinesRunsNothing) {
    log("a.Tobrin.log");
    log("sub/b.Tobrin.log");
    writeFile(root + "/Plumex.conf", "");
    RunResult r = run({"bench"});
    EXPECT_EQ(names(processed(r.out)), (Names{"b.Tobrin.log"}));
    EXPECT_NE(r.out.find(countLine(0, 2)), std::string::npos);
}

TEST_F(BatchRun, LayoutsOfVerbosityOneAndTwo) {
    log("a.Tobrin.log");
    RunResult one = run({"bench"});
    EXPECT_EQ(one.out.rfind(kBanner + "\n1.Processing \"bench/a.Tobrin.log\"...  ", 0), 0u) << one.out;
    RunResult two = run({"-v", "2", "bench"});
    EXPECT_EQ(two.out.rfind(kBanner + "\n\n1.Processing \"bench/a.Tobrin.log\"...  ", 0), 0u) << two.out;
    // The instance's result closes its line before the count line.
    std::string masked = testsupport::maskTimes(one.out);
    EXPECT_NE(masked.find("[OK, PROBLEMS, X.XXs]" + countLine(0, 1)), std::string::npos) << masked;
}

TEST_F(BatchRun, CheckMakesQbmFilesTheInstances) {
    log("a.Tobrin.log");
    writeFile(root + "/x.qbm", "# QBM file, 1.3\n# solver: Tobrin\n");
    writeFile(root + "/old.qbm", "# QBM file, 1.2\n");
    RunResult r = run({"-check", "bench"});
    EXPECT_EQ(names(processed(r.out)), (Names{"x.qbm"}));
    EXPECT_NE(r.out.find(countLine(0, 1)), std::string::npos);
}

TEST_F(BatchRun, ConfigurationProblemsAreReportedAndTheRunGoesOn) {
    log("a.Tobrin.log");
    writeFile(root + "/Plumex.conf", "-qbf " + std::string(120, 'q') + ".qdimacs\n-check\n");
    RunResult r = run({"bench"});
    EXPECT_NE(r.out.find("a token is longer than 99 characters"), std::string::npos) << r.out;
    EXPECT_EQ(processed(r.out).size(), 1u);

    std::filesystem::remove(root + "/Plumex.conf");
    std::filesystem::create_symlink(dir.file("nowhere"), root + "/Plumex.conf");
    r = run({"bench"});
    EXPECT_NE(r.out.find("Cannot read configuration file"), std::string::npos) << r.out;
    EXPECT_EQ(processed(r.out).size(), 1u);
}

TEST_F(BatchRun, LinkedDirectoriesAreWalkedOnceAndCyclesEnd) {
    log("a.Tobrin.log");
    std::filesystem::create_directory(dir.file("elsewhere"));
    writeFile(dir.file("elsewhere/far.Tobrin.log"), "# Tobrin log file, 1.3\n");
    std::filesystem::create_directory_symlink("../elsewhere", root + "/far");
    std::filesystem::create_directory_symlink("..", dir.file("elsewhere/up"));
    std::filesystem::create_directory_symlink(".", root + "/again");
    RunResult r = run({"bench"});
    Names order = names(processed(r.out));
    EXPECT_EQ(std::count(order.begin(), order.end(), "a.Tobrin.log"), 1);
    EXPECT_EQ(std::count(order.begin(), order.end(), "far.Tobrin.log"), 1);
    EXPECT_NE(r.out.find(countLine(0, 2)), std::string::npos) << r.out;
}

TEST_F(BatchRun, AHundredInstancesAreAllCountedAndLeaveNoProcessBehind) {
    for (int i = 0; i < 100; ++i) log("i" + std::to_string(i) + ".Tobrin.log", 30 + static_cast<std::size_t>(i));
    RunResult r = run({"bench"});
    std::vector<Step> steps = processed(r.out);
    ASSERT_EQ(steps.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(steps[static_cast<std::size_t>(i)].label, i + 1);
    // Sizes grow with the names' numbers: size order is the run order.
    EXPECT_EQ(names(steps).front(), "i0.Tobrin.log");
    EXPECT_EQ(names(steps).back(), "i99.Tobrin.log");
    EXPECT_NE(r.out.find(countLine(0, 100)), std::string::npos);
    // No process of this run is left: none has the scratch directory as its working directory.
    int left = 0;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        std::error_code linkError;
        auto cwd = std::filesystem::read_symlink(entry.path() / "cwd", linkError);
        if (!linkError && cwd == std::filesystem::path(dir.path())) ++left;
    }
    EXPECT_EQ(left, 0);
}

namespace {

// A solver log of one existential variable, assigned true; its formula (written beside
// it) holds the clause "1" (the certificate is valid) or "-1" (invalid). The free text
// of the second line pads the log to about the given size.
void handLog(const std::string& logPath, bool valid, std::size_t size = 0, const std::string& formulaName = "") {
    std::string base = logPath.substr(0, logPath.find(".Tobrin.log"));
    std::string formula = formulaName.empty() ? base.substr(base.rfind('/') + 1) + ".qdimacs" : formulaName;
    std::filesystem::create_directories(std::filesystem::path(logPath).parent_path());
    if (formulaName.empty())
        writeFile(base + ".qdimacs", std::string("p cnf 1 1\ne 1 0\n") + (valid ? "1 0\n" : "-1 0\n"));
    std::string entry = "#1: G_ASSIGN [0]\n1 \n";
    std::string head = "# Tobrin log file, 1.3\n# hand-written";
    std::string rest = "\n# formula: \"" + formula +
                       "\"\n# dump format: text\n# vars: (2,0)\n\n# universals: \n# int/ext mapping: 1 \n";
    std::string trailer = "#2: END [" + std::to_string(entry.size()) + "]\noutcome: TRUE\ntime: 0.5\n";
    std::size_t fixed = head.size() + rest.size() + entry.size() + trailer.size();
    if (size > fixed) head += std::string(size - fixed, 'x');
    writeFile(logPath, head + rest + entry + trailer);
}

}  // namespace

TEST_F(BatchRun, SuccessesAreCountedAndBecomeTheExitStatus) {
    for (const char* name : {"v1", "v2", "v3"}) handLog(root + "/" + name + ".Tobrin.log", true);
    for (const char* name : {"i1", "i2"}) handLog(root + "/" + name + ".Tobrin.log", false);
    RunResult r = run({"bench"});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out.substr(r.out.size() - countLine(3, 5).size()), countLine(3, 5)) << r.out;
    std::string masked = testsupport::maskTimes(r.out);
    EXPECT_NE(masked.find("Processing \"bench/v1.Tobrin.log\"...  [OK, VALID, X.XXs]"), std::string::npos)
        << masked;
    EXPECT_NE(masked.find("Processing \"bench/i2.Tobrin.log\"...  "), std::string::npos);
    EXPECT_NE(masked.find("[OK, INVALID, X.XXs]"), std::string::npos);
}

TEST_F(BatchRun, AnInstanceSucceedingInTwoPassesCountsOnce) {
    handLog(root + "/a.Tobrin.log", true);
    writeFile(root + "/Plumex.conf", "-check\n-v 1 -timeout 30\n");
    RunResult r = run({"bench"});
    std::vector<Step> steps = processed(r.out);
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_EQ(steps[0].label, 1);
    EXPECT_EQ(steps[1].label, 2);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(countLine(1, 1)), std::string::npos) << r.out;
}

TEST_F(BatchRun, AutogiveupEndsAFamilyAtItsFirstFailure) {
    handLog(root + "/a1.Tobrin.log", true, 300);
    handLog(root + "/a2.Tobrin.log", false, 400);
    handLog(root + "/a10.Tobrin.log", true, 500);
    RunResult r = run({"-autogiveup", "bench"});
    EXPECT_EQ(names(processed(r.out)), (Names{"a1.Tobrin.log", "a2.Tobrin.log"}));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(countLine(1, 3)), std::string::npos) << r.out;
    RunResult all = run({"bench"});
    EXPECT_EQ(all.status, 2);
}

TEST_F(BatchRun, ATimedOutInstanceFailsOnItsOwnLineAndTheNextOneRuns) {
    // The report file of the slow instance's formula is locked: its child waits to append
    // its line until it is stopped.
    handLog(root + "/slow/s.Tobrin.log", true, 0, "held/s.qdimacs");
    std::filesystem::create_directories(root + "/slow/held");
    writeFile(root + "/slow/held/s.qdimacs", "p cnf 1 1\ne 1 0\n1 0\n");
    testsupport::FileLock lock(root + "/slow/held/held.qbm.txt");
    writeFile(root + "/slow/Plumex.conf", "-timeout 1\n");
    handLog(root + "/after.Tobrin.log", true);
    RunResult r = run({"-report", "bench"});
    EXPECT_NE(r.out.find("\n1.Processing \"bench/slow/s.Tobrin.log\"...  [TIMEOUT]\n2.Processing "),
              std::string::npos)
        << r.out;
    EXPECT_NE(testsupport::maskTimes(r.out).find("\"bench/after.Tobrin.log\"...  [OK, VALID, X.XXs]"),
              std::string::npos);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(countLine(1, 2)), std::string::npos);
    // The command line's TIMEOUT bounds it the same way.
    std::filesystem::remove(root + "/slow/Plumex.conf");
    r = run({"-report", "bench", "1"});
    EXPECT_NE(r.out.find("\"bench/slow/s.Tobrin.log\"...  [TIMEOUT]"), std::string::npos) << r.out;
    EXPECT_EQ(r.status, 1);
}

TEST_F(BatchRun, ReportLinesForValidAndInvalidButNotForATimedOutLog) {
    handLog(root + "/fam/v.Tobrin.log", true);
    handLog(root + "/fam/i.Tobrin.log", false);
    handLog(root + "/slow/s.Tobrin.log", true);
    // A line whose expression file is a pipe nobody writes to keeps the child waiting.
    std::string pipe = dir.file("stall");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    writeFile(root + "/slow/Plumex.conf", "-eval " + pipe + " -timeout 1\n");
    RunResult r = run({"-report", "bench"});
    EXPECT_EQ(r.status, 1);
    std::string fam = testsupport::readFile(root + "/fam/fam.qbm.txt");
    EXPECT_NE(fam.find("v.qdimacs\t1\t1\tE[1]\t0\t0.50\t"), std::string::npos) << fam << r.out;
    EXPECT_NE(fam.find("\tVALID\n"), std::string::npos);
    EXPECT_NE(fam.find("i.qdimacs\t1\t1\tE[1]\t0\t0.50\t"), std::string::npos);
    EXPECT_NE(fam.find("\tINVALID\n"), std::string::npos);
    // The timeout hook is handed the log's path, which is no formula: no line.
    EXPECT_NE(r.out.find("[TIMEOUT]"), std::string::npos) << r.out;
    EXPECT_FALSE(testsupport::fileExists(root + "/slow/slow.qbm.txt"));
}

TEST_F(BatchRun, VerbosityTwoShowsThePipelinesTopSteps) {
    handLog(root + "/a.Tobrin.log", true);
    RunResult one = run({"bench"});
    EXPECT_EQ(one.out.find("a.Model reconstruction"), std::string::npos) << one.out;
    RunResult two = run({"-v", "2", "bench"});
    EXPECT_NE(two.out.find("\n\n1.Processing \"bench/a.Tobrin.log\"...  \n  a.Model reconstruction and certification. "),
              std::string::npos)
        << two.out;
    EXPECT_EQ(two.out.find("Inductive reconstruction"), std::string::npos);  // depth 3
    EXPECT_NE(testsupport::maskTimes(two.out).find("\n  [OK, VALID, X.XXs]" + countLine(1, 1)), std::string::npos)
        << two.out;
}

TEST_F(BatchRun, CheckRecertifiesTheQbmFilesOfAnEarlierRun) {
    handLog(root + "/v.Tobrin.log", true);
    handLog(root + "/sub/i.Tobrin.log", false);
    RunResult first = run({"bench"});
    ASSERT_TRUE(testsupport::fileExists(root + "/v.qbm")) << first.out;
    ASSERT_TRUE(testsupport::fileExists(root + "/sub/i.qbm"));
    RunResult r = run({"-check", "-report", "bench"});
    EXPECT_EQ(names(processed(r.out)), (Names{"i.qbm", "v.qbm"}));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(countLine(1, 2)), std::string::npos) << r.out;
    std::string masked = testsupport::maskTimes(r.out);
    EXPECT_NE(masked.find("Processing \"bench/v.qbm\"...  [OK, VALID, X.XXs]"), std::string::npos) << masked;
}
