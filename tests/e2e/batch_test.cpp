// Batch runs of the real binary over directory trees: run order and giveup, configuration
// lines, subdirectories first, the final count line and exit status, layouts by verbosity.
//
// The instances here are solver logs whose processing fails (their body is no log), so
// every instance ends as PROBLEMS and the count of successes is 0. What these tests check
// (which instances run, in which order, how often, how they are numbered and counted)
// does not depend on the pipeline; tests with instances that succeed need real logs.
#include <gtest/gtest.h>

#include <dirent.h>

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
