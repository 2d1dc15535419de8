// Outcome codes, their names and exit statuses, the two fatal exits, and the clocks.
#include "outcomes/outcome.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "outcomes/clocks.h"

namespace {

struct Ended {
    int status = -1;
    std::string out;
};

// Runs f in a child with its standard output in a pipe.
template <typename F>
Ended inChild(F f) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        f();
        std::_Exit(99);
    }
    close(fds[1]);
    Ended ended;
    char buf[512];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) ended.out.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    ended.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return ended;
}

double burn(double seconds) {
    double start = clocks::stepSeconds();
    volatile double sink = 0;
    while (clocks::stepSeconds() - start < seconds) sink = sink + 1;
    return sink;
}

}  // namespace

TEST(Outcome, NamesAndUndefinedCodes) {
    const std::pair<int, const char*> names[] = {
        {10, "TRUE"},   {20, "FALSE"},         {30, "TIMEOUT"},     {40, "UNDECIDED"},
        {100, "INSTANCE COUNT"}, {-1, "ERROR"}, {-2, "IO ERROR"},   {-3, "CMDLINE ERROR"},
        {-4, "PARSE ERROR"},     {-5, "CRASH"}, {-6, "MEMOUT"},     {0, "UNDEFINED EXIT CODE"},
        {250, "UNDEFINED EXIT CODE"}, {-7, "UNDEFINED EXIT CODE"},
    };
    for (auto [code, name] : names) EXPECT_STREQ(outcome::name(code), name) << code;
}

TEST(Outcome, NegativeCodesLeaveAsStatusBytesAndReadBack) {
    for (int code = -6; code <= -1; ++code) {
        EXPECT_EQ(outcome::exitStatus(code), 256 + code);
        EXPECT_EQ(outcome::codeFromStatus(256 + code), code);
    }
    EXPECT_EQ(outcome::codeFromStatus(10), 10);
    EXPECT_EQ(outcome::codeFromStatus(249), 249);
}

TEST(Outcome, MemoutPrintsAndEndsWithMinusSix) {
    Ended ended = inChild([] { outcome::memout(); });
    EXPECT_EQ(ended.out, "MEMOUT");
    EXPECT_EQ(ended.status, 250);
}

TEST(Outcome, AbnormalExitPrintsItsLineAndEndsWithMinusOne) {
    Ended ended = inChild([] { outcome::abnormalExit("Problem in DddmpReadInt", 116, "Log"); });
    EXPECT_EQ(ended.out, "[Abnormal exit due to error \"Problem in DddmpReadInt\" at line 116, file \"Log\"]\n");
    EXPECT_EQ(ended.status, 255);
}

TEST(Outcome, AFailedAllocationTakesTheMemoutPath) {
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "the address sanitizer's allocator ends the process itself";
#endif
    Ended ended = inChild([] {
        outcome::installNewHandler();
        rlimit limit{256u << 20, 256u << 20};
        setrlimit(RLIMIT_AS, &limit);
        volatile char* p = new char[1u << 30];
        p[0] = 1;
    });
    EXPECT_EQ(ended.out, "MEMOUT");
    EXPECT_EQ(ended.status, 250);
}

TEST(Clocks, StepClockCountsWaitedForChildrenAndCheckClockDoesNot) {
    double stepBefore = clocks::stepSeconds();
    double checkBefore = clocks::checkMicros();
    pid_t pid = fork();
    if (pid == 0) {
        burn(0.3);
        std::_Exit(0);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    double child = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
    double stepDelta = clocks::stepSeconds() - stepBefore;
    double checkDelta = clocks::checkSecondsSince(checkBefore);
    EXPECT_GE(stepDelta + 1e-6, child);
    EXPECT_LT(checkDelta, child);
}
