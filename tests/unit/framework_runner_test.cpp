// The instance runner: in-process and forked runs, the timeout, crash and memory-out
// codes, the step line of an instance, and the configuration timeout.
#include "framework/runner.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "outcomes/outcome.h"
#include "outcomes/steps.h"
#include "tests/support/run.h"

namespace {

InstanceFramework framework(std::function<int(const std::string&)> process, int batchMode = 1) {
    InstanceFramework f;
    f.batchMode = batchMode;
    f.configName = "Plumex.conf";
    f.processInstance = std::move(process);
    f.isInstance = [](const std::string& path) { return path.find(".inst") != std::string::npos; };
    f.isSuccess = [](int code) { return code == 10; };
    f.outcomeName = [](char* buffer, int code) {
        std::snprintf(buffer, kOutcomeNameSize, "%s", code == 10 ? "VALID" : code == 20 ? "INVALID" : "PROBLEMS");
    };
    f.sortKey = [](const std::string&) { return 0; };
    return f;
}

class Runner : public ::testing::Test {
  protected:
    void SetUp() override {
        steps::setVerbosity(1);
        testing::internal::CaptureStdout();
    }
    std::string output() { return testing::internal::GetCapturedStdout(); }
    void TearDown() override {
        if (capturing) output();
    }
    bool capturing = true;
    std::string take() {
        capturing = false;
        return output();
    }
};

int run(const InstanceFramework& f, const std::string& path, std::vector<const char*> tokens = {}) {
    if (tokens.empty()) return runner::runInstance(path, f, 0, nullptr);
    tokens.insert(tokens.begin(), "");
    return runner::runInstance(path, f, static_cast<int>(tokens.size()), tokens.data());
}

}  // namespace

TEST_F(Runner, InProcessRunShowsTheInstanceStepAndReturnsTheCode) {
    int before = runner::instanceCounter();
    pid_t self = getpid();
    pid_t seen = 0;
    auto f = framework([&](const std::string&) { seen = getpid(); return 10; }, 0);
    EXPECT_EQ(run(f, "p.inst"), 10);
    EXPECT_EQ(seen, self);  // no fork
    EXPECT_EQ(runner::instanceCounter(), before + 1);
    EXPECT_EQ(testsupport::maskTimes(take()), "\n1.Processing \"p.inst\"...  [OK, VALID, X.XXs]");
}

TEST_F(Runner, ChildCodesPassThroughAndNegativeStatusesReadBack) {
    EXPECT_EQ(run(framework([](const std::string&) { return 20; }), "a.inst"), 20);
    EXPECT_EQ(run(framework([](const std::string&) -> int { std::_Exit(-6); }), "b.inst"), -6);
    EXPECT_EQ(run(framework([](const std::string&) { return -1; }), "c.inst"), -1);
    EXPECT_EQ(run(framework([](const std::string&) -> int { std::_Exit(7); }), "d.inst"), 7);
    take();
}

TEST_F(Runner, MemoryOutCallsItsHookOnlyWithReportOn) {
    int hooked = 0;
    auto f = framework([](const std::string&) -> int { std::_Exit(-6); });
    f.onMemout = [&](const std::string&) { ++hooked; };
    EXPECT_EQ(run(f, "m.inst"), -6);
    EXPECT_EQ(hooked, 0);
    f.report = 1;
    EXPECT_EQ(run(f, "m.inst"), -6);
    EXPECT_EQ(hooked, 1);
    take();
}

TEST_F(Runner, ATimeoutStopsTheChildOnItsOwnLine) {
    std::string timedOut;
    auto f = framework([](const std::string&) -> int {
        for (;;) pause();
    });
    f.timeout = 1;
    f.report = 1;
    f.onTimeout = [&](const std::string& path) { timedOut = path; };
    int label = runner::instanceCounter() + 1;
    EXPECT_EQ(run(f, "slow.inst"), 30);
    EXPECT_EQ(timedOut, "slow.inst");
    EXPECT_EQ(runner::currentTimeout(), 1);
    EXPECT_EQ(take(), "\n" + std::to_string(label) + ".Processing \"slow.inst\"...  [TIMEOUT]");
}

TEST_F(Runner, ACrashIsCaughtAndReported) {
    int crashSignal = 0;
    auto f = framework([](const std::string&) -> int {
        // The default action, also under a sanitizer that would catch the fault itself.
        std::signal(SIGSEGV, SIG_DFL);
        std::raise(SIGSEGV);
        return 10;
    });
    f.report = 1;
    f.onCrash = [&](const std::string&, int signal) { crashSignal = signal; };
    int label = runner::instanceCounter() + 1;
    EXPECT_EQ(run(f, "bad.inst"), -5);
    EXPECT_EQ(crashSignal, SIGSEGV);
    EXPECT_EQ(take(), "\n" + std::to_string(label) + ".Processing \"bad.inst\"...  [CRASH]");
}

TEST_F(Runner, ReportHooksStayQuietWithoutReport) {
    int calls = 0;
    auto f = framework([](const std::string&) -> int {
        for (;;) pause();
    });
    f.timeout = 1;
    f.onTimeout = [&](const std::string&) { ++calls; };
    EXPECT_EQ(run(f, "slow.inst"), 30);
    EXPECT_EQ(calls, 0);
    take();
}

TEST_F(Runner, ATimeoutSignalTheParentDidNotSendIsACrash) {
    auto f = framework([](const std::string&) -> int {
        std::raise(SIGUSR1);
        return 10;
    });
    int label = runner::instanceCounter() + 1;
    EXPECT_EQ(run(f, "usr1.inst"), -5);
    EXPECT_EQ(take(), "\n" + std::to_string(label) + ".Processing \"usr1.inst\"...  [CRASH]");
}

TEST_F(Runner, OutputBufferedBeforeTheForkIsNotRepeatedByTheChild) {
    std::setvbuf(stdout, nullptr, _IOFBF, BUFSIZ);
    std::fputs("<before>", stdout);
    run(framework([](const std::string&) { return 10; }), "x.inst");
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
    std::string text = take();
    EXPECT_EQ(text.find("<before>"), 0u);
    EXPECT_EQ(text.find("<before>", 1), std::string::npos) << text;
}

TEST_F(Runner, ForkedInstancesAreNumberedByTheInstanceCounter) {
    auto f = framework([](const std::string&) { return 10; });
    int first = runner::instanceCounter() + 1;
    run(f, "one.inst");
    run(f, "two.inst");
    std::string text = testsupport::maskTimes(take());
    EXPECT_EQ(text, "\n" + std::to_string(first) + ".Processing \"one.inst\"...  [OK, VALID, X.XXs]\n" +
                        std::to_string(first + 1) + ".Processing \"two.inst\"...  [OK, VALID, X.XXs]");
}

TEST_F(Runner, LongPathsShowTheirLast67Characters) {
    auto f = framework([](const std::string&) { return 10; });
    std::string seventy(70, 'p');
    std::string seventyOne = "q" + seventy;
    run(f, seventy);
    run(f, seventyOne);
    std::string text = take();
    EXPECT_NE(text.find("Processing \"" + seventy + "\"... "), std::string::npos);
    EXPECT_NE(text.find("Processing \"..." + seventyOne.substr(4) + "\"... "), std::string::npos);
    EXPECT_EQ(text.find("q"), std::string::npos);
}

TEST_F(Runner, ConfigurationTimeoutGovernsAndFallsBack) {
    auto slow = framework([](const std::string&) {
        usleep(1300000);
        return 10;
    });
    slow.timeout = 1;
    // A negative value arms no alarm, not even the command line's.
    EXPECT_EQ(run(slow, "a.inst", {"-timeout", "-1"}), 10);
    // 0, or no "-timeout", falls back to the command line's TIMEOUT.
    EXPECT_EQ(run(slow, "b.inst", {"-timeout", "0"}), 30);
    slow.timeout = 0;
    EXPECT_EQ(run(slow, "c.inst", {"-v", "1", "-timeout", "1"}), 30);
    take();
}

TEST_F(Runner, TheLineIsAppliedInTheChildOnly) {
    std::vector<std::string> applied;
    static int check = 0;  // what the line sets, as the application's settings would hold it
    check = 0;
    auto f = framework([](const std::string&) { return check ? 10 : 20; });
    f.applyLine = [](int count, const char* const* tokens) {
        for (int i = 1; i < count; ++i)
            if (std::string(tokens[i]) == "-check") check = 1;
        return 1;
    };
    EXPECT_EQ(run(f, "a.inst", {"-check"}), 10);
    EXPECT_EQ(check, 0);
    EXPECT_EQ(run(f, "a.inst"), 20);
    take();
}

TEST(RunnerTimeout, ConfigurationTimeoutValues) {
    struct Case {
        std::vector<const char*> tokens;
        int expected;
    };
    const Case cases[] = {
        {{""}, 0},
        {{"", "-v", "1"}, 0},
        {{"", "-timeout", "2.9"}, 2},
        {{"", "-timeout"}, 0},
        {{"", "-timeout", "-3.7"}, -3},
        {{"", "-timeout", "abc"}, 0},
        {{"", "dir", "-timeout", "4", "-timeout", "9"}, 4},
    };
    for (const Case& c : cases)
        EXPECT_EQ(runner::configurationTimeout(static_cast<int>(c.tokens.size()), c.tokens.data()), c.expected)
            << c.tokens.size();
    // Slot 0 holds no token and is never looked at.
    const char* slotZero[] = {"-timeout", "5"};
    EXPECT_EQ(runner::configurationTimeout(2, slotZero), 0);
    EXPECT_EQ(runner::configurationTimeout(0, nullptr), 0);
}

namespace {
volatile sig_atomic_t g_usr2 = 0;
void onUsr2(int) { g_usr2 = 1; }
}  // namespace

TEST_F(Runner, AWaitInterruptedByAnotherSignalIsResumed) {
    struct sigaction action {};
    struct sigaction previous {};
    action.sa_handler = onUsr2;
    sigemptyset(&action.sa_mask);
    sigaction(SIGUSR2, &action, &previous);  // no SA_RESTART: the wait sees EINTR
    auto f = framework([](const std::string&) {
        kill(getppid(), SIGUSR2);
        usleep(200000);
        return 10;
    });
    EXPECT_EQ(run(f, "a.inst"), 10);
    sigaction(SIGUSR2, &previous, nullptr);
    EXPECT_EQ(g_usr2, 1);
    take();
}

TEST_F(Runner, AFailedWaitGivesMinusOneAndLeavesNoChild) {
    // With SIGCHLD ignored the system reaps children itself, so waiting for one fails.
    struct sigaction ignore {};
    struct sigaction previous {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGCHLD, &ignore, &previous);
    EXPECT_EQ(run(framework([](const std::string&) { return 10; }), "a.inst"), -1);
    sigaction(SIGCHLD, &previous, nullptr);
    int status = 0;
    EXPECT_EQ(waitpid(-1, &status, WNOHANG), -1);  // nothing left to collect
    take();
}

TEST_F(Runner, TopLevelEntryTellsPathsApart) {
    auto f = framework([](const std::string&) { return 10; }, 0);
    EXPECT_EQ(runner::frameworkMain("", f), -3);
    EXPECT_EQ(runner::frameworkMain("nothing.txt", f), -2);
    EXPECT_EQ(runner::frameworkMain("p.inst", f), 10);
    take();
    EXPECT_TRUE(runner::isDirectory("."));
    EXPECT_FALSE(runner::isDirectory("/no/such/dir"));
    EXPECT_FALSE(runner::isDirectory("/proc/self/status"));
}
