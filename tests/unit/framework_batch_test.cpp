// Batch processing driven through the runner with test callbacks: run order and giveup,
// configuration lines and passes, distinct-success counting, subdirectories first,
// changing directories, symbolic links, timeouts, and no child left behind.
#include "framework/batch.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "framework/runner.h"
#include "runcontrol/settings.h"
#include "pipeline/steps.h"
#include "tests/support/run.h"

using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

std::string baseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// The child appends "name[ tokens]" to the journal; the parent reads the run order there.
class Batch : public ::testing::Test {
  protected:
    void SetUp() override {
        scanSettings() = Settings{};
        steps::setVerbosity(1);
        journal = dir.file("journal.txt");
        root = dir.file("root");
        std::filesystem::create_directory(root);
        testing::internal::CaptureStdout();
    }
    void TearDown() override {
        if (capturing) testing::internal::GetCapturedStdout();
    }
    std::string output() {
        capturing = false;
        return testing::internal::GetCapturedStdout();
    }

    void instance(const std::string& name, int size, int code = 10) {
        writeFile(root + "/" + name, std::string(static_cast<std::size_t>(size), 'x'));
        codes[name] = code;
    }

    InstanceFramework framework() {
        InstanceFramework f;
        f.batchMode = 1;
        f.configName = "Plumex.conf";
        f.processInstance = [this](const std::string& path) {
            std::ofstream(journal, std::ios::app) << baseName(path) << line << "\n";
            auto it = codes.find(baseName(path));
            if (it != codes.end() && it->second == 30) pause();  // runs until stopped
            return it == codes.end() ? -1 : it->second;
        };
        f.isInstance = [](const std::string& path) { return path.size() > 5 && path.substr(path.size() - 5) == ".inst"; };
        f.isSuccess = [](int code) { return code == 10; };
        f.outcomeName = [](char* buffer, int code) { std::snprintf(buffer, kOutcomeNameSize, "%d", code); };
        f.sortKey = [](const std::string& path) { return static_cast<int>(std::filesystem::file_size(path)); };
        f.applyLine = [this](int count, const char* const* tokens) {
            for (int i = 1; i < count; ++i) line += std::string(" ") + tokens[i];
            return 1;
        };
        return f;
    }

    std::vector<std::string> runs() {
        std::vector<std::string> out;
        std::istringstream in(testsupport::fileExists(journal) ? readFile(journal) : "");
        std::string l;
        while (std::getline(in, l)) out.push_back(l);
        return out;
    }

    TempDir dir;
    std::string journal, root, line;
    std::map<std::string, int> codes;
    bool capturing = true;
};

using Runs = std::vector<std::string>;

}  // namespace

TEST_F(Batch, DisagreeingOrdersRunByNameAndAutogiveupHasNoEffect) {
    instance("a2.inst", 10, 20);
    instance("a10.inst", 30);
    instance("a1.inst", 20, 20);
    auto f = framework();
    f.autoGiveup = 1;
    EXPECT_EQ(batch::run(root, f), 1);
    EXPECT_EQ(runs(), (Runs{"a1.inst", "a2.inst", "a10.inst"}));
}

TEST_F(Batch, GiveupStopsAtTheFirstFailureInNameOrder) {
    instance("a2.inst", 10);
    instance("a10.inst", 30);
    instance("a1.inst", 20, 20);
    auto f = framework();
    f.giveup = 1;
    EXPECT_EQ(batch::run(root, f), 0);
    EXPECT_EQ(runs(), (Runs{"a1.inst"}));
}

TEST_F(Batch, AgreeingOrdersLetAutogiveupStopThePass) {
    instance("a1.inst", 10);
    instance("a2.inst", 20, 30);
    instance("a10.inst", 30);
    codes["a2.inst"] = 20;
    auto f = framework();
    f.autoGiveup = 1;
    EXPECT_EQ(batch::run(root, f), 1);
    EXPECT_EQ(runs(), (Runs{"a1.inst", "a2.inst"}));
}

TEST_F(Batch, EqualSizesNeverAgree) {
    instance("b.inst", 10);
    instance("a.inst", 10, 20);
    instance("c.inst", 20);
    auto f = framework();
    f.autoGiveup = 1;
    EXPECT_EQ(batch::run(root, f), 2);
    EXPECT_EQ(runs(), (Runs{"a.inst", "b.inst", "c.inst"}));
}

TEST_F(Batch, SmallestFirstIsOverriddenByNameOrderWhenTheyDisagree) {
    instance("b1.inst", 10);
    instance("b2.inst", 20);
    instance("b3.inst", 5);
    // Sizes 5, 10, 20 give b3, b1, b2 and names disagree: name order.
    EXPECT_EQ(batch::run(root, framework()), 3);
    EXPECT_EQ(runs(), (Runs{"b1.inst", "b2.inst", "b3.inst"}));
}

TEST_F(Batch, TwoLinesRunEachInstanceTwiceCountOnceAndAdvanceLabels) {
    instance("a.inst", 10);
    instance("b.inst", 20, 20);
    writeFile(root + "/Plumex.conf", "-v 1 -x\n-check\n");
    int total = batch::totalInstances();
    int first = runner::instanceCounter() + 1;
    EXPECT_EQ(batch::run(root, framework()), 1);
    EXPECT_EQ(batch::totalInstances(), total + 2);
    EXPECT_EQ(runs(), (Runs{"a.inst -v 1 -x", "b.inst -v 1 -x", "a.inst -check", "b.inst -check"}));
    std::string text = output();
    for (int label = first; label < first + 4; ++label)
        EXPECT_NE(text.find("\n" + std::to_string(label) + ".Processing \""), std::string::npos) << text;
    EXPECT_EQ(text.find("\n" + std::to_string(first + 4) + ".Processing"), std::string::npos);
}

TEST_F(Batch, EmptyLineIsAPassWithoutTokensAndNoLinesIsNoPass) {
    instance("a.inst", 10);
    writeFile(root + "/Plumex.conf", "\n-v 2\n");
    EXPECT_EQ(batch::run(root, framework()), 1);
    EXPECT_EQ(runs(), (Runs{"a.inst", "a.inst -v 2"}));

    std::string other = dir.file("other");
    std::filesystem::create_directory(other);
    writeFile(other + "/b.inst", "x");
    writeFile(other + "/Plumex.conf", "");
    int total = batch::totalInstances();
    EXPECT_EQ(batch::run(other, framework()), 0);
    EXPECT_EQ(batch::totalInstances(), total + 1);
    EXPECT_EQ(runs().size(), 2u);
}

TEST_F(Batch, SubdirectoriesComeFirstAndAddTheirSuccesses) {
    instance("top.inst", 1);
    std::filesystem::create_directories(root + "/s1/deep");
    std::filesystem::create_directory(root + "/s2");
    writeFile(root + "/s1/one.inst", "x");
    writeFile(root + "/s1/deep/two.inst", "x");
    writeFile(root + "/s2/three.inst", "x");
    codes["one.inst"] = 10;
    codes["two.inst"] = 10;
    codes["three.inst"] = 20;
    writeFile(root + "/s2/Plumex.conf", "-a\n");  // a subdirectory's lines apply to it alone
    EXPECT_EQ(batch::run(root, framework()), 3);
    Runs order = runs();
    ASSERT_EQ(order.size(), 4u);
    EXPECT_EQ(order.back(), "top.inst");
    auto at = [&](const std::string& name) { return std::find(order.begin(), order.end(), name) - order.begin(); };
    EXPECT_LT(at("two.inst"), at("one.inst"));  // deep is a subdirectory of s1
    EXPECT_NE(std::find(order.begin(), order.end(), "three.inst -a"), order.end());
}

TEST_F(Batch, ATimeoutFailsTheInstanceAndTheNextOneStillRuns) {
    instance("a1.inst", 1, 30);
    instance("a2.inst", 2);
    writeFile(root + "/Plumex.conf", "-timeout 1\n");
    EXPECT_EQ(batch::run(root, framework()), 1);
    EXPECT_EQ(runs(), (Runs{"a1.inst -timeout 1", "a2.inst -timeout 1"}));
    std::string text = output();
    EXPECT_NE(text.find("Processing \"" + root + "/a1.inst\"...  [TIMEOUT]\n"), std::string::npos) << text;
}

TEST_F(Batch, ADirectoryThatChangesBetweenThePassesTakesAtMostTheFirstCount) {
    for (const char* name : {"a.inst", "b.inst", "c.inst", "d.inst"}) instance(name, 1);
    auto f = framework();
    // The first pass sees two instances, the second all four.
    int calls = 0;
    f.isInstance = [&calls](const std::string& path) {
        if (path.substr(path.size() - 5) != ".inst") return false;
        return ++calls > 4 || path.find("/a.inst") != std::string::npos || path.find("/b.inst") != std::string::npos;
    };
    int total = batch::totalInstances();
    EXPECT_EQ(batch::run(root, f), 2);
    EXPECT_EQ(runs().size(), 2u);
    EXPECT_EQ(batch::totalInstances(), total + 2);
}

TEST_F(Batch, ADirectoryThatLosesInstancesRunsOnlyThoseLeft) {
    for (const char* name : {"a.inst", "b.inst", "c.inst"}) instance(name, 1);
    auto f = framework();
    int calls = 0;
    f.isInstance = [&calls](const std::string& path) {
        if (path.substr(path.size() - 5) != ".inst") return false;
        return ++calls <= 3 || path.find("/c.inst") != std::string::npos;
    };
    int total = batch::totalInstances();
    EXPECT_EQ(batch::run(root, f), 1);
    EXPECT_EQ(runs(), (Runs{"c.inst"}));
    EXPECT_EQ(batch::totalInstances(), total + 1);
}

TEST_F(Batch, SymbolicLinksToDirectoriesAreFollowedOnceAndCyclesEnd) {
    instance("top.inst", 1);
    std::string other = dir.file("other");
    std::filesystem::create_directory(other);
    writeFile(other + "/o.inst", "x");
    codes["o.inst"] = 10;
    std::filesystem::create_directory_symlink(other, root + "/link1");
    std::filesystem::create_directory_symlink(other, root + "/link2");
    std::filesystem::create_directory_symlink(root, other + "/back");  // a cycle
    std::filesystem::create_directory_symlink(".", root + "/self");
    EXPECT_EQ(batch::run(root, framework()), 2);
    Runs order = runs();
    EXPECT_EQ(std::count(order.begin(), order.end(), "o.inst"), 1);
    EXPECT_EQ(std::count(order.begin(), order.end(), "top.inst"), 1);
}

TEST_F(Batch, HundredInstancesLeaveNoChildBehind) {
    for (int i = 0; i < 100; ++i) instance("i" + std::to_string(i) + ".inst", 1 + i % 7, i % 3 == 0 ? 10 : 20);
    int total = batch::totalInstances();
    EXPECT_EQ(batch::run(root, framework()), 34);
    EXPECT_EQ(batch::totalInstances(), total + 100);
    EXPECT_EQ(runs().size(), 100u);
    int status = 0;
    errno = 0;
    EXPECT_EQ(waitpid(-1, &status, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST_F(Batch, AnUnopenableDirectoryHoldsNothing) {
    int total = batch::totalInstances();
    EXPECT_EQ(batch::run(dir.file("missing"), framework()), 0);
    EXPECT_EQ(batch::totalInstances(), total);
}

namespace {

class Config : public ::testing::Test {
  protected:
    void SetUp() override { testing::internal::CaptureStdout(); }
    std::string output() {
        done = true;
        return testing::internal::GetCapturedStdout();
    }
    void TearDown() override {
        if (!done) testing::internal::GetCapturedStdout();
    }
    TempDir dir;
    bool done = false;
};

std::vector<std::string> tokensOf(const batch::ConfigLine& line) {
    return std::vector<std::string>(line.tokens.begin() + 1, line.tokens.end());
}

}  // namespace

TEST_F(Config, LinesBecomeTokenVectorsFromSlotOne) {
    std::string path = dir.file("Plumex.conf");
    writeFile(path, "  -v\t2  -dump qbm \n\n-timeout 5");
    batch::Configuration config = batch::readConfiguration(path);
    ASSERT_TRUE(config.present);
    ASSERT_EQ(config.lines.size(), 3u);
    EXPECT_EQ(config.lines[0].count, 5);
    EXPECT_EQ(config.lines[0].tokens[0], "");
    EXPECT_EQ(tokensOf(config.lines[0]), (std::vector<std::string>{"-v", "2", "-dump", "qbm"}));
    EXPECT_EQ(config.lines[1].count, 1);
    EXPECT_EQ(tokensOf(config.lines[2]), (std::vector<std::string>{"-timeout", "5"}));
    std::vector<const char*> argv = config.lines[0].argv();
    EXPECT_STREQ(argv[1], "-v");
    EXPECT_EQ(argv[5], nullptr);
    EXPECT_EQ(output(), "");
}

TEST_F(Config, At63TokensTheRestIsIgnored) {
    std::string text;
    for (int i = 1; i <= 70; ++i) text += "t" + std::to_string(i) + " ";
    std::string path = dir.file("Plumex.conf");
    writeFile(path, text + "\n");
    batch::Configuration config = batch::readConfiguration(path);
    ASSERT_EQ(config.lines.size(), 1u);
    EXPECT_EQ(config.lines[0].count, 64);
    EXPECT_EQ(config.lines[0].tokens.back(), "t63");
}

TEST_F(Config, ALineLongerThanTheBufferIsSplit) {
    std::string text;
    while (text.size() < 1500) text += "-check ";
    std::string path = dir.file("Plumex.conf");
    writeFile(path, text + "\n");
    batch::Configuration config = batch::readConfiguration(path);
    EXPECT_EQ(config.lines.size(), 2u);
}

TEST_F(Config, OverlongTokensDropTheirLineWithAMessage) {
    std::string path = dir.file("Plumex.conf");
    writeFile(path, "-v 1\n-qbf " + std::string(100, 'f') + "\n-qbf " + std::string(99, 'g') + "\n");
    batch::Configuration config = batch::readConfiguration(path);
    ASSERT_EQ(config.lines.size(), 2u);
    EXPECT_EQ(config.lines[1].tokens[2], std::string(99, 'g'));
    std::string text = output();
    EXPECT_NE(text.find("line 2: a token is longer than 99 characters"), std::string::npos) << text;
}

TEST_F(Config, AnUnreadableFileIsTakenAsAbsentWithAMessage) {
    std::string path = dir.file("Plumex.conf");
    std::filesystem::create_symlink(dir.file("nowhere"), path);
    batch::Configuration config = batch::readConfiguration(path);
    EXPECT_FALSE(config.present);
    EXPECT_NE(output().find("Cannot read configuration file"), std::string::npos);
}
