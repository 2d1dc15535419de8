// The pool of children: while an early instance is slow the later ones run, and their
// output, held in memory up to a bound and then in a temporary file, comes out whole and
// in the order the instances were started.
#include "framework/pool.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "outcomes/steps.h"
#include "tests/support/run.h"

namespace {

InstanceFramework framework() {
    InstanceFramework f;
    f.batchMode = 1;
    // Instance "iN" prints N thousand lines naming itself; i0 takes its time first.
    f.processInstance = [](const std::string& path) {
        int n = std::stoi(path.substr(1));
        if (n == 0) usleep(300000);
        for (int line = 0; line < 1000 * (n % 4 + 1); ++line) std::printf("<%s %d>", path.c_str(), line);
        std::fflush(stdout);
        return 10;
    };
    f.isSuccess = [](int code) { return code == 10; };
    f.outcomeName = [](char* buffer, int code) { std::snprintf(buffer, kOutcomeNameSize, "%d", code); };
    return f;
}

std::string expectedOf(int n) {
    std::string text;
    for (int line = 0; line < 1000 * (n % 4 + 1); ++line) text += "<i" + std::to_string(n) + " " + std::to_string(line) + ">";
    return text;
}

}  // namespace

TEST(Pool, HeldOutputBeyondTheBoundComesBackInOrder) {
    steps::setVerbosity(-1);  // the instances' own text only
    InstanceFramework f = framework();
    std::vector<int> ended;
    pool::Setup setup;
    setup.jobs = 3;
    setup.collect = true;
    setup.heldBound = 4096;  // far less than the instances print while i0 waits
    setup.ended = [&](const pool::Ended& e) { ended.push_back(std::stoi(e.path.substr(1))); };
    testing::internal::CaptureStdout();
    pool::start(setup);
    for (int n = 0; n < 12; ++n) pool::submit("i" + std::to_string(n), f, 0, nullptr, 1, 0, nullptr);
    pool::finish();
    std::string out = testing::internal::GetCapturedStdout();
    std::string expected;
    for (int n = 0; n < 12; ++n) expected += expectedOf(n);
    EXPECT_EQ(out.size(), expected.size());
    EXPECT_TRUE(out == expected) << "the output is not the instances' output in their order";
    // The later instances ended while i0 was still running.
    ASSERT_EQ(ended.size(), 12u);
    EXPECT_NE(ended.front(), 0);
    EXPECT_EQ(pool::interruption(), 0);
}
